#pragma once
// CoreCtrl: the control thread of one plug-in instance. Each pass runs the
// property bridge's pass (GUI-rate update, parameter modulators, meters,
// automation, MIDI), hands a program change the host queued to the display,
// and on every third pass runs one tick of the display, as attached while
// an editor is open or while the display is still on its boot page (the
// boot steps run there, so an instance without an editor boots too), all
// under the bridge's cycle lock. Then, that lock released, it tells the host
// what they noted (automation, the boot's or a load's end), so the host may
// call straight back in, and sleeps for the engine's GUI rate; Terminate
// wakes it at once.
// It creates the instance's editor (in the display's font colour) at start
// and deletes it after the thread ended; the editor itself is driven by the
// host's user-interface thread through the plug-in object.
// Owner: the plug-in object starts it at open and joins and deletes it at
// close (Terminate, WaitFor, delete); a boot or a tick in progress is never
// cancelled. A close made from inside one of this thread's own callbacks
// (orphn) ends it instead: the plug-in object's teardown, this object's
// deletion among it, is then the thread's last act.
// Threads: its own (Execute); setdl, setdp, attch and geted from the host's
// threads; the constructor and destructor on the owner's thread.

#include <atomic>

#include "runtime/CoreTevn.h"
#include "runtime/CoreTthr.h"

class CoreDsif;
class CoreEdhs;
class CoreEdit;
class CorePpwr;
class CoreSkin;

class CoreCtrl final : public CoreTthr {
public:
    static constexpr int iCcyclerefreshdisplay = 3; // passes per display tick

    // Creates the editor and starts the thread. Throws CoreAnsx (nothing
    // left running) when memory runs out.
    CoreCtrl(CorePpwr* bridge, CoreDsif* display, CoreEdhs* plugin, CoreSkin* skin);
    ~CoreCtrl(); // the thread must have ended; deletes the editor
    CoreCtrl(CoreCtrl const&) = delete;
    CoreCtrl& operator=(CoreCtrl const&) = delete;
    CoreCtrl(CoreCtrl&&) = delete;
    CoreCtrl& operator=(CoreCtrl&&) = delete;

    void Terminate() override; // ends the loop after the pass in hand
    void Execute() override;

    // Loads the program at index (bank x 100 + program) through the display,
    // which posts it as a batch (or keeps it during the boot or a batch).
    void setdl(int index);
    // The display shows its home page again at the next pass (after a host
    // chunk was restored).
    void setdp();
    void attch(bool attached);                    // one editor client more (true) or less
    int getat() const { return attached.load(); } // editor clients attached
    CoreEdit* geted() const { return editor; }    // the instance's editor, never null
    short getfc() const { return fontcolour; }    // the display's font colour

private:
    // One pass and, every third one, a display tick under the cycle lock,
    // then the host callbacks they noted; the period until the next pass, ms.
    int cycle(int& passes);
    // The cycle's part after the pass: a queued program change handed to
    // the display, and every third pass its tick. Cycle lock held.
    void tick_(int& passes);

    CorePpwr* bridge;              // borrowed
    CoreDsif* display;             // borrowed
    CoreEdit* editor = nullptr;    // owned
    short fontcolour;              // the display's font colour, read once
    std::atomic<int> attached{0};  // editor clients
    std::atomic<bool> home{false}; // setdp was asked for
    CoreTevn wake;                 // cuts the sleep short
};
