#include "modulation/DataGfun.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

namespace {

using St = CoreGfun::FUNEXTENSION;

double U(double x) { return CoreGfun::unipolar(x); }
double B(double u) { return CoreGfun::bipolar(u); }
double D(double u) { return CoreButl::lindb(u); }
double N(double d) { return CoreGfun::dbunit(d); }
double T(double x) { return CoreGfun::triangle(x); }
double Z(double x) { return CoreButl::flushSubnormal(x); }

// Random step reading the state when there is one; without it every call
// draws (no cell can match a NaN phase).
double randomStep(double a, int n, St* st) {
    if (!st) return fncha(a, n, std::numeric_limits<double>::quiet_NaN(), 0.0);
    return fncha(a, n, st->phase, st->value);
}

struct FunctionRow {
    char const* key;
    char const* label;
    CoreGfun::FUNCTION function;
};

// Group 0. Keys are cut to six characters (so are the labels of the last two).
constexpr FunctionRow waveformTable[DataGfun::iCwaveforms] = {
    {"Sine", "Sine", fn001},
    {"+Sine", "Positive Sine", fn002},
    {"Square", "Square", fn003},
    {"+Squar", "Positive Square", fn004},
    {"Triang", "Triangle", fn005},
    {"+Trian", "Positive Triangle", fn006},
    {"Rise S", "Rising Sawtooth", fn007},
    {"+Rise", "Positive Rising Sawtooth", fn008},
    {"Fall S", "Falling Sawtooth", fn009},
    {"+Fall", "Positive Falling Sawtooth", fn010},
    {"3 Step", "3 Step", fn011},
    {"+3 Ste", "Positive 3 Step", fn012},
    {"4 Step", "4 Step", fn013},
    {"+4 Ste", "Positive 4 Step", fn014},
    {"5 Step", "5 Step", fn015},
    {"+5 Ste", "Positive 5 Step", fn016},
    {"6 Step", "6 Step", fn017},
    {"+6 Ste", "Positive 6 Step", fn018},
    {"7 Step", "7 Step", fn019},
    {"+7 Ste", "Positive 7 Step", fn020},
    {"8 Step", "8 Step", fn021},
    {"+8 Ste", "Positive 8 Step", fn022},
    {"10 Ste", "10 Step", fn023},
    {"+10 St", "Positive 10 Step", fn024},
    {"12 Ste", "12 Step", fn025},
    {"+12 St", "Positive 12 Step", fn026},
    {"Ramp", "Ramp", fn027},
    {"3 Rand", "3 Rand", fn028},
    {"4 Rand", "4 Rand", fn029},
    {"5 Rand", "5 Rand", fn030},
    {"8 Rand", "8 Rand", fn031},
    {"10 Ran", "10 Ran", fn032},
    {"12 Ran", "12 Ran", fn033},
};

// Group 1. Keys equal labels.
constexpr FunctionRow functionTable[DataGfun::iCfunctions] = {
    {"a", "a", fn135},
    {"Db(a)-Db(b)", "Db(a)-Db(b)", fndsb},
    {"ScaleDb a to b", "ScaleDb a to b", fnsdl},
    {"a+b", "a+b", fn101},
    {"a-b", "a-b", fn102},
    {"(a+b)/2", "(a+b)/2", fn103},
    {"a/2+b", "a/2+b", fn104},
    {"a/4+b/2", "a/4+b/2", fn105},
    {"(a+2b)/3", "(a+2b)/3", fn106},
    {"a*b", "a*b", fn107},
    {"-a*b", "-a*b", fn108},
    {"a*10^b", "a*10^b", fn109},
    {"|a+b|", "|a+b|", fn110},
    {"|a-b|", "|a-b|", fn111},
    {"min(a,b)", "min(a,b)", fn112},
    {"max(a,b)", "max(a,b)", fn113},
    {"Quantize b to a", "Quantize b to a", fn114},
    {"b/(1-a)", "b/(1-a)", fn115},
    {"(a+b)^2", "(a+b)^2", fn116},
    {"sin(a+b)", "sin(a+b)", fn117},
    {"cos(a+b)", "cos(a+b)", fn118},
    {"tri(a+b)", "tri(a+b)", fn119},
    {"warp(a,b)", "warp(a,b)", fn120},
    {"a AND b", "a AND b", fn121},
    {"a OR b", "a OR b", fn122},
    {"ramp(f=a+b)", "ramp(f=a+b)", fn123},
    {"ramp(f=a-b)", "ramp(f=a-b)", fn124},
    {"ramp(f=(a+b)/4)", "ramp(f=(a+b)/4)", fn125},
    {"ramp(f=a*b)", "ramp(f=a*b)", fn126},
    {"ramp(f=-a*b)", "ramp(f=-a*b)", fn127},
    {"ramp(f=a*10^b)", "ramp(f=a*10^b)", fn128},
    {"Diode(a-b)", "Diode(a-b)", fn129},
    {"Diode(a-b+.5)", "Diode(a-b+.5)", fn130},
    {"Diode(a-b-.5)", "Diode(a-b-.5)", fn131},
    {"Diode(a-b+.25)", "Diode(a-b+.25)", fn132},
    {"a(*unipolar)b", "a(*unipolar)b", fn133},
    {"a(/unipolar)b", "a(/unipolar)b", fn134},
    {"Db(a)", "Db(a)", fndba},
    {"gainpad+", "gainpad+", fngpp},
    {"gainpad-", "gainpad-", fngpn},
    {"ScaleDb(a,b)", "ScaleDb(a,b)", fnsln},
    {"exp(a,1/b)", "exp(a,1/b)", fnexp},
    {"a*unipolar(b)", "a*unipolar(b)", fn136},
    {"LumoII", "LumoII", fn137},
    {"StoreBipolarDb", "StoreBipolarDb", fn138},
};

} // namespace

