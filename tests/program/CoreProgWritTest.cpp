// The global-table writers on a program document from the data kit: what
// each writes or removes, that everything else stays, the order replaced
// elements end up in, the slot lengths of changed slots only; and the
// program archive header operations (setni, getni) on archives with an
// impulse beside the program and on a damaged one; and the whole program
// saved and loaded again through the program reader: nothing changes but the
// documented cases, and the second save writes the first one's bytes.
#include "program/CoreProg.h"

#include "modulation/CoreIfce.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "tests/program/ProgProbe.h"
#include "tests/program/ProgRecord.h"
#include "tests/support/DataKit.h"
#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace {

std::string childTags(CoreNode* node) {
    std::string out;
    CoreTlst* list = node->getcn();
    for (int i = 0; list && i < list->count; ++i)
        out += static_cast<CoreNode*>((*list)[unsigned(i)])->gettx().c_str() + std::string(" ");
    return out;
}

class CoreProgWritTest : public ::testing::Test {
protected:
    void SetUp() override { p.setrt(44100); }
    // Slot s in use with lengths (samples); changed and extended as given.
    void slot(int s, int normal, int fade, int extended, int extfade, bool changed, bool ext) {
        ProgProbe::HLOC& h = p.slot(s);
        h.inuse = true;
        h.normallength = normal;
        h.normalfadeout = fade;
        h.extendedlength = extended;
        h.extendedfadeout = extfade;
        h.changed = changed;
        h.extended = ext;
    }
    std::string write(std::string const& xml) {
        doc.getfc(xml.c_str());
        p.chgmx(&doc);
        p.chggl(&doc);
        p.chgpr(&doc, true, 48000);
        return doc.settc(false, false).c_str();
    }
    CorePool pool;
    ProgProbe p{&pool, 4};
    CoreXml_ doc;
};

