#include "display/CoreMenu.h"

#include <new>

#include "display/CoreStte.h"

CoreMenu::CoreMenu() : offset(0) {}

CoreMenu::~CoreMenu() {
    for (int i = 0; i < items.count; ++i) delete static_cast<MENUITEM*>(items[unsigned(i)]);
    items.Clear();
}

int CoreMenu::addit(short key, CoreAnsx const& label) {
    MENUITEM* item = nullptr;
    try {
        item = new MENUITEM{key, true, label};
    } catch (std::bad_alloc const&) {
        throw CoreAnsx("Memory request failed for a menu item");
    }
    try {
        return items.Add(item);
    } catch (...) {
        delete item;
        throw;
    }
}

bool CoreMenu::iskey(short key) {
    bool found = false;
    for (int i = 0; i < items.count && !found; ++i)
        found = static_cast<MENUITEM*>(items[unsigned(i)])->key == key;
    if (!found) return false;
    for (int i = 0; i < items.count; ++i) {
        MENUITEM* item = static_cast<MENUITEM*>(items[unsigned(i)]);
        item->notcurrent = item->key != key;
    }
    return true;
}

void CoreMenu::scroll(bool right) {
    if (right) {
        if (items.count - offset >= iCvisibleitems + 1) ++offset;
    } else if (offset > 0) {
        --offset;
    }
}

void CoreMenu::getvl(short slot, CoreAnsx& text, bool& notcurrent) {
    notcurrent = true;
    if (slot == 0 && offset != 0) {
        text = sCleftscroll;
        return;
    }
    int index = offset + slot;
    // Besides the slots past the items, this covers slots outside the row
    // and slot 0 of an empty menu: no item outside the list is read.
    if (slot < 0 || slot >= iCvisibleitems || index >= items.count) {
        text = CoreAnsx(" ");
        return;
    }
    if (slot == iCvisibleitems - 1 && items.count - offset >= iCvisibleitems + 1) {
        text = sCrightscroll;
        return;
    }
    MENUITEM const* item = static_cast<MENUITEM const*>(items[unsigned(index)]);
    text = item->label;
    notcurrent = item->notcurrent;
}

void CoreMenu::addDisplayItems(CoreMenu* const* menus) {
    if (menus == nullptr) return;
    struct Entry {
        short menu;
        short key;
        char const* label;
    };
    static constexpr Entry entries[] = {
        {0, CoreStte::iCpageprogram, "PROG"},       {0, CoreStte::iCpagekernel, "KERN"},
        {0, CoreStte::iCpagemaster, "MAST"},        {0, CoreStte::iCpagemidi, "MIDI"},
        {0, CoreStte::iCpagedisk, "DISK"},          {1, CoreStte::iCpagememory, "MEMO"},
        {1, CoreStte::iCpagemodlist, "PRMS"},       {1, CoreStte::iCpageglobal, "GLOB"},
        {1, CoreStte::iCpagelfo, "LFOS"},           {1, CoreStte::iCpagefunction, "FUNS"},
        {1, CoreStte::iCpagefollower, "EVFS"},      {1, CoreStte::iCpageenvelope, "ENVS"},
        {1, CoreStte::iCpagedynamics, "DYNS"},      {2, CoreStte::iCpageabout, "ABOUT"},
        {3, CoreStte::iCpagetest, "TEST"},          {4, CoreStte::iCpagemodsettings, "PARM"},
        {5, CoreStte::iCpagesimpleprogram, "PROG"}, {5, CoreStte::iCpagesimplemaster, "MAST"},
    };
    for (Entry const& entry : entries)
        if (menus[entry.menu] != nullptr)
            menus[entry.menu]->addit(entry.key, CoreAnsx(entry.label));
}
