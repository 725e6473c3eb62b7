#pragma once
// CoreProg: the one program (preset) of an engine instance: its texts, global
// gains and switches, every modulator, user control and fixed parameter, the
// bus of 84 sources they share, the kernel slots whose vector trees the
// convolution players run, and the raw slots the raw-function modulators
// play. Once per block it brings the whole modulation state forward in a
// fixed order (updte).
// Owner: the processing engine builds exactly one and deletes it last. The
// program owns everything it creates; the pool, the item store, the blink
// clock, the message rows and a shared kernel cache are only borrowed.
// Threads: construction, loading and destruction on the engine's loader path
// ("control or display thread, may block"); updte(true, ...), the trims and
// gains and upsrc on the processing thread (audio thread: no allocation, no
// file or log I/O, no blocking lock); the other accessors from the engine's
// property handlers while the engine keeps audio away. No lock of its own.
// The class is spread over several sources: CoreProg.cpp (construction and
// teardown), CoreProgAccs.cpp (state accessors), CoreProgUpdt.cpp (the
// per-block update and the engine-facing slot operations), CoreProgSect.cpp
// (the modulator section readers and the document reading rules),
// CoreProgVctr.cpp (the kernel vector readers), CoreProgRaw.cpp (the raw
// vector readers, the raw slot building and unloading), CoreProgKern.cpp
// (kernels built from impulse files, slot dimensions) and CoreProgLoad.cpp
// (the program document reader).
// The readers and builders are loader-path code (they allocate, read files
// and log): never call them inside an audio scope (CoreAudp).

#include "runtime/CoreAnsx.h"
#include "runtime/CoreTlst.h"

#include <functional>
#include <vector>

class CoreBlnk;
class CoreCnvl;
class CoreDynm;
class CoreEnv_;
class CoreEnvf;
class CoreFsys;
class CoreFun_;
class CoreIfce;
class CoreLfo_;
class CoreNode;
class CoreParm;
class CorePlel;
class CorePmsg;
class CorePool;
class CorePrm_;
class CoreRfun;
class CoreRvct;
class CoreVctr;
class CoreWvfr;
class CoreXml_;
class DataGfun;
class DataRgfn;
class DataSrce;

class CoreProg {
public:
    static constexpr short iChworkdim = 1;      // extra work slots after the harmonic slots
    static constexpr int iClfos = 4;            // LFO1..4
    static constexpr int iCfuns = 8;            // FUN1..8
    static constexpr int iCrawfuns = 4;         // RAWFUN1..4
    static constexpr int iCprms = 16;           // PRM1..16
    static constexpr int iCevfs = 5;            // EVF1..5
    static constexpr int iCdnms = 2;            // DNM1..2
    static constexpr int iCenvs = 2;            // ENV1..2
    static constexpr int iCifces = 10;          // MIX1..8, GAININ, GAINOUT
    static constexpr int iCmixes = 8;           // the MIX controls among them
    static constexpr int iCrawslots = 4;        // RAW1..4
    static constexpr int iClistreserve = 10000; // vectors a slot list holds before it regrows
    static constexpr int iClsto = 27;           // bus index of "LSTO"
    static constexpr double dCtrimfactor = 65463.61740672747; // 10^(96.32/20): +96.32 dB
    // Longest fade or time offset a kernel slot takes, us; the slot's buffers
    // are sized from them, so a longer one is refused rather than allocated.
    static constexpr long iCmosttime = 60000000;
    // Deepest nesting the element readers follow: the shared depth counter
    // (raised once per ELEMENT and once per VECTOR, external vector files
    // included) may not pass it. Every level costs a recursion of the
    // readers and of the vector tree's own operations.
    static constexpr int iCmaxdepth = 64;

    // An impulse element pair handed to a vector without the kernel cache
    // taking it: the program frees it (through that vector) when it unloads.
    struct OWNED {
        CoreVctr* vector; // leaf vector holding the pair
        void* left;       // left impulse element
        void* right;      // right impulse element
    };

