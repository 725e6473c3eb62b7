#include "engine/CoreVctr.h"

#include "engine/CoreCnvl.h"
#include "engine/CoreCnvlIntl.h"
#include "engine/CorePlel.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "runtime/CorePool.h"
#include "tests/engine/CoreVctrPeek.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

namespace {

using Peek = CoreVctrPeek;

struct Spec {
    bool leaf = true;
    std::vector<double> positions{0.0};
    std::vector<CoreVctr*> children;
    double minimum = 0.0;
    double maximum = 1.0;
    double liquid = 0.5;
    int fadeIn = 0;
    int* fadeOut = nullptr;
    int* limits = nullptr;
    short inCurve = -1;
    short outCurve = -1;
};

class CoreVctrTest : public ::testing::Test {
protected:
    CoreVctr* make(Spec const& s, CorePlel* cache = nullptr, CoreCnvl* engine = nullptr) {
        int n = static_cast<int>(s.positions.size());
        std::vector<CoreAnsx> names;
        for (int i = 0; i < n; ++i) names.push_back(CoreAnsx("IR") + CoreAnsx(i) + ".WAV");
        std::vector<double> readback(s.positions);
        std::vector<double> positions(s.positions);
        std::vector<CoreVctr*> children(s.children);
        return new CoreVctr(&pool, cache, 0, engine, s.leaf, n, names.data(), positions.data(),
                            children.empty() ? nullptr : children.data(), s.minimum, s.maximum,
                            readback.data(), 0.0, 1.0, "MIX1", &sources, s.liquid, "MIX2", 0,
                            s.fadeIn, s.fadeOut, s.limits, false, s.inCurve, s.outCurve, true);
    }
    Spec inner(std::vector<CoreVctr*> kids) {
        Spec s;
        s.leaf = false;
        s.children = kids;
        s.positions.assign(kids.size(), 0.0);
        for (size_t i = 0; i < kids.size(); ++i) s.positions[i] = double(i);
        return s;
    }
    static double* d(void* p) { return static_cast<double*>(p); }

    CorePool pool;
    DataSrce sources;
};

// Every element index reachable in the position tree, checking the search
// order on the way.
void walk(CoreButl::VECTORELEMENT* node, std::vector<int>& inorder, std::vector<double>& pos) {
    if (node == nullptr) return;
    walk(node->left, inorder, pos);
    inorder.push_back(node->index);
    pos.push_back(node->position);
    walk(node->right, inorder, pos);
}

} // namespace

TEST_F(CoreVctrTest, ConstructionDefaultsAndControls) {
    long before = pool.getma();
    {
        Spec one;
        one.positions = {3.0};
        one.minimum = 3.0;
        one.maximum = 5.0;
        one.liquid = 0.0;
        CoreVctr* v = make(one);
        EXPECT_EQ(Peek::posMin(*v), 0.0); // a single element spans 0 .. 0
        EXPECT_EQ(Peek::posMax(*v), 0.0);
        EXPECT_DOUBLE_EQ(Peek::liquidValue(*v), CoreVctr::dCliquidmin);
        EXPECT_EQ(v->chnls(0), -1); // limits not given read as unset
        EXPECT_EQ(v->chnfo(1), 0);
        EXPECT_EQ(v->getnm(), CoreAnsx(""));
        delete v;
    }
    Spec s;
    s.positions = {0.0, 1.0, 2.0};
    s.minimum = -1.0;
    s.maximum = 4.0;
    s.liquid = 1.5;
    CoreVctr* v = make(s);
    EXPECT_EQ(Peek::posMin(*v), -1.0);
    EXPECT_EQ(Peek::posMax(*v), 4.0);
    EXPECT_DOUBLE_EQ(Peek::liquidValue(*v), CoreVctr::dCliquidmax);
    // Until bound, the controls give their lower bound.
    EXPECT_EQ(Peek::vectorParm(*v)->getvl(), -1.0);
    EXPECT_EQ(Peek::gainpadParm(*v)->getvl(), -1.0);
    EXPECT_EQ(Peek::gainParm(*v)->getvl(), -1.0);
    EXPECT_EQ(Peek::panParm(*v)->getvl(), -1.0);
    // Liquid follows its source at once, mapped onto 0 .. 1.
    sources.getsc("MIX2")->setvl(1.0);
    EXPECT_DOUBLE_EQ(Peek::liquidParm(*v)->getvl(), 1.0);
    sources.getsc("MIX2")->setvl(0.0);
    EXPECT_DOUBLE_EQ(Peek::liquidParm(*v)->getvl(), 0.5);
    EXPECT_EQ(v->getfn(1), CoreAnsx("IR1.WAV"));
    EXPECT_EQ(v->getne(), 3);
    delete v;
    Spec mid;
    mid.positions = {0.0, 1.0};
    mid.liquid = 0.3;
    v = make(mid);
    EXPECT_DOUBLE_EQ(Peek::liquidValue(*v), 0.3);
    delete v;
    EXPECT_EQ(pool.getma(), before); // every block given back
}

