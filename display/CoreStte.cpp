#include "display/CoreStte.h"

#include <new>

#include "runtime/CoreSmgd.h"

CoreStte::CoreStte() : changed(false) {}

CoreStte::~CoreStte() {
    for (int i = 0; i < rows.count; ++i) delete static_cast<ROW*>(rows[unsigned(i)]);
    rows.Clear();
}

void CoreStte::addmp(int from, CoreAnsx const& event, int to) {
    ROW* row = nullptr;
    try {
        row = new ROW{from, event, to};
    } catch (std::bad_alloc const&) {
        throw CoreAnsx("Memory request failed for a page transition");
    }
    CoreSmgd hold(lock);
    try {
        rows.Add(row);
    } catch (...) {
        delete row;
        throw;
    }
}

int CoreStte::getst(int state, CoreAnsx const& event) {
    CoreSmgd hold(lock);
    changed = false;
    for (int i = 0; i < rows.count; ++i) {
        ROW const* row = static_cast<ROW const*>(rows[unsigned(i)]);
        if ((row->from == state || row->from < 0) && row->event == event) {
            changed = row->to != state;
            return row->to;
        }
    }
    return state;
}

bool CoreStte::chngd() {
    CoreSmgd hold(lock);
    return changed;
}

void CoreStte::addDisplayRows() {
    struct Entry {
        short from;
        char const* event;
        short to;
    };
    static constexpr Entry entries[] = {
        // boot
        {iCpageboot, "ERRR", iCpagebooterror},
        {iCpageboot, "BOOT", iCpageprogram},
        {iCpageboot, "BOO2", iCpagesimpleprogram},
        // the simple set keeps its own pages
        {iCpagesimplelist, "MAST", iCpagesimplemaster},
        {iCpagesimpleprogram, "MAST", iCpagesimplemaster},
        {iCpagemaster, "MAS2", iCpagesimplemaster},
        {iCpagesimplebatch, "MAST", iCpagesimplemaster},
        {iCpagesimpleprogram, "LIST", iCpagesimplelist},
        {iCpagesimplemaster, "LIST", iCpagesimplelist},
        {iCpagesimplebatch, "LIST", iCpagesimplelist},
        {iCpagesimplelist, "PROG", iCpagesimpleprogram},
        {iCpagesimplemaster, "PROG", iCpagesimpleprogram},
        {iCpagesimplebatch, "PROG", iCpagesimpleprogram},
        {iCpagesimplelist, "BTCH", iCpagesimplebatch},
        {iCpagesimpleprogram, "BTCH", iCpagesimplebatch},
        {iCpagesimplemaster, "BTCH", iCpagesimplebatch},
        // from every page
        {iCpagenone, "MIDI", iCpagemidi},
        {iCpagenone, "LIST", iCpagelist},
        {iCpagenone, "KERN", iCpagekernel},
        {iCpagenone, "PROG", iCpageprogram},
        {iCpagenone, "EDIT", iCpagememory},
        {iCpagenone, "MAST", iCpagemaster},
        {iCpagenone, "DISK", iCpagedisk},
        {iCpagenone, "LFOS", iCpagelfo},
        {iCpagenone, "GLOB", iCpageglobal},
        {iCpagenone, "FUNS", iCpagefunction},
        {iCpagenone, "EVFS", iCpagefollower},
        {iCpagenone, "ENVS", iCpageenvelope},
        {iCpagenone, "DYNS", iCpagedynamics},
        {iCpagenone, "PRMS", iCpagemodlist},
        {iCpagenone, "MEMO", iCpagememory},
        {iCpagenone, "BTCH", iCpagebatch},
        {iCpagenone, "ABOUT", iCpageabout},
        {iCpagenone, "TEST", iCpagetest},
        {iCpagenone, "PARM", iCpagemodsettings},
    };
    static_assert(sizeof(entries) / sizeof(entries[0]) == 35);
    for (Entry const& entry : entries) addmp(entry.from, CoreAnsx(entry.event), entry.to);
}
