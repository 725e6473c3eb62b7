#pragma once
// CoreRfun: a raw-function modulator of a program. It plays arrays of raw
// values, taken from the program's raw vectors, through a function of the
// raw-function catalogue under two modulatable inputs A and B, and writes
// the result (unipolar, bounded to -1..1, then mapped with B(u) = 2u - 1, so
// the source may hold -3..1) to its bus source once per block.
// Owned by the program (four of them); the catalogues, the output source and
// the arrays are the program's. Threads: configuration and array attachment
// on the program's loading path (may allocate and log); isact and updte on
// the processing thread (audio thread: no allocation, no file or log I/O, no
// blocking lock).
// It plays only while both arrays are attached with a length above zero, so
// a failed raw build can never leave it reading a stale or missing array.

#include <memory>

#include "modulation/CoreRgfn.h"
#include "runtime/CoreAnsx.h"

class CoreParm;
class CoreSrce;
class DataRgfn;
class DataSrce;

class CoreRfun {
public:
    static constexpr int iCsupportedraws = 2; // raw arrays per modulator

    // Builds inputs A and B (name + "_A", name + "_B", unit "-", -1..1);
    // inactive until setvl. Throws CoreAnsx when the inputs cannot be had.
    CoreRfun(CoreAnsx const& name, DataRgfn* functions, DataSrce* sources, CoreSrce* output);
    ~CoreRfun();
    CoreRfun(CoreRfun const&) = delete;
    CoreRfun& operator=(CoreRfun const&) = delete;
    CoreRfun(CoreRfun&&) = delete;
    CoreRfun& operator=(CoreRfun&&) = delete;

    // Full configuration: binds A and B, names the two raw vectors, selects
    // the function (an unknown key gives "RSINGLE"), sets the rate and the
    // state value U(initial). Both arrays are detached; active.
    void setvl(CoreAnsx const& akey, CoreAnsx const& bkey, CoreAnsx const& raw0,
               CoreAnsx const& raw1, CoreAnsx const& fnkey, int rate, double initial);
    // Retires the modulator: raw names cleared, arrays detached, inactive.
    void setvl();
    // Name of the raw vector wanted as array j (0 or 1); "" for another j.
    CoreAnsx getfr(int j) const;
    // Attaches array 1 when j is nonzero, else array 0. A null array or a
    // length below 1 detaches that array.
    void setvl(int j, double* values, int length);
    // Deactivates unless both arrays are attached.
    void chckv();
    // Active and both arrays attached.
    bool isact() const;
    // One block of the given number of samples; does nothing unless isact.
    void updte(double samples) noexcept;

    CoreAnsx getfn() const; // key of the selected raw function
    // The state record (inputs, arrays, last value), read-only.
    CoreRgfn::FUNEXTENSION const& getex() const;

private:
    void detach(); // both arrays null, both lengths 0

    CoreAnsx name;                      // e.g. "RAWFUN1"
    CoreAnsx aname;                     // name + "_A"
    CoreAnsx bname;                     // name + "_B"
    CoreAnsx rawnames[iCsupportedraws]; // raw vectors wanted as array 0 and array 1
    CoreAnsx fnkey;                     // key of the selected raw function
    bool active;                        // configured and not found wanting by chckv
    CoreSrce* output;                   // "RAWFUN<n>", not owned
    std::unique_ptr<CoreParm> inputa;   // bipolar -1..1
    std::unique_ptr<CoreParm> inputb;   // bipolar -1..1
    DataRgfn* functions;                // raw-function catalogue, not owned
    CoreRgfn* function;                 // selected entry; null before setvl
    CoreRgfn::FUNEXTENSION state;       // inputs, arrays (not owned), rate, last value
};
