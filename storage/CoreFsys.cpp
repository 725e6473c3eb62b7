#include "storage/CoreFsys.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreLutl.h"
#include "runtime/CorePool.h"
#include "runtime/CoreTlst.h"
#include "storage/CoreXml_.h"

namespace {

char const* const kTag = "FSYS"; // pool owner tag of every block of the store

CoreAnsx normalised(CoreAnsx const& name) { return name.Trim().UpperCase(); }

// True when a ".." part of the name climbs out of the folder it is put in.
bool leavesFolder(CoreAnsx const& name) {
    std::string const text = CoreButl::ffpen(name).c_str();
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        if (text.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

// Replaces the file at path with the bytes of an in-memory item.
bool writeItem(CoreAnsx const& path, CoreFsys::FSYSTEMLOC const* item) {
    std::size_t const size = item->size > 0 ? std::size_t(item->size) : 0;
    return CoreButl::wrall(path, item->data, size);
}

} // namespace

const long CoreFsys::iCitemdim = INT_MAX - CorePool::iCoverhead;

// ---- Construction ---------------------------------------------------------------

CoreFsys::CoreFsys(CorePool* p) : CoreFsys(p, CoreAnsx(""), false) {}

CoreFsys::CoreFsys(CorePool* p, CoreAnsx folder, bool closeAfterUse)
    : datafolder(folder), toctext(CoreButl::sCnull), lastarchive(CoreButl::sCnull), refusal(""),
      items(new CoreTlst), registrations(0), nextid(0), closeafteruse(closeAfterUse), pool(p) {
    items->mincapacity = iCminitems;
}

CoreFsys::CoreFsys(CorePool* p, CoreAnsx folder, bool closeAfterUse, bool /*unused*/)
    : CoreFsys(p, folder, closeAfterUse) {}

CoreFsys::~CoreFsys() {
    init_();
    delete items;
}

void CoreFsys::init_() {
    for (int i = items->count - 1; i >= 0; --i) {
        FSYSTEMLOC* item = static_cast<FSYSTEMLOC*>((*items)[unsigned(i)]);
        closeFile(item);
        dropData(item);
        delete item;
    }
    items->Clear();
    byid.clear();
    byname.clear();
}

// ---- Private helpers -----------------------------------------------------------

CoreFsys::FSYSTEMLOC* CoreFsys::find(int id) {
    auto const found = byid.find(id);
    return found != byid.end() ? found->second : nullptr;
}

CoreFsys::FSYSTEMLOC* CoreFsys::exact(CoreAnsx const& key) {
    auto const found = byname.find(key.c_str());
    return found != byname.end() && !found->second.empty() ? found->second.front() : nullptr;
}

int CoreFsys::position(FSYSTEMLOC const* item) {
    int low = 0, high = items->count - 1;
    while (low <= high) {
        int const middle = low + (high - low) / 2;
        long long const at = static_cast<FSYSTEMLOC*>((*items)[unsigned(middle)])->order;
        if (at == item->order) return middle;
        if (at < item->order)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

void CoreFsys::unindex(FSYSTEMLOC* item) {
    auto const found = byname.find(item->name.c_str());
    if (found == byname.end()) return;
    std::vector<FSYSTEMLOC*>& same = found->second;
    same.erase(std::remove(same.begin(), same.end(), item), same.end());
    if (same.empty()) byname.erase(found);
}

void CoreFsys::rename(FSYSTEMLOC* item, CoreAnsx const& name) {
    if (name == item->name) return;
    // Taken into the new name's place first: when that cannot grow, the item
    // keeps its old name and place.
    std::vector<FSYSTEMLOC*>& same = byname[name.c_str()];
    auto const later = std::upper_bound(
        same.begin(), same.end(), item,
        [](FSYSTEMLOC const* a, FSYSTEMLOC const* b) { return a->order < b->order; });
    same.insert(later, item);
    unindex(item);
    item->name = name;
}

void CoreFsys::dropData(FSYSTEMLOC* item) {
    if (item->inmemory && item->data != nullptr && pool != nullptr) pool->free_(item->data);
    item->data = nullptr;
    item->inmemory = false;
}

void CoreFsys::closeFile(FSYSTEMLOC* item) {
    if (item->file != nullptr) std::fclose(item->file);
    item->file = nullptr;
    item->fileopen = false;
}

char* CoreFsys::allocBlock(int bytes, char const* operation) {
    if (pool == nullptr) throw CoreAnsx("Item store without a pool");
    return static_cast<char*>(pool->mallc(5, bytes, kTag, CoreAnsx(operation)));
}

FILE* CoreFsys::reopen(FSYSTEMLOC* item) {
    if (item->refused != 0) {
        errno = item->refused;
        return nullptr;
    }
    // A write mode given to wopen must not empty the file again on every read.
    CoreAnsx mode = item->mode;
    if (mode.c_str()[0] == 'w') mode = CoreAnsx("r+b");
    FILE* file = CoreButl::ffpen(getfn(item->name), mode);
    if (file != nullptr && std::fseek(file, item->position, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

int CoreFsys::registerExact(CoreAnsx const& name) {
    CoreAnsx const key = normalised(name);
    FSYSTEMLOC* item = exact(key);
    return item != nullptr ? item->id : crtit(key, true);
}

// ---- Registration and lookup ------------------------------------------------------

int CoreFsys::crtit(CoreAnsx name, bool forceNew) {
    CoreAnsx const key = normalised(name);
    if (!forceNew) {
        FSYSTEMLOC* found = gtsit(key);
        if (found != nullptr) return found->id;
    }
    // Past INT_MAX the count starts again at 0, passing over ids still held.
    while (byid.count(nextid) > 0) nextid = nextid == INT_MAX ? 0 : nextid + 1;
    FSYSTEMLOC* item = new FSYSTEMLOC;
    item->id = nextid;
    item->name = key;
    item->mode = CoreAnsx("");
    item->data = nullptr;
    item->size = 0;
    item->inmemory = false;
    item->position = 0;
    item->file = nullptr;
    item->fileopen = false;
    item->refused = 0;
    item->order = registrations;
    try {
        byid.emplace(item->id, item);
        byname[key.c_str()].push_back(item);
        items->Add(item);
    } catch (...) {
        unindex(item);
        byid.erase(item->id);
        delete item;
        throw CoreAnsx("Memory request failed registering ") + key;
    }
    ++registrations;
    nextid = nextid == INT_MAX ? 0 : nextid + 1;
    return item->id;
}

int CoreFsys::crtit(CoreAnsx name, bool forceNew, bool /*unused*/) { return crtit(name, forceNew); }

CoreFsys::FSYSTEMLOC* CoreFsys::gtsit(CoreAnsx name) {
    CoreAnsx const query = normalised(name);
    // An exact name wins over any fragment match, so "1.WAV" never lands on
    // "11.WAV" registered before it.
    if (FSYSTEMLOC* item = exact(query)) return item;
    for (int i = 0; i < items->count; ++i) {
        FSYSTEMLOC* item = static_cast<FSYSTEMLOC*>((*items)[unsigned(i)]);
        if (item->name.Pos(query) > 0 || query.Pos(item->name) > 0) return item;
    }
    return nullptr;
}

int CoreFsys::getit(CoreAnsx name) {
    FSYSTEMLOC* item = gtsit(name);
    return item != nullptr ? item->id : -1;
}

CoreFsys::FSYSTEMLOC* CoreFsys::gtiit(int id, int& index) {
    FSYSTEMLOC* item = find(id);
    if (item != nullptr) index = position(item);
    return item;
}

int CoreFsys::llvcn() { return items->count; }

int CoreFsys::getkn() { return items->count; }

CoreAnsx CoreFsys::llvel(int position, int& id) {
    if (position < 0 || position >= items->count) {
        id = -1;
        return CoreAnsx("");
    }
    FSYSTEMLOC* item = static_cast<FSYSTEMLOC*>((*items)[unsigned(position)]);
    id = item->id;
    return item->name;
}

void CoreFsys::getks(CoreAnsx* names) {
    if (names == nullptr) return;
    for (int i = 0; i < items->count; ++i)
        names[i] = static_cast<FSYSTEMLOC*>((*items)[unsigned(i)])->name;
}

// ---- Item state and data ------------------------------------------------------------

bool CoreFsys::isvld(int id) {
    FSYSTEMLOC* item = find(id);
    return item != nullptr && item->inmemory;
}

long CoreFsys::getco(int id, void** data) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr || !item->inmemory) return 0;
    if (data != nullptr) *data = item->data;
    return item->size;
}

CoreAnsx CoreFsys::ct2as(int id) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr || !item->inmemory) return CoreAnsx("");
    std::string text;
    text.reserve(std::size_t(item->size));
    for (int i = 0; i < item->size; ++i)
        if (item->data[i] != '\0') text += item->data[i];
    return CoreAnsx(text.c_str());
}

CoreAnsx CoreFsys::getdt() { return datafolder; }

void CoreFsys::setdt(CoreAnsx folder) { datafolder = folder; }

CoreAnsx CoreFsys::getfn(CoreAnsx name) { return datafolder + name; }

CoreAnsx CoreFsys::getll() { return lastarchive; }

CoreAnsx CoreFsys::getrf() { return refusal; }

bool CoreFsys::isdtf(CoreAnsx folder) {
    std::error_code ignored;
    return datafolder.Length() > 0 && folder.Length() > 0 &&
           std::filesystem::equivalent(CoreButl::rslve(folder).c_str(),
                                       CoreButl::rslve(datafolder).c_str(), ignored);
}

CoreAnsx CoreFsys::gettc() { return toctext; }

void CoreFsys::setit(int id, CoreAnsx newName) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr) return;
    rename(item, CoreButl::getpt(item->name) + CoreButl::getfn(newName, true) +
                     CoreButl::getfx(item->name));
}

void CoreFsys::delct(int id) {
    int index = 0;
    FSYSTEMLOC* item = gtiit(id, index);
    if (item == nullptr) return;
    dropData(item);
    closeFile(item);
    unindex(item);
    byid.erase(id);
    items->Delete(index);
    delete item;
}

// ---- Filling and loading ---------------------------------------------------------------

void CoreFsys::setit(int id, void const* data, long size, CoreAnsx source, bool /*releasePrevious*/,
                     bool keepSource) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr) return;
    if (size < 0 || size > iCitemdim || (data == nullptr && size > 0)) {
        // Whatever the item held before is not what the caller meant it to
        // hold now, and neither is a disk file of its name.
        closeFile(item);
        dropData(item);
        item->size = 0;
        item->position = 0;
        item->refused = size > iCitemdim ? EFBIG : EINVAL;
        CoreAnsx const why =
            size > iCitemdim ? CoreAnsx(size) + CoreAnsx(" bytes, more than an item holds (") +
                                   CoreAnsx(iCitemdim) + CoreAnsx(")")
            : size < 0 ? CoreAnsx("a negative size")
                       : CoreAnsx("no data for ") + CoreAnsx(size) + CoreAnsx(" bytes");
        CoreLog_::loger(CoreAnsx("Item data refused: ") + item->name + CoreAnsx(": ") + why, 0);
        return;
    }
    // The new block is taken first: when the pool refuses, the item keeps its data.
    char* block = allocBlock(int(size), "setit");
    if (size > 0) std::memcpy(block, data, std::size_t(size));
    closeFile(item);
    // The old block is freed whatever the caller asked: keeping it would only
    // leak it until the pool dies, and no caller holds it across a reload.
    dropData(item);
    item->data = block;
    item->size = int(size);
    item->position = 0;
    item->inmemory = true;
    item->refused = 0;
    if (!keepSource) item->source = source;
}

