#pragma once
// CoreGfun: one entry of the function catalogue: a key stored in program
// documents, a menu label, and a shape of two bipolar inputs. Every
// evaluation goes through xtfun, which folds the inputs into -1..1 and
// bounds the result to -1..1. The static conversions below are the bus's
// arithmetic (unipolar, bipolar, decibel scale, triangle) shared by the
// modulators; each flushes zero and subnormal results to +0.0.
// Owned by DataGfun. Threads: entries are immutable and may be evaluated
// from any thread (audio thread: no allocation, no file or log I/O, no
// blocking lock); a state record belongs to one evaluator.

#include "runtime/CoreAnsx.h"

class CoreGfun {
public:
    // Per-evaluator state; only the random waveforms read it.
    struct FUNEXTENSION {
        double phase; // wrapped phase of the previous evaluation, -1..1
        double value; // result of the previous evaluation, -1..1
    };
    using FUNCTION = double (*)(double a, double b, FUNEXTENSION* state);

    CoreGfun(CoreAnsx const& key, CoreAnsx const& label, FUNCTION function);
    ~CoreGfun();
    CoreGfun(CoreGfun const&) = delete;
    CoreGfun& operator=(CoreGfun const&) = delete;
    CoreGfun(CoreGfun&&) = delete;
    CoreGfun& operator=(CoreGfun&&) = delete;

    CoreAnsx getky() const; // identifier in program documents
    CoreAnsx getlb() const; // menu label
    // Folds a and b into -1..1 when outside (NaN counts as outside), applies
    // the function and returns the bounded result. state may be null.
    double xtfun(double a, double b, FUNEXTENSION* state) const;

    // A result bounded to -1..1 and flushed; not-a-number becomes 0.0.
    static double bound(double r);
    // Folds x periodically into -1..1 when it is outside (1.5 gives -0.5).
    static double fold(double x);
    static double unipolar(double x); // (x + 1) / 2, flushed
    static double bipolar(double u);  // 2u - 1, flushed; exactly -1 for zero or subnormal u
    static double dbunit(double d);   // -192.64..0 dB onto 0..1, flushed
    static double triangle(double x); // triangle through 0 with peaks at -0.5 and 0.5

private:
    CoreAnsx key;      // identifier in program documents
    CoreAnsx label;    // menu label
    FUNCTION function; // the shape; cleared by the destructor
};
