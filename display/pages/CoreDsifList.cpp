// CoreDsif, page 1, the list page: program memory browsed by category, a
// category column over up to three levels and a grid of up to 33 program
// names that pages by its size; a click on a name loads that program.
#include <algorithm>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

constexpr int categorycolumn = 46; // scroll bar; names from 47 on
constexpr int cellwidth = 20;      // grid columns start every 20 cells
} // namespace

void CoreDsif::entrylist() { gadget->reset(0, false, false, -1); }

// Page 17, the simple list: page 1 on the top level only, two columns.
void CoreDsif::entrysimplelist() {
    gadget->reset(0, false, false, -1);
    browselevel = 0;
}

void CoreDsif::ticklist() { ticklistpage(false); }

void CoreDsif::ticksimplelist() { ticklistpage(true); }

void CoreDsif::ticklistpage(bool simple) {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  ListMode"), 36, ' '), 0, 0, 1, false, false);
    CoreAnsx rate(double(engine->getbl(CoreBnid::iCrate, &none)) * 0.001);
    buffer->write(CoreAnsx("RTE: ") + CoreButl::sbstr(rate, 1, 5) + DataLclz::sCunitms, 16, 0, 1,
                  false, false);
    upprm();

    bool forward = drbtn(44, 0, CoreAnsx(" >> "), clickcolumn, clickrow);
    bool back = drbtn(38, 0, CoreAnsx(" << "), clickcolumn, clickrow);
    int step = back ? -1 : forward ? 1 : 0;

    if (simple) {
        buffer->write(CoreAnsx("       "), 50, 0, 1, false, false);
    } else if (browselevel == 0) {
        if (drtbt(50, 0, CoreAnsx(" ALL "), CoreAnsx("CATEG"), allprograms, clickcolumn, clickrow))
            allprograms = !allprograms;
    } else if (drbtn(50, 0, CoreAnsx("  UP   "), clickcolumn, clickrow)) {
        selectedcategory = remembered[browselevel];
        --browselevel;
        categoryoffset = 0;
        BEANSTRUCT up{-1, 0};
        engine->getbi(CoreBnid::iCbrowselevel, &up);
    }

    buffer->clear(0, 0, 1, iCdimx, 12);
    int selected = bank * iCbankdim + program;
    BEANSTRUCT top = CoreBnid::recsl(0);
    CoreAnsx status = CoreAnsx("  ") + CoreAnsx(selected) + CoreAnsx(" ") +
                      engine->getbs(CoreBnid::iCcategory, &top).UpperCase() + CoreAnsx("/") +
                      engine->getbs(CoreBnid::iCname, &none).UpperCase() + CoreAnsx("  ");
    int statuslength = std::max(status.Length(), 0);
    buffer->write(status, 0, 12, 1, false, false);
    buffer->write(
        CoreButl::rpad_(CoreAnsx("  ") +
                            CoreButl::sbstr(engine->getbs(CoreBnid::iCdescription, &none), 1, 32),
                        std::max(iCdimx - statuslength, 0), ' '),
        short(statuslength), 12, 1, false, false);

    CoreAnsx filter("0");
    int columns = iCgridcolumns;
    if (simple || !allprograms) {
        columns = 2;
        filter = levelfilters[browselevel];
        ticklistcategories(filter, simple);
    }
    levelfilters[browselevel] = filter;
    BEANSTRUCT level{browselevel, 0};
    engine->setbs(CoreBnid::iCfilter, filter, &level);

    if (clickrow >= 1 && clickrow <= iCgridrows) {
        int column = clickcolumn < cellwidth ? 0 : clickcolumn < 2 * cellwidth ? 1 : 2;
        int slot = column < columns ? gridcells[column][clickrow - 1] : -1;
        if (slot >= 0) {
            bank = slot / iCbankdim;
            program = slot % iCbankdim;
            programtop = slot;
            loadvars(slot, CoreAnsx("LIST"));
            event = CoreAnsx("BTCH");
        }
    }

    if (step != 0) {
        for (int i = 0; i < columns * iCgridrows; ++i) {
            int slot = slotat(CoreBnid::iCfilteredslot, browsetop + step, step);
            // Forward past the last match the walk starts again from the
            // first one, rather than leaving the grid on the last match.
            if (slot < 0 && step > 0) browsetop = 0;
            if (slot < 0) break;
            browsetop = slot;
            if (slot == 0) break;
        }
    }
    int slot = slotat(CoreBnid::iCfilteredslot, browsetop, 1);
    if (slot >= 0) browsetop = slot;
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < iCgridrows; ++r) {
            short column = short(c * cellwidth), row = short(r + 1);
            gridcells[c][r] = slot;
            if (slot < 0) {
                buffer->write(CoreButl::rpad_(CoreAnsx(""), 16, ' '), column, row, 0, false, false);
                continue;
            }
            BEANSTRUCT at{slot, 0};
            buffer->write(CoreButl::rpad_(engine->getbs(CoreBnid::iCslotname, &at), 16, ' '),
                          column, row, slot == selected ? 1 : 0, false, false);
            int next = slotat(CoreBnid::iCfilteredslot, slot + 1, 1);
            slot = next > 0 ? next : -1;
        }
}

