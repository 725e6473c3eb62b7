#pragma once
// CoreFsys: the item store through which every data file is read. It keeps a
// table of named items; each item's bytes live either on disk (data folder +
// name) or in memory (a block of the tracked pool), and callers read them by
// integer id with FILE-like calls that behave alike for both. The store also
// packs its in-memory items into one archive file and loads archives back
// (header "Vorlan2 " + version, item bytes, XML table of contents), also out of
// an item of another store.
// Owner: whoever makes it (engine, program memory, skin, temporary stores of
// the archive helpers); several may exist, each with its own table and folder.
// The pool is not owned.
// Threads: one thread at a time (engine worker, loader, control or display
// thread); no lock inside; may block on file I/O, so never on the audio path.
//
// Names are stored trimmed and upper-cased. A lookup takes an item whose name
// equals the query exactly; only when none does, the first item whose name
// contains the query or is contained in it (so "1.WAV" finds "1.WAV", never
// "11.WAV", while fragments such as "PROG" still find "MYPROG.XML").
// An exact name and an id are found through indexes beside the table, so an
// archive of many thousand items registers and reads in time that grows with
// their number, not its square; only the fragment match walks the table.
// Names change only through setit, which keeps the name index in step.
// An archive's table of contents registers its entries by exact name only,
// and an archive read out of another store is that store's item of exactly
// the name given, relative to that store's data folder.
//
// The archive reader checks the title, the length word and every address and
// size against the real size of the file or item before reading; a broken
// archive gives false (or a skipped entry) and a logged error, never a read
// outside the data. A table of contents that the XML reader refuses throws its
// CoreAnsx, as every parse failure does. Archive files and loose files written
// by the store replace the old file in one step (CoreButl::wrall), so a failed
// write leaves the previous file whole.

#include <cstdio>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/CoreAnsx.h"

class CoreNode;
class CorePool;
class CoreTlst;
class CoreXml_;

class CoreFsys {
public:
    // One item of the table.
    struct FSYSTEMLOC {
        int id;          // unique in the store, never changes
        CoreAnsx name;   // trimmed, upper case (unless renamed); may hold "\" folder parts
        CoreAnsx mode;   // fopen mode of the last wopen, reused when reopening
        char* data;      // pool block (kind 5, "FSYS") while in memory, else null
        int size;        // bytes of data
        bool inmemory;   // data holds the item's bytes
        int position;    // read position, bytes (in memory, and on disk in close-after-use mode)
        FILE* file;      // disk file held open, or null
        bool fileopen;   // file is held open by the store
        CoreAnsx source; // archive the bytes came from; Length() -1 while never set
        int refused;     // errno of the data setit last refused (EFBIG, EINVAL), 0 once taken
        long long order; // registrations before this one: the table is in this order
    };

    explicit CoreFsys(CorePool* pool);
    CoreFsys(CorePool* pool, CoreAnsx folder, bool closeAfterUse);
    // The same; the last flag is accepted for the engine's callers and has no effect.
    CoreFsys(CorePool* pool, CoreAnsx folder, bool closeAfterUse, bool unused);
    ~CoreFsys();
    CoreFsys(CoreFsys const&) = delete;
    CoreFsys& operator=(CoreFsys const&) = delete;
    CoreFsys(CoreFsys&&) = delete;
    CoreFsys& operator=(CoreFsys&&) = delete;

    // Closes, frees and removes every item (last to first); ids go on counting.
    void init_();

    // ---- Registration and lookup ---------------------------------------------
    // Id of the item of that name, registered when missing (or always with forceNew).
    int crtit(CoreAnsx name, bool forceNew);
    int crtit(CoreAnsx name, bool forceNew, bool unused); // last flag has no effect
    FSYSTEMLOC* gtsit(CoreAnsx name);      // exact match first, then two-way containment
    int getit(CoreAnsx name);              // id of gtsit, -1 when none
    FSYSTEMLOC* gtiit(int id, int& index); // record and table position, null when none
    int llvcn();                           // number of items
    int getkn();                           // number of items
    CoreAnsx llvel(int position, int& id); // name and id at a table position ("" and -1 when bad)
    void getks(CoreAnsx* names);           // every name in table order; array holds llvcn()

