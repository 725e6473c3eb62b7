// ctest-labels: threads
// ctest-split: cases
// The plug-in's shared object through our own host: the effect record, the
// exported symbols, bounded texts, parameters, hostile call orders and a
// seeded random call sequence (the host's rate and block-size calls against
// the control thread), and what it plays: the demo room and saturator
// against their naive convolution and Volterra sum at the reported delay.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <limits>
#include <mutex>
#include <pthread.h>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "plugin/CoreMstr.h"
#include "runtime/CoreButl.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/ConvolutionTruth.h"
#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"
#include "tools/CorePeer.h"

namespace {

using V = PlatVst;
constexpr double kBootWait = 1.0;  // s; the boot is reported through the display update
constexpr double kLoadWait = 60.0; // s; for the tests that need the program

class PluginShellTest : public PluginRigTest {};

CoreHost::CHANNELS noise(long n, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> d(-0.5, 0.5);
    CoreHost::CHANNELS s(2, std::vector<double>(std::size_t(n)));
    for (auto& c : s)
        for (auto& v : c) v = static_cast<float>(d(g)); // exact in both precisions
    return s;
}

TEST_F(PluginShellTest, RecordExportsAndBoundedTexts) {
    void* lib = dlopen(rig->path().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    EXPECT_NE(dlsym(lib, "VSTPluginMain"), nullptr);
    EXPECT_NE(dlsym(lib, "main"), nullptr);
    for (char const* hidden :
         {"createEffectInstance", "_ZN8CoreVrlgC1EPFlPN7PlatVst6EffectEiilPvfE",
          "_ZN8CoreLog_6loggerE"})
        EXPECT_EQ(dlsym(lib, hidden), nullptr) << hidden;
    // A host answering version 0, or no callback at all, gets no effect.
    auto entry = reinterpret_cast<V::Entry>(dlsym(lib, "VSTPluginMain"));
    EXPECT_EQ(entry(nullptr), nullptr);
    EXPECT_EQ(entry([](V::Effect*, std::int32_t, std::int32_t, std::intptr_t, void*,
                       float) -> std::intptr_t { return 0; }),
              nullptr);
    dlclose(lib);

    CoreHost host(rig->path(), 48000, 256);
    ASSERT_TRUE(host.valid()) << host.error();
    V::Effect* e = host.getef();
    EXPECT_EQ(e->numInputs, 2);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->numParams, 10);
    EXPECT_EQ(e->numPrograms, 1);
    EXPECT_NE(e->flags & V::flagHasEditor, 0);
    EXPECT_NE(e->flags & V::flagProgramChunks, 0);
    EXPECT_NE(e->flags & V::flagCanReplacing, 0);
    EXPECT_NE(e->flags & V::flagCanDoubleReplacing, 0);
    EXPECT_EQ(e->uniqueID, ('o' << 24) | ('0' << 16) | ('1' << 8) | '0'); // no MAGIC: the default
    EXPECT_GT(host.getdl(), 0); // forced offset of the demo settings
    EXPECT_EQ(host.dispt(V::opGetVstVersion), 2400);
    EXPECT_EQ(host.dispt(V::opGetPlugCategory), V::categoryEffect);
    EXPECT_EQ(host.dispt(V::opCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent")), 1);
    EXPECT_EQ(host.dispt(V::opCanDo, 0, 0, const_cast<char*>("sendVstEvents")), 0);
    EXPECT_EQ(host.dispt(V::opEditOpen), 0);

    struct Row {
        std::int32_t op, index;
        std::size_t max;
    } const rows[] = {
        {V::opGetEffectName, 0, V::effectNameMax}, {V::opGetVendorString, 0, V::vendorMax},
        {V::opGetProductString, 0, V::productMax}, {V::opGetProgramName, 0, V::programNameMax},
        {V::opGetParamName, 3, V::paramTextMax},   {V::opGetParamDisplay, 9, V::paramTextMax},
        {V::opGetParamLabel, 0, V::paramTextMax},  {V::opGetParamName, 10, V::paramTextMax},
        {V::opGetParamName, -1, V::paramTextMax}};
    std::string const longName(100, 'x');
    host.dispt(V::opSetProgramName, 0, 0, const_cast<char*>(longName.c_str()));
    for (Row const& r : rows) {
        char buf[128];
        std::memset(buf, 0x7F, sizeof buf);
        host.dispt(r.op, r.index, 0, buf);
        EXPECT_LE(std::strlen(buf), r.max) << r.op;
        for (std::size_t k = r.max + 1; k < sizeof buf; ++k) ASSERT_EQ(buf[k], 0x7F) << r.op;
    }
}

TEST_F(PluginShellTest, InstancesShareTheProcessPoolAndCache) {
    {
        CoreMstr a(44100, CoreAnsx(""), CoreAnsx("0"), nullptr);
        CoreMstr b(44100, CoreAnsx(""), CoreAnsx("0"), nullptr);
        ASSERT_FALSE(a.faild() || b.faild());
        EXPECT_EQ(CoreMstr::users(), 2);
        EXPECT_NE(CoreMstr::sharedCache(), nullptr);
    }
    EXPECT_EQ(CoreMstr::users(), 0);
    EXPECT_EQ(CoreMstr::sharedPool(), nullptr);

    // Two instances of the shared object play at once, each its own way.
    Played p1(*rig, 44100), p2(*rig, 44100);
    CoreHost h1(rig->path(), 44100, 128), h2(rig->path(), 44100, 333);
    h1.setlv(V::levelRealtime); // in real time the input passes while the boot runs
    h2.setlv(V::levelRealtime);
    h1.start();
    h2.start();
    CoreHost::CHANNELS const x1 = noise(5000, 1), x2 = noise(5000, 2);
    CoreHost::CHANNELS y1, y2;
    std::thread t([&] { p2.rendr(h2, x2, y2, true); });
    p1.rendr(h1, x1, y1, false);
    t.join();
    long const l1 = h1.getdl(), l2 = h2.getdl();
    bool const standin = !h1.wtupd(0, 0.0);
    // Each closes on a thread of its own, so that its count is told apart from the other's.
    unsigned long closer = 0;
    std::thread([&] { closer = static_cast<unsigned long>(pthread_self()), h2.close(); }).join();
    h1.close();
    if (!standin) return;
    // The stand-in path: what each heard is its input after the latency.
    testing::AssertionResult heard = testing::AssertionFailure();
    for (auto const& n : p1.counts({static_cast<unsigned long>(pthread_self()), closer}))
        if (!heard && (heard = p1.delayed(x1, y1, l1, n[0]))) heard = p2.delayed(x2, y2, l2, n[1]);
    EXPECT_TRUE(heard);
}

TEST_F(PluginShellTest, PlaysTheInputAfterTheReportedLatencyInEveryCall) {
    CoreHost host(rig->path(), 44100, 512);
    host.setlv(V::levelRealtime); // in real time the input passes while the boot runs
    host.start();
    if (host.wtupd(0, kBootWait)) GTEST_SKIP() << "booted: the program plays, see the truth tests";
    long const latency = host.getdl();
    long const n = latency + 3000;
    CoreHost::CHANNELS const x = noise(n, 7);
    for (int mode = 0; mode < 3; ++mode) {
        Played played(*rig, 44100);
        CoreHost fresh(rig->path(), 44100, 512);
        fresh.setlv(V::levelRealtime);
        fresh.start();
        CoreHost::CHANNELS y;
        played.rendr(fresh, x, y, mode == 1, mode == 2);
        fresh.close(); // the plug-in's count of dropped calls complete
        // Silence for the latency, then the input, over every call but those dropped.
        EXPECT_TRUE(played.delayed(x, y, latency, played.counted())) << mode;
    }
}

TEST_F(PluginShellTest, ParametersRoundTripWithoutEchoingAsAutomation) {
    CoreHost host(rig->path(), 44100, 512);
    host.start();
    V::Effect* e = host.getef();
    float const values[] = {0.0f, 0.25f, 1.0f, 0.5f, 0.125f, 0.75f, 0.0625f, 0.9f, 0.3f, 0.6f};
    for (int i = 0; i < 10; ++i) e->setParameter(e, i, values[i]);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(e->getParameter(e, i), values[i]) << i;
    e->setParameter(e, 2, std::numeric_limits<float>::quiet_NaN()); // ignored
    e->setParameter(e, 11, 0.5f);
    e->setParameter(e, -1, 0.5f);
    e->setParameter(e, 4, 7.0f); // clamped
    EXPECT_EQ(e->getParameter(e, 2), 1.0f);
    EXPECT_EQ(e->getParameter(e, 4), 1.0f);
    EXPECT_EQ(e->getParameter(e, 10), 0.0f);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // a few control passes
    EXPECT_EQ(host.automations(), 0); // the host's own values never come back
    EXPECT_EQ(host.dispt(V::opCanBeAutomated, 9), 1);
    EXPECT_EQ(host.dispt(V::opCanBeAutomated, 10), 0);
}

TEST_F(PluginShellTest, ProgramChangeLoadsBankTimesHundredPlusProgram) {
    CorePeer peer(rig->path());
    ASSERT_TRUE(CorePeer::until([&] { return peer.titled("  ProgMode"); }, kLoadWait))
        << peer.dump();
    // Bank select 0 and program change 3: the sweep loads (through the
    // display's batch), is reported to the host and named on the program page.
    int const seen = peer.host().updts();
    peer.host().slot_(CoreDemo::iCsweep);
    EXPECT_TRUE(peer.host().wtupd(seen, kLoadWait));
    EXPECT_TRUE(
        CorePeer::until([&] { return peer.large(1).rfind("Demo Sweep ", 0) == 0; }, kLoadWait))
        << peer.large(1);
}

// Host automation through 512-frame calls back to back: before call k the host writes
// 0.5 - 0.25 k / 86 (x1 to x0.5 over a second), then holds 0.25. Each value plays from the call it
// came with: gain in on that call's input, gain out on the output of that input, whatever the block
// grid; controller messages before each call (learnt by the sweep's MIX1) at their frames. Two runs
// give the same samples, and nothing comes back.
TEST_F(PluginShellTest, HostAutomationPlaysFromTheCallItCameWith) {
    using CH = CoreHost::CHANNELS;
    constexpr long kCall = 512, kCalls = 120, kSettle = 64;
    auto written = [](long k) { return k < 87 ? 0.5f - 0.25f * float(k) / 86.0f : 0.25f; };
    CH const x = noise(kCall * kCalls, 11);
    long delay = 0;
    using MIDIS = std::vector<CoreHost::MIDI>;
    auto cc = [](unsigned char c, unsigned char v, long f) {
        return CoreHost::MIDI{f, {0xB0, c, v}};
    };
    std::vector<int> mix(2); // the sweep's slot 1 and 2 values after a render
    // What program plays, with the host writing parameter (-1 none) and sending midi[k] before
    // call k (learnt by the sweep's MIX1 and MIX2), or midi[0] from two threads before each call
    // while the control pass drains in pauses; after extra silent calls and a suspend (-1:
    // neither), single precision unless dbl; loads: a program change among the messages loads.
    auto render = [&](int program, int parameter, std::vector<MIDIS> const& midi, CH const& in,
                      int extra = -1, PluginRig const* r = rig, bool dbl = true,
                      bool thread = false, bool loads = false, long size = 512) {
        CoreHost h(r->path(), CoreDemo::iCrate, int(size));
        h.start();
        EXPECT_TRUE(h.wtupd(0, kLoadWait));
        int seen = h.updts();
        if (program != CoreDemo::iCroom) {
            h.slot_(program);
            EXPECT_TRUE(h.wtupd(seen, kLoadWait));
            seen = h.updts();
            for (int c : {1, 2}) CorePeer::bus(h, 179, 'h', 176, c, true, c - 1);
        }
        V::Effect* e = h.getef();
        long const calls = long(in[0].size()) / size;
        CH y(2, std::vector<double>(in[0].size()));
        std::vector<float> f(std::size_t(4 * size)); // single precision: in, then out
        float *fi[2] = {&f[0], &f[size]}, *fo[2] = {&f[2 * size], &f[3 * size]};
        // A load's kernels settle over its first modulation updates, on the
        // block grid; a host exports after that, then W extra calls move it.
        for (int k = 0; extra >= 0 && k < kSettle + extra; ++k)
            e->processReplacing(e, fi, fo, int(size));
        if (extra >= 0) h.dispt(V::opMainsChanged, 0, 0), h.dispt(V::opMainsChanged, 0, 1);
        std::atomic<long> k{0};
        auto send = [&] {
            for (long sent = 0; thread && sent < calls; h.sendm(midi[0]), ++sent)
                while (k.load(std::memory_order_relaxed) < sent) std::this_thread::yield();
        };
        std::thread sender(send), second(send);
        for (; k < calls; k.fetch_add(1, std::memory_order_relaxed)) {
            if (parameter >= 0) e->setParameter(e, parameter, written(k));
            if (!thread && k < long(midi.size())) h.sendm(midi[std::size_t(k)]);
            double* ins[2] = {const_cast<double*>(in[0].data()) + k * size,
                              const_cast<double*>(in[1].data()) + k * size};
            double* outs[2] = {y[0].data() + k * size, y[1].data() + k * size};
            if (dbl) e->processDoubleReplacing(e, ins, outs, int(size));
            for (int c = 0; c < 2 && !dbl; ++c) std::copy(ins[c], ins[c] + size, fi[c]);
            if (!dbl) e->processReplacing(e, fi, fo, int(size));
            for (int c = 0; c < 2 && !dbl; ++c) std::copy(fo[c], fo[c] + size, outs[c]);
            if (thread && k % 4 == 3) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        sender.join();
        second.join();
        if (thread) e->processReplacing(e, fi, fo, int(size)); // hands in their last messages
        EXPECT_TRUE(program != CoreDemo::iCroom || h.automations() == 0);
        EXPECT_TRUE(!loads || h.wtupd(seen, kLoadWait)); // the program change loaded
        for (int slot : {0, 1}) {
            if (program != CoreDemo::iCroom) CorePeer::bus(h, 180, 'h', 0, 0, true, slot);
            mix[slot] = int(CorePeer::bus(h, 185, 'i').number);
        }
        delay = h.getdl();
        return y;
    };
    // How far a is from b, frame from on, b with gain out's writes applied when scaled: each
    // with the input it came with, the reported delay on.
    auto apart = [&](CH const& a, CH const& b, long from, bool scaled) {
        double most = 0.0;
        for (int c = 0; c < 2; ++c)
            for (long n = from; n < kCall * kCalls; ++n)
                most = std::max(
                    most, std::fabs(a[c][n] -
                                    (scaled ? 2.0 * written((n - delay) / kCall) : 1.0) * b[c][n]));
        return most;
    };
    CH const plain = render(CoreDemo::iCroom, -1, {}, x);
    CH scaled = x;
    for (auto& c : scaled)
        for (std::size_t n = 0; n < c.size(); ++n) c[n] *= 2.0 * written(long(n) / kCall);
    CH const truth[2] = {render(CoreDemo::iCroom, -1, {}, scaled), plain};
    for (int parameter : {8, 9}) {
        CH const y = render(CoreDemo::iCroom, parameter, {}, x);
        EXPECT_EQ(y, render(CoreDemo::iCroom, parameter, {}, x)) << parameter;
        EXPECT_LT(apart(y, truth[parameter - 8], delay, parameter == 9), 1e-6) << parameter;
    }
    // Gain out after 0 to 3 extra calls and a suspend (a block grid each), on
    // the room and on a copy with a dry path: the renders agree.
    PluginRig dry;
    std::string const file = dry.folder() + "data/programs/ROOM.XML", dried = readBytes(file);
    writeBytes(file, std::string(dried).insert(dried.find("<GAINOUT>"),
                                               "<GAINDRYFACTOR>-6</GAINDRYFACTOR>"
                                               "<GAINDRYSOURCE>ON</GAINDRYSOURCE>"));
    ASSERT_TRUE(dry.settings({kDiagnosed}));
    CH first[2][2]; // by rig and precision
    for (PluginRig const* r : {rig, &dry})
        for (int extra = 0; extra <= 3; ++extra) {
            CH const unwritten = render(CoreDemo::iCroom, -1, {}, x, extra, r);
            for (bool dbl : {true, false}) {
                CH const y = render(CoreDemo::iCroom, 9, {}, x, extra, r, dbl);
                CH& same = first[r == &dry][dbl];
                if (extra == 0) same = y;
                EXPECT_LT(apart(y, unwritten, delay, true), 1e-6) << (r == rig) << dbl << extra;
                EXPECT_LT(apart(y, same, 0, false), dbl ? 1e-9 : 2.5e-7) << dbl << extra;
            }
        }
    EXPECT_GT(apart(first[0][1], first[1][1], 0, false), 0.01); // the copy has a dry path
    std::vector<MIDIS> learnt(kCalls); // controller 1 before each call, at a frame of its own
    for (long k = 0; k < kCalls; ++k) learnt[std::size_t(k)] = {cc(1, k % 128, k * 37 % kCall)};
    CH const swept = render(CoreDemo::iCsweep, -1, learnt, x);
    EXPECT_EQ(swept, render(CoreDemo::iCsweep, -1, learnt, x));
    EXPECT_NE(swept, render(CoreDemo::iCsweep, -1, {}, x));

    // Floods of learnt controller messages before calls 8 on (an engine block's first), or from a
    // thread: each key's last value plays as a short reference's.
    CH const head = noise(kCall * 24, 11);
    auto flood = [&](std::vector<MIDIS> before, bool loads = false, bool thread = false) {
        before.insert(before.begin(), thread ? 0 : 8, MIDIS{});
        return render(CoreDemo::iCsweep, -1, before, head, -1, rig, true, thread, loads);
    };
    CH const reference = flood({{cc(1, 0, 0), cc(1, 127, 511)}});
    // Before one call n - 1 of 0 at frame 0 and one of 127 at 511, then one
    // of controller 2 (1100), or a program change among them that loads.
    for (long n : {1024, 2000, 5000, 1100, -2000}) {
        MIDIS burst(std::size_t(std::labs(n) - 1), cc(1, 0, 0));
        if (n < 0) burst[1000] = {0, {0xC0, CoreDemo::iCroom, 0}};
        burst.push_back(cc(1, 127, 511));
        if (n == 1100) burst.push_back(cc(2, 99, 511));
        EXPECT_TRUE(flood({burst}, n < 0) == reference || n < 0) << n;
        EXPECT_EQ(mix[1], n == 1100 ? 99 : 0) << n;
    }
    // 400 at frames 1 to 511 before each call of an engine block (1600 in
    // the engine's queue), all 0 but 127 at the last.
    std::vector<MIDIS> block(4);
    for (int i = 0; i < 1600; ++i)
        block[i / 400].push_back(cc(1, i < 1599 ? 0 : 127, 1 + i % 400 * 510 / 399));
    EXPECT_EQ(flood(block), flood({{cc(1, 0, 1)}, {}, {}, {cc(1, 127, 511)}}));
    // The last message sent plays whatever its frame (5 at 0 after 127 later in an earlier call of
    // the engine block, calls of 512 or 2048 frames), inline and with the worker one block behind.
    PluginRig worker;
    ASSERT_TRUE(worker.settings({kDiagnosed, {"THREADS", "1"}, {"DSPBUFFER", "4096"}}));
    long const orders[][3] = {
        {8, 300, kCall}, {9, 300, kCall}, {10, 300, kCall}, // call, frame, size
        {9, 1, kCall},   {9, 511, kCall}, {2, 2047, 4 * kCall}};
    for (PluginRig const* r : {rig, &worker})
        for (auto const& [call, frame, size] : orders) {
            std::vector<MIDIS> order(static_cast<std::size_t>(call));
            order.push_back({cc(1, 127, frame), cc(2, 99, frame)});
            order.push_back({cc(2, 7, 0), cc(1, 5, 0), cc(2, 3, 0)});
            render(CoreDemo::iCsweep, -1, order, head, -1, r, true, false, false, size);
            EXPECT_EQ(mix, std::vector<int>({5, 3})) << (r == rig) << " " << call << " " << frame;
        }
    MIDIS twice(2000, cc(1, 0, 0)); // 2000 for each call from each of two threads
    twice[1000] = cc(2, 99, 0), twice.back() = cc(1, 127, 0);
    flood({twice}, false, true);
    EXPECT_EQ(mix, std::vector<int>({127, 99}));
}

// Counts the process calls that have entered the plug-in (they ask the level) and answers
// answeredLevel; holds the first display update after shown is cleared until letGo. Its callback
// lockedIn (hostAutomate unless set) takes renderLock, as a host's whose render holds it across
// processEvents and process, and counts the callbacks blocked on it.
std::atomic<int> processEntered{0}, answeredLevel{V::levelUnknown}, shown{0}, blocked{0},
    lockedIn{V::hostAutomate};
std::atomic<bool> letGo{true};
std::mutex renderLock;
std::intptr_t closingHost(V::Effect*, std::int32_t opcode, std::int32_t, std::intptr_t, void*,
                          float) {
    if (opcode == V::hostVersion) return V::interfaceVersion;
    if (opcode == V::hostGetCurrentProcessLevel) return processEntered.fetch_add(1), answeredLevel;
    if (opcode == V::hostUpdateDisplay && shown.fetch_add(1) == 0)
        while (!letGo) std::this_thread::yield();
    if (opcode == lockedIn) {
        ++blocked;
        std::lock_guard<std::mutex> held(renderLock);
        --blocked;
    }
    return 0;
}

// Frames in the call the close must wait for: tens of milliseconds under the
// sanitizers, where a close that did not wait returns in microseconds; the
// narrow window is the call's start, so the rounds matter, not the length.
#if defined(__SANITIZE_THREAD__)
constexpr std::int32_t kLongCall = 1 << 16;
#else
constexpr std::int32_t kLongCall = 1 << 17;
#endif

TEST_F(PluginShellTest, CloseWaitsForTheProcessCallInFlight) {
    void* lib = dlopen(rig->path().c_str(), RTLD_NOW | RTLD_LOCAL);
    auto entry = reinterpret_cast<V::Entry>(dlsym(lib, "VSTPluginMain"));
    std::vector<float> in(kLongCall, 0.25f), out(kLongCall);
    float *ins[2] = {in.data(), in.data()}, *outs[2] = {out.data(), out.data()};
    V::MidiEvent cc{V::eventMidi, 32, 0, 0, 0, 0, {char(0xB0), 7, 100, 0}, 0, 0, 0, 0};
    V::Events list{1, 0, {reinterpret_cast<V::Event*>(&cc), nullptr}};
    // The close once the call has entered, then issued as the call enters:
    // counted before close looks, it is waited for; after, it writes silence.
    // Then what the host sends for its next call, until close has returned.
    for (bool const racing : {false, true})
        for (int round = 0; round < (racing ? 50 : 100); ++round) {
            V::Effect* e = entry(&closingHost);
            out.back() = std::numeric_limits<float>::quiet_NaN();
            int const seen = processEntered.load();
            std::atomic<bool> go{false}, closed{false};
            std::thread audio([&] {
                while (!go.load()) std::this_thread::yield();
                e->processReplacing(e, ins, outs, kLongCall);
                for (int k = 0; !closed.load(); ++k) {
                    e->setParameter(e, k % 10, 0.5f);
                    e->getParameter(e, k % 10);
                    e->dispatcher(e, V::opProcessEvents, 0, 0, &list, 0.0f);
                }
            });
            go.store(true);
            while (!racing && processEntered.load() == seen) std::this_thread::yield();
            e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f);
            closed.store(true);
            EXPECT_FALSE(!racing && std::isnan(out.back())) << "closed before the call's end";
            audio.join();
            EXPECT_FALSE(std::isnan(out.back())) << "round " << round << (racing ? ", racing" : "");
        }
    // Four threads call one entry each back to back: close waits only for the calls admitted
    // before it, so it returns while they still call (they stop after 30 s).
    V::Effect* e = entry(&closingHost);
    e->dispatcher(e, V::opOpen, 0, 0, nullptr, 0.0f);
    std::atomic<int> calling{0}, late{0}, closed{0};
    auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::vector<std::thread> threads;
    for (int kind = 0; kind < 4; ++kind)
        threads.emplace_back([&, kind] {
            for (int k = 0; !closed; ++k, calling += k == 1) {
                if (kind == 0) e->setParameter(e, k % 10, 0.5f);
                if (kind == 1) e->getParameter(e, k % 10);
                if (kind == 2) e->dispatcher(e, V::opProcessEvents, 0, 0, &list, 0.0f);
                if (kind == 3) e->processReplacing(e, ins, outs, 256);
                if (std::chrono::steady_clock::now() > end) return void(++late);
            }
        });
    while (calling < 4) std::this_thread::yield();
    e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f);
    closed = 1;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(late.load(), 0) << "close returned only once the callers had stopped";
    dlclose(lib);
}

// A host whose control-thread callbacks call back in. Armed, one has the
// test close the instance, then calls until the answers are nothing: they
// must come at once, not wait for the close that waits for the callback.
// Or one that closes from inside the callback closeOn names, once, and counts the closes returned.
std::atomic<int> updates{0}, closes{0}, closeOn{-1};
std::atomic<bool> armed{false}, begun{false}, nothing{false};
std::intptr_t reentrantHost(V::Effect* e, std::int32_t opcode, std::int32_t, std::intptr_t, void*,
                            float) {
    if (opcode == V::hostVersion) return V::interfaceVersion;
    if (int on = opcode; closeOn.compare_exchange_strong(on, -1))
        return e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f), ++closes, 0;
    if (opcode != V::hostAutomate && opcode != V::hostUpdateDisplay) return 0;
    updates += opcode == V::hostUpdateDisplay;
    bool const mine = armed.exchange(false);
    while (mine && !begun) std::this_thread::yield();
    auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        e->setParameter(e, 1, 0.5f);
        char text[V::paramTextMax + 1] = "x";
        e->dispatcher(e, V::opGetParamDisplay, 1, 0, text, 0.0f);
        nothing = mine && e->getParameter(e, 1) == 0.0f && text[0] == '\0';
    } while (mine && !nothing && std::chrono::steady_clock::now() < end);
    return 0;
}