TEST_F(CoreVctrTest, DuplicatePositionsOnlyFirstReachable) {
    Spec s;
    s.positions = {2.0, 0.0, 2.0, 1.0, 0.0};
    CoreVctr* v = make(s);
    std::vector<int> indices;
    std::vector<double> pos;
    walk(Peek::treeRoot(*v), indices, pos);
    EXPECT_EQ(indices, (std::vector<int>{1, 3, 0})); // the later duplicates 2 and 4 are gone
    EXPECT_EQ(pos, (std::vector<double>{0.0, 1.0, 2.0}));
    // The duplicates keep their element slots.
    EXPECT_EQ(v->getne(), 5);
    double a[2] = {1, 1}, b[2] = {2, 2};
    v->setip(2, a, a, "X", 2, 48000, 0, 0, nullptr, 0);
    v->setip(4, b, b, "Y", 2, 48000, 0, 0, nullptr, 0);
    void* l = nullptr;
    void* r = nullptr;
    v->getip(2, &l, &r);
    EXPECT_EQ(l, a);
    v->getip(4, &l, &r);
    EXPECT_EQ(r, b);
    delete v;
}

TEST_F(CoreVctrTest, OutputSizesNeverFallBelowEitherLength) {
    struct Case {
        long len, len1, alloc;
        int expect0, expect1, expectAlloc;
    } cases[] = {
        {100, -1, -1, 100, 100, 100}, {100, 200, -1, 100, 200, 200},
        {100, 50, -1, 100, 50, 100}, // length1 < length: still room for length
        {100, 50, 300, 100, 50, 300}, {100, 120, 110, 100, 120, 120},
    };
    for (auto const& c : cases) {
        CoreVctr* kid = make(Spec());
        CoreVctr* v = make(inner({kid}));
        v->chncp(c.len, c.len1, c.alloc);
        EXPECT_EQ(v->getal(), c.expectAlloc) << c.len << " " << c.len1 << " " << c.alloc;
        EXPECT_EQ(Peek::len0(*v), c.expect0);
        EXPECT_EQ(Peek::len1(*v), c.expect1);
        EXPECT_EQ(v->getcd(), c.expect0);
        // Children are sized without an allocation of their own.
        EXPECT_EQ(kid->getal(), std::max(c.len, c.expect1 * 1L));
        EXPECT_TRUE(*v->getuc());
        // Either selector's length fits the buffers: fill the whole current
        // length through the element copy (ASan watches the bounds).
        for (short sel = 0; sel < 2; ++sel) {
            v->chncd(sel);
            EXPECT_EQ(kid->getcd(), sel == 0 ? c.expect0 : c.expect1);
            std::vector<double> ones(v->getcd(), 1.0);
            CoreCnvlIntl::copy1(nullptr, v->getlc(), ones.data(), v->getcd(), false, 0, false);
            CoreCnvlIntl::copy1(nullptr, kid->getrc(), ones.data(), kid->getcd(), false, 0, false);
        }
        v->chncd(7); // unknown selector: no change
        EXPECT_EQ(v->getcd(), c.expect1);
        delete v;
    }
}

