#pragma once
// CoreParm: a modulatable parameter. It is bound either to a source of the
// bus (by key) or to a numeric constant, and maps the bipolar value -1..1
// linearly onto its output scale (-1 gives the scale's lower end, +1 its
// upper end). Nothing is clamped: a constant outside -1..1 maps outside.
// Owned by the modulator, control or program that created it; the bus is
// not owned. Threads: setsr when a program is configured (may allocate);
// getvl on the processing thread (audio thread: no allocation, no file or
// log I/O, no blocking lock).

#include "runtime/CoreAnsx.h"

class CoreSrce;
class DataSrce;

class CoreParm {
public:
    // Bound to "OFF" with both scale ends at lower: returns lower until setsr.
    CoreParm(CoreAnsx const& name, CoreAnsx const& label, CoreAnsx const& unit, double lower,
             double upper, DataSrce* catalogue);
    ~CoreParm();
    CoreParm(CoreParm const&) = delete;
    CoreParm& operator=(CoreParm const&) = delete;
    CoreParm(CoreParm&&) = delete;
    CoreParm& operator=(CoreParm&&) = delete;

    // Binds text (a source key, or else a number; "" binds "OFF") and sets
    // the output scale lower..upper.
    void setsr(CoreAnsx const& text, double lower, double upper);
    // The bound value mapped onto the scale; zero or subnormal gives +0.0.
    double getvl();
    // What getvl would answer were source replaced at value; changes nothing.
    double getvw(CoreSrce const* replaced, double value) const;
    CoreAnsx getsc() const; // the text last given to setsr
    // The binding as written to a program document: the constant as
    // "%10.10f", or the source text.
    CoreAnsx getsa() const;
    bool iscst() const;   // bound to a constant
    bool actve() const;   // bound to a known source other than "OFF"
    double getcv() const; // the constant
    double getbl() const; // lower bound given at construction
    double getbu() const; // upper bound given at construction
    double getsl() const; // current scale lower end
    double getsu() const; // current scale upper end

private:
    CoreAnsx name;       // e.g. "Feedback Control"
    CoreAnsx label;      // display label
    CoreAnsx unit;       // display unit
    CoreAnsx sourcetext; // text of the last setsr: a key or a number; "" at first
    double lastvalue;    // result of the last getvl
    double constant;     // number read from the source text when it is no key
    double lowerbound;   // informational, not applied
    double upperbound;   // informational, not applied
    double scalelower;   // output for source value -1
    double scaleupper;   // output for source value +1
    double scalespan;    // scaleupper - scalelower, flushed
    bool constantflag;   // the source text is a number, not a key
    bool activeflag;     // the source text names a source other than "OFF"
    CoreSrce* source;    // bound source, not owned; null while constant or without bus
    DataSrce* catalogue; // the bus, not owned
};