    // One kernel slot (H1..Hn, and the hybrid slot at index capacity). Counts
    // are samples at the program rate. The fade tables and the outputs belong
    // to the root vector; the record only points at them.
    struct HLOC {
        bool inuse = false;            // the slot was defined by the program
        CoreVctr* root = nullptr;      // root of the slot's vector tree (owned)
        CoreTlst leaves;               // leaf vectors, children before parents (not owning)
        CoreTlst cores;                // the other vectors of the tree (not owning)
        bool fadesbuilt = false;       // the fade elements below exist
        bool marker = false;           // longest impulse shorter than 16 samples
        void* fadein = nullptr;        // rising ramp of fadeinlength samples
        void* normalfade = nullptr;    // falling ramp of normalfadeout samples
        void* extendedfade = nullptr;  // falling ramp of extendedfadeout samples
        void* currentfade = nullptr;   // normalfade or extendedfade, chosen by setot
        void* left = nullptr;          // root's left output element (the player's kernel)
        void* right = nullptr;         // root's right output element
        int offset = 0;                // samples kept before each impulse's sync point
        int fadeinlength = 0;          // at least 1 once built
        int normalfadeout = 0;         // at least 1 once built
        int extendedfadeout = 0;       // at least 1 once built
        int currentfadeout = 0;        // normal or extended, chosen by setot
        int normalceiling = 0;         // program's normal length ceiling
        int extendedceiling = 0;       // program's extended length ceiling
        int normallimit = 0;           // requested normal kernel length
        int extendedlimit = 0;         // requested extended kernel length
        int longestfile = 0;           // largest frame count among the slot's files
        int usable = 0;                // largest (frames - sync point) among the files
        int normalfadeend = 0;         // max(fade-in, offset) + 1 + normal fade-out
        int extendedfadeend = 0;       // max(fade-in, offset) + 1 + extended fade-out
        int normalbound = 0;           // max(min(ceiling, usable), normal length)
        int extendedbound = 0;         // max(min(ceiling, usable), extended length)
        int normallength = 0;          // normal kernel length, a multiple of 4
        int extendedlength = 0;        // extended kernel length
        int block = 0;                 // block of the extended kernel, a power of two
        int padded = 0;                // power of two covering extendedlength + block - 1
        int maximum = 0;               // samples allocated per impulse element
        bool extended = false;         // the slot uses its extended length ("OT" 2)
        bool changed = false;          // lengths or fade-out changed since written
        double trainthreshold = 0.0;   // linear threshold of train-mode sync
        int longestwritten = 0;        // most samples written into an element, offset included
        int currentlength = 0;         // normal or extended length, chosen by setot
        void* secondleft = nullptr;    // slot 0: second output pair (smoothing path)
        void* secondright = nullptr;   // slot 0: second output pair, right
        CoreCnvl* convolver = nullptr; // the engine's player for the slot (not owned)
        // Samples each impulse element really holds. maximum may grow past it
        // (setod); the elements are then regrown before anything reads them.
        int elementlength = 0;
        // Impulse elements not held by the cache (no cache, no player, or the
        // hybrid slot, which is kept out of it): freed by uload.
        std::vector<OWNED> owned;
    };

    // One raw slot (RAW1..4): a raw vector tree the raw-function modulators play.
    struct RAWLOC {
        CoreAnsx name;            // "RAW" and the slot number 1..4
        bool inuse = false;       // the program has the slot's section
        CoreRvct* root = nullptr; // root raw vector (owned); null while none
        CoreTlst leaves;          // vectors whose elements are all value files (not owning)
        CoreTlst cores;           // the other vectors (not owning)
    };

    // Builds the program: catalogues, bus, modulators, controls and slot
    // records (capacity + 1 kernel slots, 4 raw slots). A null cache gives
    // the program a cache of its own. Throws CoreAnsx when something cannot be
    // built; nothing built so far is kept then.
    CoreProg(CorePool* pool, CoreFsys* store, short capacity, CoreAnsx vectorfolder,
             long normalceiling, long extendedceiling, long forcedoffset, long lookaheadcap,
             long enginefigure1, long enginefigure2, int maxblock, CoreBlnk* blink,
             CorePlel* cache);
    ~CoreProg();
    CoreProg(CoreProg const&) = delete;
    CoreProg& operator=(CoreProg const&) = delete;
    CoreProg(CoreProg&&) = delete;
    CoreProg& operator=(CoreProg&&) = delete;

    // External vector files open on the current nesting chain (trimmed,
    // upper-cased names): a file met again inside itself is refused.
    using FILECHAIN = std::vector<CoreAnsx>;

    // ---- unloading (loader path) -------------------------------------------------
    // Releases the built vectors (and the impulse elements the program holds
    // itself), empties the descriptive texts; the slot count becomes 0.
    void uload();
    // Releases the raw slots in use; every raw-function modulator's arrays are
    // detached first, so none plays freed memory.
    void uloar();
    void init_(); // uload, then uloar

    // ---- modulator section readers (loader path) ----------------------------------
    // Each reads its section and configures the modulator with one full setvl;
    // a failure is logged ("Error in tag"), thrown on as CoreAnsx, and leaves
    // the modulator as it was. Times are converted at the program rate.
    void dsprm(CoreNode* section, CorePrm_* prm); // PRM / LUMOIIPRM section
    void envlp(CoreNode* section, CoreEnv_* env); // ENV section
    void dynam(CoreNode* section, CoreDynm* dnm); // DNM section
    // EVF section; fifth: the first follower's section read for the fifth
    // follower (EXP not read, detector mode 9).
    void envfl(CoreNode* section, CoreEnvf* evf, bool fifth);

