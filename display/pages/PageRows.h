#pragma once
// PageRows: the two-state button, the parameter modulator lookups and the
// parameter row drawing that the master, MIDI and parameter modulator pages
// use, kept here until the display offers them as its own operations (then
// these go, as PageDraw's do). Owner: none (free functions). Threads:
// control thread, inside a display tick.

#include "display/CoreBean.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsbr.h"
#include "display/DataLclz.h"
#include "display/pages/PageDraw.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CoreButl.h"

namespace pagerows {
constexpr int beanShown = 196;    // bool, element = modulator: configured, labelled, visible
constexpr int beanPreLabel = 197; // string, element = modulator
constexpr int beanLabel = 198;    // string, element = modulator
constexpr int beanFraction = 199; // double, element = modulator: bar fraction 0..1
constexpr int beanValue = 200;    // double, element = modulator
constexpr int beanPreUnit = 201;  // string, element = modulator
constexpr int beanPostUnit = 202; // string, element = modulator
constexpr int beanUnit = 203;     // string, element = modulator
constexpr int beanFunction = 204; // string, element = modulator: function key
constexpr short modulators = 16;

// A button showing the on text while state is set, else the off text.
inline bool drtb2(CoreDsbf& buffer, short column, short row, CoreAnsx const& offtext,
                  CoreAnsx const& ontext, bool state, short clickx, short clicky) {
    return pagedraw::drbtn(buffer, column, row, state ? ontext : offtext, clickx, clicky);
}

// The index of the n-th modulator whose shown flag equals shown; -1 none.
inline short getpp(CoreBean& engine, short n, bool shown) {
    for (short p = 0, seen = 0; p < modulators; ++p) {
        CoreBean::BEANSTRUCT modulator{p, 0};
        if (engine.getbb(beanShown, &modulator) != shown) continue;
        if (seen++ == n) return p;
    }
    return -1;
}

// A modulator's name of at most 8 characters: its label, or its function
// key between angle brackets.
inline CoreAnsx getpn(CoreBean& engine, short index) {
    if (index < 0 || index >= modulators) return DataLclz::sCprm_prmnotlabeled;
    CoreBean::BEANSTRUCT modulator{index, 0};
    CoreAnsx label = engine.getbs(beanLabel, &modulator);
    if (label.Length() > 0 && !(label == CoreAnsx("0")))
        return label.Length() >= 9 ? label.SubString(1, 6) + CoreAnsx("..") : label;
    CoreAnsx key = engine.getbs(beanFunction, &modulator);
    if (key.Length() >= 7) key = key.SubString(1, 4) + CoreAnsx("..");
    return CoreAnsx("<") + key + CoreAnsx(">");
}

// The row of the n-th shown modulator at (column, row): pre-label, label,
// bar, value with its pre- and post-unit, unit. a: the row is selected; b:
// the list's form (pre-label with a blank, label without a colon).
inline void drprm(CoreDsbf& buffer, CoreBean& engine, CoreDsbr const& bar, short barwidth,
                  short column, short row, short n, bool a, bool b) {
    short prefont = a == b ? 1 : 0, textfont = a ? 1 : 0;
    buffer.clear(0, column, row, 29, 1);
    short p = getpp(engine, n, true);
    if (p < 0) return;
    CoreBean::BEANSTRUCT modulator{p, 0};
    CoreAnsx pre = engine.getbs(beanPreLabel, &modulator);
    int offset = 0;
    if (pre.Length() > 0) {
        buffer.write(pre.SubString(1, 1) + CoreAnsx(b ? " " : ""), column, row, prefont, false,
                     false);
        offset = pre.Length() + 1;
    }
    CoreAnsx label = engine.getbs(beanLabel, &modulator) + CoreAnsx(b ? "" : ":");
    label = CoreButl::rpad_(label, (b ? 13 : 12) - offset, ' ').UpperCase();
    buffer.write(label, short(column + offset), row, textfont, false, false);

    CoreAnsx part = bar.getvl(engine.getbd(beanFraction, &modulator)) + CoreAnsx(" ");
    CoreAnsx value;
    value.sprintf("%.5f", engine.getbd(beanValue, &modulator));
    CoreAnsx v =
        (engine.getbs(beanPreUnit, &modulator).SubString(1, 3).Trim() + value).SubString(1, 7);
    CoreAnsx post = engine.getbs(beanPostUnit, &modulator).Trim();
    if (post.Length() > 0) {
        post = post.SubString(1, 3).Trim();
        int keep = v.Length() - post.Length() - 1;
        if (keep > 0) v = v.SubString(1, keep);
        v = v + post;
    }
    v = v.SubString(1, 6).Trim();
    part = part + v + CoreAnsx(" ") + engine.getbs(beanUnit, &modulator).SubString(1, 3);
    buffer.write(CoreButl::rpad_(part, barwidth, ' '), short(column + 12), row, textfont, false,
                 false);
}
} // namespace pagerows