// ---- generic forms --------------------------------------------------------

double fnstp(double a, int n) { return std::floor(a * n * 0.5) * (2.0 / n); }

double fnpst(double a, int n) { return 0.5 * fnstp(a, n) + 0.5; }

double fncha(double a, int n, double previousphase, double previousvalue) {
    if (std::floor(a * n) == std::floor(previousphase * n)) return previousvalue;
    return 2.0 * (std::rand() / 2147483647.0) - 1.0;
}

double fnlgc(double x) { return x > 0.0 ? 1.0 : 0.0; }

double fntr0(double x) { return x > 0.0 ? x : 0.0; }

// ---- group 0: waveforms ---------------------------------------------------

double fn001(double a, double, St*) { return std::sin(CoreButl::dCpi * a); }
double fn002(double a, double, St*) { return 0.5 * std::sin(CoreButl::dCpi * a) + 0.5; }
double fn003(double a, double, St*) { return a > 0.0 ? 1.0 : (a < 0.0 ? -1.0 : 0.0); }
double fn004(double a, double, St*) { return a > 0.0 ? 1.0 : (a < 0.0 ? 0.0 : 0.5); }
double fn005(double a, double, St*) { return T(a); }
double fn006(double a, double, St*) { return 0.5 * T(a) + 0.5; }
double fn007(double a, double, St*) { return a; }
double fn008(double a, double, St*) { return 0.5 * a + 0.5; }
double fn009(double a, double, St*) { return -a; }
double fn010(double a, double, St*) { return -0.5 * a + 0.5; }
double fn011(double a, double, St*) { return fnstp(a, 3); }
double fn012(double a, double, St*) { return fnpst(a, 3); }
double fn013(double a, double, St*) { return fnstp(a, 4); }
double fn014(double a, double, St*) { return fnpst(a, 4); }
double fn015(double a, double, St*) { return fnstp(a, 5); }
double fn016(double a, double, St*) { return fnpst(a, 5); }
double fn017(double a, double, St*) { return fnstp(a, 6); }
double fn018(double a, double, St*) { return fnpst(a, 6); }
double fn019(double a, double, St*) { return fnstp(a, 7); }
double fn020(double a, double, St*) { return fnpst(a, 7); }
double fn021(double a, double, St*) { return fnstp(a, 8); }
double fn022(double a, double, St*) { return fnpst(a, 8); }
double fn023(double a, double, St*) { return fnstp(a, 10); }
double fn024(double a, double, St*) { return fnpst(a, 10); }
double fn025(double a, double, St*) { return fnstp(a, 12); }
double fn026(double a, double, St*) { return fnpst(a, 12); }
double fn027(double a, double, St*) { return Z(a); }
double fn028(double a, double, St* st) { return randomStep(a, 6, st); }
double fn029(double a, double, St* st) { return randomStep(a, 8, st); }
double fn030(double a, double, St* st) { return randomStep(a, 10, st); }
double fn031(double a, double, St* st) { return randomStep(a, 16, st); }
double fn032(double a, double, St* st) { return randomStep(a, 20, st); }
double fn033(double a, double, St* st) { return randomStep(a, 24, st); }

