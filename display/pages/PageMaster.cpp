// The master settings page (page 2): the version, twenty master settings of
// the engine, the effective program rate and the sample rate. Only what the
// user changes is written, in the tick of the change; SAVE asks the engine
// to write the master settings file. Choosing the simple mode leaves for
// the simple master page, as does entering while that mode is in force.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreHutl.h"
#include "runtime/CoreLog_.h"
#include "skin/CoreSkin.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

constexpr short fields = 20;
constexpr double minimumLength = 0.006; // s: field 7's floor

// Field 17's row of a DSP buffer: the power of two at or below it, from 128;
// row 0 for a value the list does not reach.
int bufferRow(long v) {
    if (v <= 0) return 0;
    int row = int(std::bit_width(std::uint64_t(v))) - 1 - 7;
    return row >= 0 && row < DataLclz::iCmastdspbuffers ? row : 0;
}

int held(int row, int count) { return row >= 0 && row < count ? row : 0; }
} // namespace

void CoreDsif::entrymast() {
    BEANSTRUCT none{};
    buffer->write(DataLclz::sCmastversionlabel + CoreAnsx(":"), 0, 1, 0, false, false);
    buffer->write(engine->getbs(CoreBnid::iCversion, &none) + CoreAnsx(" ") + CoreLog_::sCsubvrsn_,
                  13, 1, 0, false, false);
    gadget->reset(fields, true, true, 1);

    // Skin list: the skin files and folders beside the current skin.
    CoreAnsx skinpath = engine->getbs(CoreBnid::iCskin, &none);
    skinlist.clear();
    CoreAnsx folder = CoreButl::getpt(skinpath);
    if (folder.Length() > 0) {
        CoreAnsx* list = nullptr;
        int count = 0;
        CoreHutl::readr(folder, CoreAnsx("*") + CoreButl::sCextv2s, &list, count, CoreAnsx("*"));
        for (int i = 0; i < count; ++i) skinlist.push_back(list[i]);
        delete[] list;
    }
    std::vector<CoreAnsx> fonts;
    if (skin != nullptr) fonts = skin->getsk()->fontnames;

    int hdim = std::max(1, std::min(int(hdimmax), DataLclz::iCmasthdim));
    double longest = std::max(minimumLength, engine->getbd(CoreBnid::iClongest, &none) / 1e6);
    BEANSTRUCT timed = CoreBnid::recsl(0), freqd = CoreBnid::recsl(1);
    auto flag = [&](int bean) { return engine->getbb(bean, &none) ? 1 : 0; };
    auto shortrow = [&](int bean, int offset) { return int(engine->getbh(bean, &none)) - offset; };
    struct FIELD {
        CoreAnsx const& label;
        short row, left; // left: the left column
        short width;
        int count; // choices; 0 for a number
        CoreAnsx const* texts;
        int selected;
        CoreAnsx unit;
        short decimals;
        double minimum, maximum, value;
    };
    CoreAnsx const noUnit("");
    FIELD const table[fields] = {
        {DataLclz::sCmastmodelabel, 3, 1, 16, DataLclz::iCmastmode, DataLclz::sCmastmode,
         flag(CoreBnid::iCmode), noUnit, -1, 0, 0, 0},
        {DataLclz::sCmastmetertypelabel, 3, 0, 15, DataLclz::iCmastmetertype,
         DataLclz::sCmastmetertype, shortrow(CoreBnid::iCmeter, 0), noUnit, -1, 0, 0, 0},
        {DataLclz::sCmastfontcolourlabel, 4, 1, 16, int(fonts.size()), fonts.data(),
         shortrow(CoreBnid::iCfontcolour, 0), noUnit, -1, 0, 0, 0},
        {DataLclz::sCmastaudioqualitylabel, 4, 0, 9, DataLclz::iCmastaudioquality,
         DataLclz::sCmastaudioquality, shortrow(CoreBnid::iCquality, 1), DataLclz::sCunittimes, -1,
         0, 0, 0},
        {DataLclz::sCmastoptimizationlabel, 5, 1, 16, DataLclz::iCmastoptimization,
         DataLclz::sCmastoptimization, shortrow(CoreBnid::iCenginetime, 1), noUnit, -1, 0, 0, 0},
        {DataLclz::sCmastforcelengthlabel, 5, 0, 12, 0, nullptr, 0, DataLclz::sCunitms, 1, 6, 30,
         double(engine->getbl(CoreBnid::iCforcedlength, &timed)) / 1000},
        {DataLclz::sCmastoptimizationfftlabel, 6, 1, 16, DataLclz::iCmastoptimization,
         DataLclz::sCmastoptimization, shortrow(CoreBnid::iCenginefreq, 1), noUnit, -1, 0, 0, 0},
        {DataLclz::sCmastforcelengthfftlabel, 6, 0, 13, 0, nullptr, 0, DataLclz::sCunitsc, 3,
         minimumLength, longest, double(engine->getbl(CoreBnid::iCforcedlength, &freqd)) / 1e6},
        {DataLclz::sCmastprogramratelabel, 7, 1, 13, 0, nullptr, 0, DataLclz::sCunitms, 1, 1, 40,
         double(engine->getbl(CoreBnid::iCprogramrate, &none)) / 1000},
        {DataLclz::sCmastguiratelabel, 7, 0, 12, 0, nullptr, 0, DataLclz::sCunitms, 1, 5, 150,
         double(engine->getbl(CoreBnid::iCguirate, &none)) / 1000},
        {DataLclz::sCmastforceoffsetlabel, 8, 1, 13, 0, nullptr, 0, DataLclz::sCunitms, 1, 0.5, 2,
         double(engine->getbl(CoreBnid::iCoffset, &none)) / 1000},
        {DataLclz::sCmastaheadlabel, 8, 0, 12, 0, nullptr, 0, DataLclz::sCunitms, 1, 0, 6,
         engine->getbd(CoreBnid::iCaheadlimit, &none) / 1000},
        {DataLclz::sCmasthdimlabel, 9, 1, 16, hdim, DataLclz::sCmasthdim,
         // A stored count above the harmonic maximum runs as that maximum.
         std::min(shortrow(CoreBnid::iCkernellimit, 1), hdim - 1), noUnit, -1, 0, 0, 0},
        {DataLclz::sCmastforceratelabel, 9, 0, 12, 0, nullptr, 0, DataLclz::sCunitms, 2, 0, 9000,
         double(engine->getbl(CoreBnid::iCrateconversion, &none)) / 1000},
        {DataLclz::sCmastscanbootlabel, 10, 1, 16, DataLclz::iCmastscanboot,
         DataLclz::sCmastscanboot, flag(CoreBnid::iCscanboot), noUnit, -1, 0, 0, 0},
        {DataLclz::sCmastbootlabel, 10, 0, 15, DataLclz::iCmastboot, DataLclz::sCmastboot,
         flag(CoreBnid::iCfastboot), noUnit, -1, 0, 0, 0},
        {DataLclz::sCmastnodroplabel, 11, 1, 16, DataLclz::iCmastnodrop, DataLclz::sCmastnodrop,
         flag(CoreBnid::iCnodrop), noUnit, -1, 0, 0, 0},
        {DataLclz::sCmastdspbufferlabels, 11, 0, 15, DataLclz::iCmastdspbuffers,
         DataLclz::sCmastdspbuffers, bufferRow(engine->getbl(CoreBnid::iCdspbuffer, &none)), noUnit,
         -1, 0, 0, 0},
        {DataLclz::sCmastloaderprioritylabel, 12, 1, 16, DataLclz::iCmastthreadpriority,
         DataLclz::sCmastthreadpriority, shortrow(CoreBnid::iCloaderlevel, 0), noUnit, -1, 0, 0, 0},
        {DataLclz::sCmastskinlabel, 12, 0, 15, int(skinlist.size()), skinlist.data(),
         CoreButl::getci(CoreButl::getfn(skinpath, false), int(skinlist.size()), skinlist.data(),
                         false, false),
         noUnit, -1, 0, 0, 0},
    };
    for (short i = 0; i < fields; ++i) {
        FIELD const& f = table[i];
        label(CoreAnsx(""), f.label + CoreAnsx(":"), f.left ? 0 : 30, f.row);
        CoreDstx* field = gadget->gettx(i);
        if (field == nullptr) continue;
        field->defne(0, f.left ? 13 : 43, f.row, f.width, f.unit, false, f.decimals);
        if (f.decimals >= 0)
            field->setrg(f.minimum, f.maximum, f.value);
        else if (f.count > 0)
            field->setel(f.count, f.texts, held(f.selected, f.count));
    }
    pages.flags[1] = false;
    mastfirst = true;
}

