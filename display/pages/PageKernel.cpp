// The kernel page (page 5): how many harmonic kernels the loaded program
// runs, the time-domain, frequency-domain and fade-out lengths of its clean,
// even and odd kernel groups (shown in ms, kept in us), the extended-length
// switches of the groups, and the program's economy, split-harmonics and
// mono switches with a save button.
#include <algorithm>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

constexpr int groups = 3;     // clean, even, odd
constexpr short groupRow = 5; // row of the clean group
} // namespace

void CoreDsif::entrykern() {
    pages.flags[0] = pages.flags[1] = false;
    pages.fields[0] = -1;
    label(CoreAnsx(""), DataLclz::sCkernhdimlabel + CoreAnsx(":"), 0, 1);
    label(CoreAnsx(""), DataLclz::sCkerncleanlabel + CoreAnsx(":"), 0, 5);
    label(CoreAnsx(""), DataLclz::sCkernevenlabel + CoreAnsx(":"), 0, 6);
    label(CoreAnsx(""), DataLclz::sCkernoddslabel + CoreAnsx(":"), 0, 7);
    buffer->write(DataLclz::sCkerndirlabel, 13, 4, 0, false, false);
    buffer->write(DataLclz::sCkernfftlabel, 31, 4, 0, false, false);
    buffer->write(DataLclz::sCkernfadeoutlabel, 42, 4, 0, false, false);

    BEANSTRUCT none{};
    gadget->reset(10, true, true, 1);
    // A stored limit above the harmonic maximum runs as that maximum, as the
    // master page shows it.
    int const most = std::max(0, std::min(int(hdimmax), DataLclz::iCmasthdim));
    int count = std::clamp(int(engine->getbh(CoreBnid::iCkernellimit, &none)), 0, most) + 1;
    // A program limit above the list shows as its last entry; nothing is
    // written unless the user chooses one.
    int entry = std::clamp(int(engine->getbh(CoreBnid::iChdim, &none)), 0, count - 1);
    CoreDstx* kernels = gadget->gettx(0);
    kernels->defne(0, 13, 1, 8, CoreAnsx(""), false, -1);
    kernels->setel(count, DataLclz::sCkernhdim, entry);

    for (short g = 0; g < groups; ++g) {
        short row = short(groupRow + g);
        for (short domain = 0; domain < 2; ++domain) {
            BEANSTRUCT slot{g, domain};
            CoreDstx* length = gadget->gettx(short(1 + 3 * domain + g));
            length->defne(0, domain == 0 ? 13 : 31, row, domain == 0 ? 5 : 6, DataLclz::sCunitms,
                          false, 1);
            length->setrg(0.0, engine->getbd(CoreBnid::iClengthlimit, &slot) * 0.001,
                          engine->getbd(CoreBnid::iClength, &slot) * 0.001);
            length->setun();
        }
        BEANSTRUCT slot{g, 0};
        CoreDstx* fade = gadget->gettx(short(7 + g));
        fade->defne(0, 42, row, 6, DataLclz::sCunitms, false, 1);
        fade->setrg(0.0, engine->getbd(CoreBnid::iCfadelimit, &slot) * 0.001,
                    engine->getbd(CoreBnid::iCfade, &slot) * 0.001);
        fade->setun();
    }
}

