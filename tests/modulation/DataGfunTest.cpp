#include "modulation/DataGfun.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <string>

#include <gtest/gtest.h>

namespace {

using St = CoreGfun::FUNEXTENSION;
constexpr double pi = 3.141592653589793;

// Reference arithmetic written plainly from the conversions' definitions.
double U(double x) { return (x + 1.0) / 2.0; }
double B(double u) { return 2.0 * u - 1.0; }
double D(double u) { return u > 0.0 ? std::max(-192.64, 20.0 * std::log10(u)) : -192.64; }
double N(double d) { return (d + 192.64) / 192.64; }
double T(double x) { return x > 0.5 ? 2.0 * (1.0 - x) : (x < -0.5 ? -2.0 * (x + 1.0) : 2.0 * x); }
double S(double a, int n) { return std::floor(a * n / 2.0) * 2.0 / n; }
double P(double a, int n) { return 0.5 * S(a, n) + 0.5; }
double fold(double x) {
    if (x >= -1.0 && x <= 1.0) return x;
    double u = U(x);
    return B(u - std::floor(u));
}
double clampRef(double r) { return std::isnan(r) ? 0.0 : std::min(1.0, std::max(-1.0, r)); }

using Ref = std::function<double(double, double)>;

struct Entry {
    char const* key;
    char const* label;
    Ref ref; // null for the random steps
};

Entry const group0[33] = {
    {"Sine", "Sine", [](double a, double) { return std::sin(pi * a); }},
    {"+Sine", "Positive Sine", [](double a, double) { return 0.5 * std::sin(pi * a) + 0.5; }},
    {"Square", "Square", [](double a, double) { return a > 0 ? 1.0 : (a < 0 ? -1.0 : 0.0); }},
    {"+Squar", "Positive Square",
     [](double a, double) { return a > 0 ? 1.0 : (a < 0 ? 0.0 : 0.5); }},
    {"Triang", "Triangle", [](double a, double) { return T(a); }},
    {"+Trian", "Positive Triangle", [](double a, double) { return 0.5 * T(a) + 0.5; }},
    {"Rise S", "Rising Sawtooth", [](double a, double) { return a; }},
    {"+Rise", "Positive Rising Sawtooth", [](double a, double) { return 0.5 * a + 0.5; }},
    {"Fall S", "Falling Sawtooth", [](double a, double) { return -a; }},
    {"+Fall", "Positive Falling Sawtooth", [](double a, double) { return -0.5 * a + 0.5; }},
    {"3 Step", "3 Step", [](double a, double) { return S(a, 3); }},
    {"+3 Ste", "Positive 3 Step", [](double a, double) { return P(a, 3); }},
    {"4 Step", "4 Step", [](double a, double) { return S(a, 4); }},
    {"+4 Ste", "Positive 4 Step", [](double a, double) { return P(a, 4); }},
    {"5 Step", "5 Step", [](double a, double) { return S(a, 5); }},
    {"+5 Ste", "Positive 5 Step", [](double a, double) { return P(a, 5); }},
    {"6 Step", "6 Step", [](double a, double) { return S(a, 6); }},
    {"+6 Ste", "Positive 6 Step", [](double a, double) { return P(a, 6); }},
    {"7 Step", "7 Step", [](double a, double) { return S(a, 7); }},
    {"+7 Ste", "Positive 7 Step", [](double a, double) { return P(a, 7); }},
    {"8 Step", "8 Step", [](double a, double) { return S(a, 8); }},
    {"+8 Ste", "Positive 8 Step", [](double a, double) { return P(a, 8); }},
    {"10 Ste", "10 Step", [](double a, double) { return S(a, 10); }},
    {"+10 St", "Positive 10 Step", [](double a, double) { return P(a, 10); }},
    {"12 Ste", "12 Step", [](double a, double) { return S(a, 12); }},
    {"+12 St", "Positive 12 Step", [](double a, double) { return P(a, 12); }},
    {"Ramp", "Ramp", [](double a, double) { return a; }},
    {"3 Rand", "3 Rand", nullptr},
    {"4 Rand", "4 Rand", nullptr},
    {"5 Rand", "5 Rand", nullptr},
    {"8 Rand", "8 Rand", nullptr},
    {"10 Ran", "10 Ran", nullptr},
    {"12 Ran", "12 Ran", nullptr},
};

double gainpadPlus(double a, double b) {
    double m = -D(U(b));
    double p = std::pow(10.0, m / 20.0);
    double q = std::pow(10.0, U(a) * m / 20.0);
    double d = p != 1.0 ? p : 0.0;
    return B((1.0 - q) / (1.0 - d));
}
double gainpadMinus(double a, double b) {
    double q = std::pow(10.0, D(U(b)) * U(a) / 20.0);
    double d = U(b) != 1.0 ? U(b) : 0.0;
    return B((1.0 - q) / (1.0 - d));
}
double warp(double a, double b) {
    double m = std::fabs(a);
    return b > m ? (b - 1) / (m - 1) : (b < -m ? (b + 1) / (m - 1) : b / m);
}

Entry const group1[45] = {
    {"a", "a", [](double a, double) { return a; }},
    {"Db(a)-Db(b)", "", [](double a, double b) { return B(N(D(U(a)))) - B(N(D(U(b)))); }},
    {"ScaleDb a to b", "",
     [](double a, double b) {
         double f = -192.64 + U(b) * 192.64;
         return B(std::pow(10.0, f * (1 - U(a)) / 20.0));
     }},
    {"a+b", "", [](double a, double b) { return a + b; }},
    {"a-b", "", [](double a, double b) { return a - b; }},
    {"(a+b)/2", "", [](double a, double b) { return (a + b) / 2; }},
    {"a/2+b", "", [](double a, double b) { return a / 2 + b; }},
    {"a/4+b/2", "", [](double a, double b) { return a / 4 + b / 2; }},
    {"(a+2b)/3", "", [](double a, double b) { return (a + 2 * b) * 0.33333333333333; }},
    {"a*b", "", [](double a, double b) { return a * b; }},
    {"-a*b", "", [](double a, double b) { return -a * b; }},
    {"a*10^b", "", [](double a, double b) { return a * std::pow(10.0, b); }},
    {"|a+b|", "", [](double a, double b) { return std::fabs(a + b); }},
    {"|a-b|", "", [](double a, double b) { return std::fabs(a - b); }},
    {"min(a,b)", "", [](double a, double b) { return std::min(a, b); }},
    {"max(a,b)", "", [](double a, double b) { return std::max(a, b); }},
    {"Quantize b to a", "",
     [](double a, double b) {
         double n = std::floor(16 * a);
         return B(std::floor(U(b) * n) / n);
     }},
    {"b/(1-a)", "", [](double a, double b) { return b / (1 - a); }},
    {"(a+b)^2", "", [](double a, double b) { return (a + b) * (a + b); }},
    {"sin(a+b)", "", [](double a, double b) { return std::sin(pi * (a + b)); }},
    {"cos(a+b)", "", [](double a, double b) { return std::cos(pi * (a + b)); }},
    {"tri(a+b)", "", [](double a, double b) { return T(a + b); }},
    {"warp(a,b)", "", warp},
    {"a AND b", "", [](double a, double b) { return (a > 0 && b > 0) ? 1.0 : 0.0; }},
    {"a OR b", "", [](double a, double b) { return (a > 0 || b > 0) ? 1.0 : 0.0; }},
    {"ramp(f=a+b)", "", [](double a, double b) { return 25 * (a + b); }},
    {"ramp(f=a-b)", "", [](double a, double b) { return 25 * (a - b); }},
    {"ramp(f=(a+b)/4)", "", [](double a, double b) { return 25 * (a + b) / 4; }},
    {"ramp(f=a*b)", "", [](double a, double b) { return 25 * a * b; }},
    {"ramp(f=-a*b)", "", [](double a, double b) { return -25 * a * b; }},
    {"ramp(f=a*10^b)", "", [](double a, double b) { return 25 * a * std::pow(10.0, b); }},
    {"Diode(a-b)", "", [](double a, double b) { return std::max(0.0, a - b); }},
    {"Diode(a-b+.5)", "", [](double a, double b) { return std::max(0.0, a - b + 0.5); }},
    {"Diode(a-b-.5)", "", [](double a, double b) { return std::max(0.0, a - b - 0.5); }},
    {"Diode(a-b+.25)", "", [](double a, double b) { return std::max(0.0, a - b + 0.25); }},
    {"a(*unipolar)b", "", [](double a, double b) { return B(U(a) * U(b)); }},
    {"a(/unipolar)b", "", [](double a, double b) { return B(U(a) / U(b)); }},
    {"Db(a)", "", [](double a, double) { return B(N(D(U(a)))); }},
    {"gainpad+", "", gainpadPlus},
    {"gainpad-", "", gainpadMinus},
    {"ScaleDb(a,b)", "",
     [](double a, double b) { return B(std::pow(10.0, D(U(b)) * U(a) / 20.0)); }},
    {"exp(a,1/b)", "", [](double a, double b) { return B(std::pow(U(a), 1.0 / U(b))); }},
    {"a*unipolar(b)", "", [](double a, double b) { return a * U(b); }},
    {"LumoII", "", [](double a, double) { return a; }},
    {"StoreBipolarDb", "",
     [](double a, double b) {
         return B(std::pow(10.0, -D(U(b)) * a / 20.0) * 1.5275660582380732e-5);
     }},
};

double const grid[] = {-1.0, -0.75, -0.5, -0.3, -0.1, 0.0, 0.05, 0.3,
                       0.5,  0.9,   1.0,  1.5,  -1.5, 3.0, -3.0, 2.25};

TEST(DataGfunTest, GroupsHoldTheirEntriesInOrder) {
    DataGfun cat;
    ASSERT_EQ(cat.getnm(0), 33);
    ASSERT_EQ(cat.getnm(1), 45);
    EXPECT_EQ(cat.getnm(2), 0);
    CoreAnsx labels[45], keys[45];
    cat.getgs(0, labels, keys);
    for (int i = 0; i < 33; ++i) {
        EXPECT_STREQ(keys[i].c_str(), group0[i].key) << i;
        EXPECT_STREQ(labels[i].c_str(), group0[i].label) << i;
        EXPECT_LE(keys[i].Length(), 6);
    }
    cat.getgs(1, labels, keys);
    for (int i = 0; i < 45; ++i) {
        EXPECT_STREQ(keys[i].c_str(), group1[i].key) << i;
        EXPECT_EQ(labels[i], keys[i]) << i;
    }
}

TEST(DataGfunTest, LookupFallsBackToEntryZero) {
    DataGfun cat;
    EXPECT_STREQ(cat.getgf(0, CoreAnsx("nothing"))->getky().c_str(), "Sine");
    EXPECT_STREQ(cat.getgf(0, CoreAnsx("sine"))->getky().c_str(), "Sine");
    EXPECT_STREQ(cat.getgf(1, CoreAnsx("A+B"))->getky().c_str(), "a");
    EXPECT_STREQ(cat.getgf(1, CoreAnsx(""))->getky().c_str(), "a");
    EXPECT_STREQ(cat.getgf(1, CoreAnsx("Sine"))->getky().c_str(), "a"); // groups are separate
    EXPECT_STREQ(cat.getgf(0, CoreAnsx("+Squar"))->getlb().c_str(), "Positive Square");
    EXPECT_NE(cat.getgf(7, CoreAnsx("a")), nullptr);
}

TEST(DataGfunTest, EveryShapeMatchesItsFormulaOnAGrid) {
    DataGfun cat;
    for (int g = 0; g < 2; ++g) {
        Entry const* table = g == 0 ? group0 : group1;
        for (int i = 0; i < cat.getnm(g); ++i) {
            if (!table[i].ref) continue;
            CoreGfun* f = cat.getgf(g, CoreAnsx(table[i].key));
            for (double a : grid)
                for (double b : grid) {
                    double const want = clampRef(table[i].ref(fold(a), fold(b)));
                    double const got = f->xtfun(a, b, nullptr);
                    EXPECT_NEAR(got, want, 1e-12) << table[i].key << " a=" << a << " b=" << b;
                }
        }
    }
}

TEST(DataGfunTest, FoldAndClamp) {
    DataGfun cat;
    CoreGfun* a = cat.getgf(1, CoreAnsx("a"));
    EXPECT_DOUBLE_EQ(a->xtfun(1.5, 0, nullptr), -0.5);
    EXPECT_EQ(a->xtfun(1.0, 0, nullptr), 1.0);
    EXPECT_EQ(a->xtfun(-1.0, 0, nullptr), -1.0);
    EXPECT_EQ(a->xtfun(-3.0, 0, nullptr), -1.0);
    EXPECT_EQ(a->xtfun(3.0, 0, nullptr), -1.0);
    EXPECT_DOUBLE_EQ(a->xtfun(-1.5, 0, nullptr), 0.5);
    EXPECT_EQ(cat.getgf(1, CoreAnsx("a+b"))->xtfun(0.8, 0.8, nullptr), 1.0);
    EXPECT_DOUBLE_EQ(cat.getgf(1, CoreAnsx("a+b"))->xtfun(0.0, 1.5, nullptr), -0.5);
    EXPECT_EQ(cat.getgf(0, CoreAnsx("Square"))->xtfun(0.0, 0, nullptr), 0.0);
    EXPECT_EQ(cat.getgf(0, CoreAnsx("+Squar"))->xtfun(0.0, 0, nullptr), 0.5);
    EXPECT_EQ(cat.getgf(0, CoreAnsx("3 Step"))->xtfun(-1.0, 0, nullptr), -1.0);
    EXPECT_DOUBLE_EQ(cat.getgf(0, CoreAnsx("3 Step"))->xtfun(-0.5, 0, nullptr),
                     -0.6666666666666666);
    EXPECT_EQ(cat.getgf(1, CoreAnsx("Db(a)"))->xtfun(-1.0, 0, nullptr), -1.0);
    EXPECT_DOUBLE_EQ(cat.getgf(1, CoreAnsx("Db(a)"))->xtfun(1.0, 0, nullptr), 1.0);
}

TEST(DataGfunTest, ExactConstantsAreKept) {
    DataGfun cat;
    // Three times the fourteen-decimal third is not 1.
    EXPECT_EQ(cat.getgf(1, CoreAnsx("(a+2b)/3"))->xtfun(1.0, 1.0, nullptr), 3.0 * 0.33333333333333);
    EXPECT_LT(cat.getgf(1, CoreAnsx("(a+2b)/3"))->xtfun(1.0, 1.0, nullptr), 1.0);
    EXPECT_EQ(cat.getgf(1, CoreAnsx("StoreBipolarDb"))->xtfun(0.0, 0.3, nullptr),
              2.0 * 1.5275660582380732e-5 - 1.0);
}

TEST(DataGfunTest, GainpadEnds) {
    DataGfun cat;
    CoreGfun* plus = cat.getgf(1, CoreAnsx("gainpad+"));
    CoreGfun* minus = cat.getgf(1, CoreAnsx("gainpad-"));
    for (double b : {-1.0, -0.5, 0.0, 0.5}) {
        EXPECT_EQ(plus->xtfun(-1.0, b, nullptr), -1.0) << b;
        EXPECT_EQ(minus->xtfun(-1.0, b, nullptr), -1.0) << b;
        EXPECT_NEAR(plus->xtfun(1.0, b, nullptr), 1.0, 1e-9) << b;
        EXPECT_NEAR(minus->xtfun(1.0, b, nullptr), 1.0, 1e-9) << b;
    }
    for (double a : {-1.0, -0.2, 0.4, 1.0}) {
        EXPECT_EQ(plus->xtfun(a, 1.0, nullptr), -1.0) << a;
        EXPECT_EQ(minus->xtfun(a, 1.0, nullptr), -1.0) << a;
    }
}

TEST(DataGfunTest, ZeroOverZeroGivesTheMiddle) {
    DataGfun cat;
    EXPECT_EQ(cat.getgf(1, CoreAnsx("Quantize b to a"))->xtfun(0.03, 0.4, nullptr), 0.0);
    EXPECT_EQ(cat.getgf(1, CoreAnsx("warp(a,b)"))->xtfun(0.0, 0.0, nullptr), 0.0);
    EXPECT_EQ(cat.getgf(1, CoreAnsx("b/(1-a)"))->xtfun(1.0, 0.0, nullptr), 0.0);
    EXPECT_EQ(cat.getgf(1, CoreAnsx("a(/unipolar)b"))->xtfun(-1.0, -1.0, nullptr), 0.0);
    // Nonzero over zero is an infinity and clamps to an end.
    EXPECT_EQ(cat.getgf(1, CoreAnsx("b/(1-a)"))->xtfun(1.0, 0.5, nullptr), 1.0);
    EXPECT_EQ(cat.getgf(1, CoreAnsx("b/(1-a)"))->xtfun(1.0, -0.5, nullptr), -1.0);
    EXPECT_EQ(cat.getgf(1, CoreAnsx("a(/unipolar)b"))->xtfun(0.0, -1.0, nullptr), 1.0);
}

TEST(DataGfunTest, SubnormalResultsArePositiveZero) {
    DataGfun cat;
    double r = cat.getgf(1, CoreAnsx("a*b"))->xtfun(1e-160, 1e-160, nullptr);
    EXPECT_EQ(r, 0.0);
    EXPECT_FALSE(std::signbit(r));
    r = cat.getgf(1, CoreAnsx("a*b"))->xtfun(-1e-160, 1e-160, nullptr);
    EXPECT_FALSE(std::signbit(r));
    r = cat.getgf(0, CoreAnsx("Ramp"))->xtfun(-1e-310, 0, nullptr);
    EXPECT_EQ(r, 0.0);
    EXPECT_FALSE(std::signbit(r));
    r = cat.getgf(0, CoreAnsx("Fall S"))->xtfun(0.0, 0, nullptr); // -0.0
    EXPECT_FALSE(std::signbit(r));
}

TEST(DataGfunTest, NoResultLeavesTheRangeWhateverTheInput) {
    DataGfun cat;
    double const inf = std::numeric_limits<double>::infinity();
    double const nan = std::numeric_limits<double>::quiet_NaN();
    double const odd[] = {nan, inf, -inf, 1e300, -1e300, 1e-310, -0.0, 2.0, -2.0, 0.0625, 0.062};
    St st{0.0, 0.0};
    for (int g = 0; g < 2; ++g) {
        CoreAnsx keys[45];
        cat.getgs(g, nullptr, keys);
        for (int i = 0; i < cat.getnm(g); ++i) {
            CoreGfun* f = cat.getgf(g, keys[i]);
            auto check = [&](double a, double b) {
                double const r = f->xtfun(a, b, &st);
                ASSERT_FALSE(std::isnan(r)) << keys[i].c_str() << " " << a << " " << b;
                ASSERT_GE(r, -1.0) << keys[i].c_str() << " " << a << " " << b;
                ASSERT_LE(r, 1.0) << keys[i].c_str() << " " << a << " " << b;
                ASSERT_FALSE(r == 0.0 && std::signbit(r));
                ASSERT_TRUE(r == 0.0 || std::fabs(r) >= std::numeric_limits<double>::min());
            };
            for (double a : odd)
                for (double b : odd) check(a, b);
            for (int ia = 0; ia <= 64; ++ia)
                for (int ib = 0; ib <= 64; ++ib) check(-1.0 + ia / 32.0, -1.0 + ib / 32.0);
        }
    }
}

TEST(DataGfunTest, RandomStepKeepsItsValueWithinACell) {
    DataGfun cat;
    CoreGfun* r3 = cat.getgf(0, CoreAnsx("3 Rand")); // 6 cells
    St st{0.1, 0.42};
    EXPECT_EQ(r3->xtfun(0.12, 0, &st), 0.42); // floor(0.72) == floor(0.6)
    St negative{-0.05, -0.3};
    EXPECT_EQ(r3->xtfun(-0.1, 0, &negative), -0.3); // floor(-0.6) == floor(-0.3)

    // Crossing a cell edge draws from the process-wide generator.
    std::srand(1234);
    double const expected = 2.0 * (std::rand() / 2147483647.0) - 1.0;
    std::srand(1234);
    EXPECT_EQ(r3->xtfun(0.2, 0, &st), expected);

    // As the LFO drives it: state written after every evaluation.
    CoreGfun* r12 = cat.getgf(0, CoreAnsx("12 Ran")); // 24 cells
    St lfo{0.0, 0.0};
    std::map<int, double> seen;
    for (int k = 0; k < 400; ++k) {
        double const phase = -1.0 + k / 200.0;
        double const v = r12->xtfun(phase, 0, &lfo);
        ASSERT_GE(v, -1.0);
        ASSERT_LE(v, 1.0);
        int const cell = static_cast<int>(std::floor(phase * 24));
        auto it = seen.find(cell);
        if (it != seen.end()) {
            EXPECT_EQ(v, it->second) << "cell " << cell;
        }
        seen[cell] = v;
        EXPECT_EQ(r12->xtfun(phase, 0, &(lfo = St{phase, v})), v); // same phase twice
    }
    EXPECT_EQ(seen.size(), 48u);
}

TEST(DataGfunTest, RandomStepWithoutStateDrawsEveryTime) {
    DataGfun cat;
    std::srand(99);
    double const first = 2.0 * (std::rand() / 2147483647.0) - 1.0;
    double const second = 2.0 * (std::rand() / 2147483647.0) - 1.0;
    std::srand(99);
    CoreGfun* r = cat.getgf(0, CoreAnsx("4 Rand"));
    EXPECT_EQ(r->xtfun(0.0, 0, nullptr), first);
    EXPECT_EQ(r->xtfun(0.0, 0, nullptr), second);
}

} // namespace
