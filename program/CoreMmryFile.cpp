// The file side of program memory: loading a program file into a location,
// setup files, the folder scan, cache records and the host chunk.

#include "program/CoreMmry.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/CoreButl.h"
#include "runtime/CoreHutl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreTlst.h"
#include "runtime/CoreXutl.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

namespace {

CoreAnsx key(CoreAnsx const& text) { return text.Trim().UpperCase(); }

int childCount(CoreNode const* node) {
    CoreTlst const* list = node ? node->getcn() : nullptr;
    return list ? list->count : 0;
}

CoreNode* childAt(CoreNode const* node, int index) {
    return static_cast<CoreNode*>((*node->getcn())[unsigned(index)]);
}

// Appends under parent an element tag holding value.
void addValue(CoreNode* parent, CoreAnsx const& tag, CoreNode* valueNode) {
    std::unique_ptr<CoreNode> value(valueNode);
    auto element = std::make_unique<CoreNode>(tag);
    element->addcd(value.get());
    value.release();
    parent->addcd(element.get());
    element.release();
}

void addValue(CoreNode* parent, CoreAnsx const& tag, CoreAnsx const& text) {
    addValue(parent, tag, new CoreNode(text));
}

// Gives document a root holding one element tag; that element.
CoreNode* startDocument(CoreXml_& document, CoreAnsx const& tag) {
    auto root = std::make_unique<CoreNode>(CoreXml_::sCroot);
    CoreNode* const top = new CoreNode(tag);
    root->addcd(top);
    document.setrt(root.release());
    return top;
}

// An element of the document root by name, never a bare value.
CoreNode* topElement(CoreXml_& document, CoreAnsx const& tag) {
    CoreNode* const root = document.getrt();
    CoreNode* const found = root ? root->getcd(tag) : nullptr;
    return found && !found->leaf_() ? found : nullptr;
}

// A SETUP without programs has no empty-element form: the writer leaves the
// bare text SETUP behind the declaration lines, and it reads as no element.
bool bareSetup(CoreAnsx const& raw) {
    std::string rest;
    char const* s = raw.c_str();
    while (*s != '\0') {
        if (s[0] == '<') {
            if (s[1] != '?' && s[1] != '!') return false;
            while (*s != '\0' && *s != '>') ++s;
            if (*s == '>') ++s;
            continue;
        }
        rest += *s++;
    }
    return key(CoreAnsx(rest.c_str())) == DataXml_::sCtagsetup_;
}

// A document number as a location: truncated, -1 outside 0..9999 (NaN too).
// One level-0 line for a file refused, naming it and why.
void refuse(CoreAnsx const& file, char const* reason) {
    CoreLog_::logfl(file + CoreAnsx(": ") + CoreAnsx(reason), 0);
}

// A file name a document gives for one of our files, used only when it
// stays inside its folder; a refusal is logged once, naming the document,
// the element and the name as given.
bool nameTaken(CoreAnsx const& name, CoreAnsx const& document, CoreAnsx const& tag) {
    if (CoreButl::infld(name)) return true;
    CoreLog_::loger(document + CoreAnsx(": ") + tag +
                        CoreAnsx(" refused, not a name inside its folder: \"") +
                        CoreButl::escct(name) + CoreAnsx("\""),
                    0);
    return false;
}

// The name an element holds when it is there, "" when it is there empty;
// false when the element is absent (or "0", the absent mark).
bool namedBy(CoreNode const* program, CoreAnsx const& tag, CoreAnsx& name) {
    CoreNode const* element = program->getcd(tag);
    if (element == nullptr) return false;
    name = program->getls(tag);
    return element->leaf_() || program->exslc(tag);
}

// A document's VECTORFILENAME when present and usable; empty text is the
// unset mark, as "0" is, and passes as it is.
bool vectorBy(CoreNode const* program, CoreAnsx const& document, CoreAnsx& name) {
    if (!program->exslc(DataXml_::sCtagactvnm)) return false;
    name = program->getls(DataXml_::sCtagactvnm);
    return name.Length() <= 0 || nameTaken(name, document, DataXml_::sCtagactvnm);
}

// What a lock file that is not a plain file is, for the log.
char const* fileKind(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    return "a device or socket";
}

// An exclusive lock on a file beside a setup, held for one read and write
// of it: the setup itself is replaced whole by each write, so the lock
// cannot be on it. The lock file stays; removing it would let a third
// writer lock a new file while the second holds the old one. Another
// account's lock file (made under its umask) may not open for writing:
// flock takes a read-only descriptor as well. Only a plain file is taken:
// what is at the name is asked first (the lock does not follow links), and
// anything else is refused by its kind without an open, since opening a
// device can act on it. The open itself neither follows a link nor waits,
// for a name swapped in meanwhile: a FIFO's open would wait for a writer
// for ever, and a dangling link would make the open create a file wherever
// it points. The lock is tried, never waited for: a holder stopped in a
// debugger must not stall a save, nor the close behind it.
class SetupLock {
public:
    SetupLock(std::string const& path, std::atomic<bool> const& ending) {
        struct stat there;
        if (::lstat(path.c_str(), &there) == 0 && !S_ISREG(there.st_mode)) {
            kind = fileKind(there.st_mode);
            return;
        }
        int const how = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | how, 0666);
        if (fd < 0 && errno != ELOOP) {
            error = errno;
            fd = ::open(path.c_str(), O_RDONLY | how);
        }
        struct stat found;
        if (fd < 0) {
            // O_NOFOLLOW refuses a link with ELOOP.
            if (errno == ELOOP && ::lstat(path.c_str(), &found) == 0 && S_ISLNK(found.st_mode))
                kind = fileKind(found.st_mode);
            else if (errno == ELOOP)
                error = ELOOP;
            return;
        }
        error = 0;
        if (::fstat(fd, &found) != 0)
            error = errno;
        else if (!S_ISREG(found.st_mode))
            kind = fileKind(found.st_mode);
        if (error != 0 || kind != nullptr) {
            ::close(fd);
            fd = -1;
            return;
        }
        auto const until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(CoreMmry::iClockwait);
        for (;;) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return;
            if (errno == EINTR) continue;
            error = errno;
            busy = errno == EWOULDBLOCK;
            closing = ending.load();
            if (!busy || closing || std::chrono::steady_clock::now() >= until) break;
            CoreXutl::sleep(CoreMmry::iClockretry);
        }
        ::close(fd);
        fd = -1;
    }
    ~SetupLock() {
        if (fd >= 0) ::close(fd); // releases the lock
    }
    SetupLock(SetupLock const&) = delete;
    SetupLock& operator=(SetupLock const&) = delete;
    bool held() const { return fd >= 0; }
    // Why it is not held, for the log.
    CoreAnsx why() const {
        if (busy && closing) return CoreAnsx("the bank was locked when the instance closed");
        if (busy)
            return CoreAnsx("bank locked for ") + CoreAnsx(CoreMmry::iClockwait / 1000) +
                   CoreAnsx(" s");
        if (kind != nullptr)
            return CoreAnsx("cannot lock the bank: its lock file is ") + CoreAnsx(kind) +
                   CoreAnsx(", not a plain file");
        return CoreAnsx("cannot lock the bank: ") + CoreButl::systemReason(error);
    }

