// The global-table writers on a program document from the data kit: what
// each writes or removes, that everything else stays, the order replaced
// elements end up in, the slot lengths of changed slots only; and the
// program archive header operations (setni, getni) on archives with an
// impulse beside the program and on a damaged one.
#include "program/CoreProg.h"

#include "modulation/CoreIfce.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "tests/program/ProgProbe.h"
#include "tests/support/DataKit.h"
#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

// The whole-program round trip (load, write back, load again, write again)
// joins these tests once the program reader is in: every getter of loads 2
// and 3 equal, writes 1 and 2 byte-identical.

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
                            "FEEDBACKFACTOR LOOKAHEADSOURCE GAINDRYFACTOR SMOOTH FORCEOT2 "
                            "INVISIBLETHREAD FORCEHYBRID FORCEMONO HDIM PROGRAMRATE ");
    // Values as the reader sees them: written zeros are present (" 0 ").
    // "tag=value": written zeros are present (" 0 "); untouched values stay.
    KitNode parsed(text);
    std::istringstream expected(
        "MIX1=0.25 MIX3=0 GAININ=0 GAINOUT=-6.0206 NAME=Plate CATEGORY=Hall SUBCATEGORY1= "
        "VECTORFILENAME=OLD GAINPADIN=0 GAINPADOUT=-192.64 GAINDRYFACTOR=-192.64 "
        "FEEDBACKFACTOR=50 LOOKAHEADSOURCE=ON SMOOTH=0 FORCEOT2=0 HDIM=2 GAINIR=-3 "
        "PROGRAMRATE=48000");
    for (std::string pair; expected >> pair;) {
        std::string const tag = pair.substr(0, pair.find('='));
        EXPECT_TRUE(parsed.node->exslc(tag.c_str())) << tag;
        EXPECT_EQ(tag + "=" + parsed.node->getls(tag.c_str()).c_str(), pair);
    }
    // Cleared sources go, so the reader falls back to its constant.
    for (char const* gone : {"MIX2", "FEEDBACKSOURCE", "GAINDRYSOURCE"})
        EXPECT_EQ(g->getcd(gone), nullptr) << gone;

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

} // namespace