void CoreDsif::tickkern() {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  KernelMode"), dimx, ' '), 0, 0, 1, false, false);
    CoreAnsx rate =
        CoreAnsx(double(engine->getbl(CoreBnid::iCrate, &none)) * 0.001).SubString(1, 5);
    buffer->write(CoreAnsx("RTE: ") + rate + DataLclz::sCunitms, 16, 0, 1, false, false);
    BEANSTRUCT meter{0, 0};
    CoreAnsx load = CoreButl::lpad_(CoreAnsx(engine->getbi(CoreBnid::iCload, &meter)), 3, ' ');
    buffer->write(CoreAnsx("PRF:") + load + DataLclz::sCunitpc, 48, 0, 1, false, false);

    gadget->focus(clickcolumn, clickrow, mouseheld);
    gadget->draw_();
    if (gadget->gettx(0)->ischg())
        engine->setbh(CoreBnid::iChdim, short(gadget->gettx(0)->getel()), &none);

    // Clean group: the switch between normal and extended length.
    if (engine->getbb(CoreBnid::iCforcehybrid, &none)) {
        buffer->write(CoreAnsx("(1)"), 8, groupRow, 0, false, false);
        buffer->write(CoreAnsx("(1)"), 26, groupRow, 0, false, false);
    } else {
        CoreAnsx marker(engine->getbh(CoreBnid::iCsmoothsetting, &none) >= 0 ? "(2)" : "(1)");
        BEANSTRUCT clean{0, 0};
        bool normal = engine->getbb(CoreBnid::iCblockfamily, &clean);
        if (drbtn(23, groupRow, CoreAnsx(normal ? ">" : "<"), clickcolumn, clickrow)) {
            engine->setbb(CoreBnid::iCextended, normal, &clean);
            engine->setbh(CoreBnid::iCenginetime, -1, &none);
        }
        buffer->write(normal ? marker : CoreAnsx("   "), 8, groupRow, 0, false, false);
        buffer->write(normal ? CoreAnsx("   ") : marker, 26, groupRow, 0, false, false);
    }

    // Even and odd groups, each over its slots in use.
    int n = engine->getbh(CoreBnid::iCslotsused, &none);
    for (int k = 1; k < groups; ++k) {
        short row = short(groupRow + k);
        if (n <= k) {
            buffer->write(CoreAnsx("   "), 8, row, 0, false, false);
            buffer->write(CoreAnsx("   "), 26, row, 0, false, false);
            buffer->write(CoreAnsx(" "), 23, row, 0, false, false);
            continue;
        }
        int m = k == 1 ? n / 2 : (n + 1) / 2 - 1;
        CoreAnsx marker = CoreAnsx("(") + CoreAnsx(m) + CoreAnsx(")");
        BEANSTRUCT first{k, 0};
        bool normal = engine->getbb(CoreBnid::iCblockfamily, &first);
        if (drbtn(23, row, CoreAnsx(normal ? ">" : "<"), clickcolumn, clickrow)) {
            for (int j = k; j < n; j += 2) {
                BEANSTRUCT slot{j, 0};
                engine->setbb(CoreBnid::iCextended, normal, &slot);
            }
            engine->setbh(CoreBnid::iCenginetime, -1, &none);
        }
        buffer->write(normal ? marker : CoreAnsx("   "), 8, row, 0, false, false);
        buffer->write(normal ? CoreAnsx("   ") : marker, 26, row, 0, false, false);
    }

    // Group edits go to every slot of the group.
    for (int g = 0; g < groups; ++g) {
        int end = g == 0 ? 1 : n;
        CoreDstx* fields[3] = {gadget->gettx(short(1 + g)), gadget->gettx(short(4 + g)),
                               gadget->gettx(short(7 + g))};
        for (int f = 0; f < 3; ++f) {
            if (!fields[f]->ischg()) continue;
            double micros = fields[f]->getvl() * 1000.0;
            for (int j = g; j < end; j += 2) {
                BEANSTRUCT slot{j, f == 1 ? 1 : 0};
                if (f == 2)
                    engine->setbd(CoreBnid::iCfade, micros, &slot);
                else
                    engine->setbd(CoreBnid::iClength, micros, &slot);
            }
        }
    }

    bool economy = engine->getbb(CoreBnid::iCforceot2, &none);
    if (drtbt(50, 1, CoreAnsx("ECONO "), CoreAnsx("NORMAL"), economy, clickcolumn, clickrow)) {
        engine->setbb(CoreBnid::iCforceot2, !economy, &none);
        engine->setbh(CoreBnid::iCenginetime, -1, &none);
    }
    CoreAnsx slot(selectedslot());
    bool hybrid = engine->getbb(CoreBnid::iCforcehybrid, &none);
    // Any text but the empty one switches forcing on.
    if (drtbt(50, 2, CoreAnsx("SPLITH"), CoreAnsx("CLASSC"), hybrid, clickcolumn, clickrow))
        postbt({{"HYBRID", DataLclz::sCkerhybridprint},
                {"LOADED", DataLclz::sCgenloadedprint},
                {"LOADING", DataLclz::sCgenloadingprint},
                {"NEWPROGRAM", slot},
                {"BVFORCEHYBRID", CoreAnsx(hybrid ? "" : "1")},
                {"ACTION", CoreAnsx("KERN")},
                {"NEXTSTEP", CoreAnsx("CHANGEHYBRID")}});
    if (engine->getbb(CoreBnid::iCblockmode, &none))
        buffer->write(CoreAnsx("T"), 45, 0, 1, true, false);

    short row = short(dimy - 2);
    buffer->write(CoreAnsx(std::string(size_t(dimx), ' ').c_str()), 0, row, 0, false, false);
    CoreAnsx line = CoreAnsx("  ") + slot + CoreAnsx(" ") +
                    engine->getbs(CoreBnid::iCname, &none).UpperCase() + CoreAnsx("  ");
    buffer->write(line, 0, row, 1, false, false);
    CoreAnsx rest = CoreAnsx("  ") + engine->getbs(CoreBnid::iCdescription, &none).SubString(1, 32);
    buffer->write(CoreButl::rpad_(rest, std::max(0, dimx - line.Length()), ' '),
                  short(line.Length()), row, 1, false, false);

    bool mono = engine->getbb(CoreBnid::iCforcemono, &none);
    if (drtbt(40, 1, CoreAnsx("MONO-L"), CoreAnsx("STEREO"), mono, clickcolumn, clickrow))
        postbt({{"MONO", DataLclz::sCkermonoprint},
                {"LOADED", DataLclz::sCgenloadedprint},
                {"LOADING", DataLclz::sCgenloadingprint},
                {"NEWPROGRAM", slot},
                {"BVFORCEMONO", CoreAnsx(mono ? "" : "1")},
                {"ACTION", CoreAnsx("KERN")},
                {"NEXTSTEP", CoreAnsx("CHANGEMONO")}});
    if (drbtn(40, 2, CoreAnsx(" SAVE   "), clickcolumn, clickrow))
        postbt({{"SAVING", DataLclz::sCgensavingprint},
                {"ACTION", CoreAnsx("KERN")},
                {"NEXTSTEP", CoreAnsx("SAVEPROGRAM")}});
}