    // ---- Item state and data ---------------------------------------------------
    bool isvld(int id);              // exists and in memory
    long getco(int id, void** data); // size and data pointer of an in-memory item, else 0
    CoreAnsx ct2as(int id);          // in-memory bytes as text, zero bytes dropped
    CoreAnsx getdt();                // data folder
    // Sets the data folder (kept as given, trailing separator included).
    void setdt(CoreAnsx folder);
    CoreAnsx getfn(CoreAnsx name); // data folder + name
    CoreAnsx getll();              // archive name last given to loada ("NULL")
    CoreAnsx gettc();              // table-of-contents text last read ("NULL")
    CoreAnsx getrf();              // why the last loada gave false ("" when it did not)
    // folder is the data folder on disk (also when written otherwise); an
    // archive there is given to loada by its name relative to the folder.
    bool isdtf(CoreAnsx folder);

    // Renames: folder of the current name + file name of newName + current extension.
    void setit(int id, CoreAnsx newName);
    void delct(int id); // removes the item; later ones move up

    // ---- Filling and loading ------------------------------------------------
    // Copies size bytes into a new pool block as the item's data (the old block
    // of an in-memory item is always freed: nobody can hold it across a reload).
    // Throws CoreAnsx when the pool has no block. Data it cannot take (more than
    // iCitemdim bytes, a negative size, none given) are refused with a level-0
    // line: the item is then out of memory, and until data are taken its name
    // is never read from disk instead (loadc, wopen and close-after-use reads
    // give false, 0 or -1), so a file of that name cannot pass for them.
    void setit(int id, void const* data, long size, CoreAnsx source, bool releasePrevious,
               bool keepSource);
    // The same; the flag before the source has no effect.
    void setit(int id, void const* data, long size, bool unused, CoreAnsx source,
               bool releasePrevious, bool keepSource);
    // Reads the item's whole disk file into memory. Once the file opens, the
    // old data are given up first, so a false result leaves the item out of memory.
    // A file larger than most bytes, when opened or when read, is refused
    // before a byte is read (see CoreButl::ffpen and rdsze); the default
    // bounds it only by what an item can hold.
    bool loadc(int id, bool skipLoaded, long long most = -1);
    // Registers and loads name (at most CoreButl::iCwholebytes), parses its
    // text into document; the root or null.
    CoreNode* getff(CoreXml_* document, CoreAnsx name, bool convert);
    void uload(CoreAnsx extension); // frees in-memory items of that extension
    void rload(CoreAnsx extension); // reloads them from their source archives
    void savea();                   // writes each in-memory item as a loose file

    // ---- Existence tests ---------------------------------------------------------
    // Whether anything (a file, a folder, a FIFO...) is at folder + file, as
    // stat finds it through links and the case resolver; nothing is opened.
    // A name stat fails on for any reason but ENOENT or ENOTDIR (a loop of
    // links, a folder that may not be searched) is there too.
    static bool exstf(CoreAnsx folder, CoreAnsx file);
    // First folder of main, alternatives[0..count-1] where file is there and
    // readable, in found; when it is there in none readable, the first where
    // it is there ("" and false when no folder has it).
    static bool exstf(CoreAnsx main, short count, CoreAnsx* alternatives, CoreAnsx file,
                      CoreAnsx& found);
    bool exstf(CoreAnsx name); // registers name; in memory or on disk

    // ---- File-like access (unknown ids give false, 0 or -1) -------------------
    bool wopen(int id, CoreAnsx mode); // opens the item's file in fopen mode; in memory: rewinds
    long wread(int id, void* buffer, long elementSize, long count); // whole elements read
    int wseek(int id, long offset, int origin); // 0 or -1; in memory origin 2 is the last byte
    long wtell(int id);                         // read position, bytes
    int weof_(int id);                          // non-zero at the end
    void wclse(int id);                         // closes the item's open file

