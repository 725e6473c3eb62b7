#pragma once
// CoreMmry: the program memory of one engine instance: 10,000 locations seen
// as 100 banks of 100 slots (location b x 100 + k is slot k of bank b), each
// empty or holding one program document with its catalogue data. On top of the
// table: a category filter for stepping through programs by category, a
// category tree for browsing, setup files (the programs of one bank), the
// folder scan with its cache "~scanboot.xml", per-program cache records, and
// the host chunk (one location as a SETUP document and back).
// Owner: the processing engine makes exactly one, is its only client and
// frees it. The pool is not owned; the item store is owned only when made here.
// Threads: control, display and engine threads, may block (file I/O, whole
// bank loads). Never the audio thread.
//
// Locks: the memory lock guards the location table and every file operation
// (a bank load holds it throughout). The browse lock guards the category tree,
// the value list, the filter strings and the browse path, so browsing never
// reads a tree being rebuilt nor waits behind a bank load. The two are never
// held together. Every public operation takes what it needs; the private
// internals (iclrp, iclea, loadl, setca, getca, invca, srchName) run under
// the memory lock held by their caller.
//
// Searches answer -1 for "no slot". Indices from outside (location, level,
// bank, browse level, list index) are checked: a bad one is logged and gives
// the empty default.

#include <atomic>
#include <vector>

#include "runtime/CoreAnsx.h"
#include "runtime/CoreSmph.h"

class CoreDcry;
class CoreFsys;
class CoreNode;
class CorePool;
class CoreXml_;

class CoreMmry {
public:
    // One location. Empty and cleared: flags false, texts empty, vector file
    // "0", no document.
    struct MEMORYLOC {
        bool inuse = false;    // holds a program
        bool deferred = false; // catalogue filled from a cache record, document not loaded
        bool archive = false;  // came from a program archive (".V2P")
        // A bank entry whose program did not load: empty, yet its place is
        // kept (file holds the entry's FILENAME) so later entries keep theirs.
        bool failed = false;
        CoreAnsx why{""};    // a failed entry: the first refusal its read logged
        CoreAnsx name{""};   // display name
        CoreAnsx file{""};   // program file relative to the program folder
        CoreAnsx vfile{"0"}; // vector file; "0" (or "") means the program file stands in
        CoreAnsx category[3]{"", "", ""}; // category, subcategory 1, subcategory 2
        CoreAnsx descr{""};               // description
        CoreAnsx cached{""};              // full path the program was last loaded from
        CoreXml_* document = nullptr;     // program document, owned by CoreMmry; may be null
    };
    // The table of every location, allocated once with the object.
    struct MEMORYMANAGER {
        MEMORYLOC loc[10000];
    };

    static constexpr int iCbankdim = 100;           // locations per bank
    static constexpr int iCbanks = 100;             // banks
    static constexpr int iCmemorydim = 10000;       // locations
    static constexpr int iCchunkbufferdim = 131072; // host chunk buffer of the engine, bytes
    static inline const CoreAnsx sCscanboot{"~scanboot.xml"}; // scan cache file name
    static inline const CoreAnsx sCchunkfile{"dummy.xml"};    // a chunk program naming no file
    static inline const CoreAnsx sClastctg{"LST"};        // the engine's text for the last category
    static inline const CoreAnsx sCfailedname{"FAILED "}; // name of a failed entry, before its file

    // extraRoots (extraCount texts) are copied; the program roots are base
    // followed by them. Folders end with their separator. With a shared item
    // store, no cache records are kept and scans do nothing.
    CoreMmry(CorePool* pool, CoreAnsx base, short extraCount, CoreAnsx const* extraRoots,
             CoreAnsx setupSub, CoreAnsx programSub, CoreAnsx vectorSub, CoreAnsx cacheSub,
             bool caching, CoreFsys* shared);
    ~CoreMmry();
    CoreMmry(CoreMmry const&) = delete;
    CoreMmry& operator=(CoreMmry const&) = delete;
    CoreMmry(CoreMmry&&) = delete;
    CoreMmry& operator=(CoreMmry&&) = delete;