TEST_F(CoreVctrTest, ResizeAndLinkTree) {
    long before = pool.getma();
    CoreVctr* leafA = make(Spec());
    CoreVctr* leafB = make(Spec());
    CoreVctr* mid = make(inner({leafA, leafB}));
    CoreVctr* leafC = make(Spec());
    CoreVctr* root = make(inner({mid, leafC}));
    root->chncp(64, -1, -1);
    root->chnip();
    EXPECT_EQ(Peek::left(*root, 0), mid->getlc());
    EXPECT_EQ(Peek::right(*root, 1), leafC->getrc());
    EXPECT_EQ(Peek::left(*mid, 1), leafB->getlc());
    EXPECT_EQ(Peek::right(*mid, 0), leafA->getrc());
    EXPECT_EQ(Peek::flag(*root, 0), mid->getca());
    EXPECT_EQ(Peek::flag(*mid, 1), leafB->getca());
    // Resizing: free, reallocate, relink.
    root->chndc();
    EXPECT_EQ(root->getlc(), nullptr);
    EXPECT_EQ(leafB->getrc(), nullptr);
    root->chncp(32, 48, -1);
    root->chnip();
    EXPECT_EQ(Peek::left(*mid, 0), leafA->getlc());
    EXPECT_EQ(leafA->getal(), 48);
    root->chnna("V");
    EXPECT_EQ(root->getnm(), CoreAnsx("V"));
    EXPECT_EQ(mid->getnm(), CoreAnsx("V_0"));
    EXPECT_EQ(leafB->getnm(), CoreAnsx("V_0_1"));
    EXPECT_EQ(leafC->getnm(), CoreAnsx("V_1"));
    delete root; // deletes the whole tree
    EXPECT_EQ(pool.getma(), before);
}

TEST_F(CoreVctrTest, UnlinkLeavesChildrenAlive) {
    CoreVctr* kid = make(Spec());
    CoreVctr* root = make(inner({kid}));
    root->chncp(16, -1, -1);
    root->chnip();
    root->ulink();
    delete root;
    kid->chnna("STILL");
    EXPECT_EQ(kid->getnm(), CoreAnsx("STILL"));
    delete kid;
}

TEST_F(CoreVctrTest, SubtreeQueries) {
    int fo1[2] = {10, 20}, lim1[2] = {-4, -9};
    int fo2[2] = {30, 5}, lim2[2] = {-2, 7};
    int foR[2] = {1, 2}, limR[2] = {-3, -8};
    Spec a;
    a.fadeIn = 5;
    a.fadeOut = fo1;
    a.limits = lim1;
    a.inCurve = 2;
    a.outCurve = -1;
    Spec b;
    b.fadeIn = 9;
    b.fadeOut = fo2;
    b.limits = lim2;
    b.inCurve = -1;
    b.outCurve = 3;
    CoreVctr* ka = make(a);
    CoreVctr* kb = make(b);
    Spec r = inner({ka, kb});
    r.fadeOut = foR;
    r.limits = limR;
    CoreVctr* root = make(r);
    EXPECT_EQ(root->chnfi(), 9);
    EXPECT_EQ(root->chnci(), 2);
    EXPECT_EQ(root->chnco(), 3);
    EXPECT_EQ(root->chnls(0), -2); // nobody sets limit 0: the largest negative value
    EXPECT_EQ(root->chnls(1), 7);
    EXPECT_EQ(root->chnfo(0), 30);
    EXPECT_EQ(root->chnfo(1), 20);
    delete root;

    // Own values win when set.
    int foS[2] = {11, 12}, limS[2] = {0, 100};
    Spec own = inner({make(a)});
    own.fadeIn = 4;
    own.fadeOut = foS;
    own.limits = limS;
    own.inCurve = 0;
    own.outCurve = 1;
    root = make(own);
    EXPECT_EQ(root->chnfi(), 4);
    EXPECT_EQ(root->chnci(), 0);
    EXPECT_EQ(root->chnco(), 1);
    EXPECT_EQ(root->chnls(0), 0);
    EXPECT_EQ(root->chnfo(0), 11);
    EXPECT_EQ(root->chnfo(1), 12);
    int o = -1, f = -1;
    root->getup(o, f);
    EXPECT_EQ(o, 0);
    EXPECT_EQ(f, 4);
    delete root;
}