    // ---- kernel vector readers (loader path) ---------------------------------------
    // Build the vector tree of kernel slot `slot` from a VECTOR or ELEMENT node
    // and file every vector in the slot's leaf or core list. depth and path are
    // shared by the whole section (the caller starts them at 1 and ""); base
    // prefixes every file name; ceiling caps OFFSET (us) when >= 0; a slot
    // index below capacity is not the hybrid slot. A failure throws CoreAnsx
    // and leaves nothing behind: what the call built is deleted and the
    // slot's lists are as they were before it.
    static CoreVctr* vectr(CorePool* pool, CorePlel* cache, CoreFsys* store, HLOC* slots,
                           DataSrce* sources, short slot, CoreNode* vector, int& depth,
                           CoreAnsx& path, CoreAnsx const& base, long ceiling, short capacity,
                           FILECHAIN* open = nullptr);
    // One ELEMENT: a nested VECTOR, an impulse file (isfile, null returned) or
    // an external vector file (FILENAME with CONTROL); null for neither and
    // for a null element (a section without ELEMENT).
    static CoreVctr* elmnt(CorePool* pool, CorePlel* cache, CoreFsys* store, HLOC* slots,
                           DataSrce* sources, short slot, CoreNode* element, bool& isfile,
                           CoreAnsx& file, double& weight, double& busweight, int& depth,
                           CoreAnsx& path, CoreAnsx const& base, long ceiling, short capacity,
                           FILECHAIN* open = nullptr);
    // The slot's top ELEMENT: the full form without its outputs.
    static CoreVctr* elmnt(CorePool* pool, CorePlel* cache, CoreFsys* store, HLOC* slots,
                           DataSrce* sources, short slot, CoreNode* element, int& depth,
                           CoreAnsx& path, CoreAnsx const& base, long ceiling, short capacity,
                           FILECHAIN* open = nullptr);

    // ---- raw vector readers and building (loader path) -----------------------------
    // As the kernel vector readers, over raw vectors of raw slot `slot`; a
    // failure is also logged as "Error in tag" at every level it passes.
    static CoreRvct* rvctr(CorePool* pool, CorePlel* cache, CoreFsys* store, RAWLOC* raws,
                           DataSrce* sources, short slot, CoreNode* vector, int& depth,
                           CoreAnsx& path, CoreAnsx const& prefix, FILECHAIN* open = nullptr);
    static CoreRvct* relmn(CorePool* pool, CorePlel* cache, CoreFsys* store, RAWLOC* raws,
                           DataSrce* sources, short slot, CoreNode* element, bool& isfile,
                           CoreAnsx& file, double& weight, double& busweight, int& depth,
                           CoreAnsx& path, CoreAnsx const& prefix, FILECHAIN* open = nullptr);
    static CoreRvct* relmn(CorePool* pool, CorePlel* cache, CoreFsys* store, RAWLOC* raws,
                           DataSrce* sources, short slot, CoreNode* element, int& depth,
                           CoreAnsx& path, CoreAnsx const& prefix, FILECHAIN* open = nullptr);
    // The whole item as text (zero bytes dropped), "0" when it cannot be
    // opened; the text is kept as the item's data, so a second call reads it
    // from memory. pool is not used.
    static CoreAnsx getas(CorePool* pool, CoreFsys* store, CoreAnsx const& name);
    // Builds every raw slot in use, then deactivates the raw-function
    // modulators left without arrays. Throws CoreAnsx at the first slot that
    // fails (the rest are not built).
    void starr();
    // Builds raw slot `slot`: loads every leaf vector's files (padded to the
    // longest), sizes and links the tree and hands its output to the
    // raw-function modulators naming the slot. Throws CoreAnsx after logging
    // every file that cannot be loaded.
    void strer(short slot);

    // ---- program reader (loader path) ---------------------------------------------------
    // Reads the document under root (the parent of "PROGRAM") into the
    // program and builds its kernels (keep: read impulse files at their own
    // rate) and raw tables. False after any failure, which is logged and
    // leaves the program unloaded; nothing it made is kept then.
    bool load_(CoreNode* root, bool keep);
    // The program file the next load_ reads, named in the refusals it logs.
    void setnf(CoreAnsx const& f);