// Armed at the boot's report, then at a program change's batch after it.
TEST_F(PluginShellTest, CloseFromInsideItsCallbacksGetsNothingAtOnce) {
    void* lib = dlopen(rig->path().c_str(), RTLD_NOW | RTLD_LOCAL);
    auto entry = reinterpret_cast<V::Entry>(dlsym(lib, "VSTPluginMain"));
    V::MidiEvent change{V::eventMidi, 32, 0, 0, 0, 0, {char(0xC0), 2, 0, 0}, 0, 0, 0, 0};
    V::Events load{1, 0, {reinterpret_cast<V::Event*>(&change), nullptr}};
    for (bool const batch : {false, true}) {
        updates = 0;
        begun = nothing = false;
        armed = !batch;
        V::Effect* e = entry(&reentrantHost);
        e->dispatcher(e, V::opOpen, 0, 0, nullptr, 0.0f);
        if (batch && CorePeer::until([] { return updates > 0; }, kLoadWait)) {
            armed = true;
            e->dispatcher(e, V::opProcessEvents, 0, 0, &load, 0.0f);
        }
        EXPECT_TRUE(CorePeer::until([] { return !armed; }, kLoadWait)) << batch;
        begun = true;
        e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f);
        EXPECT_TRUE(nothing) << batch;
    }
    dlclose(lib);
}