TEST_F(CoreVctrTest, RangesAndIndexChecks) {
    Spec s;
    s.positions = {0.0, 1.0};
    CoreVctr* v = make(s);
    long a = 7, b = 7;
    EXPECT_FALSE(v->getrz(2, a, b));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    a = b = 7;
    EXPECT_FALSE(v->getrz(-1, a, b));
    EXPECT_EQ(a + b, 0);
    EXPECT_FALSE(v->getrz(1, a, b));
    v->setrz(1, 10, 20);
    v->setrz(5, 1, 1); // ignored
    EXPECT_TRUE(v->getrz(1, a, b));
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 20);
    // Bad indices of the other element calls are refused, not followed.
    double x[1] = {0};
    v->setip(2, x, x, "X", 1, 1, 0, 0, nullptr, 0);
    v->setpk(-1, 2.0);
    v->cpyip(9, x, x, 1);
    void* l = &a;
    v->getip(3, &l, nullptr);
    EXPECT_EQ(l, nullptr);
    EXPECT_FALSE(v->getsb(3));
    delete v;
}

TEST_F(CoreVctrTest, SwitchingCopiesOnlyWhenThePairChanges) {
    CoreVctr* v = make(Spec());
    v->chncp(8, -1, -1);
    v->setcc(1); // switching off: nothing happens
    EXPECT_EQ(v->getap(), 0);
    v->setsc();
    ASSERT_NE(v->getls(), nullptr);
    EXPECT_TRUE(*v->getus());
    for (int i = 0; i < 8; ++i) {
        d(v->getlc())[i] = i + 1.0;
        d(v->getrc())[i] = -(i + 1.0);
        d(v->getls())[i] = 7.0;
        d(v->getrs())[i] = 7.0;
    }
    v->setcc(0);
    EXPECT_EQ(d(v->getls())[3], 7.0); // same pair: no copy
    EXPECT_EQ(Peek::curLeft(*v), v->getlc());
    v->setcc(1);
    EXPECT_EQ(v->getap(), 1);
    EXPECT_EQ(Peek::curLeft(*v), v->getls());
    EXPECT_EQ(Peek::curRight(*v), v->getrs());
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(d(v->getls())[i], i + 1.0);
        EXPECT_EQ(d(v->getrs())[i], -(i + 1.0));
    }
    // Back to pair 0 carries pair 1's state.
    d(v->getls())[0] = 42.0;
    v->setcc(0);
    EXPECT_EQ(d(v->getlc())[0], 42.0);
    v->setcc(3); // not a pair
    EXPECT_EQ(v->getap(), 0);
    delete v;
}

TEST_F(CoreVctrTest, FadeElementsAreRamps) {
    long before = pool.getma();
    CoreVctr* v = make(Spec());
    double* in = d(v->newfi(5));
    double* out = d(v->newfo(5));
    for (int i = 0; i < 5; ++i) {
        EXPECT_DOUBLE_EQ(in[i], i / 4.0);
        EXPECT_DOUBLE_EQ(out[i], 1.0 - i / 4.0);
    }
    double* tail = d(v->newfe(3));
    EXPECT_DOUBLE_EQ(tail[1], 0.5);
    tail = d(v->newfe(4)); // replaces the last one (no leak)
    EXPECT_DOUBLE_EQ(tail[0], 1.0);
    EXPECT_DOUBLE_EQ(tail[3], 0.0);
    EXPECT_EQ(v->newfe(0), nullptr);
    v->setcr(in, 3, 10, 5);
    delete v;
    EXPECT_EQ(pool.getma(), before);
}

