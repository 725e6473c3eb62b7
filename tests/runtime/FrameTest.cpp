#include <gtest/gtest.h>
TEST(Frame, Builds) { EXPECT_TRUE(true); }