// Closed from the hostIoChanged of the call that moved the delay (cleared: the host zeroed the
// record's delay first, as only the rate moves it) or from the control thread's report, it returns.
TEST_F(PluginShellTest, CloseFromTheCallbacksOfACallOrTheControlThreadReturns) {
    void* lib = dlopen(rig->path().c_str(), RTLD_NOW | RTLD_LOCAL);
    auto entry = reinterpret_cast<V::Entry>(dlsym(lib, "VSTPluginMain"));
    V::MidiEvent change{V::eventMidi, 32, 0, 0, 0, 0, {char(0xC0), 2, 0, 0}, 0, 0, 0, 0};
    V::Events load{1, 0, {reinterpret_cast<V::Event*>(&change), nullptr}};
    std::int32_t const rows[][2] = {
        // the callback that closes, the call (0: none, the boot)
        {V::hostIoChanged, V::opSetSampleRate},     {V::hostIoChanged, V::opSetBlockSize},
        {V::hostIoChanged, V::opSetChunk},          {V::hostUpdateDisplay, 0},
        {V::hostUpdateDisplay, V::opProcessEvents}, {V::hostIoChanged, V::opProcessEvents}};
    for (auto const& row : rows) {
        std::int32_t const callback = row[0], op = row[1];
        updates = closes = 0;
        closeOn = op == 0 ? callback : -1;
        V::Effect* e = entry(&reentrantHost);
        e->dispatcher(e, V::opOpen, 0, 0, nullptr, 0.0f);
        ASSERT_TRUE(CorePeer::until([] { return updates + closes > 0; }, kLoadWait)) << op;
        void* ptr = op == V::opProcessEvents ? &load : nullptr; // a chunk, a program change
        std::intptr_t const value = // 1024 frames a block, or the chunk's size
            op == V::opSetChunk ? e->dispatcher(e, V::opGetChunk, 0, 0, &ptr, 0.0f) : 1024;
        if (callback == V::hostIoChanged && op != V::opSetSampleRate)
            std::atomic_ref<std::int32_t>(e->initialDelay).store(0);
        closeOn = callback;
        std::atomic<bool> done{false};
        std::thread host([&] {
            if (op != 0) e->dispatcher(e, op, 0, value, ptr, 96000.0f); // from 44.1 kHz
            done = true;
        });
        bool const returned = CorePeer::until([&] { return done && closes > 0; }, 30.0);
        returned ? host.join() : host.detach();
        ASSERT_TRUE(returned) << callback << " " << op << ": close never returned";
        EXPECT_EQ(e->getParameter(e, 1), 0.0f) << op;
        EXPECT_EQ(e->dispatcher(e, V::opGetVstVersion, 0, 0, nullptr, 0.0f), 0) << op;
    }
    dlclose(lib);
}

