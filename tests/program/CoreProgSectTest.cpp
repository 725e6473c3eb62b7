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
#include "tests/program/ProgProbe.h"
#include "tests/support/DataKit.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

constexpr auto EL = &kitEl;

// Each reader's rows: the section's inside and the state it must leave,
// rendered by the test's describe().
struct Row {
    std::string xml;
    std::string state;
};

class CoreProgSectTest : public ::testing::Test {
protected:
    void SetUp() override { p.setrt(44100); }
    template <typename Read, typename Describe>
    void check(std::initializer_list<Row> rows, Read read, Describe describe) {
        for (Row const& r : rows) {
            KitNode s(EL("S", r.xml));
            read(s.node);
            EXPECT_EQ(describe(), r.state) << r.xml;
        }
    }
    CorePool pool;
    ProgProbe p{&pool};
};

template <typename... T> std::string line(T const&... v) {
    std::ostringstream out;
    ((out << v << ' '), ...);
    return out.str();
}

TEST_F(CoreProgSectTest, PrmSections) {
    CorePrm_* m = p.getpm(0);
    // shown (labelled and visible), label, A key, pre-unit, min, max, bar min, bar max
    auto describe = [m] {
        return line(m->isdis(), m->getlb().c_str(), m->getfa()->getsc().c_str(), m->getpu().c_str(),
                    m->getmn(), m->getmx(), m->getbn(), m->getbx());
    };
    check(
        {{EL("A", "LFO1") + EL("FUN", "a"), "0  LFO1  0 0 0 0 "},
         {EL("LABEL", "L") + EL("MINVALUE", "2") + EL("MAXVALUE", "5"), "1 L   2 5 2 5 "},
         {EL("LABEL", "L") + EL("VISIBLE", "0") + EL("PREUNIT", " x "), "1 L  x 0 0 0 0 "},
         {EL("LABEL", "L") + EL("VISIBLE", "0.0"), "0 L   0 0 0 0 "},
         {EL("LABEL", "L") + EL("VISIBLE", "nan"), "1 L   0 0 0 0 "},
         {EL("LABEL", "0") + EL("MAXVALUE", "inf") + EL("BARMINVALUE", "-1"), "0    0 0 -1 0 "}},
        [&](CoreNode* s) { p.dsprm(s, m); }, describe);
}

TEST_F(CoreProgSectTest, EnvSections) {
    CoreEnv_* m = p.geten(0);
    // activation key, levels, times (samples), curves, level and time factors
    auto describe = [m] {
        std::ostringstream out;
        out << m->getpr(0)->getsc().c_str() << ' ';
        for (int k = 0; k < 4; ++k)
            out << m->getlv()[k] << '/' << m->gettm()[k] << '/' << m->getcv()[k] << ' ';
        return out.str() + line(m->getlf(), m->gettf());
    };
    std::string const full =
        EL("CONTROL", EL("ACTIVSOURCE", "MIX1")) +
        EL("LEVEL",
           EL("START", "0.1") + EL("SUSTAIN", "0.25") + EL("COMMON", EL("MODFACTOR", "2"))) +
        EL("TIME", EL("ATTACK", "1000") + EL("DECAY", "1000.9") + EL("SLOPE", "0.5") +
                       EL("RELEASE", "-5") + EL("COMMON", EL("MODFACTOR", "3"))) +
        EL("CURVE", EL("ATTACK", "2") + EL("DECAY", "99999") + EL("SLOPE", "-99999"));
    check(
        {{full, "MIX1 0.1/44/2 0/44/32767 0/0/-32768 0.25/-5/0 2 3 "},
         {EL("TIME", EL("ATTACK", "2000")), " 0/88/0 0/0/0 0/0/0 0/0/0 0 0 "},
         {EL("OTHER", "1"), " 0/0/0 0/0/0 0/0/0 0/0/0 0 0 "}},
        [&](CoreNode* s) { p.envlp(s, m); }, describe);
}

