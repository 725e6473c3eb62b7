#pragma once
// DataGfun: the function catalogue of one program: 33 one-argument
// waveforms (group 0, the LFO shapes) and 45 two-argument functions (group
// 1, for function generators and parameter modulators), looked up by key
// and listed for menus. Programs store keys, so order, keys and labels are
// fixed.
// Owned by the program (the display builds a temporary one for its menus).
// Threads: immutable after construction; lookups when a modulator is
// configured, evaluation on the processing thread.

#include "modulation/CoreGfun.h"
#include "runtime/CoreAnsx.h"

class DataGfun {
public:
    static constexpr int iCwaveforms = 33; // entries of group 0
    static constexpr int iCfunctions = 45; // entries of group 1

    DataGfun(); // throws CoreAnsx when the entries cannot be allocated
    ~DataGfun();
    DataGfun(DataGfun const&) = delete;
    DataGfun& operator=(DataGfun const&) = delete;
    DataGfun(DataGfun&&) = delete;
    DataGfun& operator=(DataGfun&&) = delete;

    // Entries of group 0 or 1 (33 or 45); 0 for any other group.
    int getnm(int group) const;
    // The entry of the group whose key equals key (case-sensitive, last equal
    // one wins), else the group's entry 0 ("Sine" or "a"). A group other
    // than 0 or 1 is logged and answered from group 0. Never null.
    CoreGfun* getgf(int group, CoreAnsx const& key) const;
    // Fills labels[i] and keys[i] for every entry of the group, in order.
    void getgs(int group, CoreAnsx* labels, CoreAnsx* keys) const;

private:
    int counts[2];                    // entries per group: 33 and 45
    CoreGfun* waveforms[iCwaveforms]; // group 0, owned, in table order
    CoreGfun* functions[iCfunctions]; // group 1, owned, in table order
    CoreGfun** groups[2];             // waveforms and functions
};

