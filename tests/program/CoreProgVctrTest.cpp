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
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "tests/engine/CoreVctrPeek.h"
#include "tests/program/ProgProbe.h"
#include "tests/support/DataKit.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

std::string el(std::string const& tag, std::string const& v) {
    return "<" + tag + ">" + v + "</" + tag + ">";
}

// A parsed top ELEMENT ("<ELEMENT>" + inside + "</ELEMENT>").
struct Element {
    explicit Element(std::string const& inside) {
        node = xml.getfc(CoreAnsx(el("ELEMENT", inside).c_str()))->getcd();
    }
    CoreXml_ xml;
    CoreNode* node = nullptr;
};

class CoreProgVctrTest : public ::testing::Test {
protected:
    void SetUp() override { p.setfs(&store); }
    DataKit kit;
    CorePool storePool; // the store keeps what it reads: not counted with the program's pool
    CoreFsys store{&storePool, CoreAnsx(kit.data().c_str()), false};
    CorePool pool;
    ProgProbe p{&pool};
};

TEST_F(CoreProgVctrTest, CommonValuesReachTheVector) {
    std::string const file = el("ELEMENT", el("FILENAME", "X.WAV"));
    struct Row {
        std::string common; // "-" for a VECTOR without COMMON
        long ceiling;
        int offset, fadein, fadeout[2], limit[2];
        short curves[2];
        double liquid;
    } const rows[] = {
        {"-", -1, 0, 0, {0, 0}, {-1, -1}, {-1, -1}, CoreVctr::dCliquidmin},
        {"", -1, 0, 0, {0, 0}, {-1, -1}, {-1, -1}, CoreVctr::dCliquidmin},
        {el("OT2", el("FADEOUT", "300") + el("LENGTH", "5000")),
         -1,
         0,
         0,
         {0, 300},
         {0, 5000},
         {-1, -1},
         CoreVctr::dCliquidmin},
        {el("OT1", el("FADEOUT", "30")) + el("FADEOUT", "7") + el("LENGTH", "9"),
         -1,
         0,
         0,
         {30, 0},
         {0, 0},
         {-1, -1},
         CoreVctr::dCliquidmin},
        {el("FADEOUT", "100.7") + el("LENGTH", "2000"),
         -1,
         0,
         0,
         {100, 0},
         {2000, -1},
         {-1, -1},
         CoreVctr::dCliquidmin},
        {el("OFFSET", "500") + el("FADEIN", "900") + el("LENGTH", "0"),
         -1,
         500,
         500,
         {0, 0},
         {-1, -1},
         {-1, -1},
         CoreVctr::dCliquidmin},
        {el("OFFSET", "5000") + el("FADEIN", "10"),
         1000,
         1000,
         10,
         {0, 0},
         {-1, -1},
         {-1, -1},
         CoreVctr::dCliquidmin},
        {el("OFFSET", "1e12") + el("FADEINCURVE", "2") + el("FADEOUTCURVE", "3") +
             el("LIQUIDFACTOR", "50"),
         -1,
         INT_MAX,
         0,
         {0, 0},
         {-1, -1},
         {2, 3},
         0.5},
    };
    for (Row const& r : rows) {
        p.offsetCeiling() = r.ceiling;
        std::string const common = r.common == "-" ? "" : el("COMMON", r.common);
        Element e(el("VECTOR", common + file + file));
        CoreVctr* v = p.readSlot(0, e.node);
        ASSERT_NE(v, nullptr) << r.common;
        int offset = -9, fadein = -9;
        v->getup(offset, fadein);
        EXPECT_EQ(offset, r.offset) << r.common;
        EXPECT_EQ(fadein, r.fadein) << r.common;
        for (short k = 0; k < 2; ++k) {
            EXPECT_EQ(v->chnfo(k), r.fadeout[k]) << k << r.common;
            EXPECT_EQ(v->chnls(k), r.limit[k]) << k << r.common;
        }
        EXPECT_EQ(v->chnci(), r.curves[0]) << r.common;
        EXPECT_EQ(v->chnco(), r.curves[1]) << r.common;
        EXPECT_EQ(CoreVctrPeek::liquidValue(*v), r.liquid) << r.common;
        EXPECT_EQ(CoreVctrPeek::liquidParm(*v)->getsc(), CoreAnsx("ON")) << r.common;
        EXPECT_EQ(p.depth(), 1);
        p.uload();
    }
}