TEST_F(CoreProgSectTest, DnmSections) {
    CoreDynm* m = p.getdy(1);
    // mode (0 compressor), ratio key, getrc (curve + 1), threshold and input keys, range, pad
    auto describe = [m] {
        return line(m->getst(), m->getbs(2).c_str(), m->getrc(), m->getbs(0).c_str(),
                    m->getbs(1).c_str(), m->getbd(3), m->getbd(4));
    };
    std::string const common = EL("THRESHOLDSOURCE", "MIX1") + EL("INPUTSOURCE", "EVF1") +
                               EL("RANGELIMIT", "12") + EL("GAINPADFACTOR", "-3");
    check(
        {{common + EL("RATIOCOMSOURCE", "LFO1") + EL("RATIOEXPSOURCE", "LFO2"),
          "0 LFO1 0 MIX1 EVF1 12 -3 "},
         {EL("RATIOEXPSOURCE", "LFO2") + EL("RATIOCURVE", "3"), "1 LFO2 3   0 0 "},
         {EL("RATIOCOMSOURCE", "0") + EL("RATIOCURVE", "0"), "0  0   0 0 "},
         {EL("RATIOCURVE", "-2"), "0  0   0 0 "},
         {EL("RATIOCURVE", "1"), "0  1   0 0 "},
         {EL("RATIOCURVE", "70000"), "0  9   0 0 "}},
        [&](CoreNode* s) { p.dynam(s, m); }, describe);
}

TEST_F(CoreProgSectTest, EvfSectionsAndTheFifthFollower) {
    CoreEnvf* m = p.getef(0);
    bool fifth = false;
    // min attack (samples), mode, flags bus/D/O/high-pass/EAT-ERT, frequency, order
    auto describe = [m] {
        return line(m->getma(), m->getex(), m->bbsrc(), m->dsrc_(), m->osrc_(), m->hpsrc(),
                    m->enabt(), m->gethf(), m->getho());
    };
    auto read = [&](CoreNode* s) { p.envfl(s, m, fifth); };
    check(
        {{EL("MINATTACK", "1000") + EL("EXP", "3"), "44 3 0 0 0 0 0 0 1 "},
         {EL("MINATTACK", "0") + EL("FILTERFREQUENCY", "500") + EL("FILTERORDER", "4"),
          "0 0 0 0 0 0 0 0 1 "},
         {EL("MINATTACK", "-5") + EL("FILTERSOURCE", "LFO1") + EL("FILTERFREQUENCY", "500") +
              EL("FILTERORDER", "0"),
          "-5 0 0 0 0 1 0 500 1 "},
         {EL("FILTERSOURCE", "LFO1") + EL("FILTERORDER", "4") + EL("BUSBALANCESOURCE", "off") +
              EL("DATTACKSOURCE", "LFO1") + EL("ENABLEEATERT", "0.0"),
          "0 0 1 0 0 1 0 0 4 "},
         {EL("DATTACKSOURCE", "LFO1") + EL("DRELEASESOURCE", "LFO2") + EL("OATTACKSOURCE", "LFO3") +
              EL("ORELEASESOURCE", "LFO4") + EL("ENABLEEATERT", "1") + EL("EXP", "99999"),
          "0 32767 0 1 1 0 1 0 1 "}},
        read, describe);
    // The first follower's section read for the fifth: mode 9, the rest as read.
    fifth = true;
    check({{EL("MINATTACK", "1000.9") + EL("EXP", "3") + EL("DATTACKSOURCE", "A") +
                EL("DRELEASESOURCE", "B"),
            "44 9 0 1 0 0 0 0 1 "}},
          read, describe);
}

TEST_F(CoreProgSectTest, FailuresLogTheTagAndTouchNothing) {
    LogCapture log;
    KitNode s(EL("S", EL("MINATTACK", "1000")));
    EXPECT_THROW(p.envfl(s.node, nullptr, false), CoreAnsx);
    EXPECT_THROW(p.dsprm(nullptr, p.getpm(2)), CoreAnsx);
    EXPECT_THROW(p.envlp(s.node, nullptr), CoreAnsx);
    EXPECT_THROW(p.dynam(nullptr, p.getdy(0)), CoreAnsx);
    EXPECT_FALSE(p.getpm(2)->isdis());
    EXPECT_EQ(p.getdy(0)->getbs(1), CoreAnsx(""));
    KitNode inf(EL("S", EL("MAXVALUE", "inf")));
    p.dsprm(inf.node, p.getpm(3));
    EXPECT_EQ(p.getpm(3)->getmx(), 0.0);
    for (char const* text : {"Error in tag EVF", "Error in tag PRM", "Error in tag ENV",
                             "Error in tag DNM", "No finite number in MAXVALUE"})
        EXPECT_NE(log.text().find(text), std::string::npos) << text;
}

} // namespace
