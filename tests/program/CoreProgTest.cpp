// The program object: what construction builds and sets on its bus, what
// teardown releases (own and shared kernel caches, a build that fails half
// way), and the accessors over its state.
#include "program/CoreProg.h"

#include "engine/CorePlel.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreGfun.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"
#include "tests/program/ProgProbe.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

class CoreProgTest : public ::testing::Test {
protected:
    CorePool pool;
};

TEST_F(CoreProgTest, ConstructionSetsTheBusControlsAndDefaults) {
    ProgProbe p(&pool, 0);
    DataSrce* bus = p.getsr();
    EXPECT_EQ(bus->getis(83)->getvl(), 1.0); // ON
    for (int fixed : {0, 48, 49, 50, 51}) EXPECT_EQ(bus->getis(fixed)->getvl(), -1.0) << fixed;
    for (short i = 0; i < 8; ++i) {
        EXPECT_EQ(p.getmx(i)->getiv(true), 0.0);
        EXPECT_EQ(p.getmx(i)->getlb(), CoreAnsx("Mix ") + CoreAnsx(i + 1));
    }
    EXPECT_EQ(p.getif(8)->getiv(true), 1.0);
    EXPECT_EQ(p.getif(9)->getiv(true), 1.0);
    EXPECT_EQ(p.getif(9)->getlb(), CoreAnsx("Gain out"));
    EXPECT_EQ(bus->getsc("GAININ")->getvl(), 0.0); // nothing written until a program sets it
    // The function catalogue the modulators look up: unknown keys give each group's first entry.
    ASSERT_NE(p.getgf(), nullptr);
    EXPECT_EQ(p.getgf()->getgf(0, "sine")->getky(), CoreAnsx("Sine"));
    EXPECT_EQ(p.getgf()->getgf(1, "")->getky(), CoreAnsx("a"));
    // Capacity 0 still has the hybrid slot.
    EXPECT_EQ(p.cap(), 0);
    EXPECT_FALSE(p.slot(0).inuse);
    EXPECT_EQ(p.slot(0).leaves.mincapacity, CoreProg::iClistreserve);
    EXPECT_EQ(p.raw(3).name, CoreAnsx("RAW4"));
    EXPECT_EQ(p.raw(0).cores.mincapacity, CoreProg::iClistreserve);
    EXPECT_EQ(p.vectorFile(), CoreAnsx("0"));
    EXPECT_EQ(p.getpr(), -1);
    EXPECT_EQ(p.getof(), -1);
    EXPECT_EQ(p.getst(), -1);
    EXPECT_EQ(p.getpi(), 1.0);
    EXPECT_EQ(p.getpo(), 1.0);
    EXPECT_EQ(p.gethc(true), 0);
    EXPECT_FALSE(p.isqpr());
    EXPECT_TRUE(p.ownsCache());
}

TEST_F(CoreProgTest, FifthFollowerNeverWritesOff) {
    ProgProbe p(&pool);
    // Times on: the first four write EAT/ERT, the fifth has nowhere to write them.
    for (short i = 0; i < 5; ++i)
        p.getef(i)->setvl(1, 100, "", 1, 100, "", 0.0, 0, false, "", false, "", "", true, 44100.0,
                          false, "", "", false, 0.0, 2, "");
    for (int b = 0; b < 4; ++b) {
        for (int k = 0; k < 64; ++k) {
            p.setef(0.5 * b, 0.5 * b, 0.0, 0.0);
            p.setes(0.5 * b, 0.5 * b);
        }
        p.updte(true, 64.0, 0.5, 120.0);
        EXPECT_EQ(p.getsc("OFF"), -1.0) << b;
    }
    EXPECT_NE(p.getsc("EAT1"), 0.0);  // the first followers do write their times
    EXPECT_GT(p.getsc("EVF5"), -1.0); // fed by setes
    EXPECT_TRUE(p.isqpr());
}

TEST_F(CoreProgTest, SharedCacheOutlivesTheProgramAndOwnedOnesGo) {
    long const baseline = pool.getma();
    CorePlel shared(&pool);
    for (int round = 0; round < 100; ++round) {
        auto* own = new ProgProbe(&pool, static_cast<short>(round % 3));
        own->buildSlot(0, "MIX1", nullptr, 8);
        EXPECT_TRUE(own->ownsCache());
        delete own;
        auto* borrowing = new ProgProbe(&pool, 1, &shared);
        EXPECT_EQ(borrowing->kernelCache(), &shared);
        borrowing->buildSlot(1, "MIX1", nullptr, 8);
        EXPECT_EQ(shared.getnr(), 2); // both kernels registered in the borrowed cache
        delete borrowing;
    }
    EXPECT_EQ(shared.getnr(), 0);
    EXPECT_EQ(shared.getng(), 0); // empty groups dropped, the cache itself still here
    EXPECT_EQ(pool.getma(), baseline);
}

