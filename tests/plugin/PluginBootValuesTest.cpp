// A host that reads a new instance's ten parameters and writes them back, as
// some hosts do right after opening: what it read is what the boot program
// sets, and the write-back changes nothing audible, whenever it comes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "plugin/CorePrvt.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tests/support/Signals.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"

namespace {

using V = PlatVst;
constexpr double kWait = 60.0; // s: boots under the sanitizers
constexpr int kFrames = 12000;

// When the host writes back what it read: right after restoring the chunk it
// got (a "NOCHUNK" that runs the boot), after the boot report, or while the
// boot still runs (no chunk; the host then waits for the report).
enum Moment { afterChunk, afterReport, whileBooting };

struct Params {
    float value[10];
    std::string text[10];
};

Params readAll(CoreHost& h) {
    Params p;
    V::Effect* e = h.getef();
    for (int i = 0; i < 10; ++i) {
        p.value[i] = e->getParameter(e, i);
        char text[64] = {};
        h.dispt(V::opGetParamDisplay, i, 0, text);
        p.text[i] = text;
    }
    return p;
}

// The display text of each parameter says its value: a gain in dB of twice
// the value, a mix control the value itself.
void agree(Params const& p, char const* when) {
    for (int i = 0; i < 10; ++i) {
        double const shown = std::strtod(p.text[i].c_str(), nullptr);
        double const want = i >= 8 ? 20.0 * std::log10(2.0 * p.value[i]) : p.value[i];
        EXPECT_NEAR(shown, want, 2e-3) << when << " parameter " << i << " " << p.text[i];
    }
}

double busControl(CoreHost& h, int control) {
    CorePrvt::BUSCALL record;
    record.kind = 'd';
    record.element = control;
    CorePrvt::CALL call;
    call.kind = CorePrvt::iCbus;
    call.id = 156;
    call.data = &record;
    call.size = sizeof record;
    EXPECT_EQ(h.dispt(V::opVendorSpecific, CorePrvt::iCtag, 0, &call), 1);
    return record.number;
}

struct Played {
    CoreHost::CHANNELS out;
    Params before; // read before the boot ended
    int automations = 0;
};

// Opens an instance, reads the parameters, and with writes sets them back
// (and gain out to gainout when that is not negative) at the moment, then
// renders from the first sample with no lead-in.
Played play(PluginRig const& rig, Moment moment, bool writes, float gainout = -1.0f) {
    Played r;
    CoreHost host(rig.path(), CoreDemo::iCrate, 512);
    host.start();
    V::Effect* e = host.getef();
    r.before = readAll(host);
    agree(r.before, "before the boot");
    auto write = [&] {
        for (int i = 0; writes && i < 10; ++i) e->setParameter(e, i, r.before.value[i]);
        if (gainout >= 0.0f) e->setParameter(e, 9, gainout);
    };
    if (moment != whileBooting) {
        void* chunk = nullptr;
        std::intptr_t const n = host.dispt(V::opGetChunk, 0, 0, &chunk);
        std::string const saved(static_cast<char*>(chunk), std::size_t(n > 0 ? n : 0));
        host.dispt(V::opSetChunk, 0, std::intptr_t(saved.size()), const_cast<char*>(saved.data()));
    }
    if (moment != afterReport) write();
    if (moment != afterChunk) {
        EXPECT_TRUE(host.wtupd(0, kWait)) << "boot";
    }
    if (moment == afterReport) write();
    CoreHost::CHANNELS in(2);
    in[0] = randomSignal(kFrames, 5);
    in[1] = randomSignal(kFrames, 6);
    host.rendr(in, r.out, true);
    Params const after = readAll(host);
    agree(after, "after the boot");
    // Nothing was corrected, and a mix control plays what was answered.
    for (int i = 0; gainout < 0.0f && i < 10; ++i)
        EXPECT_EQ(after.value[i], r.before.value[i]) << i;
    EXPECT_FLOAT_EQ(float(busControl(host, 0)), r.before.value[0]);
    r.automations = host.automations();
    return r;
}

double worst(CoreHost::CHANNELS const& a, CoreHost::CHANNELS const& b, double scale = 1.0) {
    double d = 0.0;
    for (int c = 0; c < 2; ++c)
        for (std::size_t k = 0; k < a[c].size(); ++k)
            d = std::fmax(d, std::fabs(a[c][k] - scale * b[c][k]));
    return d;
}

double energy(CoreHost::CHANNELS const& a) {
    double s = 0.0;
    for (auto const& c : a)
        for (double v : c) s += v * v;
    return s;
}

TEST(PluginBootValuesTest, AHostWritingBackWhatItReadChangesNothing) {
    PluginRig rig;
    ASSERT_TRUE(rig.settings({kDiagnosed}));
    // The second installation's boot program (the room) stores gain out at
    // -6 dB and a MIX1 value.
    PluginRig quiet;
    ASSERT_TRUE(quiet.settings({kDiagnosed}));
    std::string const room = quiet.folder() + CoreDemo::sCdatapath + CoreDemo::sCprograms +
                             CoreDemo::sCprogramfiles[CoreDemo::iCroom];
    std::string text = readBytes(room);
    std::size_t const at = text.find("<GAINOUT>0.0</GAINOUT>");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 22, "<GAINOUT>-6</GAINOUT><MIX1>0.4</MIX1>");
    writeBytes(room, text);

