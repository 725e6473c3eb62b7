#include "engine/CoreRvct.h"

#include "engine/CorePlel.h"
#include "modulation/DataSrce.h"
#include "runtime/CorePool.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

class CoreRvctTest : public ::testing::Test {
protected:
    CoreRvct* make(int n, CorePlel* cache = nullptr, bool leaf = true,
                   CoreVctr** children = nullptr) {
        std::vector<double> positions(n), readback(n);
        for (int i = 0; i < n; ++i) positions[i] = readback[i] = i;
        return new CoreRvct(&pool, cache, leaf, n, nullptr, children, positions.data(), 0.0,
                            n - 1.0, readback.data(), 0.0, 1.0, &sources, 0.5, "MIX1");
    }
    static std::vector<double> element(CoreRvct* v, int i, int n) {
        void* l = nullptr;
        void* r = nullptr;
        v->getip(i, &l, &r);
        EXPECT_EQ(l, r); // one block serves both sides
        double const* p = static_cast<double const*>(l);
        return std::vector<double>(p, p + n);
    }

    CorePool pool;
    DataSrce sources;
};

} // namespace

TEST_F(CoreRvctTest, ElementsArePaddedWithTheirLastValue) {
    long before = pool.getma();
    CorePlel cache(&pool);
    CoreRvct* v = make(5, &cache);
    double a[3] = {1.0, 2.0, 3.0};
    double b[7] = {9, 8, 7, 6, 5, 4, 3};
    double c[1] = {4.0};
    double e[2] = {-1.0, std::numeric_limits<double>::denorm_min()};
    double* values[5] = {a, b, c, nullptr, e};
    int lengths[5] = {3, 7, 0, -2, 2};
    EXPECT_EQ(v->setre(4, values, lengths), 5);
    EXPECT_EQ(element(v, 0, 4), (std::vector<double>{1, 2, 3, 3}));
    EXPECT_EQ(element(v, 1, 4), (std::vector<double>{9, 8, 7, 6}));  // cut at n
    EXPECT_EQ(element(v, 2, 4), (std::vector<double>{0, 0, 0, 0}));  // length 0
    EXPECT_EQ(element(v, 3, 4), (std::vector<double>{0, 0, 0, 0}));  // negative length
    EXPECT_EQ(element(v, 4, 4), (std::vector<double>{-1, 0, 0, 0})); // subnormal stored as 0
    EXPECT_EQ(v->getfn(0), CoreAnsx(""));
    EXPECT_EQ(cache.getnr(), 0); // raw values are never registered
    EXPECT_FALSE(v->getsb(0));
    delete v;
    EXPECT_EQ(pool.getma(), before);
}

TEST_F(CoreRvctTest, ZeroLengthElementsStillHoldOneValue) {
    long before = pool.getma();
    CoreRvct* v = make(2);
    double a[2] = {5.0, 6.0};
    double* values[2] = {a, a};
    int lengths[2] = {2, 2};
    EXPECT_EQ(v->setre(0, values, lengths), 2);
    EXPECT_EQ(element(v, 0, 1), (std::vector<double>{0.0}));
    EXPECT_EQ(v->setre(1, values, lengths), 2); // a second fill keeps the blocks tracked
    EXPECT_EQ(element(v, 1, 1), (std::vector<double>{5.0}));
    delete v;
    EXPECT_EQ(pool.getma(), before);
}

TEST_F(CoreRvctTest, InnerRawVectorDestroysRawChildren) {
    long before = pool.getma();
    CoreRvct* kidA = make(2);
    CoreRvct* kidB = make(3);
    double a[1] = {1.0};
    double* values[3] = {a, a, a};
    int lengths[3] = {1, 1, 1};
    kidA->setre(16, values, lengths);
    kidB->setre(16, values, lengths);
    CoreVctr* kids[2] = {kidA, kidB};
    CoreRvct* root = make(2, nullptr, false, kids);
    root->chncp(16, -1, -1);
    root->chnip();
    root->chnna("RAW");
    EXPECT_EQ(kidB->getnm(), CoreAnsx("RAW_1"));
    delete root; // the children's value blocks go with them
    EXPECT_EQ(pool.getma(), before);
}
