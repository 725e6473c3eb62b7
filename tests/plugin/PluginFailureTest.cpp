// A plug-in whose assembly fails: "Fatal error", every entry a no-op, the
// replacing calls writing silence, and close still clean; the next instance
// in the same process assembles normally.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/plugin/PluginRig.h"
#include "tools/CoreHost.h"

namespace {

using V = PlatVst;

TEST(PluginFailureTest, FailedAssemblyMakesEveryEntryANoOp) {
    PluginRig rig;
    setenv("VORLAN_FAIL_ASSEMBLY", "1", 1); // read by the first assembly of the process
    {
        CoreHost host(rig.path(), 44100, 64);
        unsetenv("VORLAN_FAIL_ASSEMBLY");
        ASSERT_TRUE(host.valid());
        V::Effect* e = host.getef();
        host.start();
        float in[64], o0[64], o1[64];
        double d0[64], d1[64];
        for (int k = 0; k < 64; ++k) in[k] = o0[k] = o1[k] = 0.5f, d0[k] = d1[k] = 0.5;
        float* ins[2] = {in, in};
        float* outs[2] = {o0, o1};
        double* dd[2] = {d0, d1};
        e->processReplacing(e, ins, outs, 64);
        e->processDoubleReplacing(e, dd, dd, 64);
        for (int k = 0; k < 64; ++k) {
            ASSERT_EQ(o0[k], 0.0f);
            ASSERT_EQ(o1[k], 0.0f);
            ASSERT_EQ(d0[k], 0.0);
        }
        e->process(e, ins, outs, 64); // adds nothing
        EXPECT_EQ(o0[5], 0.0f);
        e->setParameter(e, 1, 0.7f);
        EXPECT_EQ(e->getParameter(e, 1), 0.0f);
        void* chunk = nullptr;
        EXPECT_EQ(host.dispt(V::opGetChunk, 0, 0, &chunk), 0);
        char name[16];
        std::memset(name, 'x', sizeof name);
        host.dispt(V::opGetParamName, 0, 0, name);
        EXPECT_STREQ(name, "");
        EXPECT_EQ(host.dispt(V::opGetTailSize), 0);
        // No editor and no private calls either.
        V::Rect* rect = nullptr;
        EXPECT_EQ(host.dispt(V::opEditGetRect, 0, 0, &rect), 0);
        EXPECT_EQ(host.dispt(V::opEditOpen, 0, 0, reinterpret_cast<void*>(1)), 0);
        EXPECT_EQ(host.dispt(V::opVendorSpecific, 0x56726c50, 0, nullptr), 0);
    }
    CoreHost next(rig.path(), 44100, 64);
    ASSERT_TRUE(next.valid());
    next.start();
    void* chunk = nullptr;
    EXPECT_GT(next.dispt(V::opGetChunk, 0, 0, &chunk), 0);
}

} // namespace
