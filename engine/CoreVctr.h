#pragma once
// CoreVctr: one node of a kernel-vector tree. A leaf holds n kernel elements
// (left/right buffer pairs sampled from impulse files at n settings of one
// control); an inner node holds n child vectors and takes each child's output
// pair as one of its elements. Each node mixes its elements into its own
// output pair; the root's output is the kernel a convolution player runs.
// Five controls steer the mix (Vector, Liquid, Gainpad, Gain, Pan).
// Kernel memory is made, copied, scaled, faded and mixed only through the
// element functions of the engine (player) given at construction; without
// one, through the player's plain memory set with a null extension.
// Owner: the program slot owns the root, every node owns its children, its
// controls, its output pairs, fade elements and cache registrations. Element
// buffers belong to the cache once registered (else to the caller).
// Threads: built, sized and linked on the program's loader path ("control or
// display thread, may block"); the per-block update and the mix run on the
// processing thread (audio thread: no allocation, no file or log I/O, no
// blocking lock). The program serialises the two.
// The per-block control update, mixing, normalisation and output fades are
// defined in engine/CoreVctrMix.cpp.

#include "engine/CoreCnvl.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CoreButl.h"

#include <cstdint>

class CorePool;
class CorePlel;
class CoreParm;
class CoreSrce;
class CoreTlst;
class DataSrce;

class CoreVctr {
public:
    CoreVctr(CorePool* pool, CorePlel* cache, short index, CoreCnvl* engine, bool leaf, int n,
             CoreAnsx* names, double* positions, CoreVctr** children, double minimum,
             double maximum, double* readbackValues, double readbackBase, double readbackTop,
             CoreAnsx vectorSource, DataSrce* sources, double liquid, CoreAnsx liquidSource,
             int offset, int fadeIn, int* fadeOut, int* limits, bool nearest, short fadeInCurve,
             short fadeOutCurve, bool unused);
    ~CoreVctr();
    CoreVctr(CoreVctr const&) = delete;
    CoreVctr& operator=(CoreVctr const&) = delete;
    CoreVctr(CoreVctr&&) = delete;
    CoreVctr& operator=(CoreVctr&&) = delete;

    // ---- tree-wide operations (recursing through inner vectors) ----------------------
    void chnna(CoreAnsx name); // names the tree: child i is name + "_" + i
    void chncp(long length, long length1, long allocated); // sizes and allocates output pair 0
    void chncd(short selector);                            // current length := length 0 or 1
    void chnip();       // children's outputs become parents' elements
    void chndc();       // frees the output pairs of the tree
    int chnfi();        // fade-in time, own or subtree maximum
    short chnci();      // fade-in curve, own or subtree maximum
    short chnco();      // fade-out curve, own or subtree maximum
    int chnfo(short k); // fade-out time k, own or subtree maximum
    int chnls(short k); // limit k, own or subtree maximum
    void ulink();       // forgets the children without deleting them

    // ---- element buffers (leaf vectors) ----------------------------------------------
    // Allocates a left (and, when right is not null, a right) element of n
    // samples with the cache's pool, or the vector's own without a cache.
    void newip(void** left, void** right, int n);
    // Stores element i; with a cache and an engine registers it, and the
    // cache may substitute a shared pair (then getsb(i) is true).
    void setip(int i, double* left, double* right, CoreAnsx name, long length, int rate,
               long rangeStart, long rangeEnd, void* owner, short variant);
    void getip(int i, void** left, void** right);      // element i's buffers; null for a bad i
    void cpyip(int i, void* left, void* right, int n); // copies n samples into element i
    void copyd(void* dstLeft, void* dstRight, void* srcLeft, void* srcRight, int n,
               int offset);              // copies with flush, at offset
    void delip(void* left, void* right); // deletes two element buffers
    void setpk(int i, double peak);      // element i's peak
    void setrz(int i, long a, long b);   // element i's explicit range
    bool getrz(int i, long& a, long& b); // range flag and values; false, 0, 0 outside
    bool getsb(int i) const;             // element i is a buffer pair shared from another owner
    CoreAnsx getfn(int i);               // element i's file name
    int getne() const;                   // number of elements
    double getps(int i) const;           // element i's position on the Vector axis; 0 outside
    // What setgn normalises with: whether it does, the reference position
    // and the weight of per-element normalisation (loader path).
    void getnz(bool& on, double& position, double& weight) const;
    void getup(int& offset, int& fadeIn); // the two sizing values