    // ---- kernel building from impulse files (loader path) -------------------------------
    // Builds every loaded slot, then the hybrid slot or slot 0's smoothing
    // pair. Throws CoreAnsx("") at the first slot that fails.
    void start(bool keep);
    // Builds one slot from its tree's impulse files: sizes, rate decision,
    // sync, cut, fades, cache registration, naming. ref: time offset to use
    // (samples), -1 for the slot's own. Throws CoreAnsx("") after releasing
    // every element it made that nobody else holds.
    void streh(short slot, CoreWvfr* reader, long ref, bool keep);
    // One impulse's sync point (samples) on n frames of left and right
    // (right may be left): HRTF, train, jitter or the default peak search,
    // on negated copies when positive is false. first: file 0's sync point.
    static long synch(CorePool* pool, double const* left, double const* right, long n,
                      double balance, bool hrtf, bool train, double threshold, bool jitter,
                      int index, long first, bool positive);
    // Stores the slot's two length limits (samples) and recomputes its
    // dimensions; true when a limit changed.
    bool setnp(short slot, long nl, long xl);
    // Changes one limit (which 0 normal, 1 extended; samples) and rebuilds
    // the slot's outputs when anything changed. Engine, off the audio path.
    bool setod(short slot, short which, long limit);
    void trsir(short slot, long n);   // zeroes the first n samples of every impulse element
    void cpyir(short dst, short src); // copies src's impulse elements into dst's

    // ---- per-block update (audio thread) ------------------------------------------
    // One block: LSTO from the last output sample (processing only), every
    // modulator in the fixed order, the raw vectors and the slot vectors;
    // with processing, the output fades. frames: samples; tempo: bpm.
    void updte(bool processing, double frames, double last, double tempo) noexcept;
    void setef(double a, double b, double c, double d) noexcept; // one sample to EVF1..4
    void setes(double a, double b) noexcept;                     // one sample to EVF5
    bool hasto();         // Gainpadout Trim Control bound to an active source
    bool hasti();         // Gainpadin Trim Control bound to an active source
    bool hasdr();         // Gaindry Control bound to an active source
    bool* getus();        // slot 0 root's second output-updated flag; null without one
    bool* getui(short s); // slot s root's first output-updated flag; null without one
    long getmo(short s);  // largest extended fade-out the slot allows, samples
    void setco(short s, long n, bool apply); // extended fade-out of slot s (allocates a ramp)
    void setot(short s, short mode);         // 0 normal, 1 extended kernel

    // ---- slot getters -----------------------------------------------------------------
    int getbr(short s);                      // block size
    bool getv3(short s);                     // extended flag
    int getid(short s);                      // normal length
    int getep(short s);                      // padded extended length
    int getex(short s);                      // extended length
    int getco(short s);                      // extended fade-out; 0 unused
    int getib(short s, short sel, bool ext); // sel 0 fade-out end, sel 1 bound; 0 unused
    int getod(short s, short sel);           // sel 0 normal, sel 1 extended length; 0 unused
    int getts(short s);                      // extended length; 0 unused
    void* getli(short s);                    // slot s's left kernel (root output)
    CoreVctr* getvr(short s);                // slot s's vector root; null when none
    void* getri(short s);                    // slot s's right kernel
    void* getls();                           // slot 0's second left kernel (smoothing path)
    void* getrs();                           // slot 0's second right kernel
    bool ismkr(short s);                     // marker slot
    short gethc(bool all);                   // slots loaded, capped by HDIM unless all
    void setv3(short s, bool b);             // extended flag (raises the changed mark)
    void setcv(int i, CoreCnvl* cnvl);       // attaches the engine's player to slot i
    void setsp(short sel);                   // slot 0 root's active output pair

    // ---- scalar state -------------------------------------------------------------------
    double getff();              // feedback factor
    void setff(double v);        // feedback factor (FEEDBACKFACTOR / 100)
    bool hasfb();                // feedback factor above 0
    double getdr();              // dry gain, linear
    void setdr(double v);        // dry gain, linear
    double getpi();              // input pad gain, linear
    void setpi(double v);        // input pad gain, linear
    double getpo();              // output pad gain, linear
    void setpo(double v);        // output pad gain, linear
    double getsz();              // bytes of impulse data read
    int getsm();                 // impulse files loaded
    long getua();                // lookahead, us
    void setua(long v);          // lookahead, us
    void setac(long samples);    // lookahead cap, samples (the engine's, at the rate in force)
    long getpr();                // PROGRAMRATE, -1 when absent
    short getsh();               // HDIM
    void setsh(short v);         // HDIM
    short getst();               // SMOOTH, -1 when absent
    void setst(short v);         // SMOOTH
    int getof();                 // largest slot offset, -1 before loading
    int getfr();                 // rate of the impulse files, Hz
    int getcr();                 // rate they were converted to, Hz
    void setrt(int rate);        // processing rate, Hz
    void setrc(long us);         // files longer than this are read unconverted
    void setmp(int n);           // minimum block, samples
    void setfs(CoreFsys* store); // item store element files are read from (not owned)
    void setsb(CorePmsg* rows);  // rows for loading progress (not owned)
    bool getf2();                // FORCEOT2
    bool setf2(bool b);          // sets FORCEOT2; returns it
    bool getfm();                // FORCEMONO
    bool setfm(bool b);          // sets FORCEMONO; returns it
    bool getfi();                // INVISIBLETHREAD
    void setfi(bool b);          // INVISIBLETHREAD
    bool getfh();                // FORCEHYBRID
    void setfh(bool b);          // switches hybrid mode, resetting slot 0 (every call)
    bool getnc();                // name changed since the vector file was named
    DataSrce* getsr();           // the program's bus
    DataGfun* getgf();           // the function catalogue

