// ctest-labels: threads
#include "engine/CorePlel.h"

#include "runtime/CorePool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Buffers made by the tests and freed by this deleter, which records what it
// was asked to free and with which pool.
std::vector<void*> deleted;
CorePool* lastPool = nullptr;

void testDelete(CoreCnvl::VECEXTENSION*, CorePool* pool, void* element) {
    deleted.push_back(element);
    lastPool = pool;
    delete[] static_cast<double*>(element);
}

void* make() { return new double[4](); }

int owners[2]; // two distinct owner addresses

struct Ident {
    CoreAnsx name = "IR1.WAV";
    long length = 100;
    int rate = 48000;
    long start = 0;
    long end = 99;
    short variant = 0;
    long allocated = 128;
    short set = 1;
};

// A caller's fresh pair of buffers.
struct Pair {
    void* l = make();
    void* r = make();
};

// Registers the pair at l and r under the given identity and owner.
int reg(CorePlel& cache, void*& left, void*& right, void* owner, Ident const& id = Ident()) {
    return cache.addel(&testDelete, nullptr, &left, &right, id.name, id.length, id.rate, id.start,
                       id.end, owner, id.variant, id.allocated, id.set);
}
int reg(CorePlel& cache, Pair& p, void* owner, Ident const& id = Ident()) {
    return reg(cache, p.l, p.r, owner, id);
}

class CorePlelTest : public ::testing::Test {
protected:
    void SetUp() override {
        deleted.clear();
        lastPool = nullptr;
    }
    CorePool pool;
};

} // namespace

TEST_F(CorePlelTest, SameOwnerTwiceMakesTwoRecords) {
    CorePlel cache(&pool);
    Pair p1;
    Pair p2;
    cache.begin("ARCHIVE.V2V", true);
    int a = reg(cache, p1, &owners[0]);
    int b = reg(cache, p2, &owners[0]);
    cache.end__();
    EXPECT_NE(a, b);
    EXPECT_EQ(cache.getnr(), 2);
    EXPECT_TRUE(deleted.empty());
    EXPECT_NE(p1.l, p2.l);
}

TEST_F(CorePlelTest, SharingOffOrOutsideBracketNeverMatches) {
    CorePlel cache(&pool);
    Pair p1;
    Pair p2;
    Pair p3;
    cache.begin("G", true);
    reg(cache, p1, &owners[0]);
    cache.end__();
    cache.begin("G", false);
    reg(cache, p2, &owners[1]);
    cache.end__();
    reg(cache, p3, &owners[1]); // no bracket
    EXPECT_EQ(cache.getnr(), 3);
    EXPECT_TRUE(deleted.empty());
    EXPECT_NE(p2.l, p1.l);
    EXPECT_NE(p3.l, p1.l);
}

TEST_F(CorePlelTest, SharedPairLivesUntilLastRelease) {
    CorePlel cache(&pool);
    Pair p1;
    Pair p2;
    Pair mine = p2;
    cache.begin("G", true);
    int a = reg(cache, p1, &owners[0]);
    int b = reg(cache, p2, &owners[1]);
    cache.end__();
    EXPECT_EQ(a, b);
    EXPECT_EQ(p2.l, p1.l);
    EXPECT_EQ(p2.r, p1.r);
    // The second owner's own pair went, left first, with the cache's pool.
    ASSERT_EQ(deleted.size(), 2u);
    EXPECT_EQ(deleted[0], mine.l);
    EXPECT_EQ(deleted[1], mine.r);
    EXPECT_EQ(lastPool, &pool);
    EXPECT_EQ(cache.getrf(a), 2);

    cache.relel(a, false);
    EXPECT_EQ(deleted.size(), 2u);
    EXPECT_EQ(cache.getrf(a), 1);
    cache.relel(a, false);
    ASSERT_EQ(deleted.size(), 4u);
    EXPECT_EQ(deleted[2], p1.l);
    EXPECT_EQ(deleted[3], p1.r);
    EXPECT_EQ(cache.getrf(a), -1);
    EXPECT_EQ(cache.getnr(), 0);
}