    // ---- outputs and switching ---------------------------------------------------------
    void* getlc();          // left buffer of output pair 0
    void* getrc();          // right buffer of output pair 0
    void* getls();          // left buffer of output pair 1
    void* getrs();          // right buffer of output pair 1
    bool* getuc();          // updated flag of pair 0
    bool* getus();          // updated flag of pair 1
    bool* getca();          // converged flag
    int getcd() const;      // current length, samples
    int getal() const;      // allocated length of the outputs, samples
    short getap() const;    // active output pair, 0 or 1
    CoreAnsx getnm() const; // the vector's name
    void setsc();           // creates output pair 1 and enables switching
    void setcc(short k);    // makes pair k the active output
    // Crossfade for setfd(false, ...): tail window (not owned) over tailLength
    // samples, fade length totalLength, fadeInLength samples faded in at the head.
    void setcr(void* window, int tailLength, int totalLength, int fadeInLength);
    void* newfi(int n); // rising ramp element of n samples (fade-in)
    void* newfo(int n); // falling ramp element of n samples (fade-out)
    void* newfe(int n); // falling ramp element of n samples (tail fade), replacing the last

    // ---- per-block update and mixing (engine/CoreVctrMix.cpp) ---------------------------
    // Binds the controls (loader path): Vector position range and source,
    // readback source, pan depth and source, Gainpad floor (linear) and
    // source, Gain source, and (leaf only) normalisation position and weight.
    void setvl(bool vectorOn, double minimum, double maximum, CoreAnsx vectorSource,
               bool readbackOn, CoreAnsx readbackSource, double panDepth, CoreAnsx panSource,
               double gainpadFloor, CoreAnsx gainpadSource, bool gainOn, CoreAnsx gainSource,
               bool normaliseOn, double normalisationPosition, double normalisationWeight);
    // One block of this node: reads the controls and the Vector weights; with
    // mix also mixes the elements into the output unless it has settled.
    void updte(bool mix) noexcept;
    // updte over the subtree, children first.
    void chnup(bool mix) noexcept;
    // chnup, then (with mix) raises the active pair's updated flag when the
    // output changed, or always with bVupdategate off.
    void chnru(bool mix) noexcept;
    // Normalises a leaf's elements towards peak gain (linear): each element's
    // factor blends the reference peak at the normalisation position with its
    // own by the normalisation weight. Loader path.
    void setgn(double gain);
    void setlq(double liquid); // liquid setting, held to 0.01 .. 0.99
    double getlq();            // liquid setting
    double getmn();            // lower end of the position range
    double getmx();            // upper end of the position range
    // Folds an output fade into every mix from now on and fades the current
    // output once: tail: a samples with the tail-fade element over the last
    // b; otherwise the crossfade given by setcr.
    void setfd(bool tail, int a, int b) noexcept;
    // Fades one pair of n samples with window at the head (n samples).
    void setfd(void* left, void* right, int n, void* window) noexcept;

