// The archive methods of CoreFsys: writing a whole archive, appending one
// item, reading an archive from a file or from an item of another store, and
// the one-item form that wraps a single XML document.

#include "storage/CoreFsys.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include <unistd.h>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "runtime/CoreTlst.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"

namespace {

// Tags of the table of contents below its root element.
CoreAnsx const& tagItem() {
    static CoreAnsx const t("ITEM");
    return t;
}
CoreAnsx const& tagEntry() {
    static CoreAnsx const t("ENTRY");
    return t;
}
CoreAnsx const& tagAddress() {
    static CoreAnsx const t("ADDRESS");
    return t;
}
CoreAnsx const& tagDim() {
    static CoreAnsx const t("DIM");
    return t;
}
CoreAnsx const& tagVersion() {
    static CoreAnsx const t("VERSION");
    return t;
}

CoreAnsx const& singleItem() {
    static CoreAnsx const t("NULL");
    return t;
} // the item of a ".V2X"

CoreAnsx normalised(CoreAnsx const& name) { return name.Trim().UpperCase(); }

constexpr unsigned long long kMaxLength = 0xFFFFFFFFull; // the length word holds 32 bits

unsigned long readLength(unsigned char const* header) {
    return (unsigned long)header[40] | ((unsigned long)header[41] << 8) |
           ((unsigned long)header[42] << 16) | ((unsigned long)header[43] << 24);
}

bool titleMatches(unsigned char const* header) {
    return std::memcmp(header, CoreFsys::sCheadertitle.c_str(), 8) == 0;
}

// A non-negative decimal count held by the named child of item; false when
// the child is missing or holds anything else (a sign, letters, 19+ digits).
bool readCount(CoreNode const* item, CoreAnsx const& tag, long long& value) {
    CoreNode const* element = item->getcd(tag);
    if (element == nullptr || element->leaf_() || !element->getcd()->leaf_()) return false;
    CoreAnsx const text = element->getcd()->gettx().Trim();
    char const* digits = text.c_str();
    int const n = text.Length();
    if (n < 1 || n > 18) return false;
    long long result = 0;
    for (int i = 0; i < n; ++i) {
        if (digits[i] < '0' || digits[i] > '9') return false;
        result = result * 10 + (digits[i] - '0');
    }
    value = result;
    return true;
}

void refuse(CoreAnsx const& archive, CoreAnsx const& why) {
    CoreLog_::logfl(CoreAnsx(" ") + archive + CoreAnsx(": ") + why, 1);
}

// A table of contents refused for size, in the opener's words: "table of
// contents too large (N bytes, larger than 16 MB)".
CoreAnsx tocTooLarge(long long bytes) {
    return CoreAnsx("table of contents ") + CoreButl::toolg(bytes, CoreButl::iCwholebytes);
}

// A pool block released on every way out.
class PoolBlock {
public:
    PoolBlock(CorePool* p) : pool(p), block(nullptr) {}
    ~PoolBlock() { reset(); }
    PoolBlock(PoolBlock const&) = delete;
    PoolBlock& operator=(PoolBlock const&) = delete;
    void reset(char* b = nullptr) {
        if (block != nullptr && pool != nullptr) pool->free_(block);
        block = b;
    }
    char* get() const { return block; }
    char* release() { // the block, no longer released here
        char* const b = block;
        block = nullptr;
        return b;
    }

private:
    CorePool* pool; // not owned
    char* block;    // owned block, or null
};

// A file closed on every way out.
class FileHold {
public:
    explicit FileHold(FILE* f) : file(f) {}
    ~FileHold() {
        if (file != nullptr) std::fclose(file);
    }
    FileHold(FileHold const&) = delete;
    FileHold& operator=(FileHold const&) = delete;
    FILE* get() const { return file; }

private:
    FILE* file; // owned stream, or null
};

// Why an archive whose data run to or past its end was refused: the length
// word points past the data there are, so the file lost its tail.
char const* const kCutBeforeToc = "cut short before its table of contents";

// Parses a table of contents read into toc (tocBytes bytes and a spare one
// for the terminator) into document and releases the block; the TOC element,
// or null, the archive refused and why set, when there is none or the text
// ends inside an element (the file lost its tail: the entries it still names
// would be read as if they were all).
CoreNode* parseToc(PoolBlock& toc, long long tocBytes, CoreXml_& document, CoreAnsx const& archive,
                   char const*& why) {
    toc.get()[tocBytes] = '\0';
    document.getfc(CoreAnsx(toc.get()));
    toc.reset();
    CoreNode* node =
        document.getrt() != nullptr ? document.getrt()->getcd(CoreFsys::sCtagfsysto) : nullptr;
    why = document.leftOpen() ? "cut short, its table of contents does not close"
          : node == nullptr   ? "no table of contents"
                              : nullptr;
    if (why == nullptr) return node;
    refuse(archive, why);
    return nullptr;
}

} // namespace

