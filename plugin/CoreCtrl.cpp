#include "plugin/CoreCtrl.h"

#include <mutex>

#include "display/CoreDsif.h"
#include "display/CoreStte.h"
#include "editor/x11/CoreEdhs.h"
#include "editor/x11/CoreEdit.h"
#include "plugin/CorePpwr.h"
#include "runtime/CoreLog_.h"

namespace {
bool isBatch(short page) {
    return page == CoreStte::iCpagebatch || page == CoreStte::iCpagesimplebatch;
}

// The editor hears of the display's capture and arm records through this.
void toEditor(void* editor, int id, int index, int value) {
    static_cast<CoreEdit*>(editor)->prchg(id, index, value);
}
} // namespace

CoreCtrl::CoreCtrl(CorePpwr* bridge_, CoreDsif* display_, CoreEdhs* plugin, CoreSkin* skin)
    : CoreTthr(true), bridge(bridge_), display(display_),
      fontcolour(display_ != nullptr ? display_->getfc() : short(0)) {
    try {
        editor = new CoreEdit(plugin, display, skin, fontcolour);
    } catch (...) {
        throw CoreAnsx("Memory request failed for the editor");
    }
    bridge->lstnr(&toEditor, editor, true);
    Resume();
}

CoreCtrl::~CoreCtrl() {
    // The display posts nothing more to an editor that is going.
    bridge->lstnr(&toEditor, editor, false);
    delete editor;
}

void CoreCtrl::Terminate() {
    CoreTthr::Terminate();
    wake.SetEvent();
}

void CoreCtrl::setdl(int index) {
    if (display != nullptr) display->loadp(index);
}

void CoreCtrl::setdp() {
    home.store(true);
    wake.SetEvent();
}

void CoreCtrl::attch(bool on) {
    if (on) {
        attached.fetch_add(1);
        return;
    }
    int now = attached.load();
    while (now > 0 && !attached.compare_exchange_weak(now, now - 1)) {
    }
}

int CoreCtrl::cycle(int& passes) {
    int period = 0;
    {
        std::lock_guard<std::mutex> whole(bridge->cycle());
        period = bridge->pass();
        if (!terminated.load() && !bridge->isheld() && display != nullptr) tick_(passes);
    }
    // Only now, the lock free, does the host hear what the cycle noted: it
    // may call straight back in (a rate, a chunk, a bus call take the lock)
    // or close the instance, which leaves this thread nothing more to do.
    bridge->tellh();
    return period;
}

void CoreCtrl::tick_(int& passes) {
    if (int const slot = bridge->takep(); slot >= 0) setdl(slot);
    if (home.exchange(false)) display->setdp();
    if (++passes % iCcyclerefreshdisplay != 0) return;
    short const before = display->getpg();
    // Until the display leaves its boot page it runs the boot steps, which
    // it does only when it believes an editor watches.
    display->updte(before == CoreStte::iCpageboot || attached.load() > 0);
    short const after = display->getpg();
    if (isBatch(after)) bridge->lodrn();
    if (isBatch(before) && !isBatch(after)) bridge->lodnd();
    if (after == CoreStte::iCpagebooterror) bridge->bootf();
}

void CoreCtrl::Execute() {
    int passes = 0;
    while (!terminated.load()) {
        int period = 40;
        try {
            period = cycle(passes);
        } catch (...) {
            // Nothing leaves a thread entry; the next pass tries again.
        }
        if (terminated.load()) break;
        wake.WaitFor(period);
    }
}
