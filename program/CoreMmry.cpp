#include "program/CoreMmry.h"

#include <memory>

#include "runtime/CoreButl.h"
#include "runtime/CoreHutl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreTlst.h"
#include "runtime/CoreXutl.h"
#include "storage/CoreDcry.h"
#include "storage/CoreFsys.h"
#include "storage/CoreNode.h"
#include "storage/CoreXml_.h"
#include "storage/DataXml_.h"

namespace {

CoreAnsx key(CoreAnsx const& text) { return text.UpperCase().Trim(); }

int childCount(CoreNode const* node) {
    CoreTlst const* list = node ? node->getcn() : nullptr;
    return list ? list->count : 0;
}

CoreNode* childAt(CoreNode const* node, int index) {
    return static_cast<CoreNode*>((*node->getcn())[unsigned(index)]);
}

// A location matches the first n prepared texts by its categories.
bool matches(CoreMmry::MEMORYLOC const& loc, CoreAnsx const* texts, int n) {
    for (int k = 0; k < n; ++k)
        if (key(loc.category[k]) != texts[k]) return false;
    return true;
}

// How the lists name a bank entry whose program did not load.
CoreAnsx failedName(CoreMmry::MEMORYLOC const& m) {
    return CoreMmry::sCfailedname + CoreButl::getfn(m.file, true).UpperCase();
}

} // namespace

// ---- Construction ---------------------------------------------------------------------------

CoreMmry::CoreMmry(CorePool* pool, CoreAnsx base, short extraCount, CoreAnsx const* extraRoots,
                   CoreAnsx setupSub, CoreAnsx programSub, CoreAnsx vectorSub, CoreAnsx cacheSub,
                   bool caching, CoreFsys* shared)
    : cursor(0), level(0), savedlevel(0), bootloc(-1), browse{-1, -1, -1, -1, -1}, caching(false),
      sharedfs(shared != nullptr), leaf(false), translate(false), table(nullptr), pool(pool),
      fsys(shared), treedoc(nullptr), treeroot(nullptr), dictionary(nullptr) {
    std::unique_ptr<MEMORYMANAGER> made(new MEMORYMANAGER);
    std::unique_ptr<CoreFsys> own;
    if (!sharedfs) {
        own.reset(new CoreFsys(pool));
        own->setdt(base);
    }
    basefolder = base;
    for (int i = 0; extraRoots != nullptr && i < extraCount; ++i) extras.push_back(extraRoots[i]);
    setupfolder = setupSub;
    programfolder = programSub;
    vectorfolder = vectorSub;
    cachefolder = base + cacheSub;
    this->caching = caching && !sharedfs;
    // Records are written and deleted there by name: never in the user's
    // folders, nor loose in the data folder among the programs.
    if (this->caching && !CoreHutl::below(base, cacheSub)) {
        CoreLog_::loger(CoreAnsx("Program cache off: ") + cachefolder +
                            CoreAnsx(" does not lie below the data folder ") + base,
                        0);
        this->caching = false;
    }
    // A cache folder that cannot be made turns caching off for good.
    if (this->caching && !CoreXutl::ispvl(cachefolder)) {
        CoreXutl::crdir(cachefolder);
        if (!CoreXutl::ispvl(cachefolder)) {
            CoreLog_::loger(CoreAnsx("Program cache off, no folder ") + cachefolder, 2);
            this->caching = false;
        }
    }
    for (auto& text : filter) text = CoreAnsx("");
    for (auto& text : savedfilter) text = CoreAnsx("");
    scantext = CoreAnsx("");
    cleat();
    table = made.release();
    if (own) fsys = own.release();
}

CoreMmry::~CoreMmry() {
    delete treedoc;
    for (int bank = 0; bank < iCbanks; ++bank) {
        CoreSmgd guard(lock);
        for (int k = 0; k < iCbankdim; ++k) {
            MEMORYLOC& loc = table->loc[bank * iCbankdim + k];
            delete loc.document;
            loc.document = nullptr;
        }
    }
    delete table;
    if (!sharedfs) delete fsys;
}

// ---- Checks -----------------------------------------------------------------------------------