void CoreFsys::makeHeader(unsigned char* header, unsigned long length) {
    std::memset(header, 0, iCheaderdim);
    CoreAnsx const title = sCheadertitle + CoreLog_::sCversion_;
    std::size_t n = std::strlen(title.c_str());
    if (n > std::size_t(iCtitledim - 1))
        n = std::size_t(iCtitledim - 1); // the title keeps its terminating zero
    std::memcpy(header, title.c_str(), n);
    header[40] = (unsigned char)(length & 0xFF);
    header[41] = (unsigned char)((length >> 8) & 0xFF);
    header[42] = (unsigned char)((length >> 16) & 0xFF);
    header[43] = (unsigned char)((length >> 24) & 0xFF);
}

// ---- Writing ----------------------------------------------------------------------------

void CoreFsys::added(FSYSTEMLOC* record, CoreXml_* document, long address) {
    if (record == nullptr || document == nullptr) {
        CoreLog_::loger(CoreAnsx("Archive entry without item or table of contents"), 1);
        return;
    }
    CoreNode* item = new CoreNode(tagItem());
    try {
        CoreNode* entry = new CoreNode(tagEntry());
        item->addcd(entry);
        entry->addcd(new CoreNode(record->name));
        CoreNode* where = new CoreNode(tagAddress());
        item->addcd(where);
        where->addcd(new CoreNode(CoreAnsx(address)));
        CoreNode* dim = new CoreNode(tagDim());
        item->addcd(dim);
        dim->addcd(new CoreNode(CoreAnsx(record->size)));
        CoreNode* version = new CoreNode(tagVersion());
        item->addcd(version);
        version->addcd(new CoreNode(CoreLog_::sCversion_));
    } catch (...) {
        delete item;
        throw;
    }
    document->pappd(&sCtagfsysto, 1, item);
}

bool CoreFsys::savea(CoreAnsx archive) { return savea(archive, false); }

bool CoreFsys::savea(CoreAnsx archive, bool createNew) {
    CoreXml_ document;
    document.getfc(CoreAnsx("<") + sCtagfsysto + CoreAnsx("> </") + sCtagfsysto + CoreAnsx(">"));
    unsigned long long length = 0;
    for (int i = 0; i < items->count; ++i) {
        FSYSTEMLOC* item = static_cast<FSYSTEMLOC*>((*items)[unsigned(i)]);
        if (item->inmemory) length += (unsigned long long)item->size;
    }
    if (length > kMaxLength) {
        refuse(archive, "items too large for one archive");
        return false;
    }
    unsigned char header[iCheaderdim];
    makeHeader(header, (unsigned long)length);

    auto const fill = [&](FILE* file) {
        bool ok = std::fwrite(header, iCheaderdim, 1, file) == 1;
        long address = 0;
        for (int i = 0; ok && i < items->count; ++i) {
            FSYSTEMLOC* item = static_cast<FSYSTEMLOC*>((*items)[unsigned(i)]);
            if (!item->inmemory) continue;
            if (item->size > 0 && std::fwrite(item->data, std::size_t(item->size), 1, file) != 1)
                ok = false;
            added(item, &document, address);
            address += item->size;
        }
        CoreAnsx const text = document.settc(false, false);
        std::size_t const textBytes = std::strlen(text.c_str());
        return ok && (textBytes == 0 || std::fwrite(text.c_str(), textBytes, 1, file) == 1);
    };
    return createNew ? CoreButl::wrnew(archive, fill) : CoreButl::wrall(archive, fill);
}