// The plug-in opened by hand (.lib), its entry, a change to program 2 as events, and 512 frames.
struct ByHand {
    void* lib;
    V::Entry entry = reinterpret_cast<V::Entry>(dlsym(lib, "VSTPluginMain"));
    V::MidiEvent change{V::eventMidi, 32, 0, 0, 0, 0, {char(0xC0), 2, 0, 0}, 0, 0, 0, 0};
    V::Events load{1, 0, {reinterpret_cast<V::Event*>(&change), nullptr}};
    std::vector<float> in = std::vector<float>(512, 0.25f), out = std::vector<float>(512);
    float *ins[2] = {in.data(), in.data()}, *outs[2] = {out.data(), out.data()};
};

// A host that restarts the plug-in from inside the control-thread callback callIn names (armed
// once, disarmed before it calls), on the thread it was told on: a rate, a block size, its own
// chunk, a suspend and resume, a bus read and write, then the chunk from another of its threads,
// which it waits for. The answers, in that order.
std::atomic<int> callIn{-1};
std::atomic<bool> answeredAll{false};
std::vector<std::intptr_t> answers;
std::intptr_t restartingHost(V::Effect* e, std::int32_t opcode, std::int32_t, std::intptr_t, void*,
                             float) {
    if (opcode == V::hostVersion) return V::interfaceVersion;
    updates += opcode == V::hostUpdateDisplay;
    if (int on = opcode; !callIn.compare_exchange_strong(on, -1)) return 0;
    void* data = nullptr;
    std::intptr_t const size = e->dispatcher(e, V::opGetChunk, 0, 0, &data, 0.0f);
    std::string chunk(static_cast<char const*>(data), std::size_t(size));
    CorePrvt::BUSCALL learn{'h', true, 176, 7}, delay{'l'}; // slot 0 to controller 7; bean 49
    CorePrvt::CALL write{CorePrvt::iCbus, 179, 0, 0, &learn, sizeof learn},
        read{CorePrvt::iCbus, 49, 0, 0, &delay, sizeof delay};
    auto call = [e](std::int32_t op, std::intptr_t value, void* ptr = nullptr, float opt = 0.0f) {
        return e->dispatcher(e, op, op == V::opVendorSpecific ? CorePrvt::iCtag : 0, value, ptr,
                             opt);
    };
    answers = {call(V::opSetSampleRate, 0, nullptr, 48000.0f),
               call(V::opSetBlockSize, 1024),
               call(V::opSetChunk, size, chunk.data()),
               call(V::opMainsChanged, 0),
               call(V::opMainsChanged, 1),
               call(V::opVendorSpecific, 0, &read),
               call(V::opVendorSpecific, 0, &write)};
    std::thread([&] { answers.push_back(call(V::opSetChunk, size, chunk.data())); }).join();
    answeredAll = true;
    return 0;
}

