// CorePrcs boot housekeeping: what interrupted saves left behind goes, and
// the one folder the engine ever empties is emptied only where it cannot
// name the user's files. Control, display or host thread, within the boot.
#include "processing/CorePrcs.h"

#include "runtime/CoreButl.h"
#include "runtime/CoreHutl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreLutl.h"

namespace {
constexpr int kStaleSeconds = 600; // a save's temporary older than this was abandoned
} // namespace

void CorePrcs::bootTidy() {
    // Beside every file a save replaces: the master settings, and the
    // programs and setups of the data path and of each alternative path.
    CoreButl::sweep(CoreButl::getpt(masterpath), kStaleSeconds);
    for (int i = -1; i < altcount; ++i) {
        CoreAnsx const& root = i < 0 ? datapath : altpaths[i];
        CoreButl::sweep(root + programsub, kStaleSeconds);
        CoreButl::sweep(root + setupsub, kStaleSeconds);
    }
    if (!installermerged || !cachepresent) return;
    CoreAnsx const folder = datapath + cachesub;
    if (!CoreHutl::below(datapath, cachesub)) {
        CoreLog_::loger(CoreAnsx("Cache folder not emptied: ") + folder +
                            CoreAnsx(" does not lie below the data folder ") + datapath,
                        0);
        return;
    }
    try {
        CoreLutl::clept(folder);
    } catch (...) {
        // A file that stays is read as a stale record; the boot goes on.
    }
}