void CoreFsys::setit(int id, void const* data, long size, bool /*unused*/, CoreAnsx source,
                     bool releasePrevious, bool keepSource) {
    setit(id, data, size, source, releasePrevious, keepSource);
}

bool CoreFsys::loadc(int id, bool skipLoaded, long long most) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr || (skipLoaded && item->inmemory)) return false;
    if (item->refused != 0) {
        errno = item->refused;
        return false;
    }
    CoreAnsx const path = getfn(item->name);
    FILE* file = CoreButl::ffpen(path, "rb", most);
    if (file == nullptr) return false;
    // The old data go first, so that a reload that fails leaves the item
    // plainly unloaded rather than holding stale bytes that look current.
    dropData(item);
    item->size = 0;
    item->position = 0;
    char* block = nullptr;
    try {
        // The size now, not the one ffpen judged: the file may have grown
        // since, and no more than the bound is ever read.
        long long const length = CoreButl::rdsze(file, path, most);
        if (length < 0 || length > INT_MAX - CorePool::iCoverhead) {
            std::fclose(file);
            if (CoreButl::fferr() == EFBIG) {
                errno = EFBIG; // refused and logged as too large
                return false;
            }
            CoreLog_::logfl(CoreAnsx(" cannot be read whole: ") + path, 1);
            return false;
        }
        block = allocBlock(int(length), path.c_str());
        if (length > 0 && std::fread(block, std::size_t(length), 1, file) != 1) {
            pool->free_(block);
            std::fclose(file);
            CoreLog_::logfl(CoreAnsx(" short read: ") + path, 1);
            return false;
        }
        std::fclose(file);
        closeFile(item); // an item in memory holds no file
        item->data = block;
        item->size = int(length);
        item->inmemory = true;
        item->position = 0;
        return true;
    } catch (...) {
        std::fclose(file);
        CoreLog_::loger(CoreAnsx("No memory to load ") + path, 1);
        return false;
    }
}

