#include "engine/CoreDnrm.h"

#include "platform/PlatFpu.h"

#include <gtest/gtest.h>

#include <cfloat>

namespace {

// volatile keeps the products at run time, under the thread's mode.
double product(double a, double b) {
    volatile double x = a;
    volatile double y = b;
    return x * y;
}

class CoreDnrmTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PlatFpu::supported()) GTEST_SKIP() << "no denormal control on this processor";
        before = PlatFpu::save();
        PlatFpu::setFlushToZero(false);
        PlatFpu::setDenormalsAreZero(false);
    }
    void TearDown() override {
        if (PlatFpu::supported()) PlatFpu::restore(before);
    }
    PlatFpu::Mode before = 0;
};

TEST_F(CoreDnrmTest, DenormalResultsAndOperandsBecomeZeroInsideTheScope) {
    ASSERT_NE(product(1e-160, 1e-160), 0.0);    // a denormal result normally
    ASSERT_NE(product(DBL_TRUE_MIN, 2.0), 0.0); // a denormal operand normally
    {
        CoreDnrm scope(CoreDnrm::iCrounding);
        EXPECT_TRUE(PlatFpu::flushToZero());
        EXPECT_TRUE(PlatFpu::denormalsAreZero());
        EXPECT_EQ(product(1e-160, 1e-160), 0.0);
        EXPECT_EQ(product(DBL_TRUE_MIN, 1e300), 0.0); // read as 0, not as 4.9e-24
        EXPECT_EQ(product(1e-150, 1e-150), 1e-300);   // normal values untouched
    }
    EXPECT_NE(product(1e-160, 1e-160), 0.0);
}

TEST_F(CoreDnrmTest, TheThreadGetsItsPreviousModeBack) {
    {
        CoreDnrm outer;
        { CoreDnrm inner; }
        // The inner scope hands back the outer one's mode, not the original.
        EXPECT_TRUE(PlatFpu::flushToZero());
        EXPECT_TRUE(PlatFpu::denormalsAreZero());
    }
    EXPECT_FALSE(PlatFpu::denormalsAreZero());
    EXPECT_FALSE(PlatFpu::flushToZero());

    // A thread that had flush-to-zero on keeps it on afterwards.
    PlatFpu::setFlushToZero(true);
    { CoreDnrm scope; }
    EXPECT_TRUE(PlatFpu::flushToZero());
    EXPECT_FALSE(PlatFpu::denormalsAreZero());
}

} // namespace