private:
    int fd = -1;
    int error = 0;
    char const* kind = nullptr; // what the lock file is when it is not a plain file
    bool busy = false;          // another holder kept it
    bool closing = false;       // the try ended as the instance closed
};

// The setup file (its full path) as every instance sharing it meets it:
// through its links, at the file they lead to, which is the one written and
// has its lock beside it. That lock taken, with target the file; null, with
// why in reason, when it was not.
std::unique_ptr<SetupLock> lockSetup(CoreAnsx const& file, std::atomic<bool> const& ending,
                                     CoreAnsx& target, CoreAnsx& reason) {
    target = CoreButl::lnktg(CoreButl::rslve(file));
    if (target.Length() <= 0) {
        reason = CoreAnsx("bank not readable: its links lead round in a loop");
        return nullptr;
    }
    auto held = std::make_unique<SetupLock>(std::string(target.c_str()) + ".lock", ending);
    if (held->held()) return held;
    reason = held->why();
    return nullptr;
}

// The PROGRAM entries of a setup's text as the reader takes them (elements
// named PROGRAM right under a top-level SETUP, the last one), found by the
// reader's own tag rules without building the document, and counted up to
// most: the scan ends at a SETUP's most-th entry. -1, with why in reason,
// for a text the reader refuses.
int countEntries(std::string const& raw, int most, CoreAnsx& reason) {
    int depth = 0, count = 0;
    bool setup = false;  // a top-level SETUP was opened
    bool inside = false; // the top-level element open is a SETUP
    for (std::size_t at = raw.find('<'); at != std::string::npos; at = raw.find('<', at)) {
        bool const close = at + 1 < raw.size() && raw[at + 1] == '/';
        std::size_t const from = at + (close ? 2 : 1), end = raw.find('>', from);
        if (end == std::string::npos) break; // a tag cut off by the end
        at = end + 1;
        if (close) {
            if (depth == 0) {
                reason = CoreAnsx("bank does not parse");
                return -1;
            }
            --depth;
            continue;
        }
        if (end > from && (raw[from] == '!' || raw[from] == '?')) continue;
        int length = int(end - from);
        bool const closed = CoreXml_::selfClosed(raw.c_str() + from, length);
        CoreAnsx const tag = key(CoreAnsx(raw.substr(from, std::size_t(length)).c_str()));
        if (++depth == 1) {
            inside = tag == DataXml_::sCtagsetup_;
            if (inside) {
                setup = true;
                count = 0;
            }
        } else if (depth == 2 && inside && tag == DataXml_::sCtagprogrm && ++count >= most) {
            return most;
        }
        if (closed) --depth;
    }
    if (depth > 0) {
        reason = CoreAnsx("bank cut short");
        return -1;
    }
    if (!setup && !bareSetup(CoreAnsx(raw.c_str()))) {
        reason = CoreAnsx("bank holds no SETUP");
        return -1;
    }
    return count;
}

// A setup file read whole and parsed: its text, its document and its SETUP
// element (null for a setup without programs). False, with why in reason,
// when it cannot be read, does not parse, is cut short or is no setup.
// With count, the text is not parsed: its entries are counted into it, up
// to a full bank (countEntries), and document and setup stay as they were.
bool readBank(CoreAnsx const& path, std::string& raw, CoreXml_& document, CoreNode*& setup,
              CoreAnsx& reason, int* count = nullptr) {
    errno = 0;
    CoreAnsx const text = CoreButl::getfc(path);
    if (text == CoreAnsx(0)) {
        reason = CoreAnsx("bank not readable") +
                 (errno != 0 ? CoreAnsx(": ") + CoreButl::systemReason(errno) : CoreAnsx(""));
        return false;
    }
    raw = text.c_str();
    if (count != nullptr) return (*count = countEntries(raw, CoreMmry::iCbankdim, reason)) >= 0;
    try {
        document.getfc(text);
    } catch (CoreAnsx const&) {
        reason = CoreAnsx("bank does not parse");
        return false;
    }
    if (document.cutsh(path)) {
        reason = CoreAnsx("bank cut short");
        return false;
    }
    setup = topElement(document, DataXml_::sCtagsetup_);
    if (setup == nullptr && !bareSetup(text)) {
        reason = CoreAnsx("bank holds no SETUP");
        return false;
    }
    return true;
}

// Whether a setup entry's FILENAME names file: the same name ignoring case,
// or the same without extension when the entry gives none (the loader then
// tries the archive and the XML form).
bool namesFile(CoreAnsx const& entry, CoreAnsx const& file) {
    if (key(entry) == key(file)) return true;
    return CoreButl::getfx(entry).Length() <= 0 &&
           key(entry) == key(CoreButl::setfx(file, CoreAnsx("")));
}