    // ---- texts (copies) -----------------------------------------------------------------
    CoreAnsx getnm();                              // NAME
    void setnm(CoreAnsx const& text);              // raises the name-changed mark
    CoreAnsx getds();                              // DESCRIPTION
    void setds(CoreAnsx const& text);              // DESCRIPTION
    CoreAnsx getct(short level);                   // category level 0..2; "" otherwise
    void setct(CoreAnsx const& text, short level); // category level 0..2; other levels ignored
    CoreAnsx getfs();                              // FEEDBACKSOURCE
    void setfs(CoreAnsx const& key);               // also binds the Feedback Control
    CoreAnsx getys();                              // GAINDRYSOURCE
    void setys(CoreAnsx const& key);               // also binds the Gaindry Control
    CoreAnsx getar();                              // LOOKAHEADSOURCE
    void setar(CoreAnsx const& key);               // also binds the Lookahead Control
    void setvf(CoreAnsx const& name);              // VECTORFILENAME; clears the name-changed mark

    // ---- modulators and controls (not owned by the caller; null outside) ------------
    CoreLfo_* getlf(short i); // LFO i + 1, i 0..3
    CoreFun_* getfn(short i); // FUN i + 1, i 0..7
    CoreEnvf* getef(short i); // EVF i + 1, i 0..4
    CoreEnv_* geten(short i); // ENV i + 1, i 0..1
    CoreDynm* getdy(short i); // DNM i + 1, i 0..1
    CorePrm_* getpm(short i); // PRM i + 1, i 0..15
    CoreIfce* getmx(short i); // MIX i + 1, i 0..7
    CoreIfce* getif(long i);  // 0..7 MIX1..8, 8 GAININ, 9 GAINOUT; logged outside
    // Puts prm at i (0..15); the replaced one is not deleted. Returns i.
    short setpm(short i, CorePrm_* prm);

    // ---- derived values (audio thread) ------------------------------------------------
    double getrf();                       // feedback factor x Feedback Control
    double getry();                       // dry gain x Gaindry Control
    double getaf();                       // Lookahead Control
    double getti();                       // input trim, linear; 1.0 when the control reads zero
    double getto();                       // output trim, linear; 1.0 when the control reads zero
    double getab();                       // lookahead in samples, 0 .. lookahead cap
    double getsc(CoreAnsx const& key);    // value of the source with that key ("OFF" if none)
    void upsrc(int i, double v) noexcept; // writes bus source i
    bool isqpr();                         // EVF5 is active

    // True when the largest value exceeds the magnitude of the most negative.
    static bool inphs(double const* values, int n);
    // Part of a block by itself: followers, raw vectors, raw functions (n samples).
    void test_(int n) noexcept;

