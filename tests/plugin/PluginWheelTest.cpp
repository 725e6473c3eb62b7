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
constexpr double kWait = 60.0; // s: generous for a loaded machine under the sanitizers

class PluginWheelTest : public PluginRigTest {};

// The host selects the demo program; true once it is loaded and named on the program page.
bool select(CorePeer& p, int slot) {
    std::string const name = CoreDemo::prgrm(slot).name;
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
        "<PRM2><A>MIX2</A><FUN>a</FUN><LABEL>Second</LABEL><PRELABEL>2</PRELABEL></PRM2>");
    writeBytes(rig->folder() + CoreDemo::sCdatapath + CoreDemo::sCprograms + "SWEEP.XML",
               CoreDdoc::prgxm(sweep));
    // A click (0, at column and row) or wheel step (3) posted, a page key, or
    // another program and the sweep again; then which controls moved (bit 0
    // for 1, -1 not looked at). The wheel moves nothing before a row is
    // chosen, row 2's once chosen, nothing on the master page, row 2's again
    // back on the program page, nothing after a program change, and row 1's
    // once chosen.
    enum { CLICK = 0, WHEEL = 3, MASTER, PROG, CHANGE };
    int const steps[][4] = {{WHEEL, 5, 0, 0},  {CLICK, 2, 10, 0},  {WHEEL, 5, 0, 2},
                            {MASTER, 0, 0, 0}, {WHEEL, 5, 0, 0},   {PROG, 0, 0, 0},
                            {WHEEL, 5, 0, 2},  {CHANGE, 0, 0, -1}, {WHEEL, 5, 0, 0},
                            {CLICK, 2, 9, 0},  {WHEEL, -5, 0, 1}};
    for (std::string const mode : {"", " 0 "}) { // the full page set, then the simple one
        ASSERT_TRUE(rig->settings({kDiagnosed, {"GUIRATE", "5000"}, {"MODE", mode}}));
        CorePeer p(rig->path());
        ASSERT_TRUE(CorePeer::until([&] { return p.titled("  ProgMode"); }, kWait) &&
                    select(p, CoreDemo::iCsweep));
        // A click on the program page's bypass toggle (row 1 of the simple set,
        // 2 of the full), waited for: by then the display has taken the clicks
        // and wheel steps posted before it.
        auto bypass = [&](bool on) {
            p.post(0, 51, mode.empty() ? 2 : 1);
            return CorePeer::until([&] { return p.bus(CoreBnid::iCbypass, 'b').number == on; },
                                   kWait);
        };
        auto control = [&](int k) { return p.bus(CoreBnid::iCcontrol, 'd', k).number; };
        for (auto const& [what, a, b, moved] : steps) {
            double const before[2] = {control(0), control(1)};
            if (what <= WHEEL) p.post(what, a, b);
            EXPECT_TRUE(what > WHEEL || !p.titled("  ProgMode") || (bypass(true) && bypass(false)));
            char const* const title = what == MASTER ? "  MasterMode" : "  ProgMode";
            if (what == MASTER || what == PROG) { // the page key at the foot
                p.post(0, int(p.row(13).find(what == MASTER ? "MAST" : "PROG")) + 1, 13);
                EXPECT_TRUE(CorePeer::until([&] { return p.titled(title); }, kWait));
            }
            EXPECT_TRUE(what != CHANGE ||
                        (select(p, CoreDemo::iCroom) && select(p, CoreDemo::iCsweep)));
            for (int k = 0; k < 2 && moved >= 0; ++k)
                EXPECT_EQ(control(k) != before[k], (moved >> k) & 1)
                    << "MODE '" << mode << "' " << what << " " << a << " " << p.dump();
        }
    }
}
} // namespace
