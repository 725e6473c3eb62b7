#pragma once
// CoreDstx: one value field of the value gadget: a number in a range (with
// decimals and a unit) or one text of a list of choices, or both (a dual
// field: a list and a range, the part moved last being active). A field may
// be bound to an interface control, whose raw value (-1 to 1) carries its
// position (0 to 1) as 2p - 1; while armed it follows mouse drags instead.
// A drag on a dual field moves the list when it starts up or down and the
// number when it starts sideways, as the two controls would.
// Only what a control or a drag changes is reported by ischg: a value the
// page puts in is taken as reported at once, and an untouched field keeps
// its exact value (also one outside its range), because its position counts
// as moved only when its control answers another raw value than the one
// the field last wrote to or read from it.
// Owner: the value gadget (CoreDsgt), which creates and deletes it.
// Threads: control thread, inside a display tick.

#include "display/CoreBean.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CoreTlst.h"

class CoreDsbf;
class CorePlif;

class CoreDstx {
public:
    // Pointers not owned; a null plug-in object gives no mouse drags.
    CoreDstx(CoreDsbf* buffer, CoreBean* engine, CorePlif* plugin);
    ~CoreDstx(); // deletes the element texts
    CoreDstx(CoreDstx const&) = delete;
    CoreDstx& operator=(CoreDstx const&) = delete;
    CoreDstx(CoreDstx&&) = delete;
    CoreDstx& operator=(CoreDstx&&) = delete;

    // Place, own font, unit, whole (automatic decimals round up to a whole
    // number) and decimals (-1 automatic); not ranged, not dual, positions 0.
    void defne(short font, short column, short row, short width, CoreAnsx const& unit, bool whole,
               short decimals);
    // A number in a range; the position follows the value (the second
    // position in a dual field) and goes to a bound control.
    void setrg(double minimum, double maximum, double value);
    void setrg(double value); // the same with the stored range
    // Appends a choice (number unused); the first one puts value and
    // position at 0.
    void addel(CoreAnsx const& text, double number);
    // Appends count choices and selects index (the middle of its share).
    void setel(int count, CoreAnsx const* texts, int index);
    void setel(int index); // selects a choice; 0 when ranged or without choices
    // A dual field: choices and a range, the list part active or not.
    void setel(int count, CoreAnsx const* texts, double minimum, double maximum, bool listactive,
               int index, double value);
    int getel();               // index of the selected choice, 0..count - 1
    CoreAnsx getel(int index); // that choice's text ("" outside the list)
    // Binds the position to a control (negative unbinds); with post the
    // position is written to it, else the field takes the control's value at
    // its next updte.
    void setmx(short control, bool post);
    // Second control: a dual field writes its second position there; any
    // other field writes the alternate flag there (property 187).
    void setam(short secondcontrol, bool alternate);
    void setar(bool arm); // arming takes the mouse position as the drag anchor
    // Whether the cell hits the field: its row, from its column to column +
    // width, both included.
    bool ishre(short column, short row);
    void updte();           // follows the control or the drag (below)
    void draw_(short font); // -1: the field's own font
    double getvl();
    double getsh(); // the number as drawn, its digits cut to the width (ranged; else getvl)
    void setvl(double value); // also taken as reported
    bool ischg();             // true once per change made by a control or a drag
    void setun();             // takes the value as reported
    bool isrng();             // the range part is active

    // Position <-> raw control value, zero-exponent values taken as 0; a
    // position written is held to 0..1, and a raw value read to -1..1 with
    // NaN taken as -1.
    static double toraw(double position);
    static double toposition(double raw);

private:
    int elementcount() const { return elements != nullptr ? elements->count : 0; }
    void append(CoreAnsx const& text);    // one choice, making the list at the first
    void fromindex(int index);            // value and position of a choice, written if bound
    double rangeposition(double v) const; // (v - minimum) / (maximum - minimum), guarded
    void writeposition();                 // position to the bound control
    void writesecond();                   // second position to the second control
    void taken();                         // the value as reported
    CoreAnsx text();                      // the value's text before the width cuts it
    bool mouse(int& x, int& y);           // the plug-in's mouse position

    CoreAnsx unit; // drawn right after the value
    int anchorx;   // drag anchor, editor pixels
    int anchory;
    short column;
    short row;
    short width;
    short font;          // own font
    short decimals;      // -1 automatic
    short control;       // bound control, -1 none
    short secondcontrol; // control of the second position
    double minimum;
    double maximum;
    double value;          // number shown (ranged) or the list position
    double position;       // 0..1 (outside it only as a page put it)
    double secondposition; // 0..1, dual fields
    double reported;       // value last reported or put in
    bool armed;            // follows mouse drags
    bool ranged;           // the range part is active
    bool dual;             // has a list and a range
    bool bound;            // a control is bound
    bool secondmoved;      // dual: the second control moved last
    bool whole;            // automatic decimals round up, none shown
    bool pending;          // a control or a drag changed the value, not yet reported
    bool rawknown;         // lastraw holds the bound control's raw value
    bool secondknown;      // secondraw holds the second control's raw value
    double lastraw;        // raw value last written to or read from the control
    double secondraw;      // the same for the second control
    short dragpart;        // dual: what the drag since arming moves, 0 not yet, 1 list, 2 number
    CoreTlst* elements;    // CoreAnsx*, owned, made at the first choice
    CoreDsbf* buffer;      // not owned
    CoreBean* engine;      // not owned
    CorePlif* plugin;      // not owned
};
