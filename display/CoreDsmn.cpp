#include "display/CoreDsmn.h"

#include <cstring>
#include <new>

#include "runtime/CoreLog_.h"
#include "runtime/CoreTlst.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"

CoreDsmn::CoreDsmn(CoreBean*, CorePlif*)
    : column(0), row(0), width(0), height(0), armed(false), menuroot(nullptr),
      documentroot(nullptr) {
    clear();
}

CoreDsmn::~CoreDsmn() = default;

void CoreDsmn::defne(short c, short r, short w, short h) {
    column = c;
    row = r;
    width = w;
    height = h;
}

void CoreDsmn::getdf(short& c, short& r, short& w, short& h) {
    c = column;
    r = row;
    w = width;
    h = height;
}

bool CoreDsmn::ishre(short c, short r) {
    return r >= row && r <= row + height && c >= column && c <= column + width;
}

void CoreDsmn::setar(bool a) { armed = a; }

void CoreDsmn::clear() {
    try {
        auto fresh = std::make_unique<CoreXml_>();
        auto top = std::make_unique<CoreNode>(CoreXml_::sCroot);
        CoreNode* inner = new CoreNode(CoreXml_::sCroot);
        top->addcd(inner);
        fresh->setrt(top.release());
        document = std::move(fresh);
        documentroot = document->getrt();
        menuroot = inner;
    } catch (std::bad_alloc const&) {
        throw CoreAnsx("Memory request failed for a pop-up menu");
    }
}

CoreNode* CoreDsmn::adden(CoreAnsx const& text, CoreNode* parent) {
    CoreNode* node = new (std::nothrow) CoreNode(text);
    if (node == nullptr) throw CoreAnsx("Memory request failed for a pop-up menu item");
    (parent != nullptr ? parent : menuroot)->addcd(node);
    return node;
}

CoreNode* CoreDsmn::adden(CoreAnsx const& text) { return adden(text, nullptr); }

int CoreDsmn::getnn(CoreNode const* node) {
    CoreTlst const* children = node != nullptr ? node->getcn() : nullptr;
    if (children == nullptr) return 0;
    int n = children->count;
    for (int i = 0; i < children->count; ++i)
        n += getnn(static_cast<CoreNode const*>((*children)[unsigned(i)]));
    return n;
}

void CoreDsmn::settx(CoreCnst::POPMENUENTRY& entry, CoreAnsx const& text) {
    std::memset(entry.text, 0, sizeof entry.text);
    std::strncpy(entry.text, text.c_str(), CoreCnst::iCpopmenutext);
}

int CoreDsmn::pushd(CoreCnst::POPMENUCONTENTDATA* content, CoreAnsx const& title) {
    if (content == nullptr) {
        CoreLog_::debug("CoreDsmn no menu content to fill", 0, 3);
        return 0;
    }
    // Built aside and swapped in, so the old entries stay whole until the
    // new ones are.
    CoreCnst::POPMENUCONTENTDATA fresh;
    new__(1 + getnn(menuroot), &fresh);
    fresh.entries[0].parent = -1;
    settx(fresh.entries[0], title);
    pushd(menuroot, 1, -1, &fresh);
    delte(content);
    content->entries = fresh.entries;
    content->count = fresh.count;
    return content->count;
}

int CoreDsmn::pushd(CoreNode const* node, int position, int parent,
                    CoreCnst::POPMENUCONTENTDATA* content) {
    CoreTlst const* children = node != nullptr ? node->getcn() : nullptr;
    if (children == nullptr || content == nullptr) return position;
    for (int i = 0; i < children->count; ++i) {
        auto const* child = static_cast<CoreNode const*>((*children)[unsigned(i)]);
        int own = position++;
        if (own >= 0 && own < content->count) {
            content->entries[own].parent = parent;
            settx(content->entries[own], child->gettx());
        }
        position = pushd(child, position, own, content);
    }
    return position;
}

void CoreDsmn::new__(int count, CoreCnst::POPMENUCONTENTDATA* content) {
    if (content == nullptr) return;
    delte(content);
    if (count <= 0) return;
    content->entries = new (std::nothrow) CoreCnst::POPMENUENTRY[size_t(count)]{};
    if (content->entries == nullptr) throw CoreAnsx("Memory request failed for pop-up entries");
    content->count = count;
}

void CoreDsmn::delte(CoreCnst::POPMENUCONTENTDATA* content) {
    if (content == nullptr) return;
    delete[] content->entries;
    content->entries = nullptr;
    content->count = 0;
}

CoreAnsx CoreDsmn::gettx() { return document ? document->settc(false, false) : CoreAnsx(""); }