// The PROGRAM elements under setup, in document order.
std::vector<CoreNode const*> programsOf(CoreNode const* setup) {
    std::vector<CoreNode const*> found;
    for (int c = 0; c < childCount(setup); ++c) {
        CoreNode const* program = childAt(setup, c);
        if (!program->leaf_() && key(program->gettx()) == DataXml_::sCtagprogrm)
            found.push_back(program);
    }
    return found;
}

// Where the closing tag of the setup's root begins in raw, or npos.
std::size_t setupEnd(std::string const& raw) {
    std::size_t at = raw.rfind("</");
    while (at != std::string::npos) {
        std::size_t name = at + 2;
        while (name < raw.size() && (raw[name] == ' ' || raw[name] == '\t')) ++name;
        if (::strncasecmp(raw.c_str() + name, "SETUP", 5) == 0) return at;
        if (at == 0) break;
        at = raw.rfind("</", at - 1);
    }
    return std::string::npos;
}

int slotOf(double value) {
    if (!(value > -1.0 && value < double(CoreMmry::iCmemorydim))) return -1;
    return int(value);
}

// The setup reader's exchange sort, kept as designed, quadratic and not
// stable: entries of equal SEQUENCE land where this very sort has always
// put them, and a stable or faster sort would place them otherwise. So a
// long setup takes long: a raised stop flag ends it before its next pass
// (false; the order half made).
template <class T, class Key>
bool exchangeSort(std::vector<T>& entries, Key key, std::atomic<bool> const* stop = nullptr) {
    for (std::size_t a = 0; a < entries.size(); ++a) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
        for (std::size_t b = a; b < entries.size(); ++b)
            if (key(entries[b]) < key(entries[a])) std::swap(entries[a], entries[b]);
    }
    return true;
}

// Where the setup reader puts the entry at index which among entries of
// these SEQUENCE values: its rank after the reader's exchange sort.
int sortedPlace(std::vector<int> const& sequences, std::size_t which) {
    std::vector<std::pair<int, std::size_t>> order;
    for (std::size_t k = 0; k < sequences.size(); ++k) order.emplace_back(sequences[k], k);
    exchangeSort(order, [](std::pair<int, std::size_t> const& e) { return e.first; });
    for (std::size_t k = 0; k < order.size(); ++k)
        if (order[k].second == which) return int(k);
    return -1;
}

} // namespace

// ---- Helpers ----------------------------------------------------------------------------------

bool CoreMmry::findProgram(CoreAnsx const& path, CoreAnsx& folder) {
    return CoreFsys::exstf(basefolder, short(extras.size()), extras.data(), path, folder);
}

bool CoreMmry::writeDocument(CoreXml_& document, CoreAnsx const& path, bool pretty, bool topbreak) {
    CoreAnsx const text = CoreButl::sCxmlheader + CoreButl::sCxmlcopyright +
                          document.settc(pretty, topbreak) + CoreAnsx("\n");
    return CoreButl::wrall(path, text.c_str(), std::size_t(text.Length()));
}

CoreAnsx CoreMmry::recordPath(CoreAnsx const& file) const {
    CoreAnsx const base = CoreButl::getfn(file, true);
    // A location without a file name has no record (it would be a hidden ".xml").
    if (base.Length() <= 0) return CoreAnsx("");
    return cachefolder + CoreButl::setfx(base, CoreButl::sCextxml);
}

double CoreMmry::programTime(CoreAnsx const& file) {
    CoreAnsx const path = programfolder + file;
    CoreAnsx folder;
    if (!findProgram(path, folder)) return 0.0;
    return CoreHutl::getst(folder + path);
}

// ---- Loading one program ----------------------------------------------------------------------

bool CoreMmry::loadl(int i, CoreAnsx const& f) {
    MEMORYLOC& m = table->loc[i];
    // A program already held stays whole when its file cannot be read again
    // (gone, renamed, or never written, as for a program from a host chunk).
    std::unique_ptr<CoreXml_> held(m.document);
    CoreAnsx const heldFile = m.file, heldVfile = m.vfile;
    m.file = f;
    m.vfile = CoreAnsx(0);
    m.document = nullptr;
    CoreAnsx path = programfolder + f;
    CoreAnsx folder("");
    bool ok = false;
    try {
        m.document = new CoreXml_;
        if (CoreButl::getfx(f).Length() <= 0) {
            path = CoreButl::setfx(path, CoreButl::sCextv2p);
            if (!sharedfs && !findProgram(path, folder)) {
                path = CoreButl::setfx(path, CoreButl::sCextxml);
                m.file = CoreButl::setfx(f, CoreButl::sCextxml);
            } else {
                m.file = CoreButl::setfx(f, CoreButl::sCextv2p);
            }
        }
        bool const isArchive = CoreButl::getfx(path) == CoreButl::sCextv2p;
        bool found = true;
        CoreAnsx refusal("not found"); // why the file gave no document
        int refused = 0;               // the opener's refusal of a file of the wrong kind
        if (isArchive) {
            folder = CoreAnsx("");
            // The shared store reads what lies in its own data folder (or
            // holds it in memory) by the name relative to it; an archive in
            // an alternative data path is read from its file.
            bool shared = sharedfs;
            bool const onDisk = findProgram(path, folder); // a program root holds it
            if (!sharedfs) {
                found = onDisk;
            } else if (onDisk && !fsys->isdtf(folder)) {
                shared = false;
            } else {
                folder = CoreAnsx("");
            }
            if (found) {
                CoreAnsx const item = CoreButl::setfx(path, CoreButl::sCextxml);
                CoreFsys archive(pool, folder, false, false);
                found = archive.loada(folder + path, item, false, shared ? fsys : nullptr);
                if (found) m.document->getfc(archive.ct2as(archive.crtit(item, false)));
                // An archive that is there and does not read says why, in the
                // archive's words; one the shared store could not open and no
                // root holds is missing (the opener's reason follows the words).
                bool const absent =
                    !onDisk && archive.getrf().Pos(CoreAnsx("cannot be opened")) == 1;
                if (!found && !absent)
                    refusal = archive.getrf().Length() > 0 ? archive.getrf()
                                                           : CoreAnsx("archive does not read");
            }
        } else {
            found = findProgram(path, folder);
            // A file that is there and gives no document says why: its
            // kind, its size, or the open's own error (a loop of links, no
            // access).
            if (found && m.document->getff(folder + path, false) == nullptr) {
                int const error = errno;
                refused = CoreButl::fferr() != 0 ? CoreButl::fferr() : error;
            }
        }
        CoreNode* program = nullptr;
        if (!found) {
            refuse(folder + path, refusal.c_str());
        } else if (!m.document->cutsh(folder + path)) {
            program = topElement(*m.document, DataXml_::sCtagprogrm);
            if (program == nullptr)
                refuse(folder + path,
                       refused != 0 ? CoreButl::systemReason(refused).c_str() : "holds no PROGRAM");
        }
        if (program != nullptr) {
            m.name = program->getls(DataXml_::sCtagprognm);
            // A vector file name the program cannot keep inside the folder
            // counts as absent: the program file stands in.
            CoreAnsx vector;
            if (isArchive && vectorBy(program, folder + path, vector)) m.vfile = vector;
            CoreAnsx const* tags[3] = {&DataXml_::sCtagcategr, &DataXml_::sCtagsubca1,
                                       &DataXml_::sCtagsubca2};
            for (int k = 0; k < 3; ++k)
                if (program->exslc(*tags[k])) m.category[k] = program->getls(*tags[k]);
            if (program->exslc(DataXml_::sCtagdescrp))
                m.descr = program->getls(DataXml_::sCtagdescrp);
            m.cached = folder + path;
            m.inuse = true;
            m.failed = false;
            m.deferred = false;
            m.archive = isArchive;
            ok = true;
        }
    } catch (CoreAnsx const&) {
        refuse(folder + path, "does not parse");
        ok = false;
    }
    if (!ok) {
        delete m.document;
        m.document = nullptr;
    }
    if (m.vfile == CoreAnsx(0)) m.vfile = m.file;
    if (!ok && held) {
        m.document = held.release();
        m.file = heldFile;
        m.vfile = heldVfile;
    }
    if (ok && caching) setca(i);
    return ok;
}