void CoreDsif::mastwrite(short idx, int r, double x) {
    BEANSTRUCT none{};
    switch (idx) {
    case 0:
        if (r != 0) return;
        engine->setbb(CoreBnid::iCmode, false, &none);
        event = CoreAnsx("MAS2");
        return;
    case 1: engine->setmt(short(r), false); return;
    case 2:
        fontcolour = short(r);
        engine->setbh(CoreBnid::iCfontcolour, short(r), &none);
        return;
    case 3: engine->setbh(CoreBnid::iCquality, short(r + 1), &none); return;
    case 4:
        if (engine->getbh(CoreBnid::iCenginetime, &none) != r + 1)
            engine->setbh(CoreBnid::iCenginetime, short(r + 1), &none);
        return;
    case 5: {
        BEANSTRUCT timed = CoreBnid::recsl(0);
        engine->setbl(CoreBnid::iCforcedlength, tomicros(x, 1000.0), &timed);
        return;
    }
    case 6: {
        if (engine->getbh(CoreBnid::iCenginefreq, &none) == r + 1) return;
        engine->setbh(CoreBnid::iCenginefreq, short(r + 1), &none);
        BEANSTRUCT number{r + 1, 0};
        bool usable = engine->getbb(CoreBnid::iCusable, &number);
        buffer->write(CoreAnsx(usable ? " " : "!"), 11, 6, 0, !usable, false);
        return;
    }
    case 7: {
        BEANSTRUCT freqd = CoreBnid::recsl(1);
        engine->setbl(CoreBnid::iCforcedlength, tomicros(x, 1e6), &freqd);
        return;
    }
    case 8: engine->setbl(CoreBnid::iCprogramrate, tomicros(x, 1000.0), &none); return;
    case 9: engine->setbl(CoreBnid::iCguirate, tomicros(x, 1000.0), &none); return;
    case 10: engine->setbl(CoreBnid::iCoffset, tomicros(x, 1000.0), &none); return;
    case 11: {
        double const asked = CoreButl::flushSubnormal(x * 1000.0);
        engine->setbd(CoreBnid::iCaheadlimit, asked, &none);
        // Shown and kept as the engine took it (bounded, whole samples):
        // rounded up to whole us, the stored AHEADLENGTH gives the same
        // samples again, so a reload shows these digits.
        double const taken = engine->getbd(CoreBnid::iCaheadlimit, &none);
        if (std::ceil(taken) != asked)
            engine->setbd(CoreBnid::iCaheadlimit, std::ceil(taken), &none);
        if (CoreDstx* field = gadget->gettx(idx)) field->setvl(taken / 1000);
        return;
    }
    case 12: engine->setbh(CoreBnid::iCkernellimit, short(r + 1), &none); return;
    case 13: engine->setbl(CoreBnid::iCrateconversion, tomicros(x, 1000.0), &none); return;
    case 14: engine->setbb(CoreBnid::iCscanboot, r != 0, &none); return;
    case 15: engine->setbb(CoreBnid::iCfastboot, r != 0, &none); return;
    case 16: engine->setbb(CoreBnid::iCnodrop, r != 0, &none); return;
    case 17: engine->setbl(CoreBnid::iCdspbuffer, 1L << (r + 7), &none); return;
    case 18:
        engine->setbh(CoreBnid::iCloaderlevel, short(r), &none);
        batchlevel = engine->gettp(short(r));
        return;
    case 19:
        if (r >= 0 && size_t(r) < skinlist.size())
            engine->setbs(CoreBnid::iCskin, skinlist[size_t(r)], &none);
        return;
    default: return;
    }
}