// The boot's report, the pass's automation (a load's hand-back of a value the host wrote) and a
// load's report of a moved delay (the host zeroed it): each call returns, the instance then reports
// the delay of one opened at 48 kHz with 1024-frame blocks, and a close returns.
TEST_F(PluginShellTest, CallsFromInsideTheControlThreadsCallbacksReturnAndTakeEffect) {
    CoreHost opened(rig->path(), 48000, 1024);
    opened.start();
    ASSERT_TRUE(opened.wtupd(0, kLoadWait));
    ByHand p{.lib = dlopen(rig->path().c_str(), RTLD_NOW | RTLD_LOCAL)};
    for (std::int32_t const callback : {V::hostUpdateDisplay, V::hostAutomate, V::hostIoChanged}) {
        updates = 0, answeredAll = false, answers.clear();
        callIn = callback == V::hostUpdateDisplay ? callback : -1;
        V::Effect* e = p.entry(&restartingHost);
        e->dispatcher(e, V::opOpen, 0, 0, nullptr, 0.0f);
        if (callback != V::hostUpdateDisplay) {
            ASSERT_TRUE(CorePeer::until([] { return updates > 0; }, kLoadWait)) << callback;
            if (callback == V::hostAutomate) e->setParameter(e, 0, 0.37f);
            if (callback == V::hostIoChanged)
                std::atomic_ref<std::int32_t>(e->initialDelay).store(0);
            callIn = callback;
            e->dispatcher(e, V::opProcessEvents, 0, 0, &p.load, 0.0f);
        }
        ASSERT_TRUE(CorePeer::until([] { return answeredAll.load(); }, 30.0))
            << callback << ": a call from inside the callback never returned";
        EXPECT_EQ(answers, (std::vector<std::intptr_t>{0, 0, 1, 0, 0, 1, 1, 1})) << callback;
        EXPECT_EQ(std::atomic_ref<std::int32_t>(e->initialDelay).load(), opened.getdl())
            << callback;
        std::atomic<bool> closed{false};
        std::thread closer(
            [&] { e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f), closed = true; });
        bool const returned = CorePeer::until([&] { return closed.load(); }, 30.0);
        returned ? closer.join() : closer.detach();
        ASSERT_TRUE(returned) << callback << ": close never returned";
    }
    dlclose(p.lib);
}

// A host that, armed, restores its kept chunk from inside hostAutomate; it counts each value read
// right after and each told after the restore that is not the chunk's.
std::string keptChunk;
float kept[10];
std::atomic<bool> restoreArmed{false}, restoredIn{false};
std::atomic<int> strays{0};
std::intptr_t restoringHost(V::Effect* e, std::int32_t opcode, std::int32_t index, std::intptr_t,
                            void*, float opt) {
    if (opcode == V::hostVersion) return V::interfaceVersion;
    updates += opcode == V::hostUpdateDisplay;
    if (opcode != V::hostAutomate) return 0;
    strays += restoredIn && std::fabs(opt - kept[index]) > 1e-4f;
    if (!restoreArmed.exchange(false)) return 0;
    e->dispatcher(e, V::opSetChunk, 0, std::intptr_t(keptChunk.size()), keptChunk.data(), 0.0f);
    for (int i = 0; i < 10; ++i) strays += std::fabs(e->getParameter(e, i) - kept[i]) > 1e-4f;
    restoredIn = true;
    return 0;
}

// Gains written at 0.9 and the chunk kept; a program change whose hand-back the host answers with
// that chunk; then the chunk restored from the host's thread while the boot's report holds the
// control thread: the host reads the chunk's values at once, and is told no other.
TEST_F(PluginShellTest, AfterARestoreTheHostReadsAndIsToldOnlyTheRestoredValues) {
    ByHand p{.lib = dlopen(rig->path().c_str(), RTLD_NOW | RTLD_LOCAL)};
    p.change.midiData[1] = char(CoreDemo::iCsweep);
    updates = strays = 0, restoredIn = false;
    V::Effect* e = p.entry(&restoringHost);
    e->dispatcher(e, V::opOpen, 0, 0, nullptr, 0.0f);
    ASSERT_TRUE(CorePeer::until([] { return updates > 0; }, kLoadWait));
    e->setParameter(e, 8, 0.9f), e->setParameter(e, 9, 0.9f);
    void* data = nullptr;
    std::intptr_t const size = e->dispatcher(e, V::opGetChunk, 0, 0, &data, 0.0f);
    keptChunk.assign(static_cast<char const*>(data), std::size_t(size));
    for (int i = 0; i < 10; ++i) kept[i] = e->getParameter(e, i);
    restoreArmed = true;
    e->dispatcher(e, V::opProcessEvents, 0, 0, &p.load, 0.0f);
    ASSERT_TRUE(CorePeer::until([] { return restoredIn.load(); }, kLoadWait));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the passes after it
    e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(strays, 0);
    shown = 0, letGo = false, answeredLevel = V::levelUnknown;
    e = p.entry(&closingHost);
    e->dispatcher(e, V::opOpen, 0, 0, nullptr, 0.0f);
    ASSERT_TRUE(CorePeer::until([] { return shown > 0; }, kLoadWait));
    EXPECT_EQ(e->dispatcher(e, V::opSetChunk, 0, size, keptChunk.data(), 0.0f), 1);
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(e->getParameter(e, i), kept[i], 1e-4) << i;
    letGo = true;
    e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f);
    dlclose(p.lib);
}

// The render holds renderLock while the control thread waits for it in callback (hostAutomate: a
// real-time program change's hand-back; hostUpdateDisplay, or hostIoChanged once the host zeroed
// the delay: that load's report), then sends the change again and calls offline: the call plays on
// after a short wait rather than waiting out its bound for the load, and the log says so once,
// naming the callback held.
void playsOnPastAHeld(PluginRig const* rig, std::int32_t callback, std::string const& named) {
    std::string const log = rig->folder() + CoreDemo::sCdatapath + "Vorlan3olvio.log";
    auto lines = [&](std::string const& text) { return LogCapture::count(readBytes(log), text); };
    std::string const late = "the change may play late", lapsed = "s for a program load";
    int const before[3] = {lines(late), lines(lapsed), lines(named)};
    ByHand p{.lib = dlopen(rig->path().c_str(), RTLD_NOW | RTLD_LOCAL)};
    shown = 0, letGo = true, answeredLevel = V::levelRealtime, blocked = 0, lockedIn = callback;
    V::Effect* e = p.entry(&closingHost);
    e->dispatcher(e, V::opOpen, 0, 0, nullptr, 0.0f);
    ASSERT_TRUE(CorePeer::until([] { return shown > 0; }, kLoadWait));
    if (callback == V::hostIoChanged) std::atomic_ref<std::int32_t>(e->initialDelay).store(0);
    std::atomic<int> stage{0}; // 1 the offline call began, 2 it returned, -1 nothing blocked
    std::thread render([&] {
        std::lock_guard<std::mutex> held(renderLock);
        e->setParameter(e, 0, 0.37f); // the load hands the program's value back
        for (int call = 0; call < 2; ++call) {
            e->dispatcher(e, V::opProcessEvents, 0, 0, &p.load, 0.0f);
            e->processReplacing(e, p.ins, p.outs, 512);
            if (call == 1) return void(stage = 2);
            if (!CorePeer::until([] { return blocked > 0; }, kLoadWait)) return void(stage = -1);
            answeredLevel = V::levelOffline;
            stage = 1;
        }
    });
    ASSERT_TRUE(CorePeer::until([&] { return stage != 0; }, kLoadWait + 5.0));
    bool const returned = CorePeer::until([&] { return stage != 1; }, 30.0);
    returned ? render.join() : render.detach();
    ASSERT_EQ(stage, 2) << callback << ": nothing held, or the offline call never returned";
    EXPECT_TRUE(CorePeer::until([&] { return lines(late) > before[0]; }, kLoadWait));
    EXPECT_EQ(lines(late), before[0] + 1);
    EXPECT_EQ(lines(lapsed), before[1]);
    EXPECT_EQ(lines(named), before[2] + 1) << named;
    e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f);
    answeredLevel = V::levelUnknown, lockedIn = V::hostAutomate;
    dlclose(p.lib);
}
TEST_F(PluginShellTest, AnOfflineCallPlaysOnPastAHeldAutomation) {
    playsOnPastAHeld(rig, V::hostAutomate, "held an automation callback: the change");
}
TEST_F(PluginShellTest, AnOfflineCallPlaysOnPastAHeldLoadReport) {
    playsOnPastAHeld(rig, V::hostUpdateDisplay, "held its hostUpdateDisplay callback: the change");
    playsOnPastAHeld(rig, V::hostIoChanged, "held its hostIoChanged callback: the change");
}