// ---- Cache records ----------------------------------------------------------------------------

void CoreMmry::setca(int i) {
    MEMORYLOC const& m = table->loc[i];
    CoreAnsx const path = recordPath(m.file);
    if (path.Length() <= 0) return;
    CoreXml_ record;
    CoreNode* const cache = startDocument(record, DataXml_::sCtagcache_);
    addValue(cache, DataXml_::sCtagorgfnm, m.file);
    addValue(cache, DataXml_::sCtagprognm, m.name);
    addValue(cache, DataXml_::sCtagcategr, m.category[0]);
    if (m.category[1].Length() > 0 && m.category[1] != CoreAnsx(0))
        addValue(cache, DataXml_::sCtagsubca1, m.category[1]);
    if (m.category[2].Length() > 0 && m.category[2] != CoreAnsx(0))
        addValue(cache, DataXml_::sCtagsubca2, m.category[2]);
    addValue(cache, DataXml_::sCtagdescrp, m.descr);
    addValue(cache, DataXml_::sCtagcachef, m.cached);
    writeDocument(record, path, false, false);
}

bool CoreMmry::getca(int i, CoreAnsx const& filename) {
    CoreAnsx const path = recordPath(filename);
    if (path.Length() <= 0 || !CoreFsys::exstf(CoreAnsx(""), path)) return false;
    CoreXml_ record;
    try {
        record.getff(path, false);
    } catch (CoreAnsx const&) {
        return false;
    }
    CoreNode* const cache = topElement(record, DataXml_::sCtagcache_);
    if (cache == nullptr) return false;
    MEMORYLOC& m = table->loc[i];
    delete m.document;
    m.document = nullptr;
    m.file = cache->getls(DataXml_::sCtagorgfnm);
    // A failed load before may have left its vector file on this free location.
    m.vfile = CoreAnsx(0);
    m.name = cache->getls(DataXml_::sCtagprognm);
    m.category[0] = cache->getls(DataXml_::sCtagcategr);
    m.category[1] = cache->getls(DataXml_::sCtagsubca1);
    m.category[2] = cache->getls(DataXml_::sCtagsubca2);
    m.descr = cache->getls(DataXml_::sCtagdescrp);
    m.cached = cache->getls(DataXml_::sCtagcachef);
    m.archive = false;
    m.inuse = true;
    m.failed = false;
    m.deferred = true;
    // Current only when the program file, found as a load would find it, is
    // older than the record; a program file that cannot be found is not.
    double const programAge = programTime(m.file);
    return programAge > 0.0 && programAge < CoreHutl::getst(path);
}

void CoreMmry::invca(int i) {
    try {
        CoreAnsx const path = recordPath(table->loc[i].file);
        if (path.Length() > 0 && CoreFsys::exstf(CoreAnsx(""), path))
            CoreXutl::delfl(CoreButl::rslve(path));
    } catch (...) {
        // A record that cannot be removed goes stale and is read as such.
    }
}

// ---- Setup files ------------------------------------------------------------------------------

