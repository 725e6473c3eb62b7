// The kernel vector readers: the COMMON table read back through the vector
// (limits, fades, offset ceiling, curves, liquid), trees filed leaf/core in
// finishing order with FILEPATH kept across vectors, CONTROL bindings,
// external vector files, and the refusals (missing, self-referencing or
// VECTOR-less files, nesting past the bound, mixed elements) that leave the
// slot and the pool as they were.
#include "program/CoreProg.h"

#include "engine/CoreVctr.h"
#include "modulation/CoreParm.h"
#include "storage/CoreFsys.h"
#include "tests/engine/CoreVctrPeek.h"
#include "tests/program/ProgProbe.h"
#include "tests/support/DataKit.h"
#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

constexpr auto EL = &kitEl;

// An ELEMENT referring to an external vector file.
std::string reference(char const* name) {
    return EL("ELEMENT", EL("FILENAME", name) + EL("CONTROL", EL("SOURCE", "MIX1")));
}

// n nested ELEMENT/VECTOR pairs, a file at the bottom.
std::string nested(int n) {
    std::string e = EL("ELEMENT", EL("FILENAME", "DEEP.WAV"));
    for (int k = 0; k < n; ++k) e = EL("ELEMENT", EL("VECTOR", e));
    return e;
}

// Vector-control key and scale range of v.
std::string control(CoreVctr* v) {
    CoreParm* c = CoreVctrPeek::vectorParm(*v);
    std::ostringstream out;
    out << c->getsc().c_str() << ' ' << c->getsl() << ' ' << c->getsu();
    return out.str();
}

class CoreProgVctrTest : public ::testing::Test {
protected:
    void SetUp() override { p.setfs(&store); }
    CoreVctr* read(int s, std::string const& element) {
        KitNode e(element);
        return p.readSlot(s, e.node);
    }
    DataKit kit;
    CorePool storePool; // the store keeps what it reads: not counted with the program's pool
    CoreFsys store{&storePool, CoreAnsx(kit.data().c_str()), false};
    CorePool pool;
    ProgProbe p{&pool};
};

TEST_F(CoreProgVctrTest, CommonValuesReachTheVector) {
    std::string const files = EL("ELEMENT", EL("FILENAME", "X.WAV")) +
                              EL("ELEMENT", EL("FILENAME", "Y.WAV") + EL("WEIGHT", "1"));
    // COMMON inside ("-": no COMMON), offset ceiling (us), then the vector's
    // offset fade-in fade-out0 fade-out1 limit0 limit1 curve-in curve-out liquid
    struct Row {
        std::string common;
        long ceiling;
        char const* state;
    } const rows[] = {
        {"-", -1, "0 0 0 0 -1 -1 -1 -1 0.01"},
        {EL("OT2", EL("FADEOUT", "300") + EL("LENGTH", "5000")), -1, "0 0 0 300 0 5000 -1 -1 0.01"},
        // An OT2 LENGTH that is not a positive whole number is no limit.
        {EL("OT1", EL("LENGTH", "9")) + EL("OT2", EL("LENGTH", "-5")), -1,
         "0 0 0 0 9 2147483647 -1 -1 0.01"},
        {EL("OT1", EL("FADEOUT", "30")) + EL("FADEOUT", "7") + EL("LENGTH", "9"), -1,
         "0 0 30 0 0 0 -1 -1 0.01"},
        {EL("FADEOUT", "100.7") + EL("LENGTH", "2000"), -1, "0 0 100 0 2000 -1 -1 -1 0.01"},
        {EL("OFFSET", "500") + EL("FADEIN", "900") + EL("LENGTH", "0"), -1,
         "500 500 0 0 -1 -1 -1 -1 0.01"},
        {EL("OFFSET", "5000") + EL("FADEIN", "10"), 1000, "1000 10 0 0 -1 -1 -1 -1 0.01"},
        {EL("OFFSET", "1e12") + EL("FADEINCURVE", "2") + EL("FADEOUTCURVE", "3") +
             EL("LIQUIDFACTOR", "50"),
         -1, "2147483647 0 0 0 -1 -1 2 3 0.5"},
    };
    for (Row const& r : rows) {
        p.offsetCeiling() = r.ceiling;
        std::string const common = r.common == "-" ? "" : EL("COMMON", r.common);
        CoreVctr* v = read(0, EL("ELEMENT", EL("VECTOR", common + files)));
        ASSERT_NE(v, nullptr) << r.common;
        int offset = -9, fadein = -9;
        v->getup(offset, fadein);
        std::ostringstream out;
        out << offset << ' ' << fadein << ' ' << v->chnfo(0) << ' ' << v->chnfo(1) << ' '
            << v->chnls(0) << ' ' << v->chnls(1) << ' ' << v->chnci() << ' ' << v->chnco() << ' '
            << CoreVctrPeek::liquidValue(*v);
        EXPECT_EQ(out.str(), r.state) << r.common;
        EXPECT_EQ(CoreVctrPeek::liquidParm(*v)->getsc(), CoreAnsx("ON"));
        EXPECT_EQ(p.depth(), 1);
        p.uload();
    }
}