// The catalogue's shapes, callable directly; arguments already in -1..1.
// Group 0: a is the phase, b unused; the random steps read and may be given
// a null state (a new value is then drawn every time).
double fn001(double a, double b, CoreGfun::FUNEXTENSION* st); // "Sine": sin(pi a)
double fn002(double a, double b, CoreGfun::FUNEXTENSION* st); // "+Sine": sin(pi a) moved to 0..1
double fn003(double a, double b, CoreGfun::FUNEXTENSION* st); // "Square": sign of a
// "+Squar": 1 above 0, 0 below, 0.5 at 0.
double fn004(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn005(double a, double b, CoreGfun::FUNEXTENSION* st); // "Triang": triangle of a
double fn006(double a, double b, CoreGfun::FUNEXTENSION* st); // "+Trian": triangle moved to 0..1
double fn007(double a, double b, CoreGfun::FUNEXTENSION* st); // "Rise S": a
double fn008(double a, double b, CoreGfun::FUNEXTENSION* st); // "+Rise": (a + 1) / 2
double fn009(double a, double b, CoreGfun::FUNEXTENSION* st); // "Fall S": -a
double fn010(double a, double b, CoreGfun::FUNEXTENSION* st); // "+Fall": (1 - a) / 2
double fn011(double a, double b, CoreGfun::FUNEXTENSION* st); // "3 Step": fnstp(a, 3)
double fn012(double a, double b, CoreGfun::FUNEXTENSION* st); // "+3 Ste": fnpst(a, 3)
double fn013(double a, double b, CoreGfun::FUNEXTENSION* st); // "4 Step": fnstp(a, 4)
double fn014(double a, double b, CoreGfun::FUNEXTENSION* st); // "+4 Ste": fnpst(a, 4)
double fn015(double a, double b, CoreGfun::FUNEXTENSION* st); // "5 Step": fnstp(a, 5)
double fn016(double a, double b, CoreGfun::FUNEXTENSION* st); // "+5 Ste": fnpst(a, 5)
double fn017(double a, double b, CoreGfun::FUNEXTENSION* st); // "6 Step": fnstp(a, 6)
double fn018(double a, double b, CoreGfun::FUNEXTENSION* st); // "+6 Ste": fnpst(a, 6)
double fn019(double a, double b, CoreGfun::FUNEXTENSION* st); // "7 Step": fnstp(a, 7)
double fn020(double a, double b, CoreGfun::FUNEXTENSION* st); // "+7 Ste": fnpst(a, 7)
double fn021(double a, double b, CoreGfun::FUNEXTENSION* st); // "8 Step": fnstp(a, 8)
double fn022(double a, double b, CoreGfun::FUNEXTENSION* st); // "+8 Ste": fnpst(a, 8)
double fn023(double a, double b, CoreGfun::FUNEXTENSION* st); // "10 Ste": fnstp(a, 10)
double fn024(double a, double b, CoreGfun::FUNEXTENSION* st); // "+10 St": fnpst(a, 10)
double fn025(double a, double b, CoreGfun::FUNEXTENSION* st); // "12 Ste": fnstp(a, 12)
double fn026(double a, double b, CoreGfun::FUNEXTENSION* st); // "+12 St": fnpst(a, 12)
double fn027(double a, double b, CoreGfun::FUNEXTENSION* st); // "Ramp": a, flushed
double fn028(double a, double b, CoreGfun::FUNEXTENSION* st); // "3 Rand": fncha(a, 6) on st
double fn029(double a, double b, CoreGfun::FUNEXTENSION* st); // "4 Rand": fncha(a, 8) on st
double fn030(double a, double b, CoreGfun::FUNEXTENSION* st); // "5 Rand": fncha(a, 10) on st
double fn031(double a, double b, CoreGfun::FUNEXTENSION* st); // "8 Rand": fncha(a, 16) on st
double fn032(double a, double b, CoreGfun::FUNEXTENSION* st); // "10 Ran": fncha(a, 20) on st
double fn033(double a, double b, CoreGfun::FUNEXTENSION* st); // "12 Ran": fncha(a, 24) on st
// Group 1: two inputs; none reads the state.
double fn101(double a, double b, CoreGfun::FUNEXTENSION* st); // "a+b"
double fn102(double a, double b, CoreGfun::FUNEXTENSION* st); // "a-b"
double fn103(double a, double b, CoreGfun::FUNEXTENSION* st); // "(a+b)/2"
double fn104(double a, double b, CoreGfun::FUNEXTENSION* st); // "a/2+b"
double fn105(double a, double b, CoreGfun::FUNEXTENSION* st); // "a/4+b/2"
double fn106(double a, double b, CoreGfun::FUNEXTENSION* st); // "(a+2b)/3"
double fn107(double a, double b, CoreGfun::FUNEXTENSION* st); // "a*b"
double fn108(double a, double b, CoreGfun::FUNEXTENSION* st); // "-a*b"
double fn109(double a, double b, CoreGfun::FUNEXTENSION* st); // "a*10^b"
double fn110(double a, double b, CoreGfun::FUNEXTENSION* st); // "|a+b|"
double fn111(double a, double b, CoreGfun::FUNEXTENSION* st); // "|a-b|"
double fn112(double a, double b, CoreGfun::FUNEXTENSION* st); // "min(a,b)"
double fn113(double a, double b, CoreGfun::FUNEXTENSION* st); // "max(a,b)"
// "Quantize b to a": unipolar b on floor(16a) levels, bipolar.
double fn114(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn115(double a, double b, CoreGfun::FUNEXTENSION* st); // "b/(1-a)"
double fn116(double a, double b, CoreGfun::FUNEXTENSION* st); // "(a+b)^2"
double fn117(double a, double b, CoreGfun::FUNEXTENSION* st); // "sin(a+b)": sin(pi (a + b))
double fn118(double a, double b, CoreGfun::FUNEXTENSION* st); // "cos(a+b)": cos(pi (a + b))
double fn119(double a, double b, CoreGfun::FUNEXTENSION* st); // "tri(a+b)": triangle of a + b
// "warp(a,b)": b / |a| inside +-|a|, outside stretched to reach +-1 at +-1.
double fn120(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn121(double a, double b, CoreGfun::FUNEXTENSION* st); // "a AND b": 1 when both > 0, else 0
double fn122(double a, double b, CoreGfun::FUNEXTENSION* st); // "a OR b": 1 when either > 0, else 0
double fn123(double a, double b, CoreGfun::FUNEXTENSION* st); // "ramp(f=a+b)": 25 (a + b)
double fn124(double a, double b, CoreGfun::FUNEXTENSION* st); // "ramp(f=a-b)": 25 (a - b)
double fn125(double a, double b, CoreGfun::FUNEXTENSION* st); // "ramp(f=(a+b)/4)": 25 (a + b) / 4
double fn126(double a, double b, CoreGfun::FUNEXTENSION* st); // "ramp(f=a*b)": 25 a b
double fn127(double a, double b, CoreGfun::FUNEXTENSION* st); // "ramp(f=-a*b)": -25 a b
double fn128(double a, double b, CoreGfun::FUNEXTENSION* st); // "ramp(f=a*10^b)": 25 a 10^b
double fn129(double a, double b, CoreGfun::FUNEXTENSION* st); // "Diode(a-b)": max(0, a - b)
// "Diode(a-b+.5)": max(0, a - b + 0.5).
double fn130(double a, double b, CoreGfun::FUNEXTENSION* st);
// "Diode(a-b-.5)": max(0, a - b - 0.5).
double fn131(double a, double b, CoreGfun::FUNEXTENSION* st);
// "Diode(a-b+.25)": max(0, a - b + 0.25).
double fn132(double a, double b, CoreGfun::FUNEXTENSION* st);
// "a(*unipolar)b": bipolar of unipolar a x unipolar b.
double fn133(double a, double b, CoreGfun::FUNEXTENSION* st);
// "a(/unipolar)b": bipolar of unipolar a / unipolar b.
double fn134(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn135(double a, double b, CoreGfun::FUNEXTENSION* st); // "a": a
double fn136(double a, double b, CoreGfun::FUNEXTENSION* st); // "a*unipolar(b)": a x (b + 1) / 2
double fn137(double a, double b, CoreGfun::FUNEXTENSION* st); // "LumoII": a
// "StoreBipolarDb": bipolar of 10^(-Db(unipolar b) a / 20) x 10^(-192.64 / 40).
double fn138(double a, double b, CoreGfun::FUNEXTENSION* st);
// "Db(a)-Db(b)": difference of the unipolar inputs' levels, each as bipolar on the dB unit scale.
double fndsb(double a, double b, CoreGfun::FUNEXTENSION* st);
// "ScaleDb a to b": gain from -192.64 (1 - unipolar b) dB at a = -1 up to 0 dB at a = 1, as
// bipolar.
double fnsdl(double a, double b, CoreGfun::FUNEXTENSION* st);
// "Db(a)": level of unipolar a on the -192.64..0 dB unit scale, as bipolar.
double fndba(double a, double b, CoreGfun::FUNEXTENSION* st);
// "gainpad+": 0..1 as a gain rises in dB from 1 to 1 / unipolar b while unipolar a goes
// 0..1, as bipolar.
double fngpp(double a, double b, CoreGfun::FUNEXTENSION* st);
// "gainpad-": 0..1 as a gain falls in dB from 1 to unipolar b while unipolar a goes 0..1, as
// bipolar.
double fngpn(double a, double b, CoreGfun::FUNEXTENSION* st);
// "ScaleDb(a,b)": the gain of Db(unipolar b) x unipolar a dB, as bipolar.
double fnsln(double a, double b, CoreGfun::FUNEXTENSION* st);
// "exp(a,1/b)": bipolar of unipolar a to the power 1 / unipolar b.
double fnexp(double a, double b, CoreGfun::FUNEXTENSION* st);

// The generic forms the shapes follow.
double fnstp(double a, int n); // (2/n) floor(a n / 2): an n-level staircase
double fnpst(double a, int n); // fnstp moved to 0..1
// Random step with N = n cells: the previous value while a stays in the
// previous phase's cell, else a new value from the process-wide rand.
double fncha(double a, int n, double previousphase, double previousvalue);
double fnlgc(double x); // 1 when x > 0, else 0
double fntr0(double x); // max(0, x)
