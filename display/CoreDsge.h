#pragma once
// CoreDsge: the display's one set of edit fields. A page resets it to the
// fields it needs and defines them; each tick it hands the group the tick's
// click and lets it draw. The group arms the clicked field and disarms the
// others, feeds the typed key codes from the mailbox to the armed fields,
// and tells the editor when to capture the keyboard (plug-in property
// 100105, set and then announced).
// Owner: the display (CoreDsif), one, built in its constructor and deleted in
// its destructor; it owns its fields.
// Threads: control thread, inside a display tick.

#include "runtime/CoreTlst.h"

class CoreDsbf;
class CoreDsed;
class CoreDspc;
class CorePlif;

class CoreDsge {
public:
    // Buffer, mailbox and plug-in object are not owned; a null plug-in
    // object posts nothing, a null mailbox gives no keys.
    CoreDsge(CoreDsbf* buffer, CoreDspc* mailbox, CorePlif* plugin);
    ~CoreDsge(); // deletes every field
    CoreDsge(CoreDsge const&) = delete;
    CoreDsge& operator=(CoreDsge const&) = delete;
    CoreDsge(CoreDsge&&) = delete;
    CoreDsge& operator=(CoreDsge&&) = delete;

    // Deletes every field and creates count new ones (a negative count is
    // 0), without disarming or switching capture off. Throws CoreAnsx when
    // memory runs out (the group then holds the fields made so far).
    void reset(short count);
    void clear(); // deletes every field; the count stays
    // The field at that index; null (and logged) outside the fields.
    CoreDsed* gettx(short index);
    // Routes the tick's click: (0, 0) or a release is no click; a pressed
    // click arms the hit field, disarms the others and switches capture.
    void focus(short column, short row, bool pressed);
    // Takes the key codes while active, feeds them to every armed field and
    // draws every field; switches capture off once no field is armed.
    void draw_();
    // The page goes away: drops the edit in progress and switches capture
    // off, when active.
    void dropEdits();
    bool isactive() const { return active; } // a field was armed by a click
    long keyct() const { return taken; }     // key codes taken since construction

private:
    void post(bool capture); // sets and announces property 100105

    short count;      // fields of the last reset
    bool active;      // armed by a click, not yet found all disarmed
    long taken = 0;   // key codes taken so far
    CoreDsbf* buffer; // not owned
    CoreTlst fields;  // CoreDsed*, owned
    CoreDspc* mailbox;
    bool capture;     // last value posted as 100105
    CorePlif* plugin; // not owned
};