TEST_F(CoreProgVctrTest, TreesFileLeavesAndCoresWithPathsAndControls) {
    // FILEPATH given once holds for every later element, in other vectors
    // too, until the next one replaces it.
    std::string const child1 =
        el("VECTOR", el("COMMON", el("MINVALUE", "0") + el("MAXVALUE", "1")) +
                         el("ELEMENT", el("FILEPATH", "a/") + el("FILENAME", "P.WAV")) +
                         el("ELEMENT", el("FILENAME", "Q.WAV") + el("WEIGHT", "1")));
    std::string const child2 =
        el("VECTOR", el("COMMON", el("MINVALUE", "2") + el("MAXVALUE", "4")) +
                         el("ELEMENT", el("FILENAME", "R.WAV")) +
                         el("ELEMENT", el("FILEPATH", "b/") + el("FILENAME", "S.WAV")));
    std::string const control1 =
        el("CONTROL", el("SOURCE", "MIX2") + el("MINVALUE", "-1") + el("MAXVALUE", "3") +
                          el("PANFACTOR", "45") + el("GAINPADFACTOR", "-6"));
    std::string const control2 = el("CONTROL", el("SOURCE", "MIX3") + el("BUSSOURCE", "BUS2"));
    Element e(el("VECTOR", el("COMMON", el("MAXVALUE", "1")) + el("ELEMENT", child1 + control1) +
                               el("ELEMENT", child2 + control2 + el("WEIGHT", "1"))));
    CoreVctr* root = p.readSlot(0, e.node);
    ASSERT_NE(root, nullptr);
    auto& h = p.slot(0);
    ASSERT_EQ(h.leaves.count, 2);
    ASSERT_EQ(h.cores.count, 1);
    EXPECT_EQ(h.cores[0], root);
    auto* first = static_cast<CoreVctr*>(h.leaves[0]);
    auto* second = static_cast<CoreVctr*>(h.leaves[1]);
    EXPECT_EQ(first->getfn(0), CoreAnsx("vectors/a/P.WAV"));
    EXPECT_EQ(first->getfn(1), CoreAnsx("vectors/a/Q.WAV"));
    EXPECT_EQ(second->getfn(0), CoreAnsx("vectors/a/R.WAV"));
    EXPECT_EQ(second->getfn(1), CoreAnsx("vectors/b/S.WAV"));
    EXPECT_EQ(p.sectionPath(), CoreAnsx("b/"));
    // MINVALUE with SOURCE sets the range; without it the child's own holds.
    CoreParm* vc1 = CoreVctrPeek::vectorParm(*first);
    EXPECT_EQ(vc1->getsc(), CoreAnsx("MIX2"));
    EXPECT_EQ(vc1->getsl(), -1.0);
    EXPECT_EQ(vc1->getsu(), 3.0);
    EXPECT_EQ(CoreVctrPeek::panParm(*first)->getsc(), CoreAnsx("OFF"));
    EXPECT_EQ(CoreVctrPeek::gainpadParm(*first)->getsc(), CoreAnsx("ON"));
    CoreParm* vc2 = CoreVctrPeek::vectorParm(*second);
    EXPECT_EQ(vc2->getsc(), CoreAnsx("MIX3"));
    EXPECT_EQ(vc2->getsl(), 2.0);
    EXPECT_EQ(vc2->getsu(), 4.0);
}