TEST_F(CoreProgWritTest, GlobalWritersTouchOnlyTheirElementsInTheDocumentedOrder) {
    KitVector v({"IR1.WAV"});
    v.common = {{"FADEOUT", "9"}, {"LENGTH", "9"}, {"OT1", kitEl("LENGTH", "7")}};
    KitProgram prog("Old", "Cat");
    prog.sections = "<MIX2>0.5</MIX2><GAINIR>-3</GAINIR><FEEDBACKSOURCE>LFO1</FEEDBACKSOURCE>"
                    "<GAINDRYSOURCE>LFO2</GAINDRYSOURCE><GAINPADINTRIMSOURCE>MIX5"
                    "</GAINPADINTRIMSOURCE><ALIGNOFFSET>5</ALIGNOFFSET><VECTORFILENAME>OLD"
                    "</VECTORFILENAME><PROGRAMRATE>3000</PROGRAMRATE>" +
                    kitEl("H4", kitEl("ELEMENT", kitEl("FILENAME", "EXT.XML") +
                                                     kitEl("CONTROL", kitEl("SOURCE", "MIX1"))));
    prog.slots = {v, v, v};
    p.setnm("Plate");
    p.setct("Hall", 0);
    p.setpo(0.0);
    p.setdr(1e-320);
    p.setff(0.5);
    p.setfs("");
    p.setys(" ");
    p.setar("ON"); // as a load without LOOKAHEADSOURCE leaves it
    p.setst(0);
    p.setsh(2);
    for (short i = 0; i < 8; ++i) p.getmx(i)->setiv(i == 0 ? 0.25 : 0.0, i != 1, true);
    p.getif(8)->setiv(0.5, true, true);  // 2 x 0.5 = 1.0: 0 dB
    p.getif(9)->setiv(0.25, true, true); // 0.5: -6.0206 dB
    slot(0, 64, 4, 128, 8, false, true);
    slot(1, 44, 4, 4410, 441, true, true);
    slot(2, 64, 4, 128, 8, false, false);
    slot(3, 64, 4, 128, 8, true, false);
    LogCapture log;
    std::string const text = write(DataKit::programXml(prog));

    CoreNode* g = doc.getrt()->getcd("PROGRAM");
    EXPECT_EQ(childTags(g), "GAINIR GAINPADINTRIMSOURCE ALIGNOFFSET VECTORFILENAME H4 H1 H2 H3 "
                            "MIX1 MIX3 MIX4 MIX5 MIX6 MIX7 MIX8 GAININ GAINOUT NAME CATEGORY "
                            "SUBCATEGORY1 SUBCATEGORY2 DESCRIPTION GAINPADIN GAINPADOUT LOOKAHEAD "
                            "FEEDBACKFACTOR FEEDBACKSOURCE LOOKAHEADSOURCE GAINDRYFACTOR "
                            "GAINDRYSOURCE SMOOTH FORCEOT2 "
                            "INVISIBLETHREAD FORCEHYBRID FORCEMONO HDIM PROGRAMRATE ");
    // Values as the reader sees them: written zeros are present (" 0 ").
    // "tag=value": written zeros are present (" 0 "); untouched values stay.
    KitNode parsed(text);
    std::istringstream expected(
        "MIX1=0.25 MIX3=0 GAININ=0 GAINOUT=-6.0206 NAME=Plate CATEGORY=Hall SUBCATEGORY1= "
        "VECTORFILENAME=OLD GAINPADIN=0 GAINPADOUT=-192.64 GAINDRYFACTOR=-192.64 "
        "FEEDBACKFACTOR=50 FEEDBACKSOURCE= GAINDRYSOURCE= LOOKAHEADSOURCE=ON SMOOTH=0 FORCEOT2=0 "
        "HDIM=2 GAINIR=-3 "
        "PROGRAMRATE=48000");
    for (std::string pair; expected >> pair;) {
        std::string const tag = pair.substr(0, pair.find('='));
        EXPECT_TRUE(parsed.node->exslc(tag.c_str())) << tag;
        EXPECT_EQ(tag + "=" + parsed.node->getls(tag.c_str()).c_str(), pair);
    }
    // An invalid mix goes; cleared sources run bound to "OFF" and are
    // written empty, which reads back bound to "OFF" (their old keys gone).
    EXPECT_EQ(g->getcd("MIX2"), nullptr);
    EXPECT_EQ(text.find("LFO1"), std::string::npos);

    // Only H2 was changed: its FORCEOT2 and OT groups are new, the old
    // direct lengths gone; H1 and H3 keep theirs; H4 names an external
    // vector file and gets no VECTOR of its own.
    std::string const old =
        "<COMMON><MINVALUE> 0 </MINVALUE><MAXVALUE> 1 </MAXVALUE><FADEOUT> 9 "
        "</FADEOUT><LENGTH> 9 </LENGTH><OT1><LENGTH> 7 </LENGTH></OT1></COMMON>";
    EXPECT_NE(text.find("<H1><ELEMENT><VECTOR>" + old), std::string::npos);
    EXPECT_NE(text.find("<H3><ELEMENT><VECTOR>" + old), std::string::npos);
    EXPECT_NE(text.find("<H2><ELEMENT><VECTOR><COMMON><MINVALUE> 0 </MINVALUE><MAXVALUE> 1 "
                        "</MAXVALUE><OT1><LENGTH> 998 </LENGTH><FADEOUT> 91 </FADEOUT></OT1><OT2>"
                        "<LENGTH> 100000 </LENGTH><FADEOUT> 10000 </FADEOUT></OT2></COMMON>"),
              std::string::npos);
    EXPECT_NE(text.find("</ELEMENT><FORCEOT2> 1 </FORCEOT2></H2>"), std::string::npos);
    EXPECT_NE(text.find("<H4><ELEMENT><FILENAME> EXT.XML </FILENAME><CONTROL><SOURCE> MIX1 "
                        "</SOURCE></CONTROL></ELEMENT></H4>"),
              std::string::npos);
    EXPECT_NE(log.text().find("H4: no VECTOR"), std::string::npos);

    p.chgpr(&doc, false, 48000);
    EXPECT_EQ(g->getcd("PROGRAMRATE"), nullptr);
}

TEST_F(CoreProgWritTest, HybridSlotGivesH1ItsExtendedGroup) {
    KitProgram prog("P");
    prog.slots = {KitVector({"IR1.WAV"})};
    p.hybrid() = true;
    slot(0, 882, 44, 100, 10, true, false);
    slot(p.cap(), 0, 0, 4410, 441, false, false); // the hybrid slot
    std::string const text = write(DataKit::programXml(prog));
    EXPECT_NE(text.find("<OT1><LENGTH> 20000 </LENGTH><FADEOUT> 998 </FADEOUT></OT1><OT2><LENGTH> "
                        "100000 </LENGTH><FADEOUT> 10000 </FADEOUT></OT2>"),
              std::string::npos);
    EXPECT_EQ(text.find("</ELEMENT><FORCEOT2>"), std::string::npos); // not extended: none
}

// ---- program archive header ------------------------------------------------------------