CoreNode* CoreFsys::getff(CoreXml_* document, CoreAnsx name, bool convert) {
    if (document == nullptr) {
        CoreLog_::loger(CoreAnsx("No document to read into: ") + name, 1);
        return nullptr;
    }
    int id = crtit(name, false);
    loadc(id, true, CoreButl::iCwholebytes);
    return document->getdc(ct2as(id), false, convert);
}

void CoreFsys::uload(CoreAnsx extension) {
    CoreAnsx const ext = extension.UpperCase().Trim();
    for (int i = items->count - 1; i >= 0; --i) {
        FSYSTEMLOC* item = static_cast<FSYSTEMLOC*>((*items)[unsigned(i)]);
        if (item->inmemory && CoreButl::getfx(item->name) == ext) {
            closeFile(item);
            dropData(item);
        }
    }
}

void CoreFsys::rload(CoreAnsx extension) {
    CoreAnsx const ext = extension.UpperCase().Trim();
    // Loading appends new items at the end only, so positions below i stay valid.
    for (int i = items->count - 1; i >= 0; --i) {
        FSYSTEMLOC* item = static_cast<FSYSTEMLOC*>((*items)[unsigned(i)]);
        if (!item->inmemory && item->source.Length() >= 0 && CoreButl::getfx(item->name) == ext) {
            CoreAnsx const source = item->source;
            loada(source, CoreAnsx(0), true, nullptr);
        }
    }
}