    // ---- document write-back (CoreProgWrit.cpp, CoreProgWmod.cpp) -----------------------
    // What the write-back reads that moves while the program plays: the
    // controls the host's parameter writes and MIDI set inside the process
    // call, and what the engine's setters change while they hold the engine
    // and worker locks (lookahead, feedback and dry gain, smoothing, the
    // thread switch, HDIM, the slots' lengths, the PRM order, the rate).
    // Copied by value in one short step (takel) while the engine keeps
    // audio away, so a document written from the copy afterwards, with audio
    // running, shows one moment of the audio.
    struct LIVE {
        struct LENGTHS { // one kernel slot as chggl writes it
            bool inuse = false;
            bool changed = false;
            bool extended = false;
            int normallength = 0;    // samples
            int normalfadeout = 0;   // samples
            int extendedlength = 0;  // samples
            int extendedfadeout = 0; // samples
        };
        bool mixvalid[iCmixes] = {};   // MIX1..8: the main slot holds a value
        double mixvalue[iCmixes] = {}; // MIX1..8: the main slot's raw value
        double gainin = 0.0;           // GAININ, fraction of the slot in use
        double gainout = 0.0;          // GAINOUT, fraction of the slot in use
        long lookahead = 0;            // us
        double feedbackfactor = 0.0;
        double drygain = 0.0; // linear
        short smooth = 0;
        short hdim = 0;
        bool invisiblethread = false;
        int rate = 0;                // processing rate, samples/s
        std::vector<LENGTHS> slots;  // capacity + 1, the hybrid slot last
        CorePrm_* prms[iCprms] = {}; // PRM1..16 as the table holds them (not owned)
    };
    // Copies them (the slot list allocates). Caller keeps audio away.
    LIVE takel();
    // Bring the document the program was read from up to date, section by
    // section, before it is saved or handed out; the engine calls them in the
    // order chgmx, chggl, chglf, chgpr, chgfn, chgef, chgen, chgdy, chgpt. Each
    // writer replaces only the elements it owns; a replaced element moves to
    // the end of its parent, so the written order is part of the file. Loader
    // path (they allocate); nothing reported; a null document is logged. The
    // forms with a LIVE take its moving values from it and read the rest from
    // the program; the others take the program's values as they stand.
    void chgmx(CoreXml_* doc); // MIX1..8 (main slots), GAININ, GAINOUT (current slots)
    void chgmx(CoreXml_* doc, LIVE const& live);
    // NAME .. HDIM, then FORCEOT2 and the OT1/OT2 lengths of every changed slot in use.
    void chggl(CoreXml_* doc);
    void chggl(CoreXml_* doc, LIVE const& live);
    void chgpr(CoreXml_* doc, bool set, long rate); // PROGRAMRATE = rate, or removed
    void chglf(CoreXml_* doc); // LFO1..4; an LFO without a shape keeps its element
    void chgfn(CoreXml_* doc); // FUN1..8
    void chgef(CoreXml_* doc); // EVF1..5
    void chgef(CoreXml_* doc, LIVE const& live);
    void chgen(CoreXml_* doc); // ENV1..2
    void chgen(CoreXml_* doc, LIVE const& live);
    void chgdy(CoreXml_* doc); // DNM1..2
    void chgpt(CoreXml_* doc); // DISPLAY/PRM1..16 (a stale LUMOIIPRMn goes)
    void chgpt(CoreXml_* doc, LIVE const& live);

    // Program archive header: the program document inside the archive at path
    // (the item whose name holds the archive's file name and that parses as a
    // program). setni writes NAME, the three categories (categories: 3 texts,
    // null leaves them), DESCRIPTION, VECTORFILENAME when unset, merges patch
    // (may be null), renames the item after vectorname unless it is "0", and
    // writes the archive back whole. A damaged archive (an entry the reader
    // had to skip) and one without a program item are left untouched: false.
    static bool setni(CorePool* pool, CoreAnsx const& path, CoreAnsx const& name,
                      CoreAnsx const* categories, CoreAnsx const& description, CoreNode* patch,
                      CoreAnsx const& vectorname);
    // Reads them back: "NULL" for an absent name, description or vector file
    // name, "" for an absent category (categories: room for 3). False, outputs
    // untouched, when the archive holds no program item.
    static bool getni(CorePool* pool, CoreAnsx const& path, CoreAnsx& name, CoreAnsx* categories,
                      CoreAnsx& description, CoreAnsx& vectorname);
    // The first item of store, in table order, whose upper-cased name holds
    // key and whose text parses into document with a PROGRAM element: its id,
    // or -1 (document then closed). Shared by every archive header edit.
    static int findProgramItem(CoreFsys* store, CoreAnsx const& key, class CoreXml_& document);
    // True when every ITEM of the table of contents the store last read came
    // into memory: the reader skips (and logs) entries it cannot take, and a
    // store written back would silently lose them.
    static bool wholeArchive(CoreFsys& store);
    // The one archive header edit: loads the archive at path, refuses a
    // damaged one, finds its program item (key = the archive's upper-cased
    // file name; with xmlfirst an item holding key + ".XML" wins over one
    // holding key), lets edit change the document and its last PROGRAM
    // element, writes that item back (renamed after itemname unless "0"),
    // the other items byte for byte, and saves. what names the change in the
    // log. False, the archive untouched, on any refusal or failure.
    using ProgramEdit =
        std::function<void(CoreXml_& document, CoreNode* program, CoreAnsx const& key)>;
    static bool editProgramItem(CorePool* pool, CoreAnsx const& path, bool xmlfirst,
                                char const* what, ProgramEdit const& edit,
                                CoreAnsx const& itemname);
    // A time in samples as the whole microseconds written for it: rounded up,
    // so the reader's truncation gives the same samples back; below 1 sample,
    // or at a rate below 1, unchanged; saturated to int.
    static int timeOf(long samples, int rate);

protected:
    // The slot record s (0 .. capacity); null and logged outside.
    HLOC* slotAt(int s, char const* operation);
    // 1.0 when v x dCtrimfactor has zero exponent bits, else that product.
    static double trimOf(double v);
    // Forgets the root and every pointer into its (deleted) tree.
    static void forgetTree(HLOC& h);
    // Deletes whatever the constructor built (destructor and a failed build).
    void release() noexcept;
    // Detaches both arrays of every raw-function modulator.
    void detachRawFunctions() noexcept;
    // Frees the impulse elements the slot holds itself (before its tree goes).
    static void freeOwned(HLOC& h) noexcept;
    // Gives every impulse element of the slot n samples (old contents first,
    // zeros after); the elements only grow.
    void growElements(HLOC& h, int n);
    // Name of the cache group kernels are registered in: the file name of
    // the archive the item store loaded last.
    CoreAnsx groupName();

