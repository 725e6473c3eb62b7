// ctest-labels: threads
// What a process call does while the boot runs, by the level the host
// answers: offline it waits for the boot and renders what the boot program
// plays; at any other level it passes the input through. The wait ends when
// the boot fails or the host closes, never happens before open, and none of
// these logs the line of a wait that ran out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "plugin/CorePrvt.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tests/support/Signals.h"
#include "tools/CoreDemo.h"
#include "tools/CoreHost.h"

namespace {

using V = PlatVst;
constexpr double kWait = 60.0; // s: boots under the sanitizers
constexpr char const* kExpired = "waited";

int bootState(CoreHost& h) {
    CorePrvt::CALL call;
    call.kind = CorePrvt::iCboot;
    return int(h.dispt(V::opVendorSpecific, CorePrvt::iCtag, 0, &call));
}

CoreHost::CHANNELS input(int n) { return {randomSignal(n, 11), randomSignal(n, 12)}; }

std::string logOf(PluginRig const& rig) {
    return readBytes(rig.folder() + CoreDemo::sCdatapath + "Vorlan3olvio.log");
}

class PluginProcessLevelTest : public PluginRigTest {
protected:
    static void SetUpTestSuite() {
        PluginRigTest::SetUpTestSuite();
        ASSERT_TRUE(rig->settings({kDiagnosed}));
    }
};

TEST_F(PluginProcessLevelTest, OfflineRightAfterOpenRendersWhatTheBootPlays) {
    // Also with one boot step per display tick (an installer's settings to
    // merge): the render must not begin between the step that lets audio
    // through and the last one, which mutes and clears it once more.
    PluginRig stepwise;
    ASSERT_TRUE(stepwise.settings({kDiagnosed}));
    writeBytes(stepwise.folder() + "vorlan_installer.xml",
               readBytes(stepwise.folder() + "vorlan.xml"));
    CoreHost::CHANNELS const x = input(3 * CoreDemo::iCrate);
    for (PluginRig const* r : {rig, &stepwise}) {
        CoreHost::CHANNELS now, later;
        {
            CoreHost h(r->path(), CoreDemo::iCrate, 512);
            h.start();
            h.rendr(x, now, true);
            EXPECT_EQ(bootState(h), 1);
        }
        {
            CoreHost h(r->path(), CoreDemo::iCrate, 512);
            h.start();
            ASSERT_TRUE(h.wtupd(0, kWait));
            h.rendr(x, later, true);
        }
        double worst = 0.0, power = 0.0;
        for (int c = 0; c < 2; ++c)
            for (std::size_t k = 0; k < x[0].size(); ++k) {
                worst = std::fmax(worst, std::fabs(now[c][k] - later[c][k]));
                power += later[c][k] * later[c][k];
            }
        EXPECT_LT(worst, 1e-6) << r->folder();
        EXPECT_GT(power, 1.0); // the room, not a pass-through's silent lead-in
        EXPECT_EQ(logOf(*r).find(kExpired), std::string::npos);
    }
}

TEST_F(PluginProcessLevelTest, OtherLevelsPassTheInputThroughWhileTheBootRuns) {
    for (int level : {int(V::levelUnknown), int(V::levelRealtime)}) {
        CoreHost h(rig->path(), CoreDemo::iCrate, 512);
        h.setlv(level);
        h.start();
        long const latency = h.getdl();
        CoreHost::CHANNELS const x = input(int(latency) + 2000);
        CoreHost::CHANNELS y;
        h.rendr(x, y, true);
        ASSERT_EQ(bootState(h), 0) << level; // returned with the boot pending
        for (int c = 0; c < 2; ++c)
            for (long k = latency; k < long(x[0].size()); ++k)
                ASSERT_EQ(y[c][std::size_t(k)], x[c][std::size_t(k - latency)])
                    << level << " " << k;
    }
}

TEST_F(PluginProcessLevelTest, AFailedBootOrNoOpenEndsTheWaitUnlogged) {
    PluginRig broken;
    ASSERT_TRUE(broken.settings({kDiagnosed}));
    std::string const init = broken.folder() + CoreDemo::sCdatapath + CoreDemo::sCprograms +
                             CoreDemo::sCprogramfiles[CoreDemo::iCinit];
    std::string const whole = readBytes(init);
    writeBytes(init, whole.substr(0, whole.size() / 2));
    CoreHost::CHANNELS y;
    {
        CoreHost h(broken.path(), CoreDemo::iCrate, 512);
        h.start();
        h.rendr(input(2048), y, true);
        EXPECT_EQ(bootState(h), -1);
    }
    {
        // No open: no boot runs, and nothing waits for one.
        CoreHost h(rig->path(), CoreDemo::iCrate, 512);
        h.rendr(input(2048), y, true);
        EXPECT_GE(h.lvqry(), 1);
    }
    EXPECT_EQ(logOf(broken).find(kExpired), std::string::npos);
    EXPECT_EQ(logOf(*rig).find(kExpired), std::string::npos);
}

// The boot reads the init program's impulse from a pipe that gets a writer
// only once the waiting call has ended: the boot cannot end first.
TEST_F(PluginProcessLevelTest, CloseEndsAWaitingCall) {
    PluginRig stalled;
    ASSERT_TRUE(stalled.settings({kDiagnosed}));
    std::string const wav =
        stalled.folder() + CoreDemo::sCdatapath + CoreDemo::sCvectors + "INIT.WAV";
    std::string const bytes = readBytes(wav);
    ASSERT_EQ(std::remove(wav.c_str()), 0);
    ASSERT_EQ(mkfifo(wav.c_str(), 0600), 0);
    CoreHost host(stalled.path(), CoreDemo::iCrate, 512);
    CoreHost* h = &host;
    h->start();
    std::atomic<bool> returned{false}, closed{false};
    std::thread call([&] {
        CoreHost::CHANNELS y;
        h->rendr(input(512), y, true);
        returned.store(true);
    });
    std::thread feeder([&] {
        // The pipe's writer, once the call is over (or the boot never opened it).
        while (!returned.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        for (;;) {
            int const fd = ::open(wav.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
                ::close(fd);
                return;
            }
            if (closed.load()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    while (h->lvqry() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(bootState(*h), 0);
    EXPECT_FALSE(returned.load()); // the call waits for the stalled boot
    h->close();
    closed.store(true);
    call.join();
    feeder.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(logOf(stalled).find(kExpired), std::string::npos);
}

} // namespace