class CoreProgArchiveTest : public ::testing::Test {
protected:
    std::string make(std::string const& programBody) {
        return kit.archive(
            "programs/PLATE.V2P",
            {{"PLATE IR.WAV", wav}, {"PLATE.XML", "<PROGRAM>" + programBody + "</PROGRAM>"}});
    }
    std::string itemBytes(std::string const& path, char const* item) {
        CoreFsys store(&pool);
        if (!store.loada(path.c_str(), "0", false, nullptr)) return "?";
        void* data = nullptr;
        long const n = store.getco(store.getit(item), &data);
        return std::string(static_cast<char*>(data), std::size_t(n));
    }
    CorePool pool;
    DataKit kit;
    // An impulse whose name holds the key, and whose bytes parse as XML.
    std::string const wav = std::string("RIFF\x24\0\0\0WAVE<NAME>x</NAME>\xff\x01", 26);
};

TEST_F(CoreProgArchiveTest, HeaderIsPatchedAndReadBackBesideAnImpulse) {
    std::string const path = make(kitEl("NAME", "Old") + kitEl("GAINIR", "-3"));
    CoreAnsx const cats[3] = {"A", "B", ""};
    KitNode patch("<P><PROGRAM><GAINIR>-6</GAINIR></PROGRAM></P>");
    ASSERT_TRUE(CoreProg::setni(&pool, path.c_str(), "New", cats, "Desc", patch.node, "0"));
    EXPECT_EQ(itemBytes(path, "PLATE IR.WAV"), wav);
    CoreAnsx name, got[3], description, vector;
    ASSERT_TRUE(CoreProg::getni(&pool, path.c_str(), name, got, description, vector));
    EXPECT_EQ(std::string(name.c_str()) + "|" + got[0].c_str() + "|" + got[1].c_str() + "|" +
                  got[2].c_str() + "|" + description.c_str() + "|" + vector.c_str(),
              "New|A|B||Desc|PLATE");
    EXPECT_NE(itemBytes(path, "PLATE.XML").find("<GAINIR> -6 </GAINIR>"), std::string::npos);

    // Renamed after a vector file: folder and extension kept.
    ASSERT_TRUE(CoreProg::setni(&pool, path.c_str(), "New", nullptr, "", nullptr, "/v/HALL.V2V"));
    EXPECT_NE(itemBytes(path, "HALL.XML").find("<NAME> New </NAME>"), std::string::npos);
}

TEST_F(CoreProgArchiveTest, AbsentValuesReadAsNull) {
    std::string const path = make("");
    CoreAnsx name, got[3] = {"x", "x", "x"}, description, vector;
    ASSERT_TRUE(CoreProg::getni(&pool, path.c_str(), name, got, description, vector));
    EXPECT_EQ(std::string(name.c_str()) + got[0].c_str() + description.c_str() + vector.c_str(),
              "NULLNULLNULL");
}

TEST_F(CoreProgArchiveTest, DamagedArchivesAndOnesWithoutProgramAreLeftUntouched) {
    std::string const damaged = make(kitEl("NAME", "Old"));
    std::string bytes = readBytes(damaged);
    std::string const entry = "<ENTRY> PLATE IR.WAV </ENTRY>";
    ASSERT_NE(bytes.find(entry), std::string::npos);
    writeBytes(damaged, bytes.replace(bytes.find(entry), entry.size(), "<ENTRY></ENTRY>"));
    std::string const other = kit.archive("programs/OTHER.V2P", {{"OTHER.WAV", wav}});
    LogCapture log;
    for (std::string const& path : {damaged, other}) {
        std::string const before = readBytes(path);
        EXPECT_FALSE(CoreProg::setni(&pool, path.c_str(), "N", nullptr, "D", nullptr, "0"));
        EXPECT_EQ(readBytes(path), before);
    }
    EXPECT_NE(log.text().find("archive damaged"), std::string::npos);
}

// ---- whole-program round trip ----------------------------------------------------------