    struct Row {
        PluginRig const* rig;
        float gainout, mix1; // what the first read must answer
    } const rows[] = {{&rig, 0.5f, 0.0f}, {&quiet, float(0.5 * std::pow(10.0, -6.0 / 20.0)), 0.7f}};
    for (Row const& row : rows) {
        for (Moment m : {afterChunk, afterReport, whileBooting}) {
            Played const plain = play(*row.rig, m, false);
            Played const back = play(*row.rig, m, true);
            EXPECT_FLOAT_EQ(plain.before.value[9], row.gainout);
            EXPECT_FLOAT_EQ(plain.before.value[0], row.mix1);
            EXPECT_GT(energy(plain.out), 1.0) << m;
            EXPECT_LT(worst(back.out, plain.out), 1e-6) << "moment " << m << " " << row.gainout;
            EXPECT_EQ(back.automations, 0) << m; // the answers were right
        }
        // Another value written while the boot runs plays once it ends.
        Played const plain = play(*row.rig, whileBooting, false);
        Played const louder = play(*row.rig, whileBooting, true, 0.25f);
        EXPECT_LT(worst(louder.out, plain.out, 0.25 / row.gainout), 1e-6) << row.gainout;
    }
}

// Where the answer differs from what plays (a restored chunk of another
// gain), the write-back still changes nothing and the host learns the value.
TEST(PluginBootValuesTest, ARestoredChunkCorrectsTheAnswerThroughAutomation) {
    PluginRig rig;
    ASSERT_TRUE(rig.settings({kDiagnosed}));
    std::string saved;
    {
        CoreHost a(rig.path(), CoreDemo::iCrate, 512);
        a.start();
        ASSERT_TRUE(a.wtupd(0, kWait));
        V::Effect* e = a.getef();
        e->setParameter(e, 9, 0.125f); // gain out -12 dB, carried by the chunk
        CoreHost::CHANNELS in(2, std::vector<double>(2048, 0.0)), out;
        a.rendr(in, out, true);
        for (int k = 0; k < 500 && std::fabs(busControl(a, 9) - 0.125) > 1e-6; ++k)
            a.rendr(in, out, true);
        void* chunk = nullptr;
        std::intptr_t const n = a.dispt(V::opGetChunk, 0, 0, &chunk);
        ASSERT_GT(n, 0);
        saved.assign(static_cast<char*>(chunk), std::size_t(n));
    }
    CoreHost b(rig.path(), CoreDemo::iCrate, 512);
    b.start();
    V::Effect* e = b.getef();
    float const answered = e->getParameter(e, 9);
    EXPECT_FLOAT_EQ(answered, 0.5f);
    b.dispt(V::opSetChunk, 0, std::intptr_t(saved.size()), saved.data());
    e->setParameter(e, 9, answered); // the host's snapshot, written back
    ASSERT_TRUE(b.wtupd(0, kWait));
    CoreHost::CHANNELS in(2, std::vector<double>(2048, 0.0)), out;
    // The pass that sees the boot's end may tell it before the write-back
    // came; the next one tells it again.
    for (int k = 0; k < 500 && e->getParameter(e, 9) != 0.125f; ++k) b.rendr(in, out, true);
    EXPECT_NEAR(busControl(b, 9), 0.125, 1e-6);
    ASSERT_GE(b.automations(), 1);
    EXPECT_EQ(b.lastAutomated(), 9);
    EXPECT_FLOAT_EQ(b.lastValue(), 0.125f);
    EXPECT_FLOAT_EQ(e->getParameter(e, 9), 0.125f);
}

} // namespace