    // ---- program reader steps (CoreProgLoad.cpp) --------------------------------------
    // tag follows the section or key being read, which a refusal's line
    // names; a failure is thrown as CoreAnsx holding its reason.
    void readGlobals(CoreNode* program, CoreAnsx& tag);
    void readModulators(CoreNode* program, CoreAnsx& tag);
    void readSections(CoreNode* program, CoreAnsx& tag);
    void readSlots(CoreNode* program, CoreAnsx& tag);
    static long longOf(CoreNode const* node, CoreAnsx const& tag, long fallback); // saturated

    // ---- document reading rules (CoreProgSect.cpp) -----------------------------------
    // A value counts when its element exists and does not hold exactly "0"; a
    // null node reads as absent; a number that is not finite reads as absent
    // (logged); integer fields saturate.
    static bool present(CoreNode const* node, CoreAnsx const& tag);
    static CoreNode* childOf(CoreNode const* node, CoreAnsx const& tag); // null when absent
    static CoreAnsx textOf(CoreNode const* node, CoreAnsx const& tag, CoreAnsx const& fallback);
    static double numberOf(CoreNode const* node, CoreAnsx const& tag, double fallback);
    static int microsOf(CoreNode const* node, CoreAnsx const& tag, int fallback); // us, truncated
    static short shortOf(CoreNode const* node, CoreAnsx const& tag, short fallback);
    int samplesOf(int us) const; // us to samples at the program rate, saturated

    // ---- shared by the element readers (CoreProgVctr.cpp) -------------------------------
    // One reader level: raises the shared depth for as long as it lives.
    // Throws CoreAnsx (logged) instead of passing iCmaxdepth.
    struct LEVELGUARD {
        LEVELGUARD(int& depth, CoreAnsx const& tag);
        ~LEVELGUARD();
        LEVELGUARD(LEVELGUARD const&) = delete;
        LEVELGUARD& operator=(LEVELGUARD const&) = delete;
        int& depth; // the section's shared counter
    };
    // The ELEMENT children of a VECTOR node, in document order.
    static std::vector<CoreNode*> elementsOf(CoreNode const* vector);
    // Reads the n elements of one VECTOR through read(j, isfile), which
    // answers whether element j built a vector and sets isfile for a bare
    // file. True when every element is a file (a leaf vector); a VECTOR mixing
    // both is logged (files: what its files hold) and thrown with that line.
    static bool readElements(int n, char const* files,
                             std::function<bool(int j, bool& isfile)> const& read);
    // The value and bus sources a CONTROL element gives the vector it heads;
    // its own MINVALUE/MAXVALUE replace the vector's range (minimum, maximum)
    // only with a SOURCE.
    struct CONTROLSOURCES {
        bool sourceon;   // SOURCE given
        CoreAnsx source; // SOURCE key
        bool buson;      // BUSSOURCE given
        CoreAnsx bus;    // BUSSOURCE key
        double minimum;  // position range
        double maximum;
        CoreAnsx debug() const; // "CONTROL:S:min:max:source:B:bus" as the readers log it
    };
    static CONTROLSOURCES sourcesOf(CoreNode const* control, double minimum, double maximum);
    // Drops the entries past count (what a failed reader had filed).
    static void cutList(CoreTlst& list, int count);
    // Fetches the external vector file `file` through the store, parses it and
    // hands its top element's VECTOR to read. A file already open on the
    // chain, a missing or unparsable file, one without VECTOR and a failure
    // inside read are logged ("Error in file") and thrown with their reason.
    static void readExternal(CorePool* pool, CoreFsys* store, CoreAnsx const& file, FILECHAIN& open,
                             std::function<void(CoreNode*)> const& read);

