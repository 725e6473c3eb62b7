// ctest-labels: threads
// The mouse wheel through the built plug-in, on both page sets, over the demo
// sweep with a second parameter row: the wheel moves the control of the row
// last chosen on the program page, and nothing before a row is chosen, on
// another page or after a program change.
#include <gtest/gtest.h>

#include <string>

#include "runtime/CoreBnid.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/FileBytes.h"
#include "tools/CoreDdoc.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {
using B = CoreBnid;
constexpr double kWait = 60.0; // s: generous for a loaded machine under the sanitizers
constexpr char const* kProg = "  ProgMode";

class PluginWheelTest : public PluginRigTest {};

// The host selects the program; true once it is loaded and named on the program page.
bool select(CorePeer& p, int slot, char const* name) {
    int const seen = p.host().updts();
    p.host().slot_(slot);
    return p.host().wtupd(seen, kWait) &&
           CorePeer::until([&] { return p.large(1).rfind(name, 0) == 0; }, kWait);
}

TEST_F(PluginWheelTest, MovesTheControlOfTheRowLastChosen) {
    // The sweep with a second row, "Second", carried by control 2 at 0.
    CoreDdoc::PROGRAM sweep = CoreDemo::prgrm(CoreDemo::iCsweep);
    sweep.values.emplace_back("MIX2", "0");
    sweep.sections.insert(
        sweep.sections.find("</DISPLAY>"),
        CoreDdoc::elmnt(
            "PRM2", CoreDdoc::elmts(
                        {{"A", "MIX2"}, {"FUN", "a"}, {"LABEL", "Second"}, {"PRELABEL", "2"}})));
    writeBytes(rig->folder() + CoreDemo::sCdatapath + CoreDemo::sCprograms +
                   CoreDemo::sCprogramfiles[CoreDemo::iCsweep],
               CoreDdoc::prgxm(sweep));
    // A click (0) or wheel step (3) posted, a page key at the foot, or another
    // program and the sweep again; whether controls 1 and 2 moved with it.
    struct STEP {
        std::string what;
        int a, b;
        bool moved[2];
    } const steps[] = {
        {"3", 5, 0, {false, false}},                                 // no row chosen yet
        {"0", 2, 10, {false, false}},    {"3", 5, 0, {false, true}}, // row 2 chosen
        {"MAST", 0, 0, {false, false}},  {"3", 5, 0, {false, false}},
        {"PROG", 0, 0, {false, false}},  {"3", 5, 0, {false, true}},
        {"change", 0, 0, {false, true}}, // the sweep loaded again puts control 2 back
        {"3", 5, 0, {false, false}},     // and no row is chosen
        {"0", 2, 9, {false, false}},     {"3", -5, 0, {true, false}}, // row 1 chosen
    };
    for (bool const simple : {false, true}) {
        ASSERT_TRUE(
            rig->settings({kDiagnosed, {"GUIRATE", "5000"}, {"MODE", simple ? " 0 " : ""}}));
        CorePeer p(rig->path());
        ASSERT_TRUE(CorePeer::until([&] { return p.titled(kProg); }, kWait) &&
                    select(p, CoreDemo::iCsweep, "Demo Sweep"))
            << p.dump();
        // A click on the program page's bypass toggle, waited for: by then the
        // display has taken the clicks and wheel steps posted before it.
        auto toggle = [&] {
            bool const was = p.bus(B::iCbypass, 'b').number != 0.0;
            p.post(0, 51, simple ? 1 : 2);
            return CorePeer::until([&] { return (p.bus(B::iCbypass, 'b').number != 0.0) != was; },
                                   kWait);
        };
        for (STEP const& s : steps) {
            double const before[2] = {p.bus(B::iCcontrol, 'd', 0).number,
                                      p.bus(B::iCcontrol, 'd', 1).number};
            if (s.what.size() == 1) p.post(std::stoi(s.what), s.a, s.b);
            if (s.what.size() == 1 && p.titled(kProg)) EXPECT_TRUE(toggle() && toggle());
            if (s.what.size() == 4) { // waited for on the page it leads to
                std::size_t const at = p.row(13).find(s.what);
                ASSERT_NE(at, std::string::npos) << p.dump();
                p.post(0, int(at) + 1, 13);
                EXPECT_TRUE(CorePeer::until(
                    [&] { return p.titled(s.what == "MAST" ? "  MasterMode" : kProg); }, kWait));
            }
            if (s.what == "change")
                EXPECT_TRUE(select(p, CoreDemo::iCroom, "Demo Room") &&
                            select(p, CoreDemo::iCsweep, "Demo Sweep"));
            for (int k = 0; k < 2; ++k)
                EXPECT_EQ(p.bus(B::iCcontrol, 'd', k).number != before[k], s.moved[k])
                    << simple << " " << s.what << " " << s.a << ", control " << k + 1 << "\n"
                    << p.dump();
        }
    }
}
} // namespace
