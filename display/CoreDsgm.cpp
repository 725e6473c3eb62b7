#include "display/CoreDsgm.h"

#include <new>

#include "display/CoreDsmn.h"
#include "display/CorePlif.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CoreLog_.h"

CoreDsgm::CoreDsgm(CoreBean* engine, CorePlif* plugin)
    : armed(false), engine(engine), record{}, plugin(plugin) {}

CoreDsgm::~CoreDsgm() { clear(); }

void CoreDsgm::clear() {
    for (int i = 0; i < menus.count; ++i) delete static_cast<CoreDsmn*>(menus[unsigned(i)]);
    menus.Clear();
}

void CoreDsgm::reset(short count) {
    clear();
    for (short i = 0; i < count; ++i) {
        CoreDsmn* menu = new (std::nothrow) CoreDsmn(engine, plugin);
        if (menu == nullptr) throw CoreAnsx("Memory request failed for a pop-up menu");
        try {
            menus.Add(menu);
        } catch (...) {
            delete menu;
            throw;
        }
    }
}

CoreDsmn* CoreDsgm::getmn(short index) {
    if (index >= 0 && index < menus.count) return static_cast<CoreDsmn*>(menus[unsigned(index)]);
    CoreLog_::loger(CoreAnsx("CoreDsgm no pop-up menu ") + CoreAnsx(int(index)), 1);
    return nullptr;
}

void CoreDsgm::arm__(bool a, short index, int count, short percolumn) {
    armed = a;
    if (plugin == nullptr || menus.count == 0) return;
    if (a) {
        CoreDsmn* menu = getmn(index);
        if (menu == nullptr) return;
        menu->setar(true);
        short column = 0, row = 0, width = 0, height = 0;
        menu->getdf(column, row, width, height);
        record.menu = index;
        record.count = count;
        record.column = column;
        record.row = row;
        record.width = width;
        record.height = height;
        record.percolumn = percolumn;
    }
    record.armed = a ? 1 : 0;
    plugin->stprp(CorePlif::iCproparm, 0, 0, &record, sizeof record);
    plugin->prchg(CorePlif::iCproparm, 0, 0);
}

short CoreDsgm::focus(short column, short row, bool pressed) {
    if (!pressed) return -1;
    for (int i = 0; i < menus.count; ++i)
        if (static_cast<CoreDsmn*>(menus[unsigned(i)])->ishre(column, row)) return short(i);
    return -1;
}
