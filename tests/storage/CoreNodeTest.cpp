// The document tree: value texts, name lookups (last match) against path
// walks (first match), typed getters with their "0" rule, path edits and the
// template and replacement operations.

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "runtime/CoreTlst.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"

namespace {

std::string str(CoreAnsx const& t) { return t.c_str(); }

// Parses text and returns the compact text of the document after f runs.
template <typename F> std::string edited(char const* source, F f) {
    CoreXml_ doc;
    CoreNode* root = doc.getfc(source);
    f(root);
    return str(doc.settc(false, false));
}

CoreNode* valueElement(char const* name, CoreNode* value) {
    CoreNode* element = new CoreNode(name);
    element->addcd(value);
    return element;
}

} // namespace

TEST(CoreNode, ConstructorTexts) {
    EXPECT_EQ(str(CoreNode(true).gettx()), "1");
    EXPECT_EQ(str(CoreNode(false).gettx()), "0");
    EXPECT_EQ(str(CoreNode(-3).gettx()), "-3");
    EXPECT_EQ(str(CoreNode(0.5).gettx()), "0.5");
    EXPECT_EQ(str(CoreNode(1000000.0).gettx()), "1E+06");
    EXPECT_EQ(str(CoreNode(0.00001).gettx()), "1E-05");
    EXPECT_EQ(str(CoreNode(CoreAnsx(" Keep Case ")).gettx()), " Keep Case ");
    // A literal is text, not a bool.
    EXPECT_EQ(str(CoreNode("abc").gettx()), "abc");
    CoreNode n("x");
    EXPECT_TRUE(n.leaf_());
    EXPECT_NE(n.getcn(), nullptr);
    EXPECT_EQ(n.getcd(), nullptr);
}