bool CoreFsys::appnd(CoreAnsx archive, CoreAnsx itemName) {
    FSYSTEMLOC* item = gtsit(itemName);
    if (item == nullptr || !item->inmemory) {
        refuse(archive, "no item in memory to append");
        return false;
    }
    CoreAnsx const path = CoreButl::rslve(archive);
    FileHold in(CoreButl::ffpen(path, "rb"));
    if (in.get() == nullptr || ::access(path.c_str(), W_OK) != 0) {
        refuse(archive, CoreButl::ffwhy("cannot be opened for update").c_str());
        return false;
    }
    unsigned char header[iCheaderdim];
    if (std::fread(header, iCheaderdim, 1, in.get()) != 1 || !titleMatches(header)) {
        refuse(archive, "not an archive");
        return false;
    }
    unsigned long long const oldLength = readLength(header);
    long end = std::fseek(in.get(), 0, SEEK_END) == 0 ? std::ftell(in.get()) : -1;
    long long const tocStart = iCheaderdim + (long long)oldLength;
    if (end < 0) {
        refuse(archive, "cannot find its end");
        return false;
    }
    if (tocStart >= end) {
        refuse(archive, kCutBeforeToc);
        return false;
    }
    long long const tocBytes = end - tocStart;
    if (tocBytes > CoreButl::iCwholebytes) {
        refuse(archive, tocTooLarge(tocBytes));
        return false;
    }
    PoolBlock toc(pool);
    toc.reset(allocBlock(int(tocBytes + 1), "appnd"));
    if (std::fseek(in.get(), long(tocStart), SEEK_SET) != 0 ||
        std::fread(toc.get(), std::size_t(tocBytes), 1, in.get()) != 1) {
        refuse(archive, "table of contents unreadable");
        return false;
    }
    CoreXml_ document;
    char const* why = nullptr;
    if (parseToc(toc, tocBytes, document, archive, why) == nullptr) return false;
    toctext = document.settc(true, false);
    unsigned long long const newLength = oldLength + (unsigned long long)item->size;
    if (newLength > kMaxLength) {
        refuse(archive, "archive would grow past its length word");
        return false;
    }
    added(item, &document, long(oldLength));
    CoreAnsx const text = document.settc(false, false);

    // The old file is copied into a new one beside it, which replaces it only
    // when complete: an interrupted append leaves the previous archive whole.
    return CoreButl::wrall(path, [&](FILE* file) {
        makeHeader(header, (unsigned long)newLength);
        bool ok = std::fwrite(header, iCheaderdim, 1, file) == 1 &&
                  std::fseek(in.get(), iCheaderdim, SEEK_SET) == 0;
        std::string chunk(65536, '\0');
        unsigned long long left = oldLength;
        while (ok && left > 0) {
            std::size_t const want = left < chunk.size() ? std::size_t(left) : chunk.size();
            ok = std::fread(chunk.data(), want, 1, in.get()) == 1 &&
                 std::fwrite(chunk.data(), want, 1, file) == 1;
            left -= want;
        }
        if (ok && item->size > 0)
            ok = std::fwrite(item->data, std::size_t(item->size), 1, file) == 1;
        std::size_t const textBytes = std::strlen(text.c_str());
        return ok && (textBytes == 0 || std::fwrite(text.c_str(), textBytes, 1, file) == 1);
    });
}

// ---- Reading ------------------------------------------------------------------------------