// ---- group 1: two-argument functions --------------------------------------

double fn135(double a, double, St*) { return a; }
double fndsb(double a, double b, St*) { return B(N(D(U(a)))) - B(N(D(U(b)))); }
double fnsdl(double a, double b, St*) {
    double const f = CoreButl::dCdbmin - Z(U(b) * CoreButl::dCdbmin);
    return B(std::pow(10.0, Z(f * (1.0 - U(a))) / 20.0));
}
double fn101(double a, double b, St*) { return a + b; }
double fn102(double a, double b, St*) { return a - b; }
double fn103(double a, double b, St*) { return (a + b) * 0.5; }
double fn104(double a, double b, St*) { return 0.5 * a + b; }
double fn105(double a, double b, St*) { return 0.25 * a + 0.5 * b; }
// Fourteen decimals, not 1/3: stored programs were made with this factor.
double fn106(double a, double b, St*) { return (2.0 * b + a) * 0.33333333333333; }
double fn107(double a, double b, St*) { return a * b; }
double fn108(double a, double b, St*) { return -a * b; }
double fn109(double a, double b, St*) { return std::pow(10.0, b) * a; }
double fn110(double a, double b, St*) { return std::fabs(a + b); }
double fn111(double a, double b, St*) { return std::fabs(a - b); }
double fn112(double a, double b, St*) { return a < b ? a : b; }
double fn113(double a, double b, St*) { return a > b ? a : b; }
double fn114(double a, double b, St*) {
    double const n = std::floor(16.0 * a);
    return B(std::floor(Z(U(b) * n)) / n);
}
double fn115(double a, double b, St*) { return b / (1.0 - a); }
double fn116(double a, double b, St*) { return (a + b) * (a + b); }
double fn117(double a, double b, St*) { return std::sin(CoreButl::dCpi * (a + b)); }
double fn118(double a, double b, St*) { return std::cos(CoreButl::dCpi * (a + b)); }
double fn119(double a, double b, St*) { return T(a + b); }
double fn120(double a, double b, St*) {
    double const m = std::fabs(a);
    if (b > m) return (b - 1.0) / (m - 1.0);
    if (b < -m) return (b + 1.0) / (m - 1.0);
    return b / m;
}
double fn121(double a, double b, St*) { return fnlgc(a) * fnlgc(b); }
double fn122(double a, double b, St*) { return (a > 0.0 || b > 0.0) ? 1.0 : 0.0; }
double fn123(double a, double b, St*) { return 25.0 * (a + b); }
double fn124(double a, double b, St*) { return 25.0 * (a - b); }
double fn125(double a, double b, St*) { return 25.0 * (a + b) * 0.25; }
double fn126(double a, double b, St*) { return 25.0 * a * b; }
double fn127(double a, double b, St*) { return -25.0 * a * b; }
double fn128(double a, double b, St*) { return 25.0 * a * std::pow(10.0, b); }
double fn129(double a, double b, St*) { return fntr0(a - b); }
double fn130(double a, double b, St*) { return fntr0(a - b + 0.5); }
double fn131(double a, double b, St*) { return fntr0(a - b - 0.5); }
double fn132(double a, double b, St*) { return fntr0(a - b + 0.25); }
double fn133(double a, double b, St*) { return B(Z(U(a) * U(b))); }
double fn134(double a, double b, St*) { return B(U(a) / U(b)); }
double fndba(double a, double, St*) { return B(N(D(U(a)))); }
double fngpp(double a, double b, St*) {
    double const m = Z(-D(U(b)));
    double const p = std::pow(10.0, m / 20.0);
    double const q = std::pow(10.0, Z(U(a) * m) / 20.0);
    double const d = p != 1.0 ? p : 0.0;
    return B((1.0 - q) / (1.0 - d));
}
double fngpn(double a, double b, St*) {
    double const g = D(U(b));
    double const q = std::pow(10.0, Z(g * U(a)) / 20.0);
    double const ub = U(b);
    double const d = ub != 1.0 ? ub : 0.0;
    return B((1.0 - q) / (1.0 - d));
}
double fnsln(double a, double b, St*) { return B(std::pow(10.0, Z(D(U(b)) * U(a)) / 20.0)); }
double fnexp(double a, double b, St*) { return B(std::pow(U(a), 1.0 / U(b))); }
double fn136(double a, double b, St*) { return a * U(b); }
double fn137(double a, double, St*) { return a; }
// The factor is 10^(-192.64 / 40): a = 0 stores the middle of the dB range.
double fn138(double a, double b, St*) {
    return B(std::pow(10.0, Z(-D(U(b)) * a) / 20.0) * 1.5275660582380732e-5);
}

