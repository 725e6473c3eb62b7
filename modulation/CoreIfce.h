#pragma once
// CoreIfce: a user control (mix and gain knobs). A named value with a range,
// label and unit, bound to one bus source that receives the main slot's raw
// value. An alternate slot can stand in for the main one while the editor
// needs it. Mouse drags and wheel clicks become values here, and a change
// indicator shows whether the value is above, below or at its reference:
// steady for 3 seconds after a change, blinking afterwards.
// Owner: the program (ten of them); the source and the blink clock are not
// owned.
// Threads: shared by the processing side (property bus, program load) and
// the display thread. Every member takes the control's lock except getnh
// (static), getsr (fixed) and the pa pair, which take the pa lock; no member takes both,
// and no locked member calls another, so the non-recursive locks are safe.
// The critical sections are short and allocate nothing except the text
// copies of getlb and getun; the locks are taken in brief pauses
// (CoreSmgd::BRIEF), as the audio path reads the gains.

#include "runtime/CoreAnsx.h"
#include "runtime/CoreSmph.h"

class CoreBlnk;
class CoreSrce;

class CoreIfce {
public:
    using CLOCK = double (*)(); // wall clock in days since the epoch

    static double dVfixedled; // seconds the indicator stays steady after a change, 3.0
    static constexpr double dCincrx = 0.0012;     // fraction per pixel of horizontal drag
    static constexpr double dCincry = 0.012;      // fraction per pixel of vertical drag
    static constexpr short iCdefaultcoarse = 128; // default wheel resolution (steps per range)

    // The main slot holds initial; nothing is written to the source until
    // the first setiv. With led, the indicator starts expired and equal.
    CoreIfce(CoreAnsx const& name, double minimum, double maximum, CoreAnsx const& label,
             CoreAnsx const& unit, CoreSrce* source, double initial, bool led, CoreBlnk* blinker);
    // The same on another clock (tests step a fake one); null means the wall clock.
    CoreIfce(CoreAnsx const& name, double minimum, double maximum, CoreAnsx const& label,
             CoreAnsx const& unit, CoreSrce* source, double initial, bool led, CoreBlnk* blinker,
             CLOCK clock);
    ~CoreIfce();
    CoreIfce(CoreIfce const&) = delete;
    CoreIfce& operator=(CoreIfce const&) = delete;
    CoreIfce(CoreIfce&&) = delete;
    CoreIfce& operator=(CoreIfce&&) = delete;

    // Sets raw value and reference of the main slot (main) or of the slot
    // in use, its validity, and a neutral indicator; a main-slot value goes
    // to the source.
    void setiv(double value, bool valid, bool main);
    // Sets the addressed slot from a 0..1 fraction of the range when it is
    // valid; updates the indicator and restarts the steady period on change.
    void setvl(double fraction, bool main);
    double getvl(bool main); // fraction of the range, not clamped; 0 for an empty range
    double getiv(bool main); // raw value
    // What the main slot would hold after setvl(fraction, true), changing
    // nothing: its raw value, as its source will hold it, and the fraction
    // getvl(false) would give. False when the slot is not valid: it then
    // takes no value.
    bool getpv(double fraction, double& value, double& share);
    CoreSrce* getsr() const { return source; } // the main slot's source; fixed at construction
    bool isval(bool main);                     // validity of the addressed slot
    // On: switch to a freshly reset alternate slot. Off: back to the main slot.
    void mode_(bool on);
    bool isalt();           // the alternate slot is in use
    short getml();          // indicator to show now: 0 dark, 1 above, 2 below, 3 equal
    short getll();          // indicator last shown for the slot in use
    void mswhl(int clicks); // wheel: moves by clicks^2 x wheel factor, down for clicks < 1
    void settf(int n);      // wheel factor 1 / n; n < 1 is refused
    // Drag: old + (x - px) x dCincrx + (py - y) x dCincry, within 0..1; the
    // previous coordinates become (x, y).
    static double getnh(double old, int& px, int& py, int x, int y);
    short getcp();            // coarse step count kept for the engine
    void setcp(short steps);  // coarse step count kept for the engine
    double getpa();           // the engine's pa value (pa lock)
    void setpa(double value); // stores the engine's pa value (pa lock)
    CoreAnsx getlb();         // label
    CoreAnsx getun();         // unit

private:
    // Unlocked bodies shared by the locked members.
    double fractionOf(int slot) const;
    double shareOf(double value) const;  // a raw value's fraction of the range
    double rawOf(double fraction) const; // a fraction's raw value, as a slot holds it
    void setFraction(double fraction, int slot);
    int addressed(bool main) const { return main ? 0 : slotinuse; }

    CoreAnsx name;            // control name, e.g. "Mix 1"
    CoreAnsx label;           // display label
    CoreAnsx unit;            // display unit ("dB" for the gains)
    double minimum;           // value at fraction 0
    double maximum;           // value at fraction 1
    double wheelfactor;       // fraction per squared wheel click, 1/128 at first
    double pavalue;           // engine value under the pa lock; -2.0 at first
    unsigned short slotinuse; // 0 main, 1 alternate
    short coarse;             // coarse steps; -1 at first
    bool expired;             // the steady period is over
    bool led;                 // has a change indicator
    double raw[2];            // value of each slot, minimum..maximum
    double reference[2];      // value of each slot when last set by setiv
    short shown[2];           // indicator last returned per slot
    short indicator[2];       // 1 above, 2 below, 3 equal the reference
    bool valid[2];            // the slot holds a usable value
    CoreSrce* source;         // receives the main slot's raw value; not owned, may be null
    CoreBlnk* blinker;        // shared blink clock; not owned, may be null
    CoreSmph lock;            // guards every field but pavalue
    CoreSmph palock;          // guards pavalue
    double timer;             // end of the steady period, days since the epoch
    CLOCK clock;              // time source, days
};
