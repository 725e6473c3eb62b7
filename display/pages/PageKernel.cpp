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

constexpr int beanRate = 10;         // long: program rate, us
constexpr int beanForceEconomy = 23; // bool: the program's FORCEOT2 flag
constexpr int beanBlockLength = 25;  // bool: the engine works in DSP-buffer blocks
constexpr int beanForceHybrid = 27;  // bool: the program's FORCEHYBRID flag
constexpr int beanForceMono = 33;    // bool: the program's FORCEMONO flag
constexpr int beanEngine = 50;       // short written: -1 re-applies the engine choice
constexpr int beanKernelLimit = 54;  // short: master limit of harmonic kernels
constexpr int beanHdim = 55;         // short: the program's kernel limit, 0 = all
constexpr int beanName = 56;         // string
constexpr int beanDescription = 64;  // string
constexpr int beanSmoothing = 74;    // short: active smoothing setting, < 0 none
constexpr int beanSlotsUsed = 75;    // short: kernel slots in use
constexpr int beanFade = 150;        // double, element = slot: fade-out, us
constexpr int beanFadeLimit = 151;   // double, element = slot: largest fade-out, us
constexpr int beanLengthLimit = 160; // double, {slot, 0 time / 1 frequency domain}, us
constexpr int beanLength = 161;      // double, {slot, 0 / 1}: kernel length, us
constexpr int beanBlockFamily = 162; // bool, {slot, 0}: not of the block family
constexpr int beanExtended = 165;    // bool written, element = slot: extended length on
constexpr int beanLoad = 166;        // int, element = meter: load, %
constexpr int groups = 3;            // clean, even, odd
constexpr short groupRow = 5;        // row of the clean group
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
    int count = std::clamp(int(engine->getbh(beanKernelLimit, &none)), 0, DataLclz::iCmasthdim) + 1;
    // A program limit above the list shows as its last entry; nothing is
    // written unless the user chooses one.
    int entry = std::clamp(int(engine->getbh(beanHdim, &none)), 0, count - 1);
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
            length->setrg(0.0, engine->getbd(beanLengthLimit, &slot) * 0.001,
                          engine->getbd(beanLength, &slot) * 0.001);
            length->setun();
        }
        BEANSTRUCT slot{g, 0};
        CoreDstx* fade = gadget->gettx(short(7 + g));
        fade->defne(0, 42, row, 6, DataLclz::sCunitms, false, 1);
        fade->setrg(0.0, engine->getbd(beanFadeLimit, &slot) * 0.001,
                    engine->getbd(beanFade, &slot) * 0.001);
        fade->setun();
    }
}

void CoreDsif::tickkern() {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  KernelMode"), dimx, ' '), 0, 0, 1, false, false);
    CoreAnsx rate = CoreAnsx(double(engine->getbl(beanRate, &none)) * 0.001).SubString(1, 5);
    buffer->write(CoreAnsx("RTE: ") + rate + DataLclz::sCunitms, 16, 0, 1, false, false);
    BEANSTRUCT meter{0, 0};
    CoreAnsx load = CoreButl::lpad_(CoreAnsx(engine->getbi(beanLoad, &meter)), 3, ' ');
    buffer->write(CoreAnsx("PRF:") + load + DataLclz::sCunitpc, 48, 0, 1, false, false);

    gadget->focus(clickcolumn, clickrow, mouseheld);
    gadget->draw_();
    if (gadget->gettx(0)->ischg()) engine->setbh(beanHdim, short(gadget->gettx(0)->getel()), &none);

    // Clean group: the switch between normal and extended length.
    if (engine->getbb(beanForceHybrid, &none)) {
        buffer->write(CoreAnsx("(1)"), 8, groupRow, 0, false, false);
        buffer->write(CoreAnsx("(1)"), 26, groupRow, 0, false, false);
    } else {
        CoreAnsx marker(engine->getbh(beanSmoothing, &none) >= 0 ? "(2)" : "(1)");
        BEANSTRUCT clean{0, 0};
        bool normal = engine->getbb(beanBlockFamily, &clean);
        if (drbtn(23, groupRow, CoreAnsx(normal ? ">" : "<"), clickcolumn, clickrow)) {
            engine->setbb(beanExtended, normal, &clean);
            engine->setbh(beanEngine, -1, &none);
        }
        buffer->write(normal ? marker : CoreAnsx("   "), 8, groupRow, 0, false, false);
        buffer->write(normal ? CoreAnsx("   ") : marker, 26, groupRow, 0, false, false);
    }

    // Even and odd groups, each over its slots in use.
    int n = engine->getbh(beanSlotsUsed, &none);
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
        bool normal = engine->getbb(beanBlockFamily, &first);
        if (drbtn(23, row, CoreAnsx(normal ? ">" : "<"), clickcolumn, clickrow)) {
            for (int j = k; j < n; j += 2) {
                BEANSTRUCT slot{j, 0};
                engine->setbb(beanExtended, normal, &slot);
            }
            engine->setbh(beanEngine, -1, &none);
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
                    engine->setbd(beanFade, micros, &slot);
                else
                    engine->setbd(beanLength, micros, &slot);
            }
        }
    }

    bool economy = engine->getbb(beanForceEconomy, &none);
    if (drtbt(50, 1, CoreAnsx("ECONO "), CoreAnsx("NORMAL"), economy, clickcolumn, clickrow)) {
        engine->setbb(beanForceEconomy, !economy, &none);
        engine->setbh(beanEngine, -1, &none);
    }
    CoreAnsx slot(selectedslot());
    bool hybrid = engine->getbb(beanForceHybrid, &none);
    // Any text but the empty one switches forcing on.
    if (drtbt(50, 2, CoreAnsx("SPLITH"), CoreAnsx("CLASSC"), hybrid, clickcolumn, clickrow))
        postbt({{"HYBRID", DataLclz::sCkerhybridprint},
                {"LOADED", DataLclz::sCgenloadedprint},
                {"LOADING", DataLclz::sCgenloadingprint},
                {"NEWPROGRAM", slot},
                {"BVFORCEHYBRID", CoreAnsx(hybrid ? "" : "1")},
                {"ACTION", CoreAnsx("KERN")},
                {"NEXTSTEP", CoreAnsx("CHANGEHYBRID")}});
    if (engine->getbb(beanBlockLength, &none)) buffer->write(CoreAnsx("T"), 45, 0, 1, true, false);

    short row = short(dimy - 2);
    buffer->write(CoreAnsx(std::string(size_t(dimx), ' ').c_str()), 0, row, 0, false, false);
    CoreAnsx line = CoreAnsx("  ") + slot + CoreAnsx(" ") +
                    engine->getbs(beanName, &none).UpperCase() + CoreAnsx("  ");
    buffer->write(line, 0, row, 1, false, false);
    CoreAnsx rest = CoreAnsx("  ") + engine->getbs(beanDescription, &none).SubString(1, 32);
    buffer->write(CoreButl::rpad_(rest, std::max(0, dimx - line.Length()), ' '),
                  short(line.Length()), row, 1, false, false);

    bool mono = engine->getbb(beanForceMono, &none);
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
