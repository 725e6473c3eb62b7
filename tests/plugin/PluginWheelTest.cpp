// ctest-labels: threads
// The mouse wheel through the built plug-in, on both page sets, over a copy
// of the demo sweep with a second parameter row: the wheel moves the control
// of the parameter row last chosen on the program page, and nothing before a
// row is chosen, on another page or after a program change.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "runtime/CoreBnid.h"
#include "runtime/CoreButl.h"
#include "tests/plugin/PluginRig.h"
#include "tools/CoreDdoc.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {
using B = CoreBnid;
constexpr double kWait = 60.0; // s: generous for a loaded machine under the sanitizers
constexpr char const* kProg = "  ProgMode";

class PluginWheelTest : public PluginRigTest {
protected:
    // The sweep with a second row, "Second", carried by control 2 at 0.
    static bool writeSweep() {
        std::string const programs = rig->folder() + CoreDemo::sCdatapath + CoreDemo::sCprograms;
        CoreDdoc::PROGRAM p = CoreDemo::prgrm(CoreDemo::iCsweep);
        p.values.emplace_back("MIX2", "0");
        std::size_t const display = p.sections.find("</DISPLAY>");
        if (display == std::string::npos) return false;
        p.sections.insert(display, CoreDdoc::elmnt("PRM2", CoreDdoc::elmts({{"A", "MIX2"},
                                                                            {"FUN", "a"},
                                                                            {"LABEL", "Second"},
                                                                            {"PRELABEL", "2"}})));
        std::string const text = CoreDdoc::prgxm(p);
        std::string const file = programs + CoreDemo::sCprogramfiles[CoreDemo::iCsweep];
        return CoreButl::wrall(CoreAnsx(file.c_str()), text.data(), text.size());
    }
    // The host selects the program; true once its load has ended and the
    // program page shows its name.
    static bool select(CorePeer& p, int slot, char const* name) {
        int const seen = p.host().updts();
        p.host().slot_(slot);
        return p.host().wtupd(seen, kWait) &&
               CorePeer::until([&] { return p.large(1).rfind(name, 0) == 0; }, kWait);
    }
    static bool bypassed(CorePeer& p) { return p.bus(B::iCbypass, 'b').number != 0.0; }
    // A click on the program page's bypass toggle, waited for: the display
    // has taken the clicks posted before it, and waiting wheel steps, by then.
    static bool toggle(CorePeer& p, bool simple) {
        bool const was = bypassed(p);
        p.post(0, 51, simple ? 1 : 2);
        return CorePeer::until([&] { return bypassed(p) != was; }, kWait);
    }
    // Runs the steps: "click C R", "wheel N" (each then two bypass toggles),
    // "master" (the master page), "prog" (back to the program page),
    // "change" (another program, then the sweep again).
    static void act(CorePeer& p, bool simple, std::string const& steps) {
        std::istringstream list(steps);
        for (std::string step; std::getline(list, step, ';');) {
            std::istringstream words(step);
            std::string verb;
            int a = 0, b = 0;
            words >> verb >> a >> b;
            if (verb == "click") p.post(0, a, b);
            if (verb == "wheel") p.post(3, a);
            // Waited for on the program page; elsewhere the next page change waits.
            if ((verb == "click" || verb == "wheel") && p.titled(kProg)) {
                EXPECT_TRUE(toggle(p, simple) && toggle(p, simple)) << p.dump();
            }
            if (verb == "master" || verb == "prog") {
                std::size_t const at = p.row(13).find(verb == "master" ? "MAST" : "PROG");
                ASSERT_NE(at, std::string::npos) << p.dump();
                p.post(0, int(at) + 1, 13);
                char const* const title = verb == "master" ? "  MasterMode" : kProg;
                EXPECT_TRUE(CorePeer::until([&] { return p.titled(title); }, kWait)) << p.dump();
            }
            if (verb == "change") {
                EXPECT_TRUE(select(p, CoreDemo::iCroom, "Demo Room")) << p.dump();
                EXPECT_TRUE(select(p, CoreDemo::iCsweep, "Demo Sweep")) << p.dump();
            }
        }
    }
};

TEST_F(PluginWheelTest, MovesTheControlOfTheRowLastChosen) {
    struct CASE {
        char const* what;
        char const* before; // steps before the controls are read
        char const* steps;
        bool moved[2]; // controls 1 and 2 (parameter rows 1 and 2) moved
    } const cases[] = {
        {"no row chosen yet", "", "wheel 5", {false, false}},
        {"row 2 chosen", "click 2 10", "wheel 5", {false, true}},
        {"on the master page", "master", "wheel 5;prog", {false, false}},
        {"back on the program page", "", "wheel 5", {false, true}},
        {"after a program change", "change", "wheel 5", {false, false}},
        {"row 1 chosen", "click 2 9", "wheel -5", {true, false}},
    };
    ASSERT_TRUE(writeSweep());
    for (bool const simple : {false, true}) {
        ASSERT_TRUE(
            rig->settings({kDiagnosed, {"GUIRATE", "5000"}, {"MODE", simple ? " 0 " : ""}}));
        CorePeer peer(rig->path());
        ASSERT_TRUE(CorePeer::until([&] { return peer.titled(kProg); }, kWait)) << peer.dump();
        ASSERT_TRUE(select(peer, CoreDemo::iCsweep, "Demo Sweep")) << peer.dump();
        for (CASE const& c : cases) {
            act(peer, simple, c.before);
            double before[2], after[2];
            for (int k = 0; k < 2; ++k) before[k] = peer.bus(B::iCcontrol, 'd', k).number;
            act(peer, simple, c.steps);
            for (int k = 0; k < 2; ++k) after[k] = peer.bus(B::iCcontrol, 'd', k).number;
            for (int k = 0; k < 2; ++k)
                EXPECT_EQ(after[k] != before[k], c.moved[k])
                    << (simple ? "simple: " : "full: ") << c.what << ", control " << k + 1 << ": "
                    << before[k] << " -> " << after[k] << "\n"
                    << peer.dump();
        }
    }
}
} // namespace