    // ---- Location queries (empty location: "0", "" for getpf, false) --------
    CoreAnsx getnm(int loc); // a failed entry: "FAILED " and its file's base name
    bool faild(int loc);     // the location is a failed bank entry
    CoreAnsx getwy(int loc); // a failed entry: why its file was refused ("" none)
    CoreAnsx getds(int loc);
    CoreAnsx getct(int loc, int level); // level 0..2
    CoreAnsx getcc(int loc);            // cached file
    CoreAnsx getpf(int loc);            // file as stored
    CoreAnsx getfp(int loc, bool bare); // file, prefixed by the program folder unless bare
    // Vector file (the program file when unset), prefixed by the vector folder
    // unless bare, with the extension ".v2v".
    CoreAnsx getfv(int loc, bool bare);
    bool getwp(int loc); // archive flag
    // Copies the catalogue fields and flags into record (its document is left alone).
    void getel(int loc, MEMORYLOC* record);

    // ---- Location setters (an empty location is left alone) -----------------
    void setnm(int loc, CoreAnsx const& text);
    void setds(int loc, CoreAnsx const& text);
    void setct(int loc, CoreAnsx const& text, int level);
    // File := name with ".v2p" (archive flag set) or ".xml" in place of its extension.
    void setfp(int loc, CoreAnsx const& name);

    // ---- Search and free slots -----------------------------------------------
    int srcnm(CoreAnsx const& name); // lowest in-use location of exactly that name; -1
    int getcf(int loc);   // first free at or after loc, wrapping, failed entries skipped; -1 full
    void setmc(int bank); // free-slot cursor := bank x 100
    int getne();          // first free from the cursor to 9999 (cursor moves); -1
    // Boot location: where the last read of a setup placed its LOAD-marked
    // entry; -1 none, also after a read into its bank that marked none.
    int getpr();

    // ---- Program text --------------------------------------------------------
    // Stores the text as the location's document (an empty location becomes
    // in use); with caching, writes (writeCache) or deletes the cache record.
    // A text that does not parse throws CoreAnsx and changes nothing.
    void setvl(int loc, CoreAnsx const& text, bool writeCache);
    // Empties the location, then holds the text as a program of that file.
    void setvl(int loc, bool archive, CoreAnsx const& file, CoreAnsx const& text);
    // Compact document text, loading a deferred program first; "0" when empty
    // or without document. invalidate deletes the cache record first.
    CoreAnsx getvl(int loc, bool invalidate);
    void fix_l(int loc); // reloads an in-use location from its file

    // ---- Clearing and moving ---------------------------------------------------
    void clrpr(int loc);
    void clear(int bank);
    void clear(); // every bank, the lock taken once per bank
    // Copies (move false) or moves the source onto the destination; onto itself nothing.
    void mvepr(int source, int destination, bool move);

    // ---- Category filter ----------------------------------------------------------
    void setbs(int level, CoreAnsx const& text); // filter string of level, and level := it
    int setbb(int delta);                        // level := clamp(level + delta, 0, 2)
    void pushb();                                // saves level and strings; level := 0
    void popb_();                                // restores them
    int getbk(int start, short step);            // getck with the filter strings, level + 1 of them
    // First in-use location from start going by step whose categories match
    // the n (at most 3) texts, upper-cased and trimmed ("0" first text or null:
    // any, failed entries included); -1 when none.
    int getck(int start, short step, CoreAnsx const* texts, int n);
    int getbs();               // value list := distinct values of the filter level; count
    int getbc();               // value list := distinct top-level categories; count
    CoreAnsx getbc(int index); // entry of the value list, "" beyond it
    // Distinct values of level n (at most 2) among in-use locations matching
    // the n texts, in order of first appearance. *list (new[] or null) is
    // deleted and replaced by a new[] array of at least one entry.
    void getct(CoreAnsx** list, int& count, CoreAnsx const* texts, int n);

    // ---- Category tree ---------------------------------------------------------
    void updtt();                     // rebuilds the tree from the table
    void cleat();                     // empty tree ("ROOT" holding one "ROOT", the tree root)
    void settr(int level, int child); // browse path entry 0..4; negative ends the path
    int gettn();                      // children of the node reached
    CoreAnsx gette();                 // text of the node reached; sets the leaf flag
    CoreAnsx gettt();                 // gette translated by the dictionary ("CATEGORY")
    bool islte();                     // the node last read by gette has no children
    void ordrt(int unused);           // sorts the top level by translation (plain text without)
    void setdc(CoreDcry* dictionary); // attaches the dictionary (not owned)

