#include "engine/CoreSpln.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using POINT = CoreSpln::POINT;

// Textbook Cox-de Boor recursion, kept apart from the class's bottom-up form.
double naiveBasis(int k, int t, std::vector<int> const& u, double v) {
    if (t == 1) return (u[k] <= v && v < u[k + 1]) ? 1.0 : 0.0;
    double d1 = u[k + t - 1] - u[k];
    double d2 = u[k + t] - u[k + 1];
    double left = d1 == 0.0 ? 0.0 : (v - u[k]) / d1 * naiveBasis(k, t - 1, u, v);
    double right = d2 == 0.0 ? 0.0 : (u[k + t] - v) / d2 * naiveBasis(k + 1, t - 1, u, v);
    return left + right;
}

bool isUnset(POINT const& p) { return p.z == CoreSpln::iCnulldistance; }

} // namespace

TEST(CoreSplnTest, OpenUniformKnotsClampBothEnds) {
    std::vector<int> knots(10, 99);
    CoreSpln::intrv(5, 4, knots.data()); // n = 5 (six points), cubic
    EXPECT_EQ(knots, (std::vector<int>{0, 0, 0, 0, 1, 2, 3, 3, 3, 3}));

    std::vector<int> bezier(6, 99);
    CoreSpln::intrv(2, 3, bezier.data()); // as many points as the order
    EXPECT_EQ(bezier, (std::vector<int>{0, 0, 0, 1, 1, 1}));
}

TEST(CoreSplnTest, BlendMatchesTheRecursionAndSumsToOne) {
    int const n = 7;
    int const t = 4;
    std::vector<int> u(n + t + 1);
    CoreSpln::intrv(n, t, u.data());
    int const last = u.back();
    std::vector<POINT> control;
    for (int k = 0; k <= n; ++k) control.push_back(POINT{k * 1.5, k * k - 3.0, -k * 0.25});
    for (double v = 0.0; v < last; v += 0.0625) {
        double sum = 0.0;
        POINT want{0.0, 0.0, 0.0};
        for (int k = 0; k <= n; ++k) {
            double b = CoreSpln::blend(k, t, u.data(), v);
            EXPECT_NEAR(b, naiveBasis(k, t, u, v), 1e-14) << "k " << k << " v " << v;
            EXPECT_GE(b, 0.0);
            sum += b;
            want.x += naiveBasis(k, t, u, v) * control[k].x;
            want.y += naiveBasis(k, t, u, v) * control[k].y;
            want.z += naiveBasis(k, t, u, v) * control[k].z;
        }
        EXPECT_NEAR(sum, 1.0, 1e-12) << "v " << v;
        POINT p = CoreSpln::point(v, n, t, u.data(), control.data());
        EXPECT_NEAR(p.x, want.x, 1e-12) << "v " << v;
        EXPECT_NEAR(p.y, want.y, 1e-12) << "v " << v;
        EXPECT_NEAR(p.z, want.z, 1e-12) << "v " << v;
    }
    EXPECT_EQ(CoreSpln::point(0.5, n, t, nullptr, control.data()).y, 0.0);
    // At the last knot every basis vanishes: the curve's end is taken from
    // the last control point instead.
    for (int k = 0; k <= n; ++k)
        EXPECT_EQ(CoreSpln::blend(k, t, u.data(), static_cast<double>(last)), 0.0);
}

TEST(CoreSplnTest, CurveStartsAndEndsOnTheControlPolygonAndKeepsLines) {
    // Points on y = 2x + 1: a B-spline reproduces straight lines exactly.
    std::vector<POINT> control;
    for (double x : {0.0, 1.0, 3.0, 4.0, 7.0, 9.0}) control.push_back(POINT{x, 2.0 * x + 1.0, 0.0});
    int const count = 41;
    std::vector<POINT> curve(count);
    CoreSpln spline(4);
    spline.splne(static_cast<int>(control.size()) - 1, control.data(), count, curve.data());

    EXPECT_NEAR(curve.front().x, 0.0, 1e-12);
    EXPECT_NEAR(curve.front().y, 1.0, 1e-12);
    EXPECT_EQ(curve.back().x, 9.0);
    EXPECT_EQ(curve.back().y, 19.0);
    for (int i = 0; i < count; ++i) {
        EXPECT_NEAR(curve[i].y, 2.0 * curve[i].x + 1.0, 1e-12) << i;
        if (i > 0) {
            EXPECT_GE(curve[i].x, curve[i - 1].x);
        }
    }
}

