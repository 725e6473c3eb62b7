// The disk page (page 4): a read-only status page: the latency the engine
// reports, the memory of the instance's and the shared allocator, the
// version and the bridge row, read on entry, and the current program's
// impulse memory in the header on every tick.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include <cmath>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

constexpr short valueColumn = 17;

// Whole kilobytes, as a number text ("%G": 2^20 Kb shows 1.04858E+06).
CoreAnsx kilobytes(int bytes) {
    return CoreAnsx(std::floor(double(bytes) / 1024.0)) + DataLclz::sCunitkb;
}
} // namespace

void CoreDsif::entrydisk() {
    BEANSTRUCT none{};
    struct ROW {
        short row;
        CoreAnsx const& label;
        CoreAnsx value;
    } const rows[] = {
        {6, DataLclz::sCdisklatencylabel, CoreAnsx(engine->getbl(CoreBnid::iClatency, &none))},
        {7, DataLclz::sCdiskallcmemlabel, kilobytes(engine->getbi(CoreBnid::iClocalmem, &none))},
        {8, DataLclz::sCdiskshrdmemlabel, kilobytes(engine->getbi(CoreBnid::iCsharedmem, &none))},
        {10, DataLclz::sCdiskversionlabel,
         CoreLog_::sCproductn + CoreAnsx(" ") + CoreLog_::sCversion_},
        {11, DataLclz::sCdiskbridge_label, engine->getbs(CoreBnid::iCbridge, &none)},
    };
    for (ROW const& r : rows) {
        buffer->write(r.label, 0, r.row, 0, false, false);
        buffer->write(r.value, valueColumn, r.row, 0, false, false);
    }
    // Two touch-mode fields never drawn: the mix controls stay with the
    // display while the page is shown.
    gadget->reset(2, true, true, 1);
}

void CoreDsif::tickdisk() {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  DiskMode"), dimx, ' '), 0, 0, 1, false, false);
    double megabytes = engine->getbd(CoreBnid::iCimpulsesize, &none) * std::ldexp(1.0, -20);
    if (!(megabytes >= 0.01)) megabytes = 0.0;
    buffer->write(CoreAnsx("MEM: ") + CoreButl::sbstr(CoreAnsx(megabytes), 1, 5) +
                      DataLclz::sCunitmb,
                  32, 0, 1, false, false);
}