bool CoreMmry::validLoc(int loc, char const* op) const {
    if (loc >= 0 && loc < iCmemorydim) return true;
    CoreLog_::loger(CoreAnsx("Program memory: no location ") + CoreAnsx(loc) + CoreAnsx(" for ") +
                        CoreAnsx(op),
                    2);
    return false;
}

bool CoreMmry::validLevel(int lvl, char const* op) const {
    if (lvl >= 0 && lvl < 3) return true;
    CoreLog_::loger(CoreAnsx("Program memory: no category level ") + CoreAnsx(lvl) +
                        CoreAnsx(" for ") + CoreAnsx(op),
                    2);
    return false;
}

// ---- Location queries -------------------------------------------------------------------------

CoreAnsx CoreMmry::getnm(int loc) {
    if (!validLoc(loc, "getnm")) return CoreAnsx(0);
    CoreSmgd guard(lock);
    MEMORYLOC const& m = table->loc[loc];
    if (m.failed) return failedName(m);
    return m.inuse ? m.name : CoreAnsx(0);
}

CoreAnsx CoreMmry::getwy(int loc) {
    if (!validLoc(loc, "getwy")) return CoreAnsx("");
    CoreSmgd guard(lock);
    MEMORYLOC const& m = table->loc[loc];
    return m.failed ? m.why : CoreAnsx("");
}

bool CoreMmry::faild(int loc) {
    if (!validLoc(loc, "faild")) return false;
    CoreSmgd guard(lock);
    return table->loc[loc].failed;
}

CoreAnsx CoreMmry::getds(int loc) {
    if (!validLoc(loc, "getds")) return CoreAnsx(0);
    CoreSmgd guard(lock);
    MEMORYLOC const& m = table->loc[loc];
    return m.inuse ? m.descr : CoreAnsx(0);
}

CoreAnsx CoreMmry::getct(int loc, int lvl) {
    if (!validLoc(loc, "getct") || !validLevel(lvl, "getct")) return CoreAnsx(0);
    CoreSmgd guard(lock);
    MEMORYLOC const& m = table->loc[loc];
    return m.inuse ? m.category[lvl] : CoreAnsx(0);
}

CoreAnsx CoreMmry::getcc(int loc) {
    if (!validLoc(loc, "getcc")) return CoreAnsx(0);
    CoreSmgd guard(lock);
    MEMORYLOC const& m = table->loc[loc];
    return m.inuse ? m.cached : CoreAnsx(0);
}

CoreAnsx CoreMmry::getpf(int loc) {
    if (!validLoc(loc, "getpf")) return CoreAnsx("");
    CoreSmgd guard(lock);
    MEMORYLOC const& m = table->loc[loc];
    return m.inuse ? m.file : CoreAnsx("");
}

CoreAnsx CoreMmry::getfp(int loc, bool bare) {
    if (!validLoc(loc, "getfp")) return CoreAnsx(0);
    CoreSmgd guard(lock);
    MEMORYLOC const& m = table->loc[loc];
    if (!m.inuse) return CoreAnsx(0);
    return bare ? m.file : programfolder + m.file;
}

CoreAnsx CoreMmry::getfv(int loc, bool bare) {
    if (!validLoc(loc, "getfv")) return CoreAnsx(0);
    CoreSmgd guard(lock);
    MEMORYLOC const& m = table->loc[loc];
    if (!m.inuse) return CoreAnsx(0);
    // A moved-out location leaves "" where "0" stood: both mean unset.
    bool const unset = m.vfile == CoreAnsx(0) || m.vfile.Length() <= 0;
    CoreAnsx const name = unset ? m.file : m.vfile;
    return CoreButl::setfx(bare ? name : vectorfolder + name, CoreButl::sCextv2v);
}

bool CoreMmry::getwp(int loc) {
    if (!validLoc(loc, "getwp")) return false;
    CoreSmgd guard(lock);
    MEMORYLOC const& m = table->loc[loc];
    return m.inuse && m.archive;
}

void CoreMmry::getel(int loc, MEMORYLOC* record) {
    if (record == nullptr) return;
    CoreXml_* const keep = record->document;
    if (!validLoc(loc, "getel")) {
        *record = MEMORYLOC{};
    } else {
        CoreSmgd guard(lock);
        *record = table->loc[loc];
    }
    record->document = keep;
}

