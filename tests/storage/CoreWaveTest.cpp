// The sample buffer: cleared allocation, channel access bounds, and copy_ and
// merge clipped to both buffers (a short source is never read past its end).
#include <gtest/gtest.h>

#include <vector>

#include "runtime/CorePool.h"
#include "storage/CoreWave.h"

namespace {

void fill(CoreWave& w, double base) {
    for (short c = 0; c < w.getch(); ++c)
        for (long k = 0; k < w.getdm(); ++k) w.getwv(c)[k] = base + c * 100 + k;
}

TEST(CoreWave, AllocatesClearedChannelsAndBoundsAccess) {
    CorePool pool;
    CoreWave w(&pool, 16, 3);
    EXPECT_EQ(w.getdm(), 16);
    EXPECT_EQ(w.getch(), 3);
    for (short c = 0; c < 3; ++c) {
        ASSERT_NE(w.getwv(c), nullptr);
        EXPECT_EQ(w.getwv()[c], w.getwv(c));
        for (long k = 0; k < 16; ++k) EXPECT_EQ(w.getwv(c)[k], 0.0);
    }
    EXPECT_EQ(w.getwv(3), nullptr);
    EXPECT_EQ(w.getwv(-1), nullptr);
    fill(w, 1);
    w.reset();
    EXPECT_EQ(w.getwv(2)[15], 0.0);

    CoreWave none(&pool, -4, -1);
    EXPECT_EQ(none.getdm(), 0);
    EXPECT_EQ(none.getch(), 0);
    none.reset();
    long const before = pool.getma();
    { CoreWave scratch(&pool, 1000, 2); }
    EXPECT_EQ(pool.getma(), before) << "blocks go back to the pool";
}

TEST(CoreWave, CopyAndMergeClipToBothBuffers) {
    CorePool pool;
    CoreWave dst(&pool, 10, 2);
    CoreWave src(&pool, 6, 2);
    fill(src, 1000);
    // Asked for more than the source holds after position 2: 4 frames only.
    EXPECT_EQ(dst.copy_(1, 50, &src, 2), 4);
    for (short c = 0; c < 2; ++c) {
        EXPECT_EQ(dst.getwv(c)[0], 0.0);
        for (long k = 0; k < 4; ++k) EXPECT_EQ(dst.getwv(c)[1 + k], 1000 + c * 100 + 2 + k);
        EXPECT_EQ(dst.getwv(c)[5], 0.0);
    }
    EXPECT_EQ(dst.merge(3, 2, &src, 0), 2);
    EXPECT_EQ(dst.getwv(1)[3], (1100 + 4) + (1100 + 0));
    EXPECT_EQ(dst.getwv(1)[4], (1100 + 5) + (1100 + 1));
    // Clipped by the destination's end.
    EXPECT_EQ(dst.copy_(8, 5, &src, 0), 2);
    EXPECT_EQ(dst.getwv(0)[9], 1001);
    // Nothing to do.
    EXPECT_EQ(dst.copy_(10, 5, &src, 0), 0);
    EXPECT_EQ(dst.copy_(0, 0, &src, 0), 0);
    EXPECT_EQ(dst.copy_(-1, 3, &src, 0), 0);
    EXPECT_EQ(dst.copy_(0, 3, &src, 6), 0);
    EXPECT_EQ(dst.copy_(0, 3, nullptr, 0), 0);

    // A mono source fills channel 0 only.
    CoreWave mono(&pool, 4, 1);
    fill(mono, 7);
    CoreWave two(&pool, 4, 2);
    EXPECT_EQ(two.copy_(0, 4, &mono, 0), 4);
    EXPECT_EQ(two.getwv(0)[3], 10.0);
    EXPECT_EQ(two.getwv(1)[3], 0.0);
}

// A buffer merged or copied into a later part of itself takes the samples
// as they were before the call.
TEST(CoreWave, OverlappingSelfCopyAndMergeUseTheOriginalSamples) {
    CorePool pool;
    CoreWave w(&pool, 5, 1);
    for (long k = 0; k < 5; ++k) w.getwv(0)[k] = double(k + 1);
    EXPECT_EQ(w.merge(1, 4, &w, 0), 4);
    EXPECT_EQ(std::vector<double>(w.getwv(0), w.getwv(0) + 5),
              (std::vector<double>{1, 3, 5, 7, 9}));
    EXPECT_EQ(w.copy_(2, 3, &w, 0), 3);
    EXPECT_EQ(std::vector<double>(w.getwv(0), w.getwv(0) + 5),
              (std::vector<double>{1, 3, 1, 3, 5}));
}

} // namespace