TEST(CoreNode, DuplicateNamesLastForLookupsFirstForPaths) {
    CoreXml_ doc;
    CoreNode* root = doc.getfc("<A><B> first </B><b > second </b ><C> 1 </C></A>");
    CoreNode* a = root->getcd("A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(str(a->getcd(" b ")->getcd()->gettx()), " second ");
    EXPECT_EQ(str(a->getls("B")), "second");
    CoreAnsx path[2] = {"A", "B"};
    EXPECT_EQ(str(root->pfind(path, 2)->getcd()->gettx()), " first ");
    EXPECT_EQ(str(a->getls("B", 0)), "FIRST");
    EXPECT_EQ(str(a->getls("B", 1)), "SECOND");
    EXPECT_EQ(str(a->getls("B", 2)), "");
    EXPECT_EQ(str(a->getls("b", 0)), ""); // like getcc: the name as passed
    EXPECT_EQ(a->getcc("B"), 2);
    EXPECT_EQ(a->getcc("b"), 0); // compared with the name as passed
    EXPECT_TRUE(a->exsnc("c"));
    EXPECT_FALSE(a->exsnc("D"));
    EXPECT_TRUE(a->cdis_("A"));
    EXPECT_FALSE(a->cdis_("a"));
}

TEST(CoreNode, GettersAndTheZeroRule) {
    CoreXml_ doc;
    CoreNode* r = doc.getfc("<V><I> 12.7 </I><E> 1E+06 </E><C> 1,5 </C><H> 0.5 </H><Z> 0 </Z>"
                            "<EMPTY></EMPTY><BIG> 1E+300 </BIG><NAN> nan </NAN></V>");
    CoreNode* v = r->getcd("V");
    EXPECT_EQ(v->getli("I"), 12);
    EXPECT_EQ(v->getli("E"), 1);
    EXPECT_EQ(CoreNode::gtnli(v, "E", 9), 1000000);
    EXPECT_DOUBLE_EQ(v->getld("C"), 1.5);
    EXPECT_EQ(v->getli("C"), 1);
    EXPECT_FALSE(v->getlb("H"));
    EXPECT_TRUE(CoreNode::gtnlb(v, "E", false));
    EXPECT_EQ(str(v->getlc("Z")), " 0 ");
    EXPECT_TRUE(v->exslc("Z")); // read back with blanks: present
    EXPECT_EQ(CoreNode::gtnli(v, "Z", 9), 0);
    EXPECT_EQ(str(v->getls("EMPTY")), "");
    EXPECT_TRUE(v->exslc("EMPTY"));
    EXPECT_EQ(v->getli("EMPTY"), 0);
    EXPECT_DOUBLE_EQ(CoreNode::gtnld(v, "EMPTY", 4.0), 0.0);
    // Absent.
    EXPECT_EQ(str(v->getlc("NONE")), "0");
    EXPECT_EQ(str(v->getls("NONE")), "");
    EXPECT_EQ(v->getli("NONE"), 0);
    EXPECT_DOUBLE_EQ(v->getld("NONE"), 0.0);
    EXPECT_EQ(str(CoreNode::gtnls(v, "NONE", "dflt")), "dflt");
    EXPECT_DOUBLE_EQ(CoreNode::gtnld(v, "NONE", 2.5), 2.5);
    EXPECT_TRUE(CoreNode::gtnlb(v, "NONE", true));
    EXPECT_EQ(CoreNode::gtnli(nullptr, "I", 7), 7);
    // Numbers a file may hold that do not fit an int must not wrap or trap.
    EXPECT_EQ(CoreNode::gtnli(v, "BIG", 0), INT_MAX);
    EXPECT_EQ(CoreNode::gtnli(v, "NAN", 5), 0);
    EXPECT_FALSE(CoreNode::gtnlb(v, "NAN", true));

    // In memory, a value made from 0 or false is the text "0": absent.
    CoreNode mem("M");
    mem.addcd(valueElement("Z", new CoreNode(0)));
    mem.addcd(valueElement("F", new CoreNode(false)));
    EXPECT_FALSE(mem.exslc("Z"));
    EXPECT_EQ(CoreNode::gtnli(&mem, "Z", 9), 9);
    EXPECT_TRUE(CoreNode::gtnlb(&mem, "F", true));
    EXPECT_EQ(str(mem.getls("Z")), "");
}

TEST(CoreNode, StructureEdits) {
    // delcn by name removes every match and releases an emptied list.
    EXPECT_EQ(edited("<A><B> 1 </B><C> 2 </C><b> 3 </b></A>",
                     [](CoreNode* r) { r->getcd("A")->delcn(" b"); }),
              "<A><C> 2 </C></A>");
    CoreNode solo("S");
    solo.addcd(new CoreNode("X"));
    solo.delcn("x");
    EXPECT_EQ(solo.getcn(), nullptr);
    EXPECT_TRUE(solo.leaf_());
    solo.addcd(new CoreNode("Y")); // the list comes back
    EXPECT_FALSE(solo.leaf_());
    solo.delcn();
    EXPECT_NE(solo.getcn(), nullptr);
    EXPECT_TRUE(solo.leaf_());

    // upglf replaces every same-named child by one at the end.
    EXPECT_EQ(edited("<A><B> 1 </B><C> 2 </C><B> 3 </B></A>",
                     [](CoreNode* r) { r->getcd("A")->upglf("B", new CoreNode(4)); }),
              "<A><C> 2 </C><B> 4 </B></A>");
    CoreNode t("old");
    t.settx("new");
    EXPECT_EQ(str(t.gettx()), "new");
}

TEST(CoreNode, PathWalksAndEdits) {
    // pfind creates intermediate levels but never the last one.
    CoreXml_ doc;
    CoreNode* root = doc.getfc("");
    CoreAnsx abc[3] = {"A", "B", "C"};
    EXPECT_EQ(root->pfind(abc, 3), nullptr);
    EXPECT_EQ(str(doc.settc(false, false)), "<A> B </A>"); // B made, a bare leaf
    ASSERT_NE(root->getcd("A"), nullptr);
    EXPECT_NE(root->getcd("A")->getcd("B"), nullptr);
    EXPECT_EQ(root->pfind(abc, 0), nullptr);

    // prplc puts the replacement at the END of the parent.
    CoreAnsx ab[2] = {"A", "B"};
    EXPECT_EQ(edited("<A><B> 1 </B><C> 2 </C></A>",
                     [&](CoreNode* r) { r->prplc(ab, 2, valueElement("B", new CoreNode(9))); }),
              "<A><C> 2 </C><B> 9 </B></A>");
    // pdlte and psplt take the first match.
    EXPECT_EQ(edited("<A><B> 1 </B><B> 2 </B></A>", [&](CoreNode* r) { r->pdlte(ab, 2); }),
              "<A><B> 2 </B></A>");
    CoreNode* detached = nullptr;
    EXPECT_EQ(
        edited("<A><B> 1 </B><B> 2 </B></A>", [&](CoreNode* r) { detached = r->psplt(ab, 2); }),
        "<A><B> 2 </B></A>");
    ASSERT_NE(detached, nullptr);
    EXPECT_EQ(str(detached->getcd()->gettx()), " 1 ");
    delete detached;

    // pappd to a path that leads nowhere takes the node anyway (no leak, ASan).
    CoreNode holder("H");
    CoreAnsx missing[1] = {"NOPE"};
    EXPECT_FALSE(holder.pappd(missing, 1, new CoreNode("lost")));
    // A node cannot be appended into its own subtree.
    CoreXml_ self;
    CoreNode* sr = self.getfc("<A><B><C> 1 </C></B></A>");
    CoreAnsx a1[1] = {"A"};
    CoreNode* a = sr->psplt(a1, 1);
    CoreAnsx bpath[1] = {"B"};
    EXPECT_FALSE(a->pappd(bpath, 1, a)); // refused and destroyed
    EXPECT_TRUE(sr->leaf_());

    // pmove with replace puts the moved node where the old one was named,
    // at the end of the parent.
    CoreXml_ src;
    CoreNode* s = src.getfc("<S><X> new </X></S>");
    CoreAnsx sx[2] = {"S", "X"};
    CoreAnsx ax[2] = {"A", "X"};
    EXPECT_EQ(edited("<A><X> old </X><Y> 1 </Y></A>",
                     [&](CoreNode* r) { EXPECT_TRUE(r->pmove(sx, 2, s, ax, 2, true)); }),
              "<A><Y> 1 </Y><X> new </X></A>");
    EXPECT_EQ(s->getcd("S")->getcc("X"), 0);
}

TEST(CoreNode, PmoveThatCannotPlaceTheNodeLeavesTheSourceWhole) {
    // No element at the to path: the node stays where it was, in its place.
    CoreXml_ src;
    CoreNode* s = src.getfc("<S><X> 1 </X><Y> 2 </Y><Z> 3 </Z></S>");
    CoreAnsx sy[2] = {"S", "Y"};
    CoreAnsx nowhere[2] = {"T", "U"};
    CoreNode holder("H");
    EXPECT_FALSE(holder.pmove(sy, 2, s, nowhere, 2, false));
    EXPECT_EQ(str(src.settc(false, false)), "<S><X> 1 </X><Y> 2 </Y><Z> 3 </Z></S>");
    EXPECT_FALSE(holder.pmove(sy, 2, s, nowhere, 0, true));
    EXPECT_EQ(str(src.settc(false, false)), "<S><X> 1 </X><Y> 2 </Y><Z> 3 </Z></S>");

    // A destination inside the node to move would make a cycle: refused.
    CoreXml_ doc;
    CoreNode* r = doc.getfc("<A><B><C> 1 </C></B></A>");
    CoreNode* b = r->getcd("A")->getcd("B");
    CoreAnsx a1[1] = {"A"};
    CoreAnsx z1[1] = {"Z"};
    EXPECT_FALSE(b->pmove(a1, 1, r, z1, 1, true));
    EXPECT_EQ(str(doc.settc(false, false)), "<A><B><C> 1 </C></B></A>");
}

TEST(CoreNode, TemplateReplaceAndDebug) {
    // Template values replace, missing elements are added, present ones merge.
    CoreXml_ tmpl, dst;
    tmpl.getfc("<A><B> 7 </B><N><M> 1 </M></N></A>");
    dst.getfc("<A><B> 3 </B><K> 4 </K></A>");
    CoreNode::templ(tmpl.getrt(), dst.getrt());
    EXPECT_EQ(str(dst.settc(false, false)), "<A><B> 7 </B><K> 4 </K><N><M> 1 </M></N></A>");
    // A template applied to itself is refused, unchanged.
    CoreNode::templ(dst.getrt(), dst.getrt()->getcd("A"));
    EXPECT_EQ(str(dst.settc(false, false)), "<A><B> 7 </B><K> 4 </K><N><M> 1 </M></N></A>");

    // rplce: whole replacement, and substring replacement of the old value;
    // a matching element is not descended into.
    CoreXml_ doc;
    doc.getfc("<P><FILENAME> dir/a.wav </FILENAME><E><FILENAME> dir/b.wav </FILENAME></E>"
              "<GAIN><FILENAME> x </FILENAME></GAIN></P>");
    doc.getrt()->rplce("filename", "new", "dir", false);
    EXPECT_EQ(str(doc.settc(false, false)),
              "<P><FILENAME> new/a.wav </FILENAME><E><FILENAME> new/b.wav </FILENAME></E>"
              "<GAIN><FILENAME> x </FILENAME></GAIN></P>");
    doc.getrt()->rplce("GAIN", "0.5", "0", false);
    EXPECT_EQ(str(doc.getrt()->getcd("P")->getls("GAIN")), "0.5");
    doc.getrt()->rplce("E", "z", "", false); // an empty search text changes nothing
    EXPECT_EQ(str(doc.getrt()->getcd("P")->getls("E")), "FILENAME");
    doc.getrt()->rplce("E", "w", "q", true);
    EXPECT_EQ(str(doc.getrt()->getcd("P")->getls("E")), "w");
    // A value that reads like the name stays a value.
    CoreXml_ named;
    named.getfc("<P><NAME> Filename </NAME><FILENAME> a </FILENAME></P>");
    named.getrt()->rplce("FILENAME", "b", "0", true);
    EXPECT_EQ(str(named.settc(false, false)),
              "<P><NAME> Filename </NAME><FILENAME> b </FILENAME></P>");

    CoreXml_ small;
    small.getfc("<A><B> 1 </B></A>");
    EXPECT_EQ(str(small.getrt()->debug(0, nullptr)), "> ROOT\n>> A\n>>> B\n>>>>  1 \n");
    EXPECT_EQ(str(small.getrt()->debug(2, small.getrt()->getcd("A")->getcd("B"))),
              ">>> B\n>>>>  1 \n");
}
