// ctest-labels: threads
// A new instance's first moments: the parameters a host reads before the
// boot ends are what the boot program sets (a large bank's too, read without
// its sort), and writing them back changes nothing until a program is picked
// or the user moves one; a close stops the boot's sort of a long bank;
// offline a process call waits for the boot (not before open, not past a
// failed boot or a close), at other levels the input passes; nothing logs a
// wait that ran out.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "plugin/CorePrvt.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tests/support/Signals.h"
#include "tools/CoreDdoc.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"
#include "tools/CorePeer.h"

namespace {

using V = PlatVst;
using CH = CoreHost::CHANNELS;

double call(CoreHost& h, std::int32_t kind, int control = 0) { // iCboot; iCbus: a control's value
    CorePrvt::BUSCALL record{'d', false, control};
    CorePrvt::CALL c{kind, 156, 0, 0, &record, sizeof record};
    double const r = double(h.dispt(V::opVendorSpecific, CorePrvt::iCtag, 0, &c));
    return kind == CorePrvt::iCbus ? record.number : r;
}

double worst(CH const& a, CH const& b, double scale = 1.0) {
    double d = 0.0;
    for (int c = 0; c < 2; ++c)
        for (std::size_t k = 0; k < a[c].size(); ++k)
            d = std::fmax(d, std::fabs(a[c][k] - scale * b[c][k]));
    return d;
}

std::string file(PluginRig const& r, std::string const& name) {
    return r.folder() + CoreDemo::sCdatapath + name;
}

// A demo program stored with its gain out of 0 dB replaced by with.
void store(PluginRig const& r, char const* program, std::string const& with) {
    std::string const path = file(r, std::string(CoreDemo::sCprograms) + program);
    std::string text = readBytes(path);
    writeBytes(path, text.replace(text.find("<GAINOUT>0.0</GAINOUT>"), 22, with));
}

// Opens, reads the ten parameters into read, and with writes sets them back
// (gain out to gainout when not negative): 0 right after restoring the chunk
// it got, 1 after the boot report, 2 while the boot runs (no chunk, then the
// report); renders from the first sample. The texts agree with the values.
CH play(PluginRig const& rig, int moment, bool writes, float* read, float gainout = -1.0f) {
    CoreHost h(rig.path(), CoreDemo::iCrate, 512);
    h.start();
    V::Effect* e = h.getef();
    // A restored chunk may still be loading on the control thread, the
    // engine's texts in between: they agree once it has.
    auto agree = [&] {
        auto worst = [&] {
            double most = 0.0;
            for (int i = 0; i < 10; ++i) {
                char text[64] = {};
                h.dispt(V::opGetParamDisplay, i, 0, text);
                float const v = e->getParameter(e, i);
                double const shown = i >= 8 ? 20.0 * std::log10(2.0 * v) : v;
                most = std::max(most, std::fabs(std::strtod(text, nullptr) - shown));
            }
            return most;
        };
        EXPECT_TRUE(CorePeer::until([&] { return worst() < 2e-3; }, 10.0)) << worst();
    };
    agree();
    for (int i = 0; i < 10; ++i) read[i] = e->getParameter(e, i);
    if (moment < 2) {
        void* chunk = nullptr;
        std::intptr_t const n = h.dispt(V::opGetChunk, 0, 0, &chunk);
        std::string const saved(static_cast<char*>(chunk), std::size_t(n > 0 ? n : 0));
        h.dispt(V::opSetChunk, 0, std::intptr_t(saved.size()), const_cast<char*>(saved.data()));
    }
    EXPECT_TRUE(moment != 1 || h.wtupd(0, 60.0));
    for (int i = 0; writes && i < 10; ++i) e->setParameter(e, i, read[i]);
    if (gainout >= 0.0f) e->setParameter(e, 9, gainout);
    EXPECT_TRUE(moment != 2 || h.wtupd(0, 60.0));
    CH y;
    h.rendr({randomSignal(12000, 5), randomSignal(12000, 6)}, y, true);
    agree();
    EXPECT_FLOAT_EQ(float(call(h, CorePrvt::iCbus, 0)), read[0]); // MIX1 plays what was read
    EXPECT_EQ(h.automations(), 0);                                // nothing needed correcting
    return y;
}

TEST(PluginBootTest, AHostWritingBackWhatItReadChangesNothing) {
    PluginRig demo, own; // own: the boot program stores gain out -6 dB and MIX1
    ASSERT_TRUE(demo.settings({kDiagnosed}) && own.settings({kDiagnosed}));
    store(own, "ROOM.XML", "<GAINOUT>-6</GAINOUT><MIX1>0.4</MIX1>");
    struct Row {
        PluginRig const* rig;
        float gainout, mix1; // what the first read answers
    } const rows[] = {{&demo, 0.5f, 0.0f}, {&own, float(0.5 * std::pow(10.0, -0.3)), 0.7f}};
    for (Row const& row : rows) {
        float a[10], b[10];
        CH plain;
        for (int m = 0; m < 3; ++m) {
            plain = play(*row.rig, m, false, a);
            CH const back = play(*row.rig, m, true, b);
            EXPECT_FLOAT_EQ(a[9], row.gainout);
            EXPECT_FLOAT_EQ(a[0], row.mix1);
            EXPECT_GT(worst(plain, CH(2, std::vector<double>(12000))), 0.05); // it plays
            EXPECT_LT(worst(back, plain), 1e-6) << m;
        }
        // Another value written while the boot runs plays once it ends.
        EXPECT_LT(worst(play(*row.rig, 2, false, b, 0.25f), plain, 0.25 / row.gainout), 1e-6);
    }
    // A restored chunk of another gain: the write-back of the answer changes
    // nothing, and the host hears the value that plays.
    CoreHost a(demo.path(), CoreDemo::iCrate, 512), b(own.path(), CoreDemo::iCrate, 512);
    a.start();
    b.start();
    ASSERT_TRUE(a.wtupd(0, 60.0));
    void* chunk = nullptr;
    std::intptr_t const size = a.dispt(V::opGetChunk, 0, 0, &chunk);
    V::Effect* e = b.getef();
    float const told = e->getParameter(e, 9);
    b.dispt(V::opSetChunk, 0, size, chunk);
    e->setParameter(e, 9, told);
    CH y;
    // Bounded by time, not calls: a slow build may still be booting b.
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (e->getParameter(e, 9) != 0.5f && std::chrono::steady_clock::now() < until)
        b.rendr(CH(2, std::vector<double>(512)), y, true);
    EXPECT_EQ(b.lastAutomated(), 9);
    EXPECT_EQ(b.lastValue(), 0.5f);
    EXPECT_EQ(call(b, CorePrvt::iCbus, 9), 0.5);
}

TEST(PluginBootTest, WhatTheUserOrHostChoseAfterTheBootIsKept) {
    PluginRig rig; // the saturator stores gain out -6 dB, the booted room answers 0 dB
    ASSERT_TRUE(rig.settings({kDiagnosed}));
    store(rig, "SATURATOR.XML", "<GAINOUT>-6</GAINOUT>");
    enum How { kDisplay, kMidi, kBus88, kChunk, kUserMove }; // a chunk saved in the bus 88 row
    std::string chunk;
    // After the boot how picks the saturator or moves gain out; with writes the host then
    // writes 0 dB on gain out (for a chunk all ten values it read), no process call between.
    auto run = [&](How how, bool writes) {
        CorePeer peer(rig.path(), CoreDemo::iCrate, 512);
        CoreHost& h = peer.host();
        EXPECT_TRUE(h.wtupd(0, 60.0));
        V::Effect* e = h.getef();
        float read[10];
        for (int i = 0; i < 10; ++i) read[i] = e->getParameter(e, i);
        EXPECT_FLOAT_EQ(read[9], 0.5f);
        int const seen = h.updts();
        // The user picks it on the display or moves gain out as the editor's gadget does.
        if (how == kDisplay) peer.post(4, CoreDemo::iCsaturator);
        if (how == kMidi) h.slot_(CoreDemo::iCsaturator);
        if (how == kBus88) { // and the host saves its chunk
            CorePeer::bus(h, 88, 'i', 0, 0, true, CoreDemo::iCsaturator);
            void* data = nullptr;
            std::intptr_t const size = h.dispt(V::opGetChunk, 0, 0, &data);
            chunk.assign(static_cast<char*>(data), std::size_t(size));
        }
        if (how == kChunk) h.dispt(V::opSetChunk, 0, std::intptr_t(chunk.size()), chunk.data());
        if (how == kUserMove) CorePeer::bus(h, 156, 'd', 9, 0, true, 0.25);
        // A load the display or MIDI asked for ends (its parameters may reach the host
        // before its kernels play), a pass reports the user's move.
        EXPECT_TRUE(how == kBus88 || how == kChunk || how == kUserMove || h.wtupd(seen, 60.0));
        EXPECT_TRUE(how == kBus88 || how == kChunk ||
                    CorePeer::until([&] { return e->getParameter(e, 9) < 0.26f; }, 60.0));
        for (int i = 0; writes && i < 10; ++i)
            if (how == kChunk || i == 9) e->setParameter(e, i, how == kChunk ? read[i] : 0.5f);
        // The control thread's next pass takes a write or tells the host what plays.
        EXPECT_TRUE(CorePeer::until(
            [&] { return e->getParameter(e, 9) == float(call(h, CorePrvt::iCbus, 9)); }, 10.0));
        CH y;
        h.rendr({randomSignal(12000, 5), randomSignal(12000, 6)}, y, true);
        return std::pair{y, e->getParameter(e, 9)};
    };
    for (How how : {kDisplay, kMidi, kBus88, kChunk, kUserMove}) {
        auto const [plain, moved] = run(how, false);
        auto const [written, last] = run(how, true);
        EXPECT_LT(moved, 0.26f) << how;                       // -6 dB plays without the write
        EXPECT_EQ(last, how != kChunk ? 0.5f : moved) << how; // a restored chunk is no choice
        EXPECT_LT(worst(written, plain, how != kChunk ? 0.5 / moved : 1.0), 1e-6) << how;
    }
}

// Once the host has seen the state, a write of the value it was told plays: gain out written at
// 0 dB before a process call is what the label, the chunk and the sound say, also in a new
// instance restoring that chunk.
TEST(PluginBootTest, AWriteOfTheToldValuePlaysOnceTheHostHasSeenTheState) {
    PluginRig rig;
    ASSERT_TRUE(rig.settings({kDiagnosed}));
    auto text = [](CoreHost& h) {
        void* data = nullptr;
        std::intptr_t const n = h.dispt(V::opGetChunk, 0, 0, &data);
        return n > 0 ? std::string(static_cast<char*>(data), std::size_t(n - 1)) : "";
    };
    auto restore = [](CoreHost& h, std::string const& chunk) {
        h.dispt(V::opSetChunk, 0, std::intptr_t(chunk.size() + 1), const_cast<char*>(chunk.data()));
    };
    auto gainout = [](std::string const& chunk) { // dB
        std::size_t const at = chunk.find("<GAINOUT>");
        return at == std::string::npos ? NAN : std::strtod(chunk.c_str() + at + 9, nullptr);
    };
    CoreHost plain(rig.path(), CoreDemo::iCrate, 512);
    plain.start();
    ASSERT_TRUE(plain.wtupd(0, 60.0));
    CH const truth = playedNoise(plain, 9);
    restore(plain, "NOCHUNK");
    std::string const room = text(plain);
    ASSERT_EQ(gainout(room), 0.0);
    auto with = [&](std::string const& db) {
        std::size_t const at = room.find("<GAINOUT>") + 9;
        return std::string(room).replace(at, room.find("</GAINOUT>") - at, db);
    };
    // The host's own control restores C4 (gain out -1.9 dB, '4') and writes C4's values ('x');
    // a preset import reads the holding instance's chunk ('r') after each restore, C6 (-6 dB,
    // '6') among them. First NOCHUNK is restored ('n') and the values read written back ('w').
    char const* const rows[][2] = {{"the host's own control", "nw4x"},
                                   {"a preset import", "nwr6r"}};
    for (auto const& [name, steps] : rows) {
        SCOPED_TRACE(name);
        CoreHost h(rig.path(), CoreDemo::iCrate, 512);
        h.start();
        V::Effect* e = h.getef();
        float read[10];
        for (int i = 0; i < 10; ++i) read[i] = e->getParameter(e, i);
        for (char const s : std::string(steps)) {
            if (s == 'n') restore(h, "NOCHUNK");
            if (s == '4') restore(h, with("-1.9382002601611279")); // gain out 0.4
            if (s == '6') restore(h, with("-6"));
            if (s == 'r') text(h);
            for (int i = 0; (s == 'w' || s == 'x') && i < 10; ++i)
                e->setParameter(e, i, s == 'x' && i == 9 ? 0.4f : read[i]);
        }
        e->setParameter(e, 9, 0.5f);
        char label[64] = {};
        h.dispt(V::opGetParamDisplay, 9, 0, label);
        EXPECT_NEAR(std::strtod(label, nullptr), 0.0, 1e-6) << label;
        std::string const saved = text(h);
        EXPECT_NEAR(gainout(saved), 0.0, 1e-6);
        CoreHost next(rig.path(), CoreDemo::iCrate, 512);
        next.start();
        restore(next, saved);
        for (int i = 0; i < 10; ++i) next.getef()->setParameter(next.getef(), i, read[i]);
        EXPECT_LT(worst(playedNoise(h, 9), truth), 1e-6);
        EXPECT_LT(worst(playedNoise(next, 9), truth), 1e-6);
    }
}

TEST(PluginBootTest, ALargeBankIsForecastWithoutSortingIt) {
    // 10,001 entries of falling (down) or rising SEQUENCE: 10,000 are placed, so the marked
    // saturator at 10000 never boots; the marked room at 5000 does, over location 0.
    PluginRig down, up;
    ASSERT_TRUE(down.settings({kDiagnosed}) && up.settings({kDiagnosed}));
    store(down, "ROOM.XML", "<GAINOUT>-6</GAINOUT><MIX1>0.4</MIX1>");
    for (PluginRig const* r : {&down, &up}) {
        std::string body;
        for (int i = 0; i <= 10000; ++i) {
            int const at = r == &down ? 10000 - i : i;
            auto name = at == 10000 ? "SATURATOR" : at == 5000 ? "ROOM" : at ? "INIT" : "SWEEP";
            body += "<PROGRAM><SEQUENCE>" + std::to_string(at) + "</SEQUENCE><FILENAME>" + name +
                    ".XML</FILENAME>" +
                    (at == 10000 || at == 5000 || at == 10 ? "<LOAD>1</LOAD>" : "") + "</PROGRAM>";
        }
        writeBytes(r->folder() + CoreDemo::sCdatapath + CoreDemo::sCsetups + CoreDemo::sCsetup,
                   std::string(CoreDdoc::sCheader) + "<SETUP>" + body + "</SETUP>\n");
    }
    // Construction alone, as a host's scan: the quickest of three.
    std::chrono::duration<double> fastest[2] = {std::chrono::hours(1), std::chrono::hours(1)};
    for (int k = 0; k < 6; ++k) {
        auto const t0 = std::chrono::steady_clock::now();
        CoreHost h((k % 2 != 0 ? up : down).path(), CoreDemo::iCrate, 512);
        fastest[k % 2] = std::min<std::chrono::duration<double>>(
            fastest[k % 2], std::chrono::steady_clock::now() - t0);
    }
    EXPECT_LT(fastest[0], 3.0 * fastest[1]);
    CoreHost h(down.path(), CoreDemo::iCrate, 512);
    float forecast[10];
    for (int i = 0; i < 10; ++i) forecast[i] = h.getef()->getParameter(h.getef(), i);
    EXPECT_FLOAT_EQ(forecast[9], float(0.5 * std::pow(10.0, -0.3)));
    EXPECT_FLOAT_EQ(forecast[0], 0.7f);
    h.start();
    ASSERT_TRUE(h.wtupd(0, 120.0));
    for (int i = 0; i < 10; ++i)
        EXPECT_FLOAT_EQ(float(call(h, CorePrvt::iCbus, i)), forecast[i]) << i;
    EXPECT_EQ(h.automations(), 0); // nothing needed correcting
}

TEST(PluginBootTest, ACloseStopsTheSortOfALongBank) {
    PluginRig rig; // 100,000 entries of falling SEQUENCE: a sort of minutes
    ASSERT_TRUE(rig.settings({kDiagnosed, {"DL", "3"}}));
    std::string bank = CoreDdoc::sCheader + std::string("<SETUP>"),
                log = file(rig, "Vorlan3olvio.log");
    for (int i = 100000; i-- > 0;)
        bank += "<PROGRAM><SEQUENCE>" + std::to_string(i) +
                "</SEQUENCE><FILENAME>INIT.XML</FILENAME></PROGRAM>";
    writeBytes(file(rig, std::string(CoreDemo::sCsetups) + CoreDemo::sCsetup), bank + "</SETUP>");
    CoreHost h(rig.path(), CoreDemo::iCrate, 512);
    h.start();
    ASSERT_TRUE(CorePeer::until(
        [&] { return readBytes(log).find("ordering 100000 bank") != std::string::npos; }, 120.0));
    auto const closing = std::chrono::steady_clock::now();
    h.close();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(5));
    // The boot ended in its bank step, quietly: nothing placed, no program rate set.
    for (char const* later : {"caching file", "PROG RATE", "***ERROR***"})
        EXPECT_EQ(readBytes(log).find(later), std::string::npos) << later;
}