TEST_F(CoreProgTest, FailedBuildReleasesWhatItMade) {
    long const baseline = pool.getma();
    pool.setal(baseline + 64); // the followers' buffers do not fit
    int oldPause = CorePool::iVretrypause;
    CorePool::iVretrypause = 0;
    {
        LogCapture log;
        EXPECT_THROW(ProgProbe p(&pool), CoreAnsx);
    }
    CorePool::iVretrypause = oldPause;
    EXPECT_EQ(pool.getma(), baseline); // and LeakSanitizer checks the rest
}

TEST_F(CoreProgTest, SlotGettersReadZeroForUnusedSlotsAndOddSelectors) {
    ProgProbe p(&pool);
    ProgProbe::HLOC& h = p.slot(1);
    h.normallength = 100, h.extendedlength = 700, h.extendedfadeout = 40;
    h.normalfadeend = 11, h.normalbound = 12, h.extendedfadeend = 13, h.extendedbound = 14;
    for (int used : {0, 1}) {
        h.inuse = used != 0;
        int const got[] = {p.getco(1),           p.getts(1),          p.getib(1, 0, false),
                           p.getib(1, 1, false), p.getib(1, 0, true), p.getib(1, 1, true),
                           p.getod(1, 0),        p.getod(1, 1),       p.getib(1, 2, true),
                           p.getod(1, -1)};
        int const want[] = {40, 700, 11, 12, 13, 14, 100, 700, 0, 0};
        for (int i = 0; i < 10; ++i) EXPECT_EQ(got[i], want[i] * used) << i;
    }
    p.setv3(1, true);
    EXPECT_TRUE(h.changed && p.getv3(1));
    // Kernels are the root's output elements.
    CoreVctr* root = p.buildSlot(0, "MIX1", nullptr, 8);
    EXPECT_EQ(p.getli(0), root->getlc());
    EXPECT_EQ(p.getri(0), root->getrc());
    root->setsc();
    p.slot(0).secondleft = root->getls();
    p.setsp(1);
    EXPECT_EQ(root->getap(), 1);
    p.uload(); // nothing may keep pointing into the deleted tree
    EXPECT_TRUE(!p.getli(0) && !p.getls() && !p.slot(0).currentfade && !p.getus());
    p.setsp(0); // without a root: nothing to switch
    // Slot indices outside 0..capacity are refused, logged and answered with 0.
    LogCapture log;
    for (short bad : {short(-1), short(3)}) {
        EXPECT_EQ(p.getbr(bad), 0);
        EXPECT_EQ(p.getui(bad), nullptr);
        p.setco(bad, 5, true);
        p.setot(bad, 1);
    }
    EXPECT_NE(log.text().find("no kernel slot 3"), std::string::npos);
}

TEST_F(CoreProgTest, IndexedGettersGuardTheirRanges) {
    ProgProbe p(&pool);
    EXPECT_EQ(p.getpm(-1), nullptr);
    EXPECT_EQ(p.getpm(16), nullptr);
    CorePrm_* first = p.getpm(0);
    CorePrm_* last = p.getpm(15);
    EXPECT_EQ(p.setpm(16, first), 16);
    EXPECT_EQ(p.setpm(15, first), 15); // the replaced one is not deleted
    EXPECT_EQ(p.getpm(15), first);
    EXPECT_EQ(p.setpm(15, last), 15); // back, so each is deleted once
    EXPECT_EQ(p.getmx(8), nullptr);
    {
        LogCapture log;
        EXPECT_EQ(p.getif(10), nullptr);
        EXPECT_EQ(p.getif(-1), nullptr);
    }
    p.setct("Never", 3);
    EXPECT_EQ(p.getct(3), CoreAnsx(""));
    p.upsrc(84, 0.5); // outside the bus: ignored
    p.upsrc(-1, 0.5);
    p.upsrc(27, 0.5);
    EXPECT_EQ(p.getsc("LSTO"), 0.5);
}

