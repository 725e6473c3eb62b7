#pragma once
// CoreDsgm: the display's pop-up menu group: holds the pop-up menus and arms
// one of them for the editor by posting the 20-byte arm record as plug-in
// property 100106 (set, then announced), or withdraws it. A withdrawal
// changes only the record's armed byte.
// Owner: the display (CoreDsif), one, built in its constructor and deleted in
// its destructor; it owns its menus.
// Threads: control thread, inside a display tick (under the display lock).

#include "display/CoreCnst.h"
#include "runtime/CoreTlst.h"

class CoreBean;
class CoreDsmn;
class CorePlif;

class CoreDsgm {
public:
    // Engine and plug-in object are not owned; without a plug-in object
    // nothing is posted. No menus, not armed.
    CoreDsgm(CoreBean* engine, CorePlif* plugin);
    ~CoreDsgm(); // deletes every menu
    CoreDsgm(CoreDsgm const&) = delete;
    CoreDsgm& operator=(CoreDsgm const&) = delete;
    CoreDsgm(CoreDsgm&&) = delete;
    CoreDsgm& operator=(CoreDsgm&&) = delete;

    // Deletes every menu and makes count new ones (a negative count is 0).
    // Throws CoreAnsx when memory runs out (the group then holds the menus
    // made so far).
    void reset(short count);
    CoreDsmn* getmn(short index); // null (and logged) outside the menus
    // Arms the menu at index with its entry count and items per column, or
    // withdraws the armed menu (armed false: only the armed byte changes),
    // and posts the record.
    void arm__(bool armed, short index, int count, short percolumn);
    // While pressed, the first menu whose area holds the cell; else -1.
    short focus(short column, short row, bool pressed);
    void clear();                                                    // deletes every menu
    bool getar() const { return armed; }                             // the last arm request
    CoreCnst::POPMENUARMDATA const& getrc() const { return record; } // the last record posted

private:
    bool armed;                      // the last arm request
    CoreTlst menus;                  // CoreDsmn*, owned
    CoreBean* engine;                // not owned, handed to every menu
    CoreCnst::POPMENUARMDATA record; // as last posted
    CorePlif* plugin;                // not owned
};
