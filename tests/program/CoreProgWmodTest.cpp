// The modulator section writers against the section readers: a program whose
// modulators exercise every corner is written, the text parsed as the engine
// parses it and read into a second program; every getter agrees and the
// second program writes the same bytes. Then the shape of what is written.
#include "program/CoreProg.h"

#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "runtime/CoreButl.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "tests/program/ProgProbe.h"
#include "tests/program/ProgRecord.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

namespace {

using WRITER = void (CoreProg::*)(CoreXml_*);

// Every getter, as the whole-program round trip compares them.
ProgRecord state(ProgProbe& p) { return recordOf(p); }

// The six writers on a document holding only a NAME, as compact text.
std::string written(ProgProbe& p, std::string const& start = "<PROGRAM><NAME>x</NAME></PROGRAM>") {
    CoreXml_ doc;
    doc.getfc(start.c_str());
    for (WRITER w : {&CoreProg::chglf, &CoreProg::chgfn, &CoreProg::chgef, &CoreProg::chgen,
                     &CoreProg::chgdy, &CoreProg::chgpt})
        (p.*w)(&doc);
    return doc.settc(false, false).c_str();
}

// The text read back into p: the section readers, and LFO and FUN as the
// program reader applies them.
void readBack(ProgProbe& p, std::string const& text) {
    CoreXml_ doc;
    doc.getfc(text.c_str());
    CoreNode* g = doc.getrt()->getcd("PROGRAM");
    auto sec = [](CoreNode* n, std::string const& tag) { return n->getcd(tag.c_str()); };
    auto num = [](CoreNode* s, char const* tag) { return CoreNode::gtnld(s, tag, 0); };
    auto txt = [](CoreNode* s, char const* tag) { return CoreNode::gtnls(s, tag, ""); };
    for (short i = 0; i < 4; ++i) {
        CoreNode* s = sec(g, "LFO" + std::to_string(i + 1));
        p.getlf(i)->setvl(num(s, "MINRATE"), num(s, "MAXRATE"), num(s, "RATEQUANTIZE"),
                          txt(s, "SOURCE"), txt(s, "SHAPE"), num(s, "PHASEFACTOR"),
                          txt(s, "PHASESOURCE"));
    }
    for (short i = 0; i < 8; ++i) {
        CoreNode* s = sec(g, "FUN" + std::to_string(i + 1));
        p.getfn(i)->setvl(txt(s, "A"), txt(s, "B"), txt(s, "FUN"));
    }
    for (short i = 0; i < 5; ++i) p.envfl(sec(g, "EVF" + std::to_string(i + 1)), p.getef(i), false);
    for (short i = 0; i < 2; ++i) p.envlp(sec(g, "ENV" + std::to_string(i + 1)), p.geten(i));
    for (short i = 0; i < 2; ++i) p.dynam(sec(g, "DNM" + std::to_string(i + 1)), p.getdy(i));
    for (short i = 0; i < 16; ++i)
        p.dsprm(sec(sec(g, "DISPLAY"), "PRM" + std::to_string(i + 1)), p.getpm(i));
}

// Every corner the readers treat specially, within six significant digits.
void configure(ProgProbe& p) {
    for (short i = 0; i < 8; ++i) p.getfn(i)->setvl("", "", "a"); // as a load leaves them
    for (short i = 0; i < 16; ++i) p.getpm(i)->setvl(false);
    for (short i = 2; i < 5; ++i) // as an off section reads
        p.getef(i)->setvl(0, 0, "", 0, 0, "", 0, 9, false, "OFF", false, "OFF", "OFF", false, 44100,
                          false, "OFF", "OFF", false, 0, 1, "OFF");
    p.getlf(0)->setvl(0.1, 8, 0.25, "", "Sine", 90, "LFO2"); // blank rate source
    p.getlf(1)->setvl(0, 0, 0, "MIX1", "+Sine", 0, "");      // zeros, no phase source
    p.getlf(2)->setvl(2, 3, 0, "0.5", "Sine", -45, "MIX2");  // constant rate
    p.getfn(0)->setvl("MIX1", "0.5", "a");
    p.getfn(1)->setvl("", "-0.25", "a");
    short const curves[4] = {0, -3, 7, 2};
    double const levels[4] = {0, 1, 0.5, 0.25};
    int const times[4] = {44, 0, -5, 441000};
    p.geten(0)->setvl("MIX1", "", levels, times, curves, 0, "LFO1", 1.5, "");
    p.getef(0)->setvl(44, 4410, "MIX3", 1, 0, "", 0.0, 0, true, "LFO4", true, "MIX1", "MIX2", true,
                      44100, true, "LFO1", "LFO2", true, 120.5, 3, "MIX4");
    p.getef(1)->setvl(-5, 0, "", 0, 0, "", 0.5, 4, false, "OFF", false, "OFF", "OFF", false, 44100,
                      false, "OFF", "OFF", false, 0, 1, "OFF");
    p.getdy(0)->setvl(1, "MIX1", "EVF1", "LFO1", 1, 0, 0); // expander, curve 0 (getrc 1)
    p.getdy(1)->setvl(0, "", "", "", 0, 12.5, -3);         // compressor, no curve
    p.getpm(0)->setvl(true, "MIX1", "0.5", "a", "Cut", "", "Hz", "", "", 0, 1000, 0, 0);
    p.getpm(1)->setvl(false, "LFO1", "", "a", "Hidden", "<p>", "%", "pre", "post", -1, 1, 0, 0.5);
}

class CoreProgWmodTest : public ::testing::Test {
protected:
    void SetUp() override {
        a.setrt(44100);
        b.setrt(44100);
        c.setrt(44100);
    }
    CorePool pool;
    ProgProbe a{&pool}, b{&pool}, c{&pool};
};

TEST_F(CoreProgWmodTest, WriteReadWriteKeepsEveryGetterAndEveryByte) {
    configure(a);
    std::string const first = written(a);
    readBack(b, first);
    EXPECT_EQ(state(b), state(a));
    EXPECT_EQ(written(b), first);
}

TEST_F(CoreProgWmodTest, DocumentedChangesSettleAfterTheFirstSave) {
    a.getlf(0)->setvl(0.1234567, 8, 0, "MIX1", "Sine", 0, "");
    a.getdy(1)->setvl(0, "", "", "", 0, 1.0000001, 0);
    a.getfn(0)->setvl("0.5", "", "a");
    a.getef(2)->setvl(); // no section: reset, high-pass order 0
    readBack(b, written(a));
    EXPECT_EQ(b.getlf(0)->getrt()->getsl(), 0.123457); // six significant digits
    EXPECT_EQ(b.getdy(1)->getbd(3), 1.0);
    EXPECT_EQ(b.getfn(0)->getfa()->getsc(), CoreAnsx("0.5000000000")); // the constant as written
    EXPECT_EQ(b.getfn(0)->getfa()->getvl(), a.getfn(0)->getfa()->getvl());
    // An off follower comes back as one read from an off section (order 1).
    EXPECT_EQ(a.getef(2)->getho(), 0);
    EXPECT_EQ(b.getef(2)->getho(), 1);
    EXPECT_EQ(b.getef(2)->isact(), a.getef(2)->isact());
    std::string const second = written(b);
    readBack(c, second);
    EXPECT_EQ(state(c), state(b));
    EXPECT_EQ(written(c), second);
}

TEST_F(CoreProgWmodTest, WhatTheWritersLeaveInTheDocument) {
    configure(a);
    std::string const old = "<LFO4><SHAPE>Old</SHAPE></LFO4><LFO1><PHASESOURCE>X</PHASESOURCE>"
                            "<KEEP>1</KEEP></LFO1><DISPLAY><LUMOIIPRM2><LABEL>Old</LABEL>"
                            "</LUMOIIPRM2></DISPLAY>";
    std::string const text = written(a, "<PROGRAM><NAME>x</NAME>" + old + "</PROGRAM>");
    // LFO4, never set up, keeps its element; DISPLAY stays where it was and
    // its PRMs move to its end; LFO1 is replaced whole (KEEP goes) without
    // its blank SOURCE; times round up (44 samples: 998 us).
    EXPECT_EQ(text.rfind("<PROGRAM><NAME> x </NAME><LFO4><SHAPE> Old </SHAPE></LFO4><DISPLAY>", 0),
              0u);
    for (char const* part :
         {"</DISPLAY><LFO1><MINRATE> 0.1 </MINRATE><MAXRATE> 8 </MAXRATE><SHAPE> Sine </SHAPE>",
          "<SHAPE> +Sine </SHAPE><PHASEFACTOR> 0 </PHASEFACTOR><RATEQUANTIZE>",
          "<FUN1><A> MIX1 </A><B> 0.5000000000 </B>", "</FILTERORDER><DATTACKSOURCE>",
          "<EVF2><EXP> 4 </EXP><OUTPUTBALANCE> 0.5 </OUTPUTBALANCE><ENABLEEATERT>",
          "<MINATTACK> 998 </MINATTACK>", "<MODSOURCE> LFO1 </MODSOURCE></COMMON></LEVEL>",
          "<MODFACTOR> 1.5 </MODFACTOR><MODSOURCE></MODSOURCE></COMMON></TIME>",
          "<DNM1><RATIOEXPSOURCE> LFO1 </RATIOEXPSOURCE>",
          "<DNM2><RATIOCOMSOURCE></RATIOCOMSOURCE>", "<PRM1><PRELABEL></PRELABEL><LABEL> Cut",
          "<PRM2><VISIBLE> 0 </VISIBLE><PRELABEL> &lt;p"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    // The stale LUMOIIPRM2 the reader would prefer over PRM2 is gone.
    for (char const* gone : {"KEEP", "LUMOIIPRM",
                             "<EVF2><EXP> 4 </EXP><OUTPUTBALANCE> 0.5 "
                             "</OUTPUTBALANCE><FILTER"})
        EXPECT_EQ(text.find(gone), std::string::npos) << gone;
}

TEST_F(CoreProgWmodTest, UntouchedTimesKeepTheirTextAndEditedOnesPlay) {
    // Times the samples do not represent exactly (1234 us are 54.4 samples).
    struct Row {
        std::vector<std::string> path;
        char const* us;
    } const rows[] = {{{"EVF1", "MINATTACK"}, "1234"},      {{"EVF1", "MAXATTACK"}, "4411"},
                      {{"EVF1", "MINRELEASE"}, "333"},      {{"EVF1", "MAXRELEASE"}, "1234"},
                      {{"ENV1", "TIME", "ATTACK"}, "4411"}, {{"ENV1", "TIME", "DECAY"}, "333"},
                      {{"ENV1", "TIME", "SLOPE"}, "1234"},  {{"ENV1", "TIME", "RELEASE"}, "4411"}};
    configure(a);
    CoreXml_ doc;
    doc.getfc(written(a).c_str());
    for (Row const& r : rows) {
        std::vector<CoreAnsx> path{CoreAnsx("PROGRAM")};
        for (std::size_t i = 0; i + 1 < r.path.size(); ++i) path.emplace_back(r.path[i].c_str());
        doc.getrt()
            ->pfind(path.data(), int(path.size()))
            ->upglf(r.path.back().c_str(), new CoreNode(CoreAnsx(r.us)));
    }
    std::string const file = doc.settc(false, false).c_str();
    auto holds = [](std::string const& text, Row const& r, std::string const& us) {
        return text.find("<" + r.path.back() + "> " + us + " </" + r.path.back() + ">") !=
               std::string::npos;
    };
    readBack(b, file);
    std::string const saved = written(b, file);
    for (Row const& r : rows) EXPECT_TRUE(holds(saved, r, r.us)) << r.path.back() << ' ' << r.us;
    readBack(c, saved);
    EXPECT_EQ(state(c), state(b));
    // Edited: written as the samples play (100 samples: 2268 us).
    b.getef(0)->setma(100);
    b.geten(0)->settm(1, 100);
    ASSERT_TRUE(b.geten(0)->rfrvl()); // as the next block applies it
    std::string const edited = written(b, saved);
    EXPECT_TRUE(holds(edited, rows[0], "2268"));
    EXPECT_TRUE(holds(edited, rows[5], "2268"));
    EXPECT_TRUE(holds(edited, rows[1], "4411"));
}

TEST(CoreProgTimeTest, TimesComeBackAsTheSameSamples) {
    for (int rate : {44100, 48000, 22050, 192000})
        for (long n : {1L, 44L, 441L, 96000L, 2176871L, 40000000L}) {
            int const us = CoreProg::timeOf(n, rate);
            EXPECT_EQ(CoreButl::tpfup(rate, us), n) << rate << ' ' << n;
            EXPECT_LT(CoreButl::tpfup(rate, us - 1), n) << rate << ' ' << n;
        }
    EXPECT_EQ(CoreProg::timeOf(-5, 44100), -5);
    EXPECT_EQ(CoreProg::timeOf(0, 44100), 0);
    EXPECT_EQ(CoreProg::timeOf(7, 0), 7);
    EXPECT_EQ(CoreProg::timeOf(1L << 40, 44100), INT_MAX);
}

} // namespace
