#pragma once
// CorePrm_: a parameter modulator of a program: a two-argument function of
// the function catalogue (group 1) applied to inputs A and B and written to
// its PRM source, plus what the host-parameter and display layers need to
// show that source as a named parameter: label texts, unit texts, an output
// range in display units and the bounds of a display bar.
// Owned by the program (sixteen of them); the catalogues and the output
// source are the program's. Threads: the engine's property and processing
// paths; updte, getvl, getvw and getbf allocate nothing (audio thread: no
// allocation, no file or log I/O, no blocking lock); setters and text
// getters allocate. No locks: the fields are plain values.

#include <memory>

#include "runtime/CoreAnsx.h"

class CoreGfun;
class CoreParm;
class CoreSrce;
class DataGfun;
class DataSrce;

class CorePrm_ {
public:
    // Builds inputs A and B (name + "_A", name + "_B", unit "-", -1..1).
    // One setvl form must follow before any other use. Throws CoreAnsx when
    // the inputs cannot be had.
    CorePrm_(CoreAnsx const& name, DataGfun* functions, DataSrce* sources, CoreSrce* output);
    ~CorePrm_();
    CorePrm_(CorePrm_ const&) = delete;
    CorePrm_& operator=(CorePrm_ const&) = delete;
    CorePrm_(CorePrm_&&) = delete;
    CorePrm_& operator=(CorePrm_&&) = delete;

    // Reset: inputs "OFF", function "a", texts empty, ranges 0, flags false;
    // with true, configured and labelled (still hidden).
    void setvl(bool use);
    // Full configuration; labelled when the label is not empty.
    void setvl(bool visible, CoreAnsx const& akey, CoreAnsx const& bkey, CoreAnsx const& fnkey,
               CoreAnsx const& label, CoreAnsx const& prelabel, CoreAnsx const& unit,
               CoreAnsx const& preunit, CoreAnsx const& postunit, double min, double max,
               double barmin, double barmax);
    // Shows or hides; showing an unconfigured modulator configures it first,
    // and an empty or "0" label then becomes "NULL".
    void setds(bool visible);
    void setsa(CoreAnsx const& akey);  // binds input A alone
    void setsb(CoreAnsx const& bkey);  // binds input B alone
    void setfn(CoreAnsx const& fnkey); // the found entry's key is stored
    // Binds both inputs, picks the function.
    void setfn(CoreAnsx const& akey, CoreAnsx const& bkey, CoreAnsx const& fnkey);
    void setmn(double min);    // output value for source -1
    void setmx(double max);    // output value for source +1
    void setbn(double barmin); // bar minimum, re-deriving the bar fields
    void setbx(double barmax); // bar maximum, re-deriving the bar fields
    // All four bounds, bar fields re-derived.
    void setbn(double min, double max, double barmin, double barmax);
    void setba();                     // re-derives the bar fields from the bar bounds
    void setlb(CoreAnsx const& text); // label; does not change "labelled"
    void setpl(CoreAnsx const& text); // pre-label
    void setun(CoreAnsx const& text); // unit
    void setpu(CoreAnsx const& text); // pre-unit
    void setou(CoreAnsx const& text); // post-unit

    bool isdis() const; // configured, labelled and visible
    // min + (max - min) x U(own source), from the last updte; 0 unless
    // configured and labelled.
    double getvl() const;
    // What getvl would answer after an updte with source replaced at value
    // (a control's write not yet in): an input bound to it reads value, the
    // other as it stands. Writes nothing, the output included.
    double getvw(CoreSrce const* replaced, double value) const;
    // Display-bar fraction, capped at 1 but not below: a reversed bar can
    // give a negative fraction, which the drawing code clamps.
    double getbf() const;
    double getbd(int index) const; // 0 min, 1 max, 2 bar min, 3 bar max; else 0
    void getbn(double& min, double& max, double& barmin, double& barmax) const; // the four bounds
    double getmn() const;    // output value for source -1
    double getmx() const;    // output value for source +1
    double getbn() const;    // bar minimum
    double getbx() const;    // bar maximum
    CoreParm* getfa() const; // input A, owned by this modulator
    CoreParm* getfb() const; // input B, owned by this modulator
    CoreAnsx getfn() const;  // function key
    CoreAnsx getlb() const;  // label
    CoreAnsx getpl() const;  // pre-label
    CoreAnsx getun() const;  // unit
    CoreAnsx getpu() const;  // pre-unit
    CoreAnsx getou() const;  // post-unit

    // Writes function(A, B) to the source when configured.
    void updte() noexcept;

private:
    void bindInputs(CoreAnsx const& akey, CoreAnsx const& bkey); // both at scale -1..1
    void selectFunction(CoreAnsx const& fnkey);
    double shown(double source) const; // the display value of an output value

    CoreAnsx name;     // e.g. "PRM1"
    CoreAnsx aname;    // name + "_A"
    CoreAnsx bname;    // name + "_B"
    CoreAnsx fnkey;    // key of the selected group 1 entry
    CoreAnsx label;    // parameter label
    CoreAnsx prelabel; // text shown before the label (mix control number)
    CoreAnsx unit;     // unit text
    CoreAnsx preunit;  // text shown before the value
    CoreAnsx postunit; // text shown after the unit
    double minimum;    // display value for source -1
    double maximum;    // display value for source +1
    double barmin;     // display value at which the bar is empty
    double barmax;     // display value at which the bar is full
    double barstart;   // the smaller of barmin and barmax
    double barscale;   // 1 / (barmax - barmin); 1.0 when equal; negative when reversed
    bool configured;   // has a setting and is evaluated
    bool labelled;     // in use as a labelled parameter
    bool visible;      // shown
    bool reversed;     // barmin > barmax
    DataSrce* sources; // the bus, not owned
    CoreSrce* output;  // "PRM<n>", not owned
    std::unique_ptr<CoreParm> inputa; // bipolar -1..1
    std::unique_ptr<CoreParm> inputb; // bipolar -1..1
    DataGfun* functions;              // function catalogue, not owned
    CoreGfun* function;               // selected entry; null before setvl
};