void CoreFsys::adopt(int id, char* block, int bytes, CoreAnsx const& source) {
    FSYSTEMLOC* item = find(id);
    if (item == nullptr) {
        if (block != nullptr && pool != nullptr) pool->free_(block);
        return;
    }
    closeFile(item);
    dropData(item);
    item->data = block;
    item->size = bytes;
    item->position = 0;
    item->inmemory = true;
    item->refused = 0; // data taken, as setit takes them
    item->source = source;
}

bool CoreFsys::loada(CoreAnsx archive, CoreAnsx filter, bool skipLoaded, CoreFsys* source,
                     long long most, std::function<bool()> const& stop) {
    lastarchive = archive;
    refusal = CoreAnsx("");
    auto fail = [&](CoreAnsx const& why) {
        refuse(archive, why);
        refusal = why;
        return false;
    };

    // Everything taken below is given back on every way out, a thrown parse
    // or pool error included.
    struct Session {
        CoreFsys* from = nullptr;      // store holding the archive
        CoreFsys* temporary = nullptr; // owned when no source store was given
        int id = -1;                   // the archive's item in from
        ~Session() {
            if (from != nullptr && id >= 0) from->wclse(id);
            delete temporary;
        }
    } session;
    if (source == nullptr) {
        session.temporary = new CoreFsys(pool, CoreAnsx(""), false);
        session.from = session.temporary;
        session.id = session.temporary->crtit(archive, false);
        // A path keeps the case it was given in; only its item entry is upper case.
        session.temporary->rename(session.temporary->find(session.id), archive.Trim());
    } else {
        // By its exact name: a fragment match would open another archive
        // ("ARC.V2P" inside "OLDARC.V2P"), or one of another folder.
        session.from = source;
        session.id = source->registerExact(archive);
    }
    CoreFsys* from = session.from;
    int const id = session.id;
    CoreAnsx const filterKey = normalised(filter);
    bool const filtering = filterKey != "0";

    // The opener's reason follows: a missing archive reads "cannot be opened:
    // missing", one at a loop of links or without access says so.
    errno = 0;
    if (!from->wopen(id, CoreAnsx("rb")))
        return fail(CoreAnsx("cannot be opened: ") + CoreButl::opnwy());
    // A file that opens with the title is an archive, however little of its
    // header is left.
    unsigned char header[iCheaderdim];
    long const headerBytes = from->wread(id, header, 1, iCheaderdim);
    if (headerBytes < long(sCheadertitle.Length()) || !titleMatches(header))
        return fail("not an archive");
    if (headerBytes != iCheaderdim) return fail("cut short in its header");
    long long const length = (long long)readLength(header);
    long long const p0 = iCheaderdim;
    if (from->wseek(id, 0, SEEK_END) != 0) return fail("cannot find its end");
    // For an item in memory that seek lands on its last byte: the end is one
    // further, or the table of contents would lose its final ">" and read as
    // cut short.
    long long end = from->wtell(id);
    if (end >= 0 && from->find(id)->inmemory) ++end;
    long long const tocStart = p0 + length;
    if (end < 0) return fail("cannot find its end");
    if (most >= 0 && end > most) return fail(CoreButl::toolg(end, most));
    if (end - tocStart < 1) return fail(kCutBeforeToc);
    // Judged before a byte of it is read: padding after a table of contents
    // would otherwise be read as part of it, up to gigabytes.
    long long const tocBytes = end - tocStart;
    if (tocBytes > CoreButl::iCwholebytes) return fail(tocTooLarge(tocBytes));
    if (from->wseek(id, long(tocStart), SEEK_SET) != 0)
        return fail("table of contents out of reach");
    PoolBlock toc(pool);
    toc.reset(allocBlock(int(tocBytes + 1), "loada"));
    if (from->wread(id, toc.get(), long(tocBytes), 1) != 1)
        return fail("table of contents unreadable");
    CoreXml_ document;
    char const* why = nullptr;
    CoreNode* tocNode = parseToc(toc, tocBytes, document, archive, why);
    if (tocNode == nullptr) {
        refusal = CoreAnsx(why);
        return false;
    }
    toctext = document.settc(true, false);

    CoreTlst* children = tocNode->getcn();
    int const count = children != nullptr ? children->count : 0;
    for (int i = 0; i < count; ++i) {
        CoreNode* child = static_cast<CoreNode*>((*children)[unsigned(i)]);
        if (normalised(child->gettx()) != tagItem() || child->leaf_()) continue;
        CoreAnsx const entry = child->getls(tagEntry());
        CoreAnsx const key = normalised(entry);
        if (key.Length() <= 0) {
            refuse(archive, "entry without a name skipped");
            continue;
        }
        if (filtering && filterKey.Pos(key) == 0 && key.Pos(filterKey) == 0) continue;
        long long address = 0, dim = 0;
        if (!readCount(child, tagAddress(), address) || !readCount(child, tagDim(), dim) ||
            address + dim > length || dim > INT_MAX - CorePool::iCoverhead) {
            refuse(archive + CoreAnsx(" ") + key, "entry outside the data skipped");
            continue;
        }
        // Entries are registered by exact name: "1.WAV" and "11.WAV" stay two items.
        int const target = registerExact(key);
        if (from == this && target == id) {
            refuse(archive + CoreAnsx(" ") + key, "entry names the archive itself, skipped");
            continue;
        }
        if (skipLoaded && isvld(target)) continue;
        // Read once into the block the item keeps, in pieces: a kernel of a
        // gigabyte does not hold a closing instance for the whole of it.
        PoolBlock block(pool);
        block.reset(allocBlock(int(dim), "loada"));
        bool read = dim == 0 || from->wseek(id, long(p0 + address), SEEK_SET) == 0;
        for (long long done = 0; read && done < dim;) {
            if (stop && stop()) {
                refusal = sCstopped;
                return false;
            }
            long long const piece =
                dim - done < CoreButl::iCwholebytes ? dim - done : CoreButl::iCwholebytes;
            read = from->wread(id, block.get() + done, long(piece), 1) == 1;
            done += piece;
        }
        if (!read) {
            refuse(archive + CoreAnsx(" ") + key, "entry unreadable, skipped");
            continue;
        }
        adopt(target, block.release(), int(dim), archive);
    }
    return true;
}