// A host removing the plug-in right after a program change sends no further call: once the load
// has begun (its batch logged), a suspend and a close end the bypass switch's wait for that call,
// as the log says. A round whose wait ran out before the close began is tried again.
TEST_F(PluginShellTest, ACloseEndsTheWaitOfAProgramChangeForACallThatNeverComes) {
    PluginRig logging;
    ASSERT_TRUE(logging.settings({kDiagnosed, {"DL", "2"}}));
    std::string const log = logging.folder() + CoreDemo::sCdatapath + "Vorlan3olvio.log";
    auto lines = [&](char const* text) { return LogCapture::count(readBytes(log), text); };
    ByHand p{.lib = dlopen(logging.path().c_str(), RTLD_NOW | RTLD_LOCAL)};
    answeredLevel = V::levelRealtime;
    int ended = 0;
    for (int round = 0; round < 5 && ended == 0; ++round) {
        shown = 0, letGo = true;
        V::Effect* e = p.entry(&closingHost);
        e->dispatcher(e, V::opOpen, 0, 0, nullptr, 0.0f);
        ASSERT_TRUE(CorePeer::until([] { return shown > 0; }, kLoadWait));
        int const batches = lines(">batch "), lapsed = lines("no host call in time");
        e->dispatcher(e, V::opProcessEvents, 0, 0, &p.load, 0.0f);
        ASSERT_TRUE(CorePeer::until([&] { return lines(">batch ") > batches; }, kLoadWait));
        e->dispatcher(e, V::opMainsChanged, 0, 0, nullptr, 0.0f);
        e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f);
        ended = lines("bypass switch: close began");
        EXPECT_TRUE(ended > 0 || lines("no host call in time") > lapsed) << round;
    }
    EXPECT_EQ(ended, 1);
    answeredLevel = V::levelUnknown;
    dlclose(p.lib);
}

// In real time the call a program change came with is not held; offline it waits for the load, but
// with the control thread held in its boot report (the host may hold that callback on a lock it
// holds across the call) only a short while. Neither waits out the bound.
TEST_F(PluginShellTest, OnlyAnOfflineCallWaitsForItsProgramChange) {
    ByHand p{.lib = dlopen(rig->path().c_str(), RTLD_NOW | RTLD_LOCAL)};
    for (bool const offline : {false, true}) {
        answeredLevel = offline ? V::levelOffline : V::levelUnknown;
        shown = 0, letGo = false; // the boot's report holds the control thread
        V::Effect* e = p.entry(&closingHost);
        e->dispatcher(e, V::opOpen, 0, 0, nullptr, 0.0f);
        ASSERT_TRUE(CorePeer::until([] { return shown > 0; }, kLoadWait)) << offline;
        e->dispatcher(e, V::opProcessEvents, 0, 0, &p.load, 0.0f);
        std::atomic<bool> returned{false};
        std::thread audio([&] { e->processReplacing(e, p.ins, p.outs, 512), returned = true; });
        EXPECT_TRUE(CorePeer::until([&] { return returned.load(); }, kLoadWait)) << offline;
        letGo = !offline; // in real time the load runs and ends before the close
        EXPECT_TRUE(offline || CorePeer::until([] { return shown > 1; }, kLoadWait));
        std::thread closer([&] { e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f); });
        EXPECT_TRUE(CorePeer::until([&] { return returned.load(); }, kLoadWait)) << offline;
        letGo = true;
        closer.join();
        if (audio.joinable()) audio.join();
    }
    dlclose(p.lib);
    for (std::string const where : {"", CoreDemo::sCdatapath})
        EXPECT_EQ(readBytes(rig->folder() + where + "Vorlan3olvio.log").find("program load:"),
                  std::string::npos);
}

// An offline host that, armed with a parameter, writes it and reads its text inside a call (the
// level query): that write waits for the next call.
std::atomic<int> writeIn{-1};
float written = 0.0f;
char waitingText[V::paramTextMax + 1];
std::intptr_t writingHost(V::Effect* e, std::int32_t op, std::int32_t, std::intptr_t, void*,
                          float) {
    updates += op == V::hostUpdateDisplay;
    if (int const i = op == V::hostGetCurrentProcessLevel ? writeIn.exchange(-1) : -1; i >= 0) {
        e->setParameter(e, i, written);
        e->dispatcher(e, V::opGetParamDisplay, i, 0, waitingText, 0.0f);
    }
    return op == V::hostVersion                  ? V::interfaceVersion
           : op == V::hostGetCurrentProcessLevel ? V::levelOffline
                                                 : 0;
}

// For each demo program and parameter, a value's text while its write waits is its text once a
// call has handed it in (the sweep's mix 1 as its LFO rate, the gains in dB).
TEST_F(PluginShellTest, AWaitingWriteReadsAsItWillPlay) {
    ByHand p{.lib = dlopen(rig->path().c_str(), RTLD_NOW | RTLD_LOCAL)};
    updates = 0;
    V::Effect* e = p.entry(&writingHost);
    e->dispatcher(e, V::opOpen, 0, 0, nullptr, 0.0f);
    ASSERT_TRUE(CorePeer::until([] { return updates > 0; }, kLoadWait));
    char text[V::paramTextMax + 1] = {};
    for (int slot = 0; slot < CoreDemo::iCprograms; ++slot) {
        p.change.midiData[1] = char(slot);
        e->dispatcher(e, V::opProcessEvents, 0, 0, &p.load, 0.0f);
        e->processReplacing(e, p.ins, p.outs, 512); // offline: plays once the program has loaded
        for (int i = 0; i < 10; ++i) {
            written = 0.04f + 0.09f * float(i) + 0.01f * float(slot), writeIn = i;
            e->processReplacing(e, p.ins, p.outs, 512);
            e->processReplacing(e, p.ins, p.outs, 512);
            EXPECT_TRUE(CorePeer::until(
                [&] {
                    return e->dispatcher(e, V::opGetParamDisplay, i, 0, text, 0.0f),
                           std::string(text) == waitingText;
                },
                10.0))
                << slot << " " << i << ": " << waitingText << ", then " << text;
        }
    }
    e->dispatcher(e, V::opClose, 0, 0, nullptr, 0.0f);
    dlclose(p.lib);
}

