#pragma once
// CoreSrce: one named source of the modulation bus: a key that program
// documents use, a label for menus, and the current bipolar value (-1..1).
// Owned by the bus catalogue DataSrce. Written by one modulator, a user
// control or the engine, read by parameters and vector controls.
// Threads: processing thread (audio thread: no allocation, no file or log
// I/O, no blocking lock) for setvl/getvl; a user control also writes its
// source from the display thread, so the value is a relaxed atomic (plain
// loads and stores on the targets we build for). The texts are read when binding.

#include <atomic>

#include "runtime/CoreAnsx.h"

class CoreSrce {
public:
    CoreSrce(CoreAnsx const& key, CoreAnsx const& label);
    CoreSrce(CoreSrce const&) = delete;
    CoreSrce& operator=(CoreSrce const&) = delete;
    CoreSrce(CoreSrce&&) = delete;
    CoreSrce& operator=(CoreSrce&&) = delete;

    // Stores v; zeros and subnormals become +0.0, infinities and NaN stay.
    void setvl(double v);
    double getvl() const;   // current value, bipolar -1..1
    CoreAnsx getky() const; // identifier in program documents, e.g. "LFO1"
    // The label, or the key when the label is empty or "0".
    CoreAnsx getlb() const;

private:
    CoreAnsx key;              // identifier in program documents, e.g. "LFO1"
    CoreAnsx label;            // menu label; empty for all but the four LFO rates
    std::atomic<double> value; // current value, bipolar -1..1; 0.0 after construction
};