// Every section and every corner the reader treats specially; ratio is
// DNM2's RATIOCURVE (curve + 1); GAINDRYSOURCE empty (bound to "OFF") or absent.
KitProgram roundTripProgram(int ratio, bool dryKey) {
    KitProgram prog("Round", "Hall",
                    {{"SUBCATEGORY1", "Big"},
                     {"DESCRIPTION", "Long tail"},
                     {"MIX1", "0.0"},
                     {"MIX2", "0.3333333333"},
                     {"MIX3", "1"},
                     {"GAININ", "0.0"},
                     {"GAINOUT", "-6.5"},
                     {"GAINPADIN", "0.0"},
                     {"GAINPADOUT", "-3"},
                     {"GAINPADINTRIMSOURCE", "MIX4"},
                     {"LOOKAHEAD", "1000"},
                     {"LOOKAHEADSOURCE", "MIX5"},
                     {"FEEDBACKFACTOR", "25"},
                     {"FEEDBACKSOURCE", "LFO1"},
                     {"SMOOTH", "0.0"},
                     {"FORCEOT2", "1"},
                     {"HDIM", "2"},
                     {"PROGRAMRATE", "44100"},
                     {"GAINIR", "-1.5"}});
    if (dryKey) prog.values.push_back({"GAINDRYSOURCE", ""});
    auto el = [](char const* tag, std::string const& v) { return kitEl(tag, v); };
    prog.sections =
        el("LFO1", el("MINRATE", "0.1234567") + el("MAXRATE", "8") + el("SHAPE", "Sine") +
                       el("PHASEFACTOR", "90") + el("PHASESOURCE", "LFO2") +
                       el("RATEQUANTIZE", "0.25")) +
        el("LFO2", el("MINRATE", "0.5") + el("MAXRATE", "2") + el("SOURCE", "MIX1") +
                       el("SHAPE", "+Sine")) +
        el("FUN1", el("A", "MIX1") + el("B", "0.5") + el("FUN", "a")) +
        el("EVF1", el("EXP", "4") + el("OUTPUTBALANCE", "0.5") + el("FILTERSOURCE", "LFO4") +
                       el("FILTERFREQUENCY", "120.5") + el("FILTERORDER", "3") +
                       el("DATTACKSOURCE", "MIX1") + el("DRELEASESOURCE", "MIX2") +
                       el("ENABLEEATERT", "1") + el("MINATTACK", "998") +
                       el("MAXATTACK", "100000") + el("ATTACKSOURCE", "MIX3") +
                       el("MAXRELEASE", "20000") + el("RELEASESOURCE", "")) +
        el("EVF2", el("BUSBALANCESOURCE", "LFO2") + el("OATTACKSOURCE", "LFO1") +
                       el("ORELEASESOURCE", "LFO2") + el("MINATTACK", "-5")) +
        el("ENV1",
           el("CONTROL", el("ACTIVSOURCE", "MIX1") + el("DEACTIVSOURCE", "")) +
               el("LEVEL", el("START", "0.0") + el("ATTACK", "1") + el("BREAK", "0.5") +
                               el("SUSTAIN", "0.25") +
                               el("COMMON", el("MODFACTOR", "0.0") + el("MODSOURCE", "LFO1"))) +
               el("TIME", el("ATTACK", "998") + el("DECAY", "-5") + el("RELEASE", "10000000") +
                              el("COMMON", el("MODFACTOR", "1.5"))) +
               el("CURVE", el("DECAY", "-3") + el("SLOPE", "7"))) +
        el("DNM1", el("RATIOEXPSOURCE", "LFO1") + el("THRESHOLDSOURCE", "MIX1") +
                       el("INPUTSOURCE", "EVF1") + el("RANGELIMIT", "12.5")) +
        el("DNM2", el("RATIOCOMSOURCE", "") + el("RATIOCURVE", std::to_string(ratio)) +
                       el("GAINPADFACTOR", "-3")) +
        el("DISPLAY", el("PRM1", el("LABEL", "Cut") + el("UNIT", "Hz") + el("MINVALUE", "-1") +
                                     el("MAXVALUE", "1") + el("BARMINVALUE", "0.0") +
                                     el("BARMAXVALUE", "0.0") + el("A", "MIX1") + el("B", "0.5")) +
                          el("PRM2", el("VISIBLE", "0.0") + el("LABEL", "Hidden") +
                                         el("A", "LFO1") + el("MAXVALUE", "100")));
    KitVector h1({"ALPHA.WAV", "BRAVO.WAV"});
    KitVector h2({"ALPHA.WAV"});
    h2.common = {{"OFFSET", "200"}, {"FADEIN", "100"}, {"LENGTH", "4000"}, {"FADEOUT", "500"}};
    prog.slots = {h1, h2};
    return prog;
}

