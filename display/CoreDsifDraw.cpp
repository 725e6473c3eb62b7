// CoreDsif: the drawing helpers the pages share (buttons, toggles, captions),
// the parameter rows with their look-ups, the small engine fetches of the
// pages, and the program menu's tree.
#include <algorithm>
#include <cstdint>
#include <exception>

#include "display/CoreDsbr.h"
#include "display/CoreDsif.h"
#include "display/CoreDsmn.h"
#include "display/CorePlif.h"
#include "display/DataLclz.h"
#include "modulation/CoreIfce.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;

constexpr int modulators = 16; // parameter modulators 0..15
constexpr int rowcells = 29;   // cells of a parameter row
constexpr int treelevels = 5;  // steps of the browse path, 0..4

int length(CoreAnsx const& text) { return std::max(text.Length(), 0); }
} // namespace

bool CoreDsif::drbtn(short column, short row, CoreAnsx const& text, short clickx, short clicky) {
    bool hit = clicky == row && column <= clickx && clickx < column + length(text);
    buffer->write(text, column, row, hit ? 0 : 1, false, false);
    return hit;
}

bool CoreDsif::drtb2(short column, short row, CoreAnsx const& off, CoreAnsx const& on, bool state,
                     short clickx, short clicky) {
    return drbtn(column, row, state ? on : off, clickx, clicky);
}

bool CoreDsif::drtbt(short column, short row, CoreAnsx const& off, CoreAnsx const& on, bool state,
                     short clickx, short clicky) {
    CoreAnsx const& text = state ? on : off;
    bool hit = clicky == row && column <= clickx && clickx < column + length(text) + 2;
    short font = hit ? 0 : 1;
    buffer->write(text + CoreAnsx(" "), short(column + 1), row, font, false, false);
    buffer->write(CoreAnsx(state ? "." : " "), column, row, font, state, false);
    return hit;
}

void CoreDsif::label(CoreAnsx const& head, CoreAnsx const& text, int column, int row) {
    int n = length(head);
    CoreAnsx separator("");
    if (n > 0) {
        buffer->write(head.SubString(1, 1), short(column), short(row), 1, false, false);
        separator = CoreAnsx(" ");
    }
    buffer->write(separator + text, short(column + n), short(row), 0, false, false);
}

void CoreDsif::drprm(int column, int row, short n, short bar, bool a, bool b) {
    short prefont = a == b ? 1 : 0;
    short textfont = a ? 1 : 0;
    buffer->clear(0, short(column), short(row), rowcells, 1);
    short index = getpp(n, true);
    if (index < 0) return;
    BEANSTRUCT modulator{index, 0};
    CoreAnsx pre = engine->getbs(CoreBnid::iCmodprelabel, &modulator);
    int offset = 0;
    if (length(pre) > 0) {
        CoreAnsx first = pre.SubString(1, 1);
        buffer->write(b ? first + CoreAnsx(" ") : first, short(column), short(row), prefont, false,
                      false);
        offset = length(pre) + 1;
    }
    CoreAnsx name = engine->getbs(CoreBnid::iCmodlabel, &modulator);
    // A long pre-label leaves the label no room rather than a negative width.
    name = b ? CoreButl::rpad_(name, std::max(13 - offset, 0), ' ')
             : CoreButl::rpad_(name + CoreAnsx(":"), std::max(12 - offset, 0), ' ');
    buffer->write(name.UpperCase(), short(column + offset), short(row), textfont, false, false);

    CoreDsbr const& maker = *bars[bar == 1 ? 1 : 0];
    CoreAnsx bartext = maker.getvl(engine->getbd(CoreBnid::iCmodbar, &modulator)) + CoreAnsx(" ");
    CoreAnsx number;
    number.sprintf("%.5f", engine->getbd(CoreBnid::iCmodvalue, &modulator));
    CoreAnsx shown = CoreButl::sbstr(
        CoreButl::sbstr(engine->getbs(CoreBnid::iCmodpreunit, &modulator), 1, 3).Trim() + number, 1,
        7);
    CoreAnsx post = engine->getbs(CoreBnid::iCmodpostunit, &modulator).Trim();
    if (length(post) > 0) {
        post = CoreButl::sbstr(post, 1, 3).Trim();
        int room = length(shown) - length(post) - 1;
        if (room > 0) shown = CoreButl::sbstr(shown, 1, room);
        shown = shown + post;
    }
    shown = CoreButl::sbstr(shown, 1, 6).Trim();
    CoreAnsx part = bartext + shown + CoreAnsx(" ") +
                    CoreButl::sbstr(engine->getbs(CoreBnid::iCmodunit, &modulator), 1, 3);
    part = CoreButl::rpad_(part, bar == 1 ? 15 : 20, ' ');
    buffer->write(part, short(column + 12), short(row), textfont, false, false);
}

