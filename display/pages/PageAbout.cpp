// The about page (page 15): the product name and version and the credit
// lines; EXIT leads back to the master page.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

void CoreDsif::entryabou() { gadget->reset(0, false, false, -1); }

void CoreDsif::tickabou() {
    CoreAnsx title =
        CoreAnsx("  AboutPage      ") + CoreLog_::sCproductn + CoreAnsx(" ") + CoreLog_::sCversion_;
    buffer->write(CoreButl::rpad_(title, 48, ' '), 0, 0, 1, false, false);
    if (drbtn(50, 0, CoreAnsx("  EXIT  "), clickcolumn, clickrow)) event = CoreAnsx("MAST");
    for (short i = 0; i < DataLclz::iCaboulines; ++i)
        buffer->write(DataLclz::sCaboulines[i], 0, short(i + 1), 0, false, false);
}
