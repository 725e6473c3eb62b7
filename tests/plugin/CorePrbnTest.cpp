// The display's bus to the engine against the engine itself: every reader
// answers what the engine's accessor of the same name answers, index record
// included, and every writer lands where the engine's own would.
#include <gtest/gtest.h>

#include "engine/CorePlel.h"
#include "plugin/CorePpwr.h"
#include "plugin/CorePrbn.h"
#include "processing/CorePrcs.h"
#include "runtime/CoreBlnk.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "tests/plugin/PluginRig.h"

namespace {

TEST(CorePrbnTest, ForwardsEveryAccessorWordForWord) {
    PluginRig rig;
    CorePool pool;
    CorePlel cache(&pool);
    CoreBlnk blink;
    CoreFsys fsys(&pool);
    CorePrcs engine(&pool, CoreAnsx(rig.folder().c_str()), 44100, &blink, CoreAnsx("vorlan.so"),
                    false, false, &fsys, CoreAnsx("0"), false, &cache);
    ASSERT_FALSE(engine.fboot());
    CorePrbn bus(&engine);
    // Ids across the bus's kinds, with index records that select elements.
    struct Row {
        int id;
        int element;
        int subindex;
    } const rows[] = {{22, 0, 0},  {41, 0, 0},  {43, 0, 0},   {44, 0, 0},  {46, 0, 0},
                      {49, 0, 0},  {62, 0, 0},  {65, 0, 0},   {67, 0, 0},  {155, 3, 0},
                      {156, 2, 0}, {173, 0, 0}, {198, 5, 0},  {200, 1, 0}, {229, 4, 0},
                      {230, 1, 0}, {168, 0, 1}, {169, 5, -1}, {999, 0, 0}};
    for (Row const& r : rows) {
        CoreBean::BEANSTRUCT a{r.element, r.subindex};
        CorePrcs::BEANSTRUCT b{r.element, r.subindex};
        EXPECT_EQ(bus.getbb(r.id, &a), engine.getbb(r.id, &b)) << r.id;
        EXPECT_EQ(bus.getbh(r.id, &a), engine.getbh(r.id, &b)) << r.id;
        EXPECT_EQ(bus.getbi(r.id, &a), engine.getbi(r.id, &b)) << r.id;
        EXPECT_EQ(bus.getbl(r.id, &a), engine.getbl(r.id, &b)) << r.id;
        EXPECT_EQ(bus.getbd(r.id, &a), engine.getbd(r.id, &b)) << r.id;
        EXPECT_EQ(bus.getbs(r.id, &a), engine.getbs(r.id, &b)) << r.id;
        EXPECT_EQ(a.element, r.element); // the record is never written
        EXPECT_EQ(a.subindex, r.subindex);
    }
    EXPECT_EQ(bus.getbs(62, nullptr), engine.getbs(62, nullptr));
    // Writers: an interface control, a short and a long setting and the batch
    // variables read back.
    CoreBean::BEANSTRUCT control{2, 0};
    CorePrcs::BEANSTRUCT same{2, 0};
    bus.setbd(156, 0.25, &control);
    EXPECT_EQ(bus.getbd(156, &control), engine.getbd(156, &same));
    bus.setbh(45, 3, nullptr);
    EXPECT_EQ(engine.getbh(45, nullptr), 3);
    bus.setbl(30, 5000, nullptr);
    EXPECT_EQ(engine.getbl(30, nullptr), 5000);
    bus.setbb(53, true, nullptr);
    EXPECT_TRUE(engine.getbb(53, nullptr));
    bus.setbb(53, false, nullptr);
    EXPECT_FALSE(engine.getbb(53, nullptr));
    bus.setmt(2, true);
    short const levels[] = {-1, 0, 1, 2, 3, 4, 5};
    for (short l : levels) EXPECT_EQ(bus.gettp(l), CorePrcs::gettp(l));
    // Without an engine every reader answers the bus's default.
    CorePrbn none(nullptr);
    EXPECT_FALSE(none.getbb(41, nullptr));
    EXPECT_EQ(none.getbi(67, nullptr), 0);
    EXPECT_EQ(none.getbs(62, nullptr), CoreAnsx(""));
    none.setbi(88, 1, nullptr);
}

// The host's bank select on the bridge: controller 32 on any channel picks
// banks 0 to 99; other messages and banks out of range leave it.
TEST(CorePrbnTest, BankSelectPicksTheCurrentBank) {
    CorePpwr bridge(nullptr, nullptr);
    EXPECT_EQ(bridge.getbn(), 0);
    struct Row {
        unsigned char status, data1, data2;
        int bank;
    } const rows[] = {{0xB0, 32, 7, 7},  {0xB3, 32, 99, 99}, {0xB0, 32, 100, 99}, {0xB0, 0, 5, 99},
                      {0x90, 32, 3, 99}, {0xF0, 32, 3, 99},  {0xC0, 32, 3, 99},   {0xBF, 32, 0, 0}};
    for (Row const& r : rows) {
        bridge.midi_(r.status, r.data1, r.data2, 0);
        EXPECT_EQ(bridge.getbn(), r.bank) << int(r.status) << " " << int(r.data2);
    }
}

} // namespace