CoreAnsx CoreDsif::getpn(short index) {
    if (index < 0 || index >= modulators) return DataLclz::sCprm_prmnotlabeled;
    BEANSTRUCT modulator{index, 0};
    CoreAnsx name = engine->getbs(CoreBnid::iCmodlabel, &modulator);
    if (length(name) > 0 && name != CoreAnsx("0"))
        return length(name) >= 9 ? CoreButl::sbstr(name, 1, 6) + CoreAnsx("..") : name;
    CoreAnsx key = engine->getbs(CoreBnid::iCmodfunction, &modulator);
    if (length(key) >= 7) key = CoreButl::sbstr(key, 1, 4) + CoreAnsx("..");
    return CoreAnsx("<") + key + CoreAnsx(">");
}

short CoreDsif::getpp(short n, bool shown) {
    if (n < 0) return -1;
    int seen = 0;
    for (short k = 0; k < modulators; ++k) {
        BEANSTRUCT modulator{k, 0};
        if (engine->getbb(CoreBnid::iCmodshown, &modulator) != shown) continue;
        if (seen++ == n) return k;
    }
    return -1;
}

short CoreDsif::prtmx(short n) {
    try {
        short index = getpp(n, true);
        if (index < 0) return -1;
        BEANSTRUCT modulator{index, 0};
        int control = engine->getbs(CoreBnid::iCmodprelabel, &modulator).ToInt() - 1;
        return control >= 0 && control <= 7 ? short(control) : short(-1);
    } catch (CoreAnsx const&) {
        return -1;
    } catch (std::exception const&) {
        return -1;
    }
}

short CoreDsif::prmsw(short index, bool up) {
    if (index < 0 || index >= modulators) return index;
    BEANSTRUCT own{index, 0};
    bool shown = engine->getbb(CoreBnid::iCmodshown, &own);
    int k = index;
    for (int steps = 0; steps < modulators; ++steps) {
        k += up ? -1 : 1;
        if (k < 0) k = modulators - 1;
        if (k >= modulators) k = 0;
        if (k == index) break;
        BEANSTRUCT other{k, 0};
        if (engine->getbb(CoreBnid::iCmodshown, &other) != shown) continue;
        BEANSTRUCT pair{k, index};
        engine->setbv(CoreBnid::iCmodexchange, &pair);
        return short(k);
    }
    return index;
}

void CoreDsif::rsvas(std::vector<CoreAnsx>& list, int& count, short countid, short itemid) {
    BEANSTRUCT none{};
    count = std::max(engine->getbi(countid, &none), 0);
    list.assign(size_t(count), CoreAnsx(""));
    for (int i = 0; i < count; ++i) {
        BEANSTRUCT item{i, 0};
        list[size_t(i)] = engine->getbs(itemid, &item);
    }
}

void CoreDsif::readr(CoreAnsx const& folder, CoreAnsx const& mask, std::vector<CoreAnsx>& list,
                     int& count) {
    list.clear();
    count = 0;
    BEANSTRUCT none{};
    engine->setbs(CoreBnid::iClistfolder, folder, &none);
    engine->setbs(CoreBnid::iClistmask, mask, &none);
    engine->setbv(CoreBnid::iClistfiles, &none);
    rsvas(list, count, CoreBnid::iClistfiles, CoreBnid::iClistfiles);
}

double CoreDsif::getnh(double value, int& lastx, int& lasty) {
    if (plugin == nullptr) return value;
    std::int32_t state[3] = {0, 0, 0};
    if (plugin->gtprp(CorePlif::iCpropmouse, 0, 0, state) == 0) return value;
    return CoreIfce::getnh(value, lastx, lasty, state[0], state[1]);
}

void CoreDsif::savem() {
    BEANSTRUCT none{};
    engine->setbv(CoreBnid::iCsavemaster, &none);
    CoreAnsx const failure = engine->getbs(CoreBnid::iCsaveerror, &none);
    if (failure.Length() > 0) sayer(failure);
}

void CoreDsif::scanm(CoreDsmn* menu, int level, CoreNode* parent) {
    if (menu == nullptr || level < 0 || level >= treelevels) return;
    BEANSTRUCT step{level, 0};
    engine->setbi(CoreBnid::iCtreepath, -1, &step);
    BEANSTRUCT none{};
    int children = std::max(engine->getbi(CoreBnid::iCtreechildren, &none), 0);
    for (int i = 0; i < children; ++i) {
        engine->setbi(CoreBnid::iCtreepath, i, &step);
        for (int deeper = level + 1; deeper < treelevels; ++deeper) {
            BEANSTRUCT below{deeper, 0};
            engine->setbi(CoreBnid::iCtreepath, -1, &below);
        }
        CoreAnsx text = engine->getbs(CoreBnid::iCtreetext, &none);
        bool leaf = engine->getbb(CoreBnid::iCtreeleaf, &none);
        CoreAnsx item = leaf ? text
                             : engine->getbs(CoreBnid::iCtreewords, &none) + CoreAnsx(" (") + text +
                                   CoreAnsx(")");
        CoreNode* node = menu->adden(item, parent);
        // The browse path has no step below level 4.
        if (!leaf && level + 1 < treelevels) scanm(menu, level + 1, node);
    }
}