    // ---- the output as a sum of elements (engine/CoreVctrMix.cpp) --------------------
    // Output pair 0 written as a weighted sum of leaf element buffers, and the
    // sample ranges the sum does not describe (faded, or past the mixed
    // length). What the partitioned engines mix their kernel spectra from.
    struct LINEARSUM {
        static constexpr int iCterms = 8;
        static constexpr int iCranges = 16;
        int count = 0;
        void const* left[iCterms] = {};
        void const* right[iCterms] = {};
        double weight[iCterms] = {};
        CoreVctr const* owner[iCterms] = {}; // the leaf holding the element
        int ranges = 0;
        long from[iCranges] = {};
        long to[iCranges] = {}; // exclusive
    };
    // Adds output pair 0, times scale, to sum with the ranges of the subtree:
    // true when the mixes since the outputs were made (or since anything
    // changed under them, once the retention has washed that out) had no pan
    // and met no more than iCterms element pairs; false (sum then unusable)
    // otherwise or when sum is full. A switching vector says false: pair 0
    // may not be its mix.
    bool chnsm(LINEARSUM& sum, double scale) const noexcept;
    // The distinct leaf element pairs of the subtree, at most capacity of
    // them; -1 when there are more. Loader path.
    int chnel(void const** left, void const** right, int capacity) const;
    // Changes whenever an element's contents or the mixed length may have
    // changed: spectra made of the elements before are stale.
    long getev() const { return elementversion; }

    // ---- mixes written in part (engine/CoreVctrMix.cpp) ------------------------------
    // A partitioned player that mixes its kernel spectra from the elements
    // reads the root's output only where the sum does not describe it. With
    // granule > 0 (that player's partition length) the tree's mixes write only
    // those ranges (chnrg's, rounded out to whole granules) and keep the
    // steps they left out. The rest is cut in iCsteps segments, and each
    // update writes one of them up to date, in turn: no segment is more than
    // iCsteps steps behind, and every update costs about the same. 0 writes
    // everything out and mixes whole again. holder (the binder's pointer to
    // this root) is cleared when the root goes first. Root only; loader path.
    void chndf(int granule, CoreVctr** holder = nullptr) noexcept;
    // Writes out the steps the tree's mixes left out: afterwards every output
    // holds what the whole mixes would have written, bit for bit. Every change
    // of elements, lengths, fades or pairs does this first.
    void chnwr() noexcept;
    // Samples from .. to - 1 of the root's output pair 0 hold the whole mixes' values.
    bool chnpw(long from, long to) const noexcept;
    static constexpr int iCsteps = 32; // steps a part of an output may be behind

    // Raise the updated flag only when the output changed (default). Off, it
    // is raised after every mixing update; the engines' output is the same.
    static inline bool bVupdategate = true;

    // Residual below which a vector has settled.
    static constexpr double dCbenchmarktolerance = 1e-20;
    static constexpr double dCliquidmin = 0.01; // lowest liquid setting
    static constexpr double dCliquidmax = 0.99; // highest liquid setting

protected:
    // Read by the raw vector (CoreRvct), which derives from this node and
    // destroys its raw children itself.
    bool leaf; // true: elements are kernel buffers; false: child vectors
    int count; // number of elements n
    // Child vectors of an inner vector (owned); null entries in a leaf.
    CoreVctr** children = nullptr;
    double normposition = 0.0; // position at which setgn takes the reference peak
    double normweight = 1.0;   // weight of per-element normalisation in setgn

private:
    // Test accessor (tests/engine/CoreVctrPeek.h): reads members, adds no state.
    friend struct CoreVctrPeek;

    // Element functions of the engine's current selection (the plain set
    // with a null extension without an engine), looked up on every call.
    CoreCnvl::VECEXTENSION* elementExtension();
    short elementSet(); // 1 memory elements, 2 bridge elements
    void* elementNew(CorePool* from, int n);
    void elementDelete(CorePool* from, void* element);
    void elementCopy(void* dst, void const* src, int n, bool transfer, int offset, bool flush);
    CoreCnvl::ELADJ elementAdjust() const;
    CoreCnvl::ELFADE elementFade() const;
    CoreCnvl::ELMIX elementMix() const;
    // Logs a per-element call with a bad index; true when i is usable.
    bool validIndex(int i, char const* operation) const;
    // Builds a ramp element of n samples, falling when falling is set.
    void* rampElement(int n, bool falling);
    // A fade element about to be deleted: the crossfade window and the
    // folded fade that still point at it take its replacement of n samples
    // (their lengths limited to n).
    void redirectWindow(void* old, void* fresh, int n);
    // Frees a pool block of this vector when present and leaves it null.
    template <typename T> void freeBlock(T*& block) {
        freeRaw(block);
        block = nullptr;
    }
    void freeRaw(void* block);
    // Deletes an output pair of this vector's pool (right only when it is
    // not the left) and leaves both null.
    void dropPair(void*& left, void*& right);

