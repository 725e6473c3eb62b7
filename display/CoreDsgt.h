#pragma once
// CoreDsgt: the display's one set of value fields (CoreDstx). In touch mode
// the gadget takes interface controls 0 to 7 into their alternate slots, so
// that they drive the page instead of their sources: control 0 selects a
// field, control 1 moves the selected field's position and control 2 its
// second position; a pressed click selects and arms a field, which then
// follows mouse drags until the button is released. Pages define the fields
// on entry, then each tick call focus and draw_ and poll the fields.
// Owner: the display (CoreDsif), one, built in its constructor and deleted in
// its destructor; it owns its fields.
// Threads: control thread, inside a display tick.

#include "display/CoreBean.h"
#include "runtime/CoreTlst.h"

class CoreDsbf;
class CoreDstx;
class CorePlif;

class CoreDsgt {
public:
    static constexpr short iCcontrols = 8; // controls 0..7 change slots with the gadget

    // Pointers not owned; a null engine is not allowed (the display hands
    // its bus, never null).
    CoreDsgt(CoreDsbf* buffer, CoreBean* engine, CorePlif* plugin);
    ~CoreDsgt(); // deletes every field
    CoreDsgt(CoreDsgt const&) = delete;
    CoreDsgt& operator=(CoreDsgt const&) = delete;
    CoreDsgt(CoreDsgt&&) = delete;
    CoreDsgt& operator=(CoreDsgt&&) = delete;

    // New fields (count, a negative count is 0); controls 0..7 to their
    // alternate slots (alternate) or back to their main slots; touch mode
    // and the font of the selected field. Touch mode puts control 0 at its
    // bottom and arms field 0. Throws CoreAnsx when memory runs out.
    void reset(short count, bool alternate, bool touch, short highlight);
    CoreDstx* gettx(short index); // null (and logged) outside the fields
    bool gettm();                 // touch mode
    // Touch mode: every field the click hits is selected through control 0
    // (the last one wins) and, when pressed, armed. (0, 0) is no click.
    void focus(short column, short row, bool pressed);
    void focus(short index); // touch mode: selects that field through control 0
    // Binds the field at index to that control without writing to it.
    void setmx(short index, short control);
    void unarm(); // touch mode: disarms every field
    // Follows control 0 to the selected field (rebinding controls 1 and 2),
    // then updates and draws every field.
    void draw_();
    void clear(); // deletes every field; the count stays

    // Field index of a control 0 raw value (clamped to the fields, NaN as
    // -1; -1 when there are no fields) and the raw value of a field index.
    static short indexOf(double raw, short count);
    static double controlOf(short index, short count);

private:
    CoreDstx* field(int index) { return static_cast<CoreDstx*>(fields[unsigned(index)]); }
    void select(short index); // index's position to control 0

    short count;                // fields of the last reset
    short selected;             // -1 none
    short highlight;            // font of the selected field in touch mode
    bool alternate;             // last value written to 187 for controls 0..7
    bool touch;                 // touch mode
    CoreDsbf* buffer;           // not owned
    CoreTlst fields;            // CoreDstx*, owned
    CoreBean* engine;           // not owned
    CoreBean::BEANSTRUCT index; // reused for every bus call
    CorePlif* plugin;           // not owned, handed to every field
};