TEST(PluginBootTest, OfflineCallsWaitForTheBootOtherLevelsPassTheInput) {
    // stepwise: an installer's settings to merge, so one boot step a tick.
    PluginRig plain, stepwise, broken, stalled;
    for (PluginRig* r : {&plain, &stepwise, &broken, &stalled})
        ASSERT_TRUE(r->settings({kDiagnosed}));
    writeBytes(stepwise.folder() + "vorlan_installer.xml",
               readBytes(stepwise.folder() + "vorlan.xml"));
    std::string const init = readBytes(file(broken, "programs/INIT.XML"));
    writeBytes(file(broken, "programs/INIT.XML"), init.substr(0, init.size() / 2));
    CH const x{randomSignal(3 * CoreDemo::iCrate, 1), randomSignal(3 * CoreDemo::iCrate, 2)};
    CH const brief{randomSignal(8192, 3), randomSignal(8192, 4)}; // a few calls past the latency
    // Each call recorded in played, when given.
    auto render = [&](PluginRig const& r, int level, bool open, bool report, CH const& in,
                      Played* played = nullptr) {
        CoreHost h(r.path(), CoreDemo::iCrate, 512);
        h.setlv(level);
        if (open) h.start();
        EXPECT_TRUE(!report || h.wtupd(0, 60.0));
        CH y;
        played != nullptr ? played->rendr(h, in, y, true) : h.rendr(in, y, true);
        EXPECT_EQ(call(h, CorePrvt::iCboot), !open || level != 4 ? 0 : &r == &broken ? -1 : 1);
        return std::pair{y, h.getdl()};
    };
    for (PluginRig* r : {&plain, &stepwise}) // right after open as after the boot report
        EXPECT_LT(worst(render(*r, 4, true, false, x).first, render(*r, 4, true, true, x).first),
                  1e-6);
    render(broken, 4, true, false, brief);
    render(plain, 4, false, false, brief); // never opened: nothing to wait for
    for (int level : {0, 2}) { // silence for the latency, then the input, but where dropped
        Played played(plain, CoreDemo::iCrate);
        auto const [y, latency] = render(plain, level, true, false, brief, &played);
        EXPECT_TRUE(played.delayed(brief, y, latency, played.counted())) << level;
    }
    // A close ends a waiting call: its boot reads the init impulse from a
    // pipe that gets its writer only once the call has returned.
    std::string const wav = file(stalled, "vectors/INIT.WAV"), bytes = readBytes(wav);
    ASSERT_TRUE(std::remove(wav.c_str()) == 0 && mkfifo(wav.c_str(), 0600) == 0);
    CoreHost h(stalled.path(), CoreDemo::iCrate, 512);
    h.start();
    std::atomic<bool> returned{false}, closed{false};
    std::thread waiting([&] {
        CH y;
        h.rendr(CH(2, std::vector<double>(512)), y, true); // one call: the effect goes meanwhile
        returned.store(true);
        for (int fd = -1; fd < 0 && !closed.load();
             std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
            if ((fd = ::open(wav.c_str(), O_WRONLY | O_NONBLOCK)) < 0) continue;
            EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
            ::close(fd);
        }
    });
    while (h.lvqry() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(returned.load() || call(h, CorePrvt::iCboot) != 0); // it waits for the boot
    h.close();
    closed.store(true);
    waiting.join();
    for (PluginRig* r : {&plain, &stepwise, &broken, &stalled})
        EXPECT_EQ(readBytes(file(*r, "Vorlan3olvio.log")).find("waited"), std::string::npos);
}

} // namespace