    // The output no longer holds the mix of what feeds it: the next update
    // mixes, and until then nobody (a parent, the engine) reads it as settled.
    void remix();
    // Searches the position tree for p and caches the unscaled weights and
    // indices; writes the readback source.
    void findWeights(double p);
    int foldLength() const; // fold length limited to the buffers, samples
    // Samples in window when it is one of this vector's fade elements (0
    // for none), -1 for a window it does not know.
    int rampLength(void const* window) const;
    // Makes (loader path) or frees the scratch pair a folded fade mixes into;
    // made only for a vector with fade windows, at the allocated length.
    void prepareFold();
    void releaseFold();

    // ---- steps of updte, in order (engine/CoreVctrMix.cpp) ----------------------------
    // Gains: Gainpad, Gain and Liquid into gain, and into the record's mix
    // gain (normalisation makeup and fresh share included) and retention.
    void updateGains(CoreCnvl::VECTORMIXSTRUCT& record);
    // Weights: the Vector position's two elements and their weights scaled
    // by the mix gain (searched only when the position moved).
    void updateWeights(CoreCnvl::VECTORMIXSTRUCT& record);
    // Pan: the four pan gains of the Pan control, when pan applies.
    void updatePan(CoreCnvl::VECTORMIXSTRUCT& record);
    // Change tracking: clears unchanged when anything that feeds the mix
    // moved or an element is not steady, records what this mix uses, and
    // drops chosen elements without buffers. True when an all-element mix
    // would meet an element without buffers.
    bool trackChanges(CoreCnvl::VECTORMIXSTRUCT& record);
    // Convergence: an unchanged input shrinks the residual by the retention
    // until the output has settled; any change starts it again at 1.
    void updateConvergence(double retention);
    // Mix: the record into the current output, with the folded output fade.
    void mixOutput(CoreCnvl::VECTORMIXSTRUCT const& record);
    // Follows the mix of record in own and unknown (see chnsm).
    void trackSum(CoreCnvl::VECTORMIXSTRUCT const& record) noexcept;
    // Adds the ranges of the subtree's outputs own does not describe; false when sum is full.
    bool chnrg(LINEARSUM& sum) const noexcept;
    // Writing in part (see chndf): the tree's nodes take root as theirs.
    void bindDefer(CoreVctr* root) noexcept;
    // Every node of the subtree mixes through the one-pass mix of the plain
    // memory elements, which can mix a range alone.
    bool partable() const noexcept;
    long treeTop() const noexcept; // longest current length in the subtree, samples
    // Root: the ranges this update writes, or false (then it mixes whole,
    // the steps left out written first).
    bool planPart() noexcept;
    // The fused mix of record over [from, to) of the output; split: the
    // fade scales the fresh share only.
    void mixPart(CoreCnvl::VECTORMIXSTRUCT const& record, bool split, long from, long to) noexcept;
    // Step k of the steps left out, over [from, to), children first.
    void replay(int k, long from, long to) noexcept;
    // Step k wrote every value of this node's output from its sources,
    // reading none of the old ones; treeWrote: every node of the subtree did.
    bool wrote(int k) const noexcept;
    bool treeWrote(int k) const noexcept;
    // Root: segment j of the unwritten ranges brought up to the last step.
    void catchUp(int j) noexcept;
    // Writes out what the tree left unwritten before this node changes.
    void settle() noexcept {
        if (deferroot != nullptr) deferroot->chnwr();
    }

    // Frees everything this vector owns that is present (destructor and a
    // constructor that failed half-way). Children are deleted only when
    // withChildren is set.
    void release(bool withChildren);

