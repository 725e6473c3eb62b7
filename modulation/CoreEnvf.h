#pragma once
// CoreEnvf: an envelope follower. Audio samples are fed one at a time during
// a block, optionally high-passed, and detected with one of nine detector
// modes (average, RMS, held peak, their calibrated variants, rise-time and VU
// ballistics, true RMS); the level is smoothed with attack and release times
// and written to the bus once per block, with estimated attack and release
// times and, optionally, the last input magnitude.
// Owner: the program builds five with controls (EVF1..EVF5); the processing
// engine keeps its metering followers without controls or outputs.
// Threads: processing thread (audio thread: no allocation, no file or log
// I/O, no blocking lock) for setei and updte; construction, setvl and rfrvl
// when a program is configured or edited (may allocate).
// Samples are gathered 16 at a time, so the result does not depend on how a
// run of samples is cut into blocks.

#include "runtime/CoreAnsx.h"

class CoreFltr;
class CoreParm;
class CorePool;
class CoreSrce;
class DataSrce;

class CoreEnvf {
public:
    static constexpr int iCbufferdim = 16; // samples gathered per detector pass
    static int iVhighpassmaxorder;         // order of the owned high-pass, 8
    static constexpr double dCdenormalthreshold =
        1e-150; // input magnitudes not above it count as 0
    static constexpr double dCformafactor = 1.5689347391281367; // level factor of mode 3
    static constexpr double dC3dbfix = 1.4125375446227544;      // 10^(3/20): modes 4, 6, 8
    static constexpr double dCvu3dbfix = 1.433934302386369;     // with the VU trim: mode 7
    static const double dCtimeconstanttorisetimefactor;         // 1 / ln 9: modes 5, 6
    static const double dCvufactor;                             // 1 / ln 100: mode 7

    // With controls: the "Attack" and "Release" controls, the three outputs
    // and an order-8 high-pass. Always: the 16-sample pool buffer (owner tag
    // "ENVF"). Outputs that are the bus's fixed "OFF" or "ON" source are
    // never written. Throws CoreAnsx when the pool is missing or fails.
    CoreEnvf(CorePool* pool, CoreAnsx const& name, bool withcontrols, DataSrce* catalogue,
             CoreSrce* leveloutput, CoreSrce* attackoutput, CoreSrce* releaseoutput);
    ~CoreEnvf();
    CoreEnvf(CoreEnvf const&) = delete;
    CoreEnvf& operator=(CoreEnvf const&) = delete;
    CoreEnvf(CoreEnvf&&) = delete;
    CoreEnvf& operator=(CoreEnvf&&) = delete;

    // Configures the follower; times in samples, mode 0..8 (9 or anything
    // else: off). Every text and flag is kept for rfrvl and the writers.
    void setvl(int minattack, int maxattack, CoreAnsx const& attacksource, int minrelease,
               int maxrelease, CoreAnsx const& releasesource, double balance, short mode,
               bool busbalanceon, CoreAnsx const& busbalancesource, bool deltaon,
               CoreAnsx const& deltaattacksource, CoreAnsx const& deltareleasesource, bool timeson,
               double samplerate, bool outputson, CoreAnsx const& outputattacksource,
               CoreAnsx const& outputreleasesource, bool highpasson, double highpassfrequency,
               int highpassorder, CoreAnsx const& highpasssource);
    // Resets to off (mode 9); needs the controls.
    void setvl();
    // Re-applies the edited settings (setters below) through the full setvl.
    void rfrvl();

    void setei(double x) noexcept; // one sample
    // One sample mixed from two inputs (a, b) and two outputs (c, d) by the
    // balance weights.
    void setei(double a, double b, double c, double d) noexcept;
    void updte() noexcept; // closes the block: detects what is left, writes the bus

    double getou() const; // output level, 0..1 with controls
    double getbl() const; // 2 x level - 1; -1 for zero or subnormal
    double getdb() const; // level in dB, not below -192.64
    // s x ln(x) / ln(c) for positive x and c with ln c != 0, else 0.
    static double eaerc(double x, double c, double s);