TEST_F(CorePlelTest, ForceReleasesAtOnceAndUnknownIdIsIgnored) {
    CorePlel cache(&pool);
    Pair p1;
    Pair p2;
    cache.begin("G", true);
    int a = reg(cache, p1, &owners[0]);
    reg(cache, p2, &owners[1]);
    cache.end__();
    cache.relel(12345, false);
    EXPECT_EQ(cache.getnr(), 1);
    cache.relel(a, true);
    EXPECT_EQ(deleted.size(), 4u);
    EXPECT_EQ(cache.getnr(), 0);
}

TEST_F(CorePlelTest, SameLeftAndRightIsFreedOnce) {
    CorePlel cache(&pool);
    void* one = make();
    Pair p{one, one};
    int a = reg(cache, p, &owners[0]);
    cache.relel(a, false);
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0], one);

    // A caller's mono pair that gives way to a shared one also goes once.
    deleted.clear();
    Pair p1;
    void* mono = make();
    Pair p2{mono, mono};
    cache.begin("G", true);
    int b = reg(cache, p1, &owners[0]);
    reg(cache, p2, &owners[1]);
    cache.end__();
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0], mono);
    cache.relel(b, true);
}

TEST_F(CorePlelTest, CallerHandingInTheSharedBufferKeepsIt) {
    CorePlel cache(&pool);
    Pair p1;
    cache.begin("G", true);
    int a = reg(cache, p1, &owners[0]);
    Pair p2 = p1; // already the registered pair
    int b = reg(cache, p2, &owners[1]);
    cache.end__();
    EXPECT_EQ(a, b);
    EXPECT_TRUE(deleted.empty());
    cache.relel(a, false);
    cache.relel(a, false);
    EXPECT_EQ(deleted.size(), 2u);
}

TEST_F(CorePlelTest, IdentityComparesEveryField) {
    Ident base;
    std::vector<Ident> variants(8, base);
    variants[0].name = "IR2.WAV";
    variants[1].length = 101;
    variants[2].rate = 44100;
    variants[3].start = 1;
    variants[4].end = 98;
    variants[5].variant = 1;
    variants[6].allocated = 256; // a shorter shared buffer must never be handed out
    variants[7].set = 2;
    for (size_t v = 0; v < variants.size(); ++v) {
        CorePlel cache(&pool);
        Pair p1;
        Pair p2;
        cache.begin("G", true);
        int a = reg(cache, p1, &owners[0], base);
        int b = reg(cache, p2, &owners[1], variants[v]);
        cache.end__();
        EXPECT_NE(a, b) << "field " << v;
        EXPECT_NE(p1.l, p2.l) << "field " << v;
    }
    // And the same identity matches.
    CorePlel cache(&pool);
    Pair p1;
    Pair p2;
    cache.begin("G", true);
    int a = reg(cache, p1, &owners[0], base);
    int b = reg(cache, p2, &owners[1], base);
    cache.end__();
    EXPECT_EQ(a, b);
}

TEST_F(CorePlelTest, MatchesOnlyWithinTheOpenGroup) {
    CorePlel cache(&pool);
    Pair p1;
    Pair p2;
    cache.begin("A", true);
    int a = reg(cache, p1, &owners[0]);
    cache.end__();
    cache.begin("B", true);
    int b = reg(cache, p2, &owners[1]);
    cache.end__();
    EXPECT_NE(a, b);
    EXPECT_EQ(cache.getng(), 2);
    // Reopening "A" finds the first group again.
    Pair p3;
    cache.begin("A", true);
    int c = reg(cache, p3, &owners[1]);
    cache.end__();
    EXPECT_EQ(c, a);
    EXPECT_EQ(cache.getng(), 2);
}

TEST_F(CorePlelTest, IdsAreNeverReused) {
    CorePlel cache(&pool);
    Pair p;
    int a = reg(cache, p, &owners[0]);
    cache.relel(a, false);
    Pair p2;
    int b = reg(cache, p2, &owners[0]);
    EXPECT_GT(b, a);
}

