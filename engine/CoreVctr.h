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
    void getip(int i, void** left, void** right);
    void cpyip(int i, void* left, void* right, int n); // copies n samples into element i
    void copyd(void* dstLeft, void* dstRight, void* srcLeft, void* srcRight, int n,
               int offset);               // copies with flush, at offset
    void delip(void* left, void* right);  // deletes two element buffers
    void setpk(int i, double peak);       // element i's peak
    void setrz(int i, long a, long b);    // element i's explicit range
    bool getrz(int i, long& a, long& b);  // range flag and values; false, 0, 0 outside
    bool getsb(int i) const;              // element i is a buffer pair shared from another owner
    CoreAnsx getfn(int i);                // element i's file name
    int getne() const;                    // number of elements
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
    void setcr(void* window, int tailLength, int totalLength, int fadeInLength);
    void* newfi(int n); // rising ramp element of n samples (fade-in)
    void* newfo(int n); // falling ramp element of n samples (fade-out)
    void* newfe(int n); // falling ramp element of n samples (tail fade), replacing the last

    // ---- per-block update and mixing (engine/CoreVctrMix.cpp) ---------------------------
    void setvl(bool vectorOn, double minimum, double maximum, CoreAnsx vectorSource,
               bool readbackOn, CoreAnsx readbackSource, double panDepth, CoreAnsx panSource,
               double gainpadFloor, CoreAnsx gainpadSource, bool gainOn, CoreAnsx gainSource,
               bool normaliseOn, double normalisationPosition, double normalisationWeight);
    void updte(bool mix) noexcept;
    void chnup(bool mix) noexcept;
    void chnru(bool mix) noexcept;
    void setgn(double gain);
    void setlq(double liquid);
    double getlq();
    double getmn();
    double getmx();
    void setfd(bool tail, int a, int b) noexcept;
    void setfd(void* left, void* right, int n, void* window) noexcept;

    // Raise the updated flag only when the output changed (default). Off, it
    // is raised after every mixing update; the engines' output is the same.
    static inline bool bVupdategate = true;

    static constexpr double dCbenchmarktolerance =
        1e-20;                                  // residual below which a vector has settled
    static constexpr double dCliquidmin = 0.01; // lowest liquid setting
    static constexpr double dCliquidmax = 0.99; // highest liquid setting