TEST(CoreSplnTest, OrderAboveThePointCountIsClampedNotDegenerate) {
    // Three points with order 10: without the clamp there is no knot span
    // and every curve point would be zero. Clamped, it is the quadratic
    // Bezier curve, whose midpoint is (P0 + 2 P1 + P2) / 4.
    POINT control[3] = {{0.0, 4.0, 0.0}, {2.0, 8.0, 0.0}, {4.0, 2.0, 0.0}};
    POINT curve[3];
    CoreSpln spline(10);
    spline.splne(2, control, 3, curve);
    EXPECT_NEAR(curve[0].y, 4.0, 1e-12);
    EXPECT_NEAR(curve[1].x, 2.0, 1e-12);
    EXPECT_NEAR(curve[1].y, (4.0 + 16.0 + 2.0) / 4.0, 1e-12);
    EXPECT_EQ(curve[2].y, 2.0);

    // A single point and a single curve point: only the last point is set.
    POINT one{5.0, 6.0, 0.0};
    POINT out{0.0, 0.0, 0.0};
    spline.splne(0, &one, 1, &out);
    EXPECT_EQ(out.x, 5.0);
    EXPECT_EQ(out.y, 6.0);
}

TEST(CoreSplnTest, RoundSendsHalvesDown) {
    EXPECT_EQ(CoreSpln::round(2.5), 2);
    EXPECT_EQ(CoreSpln::round(2.500001), 3);
    EXPECT_EQ(CoreSpln::round(2.49), 2);
    EXPECT_EQ(CoreSpln::round(3.0), 3);
    EXPECT_EQ(CoreSpln::round(-2.5), -3);
    EXPECT_EQ(CoreSpln::round(-2.4), -2);
}

TEST(CoreSplnTest, MapKeepsTheNearestPointPerBinWithTiesGoingDown) {
    POINT curve[4] = {
        {0.0, 1.0, 0.0},
        {2.5, 7.0, 0.0}, // tie between bins 2 and 3: goes to 2
        {3.4, 10.0, 0.0},
        {2.9, 20.0, 0.0}, // nearer to bin 3 than 3.4, arrives later
    };
    POINT out[4];
    CoreSpln::map__(4, curve, 4, out);
    EXPECT_EQ(out[0].y, 1.0);
    EXPECT_EQ(out[2].y, 7.0);
    EXPECT_NEAR(out[2].z, 0.5, 1e-15);
    EXPECT_EQ(out[3].y, 20.0);
    EXPECT_NEAR(out[3].z, 0.1, 1e-12);
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(out[j].x, j);
        EXPECT_FALSE(isUnset(out[j]));
    }
}

TEST(CoreSplnTest, MapFillsGapsLinearlyAndRepeatsTheTail) {
    POINT curve[3] = {{0.0, 1.0, 0.0}, {4.0, 5.0, 0.0}, {6.0, -1.0, 0.0}};
    POINT out[10];
    CoreSpln::map__(3, curve, 10, out);
    double const expected[10] = {1.0, 2.0, 3.0, 4.0, 5.0, 2.0, -1.0, -1.0, -1.0, -1.0};
    for (int j = 0; j < 10; ++j) {
        EXPECT_DOUBLE_EQ(out[j].y, expected[j]) << j;
        EXPECT_GE(out[j].z, 0.0) << j;
    }

    // A curve that starts past bin 0 ramps up from 0; points outside the
    // bins (or not numbers) are ignored.
    POINT late[3] = {
        {3.0, 6.0, 0.0}, {-7.0, 50.0, 0.0}, {std::numeric_limits<double>::quiet_NaN(), 50.0, 0.0}};
    POINT ramp[5];
    CoreSpln::map__(3, late, 5, ramp);
    double const rising[5] = {1.5, 3.0, 4.5, 6.0, 6.0};
    for (int j = 0; j < 5; ++j) EXPECT_DOUBLE_EQ(ramp[j].y, rising[j]) << j;

    // No curve point at all: zeros, all marked set.
    POINT empty[3];
    CoreSpln::map__(0, curve, 3, empty);
    for (POINT const& p : empty) {
        EXPECT_EQ(p.y, 0.0);
        EXPECT_FALSE(isUnset(p));
    }
}

TEST(CoreSplnTest, LineIsDrawnUpToButNotIncludingTheEnd) {
    std::vector<double> a(8, -9.0);
    CoreSpln::drwln(POINT{1.0, 2.0, 0.0}, POINT{5.0, 10.0, 0.0}, a.data(), 8);
    EXPECT_EQ(a, (std::vector<double>{-9.0, 2.0, 4.0, 6.0, 8.0, -9.0, -9.0, -9.0}));

    // Ends beyond the array write only the part inside it.
    std::vector<double> b(4, -9.0);
    CoreSpln::drwln(POINT{-2.0, 0.0, 0.0}, POINT{1e300, 1.0, 0.0}, b.data(), 4);
    for (double v : b) EXPECT_NE(v, -9.0);
}
