#pragma once
// CoreDsmn: one pop-up menu of the display: a cell area on the screen and a
// tree of item texts. The display cannot draw menus beyond its cells, so it
// flattens the tree into the menu content the plug-in shares with the editor
// (pre-order, entry 0 the title) and lets the editor show it with the
// platform's menus.
// Owner: the display's menu group (CoreDsgm), which creates and deletes it;
// it owns its item document.
// Threads: control thread, inside a display tick (under the display lock).

#include <memory>

#include "display/CoreCnst.h"
#include "runtime/CoreAnsx.h"

class CoreBean;
class CoreNode;
class CorePlif;
class CoreXml_;

class CoreDsmn {
public:
    // Empty item tree, not armed. The menu reads neither the engine nor the
    // plug-in object (the group posts what it needs); its creators pass them.
    // Throws CoreAnsx when memory runs out.
    CoreDsmn(CoreBean* engine, CorePlif* plugin);
    ~CoreDsmn(); // deletes the item document
    CoreDsmn(CoreDsmn const&) = delete;
    CoreDsmn& operator=(CoreDsmn const&) = delete;
    CoreDsmn(CoreDsmn&&) = delete;
    CoreDsmn& operator=(CoreDsmn&&) = delete;

    void defne(short column, short row, short width, short height); // the cell area
    void getdf(short& column, short& row, short& width, short& height);
    // The cell lies in the area, all four edges included.
    bool ishre(short column, short row);
    void setar(bool armed);
    bool getar() const { return armed; }
    // A new item document: "ROOT" holding the empty menu root "ROOT".
    // Throws CoreAnsx when memory runs out.
    void clear();
    // Appends an item under parent (under the menu root when null) and
    // returns it; throws CoreAnsx when memory runs out.
    CoreNode* adden(CoreAnsx const& text, CoreNode* parent);
    CoreNode* adden(CoreAnsx const& text); // under the menu root
    int getnn(CoreNode const* node);       // nodes below it, all depths
    // Flattens the tree into content behind the title and returns the entry
    // count. The new entries are complete before the old ones are freed, so
    // content is never seen half built. Null content: nothing, 0.
    int pushd(CoreCnst::POPMENUCONTENTDATA* content, CoreAnsx const& title);
    // Writes the node's children and their subtrees from position on, each
    // child's parent index being parent; returns the next free position.
    // Entries beyond the content's count are not written.
    int pushd(CoreNode const* node, int position, int parent,
              CoreCnst::POPMENUCONTENTDATA* content);
    // Frees the entries (when there are any), stores the count and makes
    // that many zeroed entries; throws CoreAnsx when memory runs out (the
    // content is then empty).
    void new__(int count, CoreCnst::POPMENUCONTENTDATA* content);
    void delte(CoreCnst::POPMENUCONTENTDATA* content); // frees the entries, count 0
    CoreAnsx gettx();                                  // the item document as XML text

private:
    // Entry text: cut to CoreCnst::iCpopmenutext characters, zero-terminated.
    static void settx(CoreCnst::POPMENUENTRY& entry, CoreAnsx const& text);

    short column; // cell area
    short row;
    short width;
    short height;
    bool armed;                         // set by the group when it arms this menu
    std::unique_ptr<CoreXml_> document; // the item document
    CoreNode* menuroot;                 // in the document: the menu's own root
    CoreNode* documentroot;             // in the document: its root
};