void CoreFsys::savea() {
    for (int i = 0; i < items->count; ++i) {
        FSYSTEMLOC* item = static_cast<FSYSTEMLOC*>((*items)[unsigned(i)]);
        if (!item->inmemory) continue;
        CoreAnsx const path = getfn(item->name);
        if (leavesFolder(item->name)) {
            // Names may come from an archive's table of contents: one such
            // name must not overwrite a file outside the data folder.
            CoreLog_::logfl(CoreAnsx(" names a file outside the data folder, not written: ") + path,
                            1);
            continue;
        }
        CoreLutl::crtpt(CoreButl::ffpen(path));
        if (CoreButl::getfx(item->name) == CoreButl::sCextxml) {
            CoreXml_ document;
            try {
                document.getfc(ct2as(item->id));
            } catch (...) {
                // Unreadable as XML: the bytes are kept as they are rather than lost.
                CoreLog_::logfl(CoreAnsx(" is not XML, written raw: ") + path, 1);
                if (!writeItem(path, item)) CoreLog_::logfl(CoreAnsx(" not written: ") + path, 1);
                continue;
            }
            CoreButl::svatx(path, document.settc(true, false), false);
        } else if (!writeItem(path, item)) {
            CoreLog_::logfl(CoreAnsx(" not written: ") + path, 1);
        }
    }
}

// ---- Existence tests -----------------------------------------------------------------------

bool CoreFsys::exstf(CoreAnsx folder, CoreAnsx file) {
    // Asked, not opened: an open could wait on a FIFO or act on a device,
    // and whatever is at the name (a folder too) is there, never missing
    // and never a free name to save under. A name stat cannot follow (a
    // loop of links, a folder it may not search) is there as well: only
    // one that leads nowhere is missing, so its load says what is wrong.
    struct stat st;
    if (::stat(CoreButl::rslve(folder + file).c_str(), &st) == 0) return true;
    return errno != ENOENT && errno != ENOTDIR;
}