bool CoreMmry::readSetup(CoreAnsx const& name, CoreXml_& document, CoreAnsx& raw, CoreAnsx& why) {
    if (name == CoreAnsx(0)) {
        raw = scantext;
    } else {
        CoreAnsx const item = setupfolder + name;
        // The store finds names by containment too; a setup is taken by its
        // exact name only, so "A.XML" never reads "BA.XML".
        CoreAnsx const wanted = key(item);
        int id = -1;
        for (int k = 0; k < fsys->llvcn() && id < 0; ++k) {
            int candidate = -1;
            if (fsys->llvel(k, candidate) == wanted) id = candidate;
        }
        if (id < 0) id = fsys->crtit(item, true);
        int index = 0;
        CoreFsys::FSYSTEMLOC const* record = fsys->gtiit(id, index);
        bool const fromArchive = record && record->inmemory && record->source.Length() >= 0;
        // A file read before is read again: the bank may have been saved since.
        errno = 0;
        // Judged by the read, not by the text: an empty or all-NUL file was
        // read and is no bank, whatever errno a step of the read left.
        bool const unread = !fromArchive && !fsys->loadc(id, false, CoreButl::iCwholebytes);
        int const error = errno; // the opener's reason when it did not open
        raw = unread ? CoreAnsx("") : fsys->ct2as(id);
        bool const missing = error == ENOENT || error == ENOTDIR;
        if (unread && (CoreButl::fferr() != 0 || (error != 0 && !missing))) {
            // A folder, FIFO or device there, a link loop, a file not ours
            // to read: named with its kind or reason.
            why = CoreButl::systemReason(CoreButl::fferr() != 0 ? CoreButl::fferr() : error);
            // One refused by its size the opener has named, with its size.
            if (CoreButl::fferr() != EFBIG)
                CoreLog_::loger(
                    CoreAnsx("bank not readable: ") + basefolder + item + CoreAnsx(": ") + why, 0);
            return false;
        }
        if (unread && missing) why = CoreAnsx("not found");
    }
    CoreAnsx const file = name == CoreAnsx(0) ? sCscanboot : basefolder + setupfolder + name;
    try {
        document.getfc(raw);
    } catch (CoreAnsx const&) {
        refuse(file, "does not parse");
        why = CoreAnsx("does not parse");
        return false;
    }
    if (!document.cutsh(file)) return true;
    why = CoreAnsx("cut short");
    return false;
}

bool CoreMmry::loads(CoreAnsx const& name, int bank, bool clr, CoreAnsx* reason) {
    CoreAnsx why("");
    if (reason == nullptr) reason = &why;
    *reason = CoreAnsx("");
    if (bank < 0 || bank >= iCbanks) {
        CoreLog_::loger(CoreAnsx("Program memory: no bank to load ") + CoreAnsx(bank), 1);
        *reason = CoreAnsx("no bank ") + CoreAnsx(bank);
        return false;
    }
    CoreSmgd guard(lock);
    cursor = bank * iCbankdim;
    if (clr) iclea(bank);
    // A close stops the read between its steps and inside the long ones
    // (listing, sorting and placing the entries), quietly: the setup is
    // not at fault. The sort of a long setup alone may take minutes.
    auto const stopped = [this] { return ending.load(std::memory_order_relaxed); };
    if (stopped()) return false;

    CoreXml_ document;
    CoreAnsx raw;
    bool const parsed = readSetup(name, document, raw, *reason);
    if (stopped()) {
        *reason = CoreAnsx(""); // not the setup's fault
        return false;
    }
    CoreNode* const setup = parsed ? topElement(document, DataXml_::sCtagsetup_) : nullptr;
    // A read that marks no program to boot leaves none in this bank: the
    // program there may be another by now.
    auto const unmarked = [this, bank] {
        if (bootloc.load() >= 0 && bootloc.load() / iCbankdim == bank) bootloc = -1;
    };
    if (setup == nullptr) {
        if (parsed && bareSetup(raw)) {
            unmarked();
            return true;
        }
        if (parsed)
            refuse(name == CoreAnsx(0) ? sCscanboot : basefolder + setupfolder + name,
                   "holds no SETUP (missing, empty or not a bank)");
        if (parsed && reason->Length() <= 0) *reason = CoreAnsx("holds no SETUP");
        return false;
    }

    struct Entry {
        CoreAnsx file;     // FILENAME
        int sequence;      // SEQUENCE
        bool boot = false; // its location becomes the boot location
    };
    std::vector<Entry> entries;
    std::vector<int> sequences;
    std::vector<bool> marks; // LOAD
    for (int c = 0; c < childCount(setup); ++c) {
        if (stopped()) return false;
        CoreNode const* program = childAt(setup, c);
        if (program->leaf_() || key(program->gettx()) != DataXml_::sCtagprogrm) continue;
        entries.push_back(
            {program->getls(DataXml_::sCtagfilenm), program->getli(DataXml_::sCtagsequen)});
        sequences.push_back(entries.back().sequence);
        marks.push_back(program->getlb(DataXml_::sCtagload__));
    }
    int room = 0;
    for (int l = cursor; l < iCmemorydim; ++l)
        if (!table->loc[l].inuse && !table->loc[l].failed) ++room;
    int first = -1, boot = -1; // first: the sort puts it first anyway
    bootEntries(sequences, marks, room, first, boot);
    if (boot >= 0) entries[std::size_t(boot)].boot = true;
    int const count = int(entries.size());
    bool marked = false; // the boot entry was placed
    CoreLog_::debug(CoreAnsx("ordering ") + CoreAnsx(count) + CoreAnsx(" bank entries"), 0, 2);
    auto const bySequence = [](Entry const& e) { return e.sequence; };
    if (!exchangeSort(entries, bySequence, &ending)) return false;

    for (int k = 0; k < count; ++k) {
        if (stopped()) return false;
        int free = cursor;
        while (free < iCmemorydim && (table->loc[free].inuse || table->loc[free].failed)) ++free;
        if (free >= iCmemorydim) {
            cursor = 0;
            break;
        }
        cursor = free;
        Entry const& entry = entries[std::size_t(k)];
        if (entry.boot) {
            bootloc = free;
            marked = true;
        }
        bool const usable = nameTaken(
            entry.file, name == CoreAnsx(0) ? sCscanboot : basefolder + setupfolder + name,
            DataXml_::sCtagfilenm);
        if (usable && caching && getca(free, entry.file)) continue;
        CoreLog_::debug(CoreAnsx("caching file ") + CoreAnsx(k + 1) + CoreAnsx("/") +
                            CoreAnsx(count) + CoreAnsx(": ") + entry.file,
                        0, 2);
        CoreAnsx why("");
        bool read = false;
        if (usable) {
            CoreAnsx* const outer = CoreLog_::rsnsk(&why);
            try {
                read = loadl(free, entry.file);
            } catch (...) {
                CoreLog_::rsnsk(outer); // the sink dies with this scope
                throw;
            }
            CoreLog_::rsnsk(outer);
        } else {
            why = CoreButl::escct(entry.file) + CoreAnsx(": not a name inside its folder");
        }
        if (read) continue;
        // The entry keeps its place, empty and marked, so the entries after
        // it keep theirs and a bank save still names it.
        iclrp(free);
        table->loc[free].failed = true;
        table->loc[free].why = why;
        table->loc[free].file = entry.file;
        if (usable)
            CoreLog_::loger(
                CoreAnsx("bank entry ") + CoreAnsx(free) + CoreAnsx(" failed: ") + entry.file, 0);
    }
    if (marked)
        bootfile = table->loc[bootloc.load()].file;
    else
        unmarked();
    return true;
}