// ---- One-item form ------------------------------------------------------------------------

bool CoreFsys::svv2x(CorePool* pool, CoreXml_* document, CoreAnsx file) {
    if (document == nullptr) {
        refuse(file, "no document to write");
        return false;
    }
    CoreAnsx const text = document->settc(false, false);
    CoreFsys store(pool, CoreAnsx(""), false);
    int id = store.crtit(singleItem(), false);
    store.setit(id, text.c_str(), long(std::strlen(text.c_str())), CoreAnsx(""), true, false);
    return store.savea(file);
}

bool CoreFsys::ldv2x(CorePool* pool, CoreXml_* document, CoreAnsx file) {
    if (document == nullptr) {
        refuse(file, "no document to read into");
        return false;
    }
    CoreFsys store(pool, CoreAnsx(""), false);
    if (!store.loada(file, CoreAnsx(0), false, nullptr)) return false;
    int id = store.crtit(singleItem(), false);
    if (!store.isvld(id)) {
        refuse(file, "holds no document");
        return false;
    }
    document->getfc(store.ct2as(id));
    return true;
}

bool CoreFsys::cvv2x(CorePool* pool, CoreAnsx file) {
    CoreXml_ document;
    if (!ldv2x(pool, &document, file)) return false;
    return document.settf(CoreButl::setfx(file, CoreButl::sCextxml), true, false, false);
}

bool CoreFsys::cvxml(CorePool* pool, CoreAnsx file) {
    CoreXml_ document;
    if (document.getff(file, false) == nullptr) {
        refuse(file, "cannot be read");
        return false;
    }
    return svv2x(pool, &document, CoreButl::setfx(file, CoreButl::sCextv2x));
}