// An offline render: before call 100 a program change, the ten parameters written, and a chunk read
// (or none), then the call. The read changes nothing that plays, and the written values stand.
TEST_F(PluginShellTest, AChunkReadDuringAnOfflineProgramChangeChangesNothingThatPlays) {
    constexpr long kCall = 512, kCalls = 400, kAt = 100;
    CoreHost::CHANNELS const x = noise(kCall * kCalls, 23);
    auto render = [&](bool read, float* after) {
        CoreHost h(rig->path(), CoreDemo::iCrate, int(kCall));
        h.setlv(V::levelOffline);
        h.start();
        EXPECT_TRUE(h.wtupd(0, kLoadWait));
        V::Effect* e = h.getef();
        CoreHost::CHANNELS y(2, std::vector<double>(x[0].size()));
        for (long k = 0; k < kCalls; ++k) {
            if (k == kAt) {
                h.slot_(CoreDemo::iCsaturator);
                for (int i = 0; i < 10; ++i) e->setParameter(e, i, 0.15f + 0.07f * float(i));
                void* data = nullptr;
                EXPECT_TRUE(!read || h.dispt(V::opGetChunk, 0, 0, &data) > 0);
            }
            double* ins[2] = {const_cast<double*>(x[0].data()) + k * kCall,
                              const_cast<double*>(x[1].data()) + k * kCall};
            double* outs[2] = {y[0].data() + k * kCall, y[1].data() + k * kCall};
            e->processDoubleReplacing(e, ins, outs, int(kCall));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // passes hand values back
        for (int i = 0; i < 10; ++i) after[i] = e->getParameter(e, i);
        return y;
    };
    float plain[10], read[10];
    CoreHost::CHANNELS const y = render(false, plain);
    EXPECT_TRUE(y == render(true, read));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(read[i], plain[i]) << i;
    EXPECT_NEAR(read[8], 0.71f, 1e-6); // the gains the saturator takes; it plays no mix
    EXPECT_NEAR(read[9], 0.78f, 1e-6);
}

// A chunk read between two calls of a playing instance is the one read after a suspend, for each
// demo program. While one thread plays with every parameter and a learnt controller written each
// call, chunks eight threads read back to back are whole and hold, per control, what a quiet
// instance's does for a value sent.
TEST_F(PluginShellTest, AChunkReadWhilePlayingHoldsOneMomentOfWhatTheHostSent) {
    CoreHost h(rig->path(), CoreDemo::iCrate, 256);
    h.setlv(V::levelRealtime);
    h.start();
    ASSERT_TRUE(h.wtupd(0, kLoadWait));
    V::Effect* e = h.getef();
    std::vector<double> in(256, 0.25), out(256);
    double *ins[2] = {in.data(), in.data()}, *outs[2] = {out.data(), out.data()};
    auto chunk = [&, data = static_cast<void*>(nullptr)]() mutable {
        return h.dispt(V::opGetChunk, 0, 0, &data) > 0 ? static_cast<char const*>(data) : "";
    };
    float const sent[3] = {0.2f, 0.5f, 0.8f};
    auto write = [&](long k) {
        for (int i = 0; i < 10; ++i) e->setParameter(e, i, sent[(k + i) % 3]);
        h.sendm({{0, {0xB0, 1, static_cast<unsigned char>(k % 3 * 63)}}}); // learnt by MIX1
    };
    for (int program :
         {CoreDemo::iCinit, CoreDemo::iCsaturator, CoreDemo::iCroom, CoreDemo::iCsweep}) {
        int const seen = h.updts();
        h.slot_(program);
        ASSERT_TRUE(h.wtupd(seen, kLoadWait)) << program;
        chunk(); // a loaded document's first write-back moves the elements it writes last
        for (long k = 0; k < 40; ++k) write(k), e->processDoubleReplacing(e, ins, outs, 256);
        std::string const playing = chunk();
        h.dispt(V::opMainsChanged, 0, 0);
        EXPECT_EQ(playing, chunk()) << program;
        EXPECT_NE(playing.find("<SETUP>"), std::string::npos) << program;
        h.dispt(V::opMainsChanged, 0, 1);
    }
    CorePeer::bus(h, 179, 'h', 176, 1, true, 0);
    auto controls = [&](std::string const& text) { // "MIX1 value", "MIX2 -" when absent
        std::vector<std::string> v;
        for (std::string const t : {"MIX1", "MIX2", "MIX3", "MIX4", "MIX5", "MIX6", "MIX7", "MIX8",
                                    "GAININ", "GAINOUT"}) {
            std::size_t const at = text.find("<" + t + ">"), from = at + t.size() + 2;
            v.push_back(t +
                        (at == text.npos ? " -" : text.substr(from, text.find('<', from) - from)));
        }
        return v;
    };
    std::set<std::string> allowed;
    for (long k = 0; k < 6; ++k) { // each value alone: the parameters', then the controller's
        for (int i = 0; i < 10 && k % 2 == 0; ++i) e->setParameter(e, i, sent[k / 2]);
        if (k % 2 == 1) h.sendm({{0, {0xB0, 1, static_cast<unsigned char>(k / 2 * 63)}}});
        e->processDoubleReplacing(e, ins, outs, 256);
        for (std::string const& c : controls(chunk())) allowed.insert(c);
    }
    std::atomic<bool> done{false};
    std::thread player([&] {
        for (long k = 0; !done; ++k) { // about as fast as the calls' length
            write(k), e->processDoubleReplacing(e, ins, outs, 256);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    // Eight host threads, half reading the bank chunk and half the program's, each giving up its
    // processor between the call's return and its copy, as a host's thread may.
    std::atomic<int> chunks{0}, strange{0};
    auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t)
        readers.emplace_back([&, t] {
            for (void* data = nullptr; std::chrono::steady_clock::now() < end; ++chunks) {
                std::intptr_t const n = h.dispt(V::opGetChunk, t % 2, 0, &data);
                std::this_thread::yield();
                std::string const text(static_cast<char const*>(data), std::size_t(n));
                std::vector<std::string> faults = controls(text);
                std::erase_if(faults, [&](auto const& c) { return allowed.count(c) > 0; });
                if (!wholeChunk(text))
                    faults.push_back("torn: " +
                                     text.substr(std::max<std::size_t>(text.size(), 40) - 40));
                for (std::string const& f : faults)
                    if (strange++ < 5) ADD_FAILURE() << f;
            }
        });
    for (std::thread& r : readers) r.join();
    done = true;
    player.join();
    EXPECT_GT(chunks, 8);
    EXPECT_EQ(strange, 0);
}

TEST_F(PluginShellTest, HostileCallOrdersAndValuesAreSafe) {
    for (int round = 0; round < 3; ++round) { // load, instantiate, close, unload, again
        CoreHost host(rig->path(), 44100, 64);
        ASSERT_TRUE(host.valid());
        V::Effect* e = host.getef();
        float in0[64] = {}, in1[64] = {}, o0[64], o1[64];
        float* ins[2] = {in0, in1};
        float* outs[2] = {o0, o1};
        float* nulls[2] = {nullptr, nullptr};
        in0[0] = std::numeric_limits<float>::quiet_NaN();
        e->processReplacing(e, ins, outs, 64); // before open and resume
        for (float v : o0) EXPECT_TRUE(std::isfinite(v));
        for (float rate : {0.0f, -1.0f, std::nanf(""), 1e12f, 22050.0f})
            host.dispt(V::opSetSampleRate, 0, 0, nullptr, rate);
        for (std::intptr_t b : {0, -5, 1, 1 << 30, 32}) host.dispt(V::opSetBlockSize, 0, b);
        e->processReplacing(e, ins, outs, 0);
        e->processReplacing(e, ins, outs, 1);
        e->processReplacing(e, ins, outs, -3);
        e->processReplacing(e, nullptr, nullptr, 64);
        e->processReplacing(e, nulls, nulls, 64);
        e->processReplacing(e, ins, ins, 64); // in place
        host.dispt(V::opMainsChanged, 0, 0);
        host.dispt(V::opProcessEvents, 0, 0, nullptr);
        // Malformed event lists: count 0 or below, null entries, other types, short sizes.
        V::MidiEvent good{V::eventMidi, 32, -4, 0, 0, 0, {char(0xB0), 7, 100, 0}, 0, 0, 0, 0};
        V::MidiEvent shortSize = good;
        shortSize.byteSize = 8;
        V::MidiEvent sysex = good;
        sysex.type = V::eventSysex;
        struct {
            std::int32_t n;
            std::intptr_t reserved;
            V::Event* events[4];
        } list{4,
               0,
               {nullptr, reinterpret_cast<V::Event*>(&shortSize),
                reinterpret_cast<V::Event*>(&sysex), reinterpret_cast<V::Event*>(&good)}};
        host.dispt(V::opProcessEvents, 0, 0, &list);
        list.n = -1;
        host.dispt(V::opProcessEvents, 0, 0, &list);
        // Chunks: null, garbage, empty, and what it gave back; also during the boot.
        void* chunk = nullptr;
        std::intptr_t const size = host.dispt(V::opGetChunk, 0, 0, &chunk);
        ASSERT_GT(size, 0);
        ASSERT_NE(chunk, nullptr);
        std::string const saved(static_cast<char*>(chunk), std::size_t(size));
        EXPECT_EQ(host.dispt(V::opGetChunk, 1, 0, nullptr), 0);
        EXPECT_EQ(host.dispt(V::opSetChunk, 0, 16, nullptr), 0);
        EXPECT_EQ(host.dispt(V::opSetChunk, 0, 0, const_cast<char*>("x")), 0);
        char garbage[64];
        std::memset(garbage, 0xA5, sizeof garbage);
        host.dispt(V::opSetChunk, 1, sizeof garbage, garbage);
        host.start(); // open after all of that, boot running
        EXPECT_EQ(host.dispt(V::opSetChunk, 0, std::intptr_t(saved.size()),
                             const_cast<char*>(saved.data())),
                  1);
        host.dispt(V::opOpen); // twice
        e->processReplacing(e, ins, outs, 64);
        double d0[64] = {}, d1[64] = {};
        double* dd[2] = {d0, d1};
        e->processDoubleReplacing(e, dd, dd, 64);
        e->process(e, ins, outs, 64);
    }
    // Close without open.
    CoreHost closedOnly(rig->path(), 44100, 64);
    EXPECT_TRUE(closedOnly.valid());
}

TEST_F(PluginShellTest, SeededRandomCallsNeitherCrashNorLeak) {
    CoreHost host(rig->path(), 44100, 256);
    ASSERT_TRUE(host.valid());
    V::Effect* e = host.getef();
    std::mt19937 g(20240611);
    std::uniform_int_distribution<int> pick(0, 99);
    std::vector<float> a(1024), b(1024), c(1024), d(1024);
    std::vector<double> da(1024), db(1024);
    float* fin[2] = {a.data(), b.data()};
    float* fout[2] = {c.data(), d.data()};
    double* dio[2] = {da.data(), db.data()};
    std::int32_t const ops[] = {V::opOpen,
                                V::opSetSampleRate,
                                V::opSetBlockSize,
                                V::opMainsChanged,
                                V::opGetTailSize,
                                V::opGetParamName,
                                V::opGetParamDisplay,
                                V::opGetParamLabel,
                                V::opGetChunk,
                                V::opSetProgram,
                                V::opGetProgram,
                                V::opStartProcess,
                                V::opStopProcess,
                                V::opSetProcessPrecision,
                                99,
                                -1,
                                1000};
    char buf[256];
    // Under ThreadSanitizer every call is many times slower; a quarter of the
    // walk still crosses each kind of call with the engine's threads hundreds
    // of times, and the AddressSanitizer pass walks it whole.
#if defined(__SANITIZE_THREAD__)
    constexpr int kCalls = 2500;
#else
    constexpr int kCalls = 10000;
#endif
    for (int call = 0; call < kCalls; ++call) {
        int const r = pick(g);
        int const frames = pick(g) * 10 - 50; // -50 .. 940
        if (r < 30) {
            e->processReplacing(e, fin, fout, frames);
        } else if (r < 40) {
            e->processDoubleReplacing(e, dio, dio, frames);
        } else if (r < 45) {
            e->process(e, fin, fout, frames);
        } else if (r < 60) {
            e->setParameter(e, pick(g) % 12 - 1, float(pick(g)) / 90.0f);
        } else if (r < 65) {
            (void)e->getParameter(e, pick(g) % 12 - 1);
        } else if (r < 70) {
            host.sendm(
                {{0,
                  {static_cast<unsigned char>(0x80 + pick(g) % 0x70),
                   static_cast<unsigned char>(pick(g)), static_cast<unsigned char>(pick(g))}}});
        } else {
            std::int32_t const op = ops[std::size_t(pick(g)) % std::size(ops)];
            float const opt = op == V::opSetSampleRate ? float(pick(g) * 1000 - 5000) : 0.0f;
            std::intptr_t const value = op == V::opSetBlockSize ? pick(g) * 20 - 100 : pick(g) % 3;
            std::memset(buf, 0, sizeof buf);
            void* ptr = op == V::opGetChunk ? static_cast<void*>(&buf) : buf;
            host.dispt(op, pick(g) % 12 - 1, value, ptr, opt);
        }
    }
}

// The demo's impulse files, by name.
CoreDemo::CHANNELS demoFile(char const* name) {
    for (auto const& i : CoreDemo::impls())
        if (std::string(i.file) == name) return i.samples;
    return {};
}

// Renders x (after a second of silence, while the controls settle) through
// a booted demo instance on slot, in double precision or (dbl false) single,
// replacing or accumulating; the output from the input's start on, at the
// delay the plug-in reports.
bool renderDemo(PluginRig const& rig, int slot, CoreHost::CHANNELS const& x,
                CoreHost::CHANNELS& got, long& latency, bool dbl = true, bool add = false) {
    CoreHost host(rig.path(), CoreDemo::iCrate, 512);
    host.start();
    if (!host.wtupd(0, kLoadWait)) return false;
    if (slot != CoreDemo::iCroom) { // the boot's program
        int const seen = host.updts();
        host.slot_(slot);
        if (!host.wtupd(seen, kLoadWait)) return false;
    }
    latency = host.getdl();
    long const settle = CoreDemo::iCrate;
    long const n = static_cast<long>(x[0].size());
    CoreHost::CHANNELS in(2, std::vector<double>(std::size_t(settle + n + latency), 0.0)), y;
    for (int c = 0; c < 2; ++c) std::copy(x[c].begin(), x[c].end(), in[c].begin() + settle);
    host.rendr(in, y, dbl, add);
    got.assign(2, {});
    for (int c = 0; c < 2; ++c)
        got[c].assign(y[c].begin() + settle + latency, y[c].begin() + settle + latency + n);
    return true;
}

TEST_F(PluginShellTest, RoomImpulseEqualsTheNaiveConvolution) {
    // The room's direct sound is its first sample: at the reported delay the
    // output is the room file itself, at unity gain.
    CoreDemo::CHANNELS const room = demoFile("ROOM.WAV");
    ASSERT_EQ(room.size(), 2u);
    long const n = static_cast<long>(room[0].size()) + 64;
    CoreHost::CHANNELS x(2, std::vector<double>(std::size_t(n), 0.0)), got;
    x[0][0] = x[1][0] = 1.0;
    // The three process calls: double and single precision replacing, and
    // the accumulating call (single precision, onto a silent output).
    struct Call {
        bool dbl, add;
    } const calls[] = {{true, false}, {false, false}, {false, true}};
    for (Call const& call : calls) {
        long latency = 0;
        ASSERT_TRUE(renderDemo(*rig, CoreDemo::iCroom, x, got, latency, call.dbl, call.add))
            << "the demo room did not load";
        // A processing block (a power of two: the master file's DSPBUFFER,
        // which earlier boots wrote), the forced offset and the lookahead.
        long const block = latency - CoreButl::tpfup(CoreDemo::iCrate, CoreDemo::iCforceoffset) -
                           CoreButl::tpfup(CoreDemo::iCrate, 3000);
        EXPECT_TRUE(block >= 512 && (block & (block - 1)) == 0) << latency;
        for (int c = 0; c < 2; ++c) {
            std::vector<double> const want = naiveConvolution(x[c], room[c], room[c], 0);
            EXPECT_LT(relativeError(got[c], want), 1e-5) << "channel " << c
                                                         << (call.dbl   ? " double"
                                                             : call.add ? " accumulating"
                                                                        : " single");
        }
    }
}

TEST_F(PluginShellTest, SineThroughTheSaturatorIsTheNaiveVolterraSum) {
    constexpr double kTwoPi = 6.283185307179586;
    // Three harmonics: the input raised to the power h convolved with
    // kernel h, summed; the demo's gains are unity.
    long const n = 6000;
    CoreHost::CHANNELS x(2, std::vector<double>(std::size_t(n))), got;
    for (long k = 0; k < n; ++k) {
        x[0][std::size_t(k)] = 0.7 * std::sin(kTwoPi * 440.0 * double(k) / CoreDemo::iCrate);
        x[1][std::size_t(k)] = 0.4 * std::sin(kTwoPi * 1250.0 * double(k) / CoreDemo::iCrate);
    }
    long latency = 0;
    ASSERT_TRUE(renderDemo(*rig, CoreDemo::iCsaturator, x, got, latency))
        << "the demo saturator did not load";
    for (int c = 0; c < 2; ++c) {
        std::vector<double> want(std::size_t(n), 0.0), power(std::size_t(n), 1.0);
        for (int h = 1; h <= 3; ++h) {
            std::vector<double> const k = demoFile(("SAT" + std::to_string(h) + ".WAV").c_str())[0];
            for (long i = 0; i < n; ++i) power[std::size_t(i)] *= x[c][std::size_t(i)];
            std::vector<double> const part = naiveConvolution(power, k, k, 0);
            for (long i = 0; i < n; ++i) want[std::size_t(i)] += part[std::size_t(i)];
        }
        EXPECT_LT(relativeError(got[c], want), 1e-5) << "channel " << c;
    }
}

} // namespace
