// The modulator section readers: each PRM, ENV, DNM and EVF fragment
// configures its modulator as read back through the modulator's getters
// ("0" as absent, "0.0" as a zero, times at the program rate, saturation),
// and a failing reader logs the tag and leaves its modulator alone.
#include "program/CoreProg.h"

#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "tests/program/ProgProbe.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The section element of a fragment ("<EVF1>...</EVF1>" given its inside).
struct Section {
    explicit Section(std::string const& inside, char const* tag = "S") {
        std::string const t(tag);
        node = xml.getfc(CoreAnsx(("<" + t + ">" + inside + "</" + t + ">").c_str()))->getcd();
    }
    CoreXml_ xml;
    CoreNode* node = nullptr;
};

std::string el(std::string const& tag, std::string const& v) {
    return "<" + tag + ">" + v + "</" + tag + ">";
}

class CoreProgSectTest : public ::testing::Test {
protected:
    void SetUp() override { p.setrt(44100); }
    CorePool pool;
    ProgProbe p{&pool};
};

TEST_F(CoreProgSectTest, PrmSectionsAsTheTableSays) {
    struct Row {
        std::string xml;
        bool shown; // labelled and visible
        char const* label;
        double min, max, barmin, barmax;
    } const rows[] = {
        {el("A", "LFO1") + el("FUN", "a"), false, "", 0, 0, 0, 0},
        {el("LABEL", "Lvl") + el("MINVALUE", "2") + el("MAXVALUE", "5"), true, "Lvl", 2, 5, 2, 5},
        {el("LABEL", "L") + el("VISIBLE", "0"), true, "L", 0, 0, 0, 0},
        {el("LABEL", "L") + el("VISIBLE", "0.0"), false, "L", 0, 0, 0, 0},
        {el("LABEL", "L") + el("VISIBLE", "1"), true, "L", 0, 0, 0, 0},
        {el("LABEL", "L") + el("VISIBLE", "nan"), true, "L", 0, 0, 0, 0},
        {el("LABEL", "0") + el("MAXVALUE", "inf") + el("BARMINVALUE", "-1"), false, "", 0, 0, -1,
         0},
    };
    for (Row const& r : rows) {
        Section s(r.xml);
        CorePrm_* prm = p.getpm(0);
        p.dsprm(s.node, prm);
        EXPECT_EQ(prm->isdis(), r.shown) << r.xml;
        EXPECT_EQ(prm->getlb(), CoreAnsx(r.label)) << r.xml;
        EXPECT_EQ(prm->getmn(), r.min) << r.xml;
        EXPECT_EQ(prm->getmx(), r.max) << r.xml;
        EXPECT_EQ(prm->getbn(), r.barmin) << r.xml;
        EXPECT_EQ(prm->getbx(), r.barmax) << r.xml;
    }
    Section s(el("A", "LFO1") + el("B", "0") + el("PREUNIT", " x ") + el("POSTUNIT", "dB"));
    p.dsprm(s.node, p.getpm(1));
    EXPECT_EQ(p.getpm(1)->getfa()->getsc(), CoreAnsx("LFO1"));
    EXPECT_EQ(p.getpm(1)->getfb()->getsc(), CoreAnsx(""));
    EXPECT_EQ(p.getpm(1)->getpu(), CoreAnsx("x"));
    EXPECT_EQ(p.getpm(1)->getou(), CoreAnsx("dB"));
}

TEST_F(CoreProgSectTest, EnvSectionsConvertTimesAndSurviveMissingParts) {
    std::string const full =
        el("CONTROL", el("ACTIVSOURCE", "MIX1") + el("DEACTIVSOURCE", "MIX2")) +
        el("LEVEL", el("START", "0.1") + el("ATTACK", "1") + el("BREAK", "0.5") +
                        el("SUSTAIN", "0.25") +
                        el("COMMON", el("MODFACTOR", "2") + el("MODSOURCE", "LFO1"))) +
        el("TIME", el("ATTACK", "1000") + el("DECAY", "1000.9") + el("SLOPE", "0.5") +
                       el("RELEASE", "-5") + el("COMMON", el("MODFACTOR", "3"))) +
        el("CURVE",
           el("ATTACK", "2") + el("DECAY", "99999") + el("SLOPE", "-99999") + el("RELEASE", "1.7"));
    struct Row {
        std::string xml;
        double levels[4];
        int times[4];
        short curves[4];
        double levelfactor, timefactor;
        char const* activation;
    } const rows[] = {
        {full, {0.1, 1, 0.5, 0.25}, {44, 44, 0, -5}, {2, 32767, -32768, 1}, 2, 3, "MIX1"},
        {el("CONTROL", el("ACTIVSOURCE", "MIX3")), {}, {}, {}, 0, 0, "MIX3"},
        {el("TIME", el("ATTACK", "2000")), {}, {88, 0, 0, 0}, {}, 0, 0, ""},
        {el("OTHER", "1"), {}, {}, {}, 0, 0, ""},
    };
    for (Row const& r : rows) {
        Section s(r.xml);
        CoreEnv_* env = p.geten(0);
        p.envlp(s.node, env);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(env->getlv()[k], r.levels[k]) << k << r.xml;
            EXPECT_EQ(env->gettm()[k], r.times[k]) << k << r.xml;
            EXPECT_EQ(env->getcv()[k], r.curves[k]) << k << r.xml;
        }
        EXPECT_EQ(env->getlf(), r.levelfactor) << r.xml;
        EXPECT_EQ(env->gettf(), r.timefactor) << r.xml;
        EXPECT_EQ(env->getpr(0)->getsc(), CoreAnsx(r.activation)) << r.xml;
    }
}