TEST_F(CoreProgTest, SlotCountRespectsHdim) {
    ProgProbe p(&pool, 10);
    struct {
        short hdim, loaded, capped;
    } const cases[] = {{0, 5, 5}, {3, 5, 3}, {8, 5, 5}, {-2, 4, 4}};
    for (auto const& c : cases) {
        p.setsh(c.hdim);
        p.loaded() = c.loaded;
        EXPECT_EQ(p.gethc(false), c.capped);
        EXPECT_EQ(p.gethc(true), c.loaded);
    }
}

TEST_F(CoreProgTest, DerivedGainsFollowTheirControls) {
    ProgProbe p(&pool);
    // Trims: unity when the control reads zero, +96.32 dB at the top.
    EXPECT_EQ(p.getti(), 1.0);
    EXPECT_FALSE(p.hasti());
    p.trimIn()->setsr("ON", 0.0, 1.0);
    EXPECT_DOUBLE_EQ(p.getti(), 65463.61740672747);
    EXPECT_TRUE(p.hasti());
    p.trimOut()->setsr("-1", 0.0, 1.0); // a constant at the bottom: unity, and not active
    EXPECT_EQ(p.getto(), 1.0);
    EXPECT_FALSE(p.hasto());
    // Feedback and dry follow their sources.
    p.setff(0.5);
    p.setfs("MIX1");
    p.upsrc(19, 0.0); // MIX1 at mid-scale
    EXPECT_DOUBLE_EQ(p.getrf(), 0.25);
    EXPECT_TRUE(p.hasfb());
    EXPECT_EQ(p.getfs(), CoreAnsx("MIX1"));
    p.setdr(2.0);
    p.setys("MIX2");
    p.upsrc(20, 1.0);
    EXPECT_DOUBLE_EQ(p.getry(), 2.0);
    EXPECT_TRUE(p.hasdr());
    p.setar("MIX3");
    p.upsrc(21, -1.0);
    EXPECT_EQ(p.getaf(), 0.0);
    // Lookahead in samples, between 0 and the cap.
    struct {
        int rate;
        long us;
        double samples;
    } const cases[] = {
        {48000, 10000, 480.0}, {48000, 1000000, 4096.0}, {44100, -5, 0.0}, {0, 500, 0.0}};
    for (auto const& c : cases) {
        p.setrt(c.rate);
        p.setua(c.us);
        EXPECT_EQ(p.getab(), c.samples) << c.rate << " " << c.us;
    }
}

TEST_F(CoreProgTest, NameMarkAndHybridSwitch) {
    ProgProbe p(&pool, 2);
    p.setnm("Plate");
    EXPECT_TRUE(p.getnc());
    EXPECT_EQ(p.getnm(), CoreAnsx("Plate"));
    p.setvf("PLATE.V2V");
    EXPECT_FALSE(p.getnc());
    EXPECT_EQ(p.vectorFile(), CoreAnsx("PLATE.V2V"));

    // Switching off while already off still resets slot 0.
    ProgProbe::HLOC& head = p.slot(0);
    ProgProbe::HLOC& hybrid = p.slot(2);
    head.extendedlength = 900, head.extendedbound = 600, head.extended = true;
    p.setf2(true);
    p.setst(2);
    p.setfh(false);
    EXPECT_EQ(head.extendedlength, 600);
    EXPECT_FALSE(head.extended);
    EXPECT_FALSE(p.getf2());
    EXPECT_EQ(p.getst(), -1);
    EXPECT_TRUE(head.changed);
    EXPECT_FALSE(p.getfh());
    // Switching off from on with a hybrid slot hands its tail back to slot 0.
    p.setfh(true);
    EXPECT_TRUE(p.getfh());
    hybrid.inuse = true, hybrid.extendedlength = 4000, hybrid.extendedfadeout = 70;
    hybrid.extended = true, head.extended = true;
    p.setf2(true);
    p.setfh(false);
    EXPECT_EQ(head.extendedlength, 4000);
    EXPECT_EQ(head.extendedfadeout, 70);
    EXPECT_FALSE(head.extended || hybrid.extended || p.getf2());
}

TEST(CoreProgStatic, PolarityTest) {
    struct {
        std::vector<double> values;
        bool positive;
    } const cases[] = {{{0.5, -0.5}, false}, {{0.6, -0.5}, true}, {{-0.1, -0.9}, false},
                       {{0.0, 0.0}, false},  {{1e-9}, true},      {{}, false}};
    for (auto const& c : cases)
        EXPECT_EQ(CoreProg::inphs(c.values.data(), int(c.values.size())), c.positive);
    EXPECT_FALSE(CoreProg::inphs(nullptr, 3));
}

} // namespace
