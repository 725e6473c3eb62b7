#include "storage/CoreNode.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreTlst.h"

namespace {

// "0" is the not-found value of every text getter.
bool isNotFound(CoreAnsx const& value) { return std::strcmp(value.c_str(), "0") == 0; }

// Truncation toward zero that cannot overflow: a file may hold 1E+300 or NAN.
int truncToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

// ---- Construction --------------------------------------------------------

CoreNode::CoreNode(CoreAnsx const& value) : text(value), children(new CoreTlst) {}

CoreNode::CoreNode(char const* value) : text(value), children(new CoreTlst) {}

CoreNode::CoreNode(bool value) : text(value ? "1" : "0"), children(new CoreTlst) {}

CoreNode::CoreNode(int value) : text(value), children(new CoreTlst) {}

CoreNode::CoreNode(double value)
    : text(CoreButl::rplce(CoreAnsx(value), ',', '.')), children(new CoreTlst) {}

CoreNode::~CoreNode() {
    // A parsed file may nest a million levels deep; destroying by recursion
    // would run out of stack. The walk keeps the path to the current node on a
    // work list and moves one child at a time from its list onto the work
    // list, so every node is always either in a list or on the work list.
    if (!children) return;
    std::vector<CoreNode*> pending;
    try {
        while (children->count > 0) {
            int const last = children->count - 1;
            pending.push_back(child(last));
            children->Delete(last);
            while (!pending.empty()) {
                CoreNode* node = pending.back();
                if (node->count() > 0) {
                    int const lastChild = node->count() - 1;
                    pending.push_back(node->child(lastChild));
                    node->children->Delete(lastChild);
                    continue;
                }
                pending.pop_back();
                delete node; // no children left: trivial
            }
        }
    } catch (...) {
        // No memory for the work list: what is left goes the plain way.
        for (CoreNode* node : pending) delete node;
        for (int i = children->count - 1; i >= 0; --i) delete child(i);
    }
    delete children;
    children = nullptr;
}

// ---- Structure ---------------------------------------------------------

CoreTlst* CoreNode::getcn() const { return children; }

int CoreNode::count() const { return children ? children->count : 0; }

CoreNode* CoreNode::child(int index) const {
    return static_cast<CoreNode*>((*children)[static_cast<unsigned>(index)]);
}

CoreNode* CoreNode::getcd() const { return count() > 0 ? child(0) : nullptr; }

bool CoreNode::leaf_() const { return count() == 0; }

CoreAnsx CoreNode::gettx() const { return text; }

void CoreNode::settx(CoreAnsx const& value) { text = value; }

void CoreNode::addcd(CoreNode* node) {
    if (!node || node == this) return; // a node under itself would never be destroyed
    if (!children) children = new CoreTlst;
    try {
        children->Add(node);
    } catch (...) {
        delete node; // ownership was handed over: do not leak it
        throw;
    }
}

void CoreNode::delcn() {
    if (!children) return;
    for (int i = children->count - 1; i >= 0; --i) {
        CoreNode* node = child(i);
        children->Delete(i);
        delete node;
    }
}

void CoreNode::delcn(CoreAnsx const& name) {
    if (children) {
        CoreAnsx const key = key__(name);
        for (int i = children->count - 1; i >= 0; --i) {
            CoreNode* node = child(i);
            if (key__(node->text) == key) {
                children->Delete(i);
                delete node;
            }
        }
        if (children->count == 0) {
            delete children;
            children = nullptr;
        }
    }
}

void CoreNode::upglf(CoreAnsx const& name, CoreNode* value) {
    CoreNode* element = nullptr;
    try {
        element = new CoreNode(name);
    } catch (...) {
        delete value;
        throw;
    }
    element->addcd(value);
    delcn(name);
    addcd(element);
}

// ---- Lookups -------------------------------------------------------------

CoreAnsx CoreNode::key__(CoreAnsx const& value) { return value.Trim().UpperCase(); }

CoreNode* CoreNode::getcd(CoreAnsx const& name) const {
    CoreAnsx const key = key__(name);
    for (int i = count() - 1; i >= 0; --i)
        if (key__(child(i)->text) == key) return child(i);
    return nullptr;
}

bool CoreNode::exsnc(CoreAnsx const& name) const { return getcd(name) != nullptr; }

int CoreNode::getcc(CoreAnsx const& name) const {
    int matches = 0;
    for (int i = 0; i < count(); ++i)
        if (key__(child(i)->text) == name) ++matches;
    return matches;
}

bool CoreNode::cdis_(CoreAnsx const& name) const { return text.UpperCase() == name; }

// ---- Value getters ---------------------------------------------------------

CoreAnsx CoreNode::getlc(CoreAnsx const& name) const {
    CoreNode const* element = getcd(name);
    if (!element || element->leaf_()) return CoreAnsx("0");
    return element->child(0)->text;
}

bool CoreNode::exslc(CoreAnsx const& name) const { return !isNotFound(getlc(name)); }

CoreAnsx CoreNode::getls(CoreAnsx const& name) const {
    CoreAnsx const value = getlc(name);
    if (isNotFound(value)) return CoreAnsx("");
    return value.Trim();
}

CoreAnsx CoreNode::getls(CoreAnsx const& name, int index) const {
    // Compared with the name as passed, like getcc: callers pass tag names
    // from the upper-case tag table.
    int seen = 0;
    for (int i = 0; i < count(); ++i) {
        CoreNode const* element = child(i);
        if (key__(element->text) != name) continue;
        if (seen++ == index)
            return element->leaf_() ? CoreAnsx("") : key__(element->child(0)->text);
    }
    return CoreAnsx("");
}

int CoreNode::getli(CoreAnsx const& name) const {
    CoreAnsx const value = getlc(name);
    if (isNotFound(value) || value.Length() <= 0) return 0;
    return value.Trim().ToInt();
}

bool CoreNode::getlb(CoreAnsx const& name) const { return getli(name) != 0; }

double CoreNode::getld(CoreAnsx const& name) const {
    CoreAnsx const value = getlc(name);
    if (isNotFound(value) || value.Length() <= 0) return 0.0;
    // Files written under a decimal-comma locale hold "1,5".
    return CoreButl::rplce(value, ',', '.').Trim().ToDouble();
}

CoreAnsx CoreNode::gtnls(CoreNode const* node, CoreAnsx const& name, CoreAnsx const& fallback) {
    return node && node->exslc(name) ? node->getls(name) : fallback;
}

double CoreNode::gtnld(CoreNode const* node, CoreAnsx const& name, double fallback) {
    return node && node->exslc(name) ? node->getld(name) : fallback;
}

int CoreNode::gtnli(CoreNode const* node, CoreAnsx const& name, int fallback) {
    return node && node->exslc(name) ? truncToInt(node->getld(name)) : fallback;
}

bool CoreNode::gtnlb(CoreNode const* node, CoreAnsx const& name, bool fallback) {
    return node && node->exslc(name) ? truncToInt(node->getld(name)) != 0 : fallback;
}

// ---- Paths ---------------------------------------------------------------

CoreNode* CoreNode::pcore(CoreAnsx const* path, int n, bool remove, bool keep) {
    if (!path || n < 1) return nullptr;
    CoreNode* parent = nullptr;
    CoreNode* current = this;
    int index = -1; // position of current in parent's list
    for (int level = 0; level < n; ++level) {
        CoreAnsx const key = key__(path[level]);
        int found = -1;
        for (int i = 0; i < current->count(); ++i) {
            if (key__(current->child(i)->text) == key) {
                found = i;
                break;
            }
        }
        if (found < 0) {
            if (level == n - 1) return nullptr;
            CoreNode* created = new CoreNode(path[level]);
            current->addcd(created);
            parent = current;
            index = current->count() - 1;
            current = created;
        } else {
            parent = current;
            index = found;
            current = current->child(found);
        }
    }
    if (!remove) return current;
    parent->children->Delete(index);
    if (keep) return current;
    delete current;
    return nullptr;
}

CoreNode* CoreNode::pfind(CoreAnsx const* path, int n) { return pcore(path, n, false, false); }

CoreNode* CoreNode::psplt(CoreAnsx const* path, int n) { return pcore(path, n, true, true); }

CoreNode* CoreNode::pdlte(CoreAnsx const* path, int n) { return pcore(path, n, true, false); }

bool CoreNode::pappd(CoreAnsx const* path, int n, CoreNode* node) {
    if (!node) return false;
    CoreNode* parent = nullptr;
    try {
        parent = pfind(path, n);
    } catch (...) {
        delete node;
        throw;
    }
    if (!parent || inside(node, parent)) {
        // Nobody would own the node otherwise (and a node cannot go under itself).
        CoreLog_::loger(CoreAnsx("XML: nothing to append to at the path"), 0);
        delete node;
        return false;
    }
    parent->addcd(node);
    return true;
}

bool CoreNode::prplc(CoreAnsx const* path, int n, CoreNode* node) {
    if (!node) return false;
    if (!path || n < 1) {
        delete node;
        return false;
    }
    try {
        pdlte(path, n);
    } catch (...) {
        delete node;
        throw;
    }
    if (n == 1) {
        addcd(node);
        return true;
    }
    return pappd(path, n - 1, node);
}

bool CoreNode::pmove(CoreAnsx const* from, int nfrom, CoreNode* source, CoreAnsx const* to, int nto,
                     bool replace) {
    if (!source || !to || nto < 1) return false; // no destination: the source keeps its node
    CoreNode* moved = source->pfind(from, nfrom);
    if (!moved) return false;
    if (inside(moved, this)) {
        // The destination lies inside the node to move: a cycle nobody owns.
        CoreLog_::loger(CoreAnsx("XML: cannot move a node into its own subtree"), 0);
        return false;
    }
    CoreNode* parent = nfrom > 1 ? source->pfind(from, nfrom - 1) : source;
    int index = 0;
    while (parent->child(index) != moved) ++index;
    parent->children->Delete(index);
    if (replace) return prplc(to, nto, moved);
    CoreNode* target = nullptr;
    try {
        target = pfind(to, nto);
    } catch (...) {
        target = nullptr;
    }
    if (target) {
        target->addcd(moved);
        return true;
    }
    // Nowhere to put it: it goes back to its place rather than being lost.
    CoreLog_::loger(CoreAnsx("XML: nothing to move to at the path"), 0);
    try {
        parent->children->Add(moved);
    } catch (...) {
        delete moved;
        throw;
    }
    for (int i = parent->children->count - 1; i > index; --i)
        (*parent->children)[static_cast<unsigned>(i)] =
            (*parent->children)[static_cast<unsigned>(i - 1)];
    (*parent->children)[static_cast<unsigned>(index)] = moved;
    return false;
}

// ---- Tree operations --------------------------------------------------------

bool CoreNode::inside(CoreNode const* node, CoreNode const* probe) {
    if (!node || !probe) return false;
    std::vector<CoreNode const*> work{node};
    while (!work.empty()) {
        CoreNode const* at = work.back();
        work.pop_back();
        if (at == probe) return true;
        for (int i = 0; i < at->count(); ++i) work.push_back(at->child(i));
    }
    return false;
}

void CoreNode::templ(CoreNode* tmpl, CoreNode* dest) {
    if (!tmpl || !dest) return;
    // Walking a tree while adding to it (or destroying part of it) would loop
    // or touch freed nodes.
    if (inside(tmpl, dest) || inside(dest, tmpl)) {
        CoreLog_::loger(CoreAnsx("XML: template and destination overlap"), 0);
        return;
    }
    templCore(tmpl, dest);
}

void CoreNode::templCore(CoreNode* tmpl, CoreNode* dest) {
    for (int i = 0; i < tmpl->count(); ++i) {
        CoreNode* ch = tmpl->child(i);
        CoreNode* target;
        if (dest->exslc(ch->text)) {
            target = dest->getcd(ch->text);
        } else {
            if (ch->leaf_()) dest->delcn();
            target = new CoreNode(ch->text);
            dest->addcd(target);
        }
        templCore(ch, target);
    }
}

void CoreNode::rplce(CoreAnsx const& name, CoreAnsx const& newText, CoreAnsx const& oldText,
                     bool whole) {
    CoreAnsx const key = key__(name);
    for (int i = 0; i < count(); ++i) {
        CoreNode* ch = child(i);
        // Only elements are named: a value leaf whose text happens to equal
        // the name (a program called "Filename") stays a value.
        if (ch->leaf_()) continue;
        if (key__(ch->text) != key) {
            ch->rplce(name, newText, oldText, whole);
            continue;
        }
        CoreAnsx value;
        if (isNotFound(oldText) || whole) {
            value = newText;
        } else {
            value = ch->leaf_() ? CoreAnsx("") : ch->child(0)->text;
            // An empty search text would match everywhere and never finish.
            if (oldText.Length() > 0) value = CoreButl::rplce(value, oldText, newText);
        }
        ch->delcn();
        ch->addcd(new CoreNode(value));
    }
}

CoreAnsx CoreNode::debug(int depth, CoreNode const* node) const {
    CoreAnsx out("");
    debugInto(node ? node : this, depth, out);
    return out;
}

void CoreNode::debugInto(CoreNode const* node, int depth, CoreAnsx& out) {
    std::string line(static_cast<size_t>(depth < 0 ? 0 : depth) + 1, '>');
    line += ' ';
    line += node->text.c_str();
    line += '\n';
    out += CoreAnsx(line.c_str());
    for (int i = 0; i < node->count(); ++i) debugInto(node->child(i), depth + 1, out);
}
