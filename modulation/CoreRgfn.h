#pragma once
// CoreRgfn: one entry of the raw-function catalogue: a key stored in program
// documents, a menu label, and a function that turns a raw-function
// modulator's state (unipolar inputs, the attached raw arrays, rate and
// block length) into a unipolar result, bounded to -1..1 by xtfun.
// Owned by DataRgfn. Threads: entries are immutable; xtfun runs on the
// processing thread (audio thread: no allocation, no file or log I/O, no
// blocking lock) with a state record owned by one modulator.

#include <cstdint>

#include "runtime/CoreAnsx.h"

class CoreRgfn {
public:
    // State of one raw-function modulator, embedded in it.
    struct FUNEXTENSION {
        double a;             // input A as unipolar, 0..1
        double b;             // input B as unipolar, 0..1
        double* array0;       // first raw array, not owned; may be null
        double* array1;       // second raw array, not owned; may be null
        std::int32_t length0; // values in array0
        std::int32_t length1; // values in array1
        double value;         // last result, unipolar
        double rate;          // rate from the program document (an integer)
        double samples;       // samples in the current block
    };
    using FUNCTION = double (*)(FUNEXTENSION* state);

    CoreRgfn(CoreAnsx const& key, CoreAnsx const& label, FUNCTION function);
    ~CoreRgfn();
    CoreRgfn(CoreRgfn const&) = delete;
    CoreRgfn& operator=(CoreRgfn const&) = delete;
    CoreRgfn(CoreRgfn&&) = delete;
    CoreRgfn& operator=(CoreRgfn&&) = delete;

    CoreAnsx getky() const; // identifier in program documents
    CoreAnsx getlb() const; // menu label
    // The function's result bounded to -1..1 and flushed (not-a-number gives
    // 0.0). Inputs are not folded: they are unipolar already.
    double xtfun(FUNEXTENSION* state) const;

private:
    CoreAnsx key;      // identifier in program documents
    CoreAnsx label;    // menu label
    FUNCTION function; // cleared by the destructor
};