// ---- Location setters -------------------------------------------------------------------------

void CoreMmry::setnm(int loc, CoreAnsx const& text) {
    if (!validLoc(loc, "setnm")) return;
    CoreSmgd guard(lock);
    if (table->loc[loc].inuse) table->loc[loc].name = text;
}

void CoreMmry::setds(int loc, CoreAnsx const& text) {
    if (!validLoc(loc, "setds")) return;
    CoreSmgd guard(lock);
    if (table->loc[loc].inuse) table->loc[loc].descr = text;
}

void CoreMmry::setct(int loc, CoreAnsx const& text, int lvl) {
    if (!validLoc(loc, "setct") || !validLevel(lvl, "setct")) return;
    CoreSmgd guard(lock);
    if (table->loc[loc].inuse) table->loc[loc].category[lvl] = text;
}

void CoreMmry::setfp(int loc, CoreAnsx const& name) {
    if (!validLoc(loc, "setfp")) return;
    CoreSmgd guard(lock);
    MEMORYLOC& m = table->loc[loc];
    if (m.inuse)
        m.file = CoreButl::setfx(name, m.archive ? CoreButl::sCextv2p : CoreButl::sCextxml);
}

// ---- Search and free slots ------------------------------------------------------------------

int CoreMmry::srchName(CoreAnsx const& name) const {
    // "0" is the not-found text and "" names nothing: neither may pick a slot.
    if (name == CoreAnsx(0) || name.Length() <= 0) return -1;
    for (int i = 0; i < iCmemorydim; ++i)
        if (table->loc[i].inuse && table->loc[i].name == name) return i;
    return -1;
}

int CoreMmry::srcnm(CoreAnsx const& name) {
    CoreSmgd guard(lock);
    return srchName(name);
}

int CoreMmry::getcf(int loc) {
    if (!validLoc(loc, "getcf")) return -1;
    CoreSmgd guard(lock);
    for (int k = 0; k < iCmemorydim; ++k) {
        int const i = (loc + k) % iCmemorydim;
        // A failed bank entry keeps its place: a version there would take
        // the location the entry returns to once its file is mended.
        if (!table->loc[i].inuse && !table->loc[i].failed) return i;
    }
    return -1;
}

void CoreMmry::setmc(int bank) {
    if (bank < 0 || bank >= iCbanks) {
        CoreLog_::loger(CoreAnsx("Program memory: no bank ") + CoreAnsx(bank), 2);
        return;
    }
    CoreSmgd guard(lock);
    cursor = bank * iCbankdim;
}

int CoreMmry::getne() {
    CoreSmgd guard(lock);
    for (int i = cursor; i < iCmemorydim; ++i)
        if (!table->loc[i].inuse) {
            cursor = i;
            return i;
        }
    cursor = 0;
    return -1;
}

int CoreMmry::getpr() { return bootloc.load(); }

// ---- Program text -----------------------------------------------------------------------------

void CoreMmry::setvl(int loc, CoreAnsx const& text, bool writeCache) {
    if (!validLoc(loc, "setvl")) return;
    CoreSmgd guard(lock);
    // Parsed first, so a text that does not parse changes nothing.
    auto parsed = std::make_unique<CoreXml_>();
    parsed->getfc(text);
    MEMORYLOC& m = table->loc[loc];
    if (!m.inuse) {
        m.inuse = true;
        m.deferred = false;
        m.failed = false;
    }
    delete m.document;
    m.document = parsed.release();
    m.deferred = false;
    if (!caching) return;
    if (writeCache)
        setca(loc);
    else
        invca(loc);
}

void CoreMmry::setvl(int loc, bool archive, CoreAnsx const& file, CoreAnsx const& text) {
    if (!validLoc(loc, "setvl")) return;
    CoreSmgd guard(lock);
    auto parsed = std::make_unique<CoreXml_>();
    parsed->getfc(text);
    iclrp(loc);
    MEMORYLOC& m = table->loc[loc];
    m.inuse = true;
    m.deferred = false;
    m.archive = archive;
    m.file = file;
    delete m.document;
    m.document = parsed.release();
    if (caching) invca(loc);
}