    // ---- Files: setups, scan, host chunk (CoreMmryFile.cpp) ----------------------
    // Reads the setup (setup folder + name, or the last scan's text for "0")
    // into bank b from its first free location on, in SEQUENCE order; the
    // entry bootEntries names boot becomes the boot location (a read that
    // places none ends a boot location in bank b). False when it
    // has no SETUP, or when endbk stopped the read (nothing logged; what was
    // placed stays). reason, when given, gets why it is false: "not found"
    // for a setup file that is not there, the system's or the opener's
    // reason for one that could not be read ("not a plain file"), "does
    // not parse", "cut short" or "holds no SETUP"; "" for a read endbk
    // stopped, and after one that placed its entries.
    bool loads(CoreAnsx const& name, int bank, bool clear, CoreAnsx* reason = nullptr);
    // Of a setup's entries in file order (their SEQUENCE values, and which
    // carry LOAD) read into room free locations: first, the entry placed
    // first (at the boot, location 0's): the earliest of the smallest
    // SEQUENCE, as the reader's sort puts it; boot, the LOAD-marked entry of
    // the largest SEQUENCE among those placed, the last in the file of the
    // marked ones sharing it. Where room cuts through entries of one
    // SEQUENCE, which of them are placed is the sort's choice: none of them
    // is taken for boot. -1 for none. Never sorts: the parameter forecast
    // asks it on the host's thread.
    static void bootEntries(std::vector<int> const& sequences, std::vector<bool> const& loads,
                            int room, int& first, int& boot);
    // endbk was called: the instance is closing.
    bool ended() const { return ending.load(); }
    // Writes bank's entries as the setup (setup folder + name), whole: the
    // entries other instances joined since this one read it are gone. The
    // boot location's entry carries LOAD when the location lies in the bank
    // and still holds the file the read placed there, in use or failed;
    // else no entry does, with one line. Locked and written as joinb does,
    // at the file the links lead to, the document made under the memory
    // lock and written outside it. True with reason "" when written, or,
    // when the boot location lies in the bank and the save marks none,
    // with "slot empty" (it holds no program) or "slot changed" (another
    // file), and that line at level 0 (else level 1). False, with why in
    // reason, when not written: the file stays as it was.
    bool saves(CoreAnsx const& name, int bank, CoreAnsx* reason = nullptr);
    // PROGRAM entries of the setup (setup folder + name), failed ones
    // included, counted up to a full bank: a setup of iCbankdim entries or
    // more answers iCbankdim, and the text past that entry is not looked
    // at. -1, with why in reason, when it cannot be read, does not parse,
    // is cut short or holds no SETUP. A plain read without the setup's
    // lock: each write replaces the file whole, so a read sees one whole
    // file.
    int cntbn(CoreAnsx const& name, CoreAnsx& reason);
    // The file of location loc joins the setup (setup folder + name) as one
    // PROGRAM entry after every other, unless an entry names it already.
    // Its SEQUENCE is one more than the largest the file holds and at least
    // 0 (held at the largest int), so the reader places it last and moves
    // no other entry, however they are numbered. The file is read afresh
    // and written back with everything else as it was (LOAD mark, other
    // entries, their order), under an exclusive lock on a file beside it
    // (its name + ".lock"), so that instances adding entries at once all
    // stay. A setup reached through symbolic links is read, locked and
    // written at the file they lead to, where every instance sharing it
    // meets. The lock file is never followed as a link nor waited on to
    // open: one that is not a plain file fails at once. The lock is tried
    // every iClockretry ms for at most iClockwait ms, and no more once
    // endbk was called. place: the location the entry takes when the setup
    // is read into an empty bank (the next boot), -1 when unknown. False,
    // with why in reason, when it was not added.
    bool joinb(CoreAnsx const& name, int loc, CoreAnsx& reason, int& place);
    static constexpr int iClockretry = 50;  // ms between tries of the setup's lock
    static constexpr int iClockwait = 5000; // ms the setup's lock is tried for
    // The instance is closing: a wait for a setup's lock ends at once, and
    // none begins; a setup being read (loads) stops being read.
    void endbk() { ending.store(true); }
    void
    scanp(bool run); // lists program files not in memory into the scan text and "~scanboot.xml"
    // The host chunk of the location; throws CoreAnsx when it holds no program.
    CoreAnsx dumpo(int loc);
    // Reads a host chunk back; the location to load, -1 (memory unchanged)
    // when the chunk is refused (also when cut short). With place false
    // nothing is placed: only the answer is worked out.
    int dumpi(CoreAnsx const& text, bool place = true);

private:
    bool validLoc(int loc, char const* op) const;     // 0..9999, else logged
    bool validLevel(int level, char const* op) const; // 0..2, else logged
    void iclrp(int loc);                              // empties an in-use location (file kept)
    void iclea(int bank);
    int srchName(CoreAnsx const& name) const; // srcnm without the lock
    int getckCore(int start, short step, CoreAnsx const* texts, int n);
    std::vector<CoreAnsx> distinct(CoreAnsx const* texts, int n); // getct's list, locked inside
    CoreNode* reached() const; // tree node at the browse path, null when off the tree
    void setRoot(CoreXml_* document, CoreNode* root); // swaps the tree in, frees the old one