TEST_F(CoreProgVctrTest, TreesFilePathsControlsAndExternalFiles) {
    KitVector ext({"E1.WAV", "E2.WAV"});
    ext.minValue = 5.0;
    ext.maxValue = 7.0;
    kit.vectorFile("EXT.XML", ext);
    // FILEPATH given once holds for every later element, in other vectors
    // too, until the next one replaces it.
    std::string const range = EL("COMMON", EL("MINVALUE", "2") + EL("MAXVALUE", "4"));
    std::string const child1 =
        EL("VECTOR", range + EL("ELEMENT", EL("FILEPATH", "a/") + EL("FILENAME", "P.WAV")) +
                         EL("ELEMENT", EL("FILENAME", "Q.WAV") + EL("WEIGHT", "1")));
    std::string const child2 =
        EL("VECTOR", range + EL("ELEMENT", EL("FILENAME", "R.WAV")) +
                         EL("ELEMENT", EL("FILEPATH", "b/") + EL("FILENAME", "S.WAV")));
    std::string const bind1 = EL("CONTROL", EL("SOURCE", "MIX2") + EL("MINVALUE", "-1") +
                                                EL("MAXVALUE", "3") + EL("PANFACTOR", "45"));
    std::string const bind2 =
        EL("CONTROL", EL("SOURCE", "MIX3") + EL("BUSSOURCE", "BUS2") + EL("GAINPADFACTOR", "1e6"));
    LogCapture log;
    CoreVctr* root =
        read(0, EL("ELEMENT", EL("VECTOR", reference("EXT.XML") + EL("ELEMENT", child1 + bind1) +
                                               EL("ELEMENT", child2 + bind2))));
    ASSERT_NE(root, nullptr);
    auto& h = p.slot(0);
    ASSERT_EQ(h.leaves.count, 3);
    ASSERT_EQ(h.cores.count, 1);
    EXPECT_EQ(h.cores[0], root);
    CoreVctr* leaf[3];
    for (int i = 0; i < 3; ++i) leaf[i] = static_cast<CoreVctr*>(h.leaves[i]);
    EXPECT_EQ(leaf[0]->getfn(1), CoreAnsx("vectors/E2.WAV"));
    EXPECT_EQ(root->getfn(0), CoreAnsx("vectors/EXT.XML"));
    EXPECT_EQ(leaf[1]->getfn(1), CoreAnsx("vectors/a/Q.WAV"));
    EXPECT_EQ(leaf[2]->getfn(0), CoreAnsx("vectors/a/R.WAV"));
    EXPECT_EQ(leaf[2]->getfn(1), CoreAnsx("vectors/b/S.WAV"));
    // MINVALUE with SOURCE sets the range; without it the child's own holds.
    EXPECT_EQ(control(leaf[0]), "MIX1 5 7");
    EXPECT_EQ(control(leaf[1]), "MIX2 -1 3");
    EXPECT_EQ(CoreVctrPeek::panParm(*leaf[1])->getsc(), CoreAnsx("OFF"));
    EXPECT_EQ(CoreVctrPeek::gainpadParm(*leaf[1])->getsc(), CoreAnsx("ON"));
    EXPECT_EQ(control(leaf[2]), "MIX3 2 4");
    EXPECT_NE(log.text().find("No finite gain for GAINPADFACTOR 1E+06"), std::string::npos);
    // A slot's top ELEMENT may itself be the reference, and twice side by
    // side is no self-reference.
    p.uload();
    CoreVctr* direct = read(1, reference("EXT.XML"));
    ASSERT_NE(direct, nullptr);
    EXPECT_EQ(control(direct), "MIX1 5 7");
    ASSERT_NE(read(0, EL("ELEMENT", EL("VECTOR", reference("EXT.XML") + reference("EXT.XML")))),
              nullptr);
}

TEST_F(CoreProgVctrTest, RefusalsLeaveNothingBehind) {
    auto put = [&](char const* name, std::string const& text) {
        writeBytes(kit.vectors() + name, text);
    };
    put("SELF.XML", EL("F", EL("VECTOR", reference("SELF.XML"))));
    put("ALPHA.XML", EL("F", EL("VECTOR", reference("BETA.XML"))));
    put("BETA.XML", EL("F", EL("VECTOR", reference("ALPHA.XML"))));
    put("NOVEC.XML", EL("F", EL("COMMON", "1")));
    put("BROKEN.XML", "</VECTOR>");
    std::string const file = EL("ELEMENT", EL("FILENAME", "F.WAV"));
    struct Row {
        std::string element;
        char const* line;
    } const rows[] = {
        {reference("MISSING.XML"), "Error in file \"vectors/MISSING.XML\": cannot be read"},
        {EL("ELEMENT", EL("VECTOR", file + reference("SELF.XML"))),
         "\"vectors/SELF.XML\": refers to itself"},
        {reference("ALPHA.XML"), "\"vectors/ALPHA.XML\": refers to itself"},
        {reference("NOVEC.XML"), "\"vectors/NOVEC.XML\": no VECTOR"},
        {reference("BROKEN.XML"), "\"vectors/BROKEN.XML\": no readable document"},
        {EL("ELEMENT", EL("VECTOR", file + EL("ELEMENT", EL("VECTOR", file)))),
         "mixes impulse files and vectors"},
        {nested(32), "nested deeper than 64 levels"},
    };
    long const baseline = pool.getma();
    for (Row const& r : rows) {
        LogCapture log;
        EXPECT_THROW(read(0, r.element), CoreAnsx) << r.line;
        EXPECT_NE(log.text().find(r.line), std::string::npos) << r.line << "\n" << log.text();
        EXPECT_EQ(p.slot(0).leaves.count + p.slot(0).cores.count, 0) << r.line;
        EXPECT_EQ(p.depth(), 1) << r.line;
        EXPECT_EQ(pool.getma(), baseline) << r.line;
    }
    EXPECT_EQ(p.readSlot(0, nullptr), nullptr); // a section without ELEMENT
    // One level less than the bound still reads.
    ASSERT_NE(read(0, nested(31)), nullptr);
    EXPECT_EQ(p.slot(0).cores.count, 30);
}

} // namespace
