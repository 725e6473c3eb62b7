#include "skin/CoreSkin.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "runtime/CoreButl.h"
#include "runtime/CoreHutl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "runtime/CoreTlst.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

namespace {

using X = DataXml_;

CoreAnsx normalised(CoreAnsx const& name) { return name.Trim().UpperCase(); }

void refuse(CoreAnsx const& path, CoreAnsx const& why) {
    CoreLog_::loger(CoreAnsx("Skin ") + path + CoreAnsx(": ") + why +
                        CoreAnsx("; the display uses no skin fonts"),
                    0);
}

// The whole value as a count or position: 0 when absent, when it is not a
// plain decimal integer, or when it is negative (the last two logged).
int count(CoreNode const* skin, CoreAnsx const& tag, CoreAnsx const& path) {
    CoreAnsx const text = skin->getls(tag);
    if (text.Length() <= 0) return 0;
    char* end = nullptr;
    errno = 0;
    long const value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || value > INT_MAX || value < 0) {
        CoreLog_::loger(CoreAnsx("Skin ") + path + CoreAnsx(": ") + tag + CoreAnsx(" \"") + text +
                            CoreAnsx("\" is no count; 0 taken"),
                        1);
        return 0;
    }
    return int(value);
}

// The trimmed value of an element child: its first child's text, "" for an
// element written without a value.
CoreAnsx valueOf(CoreNode const* element) {
    CoreNode const* value = element->getcd();
    return value != nullptr && value->leaf_() ? value->gettx().Trim() : CoreAnsx("");
}

} // namespace

CoreSkin::CoreSkin() {}

CoreSkin::CoreSkin(CoreAnsx const& path) {
    if (path.Trim().Length() <= 0) {
        CoreLog_::debug(CoreAnsx("No skin chosen; the display uses no skin fonts"), 0, 1);
        return;
    }
    // Whatever goes wrong, the instance still opens: with no skin.
    bool good = false;
    try {
        good = loadItems(path) && parse(path);
    } catch (CoreAnsx const& error) {
        refuse(path, (CoreAnsx("cannot be read (") + error + CoreAnsx(")")).c_str());
    } catch (...) {
        refuse(path, "cannot be read");
    }
    if (good) return;
    skin = SKIN{};
    items.clear();
}

CoreSkin::SKIN* CoreSkin::getsk() { return &skin; }

unsigned char const* CoreSkin::getbt(CoreAnsx const& name, int& size) const {
    ITEM const* item = find(name);
    size = item != nullptr ? int(item->bytes.size()) : 0;
    return item != nullptr && !item->bytes.empty() ? item->bytes.data() : nullptr;
}

CoreSkin::ITEM const* CoreSkin::find(CoreAnsx const& name) const {
    CoreAnsx const key = normalised(name);
    for (ITEM const& item : items)
        if (item.name == key) return &item;
    return nullptr;
}

bool CoreSkin::loadItems(CoreAnsx const& path) {
    // The random choice of a skin lists folders as well as packages.
    std::error_code error;
    bool const folder =
        std::filesystem::is_directory(std::filesystem::path(CoreButl::rslve(path).c_str()), error);
    CorePool pool;
    CoreFsys store(&pool, folder ? path + CoreAnsx("/") : CoreAnsx(""), true);
    if (folder) {
        CoreAnsx* names = nullptr;
        int found = 0;
        CoreHutl::readr(path, CoreAnsx("*"), &names, found, CoreAnsx("0"));
        for (int i = 0; i < found; ++i) {
            int const id = store.crtit(names[i], true);
            errno = 0;
            if (store.loadc(id, false, CoreButl::iCwholebytes)) continue;
            // The item is named with why it was refused: a FIFO or device
            // swapped in among the pictures is no missing picture.
            CoreLog_::logfl(path + CoreAnsx("/") + names[i] + CoreAnsx(": ") + CoreButl::opnwy(),
                            0);
            if (normalised(names[i]) == sCdescription && CoreButl::fferr() == EFBIG)
                descriptionwhy = sCdescription + CoreAnsx(" is too large");
        }
        delete[] names;
    } else if (!store.loada(path, CoreAnsx("0"), false, nullptr, CoreButl::iCwholebytes)) {
        // A package is read whole in the instance's constructor, where a host
        // scanning plug-ins waits: one past the bound is refused unread.
        CoreAnsx const why = store.getrf();
        refuse(path,
               why.Pos(CoreAnsx("too large")) == 1 ? why : CoreAnsx("is no readable package"));
        return false;
    }
    for (int i = 0; i < store.llvcn(); ++i) {
        int id = -1;
        CoreAnsx const name = store.llvel(i, id);
        if (!store.isvld(id)) continue;
        void* data = nullptr;
        long const size = store.getco(id, &data);
        ITEM item{normalised(name), {}};
        if (size > 0) {
            auto const* bytes = static_cast<unsigned char const*>(data);
            item.bytes.assign(bytes, bytes + size);
        }
        items.push_back(std::move(item));
    }
    return true;
}