    // Files (no lock: the caller holds the memory lock).
    bool loadl(int loc, CoreAnsx const& file);
    void setca(int loc);
    bool getca(int loc, CoreAnsx const& filename);
    void invca(int loc);
    CoreAnsx recordPath(CoreAnsx const& file) const; // cache folder + base name + ".xml"
    double programTime(CoreAnsx const& file);        // mtime of the program file, 0 missing
    bool findProgram(CoreAnsx const& path, CoreAnsx& folder); // under the program roots
    // loads' read of the setup's text and document; false, with loads'
    // reason in why, when it is not a whole document. A missing file reads
    // as an empty text, with why "not found".
    bool readSetup(CoreAnsx const& name, CoreXml_& document, CoreAnsx& raw, CoreAnsx& why);
    bool writeDocument(CoreXml_& document, CoreAnsx const& path, bool pretty, bool topbreak);

    CoreAnsx basefolder;             // data root, first program root
    CoreAnsx setupfolder;            // setup files and scan cache, under the base folder
    CoreAnsx programfolder;          // program files, under every program root
    CoreAnsx vectorfolder;           // vector files
    CoreAnsx cachefolder;            // base folder + cache sub-folder
    CoreAnsx scantext;               // SETUP text of the last scan
    CoreAnsx filter[3];              // filter strings (browse lock)
    CoreAnsx savedfilter[3];         // pushb copy (browse lock)
    std::vector<CoreAnsx> extras;    // extra program roots, in order
    std::vector<CoreAnsx> valuelist; // distinct values of the last getbs/getbc (browse lock)
    int cursor;                      // free-slot cursor (memory lock)
    int level;                       // filter level 0..2 (browse lock)
    int savedlevel;                  // pushb copy (browse lock)
    std::atomic<int> bootloc;        // location of the last LOAD mark, -1 none
    CoreAnsx bootfile{""};           // its file as the read placed it (memory lock)
    std::atomic<bool> ending{false}; // endbk was called
    int browse[5];                   // browse path (browse lock)
    bool caching;                    // cache records are read and written
    bool sharedfs;                   // the item store was handed in
    bool leaf;                       // gette reached a node without children (browse lock)
    bool translate;                  // a dictionary is attached (browse lock)
    MEMORYMANAGER* table;            // the 10,000 locations (memory lock)
    CoreSmph lock;                   // memory lock
    CoreSmph browselock;             // tree, value list, filter, browse path
    CorePool* pool;                  // not owned
    CoreFsys* fsys;                  // owned unless sharedfs
    CoreXml_* treedoc;               // category tree document, owned (browse lock)
    CoreNode* treeroot;              // the tree root inside treedoc
    CoreDcry* dictionary;            // not owned, may be null
};
