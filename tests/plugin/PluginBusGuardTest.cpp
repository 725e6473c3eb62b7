// ctest-labels: threads
// The private bus call's guard, through the built plug-in: a call whose own
// work runs out of memory is refused and logged, nothing is written, and the
// instance goes on answering. The plug-in's texts grow through realloc, which
// this process replaces so that the calling thread's next reallocations fail
// on request; every other call goes to the one it replaces.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/CoreBnid.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {
thread_local int failing = 0; // reallocations still to fail on this thread

using REALLOC = void* (*)(void*, std::size_t);
REALLOC next = nullptr; // the realloc this one replaces, found once

// These two are left out of the sanitizers' instrumentation: the thread
// checker reallocates while it starts a thread, before it follows any code.

__attribute__((no_sanitize("thread", "address", "undefined"))) REALLOC following() {
    REALLOC found = __atomic_load_n(&next, __ATOMIC_ACQUIRE);
    if (found == nullptr) {
        found = reinterpret_cast<REALLOC>(dlsym(RTLD_NEXT, "realloc"));
        __atomic_store_n(&next, found, __ATOMIC_RELEASE);
    }
    return found;
}
} // namespace

extern "C" __attribute__((no_sanitize("thread", "address", "undefined"))) void*
realloc(void* block, std::size_t size) {
    if (failing > 0) {
        --failing;
        return nullptr;
    }
    return following()(block, size);
}

TEST(PluginBusGuard, ACallThatRunsOutOfMemoryIsRefusedAndLogged) {
    ASSERT_NE(following(), nullptr);
    PluginRig rig;
    ASSERT_TRUE(rig.settings({kDiagnosed, {"DL", "3"}})); // the refusal's line is a debug line
    std::string const log = rig.folder() + CoreDemo::sCdatapath + "Vorlan3olvio.log";
    CorePeer peer(rig.path());
    ASSERT_TRUE(CorePeer::until([&] { return peer.titled("  ProgMode"); }, 60.0)) << peer.dump();
    std::string const before = peer.bus(CoreBnid::iCdescription, 's').text;
    // The text the call makes of the record is its first growth: its ten
    // attempts fail, and the report of the failure is made again.
    CorePrvt::BUSCALL write;
    write.kind = 's';
    write.write = true;
    std::snprintf(write.text, sizeof write.text, "Guarded");
    CorePrvt::CALL call;
    call.kind = CorePrvt::iCbus;
    call.id = CoreBnid::iCdescription;
    call.data = &write;
    call.size = sizeof write;
    failing = 10;
    std::intptr_t const answer = peer.call(call);
    failing = 0;
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(std::string(peer.bus(CoreBnid::iCdescription, 's').text), before);
    EXPECT_NE(readBytes(log).find("private property refused (bus call failed): 64"),
              std::string::npos);
    EXPECT_NE(peer.bus(CoreBnid::iCdescription, 's').kind, 0); // and answers again
}