TEST_F(CoreVctrTest, CopyingIntoElements) {
    CoreVctr* v = make(Spec());
    void* l = nullptr;
    void* r = nullptr;
    v->newip(&l, &r, 8);
    double src[3] = {1.0, std::numeric_limits<double>::denorm_min(), 3.0};
    v->copyd(l, r, src, src, 3, 0);
    EXPECT_EQ(d(l)[1], 0.0); // flushed
    EXPECT_FALSE(std::signbit(d(r)[1]));
    v->copyd(l, r, src, src, 3, 4); // lands at the offset
    EXPECT_EQ(d(l)[3], 0.0);
    EXPECT_EQ(d(l)[4], 1.0);
    EXPECT_EQ(d(r)[6], 3.0);
    EXPECT_EQ(d(r)[7], 0.0);
    v->setip(0, d(l), d(r), "IR", 8, 48000, 0, 0, nullptr, 0);
    double two[2] = {5.0, 6.0};
    v->cpyip(0, two, two, 2);
    EXPECT_EQ(d(l)[1], 6.0);
    EXPECT_EQ(d(r)[0], 5.0);
    v->delip(l, r);
    delete v;
}

TEST_F(CoreVctrTest, ElementsWithoutCacheUseTheVectorPool) {
    CoreVctr* v = make(Spec());
    long before = pool.getma();
    void* l = nullptr;
    void* r = nullptr;
    v->newip(&l, &r, 16);
    ASSERT_NE(l, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_GT(pool.getma(), before);
    v->delip(l, r);
    EXPECT_EQ(pool.getma(), before);
    // Only a left element when right is not asked for; a mono pair goes once.
    v->newip(&l, nullptr, 4);
    v->delip(l, l);
    EXPECT_EQ(pool.getma(), before);
    delete v;
}

TEST_F(CoreVctrTest, RegistrationsAndSharingThroughTheCache) {
    CorePool cachePool;
    CoreCnvl engine(&pool, "H1", 0, nullptr);
    long cacheBefore = cachePool.getma();
    {
        CorePlel cache(&cachePool);
        int ownerA = 0, ownerB = 0;
        Spec s;
        s.positions = {0.0, 1.0};
        CoreVctr* a = make(s, &cache, &engine);
        CoreVctr* b = make(s, &cache, &engine);
        a->chncp(8, -1, -1);
        b->chncp(8, -1, -1);
        long beforeNew = cachePool.getma();
        void *al[2], *ar[2], *bl[2], *br[2];
        for (int i = 0; i < 2; ++i) {
            a->newip(&al[i], &ar[i], 8);
            b->newip(&bl[i], &br[i], 8);
            for (int k = 0; k < 8; ++k) {
                d(al[i])[k] = 1.0 + i;
                d(bl[i])[k] = 1.0 + i;
            }
        }
        EXPECT_GT(cachePool.getma(), beforeNew); // the cache's pool, not the vector's
        {
            CorePlel::BRACKET g(cache, "ARCHIVE.V2V", true);
            for (int i = 0; i < 2; ++i)
                a->setip(i, d(al[i]), d(ar[i]), CoreAnsx("IR") + CoreAnsx(i), 8, 48000, 0, 7,
                         &ownerA, 0);
        }
        {
            CorePlel::BRACKET g(cache, "ARCHIVE.V2V", true);
            for (int i = 0; i < 2; ++i)
                b->setip(i, d(bl[i]), d(br[i]), CoreAnsx("IR") + CoreAnsx(i), 8, 48000, 0, 7,
                         &ownerB, 0);
        }
        EXPECT_EQ(cache.getnr(), 2);
        for (int i = 0; i < 2; ++i) {
            EXPECT_FALSE(a->getsb(i));
            EXPECT_TRUE(b->getsb(i)); // the second owner holds the first one's buffers
            EXPECT_EQ(Peek::left(*b, i), al[i]);
            EXPECT_EQ(Peek::right(*b, i), ar[i]);
            EXPECT_EQ(d(Peek::left(*b, i))[3], 1.0 + i); // contents untouched by the swap
        }
        delete a; // b still holds the pairs
        EXPECT_EQ(cache.getnr(), 2);
        EXPECT_EQ(d(Peek::left(*b, 1))[7], 2.0);
        delete b; // the last holder: the registrations are gone
        EXPECT_EQ(cache.getnr(), 0);
        EXPECT_EQ(cachePool.getma(), beforeNew);
    }
    EXPECT_EQ(cachePool.getma(), cacheBefore);
}

TEST_F(CoreVctrTest, OutputsWiderThanTheElementsAreNotShared) {
    // Same file and settings, but one owner's kernels are allocated longer:
    // the shorter pair must not be handed to it.
    CorePool cachePool;
    CoreCnvl engine(&pool, "H1", 0, nullptr);
    CorePlel cache(&cachePool);
    int ownerA = 0, ownerB = 0;
    CoreVctr* a = make(Spec(), &cache, &engine);
    CoreVctr* b = make(Spec(), &cache, &engine);
    a->chncp(8, -1, -1);
    b->chncp(8, -1, 32);
    void *al, *ar, *bl, *br;
    a->newip(&al, &ar, 8);
    b->newip(&bl, &br, 32);
    cache.begin("G", true);
    a->setip(0, d(al), d(ar), "IR", 8, 48000, 0, 0, &ownerA, 0);
    b->setip(0, d(bl), d(br), "IR", 8, 48000, 0, 0, &ownerB, 0);
    cache.end__();
    EXPECT_FALSE(b->getsb(0));
    EXPECT_EQ(Peek::left(*b, 0), bl);
    EXPECT_EQ(cache.getnr(), 2);
    delete a;
    delete b;
    EXPECT_EQ(cache.getnr(), 0);
}

TEST_F(CoreVctrTest, ResizingASwitchingRootResizesBothPairs) {
    long before = pool.getma();
    CoreVctr* v = make(Spec());
    v->chncp(8, -1, -1);
    v->setsc();
    v->chncp(64, -1, -1); // larger: the second pair must follow
    EXPECT_EQ(v->getap(), 0);
    std::vector<double> ramp(64);
    for (int i = 0; i < 64; ++i) ramp[i] = i;
    CoreCnvlIntl::copy1(nullptr, v->getlc(), ramp.data(), 64, false, 0, false);
    v->setcc(1); // copies the whole current length into pair 1 (ASan watches)
    EXPECT_EQ(d(v->getls())[63], 63.0);
    EXPECT_EQ(Peek::curLeft(*v), v->getls());
    // Freed and sized again: both pairs are back.
    v->chndc();
    v->chncp(32, -1, -1);
    ASSERT_NE(v->getls(), nullptr);
    ASSERT_NE(v->getrs(), nullptr);
    v->setcc(1);
    EXPECT_EQ(Peek::curRight(*v), v->getrs());
    EXPECT_TRUE(*v->getus());
    delete v;
    EXPECT_EQ(pool.getma(), before);
}

TEST_F(CoreVctrTest, UnlinkedOrResizedTreesNeverReadFreedOutputs) {
    CoreVctr* kid = make(Spec());
    CoreVctr* parent = make(inner({kid}));
    parent->chncp(8, -1, -1);
    parent->chnip();
    parent->chncp(16, -1, -1); // the children's outputs are new: the link follows
    EXPECT_EQ(Peek::left(*parent, 0), kid->getlc());
    parent->chndc(); // freed: missing until linked again, never dangling
    EXPECT_EQ(Peek::left(*parent, 0), nullptr);
    parent->chncp(8, -1, -1);
    parent->chnip();
    parent->ulink();
    EXPECT_EQ(Peek::left(*parent, 0), nullptr);
    delete kid;
    parent->chnup(true); // ASan watches
    delete parent;
}
