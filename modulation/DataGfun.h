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
double fn001(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn002(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn003(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn004(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn005(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn006(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn007(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn008(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn009(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn010(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn011(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn012(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn013(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn014(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn015(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn016(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn017(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn018(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn019(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn020(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn021(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn022(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn023(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn024(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn025(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn026(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn027(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn028(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn029(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn030(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn031(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn032(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn033(double a, double b, CoreGfun::FUNEXTENSION* st);
// Group 1: two inputs; none reads the state.
double fn101(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn102(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn103(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn104(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn105(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn106(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn107(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn108(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn109(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn110(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn111(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn112(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn113(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn114(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn115(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn116(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn117(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn118(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn119(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn120(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn121(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn122(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn123(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn124(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn125(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn126(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn127(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn128(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn129(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn130(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn131(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn132(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn133(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn134(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn135(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn136(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn137(double a, double b, CoreGfun::FUNEXTENSION* st);
double fn138(double a, double b, CoreGfun::FUNEXTENSION* st);
double fndsb(double a, double b, CoreGfun::FUNEXTENSION* st);
double fnsdl(double a, double b, CoreGfun::FUNEXTENSION* st);
double fndba(double a, double b, CoreGfun::FUNEXTENSION* st);
double fngpp(double a, double b, CoreGfun::FUNEXTENSION* st);
double fngpn(double a, double b, CoreGfun::FUNEXTENSION* st);
double fnsln(double a, double b, CoreGfun::FUNEXTENSION* st);
double fnexp(double a, double b, CoreGfun::FUNEXTENSION* st);

// The generic forms the shapes follow.
double fnstp(double a, int n); // (2/n) floor(a n / 2): an n-level staircase
double fnpst(double a, int n); // fnstp moved to 0..1
// Random step with N = n cells: the previous value while a stays in the
// previous phase's cell, else a new value from the process-wide rand.
double fncha(double a, int n, double previousphase, double previousvalue);
double fnlgc(double x); // 1 when x > 0, else 0
double fntr0(double x); // max(0, x)