    // ---- Archives ----------------------------------------------------------------
    // Writes every in-memory item into a new archive file (the path as given).
    // False, logged, when the file cannot be written; the old file then stays.
    bool savea(CoreAnsx archive);
    // The same as a new file only (CoreButl::wrnew): nothing already at the
    // path, a link included, is replaced; CoreButl::wrerr tells why it failed.
    bool savea(CoreAnsx archive, bool createNew);
    // Appends the in-memory item found by name to an existing archive.
    bool appnd(CoreAnsx archive, CoreAnsx item);
    // Appends the ITEM element of record, at address, to the TOC of document.
    void added(FSYSTEMLOC* record, CoreXml_* document, long address);
    // Loads the entries of an archive (a file path, or an item of source) that
    // pass filter ("0": all) into this store. Its table of contents is a
    // document: one past CoreButl::iCwholebytes is refused as too large
    // before a byte of it is read; so is an archive larger than most bytes
    // (below 0: no bound). Each entry is read once into its own block, in
    // pieces of at most CoreButl::iCwholebytes; stop, asked before each
    // piece, ends the load when it answers true (false, getrf() sCstopped,
    // nothing logged: the instance is closing).
    bool loada(CoreAnsx archive, CoreAnsx filter, bool skipLoaded, CoreFsys* source,
               long long most = -1, std::function<bool()> const& stop = {});

    // One-item archives (".V2X") holding one XML document as item "NULL".
    static bool svv2x(CorePool* pool, CoreXml_* document, CoreAnsx file);
    // Parses the archive's document into document.
    static bool ldv2x(CorePool* pool, CoreXml_* document, CoreAnsx file);
    static bool cvv2x(CorePool* pool, CoreAnsx file); // archive -> file with ".xml"
    static bool cvxml(CorePool* pool, CoreAnsx file); // XML file -> file with ".v2x"

    static inline const CoreAnsx sCheadertitle{"Vorlan2 "}; // opening of an archive's title
    static inline const CoreAnsx sCtagfsysto{"TOC"};        // root element of the table of contents
    static inline const CoreAnsx sCstopped{
        "stopped: the instance closes"};     // getrf of a stopped loada
    static constexpr int iCheaderdim = 44;   // archive header, bytes
    static constexpr int iCtitledim = 40;    // title field of the header, bytes
    static constexpr int iCminitems = 10000; // item slots reserved at the first registration
    // Bytes an in-memory item holds at most: a pool block's, its overhead
    // taken from INT_MAX. Callers that read into the store judge by it.
    static const long iCitemdim;

private:
    FSYSTEMLOC* find(int id);                // record by id, null when none
    int registerExact(CoreAnsx const& name); // id of the item named exactly so, made when missing
    FSYSTEMLOC* exact(CoreAnsx const& key);  // first item in table order named key, or null
    int position(FSYSTEMLOC const* item);    // table position, found by order; -1 when none
    // Gives item the name, the name index following; the table order stays.
    void rename(FSYSTEMLOC* item, CoreAnsx const& name);
    void unindex(FSYSTEMLOC* item);   // takes item out of the name index
    void dropData(FSYSTEMLOC* item);  // frees the block of an in-memory item
    void closeFile(FSYSTEMLOC* item); // closes a held file
    FILE* reopen(FSYSTEMLOC* item);   // close-after-use: open and seek to the position
    char* allocBlock(int bytes, char const* operation); // pool block, throws without a pool
    // Makes block (bytes long, of this store's pool) the item's data with no
    // copy, as setit would with a copy; the store owns it from here on.
    void adopt(int id, char* block, int bytes, CoreAnsx const& source);

    static void makeHeader(unsigned char* header, unsigned long length);

    CoreAnsx datafolder;  // prefix of every item's disk path (ends with its separator)
    CoreAnsx toctext;     // table of contents last read by loada or appnd, pretty; "NULL"
    CoreAnsx lastarchive; // archive name last given to loada; "NULL"
    CoreAnsx refusal;     // reason of loada's last false ("cannot be opened: missing", ...); ""
    CoreTlst* items;      // FSYSTEMLOC*, owned, in registration order
    // Every item of the table by id, and by name (the items of one name in
    // table order, so the first is the one a walk would find).
    std::unordered_map<int, FSYSTEMLOC*> byid;
    std::unordered_map<std::string, std::vector<FSYSTEMLOC*>> byname;
    long long registrations; // items ever registered: the order of the next one
    int nextid;              // id of the next registration
    bool closeafteruse;      // keep no disk file open between calls
    CorePool* pool;          // not owned; every in-memory block comes from it
};