    CoreAnsx name = ""; // vector name, "" until chnna
    // Source name given at construction; unit text of the Vector control.
    CoreAnsx constructionsource;
    CoreAnsx vectorsource = "";        // source name given by setvl
    CoreAnsx liquidsource;             // source name of the Liquid control
    CoreAnsx gainpadsource = "";       // source name of the Gainpad control
    CoreAnsx pansource = "";           // source name of the Pan control
    CoreAnsx gainsource = "";          // source name of the Gain control
    CoreAnsx* filenames = nullptr;     // per element impulse file name (new[])
    short activepair = 0;              // output pair that mixing writes, 0 or 1
    short fadeincurve;                 // fade-in curve; negative: unset
    short fadeoutcurve;                // fade-out curve; negative: unset
    int offset;                        // caller's sizing value (offset)
    int fadeintime;                    // caller's sizing value (fade-in); 0 or less: unset
    int taillength = 0;                // samples faded at the tail by setfd
    int totallength = 0;               // length handed to the fade function, samples
    int fadeinlength = 0;              // samples faded in at the head
    int currentlength = 0;             // samples per output buffer that mixing and copying handle
    int length0 = 0;                   // current length for selector 0, samples
    int length1 = 0;                   // current length for selector 1, samples
    int allocatedlength = 0;           // samples per output buffer as allocated
    long* rangestart = nullptr;        // per element explicit range value one (pool block)
    long* rangeend = nullptr;          // per element explicit range value two (pool block)
    double positionmin = 0.0;          // lower end of the Vector control's position range
    double positionmax = 0.0;          // upper end of the Vector control's position range
    double readbackbase;               // value mapped to -1 on the readback source
    double readbacktop;                // value mapped to +1 on the readback source
    double readbackscale = 0.0;        // 2 / (top - base), set by setvl
    double liquid = 0.0;               // liquid setting, 0.01 .. 0.99
    double pandepth = 0.0;             // pan depth; pan enabled when > 0
    double gain = 1.0;                 // gain of the last update (linear)
    double gainpadfloor = 1.0;         // gain reached at full Gainpad (linear)
    double normmakeup = 1.0;           // largest normalised peak found by setgn (linear)
    double lastposition = -1.0;        // Vector position of the last weight computation
    double residual = 1.0;             // remaining share of the previous output (convergence)
    bool vectoron = false;             // the Vector control picks elements
    bool readbackon = false;           // the readback source is written
    bool panon = false;                // pan applies
    bool gainon = false;               // the Gain control applies
    bool normaliseon = false;          // setgn normalises
    bool weightscached = false;        // the last position's weights are valid
    bool switching = false;            // a second output pair exists
    bool nearest;                      // pick the nearer element instead of interpolating
    bool unchanged = false;            // nothing that feeds the mix changed since the last mix
    bool converged = false;            // the smoothed output has settled; mixing is skipped
    bool updated[2] = {false, false};  // per output pair: raised after each mix
    bool* activeupdated = &updated[0]; // updated flag of the active pair
    std::uint8_t* hasrange = nullptr;  // per element: setrz gave an explicit range (pool block)
    // Per element: the cache gave another owner's buffers (pool block).
    std::uint8_t* substituted = nullptr;
    // Per element steady flag (leaf: own byte; inner: child's converged).
    bool** elementflags = nullptr;
    int* fadeouttimes = nullptr; // fade-out times, normal and extended (pool block of 2)
    int* limits = nullptr;       // limits, normal and extended; negative: unset (pool block of 2)
    double* positions = nullptr; // element positions (pool block)
    double* readbackvalues = nullptr;        // per element readback value (pool block)
    double* peaks = nullptr;                 // per element peak, set by setpk (pool block)
    void* fadeinelement = nullptr;           // rising ramp made by newfi
    void* fadeoutelement = nullptr;          // falling ramp made by newfo
    void* tailfadeelement = nullptr;         // falling ramp made by newfe
    void* crossfadewindow = nullptr;         // window given by setcr (not owned)
    int lastindex[2] = {-1, -1};             // element indices of the last mix
    double lastweight[2] = {0.0, 0.0};       // weights (gain included) of the last mix
    double lastpan = 0.0;                    // pan value of the last mix
    double lastmixgain = 0.0;                // mix gain of the last all-element mix
    double cachedweight[2] = {0.0, 0.0};     // unscaled weights of the last position
    void** leftelements = nullptr;           // per element left kernel buffer or child output
    void** rightelements = nullptr;          // per element right kernel buffer or child output
    void* outleft0 = nullptr;                // output pair 0, left
    void* outright0 = nullptr;               // output pair 0, right
    void* outleft1 = nullptr;                // output pair 1, left
    void* outright1 = nullptr;               // output pair 1, right
    void* pairleft[2] = {nullptr, nullptr};  // pair table, left side
    void* pairright[2] = {nullptr, nullptr}; // pair table, right side
    void* currentleft = nullptr;             // left buffer that mixing writes
    void* currentright = nullptr;            // right buffer that mixing writes
    CoreParm* liquidcontrol = nullptr;       // Liquid control (owned)
    CoreParm* gainpadcontrol = nullptr;      // Gainpad control (owned)
    CoreParm* gaincontrol = nullptr;         // Gain control (owned)
    CoreParm* pancontrol = nullptr;          // Pan control (owned)
    CoreParm* vectorcontrol = nullptr;       // Vector control (owned)
    CoreSrce* readbacksource = nullptr;      // source written with the readback value (not owned)
    DataSrce* sources;                       // the program's source catalogue (not owned)
    CorePool* pool;                          // the program's pool (not owned)
    CorePlel* cache;                         // shared element cache, may be null (not owned)
    CoreButl::VECTORELEMENT* tree = nullptr; // nodes of the position tree (new[])
    CoreButl::VECTORELEMENT* root = nullptr; // root of the position tree, null without nodes
    CoreTlst* registrations = nullptr;       // int* ids returned by the cache (each owned)
    CoreCnvl* engine;              // engine whose element functions are used; null: plain set
    int cachedindex[2] = {-1, -1}; // element indices of the last position's two weights
    // Output fade folded into every mix (setfd): the fade function's arguments.
    bool mixedlast = false;       // the last update wrote the output
    long elementversion = 0;      // see getev
    LINEARSUM own;                // output pair 0 as a sum of elements (ranges unused)
    double unknown = 1.0;         // share of the output own does not describe
    bool foldon = false;          // a fade is part of every mix
    int foldlength = 0;           // length handed to the fade function, samples
    int foldheadlength = 0;       // samples faded in at the head
    void* foldhead = nullptr;     // head window element (not owned)
    int foldtaillength = 0;       // samples faded at the tail
    void* foldtail = nullptr;     // tail window element (not owned)
    void* scratchleft = nullptr;  // fresh share of a folded mix, left (owned)
    void* scratchright = nullptr; // fresh share of a folded mix, right (owned)
    int scratchlength = 0;        // samples in each scratch buffer
    // One mix a partial update left out of the unwritten ranges.
    struct STEP {
        CoreCnvl::VECTORMIXSTRUCT record; // the mix as it was made
        bool mixed = false;               // false: the update left the output as it was
        bool split = false;               // the fade scaled the fresh share only
    };
    STEP steps[iCsteps];              // the steps left out, step s at s % iCsteps
    CoreVctr* deferroot = nullptr;    // root that writes this tree in part; null: whole
    int defergranule = 0;             // root: granule given to chndf; 0 whole
    CoreVctr** deferholder = nullptr; // root: binder's pointer to it, cleared when it goes
    long stepcount = 0;               // root: steps logged since the tree was last whole
    long segmentdone[iCsteps] = {};   // root: steps each segment holds (<= stepcount)
    long segmentwidth = 0;            // root: samples per segment
    long segmenttop = 0;              // root: samples the segments cover (the longest output)
    bool partnow = false;             // root: this update writes the ranges only
    int partcount = 0;                // root: ranges written, sorted, apart
    long partfrom[LINEARSUM::iCranges] = {};
    long partto[LINEARSUM::iCranges] = {}; // exclusive
    int fadeinsize = 0;                    // samples in the fade-in element
    int fadeoutsize = 0;                   // samples in the fade-out element
    int tailfadesize = 0;                  // samples in the tail fade element
};