void CoreDsif::ticklistcategories(CoreAnsx& filter, bool toplevel) {
    short countid = short(toplevel ? CoreBnid::iCtopcategories : CoreBnid::iCcategories);
    buffer->write(CoreAnsx(char(8)), categorycolumn, 1, 0, false, false);
    for (short r = 2; r <= 10; ++r)
        buffer->write(CoreAnsx(char(7)), categorycolumn, r, 0, false, false);
    buffer->write(CoreAnsx(char(9)), categorycolumn, 11, 0, false, false);

    rsvas(categories, categorycount, countid, CoreBnid::iCslotcategory);
    // A list that shrank under the selection or the offset starts over.
    if (categorycount > 0 && selectedcategory >= categorycount) {
        selectedcategory = 0;
        categoryoffset = 0;
        browsetop = 0;
    }
    if (categoryoffset >= categorycount) categoryoffset = 0;
    auto visible = [this] { return std::clamp(categorycount - categoryoffset, 0, iCgridrows); };

    if (clickcolumn == categorycolumn) {
        if (clickrow == 1 && categoryoffset > 0) --categoryoffset;
        if (clickrow == iCgridrows && categorycount - categoryoffset > visible()) ++categoryoffset;
    }
    if (clickcolumn > categorycolumn && clickrow >= 1 && clickrow <= visible()) {
        int picked = clickrow + categoryoffset - 1;
        if (picked != selectedcategory || toplevel) {
            selectedcategory = picked;
            browsetop = 0;
        } else {
            BEANSTRUCT down{1, 0};
            int count = engine->getbi(CoreBnid::iCbrowselevel, &down);
            if (count > 0 && browselevel < 2) {
                remembered[browselevel + 1] = selectedcategory;
                categoryoffset = 0;
                selectedcategory = 0;
                ++browselevel;
                // The list drawn below is the new level's, not the one above.
                rsvas(categories, categorycount, CoreBnid::iCcategories, CoreBnid::iCslotcategory);
            }
        }
    }

    for (int i = 0; i < visible(); ++i) {
        int index = categoryoffset + i;
        CoreAnsx text =
            CoreAnsx(" ") + CoreButl::rpad_(CoreAnsx(index), 4, ' ') + categories[size_t(index)];
        buffer->write(CoreButl::rpad_(text, 9, ' '), 48, short(i + 1),
                      index == selectedcategory ? 1 : 0, false, false);
    }
    if (selectedcategory >= 0 && selectedcategory < categorycount)
        filter = categories[size_t(selectedcategory)];
}
