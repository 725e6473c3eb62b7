// The test data kit against the system's own readers: its documents parse
// with the values it was given, its impulses read back as the known signals
// (loose, and from an archive written through the item store).
#include "tests/support/DataKit.h"

#include "engine/CoreEnvu.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreWave.h"
#include "storage/CoreXml_.h"
#include "tests/support/FileBytes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The samples the impulse loader reads for name through store.
std::vector<double> loadImpulse(CorePool& pool, CoreFsys& store, std::string const& name) {
    CoreEnvu loader(&pool, &store);
    int const n = loader.open_(name.c_str());
    if (n <= 0) return {};
    double const* x = loader.getim()->getwv(0);
    return std::vector<double>(x, x + n);
}

TEST(DataKitTest, DocumentsParseWithTheirValues) {
    DataKit kit;
    KitProgram prog{"Plate", "Reverb", {{"GAININ", "-6"}, {"LOOKAHEAD", "2000"}}};
    KitVector inner{{"B0.WAV", "B1.WAV"}};
    inner.source = "MIX2";
    KitVector top{{"A0.WAV"}};
    top.children.push_back(inner);
    top.common = {{"OFFSET", "100"}};
    prog.slots = {top, KitVector{{"C0.WAV"}}};
    prog.raws = {KitVector{{"R0.CSV", "R1.CSV"}}};
    prog.sections = "<LFO1><SHAPE>Sine</SHAPE></LFO1>";
    std::string const file = kit.program("PLATE.XML", prog);
    kit.setup("BANK.XML", {"PLATE.XML", "OTHER.XML"}, 1);
    kit.master("BANK.XML", {{"HDIMMAX", "4"}});

    CoreXml_ doc;
    ASSERT_NE(doc.getff(file.c_str(), false), nullptr);
    CoreNode* p = doc.getrt()->getcd("PROGRAM");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->getls("NAME"), CoreAnsx("Plate"));
    EXPECT_EQ(p->getld("GAININ"), -6.0);
    EXPECT_EQ(p->getcd("LFO1")->getls("SHAPE"), CoreAnsx("Sine"));
    CoreNode* vector = p->getcd("H1")->getcd("ELEMENT")->getcd("VECTOR");
    EXPECT_EQ(vector->getcd("COMMON")->getld("OFFSET"), 100.0);
    CoreNode* nested = vector->getcd("ELEMENT"); // the last ELEMENT: the nested vector
    EXPECT_EQ(nested->getld("WEIGHT"), 1.0);
    EXPECT_EQ(nested->getcd("CONTROL")->getls("SOURCE"), CoreAnsx("MIX2"));
    EXPECT_EQ(nested->getcd("VECTOR")->getcd("ELEMENT")->getls("FILENAME"), CoreAnsx("B1.WAV"));
    EXPECT_TRUE(p->getcd("H2") && !p->getcd("H3") && p->getcd("RAW1"));

    CoreXml_ setup;
    ASSERT_NE(setup.getff((kit.setups() + "BANK.XML").c_str(), false), nullptr);
    CoreNode* last = setup.getrt()->getcd("SETUP")->getcd("PROGRAM");
    EXPECT_EQ(last->getls("FILENAME"), CoreAnsx("OTHER.XML"));
    EXPECT_TRUE(last->getli("SEQUENCE") == 1 && last->getlb("LOAD"));

    CoreXml_ master;
    ASSERT_NE(master.getff((kit.code() + "VORLAN2.XML").c_str(), false), nullptr);
    CoreNode* m = master.getrt()->getcd("MASTER");
    EXPECT_EQ(m->getls("DATAPATH"), CoreAnsx(kit.data().c_str()));
    EXPECT_TRUE(m->getls("SETUPROMNAME") == CoreAnsx("BANK.XML") && m->getli("HDIMMAX") == 4);
}

TEST(DataKitTest, ImpulsesReadBackLooseAndFromAnArchive) {
    DataKit kit;
    std::vector<double> const ir = DataKit::impulse(48, 5, 0.75);
    std::vector<double> const list = DataKit::ramp(9, -1.0, 1.0);
    EXPECT_EQ(ir[4], 0.0);
    EXPECT_EQ(ir[5], 0.75);
    EXPECT_DOUBLE_EQ(ir[13], 0.375); // halves every 8 samples
    EXPECT_EQ(list[4], 0.0);
    std::string const wav = kit.wav("IR1.WAV", {ir});
    kit.csv("ENV.CSV", list);

    CorePool pool;
    CoreFsys loose(&pool, CoreAnsx(kit.data().c_str()), false);
    std::vector<double> got = loadImpulse(pool, loose, "vectors/IR1.WAV");
    ASSERT_EQ(got.size(), ir.size());
    for (std::size_t k = 0; k < ir.size(); ++k) EXPECT_FLOAT_EQ(got[k], ir[k]) << k;
    EXPECT_EQ(loadImpulse(pool, loose, "vectors/ENV.CSV"), list);

    kit.archive("vectors/PACK.V2V", {{"vectors/IR1.WAV", readBytes(wav)},
                                     {"vectors/ENV.CSV", DataKit::listText(list)}});
    CoreFsys packed(&pool, CoreAnsx("/nowhere/"), false);
    ASSERT_TRUE(
        packed.loada((kit.data() + "vectors/PACK.V2V").c_str(), CoreAnsx(0), true, nullptr));
    EXPECT_EQ(loadImpulse(pool, packed, "vectors/IR1.WAV"), got);
    EXPECT_EQ(loadImpulse(pool, packed, "vectors/ENV.CSV"), list);
}

} // namespace