TEST_F(CoreProgSectTest, DnmSectionsPickModeKeyAndCurve) {
    struct Row {
        std::string xml;
        short mode; // 0 compressor
        char const* ratio;
        short curve; // getrc: curve + 1, 0 none
    } const rows[] = {
        {el("RATIOCOMSOURCE", "LFO1") + el("RATIOEXPSOURCE", "LFO2"), 0, "LFO1", 0},
        {el("RATIOEXPSOURCE", "LFO2") + el("RATIOCURVE", "3"), 1, "LFO2", 3},
        {el("RATIOCOMSOURCE", "0") + el("RATIOCURVE", "0"), 0, "", 0},
        {el("RATIOCURVE", "-2"), 0, "", 0},
        {el("RATIOCURVE", "1"), 0, "", 1},
        {el("RATIOCURVE", "70000"), 0, "", CoreDynm::iCmaxratiocurve + 1},
    };
    for (Row const& r : rows) {
        Section s(el("THRESHOLDSOURCE", "MIX1") + el("INPUTSOURCE", "EVF1") +
                  el("RANGELIMIT", "12") + el("GAINPADFACTOR", "-3") + r.xml);
        CoreDynm* d = p.getdy(1);
        p.dynam(s.node, d);
        EXPECT_EQ(d->getst(), r.mode) << r.xml;
        EXPECT_EQ(d->getbs(2), CoreAnsx(r.ratio)) << r.xml;
        EXPECT_EQ(d->getrc(), r.curve) << r.xml;
        EXPECT_EQ(d->getbs(0), CoreAnsx("MIX1"));
        EXPECT_EQ(d->getbs(1), CoreAnsx("EVF1"));
        EXPECT_EQ(d->getbd(3), 12.0);
        EXPECT_EQ(d->getbd(4), -3.0);
    }
}

TEST_F(CoreProgSectTest, EvfSectionsDeriveFlagsAndTheFifthFollower) {
    struct Row {
        std::string xml;
        bool fifth;
        int minattack;
        short mode;
        bool bus, delta, outputs, highpass, times;
        double frequency;
        int order;
    } const rows[] = {
        {el("MINATTACK", "1000") + el("EXP", "3"), false, 44, 3, false, false, false, false, false,
         0, 1},
        {el("MINATTACK", "1000.9") + el("EXP", "3"), true, 44, 9, false, false, false, false, false,
         0, 1},
        {el("MINATTACK", "0") + el("FILTERFREQUENCY", "500") + el("FILTERORDER", "4"), false, 0, 0,
         false, false, false, false, false, 0, 1},
        {el("MINATTACK", "-5") + el("FILTERSOURCE", "LFO1") + el("FILTERFREQUENCY", "500") +
             el("FILTERORDER", "0"),
         false, -5, 0, false, false, false, true, false, 500, 1},
        {el("FILTERSOURCE", "LFO1") + el("FILTERORDER", "4") + el("BUSBALANCESOURCE", "off") +
             el("DATTACKSOURCE", "LFO1") + el("ENABLEEATERT", "0.0"),
         false, 0, 0, true, false, false, true, false, 0, 4},
        {el("DATTACKSOURCE", "LFO1") + el("DRELEASESOURCE", "LFO2") + el("OATTACKSOURCE", "LFO3") +
             el("ORELEASESOURCE", "LFO4") + el("ENABLEEATERT", "1") + el("EXP", "99999"),
         false, 0, 32767, false, true, true, false, true, 0, 1},
    };
    for (Row const& r : rows) {
        Section s(r.xml);
        CoreEnvf* f = p.getef(r.fifth ? 4 : 0);
        p.envfl(s.node, f, r.fifth);
        EXPECT_EQ(f->getma(), r.minattack) << r.xml;
        EXPECT_EQ(f->getex(), r.mode) << r.xml;
        EXPECT_EQ(f->bbsrc(), r.bus) << r.xml;
        EXPECT_EQ(f->dsrc_(), r.delta) << r.xml;
        EXPECT_EQ(f->osrc_(), r.outputs) << r.xml;
        EXPECT_EQ(f->hpsrc(), r.highpass) << r.xml;
        EXPECT_EQ(f->enabt(), r.times) << r.xml;
        EXPECT_EQ(f->gethf(), r.frequency) << r.xml;
        EXPECT_EQ(f->getho(), r.order) << r.xml;
    }
    EXPECT_EQ(p.getef(0)->getbb(), CoreAnsx("OFF"));
    EXPECT_EQ(p.getef(0)->getoa(), CoreAnsx("LFO3"));
}

TEST_F(CoreProgSectTest, FailuresLogTheTagAndTouchNothing) {
    LogCapture log;
    Section s(el("MINATTACK", "1000"));
    EXPECT_THROW(p.envfl(s.node, nullptr, false), CoreAnsx);
    EXPECT_THROW(p.dsprm(nullptr, p.getpm(2)), CoreAnsx);
    EXPECT_THROW(p.envlp(s.node, nullptr), CoreAnsx);
    EXPECT_THROW(p.dynam(nullptr, p.getdy(0)), CoreAnsx);
    EXPECT_FALSE(p.getpm(2)->isdis());
    EXPECT_EQ(p.getdy(0)->getbs(1), CoreAnsx(""));
    std::string const text = log.text();
    for (char const* line :
         {"Error in tag EVF", "Error in tag PRM", "Error in tag ENV", "Error in tag DNM"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    Section inf(el("LABEL", "L") + el("MINVALUE", "-inf"));
    p.dsprm(inf.node, p.getpm(3));
    EXPECT_EQ(p.getpm(3)->getmn(), 0.0);
    EXPECT_NE(log.text().find("No finite number in MINVALUE"), std::string::npos);
}

} // namespace