    // ---- one field table (declaration order) ------------------------------------------
    CoreAnsx vectorfolder;         // the engine's vector sub-folder, handed to the element readers
    CoreAnsx currentpath;          // path shared by the element readers of one section
    CoreAnsx name;                 // NAME
    CoreAnsx category[3];          // CATEGORY, SUBCATEGORY1, SUBCATEGORY2
    CoreAnsx description;          // DESCRIPTION
    CoreAnsx feedbacksource;       // FEEDBACKSOURCE
    CoreAnsx gaindrysource;        // GAINDRYSOURCE
    CoreAnsx lookaheadsource;      // LOOKAHEADSOURCE
    CoreAnsx vectorfilename;       // VECTORFILENAME; "0" none
    CoreAnsx programfile;          // the program file being loaded, named in its refusals
    int syncversion = 0;           // SYNCVERSION
    int rate = 0;                  // processing rate, samples/s
    int filerate = 0;              // rate of the impulse files last read, Hz
    int convertedrate = 0;         // rate they were converted to, Hz
    int loadedfiles = 0;           // impulse files loaded over all slots
    int elementdepth = 0;          // nesting depth shared by the element readers
    int maxblock = 0;              // largest convolution block, samples
    int minblock = 0;              // smallest convolution block, samples
    int largestoffset = -1;        // largest slot time offset, samples; -1 before loading
    long firstsync = 0;            // first sync point of slot 0, samples
    short smooth = 0;              // SMOOTH; negative when absent
    short capacity = 0;            // kernel slots H1..Hn
    short slots = 0;               // H sections loaded
    short hdim = 0;                // HDIM; 0 no limit
    long normalceiling = 0;        // default normal kernel length limit, us
    long extendedceiling = 0;      // default extended kernel length limit, us
    long forcedoffset = -1;        // FORCEOFFSET, us; -1 none
    long lookahead = 0;            // LOOKAHEAD, us
    long conversionceiling = 0;    // files longer than this (us) are read unconverted
    long enginefigure1 = 0;        // kept for the engine, not read here
    long enginefigure2 = 0;        // kept for the engine, not read here
    long programrate = -1;         // PROGRAMRATE; -1 when absent
    long alignoffset = 0;          // ALIGNOFFSET, us
    long lookaheadcap = 0;         // largest lookahead, samples
    double gainir = 0.0;           // GAINIR, linear
    double feedbackfactor = 0.0;   // FEEDBACKFACTOR / 100
    double drygain = 0.0;          // GAINDRYFACTOR, linear
    double datasize = 0.0;         // bytes of impulse data read
    double padin = 1.0;            // GAINPADIN, linear
    double padout = 1.0;           // GAINPADOUT, linear
    double alignbalance = 0.0;     // ALIGNBALANCE
    bool loaded = false;           // vectors read without failure; cleared by uload
    bool started = false;          // kernels built; cleared by uload
    bool trainmode = false;        // TRAINMODE
    bool jittermode = false;       // JITTERMODE
    bool hrtfmode = false;         // HRTFMODE
    bool forceot2 = false;         // FORCEOT2
    bool invisiblethread = false;  // INVISIBLETHREAD
    bool forcehybrid = false;      // FORCEHYBRID
    bool forcemono = false;        // FORCEMONO
    bool namechanged = false;      // raised by setnm, cleared by setvf and uload
    bool sharedcache = false;      // the cache was handed in (not deleted here)
    HLOC* hslots = nullptr;        // capacity + 1 kernel slots; the last is the hybrid slot
    RAWLOC* rawslots = nullptr;    // iCrawslots raw slots
    DataGfun* functions = nullptr; // function catalogue (owned)
    DataRgfn* rawfunctions = nullptr;     // raw-function catalogue (owned)
    DataSrce* sources = nullptr;          // the program's bus (owned)
    CoreLfo_* lfos[iClfos] = {};          // owned
    CoreFun_* funs[iCfuns] = {};          // owned
    CoreRfun* rawfuns[iCrawfuns] = {};    // owned
    CorePrm_* prms[iCprms] = {};          // owned; replaceable by setpm
    CoreEnvf* evfs[iCevfs] = {};          // owned
    CoreDynm* dnms[iCdnms] = {};          // owned
    CoreEnv_* envs[iCenvs] = {};          // owned
    CoreIfce* ifces[iCifces] = {};        // owned: MIX1..8, GAININ, GAINOUT
    CoreParm* feedbackcontrol = nullptr;  // "Feedback Control" (owned)
    CoreParm* gaindrycontrol = nullptr;   // "Gaindry Control" (owned)
    CoreParm* lookaheadcontrol = nullptr; // "Lookahead Control" (owned)
    CoreParm* padintrim = nullptr;        // "Gainpadin Trim Control" (owned)
    CoreParm* padouttrim = nullptr;       // "Gainpadout Trim Control" (owned)
    CoreBlnk* blink = nullptr;            // blink clock of the MIX controls (not owned)
    CoreFsys* store = nullptr;            // where element files are read (not owned)
    CorePmsg* messages = nullptr;         // loading progress rows (not owned)
    CorePool* pool = nullptr;             // pool of every buffer (not owned)
    CorePlel* cache = nullptr;            // kernel element cache (owned unless sharedcache)
};