// ---- catalogue ------------------------------------------------------------

DataGfun::DataGfun()
    : counts{iCwaveforms, iCfunctions}, waveforms{}, functions{}, groups{waveforms, functions} {
    try {
        for (int i = 0; i < iCwaveforms; ++i)
            waveforms[i] =
                new CoreGfun(CoreAnsx(waveformTable[i].key), CoreAnsx(waveformTable[i].label),
                             waveformTable[i].function);
        for (int i = 0; i < iCfunctions; ++i)
            functions[i] =
                new CoreGfun(CoreAnsx(functionTable[i].key), CoreAnsx(functionTable[i].label),
                             functionTable[i].function);
    } catch (...) {
        for (CoreGfun* g : waveforms) delete g;
        for (CoreGfun* g : functions) delete g;
        throw CoreAnsx("Memory request failed for the function catalogue");
    }
}

DataGfun::~DataGfun() {
    for (CoreGfun*& g : waveforms) {
        delete g;
        g = nullptr;
    }
    for (CoreGfun*& g : functions) {
        delete g;
        g = nullptr;
    }
}

int DataGfun::getnm(int group) const { return (group == 0 || group == 1) ? counts[group] : 0; }

CoreGfun* DataGfun::getgf(int group, CoreAnsx const& key) const {
    if (group != 0 && group != 1) {
        CoreLog_::loger(CoreAnsx("Function group out of range: ") + CoreAnsx(group), 0);
        group = 0;
    }
    CoreGfun* const* entries = groups[group];
    CoreGfun* found = entries[0];
    for (int i = 0; i < counts[group]; ++i)
        if (entries[i]->getky() == key) found = entries[i];
    return found;
}

void DataGfun::getgs(int group, CoreAnsx* labels, CoreAnsx* keys) const {
    if (group != 0 && group != 1) return;
    for (int i = 0; i < counts[group]; ++i) {
        if (labels) labels[i] = groups[group][i]->getlb();
        if (keys) keys[i] = groups[group][i]->getky();
    }
}