bool CoreFsys::exstf(CoreAnsx main, short count, CoreAnsx* alternatives, CoreAnsx file,
                     CoreAnsx& found) {
    // A copy that can be read wins over one before it that cannot; when
    // none can, the first that is there is taken, so that the load names
    // the reason rather than calling the file missing.
    bool there = false;
    found = CoreAnsx("");
    for (int i = -1; i < (alternatives != nullptr ? count : 0); ++i) {
        CoreAnsx const folder = i < 0 ? main : alternatives[i];
        if (!exstf(folder, file)) continue;
        if (::access(CoreButl::rslve(folder + file).c_str(), R_OK) == 0) {
            found = folder;
            return true;
        }
        if (!there) found = folder;
        there = true;
    }
    return there;
}

bool CoreFsys::exstf(CoreAnsx name) {
    int id = crtit(name, false);
    if (isvld(id)) return true;
    return exstf(datafolder, name.Trim());
}

// ---- File-like access -------------------------------------------------------------------------

bool CoreFsys::wopen(int id, CoreAnsx mode) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr) return false;
    if (item->inmemory) {
        item->position = 0;
        return true;
    }
    closeFile(item);
    if (item->refused != 0) {
        errno = item->refused;
        return false;
    }
    item->mode = mode;
    FILE* file = CoreButl::ffpen(getfn(item->name), mode);
    if (file == nullptr) return false;
    if (closeafteruse) {
        std::fclose(file);
        item->position = 0;
    } else {
        item->file = file;
        item->fileopen = true;
    }
    return true;
}

long CoreFsys::wread(int id, void* buffer, long elementSize, long count) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr || buffer == nullptr || elementSize <= 0 || count <= 0) return 0;
    if (item->inmemory) {
        long long const left = item->position < item->size ? item->size - item->position : 0;
        long long whole = left / elementSize;
        if (whole > count) whole = count;
        long long bytes = whole * elementSize;
        char* out = static_cast<char*>(buffer);
        if (bytes > 0) std::memcpy(out, item->data + item->position, std::size_t(bytes));
        item->position += int(bytes);
        // A last element cut by the end gets only the bytes that exist and is
        // not counted, as fread does with a disk file.
        if (whole < count && left > bytes) {
            std::memcpy(out + bytes, item->data + item->position, std::size_t(left - bytes));
            item->position = item->size;
        }
        return long(whole);
    }
    if (closeafteruse) {
        FILE* file = reopen(item);
        if (file == nullptr) return 0;
        long got = long(std::fread(buffer, std::size_t(elementSize), std::size_t(count), file));
        long at = std::ftell(file);
        if (at >= 0 && at <= INT_MAX) item->position = int(at);
        std::fclose(file);
        return got;
    }
    if (item->file == nullptr) return 0;
    return long(std::fread(buffer, std::size_t(elementSize), std::size_t(count), item->file));
}

int CoreFsys::wseek(int id, long offset, int origin) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr) return -1;
    if (item->inmemory) {
        long long base;
        switch (origin) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = item->position; break;
        case SEEK_END: base = (long long)item->size - 1; break; // the last byte, not the end
        default: return -1;
        }
        // No item reaches past INT_MAX bytes, so an offset beyond half the
        // range is out of it whatever the base; adding it could overflow.
        if (offset > LONG_MAX / 2 || offset < LONG_MIN / 2) return -1;
        long long const target = base + offset;
        if (target < 0 || target >= item->size) return -1;
        item->position = int(target);
        return 0;
    }
    if (closeafteruse) {
        FILE* file = reopen(item);
        if (file == nullptr) return -1;
        int result = std::fseek(file, offset, origin);
        long at = std::ftell(file);
        if (at >= 0 && at <= INT_MAX) item->position = int(at);
        std::fclose(file);
        return result;
    }
    if (item->file == nullptr) return -1;
    return std::fseek(item->file, offset, origin);
}

long CoreFsys::wtell(int id) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr) return -1;
    if (item->inmemory || closeafteruse) return item->position;
    if (item->file == nullptr) return -1;
    return std::ftell(item->file);
}

int CoreFsys::weof_(int id) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr) return -1;
    if (item->inmemory) return item->position >= item->size ? -1 : 0;
    if (closeafteruse) {
        // Reopening clears the stream's end flag, so the end is where the
        // stored position reaches the file's length.
        FILE* file = reopen(item);
        if (file == nullptr) return -1;
        long length = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
        std::fclose(file);
        return length < 0 || item->position >= length ? -1 : 0;
    }
    if (item->file == nullptr) return -1;
    return std::feof(item->file);
}

void CoreFsys::wclse(int id) {
    FSYSTEMLOC* item = find(id);
    if (item != nullptr) closeFile(item);
}