    void setex(short mode);          // detector mode 0..8 (9 off), applied at rfrvl
    short getex() const;             // detector mode 0..8, 9 off
    void setma(int samples);         // minimum attack, samples (at rfrvl)
    int getma() const;               // minimum attack as configured, samples
    void setxa(int samples);         // maximum attack, samples (at rfrvl)
    int getxa() const;               // maximum attack as configured, samples
    void setmr(int samples);         // minimum release, samples (at rfrvl)
    int getmr() const;               // minimum release as configured, samples
    void setxr(int samples);         // maximum release, samples (at rfrvl)
    int getxr() const;               // maximum release as configured, samples
    void setda(CoreAnsx const& key); // delta attack source key (at rfrvl)
    void setdr(CoreAnsx const& key); // delta release source key (at rfrvl)
    void setas(CoreAnsx const& key); // attack source key (at rfrvl)
    void setrs(CoreAnsx const& key); // release source key (at rfrvl)
    void sethp(CoreAnsx const& key); // high-pass frequency source key (at rfrvl)
    void sethf(double hz);           // high-pass frequency at source +1, Hz (at rfrvl)
    double gethf() const;            // high-pass frequency at source +1, Hz
    void setho(int order);           // high-pass order (at rfrvl)
    int getho() const;               // high-pass order
    void setob(double balance);      // balance to apply at the next rfrvl
    double getba() const;            // balance in force
    CoreParm* getat() const;         // "Attack" control, null without controls
    CoreParm* getrl() const;         // "Release" control, null without controls
    CoreAnsx getbb() const;          // bus-balance source key
    CoreAnsx getda() const;          // delta attack source key
    CoreAnsx getdr() const;          // delta release source key
    CoreAnsx getoa() const;          // output attack source key
    CoreAnsx getor() const;          // output release source key
    CoreAnsx gethp() const;          // high-pass frequency source key
    bool isact() const;              // detecting (mode 0..8)
    bool bbsrc() const;              // writes the last input magnitude to the bus
    bool dsrc_() const;              // coefficients from the two delta sources
    bool osrc_() const;              // level scaled by the output sources
    bool hpsrc() const;              // detector input is high-passed
    bool enabt() const;              // writes attack and release times

private:
    void prcss() noexcept;      // detects the buffered samples, empties the buffer
    void refreshCoefficients(); // attack/release coefficients from controls or delta sources
    void refreshFilter();       // high-pass cut-off from its source
    CoreSrce* writable(CoreSrce* s) const;                  // s, or null for "OFF"/"ON"
    static void writeBipolar(CoreSrce* s, double unipolar); // 2u - 1, -1 for 0

    CoreAnsx name;                 // e.g. "EVF1"
    CoreAnsx busbalancetext;       // bus-balance source key
    CoreAnsx deltaattacktext;      // delta attack source key
    CoreAnsx deltareleasetext;     // delta release source key
    CoreAnsx outputattacktext;     // output attack source key
    CoreAnsx outputreleasetext;    // output release source key
    CoreAnsx attacktext;           // attack source key
    CoreAnsx releasetext;          // release source key
    CoreAnsx highpasstext;         // high-pass frequency source key
    short mode;                    // detector mode 0..8, 9 off
    int count;                     // buffered samples, 0..16
    int highpassorder;             // high-pass order (sections = order / 2)
    int holdlength;                // peak hold, samples
    int holdcountdown;             // samples left in the current hold
    int minattack;                 // samples, as configured
    int maxattack;                 // samples, as configured
    int minrelease;                // samples, as configured
    int maxrelease;                // samples, as configured
    double minattackd;             // samples after mode scaling, at least 1
    double maxattackd;             // samples after mode scaling, at least the minimum
    double minreleased;            // samples after mode scaling, at least 1
    double maxreleased;            // samples after mode scaling, at least the minimum
    double balance;                // -1..1 in force
    double pendingbalance;         // balance for the next rfrvl
    double outputweight;           // weight of the output pair (c, d)
    double inputweight;            // weight of the input pair (a, b)
    double attackcoef;             // per-sample attack coefficient
    double releasecoef;            // per-sample release coefficient
    double prevattack;             // attack value the coefficient was made from, samples
    double prevrelease;            // release value the coefficient was made from, samples
    double envelope;               // detector state (magnitude or power)
    double outputlevel;            // level of the last block, linear
    double runningmax;             // peak mode: maximum of the current hold
    double heldpeak;               // peak mode: maximum of the previous hold
    double lastmagnitude;          // |last detected sample| for the bus balance
    double timescale;              // 0.01 / sample rate
    double detector;               // last detector value of the block
    double prevdetector;           // detector value of the previous block
    double vutrim;                 // 10^0.038
    double samplerate;             // samples/s
    double highpassfrequency;      // Hz at source value +1
    bool active;                   // detects (mode 0..8)
    bool hascontrols;              // built with controls and outputs
    bool busbalanceon;             // writes the last magnitude to the bus
    bool deltaon;                  // coefficients from the two delta sources
    bool outputson;                // level scaled by the output sources
    bool timeson;                  // writes attack and release times
    bool attacking;                // the last sample rose above the envelope
    bool wasattacking;             // attacking at the end of the previous block
    bool highpasson;               // detector input is high-passed
    DataSrce* catalogue;           // the bus, not owned
    CoreSrce* busbalancesource;    // resolved, null when off or fixed
    CoreSrce* deltaattacksource;   // resolved, null when off
    CoreSrce* deltareleasesource;  // resolved, null when off
    CoreSrce* outputattacksource;  // resolved, null when off
    CoreSrce* outputreleasesource; // resolved, null when off
    CoreSrce* leveloutput;         // level output, not owned; null when none
    CoreSrce* attackoutput;        // attack-time output, not owned; null when none
    CoreSrce* releaseoutput;       // release-time output, not owned; null when none
    CoreSrce* highpasssource;      // resolved, null when off
    CoreParm* attack;              // "Attack" control, owned; null without controls
    CoreParm* release;             // "Release" control, owned; null without controls
    CorePool* pool;                // owner of the buffer, not owned
    CoreFltr* filter;              // owned high-pass; null without controls
    double* buffer;                // iCbufferdim samples from the pool
};