void CoreMmry::bootEntries(std::vector<int> const& sequences, std::vector<bool> const& loads,
                           int room, int& first, int& boot) {
    first = boot = -1;
    std::size_t const n = std::min(sequences.size(), loads.size());
    if (n == 0 || room <= 0) return;
    // The sort's first pass brings forward the first of the smallest.
    std::size_t lowest = 0;
    for (std::size_t k = 1; k < n; ++k)
        if (sequences[k] < sequences[lowest]) lowest = k;
    first = int(lowest);
    // The largest SEQUENCE whose entries are all placed.
    long long limit = std::numeric_limits<long long>::max();
    auto const places = std::size_t(room);
    if (n > places) {
        std::vector<int> order(sequences.begin(), sequences.begin() + long(n));
        std::nth_element(order.begin(), order.begin() + long(places - 1), order.end());
        int const cut = order[places - 1];
        std::size_t const upToCut = std::size_t(
            std::count_if(order.begin(), order.end(), [cut](int s) { return s <= cut; }));
        limit = upToCut == places ? cut : static_cast<long long>(cut) - 1;
    }
    for (std::size_t k = 0; k < n; ++k)
        if (loads[k] && sequences[k] <= limit &&
            (boot < 0 || sequences[k] >= sequences[std::size_t(boot)]))
            boot = int(k);
}

bool CoreMmry::saves(CoreAnsx const& name, int bank, CoreAnsx* reason) {
    CoreAnsx why("");
    if (reason == nullptr) reason = &why;
    if (bank < 0 || bank >= iCbanks) {
        CoreLog_::loger(CoreAnsx("Program memory: no bank to save ") + CoreAnsx(bank), 1);
        *reason = CoreAnsx("no bank ") + CoreAnsx(bank);
        return false;
    }
    CoreXml_ document;
    CoreAnsx unmarked(""); // why no entry boots
    CoreAnsx dropped("");  // the same in short, when the save drops the bank's own mark
    {
        CoreSmgd guard(lock);
        // The mark goes only where the next boot would play what this one
        // read as the bank's boot program. A location whose program failed
        // to load still holds its file, and keeps the mark: the file may be
        // back by the next boot.
        int const boot = bootloc.load();
        if (boot < 0) {
            unmarked = CoreAnsx("no boot location");
        } else if (boot / iCbankdim != bank) {
            unmarked = CoreAnsx("the boot location ") + CoreAnsx(boot) +
                       CoreAnsx(" lies outside bank ") + CoreAnsx(bank);
        } else if (!table->loc[boot].inuse && !table->loc[boot].failed) {
            unmarked =
                CoreAnsx("the boot location ") + CoreAnsx(boot) + CoreAnsx(" holds no program");
            dropped = CoreAnsx("slot empty");
        } else if (table->loc[boot].file != bootfile) {
            unmarked = CoreAnsx("the boot location ") + CoreAnsx(boot) +
                       CoreAnsx(" no longer holds ") + CoreButl::escct(bootfile);
            dropped = CoreAnsx("slot changed");
        }
        CoreNode* const setup = startDocument(document, DataXml_::sCtagsetup_);
        for (int i = bank * iCbankdim; i < (bank + 1) * iCbankdim; ++i) {
            if (!table->loc[i].inuse && !table->loc[i].failed) continue;
            auto program = std::make_unique<CoreNode>(DataXml_::sCtagprogrm);
            addValue(program.get(), DataXml_::sCtagsequen, CoreAnsx(i));
            addValue(program.get(), DataXml_::sCtagfilenm, table->loc[i].file);
            if (i == boot && unmarked.Length() <= 0)
                addValue(program.get(), DataXml_::sCtagload__, CoreAnsx(1));
            setup->addcd(program.get());
            program.release();
        }
    }
    // As a version's join does, and for the same reason: not under the
    // memory lock.
    CoreAnsx path;
    auto const held = lockSetup(basefolder + setupfolder + name, ending, path, *reason);
    if (!held) return false;
    if (!writeDocument(document, path, true, false)) {
        int const error = CoreButl::wrerr();
        *reason = CoreAnsx("bank not written") +
                  (error != 0 ? CoreAnsx(": ") + CoreButl::systemReason(error) : CoreAnsx(""));
        return false;
    }
    // A save that changes what the next boot plays is not a plain success.
    *reason = dropped;
    if (unmarked.Length() > 0)
        CoreLog_::loger(CoreAnsx("bank ") + CoreButl::escct(name) +
                            CoreAnsx(" saved with no program to boot: ") + unmarked,
                        dropped.Length() > 0 ? 0 : 1);
    return true;
}

int CoreMmry::cntbn(CoreAnsx const& name, CoreAnsx& reason) {
    std::string raw;
    CoreXml_ document;
    CoreNode* setup = nullptr;
    int entries = -1;
    readBank(CoreButl::rslve(basefolder + setupfolder + name), raw, document, setup, reason,
             &entries);
    return entries;
}