class CoreProgRoundTripTest : public ::testing::Test {
protected:
    void SetUp() override {
        kit.wav("ALPHA.WAV", {DataKit::impulse(600, 30, 0.9), DataKit::impulse(600, 32, -0.7)});
        kit.wav("BRAVO.WAV", {DataKit::impulse(400, 10, 0.6)});
    }
    std::unique_ptr<ProgProbe> make() {
        auto p = std::make_unique<ProgProbe>(&pool, 4);
        p->setrt(44100);
        p->setfs(&store);
        p->attachPlayers();
        return p;
    }
    // The engine's reading: the text parsed into doc, the program read from it.
    static bool load(ProgProbe& p, CoreXml_& doc, std::string const& text) {
        return p.load_(doc.getfc(text.c_str()), false);
    }
    // The engine's writing: the nine writers in order into the document the
    // program was read from, then its compact text.
    static std::string save(ProgProbe& p, CoreXml_& doc) {
        p.chgmx(&doc);
        p.chggl(&doc);
        p.chglf(&doc);
        p.chgpr(&doc, true, 44100);
        p.chgfn(&doc);
        p.chgef(&doc);
        p.chgen(&doc);
        p.chgdy(&doc);
        p.chgpt(&doc);
        return doc.settc(false, false).c_str();
    }
    LogCapture log;
    DataKit kit;
    CorePool storePool;
    CoreFsys store{&storePool, CoreAnsx(kit.data().c_str()), false};
    CorePool pool;
};

TEST_F(CoreProgRoundTripTest, SavedProgramLoadsBackAsItWasSaved) {
    for (int ratio = 0; ratio <= 9; ++ratio) {
        bool const dryKey = ratio % 2 == 0;
        SCOPED_TRACE("RATIOCURVE " + std::to_string(ratio));
        auto p1 = make(), p2 = make(), p3 = make();
        CoreXml_ doc1, doc2, doc3;
        ASSERT_TRUE(load(*p1, doc1, DataKit::programXml(roundTripProgram(ratio, dryKey))))
            << log.text();
        // Edits before the save: the feedback source cleared, a zero gain,
        // H2 given a new normal length and extended fade-out.
        p1->setfs("");
        p1->setpo(0.0);
        ASSERT_TRUE(p1->setod(1, 0, 120));
        p1->setco(1, 40, false);
        ProgRecord const r1 = recordOf(*p1);
        std::string const write1 = save(*p1, doc1);
        ASSERT_TRUE(load(*p2, doc2, write1)) << log.text();
        ProgRecord const r2 = recordOf(*p2);
        std::string const write2 = save(*p2, doc2);
        ASSERT_TRUE(load(*p3, doc3, write2)) << log.text();
        EXPECT_EQ(write2, write1);
        EXPECT_EQ(r2.diff(recordOf(*p3)), (std::map<std::string, std::string>{}));

        // Load 1 against load 2: the documented changes, each one named.
        std::map<std::string, std::string> changed = r1.diff(r2);
        auto expectChanged = [&](std::string const& key, double was, double now,
                                 double within = 0.0) {
            EXPECT_NE(changed.count(key), 0u) << key;
            EXPECT_EQ(std::stod(r1.at(key)), was) << key;
            EXPECT_NEAR(std::stod(r2.at(key)), now, within) << key;
            changed.erase(key);
        };
        double const silence = std::pow(10.0, -192.64 / 20.0); // zero gains: -192.64 dB
        expectChanged("PROG getdr", 0.0, silence);
        expectChanged("PROG getpo", 0.0, silence);
        if (!dryKey) expectChanged("PROG getry", 0.0, silence); // no key: the constant 1.0
        // Six significant digits: MIX2 and LFO1's lower rate.
        expectChanged("IFCE2 getiv", 0.3333333333, 0.333333);
        expectChanged("LFO1 getsl", 0.1234567, 0.123457);
        for (char const* key : {"IFCE2 getvl", "IFCE2 getvlmain"})
            expectChanged(key, std::stod(r1.at(key)), std::stod(r1.at(key)), 1e-6);
        // H2's extended fade-out changed: its fade-out end, stale until the
        // slot is measured again at the load, follows it.
        expectChanged("H2 getib01", std::stod(r1.at("H2 getib01")),
                      std::max(p2->slot(1).offset, p2->slot(1).fadeinlength) + 1 + 40);
        // A follower without a section has its high-pass off at order 0; its
        // written section reads as one without a filter, at order 1.
        for (char const* key : {"EVF3 getho", "EVF4 getho"}) {
            EXPECT_EQ(r1.at(std::string(key, 4) + " hpsrc"), "false");
            expectChanged(key, 0, 1);
        }
        EXPECT_EQ(changed, (std::map<std::string, std::string>{}));
    }
}

} // namespace