bool CoreSkin::parse(CoreAnsx const& path) {
    ITEM const* description = find(sCdescription);
    if (description == nullptr) {
        refuse(path, descriptionwhy.Length() > 0 ? descriptionwhy : CoreAnsx("has no ROM.XML"));
        return false;
    }
    CoreXml_ document;
    CoreAnsx const text = CoreButl::getac(reinterpret_cast<char const*>(description->bytes.data()),
                                          int(description->bytes.size()));
    try {
        document.getfc(text);
    } catch (...) {
        refuse(path, "ROM.XML is malformed");
        return false;
    }
    if (document.cutsh(path + CoreAnsx(" ROM.XML"))) return false;
    CoreNode const* root = document.getrt();
    CoreNode const* top = root != nullptr ? root->getcd(X::sCtagskin__) : nullptr;
    CoreNode const* fonts = top != nullptr ? top->getcd(X::sCtagfonts_) : nullptr;
    if (top == nullptr || top->leaf_() || fonts == nullptr || fonts->leaf_()) {
        refuse(path, "ROM.XML holds no SKIN with FONTS");
        return false;
    }

    // FONTS is a flat run: each FONTNAME opens a font, and the strip
    // elements after it, up to the next FONTNAME, belong to that font.
    SKIN read;
    CoreTlst const* children = fonts->getcn();
    for (int i = 0; i < children->count; ++i) {
        auto const* child = static_cast<CoreNode const*>((*children)[unsigned(i)]);
        CoreAnsx const tag = normalised(child->gettx());
        CoreAnsx const value = child->leaf_() ? CoreAnsx("") : valueOf(child);
        if (tag == X::sCtagfontnm) {
            if (value.Length() <= 0) {
                refuse(path, "a FONTNAME has no text");
                return false;
            }
            read.fontnames.push_back(value);
            read.fontstrips.push_back(FONTSTRIPS{CoreAnsx(""), CoreAnsx(""), CoreAnsx("")});
            continue;
        }
        CoreAnsx FONTSTRIPS::*strip = tag == X::sCtagfont1_   ? &FONTSTRIPS::font1
                                      : tag == X::sCtagfontng ? &FONTSTRIPS::fontneg
                                      : tag == X::sCtagfont2_ ? &FONTSTRIPS::font2
                                                              : nullptr;
        if (strip == nullptr) continue; // for a fuller editor
        if (read.fontstrips.empty()) {
            refuse(path, "a font strip comes before any FONTNAME");
            return false;
        }
        read.fontstrips.back().*strip = value;
    }
    if (read.fontnames.empty()) {
        refuse(path, "ROM.XML names no font");
        return false;
    }
    for (size_t f = 0; f < read.fontstrips.size(); ++f) {
        FONTSTRIPS const& strips = read.fontstrips[f];
        std::pair<CoreAnsx const*, CoreAnsx const*> const named[] = {
            {&X::sCtagfont1_, &strips.font1},
            {&X::sCtagfontng, &strips.fontneg},
            {&X::sCtagfont2_, &strips.font2}};
        for (auto const& [tag, name] : named) {
            if (name->Length() > 0 && find(*name) != nullptr) continue;
            CoreLog_::loger(CoreAnsx("Skin ") + path + CoreAnsx(": font ") + read.fontnames[f] +
                                CoreAnsx(" has no ") + *tag + CoreAnsx(" strip \"") + *name +
                                CoreAnsx("\""),
                            1);
            refuse(path, "a font lacks a strip");
            return false;
        }
    }
    read.fontcount = int(read.fontnames.size());

    read.displayaddchars = count(top, X::sCtagdaddch, path);
    read.displayx = count(top, X::sCtagdisplx, path);
    read.displayy = count(top, X::sCtagdisply, path);
    read.displayaddx = count(top, X::sCtagdiaddx, path);
    read.displayaddy = count(top, X::sCtagdiaddy, path);
    // The background is optional: one named but missing only costs the picture.
    read.background = top->getls(X::sCtagbackgr);
    if (read.background.Length() > 0 && find(read.background) == nullptr) {
        CoreLog_::loger(CoreAnsx("Skin ") + path + CoreAnsx(": no background item \"") +
                            read.background + CoreAnsx("\""),
                        1);
        read.background = CoreAnsx("");
    }
    skin = read;
    return true;
}