bool CoreMmry::joinb(CoreAnsx const& name, int loc, CoreAnsx& reason, int& place) {
    place = -1;
    if (!validLoc(loc, "joinb")) {
        reason = CoreAnsx("no location ") + CoreAnsx(loc);
        return false;
    }
    CoreAnsx file;
    {
        CoreSmgd guard(lock);
        if (table->loc[loc].inuse) file = table->loc[loc].file;
    }
    if (file.Length() <= 0 || file == CoreAnsx(0)) {
        reason = CoreAnsx("location ") + CoreAnsx(loc) + CoreAnsx(" holds no program file");
        return false;
    }
    // Not under the memory lock: the other instance may hold the file lock
    // for as long as its own read and write take.
    CoreAnsx path;
    auto const held = lockSetup(basefolder + setupfolder + name, ending, path, reason);
    if (!held) return false;
    std::string raw;
    CoreXml_ document;
    CoreNode* setup = nullptr;
    if (!readBank(path, raw, document, setup, reason)) return false;
    std::vector<CoreNode const*> const before =
        setup != nullptr ? programsOf(setup) : std::vector<CoreNode const*>();
    std::vector<int> sequences;
    for (CoreNode const* program : before)
        sequences.push_back(program->getli(DataXml_::sCtagsequen));
    for (std::size_t k = 0; k < before.size(); ++k)
        if (namesFile(before[k]->getls(DataXml_::sCtagfilenm), file)) {
            place = sortedPlace(sequences, k);
            return true;
        }
    // Last in the file with the largest SEQUENCE: the reader's sort moves
    // it past every entry and none of them.
    long long largest = -1;
    for (int value : sequences) largest = std::max(largest, static_cast<long long>(value));
    long long const most = std::numeric_limits<int>::max();
    int const sequence = sequences.empty() ? 0 : static_cast<int>(std::min(largest + 1, most));
    place = int(before.size());

    // The entry, as the writers make it (names escaped as every file has them).
    CoreXml_ entryDocument;
    CoreNode* const entry = startDocument(entryDocument, DataXml_::sCtagprogrm);
    addValue(entry, DataXml_::sCtagsequen, CoreAnsx(sequence));
    addValue(entry, DataXml_::sCtagfilenm, file);
    std::string const added = entryDocument.settc(false, false).c_str();

    // Put in before the root's closing tag, every other byte as it was;
    // checked by reading it back, as the boot will.
    std::string out;
    std::size_t const end = setupEnd(raw);
    if (end != std::string::npos) {
        out = raw.substr(0, end) + added + raw.substr(end);
        CoreXml_ check;
        bool good = false;
        try {
            check.getfc(CoreAnsx(out.c_str()));
            CoreNode* const again = topElement(check, DataXml_::sCtagsetup_);
            std::vector<CoreNode const*> const after =
                again != nullptr ? programsOf(again) : std::vector<CoreNode const*>();
            good = after.size() == before.size() + 1 &&
                   after.back()->getls(DataXml_::sCtagfilenm) == file &&
                   after.back()->getli(DataXml_::sCtagsequen) == sequence;
        } catch (CoreAnsx const&) {
            good = false;
        }
        if (!good) out.clear();
    }
    if (out.empty()) {
        // A bank without programs, or one written in a way the splice does
        // not fit: the document itself takes the entry and is written whole.
        CoreNode* target = setup;
        if (target == nullptr) target = startDocument(document, DataXml_::sCtagsetup_);
        auto program = std::make_unique<CoreNode>(DataXml_::sCtagprogrm);
        addValue(program.get(), DataXml_::sCtagsequen, CoreAnsx(sequence));
        addValue(program.get(), DataXml_::sCtagfilenm, file);
        target->addcd(program.get());
        program.release();
        out = (CoreButl::sCxmlheader + CoreButl::sCxmlcopyright + document.settc(true, false) +
               CoreAnsx("\n"))
                  .c_str();
    }
    if (!CoreButl::wrall(path, out.data(), out.size())) {
        int const error = CoreButl::wrerr();
        reason = CoreAnsx("bank not written") +
                 (error != 0 ? CoreAnsx(": ") + CoreButl::systemReason(error) : CoreAnsx(""));
        return false;
    }
    return true;
}

void CoreMmry::scanp(bool run) {
    if (!run || sharedfs) return;
    CoreSmgd guard(lock);
    std::set<std::string> inMemory;
    for (int i = 0; i < iCmemorydim; ++i)
        if (table->loc[i].inuse)
            inMemory.insert(CoreButl::getfn(table->loc[i].file, true).UpperCase().c_str());

    std::vector<CoreAnsx> roots{basefolder};
    roots.insert(roots.end(), extras.begin(), extras.end());
    CoreAnsx const masks[2] = {CoreAnsx("*") + CoreButl::sCextxml,
                               CoreAnsx("*") + CoreButl::sCextv2p};
    std::vector<CoreAnsx> found;
    for (auto const& root : roots)
        for (auto const& mask : masks) {
            CoreAnsx* list = nullptr;
            int count = 0;
            CoreHutl::readr(root + programfolder, mask, &list, count, CoreAnsx(0));
            for (int k = 0; k < count && int(found.size()) < iCmemorydim; ++k)
                found.push_back(CoreButl::getfn(list[k], true).UpperCase());
            delete[] list;
        }

    // The order of CoreButl::sortv (the same exchanges), with the compare
    // keys made once instead of on every comparison.
    std::vector<CoreAnsx> keys;
    for (auto const& f : found) keys.push_back(key(f));
    for (std::size_t a = 0; a + 1 < found.size(); ++a)
        for (std::size_t b = a + 1; b < found.size(); ++b)
            if (keys[b] < keys[a]) {
                std::swap(keys[a], keys[b]);
                std::swap(found[a], found[b]);
            }

    CoreXml_ document;
    CoreNode* const setup = startDocument(document, DataXml_::sCtagsetup_);
    int sequence = 0;
    for (std::size_t k = 0; k < found.size(); ++k) {
        if ((k > 0 && found[k] == found[k - 1]) || inMemory.count(found[k].c_str()) > 0 ||
            found[k] == CoreButl::sCnull)
            continue;
        auto program = std::make_unique<CoreNode>(DataXml_::sCtagprogrm);
        addValue(program.get(), DataXml_::sCtagsequen, CoreAnsx(sequence++));
        addValue(program.get(), DataXml_::sCtagfilenm, found[k]);
        setup->addcd(program.get());
        program.release();
    }
    scantext = document.settc(false, false);
    writeDocument(document, basefolder + setupfolder + sCscanboot, true, true);
}