void CoreDsif::tickmast() {
    BEANSTRUCT none{};
    buffer->write(CoreButl::rpad_(CoreAnsx("  MasterMode"), dimx, ' '), 0, 0, 1, false, false);
    CoreAnsx rate(double(engine->getbl(CoreBnid::iCrate, &none)) / 1000.0);
    buffer->write(CoreAnsx("RTE: ") + CoreButl::sbstr(rate, 1, 5) + DataLclz::sCunitms, 16, 0, 1,
                  false, false);
    buffer->write(CoreButl::lpad_(CoreAnsx(engine->getbi(CoreBnid::iChostrate, &none)), 5, ' ') +
                      DataLclz::sCunithz,
                  48, 0, 1, false, false);
    gadget->focus(clickcolumn, clickrow, mouseheld);
    gadget->draw_();
    for (short i = 0; i < fields; ++i) {
        CoreDstx* field = gadget->gettx(i);
        if (field == nullptr || !field->ischg()) continue;
        // A list without entries (no fonts, no skins) has nothing to store.
        bool nofonts = skin == nullptr || skin->getsk()->fontnames.empty();
        if ((i == 2 && nofonts) || (i == 19 && skinlist.empty())) continue;
        mastwrite(i, field->getel(), field->getvl());
    }
    // The simple mode in force leaves for its own master page at once; the
    // setting itself stays as it is.
    if (mastfirst) {
        mastfirst = false;
        CoreDstx* mode = gadget->gettx(0);
        if (mode != nullptr && mode->getel() == 0) event = CoreAnsx("MAS2");
    }
    if (drbtn(50, 1, CoreAnsx("  SAVE  "), clickcolumn, clickrow)) savem();
    if (drbtn(40, 1, CoreAnsx("  ABOUT "), clickcolumn, clickrow)) event = CoreAnsx("ABOUT");
    if (drbtn(55, 2, CoreAnsx(" T "), clickcolumn, clickrow)) event = CoreAnsx("TEST");
}