CoreAnsx CoreMmry::getvl(int loc, bool invalidate) {
    if (!validLoc(loc, "getvl")) return CoreAnsx(0);
    CoreSmgd guard(lock);
    MEMORYLOC& m = table->loc[loc];
    if (caching && invalidate) invca(loc);
    if (m.inuse && m.deferred) loadl(loc, CoreAnsx(m.file));
    if (!m.inuse || m.document == nullptr) return CoreAnsx(0);
    return m.document->settc(false, false);
}

void CoreMmry::fix_l(int loc) {
    if (!validLoc(loc, "fix_l")) return;
    CoreSmgd guard(lock);
    if (table->loc[loc].inuse) loadl(loc, CoreAnsx(table->loc[loc].file));
}

// ---- Clearing and moving ---------------------------------------------------------------------

void CoreMmry::iclrp(int loc) {
    MEMORYLOC& m = table->loc[loc];
    // A failed load may leave a document on a location not in use.
    delete m.document;
    m.document = nullptr;
    m.failed = false;
    if (!m.inuse) return;
    m.inuse = m.deferred = m.archive = false;
    m.name = m.descr = m.cached = CoreAnsx("");
    for (auto& c : m.category) c = CoreAnsx("");
    m.vfile = CoreAnsx(0);
}

void CoreMmry::iclea(int bank) {
    for (int k = 0; k < iCbankdim; ++k) iclrp(bank * iCbankdim + k);
}

void CoreMmry::clrpr(int loc) {
    if (!validLoc(loc, "clrpr")) return;
    CoreSmgd guard(lock);
    iclrp(loc);
}

void CoreMmry::clear(int bank) {
    if (bank < 0 || bank >= iCbanks) {
        CoreLog_::loger(CoreAnsx("Program memory: no bank to clear ") + CoreAnsx(bank), 2);
        return;
    }
    CoreSmgd guard(lock);
    iclea(bank);
}

void CoreMmry::clear() {
    for (int bank = 0; bank < iCbanks; ++bank) clear(bank);
}

void CoreMmry::mvepr(int source, int destination, bool move) {
    if (!validLoc(source, "mvepr") || !validLoc(destination, "mvepr")) return;
    // Clearing the destination first would erase the program to be moved.
    if (source == destination) return;
    CoreSmgd guard(lock);
    MEMORYLOC& s = table->loc[source];
    // The copy is made before the destination goes, so a failure leaves both.
    std::unique_ptr<CoreXml_> copy;
    if (!move && s.document != nullptr) {
        copy = std::make_unique<CoreXml_>();
        copy->getfc(s.document->settc(false, false));
    }
    iclrp(destination);
    MEMORYLOC& d = table->loc[destination];
    CoreXml_* const old = d.document;
    d = s;
    d.document = old; // null after iclrp
    if (move) {
        d.document = s.document;
        s.document = nullptr;
        s.inuse = s.deferred = s.failed = false;
        s.name = s.file = s.vfile = s.descr = s.cached = CoreAnsx("");
        for (auto& c : s.category) c = CoreAnsx("");
    } else {
        // A deferred source has no document yet: the copy stays deferred and
        // loads from the same file on first use.
        d.document = copy.release();
    }
}

// ---- Category filter ---------------------------------------------------------------------

void CoreMmry::setbs(int lvl, CoreAnsx const& text) {
    if (!validLevel(lvl, "setbs")) return;
    CoreSmgd guard(browselock);
    filter[lvl] = text;
    level = lvl;
}

int CoreMmry::setbb(int delta) {
    CoreSmgd guard(browselock);
    long next = long(level) + delta;
    level = next < 0 ? 0 : next > 2 ? 2 : int(next);
    return level;
}

void CoreMmry::pushb() {
    CoreSmgd guard(browselock);
    savedlevel = level;
    for (int k = 0; k < level; ++k) savedfilter[k] = filter[k];
    level = 0;
}

void CoreMmry::popb_() {
    CoreSmgd guard(browselock);
    level = savedlevel;
    for (int k = 0; k < level; ++k) filter[k] = savedfilter[k];
}