// ---- Host chunk -------------------------------------------------------------------------------

CoreAnsx CoreMmry::dumpo(int i) {
    if (!validLoc(i, "dumpo")) throw CoreAnsx("No program location for a chunk");
    CoreSmgd guard(lock);
    MEMORYLOC& m = table->loc[i];
    if (m.inuse && m.deferred) loadl(i, CoreAnsx(m.file));
    if (!m.inuse || m.document == nullptr || m.document->getrt() == nullptr)
        throw CoreAnsx("No program for a chunk at ") + CoreAnsx(i);

    CoreXml_ chunk;
    CoreNode* const setup = startDocument(chunk, DataXml_::sCtagsetup_);
    addValue(setup, DataXml_::sCtagselprg, new CoreNode(double(i)));

    CoreXml_ program;
    program.getfc(m.document->settc(false, false));
    CoreAnsx const from[1] = {DataXml_::sCtagprogrm};
    if (program.getrt() == nullptr) program.setrt(new CoreNode(CoreXml_::sCroot));
    CoreNode* element = program.getrt()->pfind(from, 1);
    if (element == nullptr) {
        auto made = std::make_unique<CoreNode>(DataXml_::sCtagprogrm);
        program.getrt()->addcd(made.get());
        element = made.release();
    }
    // Every element of the name goes, not only the first, so a document
    // holding two SEQUENCE elements still gives one chunk text, every time.
    element->upglf(DataXml_::sCtagsequen, new CoreNode(i));
    element->upglf(DataXml_::sCtagorgfnm, new CoreNode(m.file));
    element->upglf(DataXml_::sCtagactvnm, new CoreNode(m.vfile));
    CoreAnsx const to[1] = {DataXml_::sCtagsetup_};
    chunk.pmove(from, 1, &program, to, 1, false);
    return chunk.settc(false, false);
}

int CoreMmry::dumpi(CoreAnsx const& text, bool place) {
    CoreSmgd guard(lock);
    CoreXml_ chunk;
    try {
        chunk.getfc(text);
    } catch (CoreAnsx const&) {
        CoreLog_::loger(CoreAnsx("Host chunk refused: not a document"), 0);
        return -1;
    }
    if (chunk.cutsh(CoreAnsx("Host chunk"))) return -1;
    CoreNode* const setup = topElement(chunk, DataXml_::sCtagsetup_);
    if (setup == nullptr) {
        CoreLog_::loger(CoreAnsx("Host chunk refused: no SETUP"), 0);
        return -1;
    }

    // Every program's location is settled before anything changes, on the
    // names the table will hold by then, so a refused chunk changes nothing.
    struct Target {
        int child;    // index under SETUP
        int location; // where it goes
    };
    std::vector<Target> targets;
    std::map<int, CoreAnsx> placed; // names the chunk puts down, by location
    auto nameAt = [&](int loc, CoreAnsx& name) {
        auto const it = placed.find(loc);
        if (it != placed.end()) {
            name = it->second;
            return true;
        }
        name = table->loc[loc].name;
        return table->loc[loc].inuse;
    };
    for (int c = childCount(setup) - 1; c >= 0; --c) {
        CoreNode const* program = childAt(setup, c);
        if (program->leaf_() || key(program->gettx()) != DataXml_::sCtagprogrm) continue;
        CoreAnsx const name = program->getls(DataXml_::sCtagprognm);
        int const sequence = slotOf(program->getld(DataXml_::sCtagsequen));
        int location = -1;
        CoreAnsx held;
        bool const named = name.Length() > 0 && name != CoreAnsx(0);
        // Of several programs of that name, the one SEQUENCE names is the one
        // the chunk came from.
        if (named && sequence >= 0 && nameAt(sequence, held) && held == name) location = sequence;
        for (int l = 0; named && location < 0 && l < iCmemorydim; ++l)
            if (nameAt(l, held) && held == name) location = l;
        if (location < 0) location = sequence;
        if (location < 0) {
            CoreLog_::loger(CoreAnsx("Host chunk refused: SEQUENCE outside the memory"), 0);
            return -1;
        }
        targets.push_back({c, location});
        placed[location] = name;
    }
    int const result =
        targets.empty() ? slotOf(setup->getld(DataXml_::sCtagselprg)) : targets.back().location;
    if (result < 0) {
        CoreLog_::loger(CoreAnsx("Host chunk refused: SELECTEDPROGRAM outside the memory"), 0);
        return -1;
    }
    if (!place) return result;

    for (Target const& target : targets) {
        CoreNode* const program = childAt(setup, target.child);
        auto document = std::make_unique<CoreXml_>();
        auto root = std::make_unique<CoreNode>(CoreXml_::sCroot);
        iclrp(target.location);
        MEMORYLOC& m = table->loc[target.location];
        m.inuse = true;
        m.deferred = false;
        // A name that would leave the program folder is refused whole, never
        // cut down (a part of it could be another program's file): the
        // program takes the name of a chunk that gives none, and still
        // plays from the chunk's own text.
        CoreAnsx const from("host chunk");
        CoreAnsx name;
        bool const hasFile = namedBy(program, DataXml_::sCtagorgfnm, name) &&
                             nameTaken(name, from, DataXml_::sCtagorgfnm);
        m.file = hasFile ? name : CoreAnsx(sCchunkfile);
        m.vfile = vectorBy(program, from, name) ? name : m.file;
        // The save kind follows the flag: an archive program stays one.
        m.archive = CoreButl::getfx(m.file) == CoreButl::sCextv2p;
        m.name = program->getls(DataXml_::sCtagprognm);
        m.category[0] = program->getls(DataXml_::sCtagcategr);
        m.category[1] = program->getls(DataXml_::sCtagsubca1);
        m.category[2] = program->getls(DataXml_::sCtagsubca2);
        m.descr = m.cached = CoreAnsx("");
        // The element itself moves into the location's document.
        root->addcd(program);
        setup->getcn()->Delete(target.child);
        document->setrt(root.release());
        m.document = document.release();
    }
    return result;
}