TEST_F(CorePlelTest, GarbageCollectionKeepsGroupsWithMembers) {
    CorePlel cache(&pool);
    Pair p1;
    Pair p2;
    cache.begin("A", true);
    int a = reg(cache, p1, &owners[0]);
    cache.end__();
    cache.begin("B", true);
    reg(cache, p2, &owners[0]);
    cache.end__();
    cache.begin("C", true); // stays empty
    cache.end__();
    EXPECT_EQ(cache.getng(), 3);
    cache.relel(a, false);
    cache.garlk();
    EXPECT_EQ(cache.getng(), 1); // only "B" has a member
    cache.garlk();
    EXPECT_EQ(cache.getng(), 1);
}

TEST_F(CorePlelTest, DestructorReleasesEverything) {
    {
        CorePlel cache(&pool);
        Pair p1;
        Pair p2;
        Pair p3;
        cache.begin("G", true);
        reg(cache, p1, &owners[0]);
        reg(cache, p2, &owners[1]); // shared: its own pair deleted now
        cache.end__();
        reg(cache, p3, &owners[0]);
        EXPECT_EQ(deleted.size(), 2u);
    }
    EXPECT_EQ(deleted.size(), 6u);
}

TEST_F(CorePlelTest, ExceptionInsideBracketReleasesTheLock) {
    CorePlel cache(&pool);
    try {
        CorePlel::BRACKET bracket(cache, "G", true);
        Pair p;
        reg(cache, p, &owners[0]);
        throw std::runtime_error("load failed");
    } catch (std::runtime_error const&) {
    }
    EXPECT_FALSE(cache.isopn());
    // The next load can open a bracket at once; a held lock would hang here.
    CorePlel::BRACKET again(cache, "G", true);
    EXPECT_TRUE(cache.isopn());
    again.end__();
    EXPECT_FALSE(cache.isopn());
    again.end__(); // a second close does nothing
    EXPECT_EQ(cache.getnr(), 1);
}

TEST_F(CorePlelTest, OwnerOfTheBracketMayReleaseInsideIt) {
    CorePlel cache(&pool);
    Pair p;
    int a = reg(cache, p, &owners[0]);
    CorePlel::BRACKET bracket(cache, "G", true);
    cache.relel(a, false); // would wait on itself if the lock were taken again
    cache.garlk();         // spares the open group
    EXPECT_EQ(cache.getnr(), 0);
    EXPECT_EQ(cache.getng(), 1);
}

TEST_F(CorePlelTest, OtherThreadWaitsForTheBracketAndStaysOutOfItsGroup) {
    CorePlel cache(&pool);
    Pair p1;
    Pair p2;
    std::atomic<bool> started{false};
    std::atomic<int> otherId{-2};
    cache.begin("G", true);
    int a = reg(cache, p1, &owners[0]);
    std::thread other([&] {
        started = true;
        // Outside any bracket of its own: must neither join "G" nor share.
        otherId = reg(cache, p2, &owners[1]);
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(otherId.load(), -2); // still waiting for the lock
    cache.end__();
    other.join();
    EXPECT_NE(otherId.load(), a);
    EXPECT_NE(p2.l, p1.l);
    EXPECT_TRUE(deleted.empty());
    cache.relel(a, false);
    cache.garlk();
    EXPECT_EQ(cache.getng(), 0); // the other record never joined "G"
}

TEST_F(CorePlelTest, SecondBeginFromTheSameThreadSwitchesTheGroup) {
    CorePlel cache(&pool);
    Pair p1;
    Pair p2;
    cache.begin("A", true);
    reg(cache, p1, &owners[0]);
    cache.begin("B", true); // would wait on itself if it took the lock again
    reg(cache, p2, &owners[1]);
    cache.end__();
    EXPECT_FALSE(cache.isopn());
    EXPECT_NE(p2.l, p1.l); // registered in "B", where nothing matched
    EXPECT_EQ(cache.getng(), 2);
}

TEST_F(CorePlelTest, ClosingFromAnotherThreadKeepsTheBracket) {
    CorePlel cache(&pool);
    cache.begin("G", true);
    std::thread other([&] { cache.end__(); });
    other.join();
    EXPECT_TRUE(cache.isopn()); // the lock still belongs to the opener
    Pair p1;
    reg(cache, p1, &owners[0]);
    cache.end__();
    EXPECT_FALSE(cache.isopn());
    EXPECT_EQ(cache.getnr(), 1); // the lock was released once: this does not hang
}