int CoreMmry::getbk(int start, short step) {
    CoreAnsx texts[3];
    int n = 0;
    {
        CoreSmgd guard(browselock);
        n = level + 1;
        for (int k = 0; k < n; ++k) texts[k] = filter[k];
    }
    return getck(start, step, texts, n);
}

int CoreMmry::getck(int start, short step, CoreAnsx const* texts, int n) {
    if (n < 0) n = 0;
    if (n > 3) n = 3;
    return getckCore(start, step, texts, n);
}

int CoreMmry::getckCore(int start, short step, CoreAnsx const* texts, int n) {
    bool const filtering = texts != nullptr && n > 0 && texts[0] != CoreAnsx(0);
    CoreAnsx prepared[3];
    if (filtering)
        for (int k = 0; k < n; ++k) prepared[k] = key(texts[k]);
    int const levels = filtering ? n : 0;

    CoreSmgd guard(lock);
    int index = start > iCmemorydim - 1 ? 0 : start < 0 ? iCmemorydim - 1 : start;
    int stride = step;
    // Any walk revisits a location within two passes: past that nothing matches.
    for (int visits = 0; visits <= 2 * iCmemorydim; ++visits) {
        MEMORYLOC const& m = table->loc[index];
        // A failed bank entry is listed (and its load tried, visibly falling
        // back) when no category filter is set: it has no categories.
        if ((m.inuse && matches(m, prepared, levels)) || (m.failed && !filtering)) return index;
        if (stride == 0) return -1;
        index += stride;
        if (index >= 0 && index < iCmemorydim) continue;
        if (!filtering) {
            index = 0;
        } else if (index < 0) {
            index = 0;
            stride = 1;
        } else {
            return -1; // past the last location: no slot
        }
    }
    return -1;
}

std::vector<CoreAnsx> CoreMmry::distinct(CoreAnsx const* texts, int n) {
    if (n < 0) n = 0;
    if (n > 2) n = 2;
    bool const filtering = texts != nullptr && n != 0;
    CoreAnsx prepared[2];
    if (filtering)
        for (int k = 0; k < n; ++k) prepared[k] = key(texts[k]);
    int const levels = filtering ? n : 0;

    std::vector<CoreAnsx> values;
    CoreSmgd guard(lock);
    for (int i = 0; i < iCmemorydim; ++i) {
        MEMORYLOC const& m = table->loc[i];
        if (!m.inuse || !matches(m, prepared, levels)) continue;
        CoreAnsx const value = key(m.category[n]);
        if (value.Length() <= 0) continue;
        bool seen = false;
        for (auto const& v : values)
            if (v == value) {
                seen = true;
                break;
            }
        if (!seen) values.push_back(value);
    }
    return values;
}

void CoreMmry::getct(CoreAnsx** list, int& count, CoreAnsx const* texts, int n) {
    std::vector<CoreAnsx> values = distinct(texts, n);
    count = int(values.size());
    CoreAnsx* made = new CoreAnsx[values.empty() ? 1 : values.size()];
    if (values.empty()) made[0] = CoreAnsx("");
    for (std::size_t i = 0; i < values.size(); ++i) made[i] = values[i];
    if (list == nullptr) {
        delete[] made;
        return;
    }
    delete[] * list;
    *list = made;
}

int CoreMmry::getbs() {
    CoreAnsx texts[3];
    int n = 0;
    {
        CoreSmgd guard(browselock);
        n = level;
        for (int k = 0; k < n; ++k) texts[k] = filter[k];
    }
    std::vector<CoreAnsx> values = distinct(texts, n);
    CoreSmgd guard(browselock);
    valuelist.swap(values);
    return int(valuelist.size());
}

int CoreMmry::getbc() {
    std::vector<CoreAnsx> values = distinct(nullptr, 0);
    CoreSmgd guard(browselock);
    valuelist.swap(values);
    return int(valuelist.size());
}

CoreAnsx CoreMmry::getbc(int index) {
    CoreSmgd guard(browselock);
    if (index < 0 || index >= int(valuelist.size())) return CoreAnsx("");
    return valuelist[std::size_t(index)];
}

// ---- Category tree ---------------------------------------------------------------------------

void CoreMmry::setRoot(CoreXml_* document, CoreNode* root) {
    CoreXml_* old = nullptr;
    {
        CoreSmgd guard(browselock);
        old = treedoc;
        treedoc = document;
        treeroot = root;
    }
    delete old;
}