TEST_F(CoreProgVctrTest, ExternalVectorFilesBecomeChildren) {
    KitVector ext({"E1.WAV", "E2.WAV"});
    ext.minValue = 5.0;
    ext.maxValue = 7.0;
    kit.vectorFile("EXT.XML", ext);
    // The same file twice side by side is no self-reference.
    std::string const ref =
        el("ELEMENT", el("FILENAME", "EXT.XML") + el("CONTROL", el("SOURCE", "MIX1")));
    Element e(el("VECTOR", el("COMMON", el("MAXVALUE", "1")) + ref + ref));
    CoreVctr* root = p.readSlot(0, e.node);
    ASSERT_NE(root, nullptr);
    auto& h = p.slot(0);
    ASSERT_EQ(h.leaves.count, 2);
    auto* child = static_cast<CoreVctr*>(h.leaves[0]);
    EXPECT_EQ(child->getfn(1), CoreAnsx("vectors/E2.WAV"));
    EXPECT_EQ(CoreVctrPeek::vectorParm(*child)->getsc(), CoreAnsx("MIX1"));
    EXPECT_EQ(CoreVctrPeek::vectorParm(*child)->getsl(), 5.0);
    EXPECT_EQ(root->getfn(0), CoreAnsx("vectors/EXT.XML"));
    // A slot's top ELEMENT may itself be the reference.
    p.uload();
    Element top(el("FILENAME", "EXT.XML") + el("CONTROL", el("SOURCE", "MIX4")));
    CoreVctr* direct = p.readSlot(1, top.node);
    ASSERT_NE(direct, nullptr);
    EXPECT_EQ(CoreVctrPeek::vectorParm(*direct)->getsc(), CoreAnsx("MIX4"));
}

// What an "<ELEMENT>...</ELEMENT>" text holds inside.
std::string inner(std::string const& element) { return element.substr(9, element.size() - 19); }

// n nested ELEMENT/VECTOR pairs, the top ELEMENT first, a file at the bottom.
std::string nested(int n) {
    std::string inside = el("ELEMENT", el("FILENAME", "DEEP.WAV"));
    for (int k = 0; k < n; ++k) inside = el("ELEMENT", el("VECTOR", inside));
    return inner(inside);
}

TEST_F(CoreProgVctrTest, RefusalsLeaveNothingBehind) {
    // SELF.XML refers to itself; ALPHA.XML and BETA.XML to each other.
    auto reference = [](char const* name) {
        return el("ELEMENT", el("FILENAME", name) + el("CONTROL", el("SOURCE", "MIX1")));
    };
    auto put = [&](char const* name, std::string const& text) {
        FILE* f = std::fopen((kit.vectors() + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(text.c_str(), f);
        std::fclose(f);
    };
    put("SELF.XML", el("VECTORFILE", el("VECTOR", reference("SELF.XML"))));
    put("ALPHA.XML", el("VECTORFILE", el("VECTOR", reference("BETA.XML"))));
    put("BETA.XML", el("VECTORFILE", el("VECTOR", reference("ALPHA.XML"))));
    put("NOVEC.XML", el("VECTORFILE", el("COMMON", "1")));
    put("BROKEN.XML", "</VECTOR>");
    std::string const file = el("ELEMENT", el("FILENAME", "F.WAV"));
    struct Row {
        std::string inside; // of the top ELEMENT
        char const* line;
    } const rows[] = {
        {inner(reference("MISSING.XML")), "Error in file \"vectors/MISSING.XML\": cannot be read"},
        {el("VECTOR", file + reference("SELF.XML")), "\"vectors/SELF.XML\": refers to itself"},
        {el("VECTOR", reference("ALPHA.XML")), "\"vectors/ALPHA.XML\": refers to itself"},
        {el("VECTOR", reference("NOVEC.XML")), "\"vectors/NOVEC.XML\": no VECTOR"},
        {el("VECTOR", reference("BROKEN.XML")), "\"vectors/BROKEN.XML\": no readable document"},
        {el("VECTOR", file + el("ELEMENT", el("VECTOR", file))), "mixes impulse files and vectors"},
        {nested(32), "nested deeper than 64 levels"},
    };
    long const baseline = pool.getma();
    for (Row const& r : rows) {
        LogCapture log;
        Element e(r.inside);
        EXPECT_THROW(p.readSlot(0, e.node), CoreAnsx) << r.line;
        EXPECT_NE(log.text().find(r.line), std::string::npos) << r.line << "\n" << log.text();
        EXPECT_EQ(p.slot(0).leaves.count, 0) << r.line;
        EXPECT_EQ(p.slot(0).cores.count, 0) << r.line;
        EXPECT_EQ(p.depth(), 1) << r.line;
        EXPECT_EQ(pool.getma(), baseline) << r.line;
    }
    // One level less than the bound still reads.
    Element deep(nested(31));
    ASSERT_NE(p.readSlot(0, deep.node), nullptr);
    EXPECT_EQ(p.slot(0).cores.count, 30);
    EXPECT_EQ(p.slot(0).leaves.count, 1);
}

} // namespace
