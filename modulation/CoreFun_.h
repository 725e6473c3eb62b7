#pragma once
// CoreFun_: a function generator of a program: a two-argument function of
// the function catalogue (group 1) applied to two modulatable inputs A and B,
// written to its bus source once per block. It keeps no state between
// blocks; an input bound to its own source reads the previous block's value.
// Owned by the program (eight of them); the catalogues and the output source
// are the program's. Threads: updte on the processing thread (audio thread:
// no allocation, no file or log I/O, no blocking lock); the setters and
// getters from the engine's property layer between blocks (they allocate).

#include <memory>

#include "runtime/CoreAnsx.h"

class CoreGfun;
class CoreParm;
class CoreSrce;
class DataGfun;
class DataSrce;

class CoreFun_ {
public:
    // Builds inputs A and B (name + "_A", name + "_B", unit "-", -1..1).
    // setvl must follow before the first updte. Throws CoreAnsx when the
    // inputs cannot be had.
    CoreFun_(CoreAnsx const& name, DataGfun* functions, DataSrce* sources, CoreSrce* output);
    ~CoreFun_();
    CoreFun_(CoreFun_ const&) = delete;
    CoreFun_& operator=(CoreFun_ const&) = delete;
    CoreFun_(CoreFun_&&) = delete;
    CoreFun_& operator=(CoreFun_&&) = delete;

    // Binds A and B (scale -1..1) and selects the function; the key of the
    // entry found is stored, so an unknown key becomes "a".
    void setvl(CoreAnsx const& akey, CoreAnsx const& bkey, CoreAnsx const& fnkey);
    void setia(CoreAnsx const& akey);  // binds input A alone
    void setib(CoreAnsx const& bkey);  // binds input B alone
    void setfn(CoreAnsx const& fnkey); // selects the function alone
    // Re-applies the current bindings and function through setvl.
    void rfrvl();

    CoreParm* getfa() const; // input A, owned by this generator
    CoreParm* getfb() const; // input B, owned by this generator
    CoreAnsx getfn() const;  // key of the selected function

    // One block: output = function(A, B).
    void updte() noexcept;

private:
    CoreAnsx name;                    // e.g. "FUN1"
    CoreAnsx aname;                   // name + "_A"
    CoreAnsx bname;                   // name + "_B"
    CoreAnsx fnkey;                   // key of the selected group 1 entry
    DataSrce* sources;                // the bus, not owned
    CoreSrce* output;                 // "FUN<n>", not owned
    std::unique_ptr<CoreParm> inputa; // bipolar -1..1
    std::unique_ptr<CoreParm> inputb; // bipolar -1..1
    DataGfun* functions;              // function catalogue, not owned
    CoreGfun* function;               // selected entry; null before setvl
};