void CoreMmry::cleat() {
    auto document = std::make_unique<CoreXml_>();
    auto top = std::make_unique<CoreNode>(CoreXml_::sCroot);
    CoreNode* const root = new CoreNode(CoreXml_::sCroot);
    top->addcd(root);
    document->setrt(top.release());
    setRoot(document.release(), root);
}

void CoreMmry::updtt() {
    auto document = std::make_unique<CoreXml_>();
    CoreNode* root = nullptr;
    {
        auto top = std::make_unique<CoreNode>(CoreXml_::sCroot);
        root = new CoreNode(CoreXml_::sCroot);
        top->addcd(root);
        document->setrt(top.release());
    }
    {
        CoreSmgd guard(lock);
        for (int i = 0; i < iCmemorydim; ++i) {
            MEMORYLOC const& m = table->loc[i];
            // A failed entry is offered under its mark: choosing it shows
            // why it does not play.
            if (m.failed) root->addcd(new CoreNode(CoreAnsx(i) + CoreAnsx(" - ") + failedName(m)));
            if (!m.inuse) continue;
            CoreNode* node = root;
            for (auto const& c : m.category) {
                CoreAnsx const name = c.UpperCase();
                if (name.Length() <= 0) continue;
                // Children are matched by element name; a leaf of the same
                // text is a program, not a category.
                CoreNode* next = node->getcd(name);
                if (next == nullptr || next->leaf_()) {
                    next = new CoreNode(name);
                    node->addcd(next);
                }
                node = next;
            }
            node->addcd(new CoreNode(CoreAnsx(i) + CoreAnsx(" - ") + m.name));
        }
    }
    setRoot(document.release(), root);
}

CoreNode* CoreMmry::reached() const {
    CoreNode* node = treeroot;
    for (int lvl = 0; lvl < 5 && node != nullptr; ++lvl) {
        if (browse[lvl] < 0) break;
        node = browse[lvl] < childCount(node) ? childAt(node, browse[lvl]) : nullptr;
    }
    return node;
}

void CoreMmry::settr(int lvl, int child) {
    if (lvl < 0 || lvl > 4) {
        CoreLog_::loger(CoreAnsx("Program memory: no browse level ") + CoreAnsx(lvl), 2);
        return;
    }
    CoreSmgd guard(browselock);
    browse[lvl] = child;
}

int CoreMmry::gettn() {
    CoreSmgd guard(browselock);
    return childCount(reached());
}

CoreAnsx CoreMmry::gette() {
    CoreSmgd guard(browselock);
    CoreNode const* node = reached();
    leaf = childCount(node) == 0;
    return node ? node->gettx() : CoreAnsx("");
}

CoreAnsx CoreMmry::gettt() {
    CoreAnsx const text = gette();
    CoreSmgd guard(browselock);
    if (!translate || dictionary == nullptr) return text;
    return dictionary->getvl(DataXml_::sCtagcategr, text);
}

bool CoreMmry::islte() {
    CoreSmgd guard(browselock);
    return leaf;
}

void CoreMmry::ordrt(int unused) {
    (void)unused;
    CoreSmgd guard(browselock);
    CoreTlst* list = treeroot ? treeroot->getcn() : nullptr;
    if (list == nullptr) return;
    int const n = list->count;
    std::vector<CoreAnsx> words(std::size_t(n > 0 ? n : 0));
    for (int i = 0; i < n; ++i) {
        CoreAnsx const text = childAt(treeroot, i)->gettx();
        words[std::size_t(i)] =
            translate && dictionary ? dictionary->getvl(DataXml_::sCtagcategr, text) : text;
    }
    // The exchange sort as designed (every i against every j), so equal
    // translations keep the order it has always given them.
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            if (words[std::size_t(i)] < words[std::size_t(j)]) {
                std::swap(words[std::size_t(i)], words[std::size_t(j)]);
                std::swap((*list)[unsigned(i)], (*list)[unsigned(j)]);
            }
}

void CoreMmry::setdc(CoreDcry* dict) {
    CoreSmgd guard(browselock);
    dictionary = dict;
    translate = dict != nullptr;
}