protected:
    // Element functions of the engine's current selection (the plain set
    // with a null extension without an engine), looked up on every call.
    CoreCnvl::VECEXTENSION* elementExtension();
    short elementSet(); // 1 memory elements, 2 bridge elements
    void* elementNew(CorePool* from, int n);
    void elementDelete(CorePool* from, void* element);
    void elementCopy(void* dst, void const* src, int n, bool transfer, int offset, bool flush);
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

    bool leaf;           // true: elements are kernel buffers; false: child vectors
    int count;           // number of elements n
    CoreVctr** children; // child vectors of an inner vector (owned); null entries in a leaf
    CoreAnsx name;       // vector name, "" until chnna
    CoreAnsx
        constructionsource;    // source name given at construction; unit text of the Vector control
    CoreAnsx vectorsource;     // source name given by setvl
    CoreAnsx liquidsource;     // source name of the Liquid control
    CoreAnsx gainpadsource;    // source name of the Gainpad control
    CoreAnsx pansource;        // source name of the Pan control
    CoreAnsx gainsource;       // source name of the Gain control
    CoreAnsx* filenames;       // per element impulse file name (new[])
    short activepair;          // output pair that mixing writes, 0 or 1
    short fadeincurve;         // fade-in curve; negative: unset
    short fadeoutcurve;        // fade-out curve; negative: unset
    int offset;                // caller's sizing value (offset)
    int fadeintime;            // caller's sizing value (fade-in); 0 or less: unset
    int taillength;            // samples faded at the tail by setfd
    int totallength;           // length handed to the fade function, samples
    int fadeinlength;          // samples faded in at the head
    int currentlength;         // samples per output buffer that mixing and copying handle
    int length0;               // current length for selector 0, samples
    int length1;               // current length for selector 1, samples
    int allocatedlength;       // samples per output buffer as allocated
    long* rangestart;          // per element explicit range value one (pool block)
    long* rangeend;            // per element explicit range value two (pool block)
    double positionmin;        // lower end of the Vector control's position range
    double positionmax;        // upper end of the Vector control's position range
    double readbackbase;       // value mapped to -1 on the readback source
    double readbacktop;        // value mapped to +1 on the readback source
    double readbackscale;      // 2 / (top - base), set by setvl
    double liquid;             // liquid setting, 0.01 .. 0.99
    double pandepth;           // pan depth; pan enabled when > 0
    double gain;               // gain of the last update (linear)
    double gainpadfloor;       // gain reached at full Gainpad (linear)
    double normposition;       // position at which setgn takes the reference peak
    double normweight;         // weight of per-element normalisation in setgn
    double normmakeup;         // largest normalised peak found by setgn (linear)
    double lastposition;       // Vector position of the last weight computation
    double residual;           // remaining share of the previous output (convergence)
    bool vectoron;             // the Vector control picks elements
    bool readbackon;           // the readback source is written
    bool panon;                // pan applies
    bool gainon;               // the Gain control applies
    bool normaliseon;          // setgn normalises
    bool weightscached;        // the last position's weights are valid
    bool switching;            // a second output pair exists
    bool nearest;              // pick the nearer element instead of interpolating
    bool unchanged;            // nothing that feeds the mix changed since the last mix
    bool converged;            // the smoothed output has settled; mixing is skipped
    bool updated[2];           // per output pair: raised after each mix
    bool* activeupdated;       // updated flag of the active pair
    std::uint8_t* hasrange;    // per element: setrz gave an explicit range (pool block)
    std::uint8_t* substituted; // per element: the cache gave another owner's buffers (pool block)
    bool** elementflags;       // per element steady flag (leaf: own byte; inner: child's converged)
    int* fadeouttimes;         // fade-out times, normal and extended (pool block of 2)
    int* limits;               // limits, normal and extended; negative: unset (pool block of 2)
    double* positions;         // element positions (pool block)
    double* readbackvalues;    // per element readback value (pool block)
    double* peaks;             // per element peak, set by setpk (pool block)
    void* fadeinelement;       // rising ramp made by newfi
    void* fadeoutelement;      // falling ramp made by newfo
    void* tailfadeelement;     // falling ramp made by newfe
    void* crossfadewindow;     // window given by setcr (not owned)
    int lastindex[2];          // element indices of the last mix
    double lastweight[2];      // weights (gain included) of the last mix
    double lastpan;            // pan value of the last mix
    double lastmixgain;        // mix gain of the last all-element mix
    double cachedweight[2];    // unscaled weights of the last position
    void** leftelements;       // per element left kernel buffer or child output
    void** rightelements;      // per element right kernel buffer or child output
    void* outleft0;            // output pair 0, left
    void* outright0;           // output pair 0, right
    void* outleft1;            // output pair 1, left
    void* outright1;           // output pair 1, right
    void* pairleft[2];         // pair table, left side
    void* pairright[2];        // pair table, right side
    void* currentleft;         // left buffer that mixing writes
    void* currentright;        // right buffer that mixing writes
    CoreParm* liquidcontrol;   // Liquid control (owned)
    CoreParm* gainpadcontrol;  // Gainpad control (owned)
    CoreParm* gaincontrol;     // Gain control (owned)
    CoreParm* pancontrol;      // Pan control (owned)
    CoreParm* vectorcontrol;   // Vector control (owned)
    CoreSrce* readbacksource;  // source written with the readback value (not owned)
    DataSrce* sources;         // the program's source catalogue (not owned)
    CorePool* pool;            // the program's pool (not owned)
    CorePlel* cache;           // shared element cache, may be null (not owned)
    CoreButl::VECTORELEMENT* tree; // nodes of the position tree (new[])
    CoreButl::VECTORELEMENT* root; // root of the position tree, null without nodes
    CoreTlst* registrations;       // int* ids returned by the cache (each owned)
    CoreCnvl* engine;              // engine whose element functions are used; null: plain set
    int cachedindex[2];            // element indices of the last position's two weights
    // Output fade folded into every mix (setfd): the fade function's arguments.
    bool mixedlast = false;       // the last update wrote the output
    bool foldon = false;          // a fade is part of every mix
    int foldlength = 0;           // length handed to the fade function, samples
    int foldheadlength = 0;       // samples faded in at the head
    void* foldhead = nullptr;     // head window element (not owned)
    int foldtaillength = 0;       // samples faded at the tail
    void* foldtail = nullptr;     // tail window element (not owned)
    void* scratchleft = nullptr;  // fresh share of a folded mix, left (owned)
    void* scratchright = nullptr; // fresh share of a folded mix, right (owned)
    int scratchlength = 0;        // samples in each scratch buffer
    int fadeinsize = 0;           // samples in the fade-in element
    int fadeoutsize = 0;          // samples in the fade-out element
    int tailfadesize = 0;         // samples in the tail fade element

private:
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

    // Frees everything this vector owns that is present (destructor and a
    // constructor that failed half-way). Children are deleted only when
    // withChildren is set.
    void release(bool withChildren);
};
