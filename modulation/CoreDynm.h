#pragma once
// CoreDynm: a dynamics processor of the modulation matrix. It compares an
// input level with a threshold (both bus sources, in dB) and writes a gain:
// as a compressor the gain falls with the ratio above the threshold, as an
// expander it rises with the inverse ratio. A range limit caps the dB span
// the ratio acts on, an optional curve eases the ratio in from 1 at the
// threshold, and a pad (dB) is added. The gain goes to one bus source.
// Settings come in two copies: the pending one written by the editing
// setters, the current one used by updte; rfrvl applies the pending copy.
// Ratio-curve numbering: the inner setvl takes the curve itself (0..8; 0, 1
// linear, c >= 2 the power c); the outer setvl, setrc and getrc use the
// display's numbering, curve + 1, where 0 and below mean "no curve".
// Owner: the program (two of them); the bus and the output are not owned.
// Threads: processing thread (audio thread: no allocation, no file or log
// I/O, no blocking lock) for updte; the setters, setvl and rfrvl run when the
// program is configured or edited (may allocate).

#include "runtime/CoreAnsx.h"

class CoreParm;
class CoreSrce;
class DataSrce;

class CoreDynm {
public:
    static constexpr short iCmaxratiocurve = 8;     // highest curve exponent
    static constexpr double dCgainceiling = 192.64; // dB, the highest gain an expander may give

    // Builds "Threshold Control", "Input Control" and "Ratio Control".
    CoreDynm(CoreAnsx const& name, DataSrce* catalogue, CoreSrce* output);
    ~CoreDynm();
    CoreDynm(CoreDynm const&) = delete;
    CoreDynm& operator=(CoreDynm const&) = delete;
    CoreDynm(CoreDynm&&) = delete;
    CoreDynm& operator=(CoreDynm&&) = delete;

    // Reset: inactive, compressor, no curve, controls unbound.
    void setvl();
    // Editor form: mode 0 compressor, 1 expander; ratiocurve in the display
    // numbering (0 and below: none).
    void setvl(short mode, CoreAnsx const& threshold, CoreAnsx const& input, CoreAnsx const& ratio,
               short ratiocurve, double rangelimit, double gainpad);
    // Document form: curve is the exponent itself (stored at most 8).
    void setvl(CoreAnsx const& threshold, CoreAnsx const& input, bool compress,
               CoreAnsx const& ratio, bool curveenabled, short curve, double rangelimit,
               double gainpad);
    void rfrvl();          // the editor form with the pending copy
    void updte() noexcept; // one block: writes 2 g - 1

    CoreAnsx getbs(int i) const; // key bound to control i (0 threshold, 1 input, 2 ratio)
    void setbs(int i, CoreAnsx const& key); // pending key of control i
    short getst() const;                    // mode in force: 0 compressor, 1 expander
    void setst(short mode);                 // pending mode
    short getrc() const;                    // curve + 1 in force, 0 when none
    void setrc(short ratiocurve);           // pending curve, display numbering
    double getbd(int i) const;              // 3 range limit, 4 gain pad (dB); else 0
    void setbd(int i, double value);        // pending 3 range limit, 4 gain pad

private:
    CoreAnsx name;            // e.g. "DNM1"
    CoreAnsx pendingtexts[3]; // pending threshold, input and ratio keys
    double rangelimit;        // dB span the ratio acts on
    double lastgain;          // linear gain of the last active block
    double gainpad;           // dB added to the gain
    double reciprocallimit;   // 1 / rangelimit, 0 when the limit is not positive
    double pendingrangelimit; // dB
    double pendinggainpad;    // dB
    short curve;              // curve exponent, at most 8; -1 after reset
    short pendingmode;        // 0 compressor, 1 expander
    short pendingcurve;       // display numbering: curve + 1, 0 none
    bool active;              // input control bound to a source
    bool compress;            // compressor (true) or expander
    bool curveenabled;        // the curve eases the ratio in
    CoreParm* controls[3];    // owned: threshold, input, ratio
    CoreSrce* outputsource;   // written every block, not owned; null when none
};
