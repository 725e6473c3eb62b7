#include "modulation/CoreFun_.h"

#include <new>

#include "modulation/CoreGfun.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreLog_.h"

CoreFun_::CoreFun_(CoreAnsx const& name, DataGfun* functions, DataSrce* sources, CoreSrce* output)
    : name(name), aname(name + CoreAnsx("_A")), bname(name + CoreAnsx("_B")), fnkey(""),
      sources(sources), output(output), functions(functions), function(nullptr) {
    try {
        inputa = std::make_unique<CoreParm>(aname, aname, CoreAnsx("-"), -1.0, 1.0, sources);
        inputb = std::make_unique<CoreParm>(bname, bname, CoreAnsx("-"), -1.0, 1.0, sources);
    } catch (std::bad_alloc const&) {
        throw CoreAnsx("Memory request failed for the inputs of ") + name;
    }
}

CoreFun_::~CoreFun_() {
    function = nullptr;
    functions = nullptr;
    output = nullptr;
    sources = nullptr;
}

void CoreFun_::setvl(CoreAnsx const& akey, CoreAnsx const& bkey, CoreAnsx const& fnkey) {
    setia(akey);
    setib(bkey);
    setfn(fnkey);
}

void CoreFun_::setia(CoreAnsx const& akey) { inputa->setsr(akey, -1.0, 1.0); }

void CoreFun_::setib(CoreAnsx const& bkey) { inputb->setsr(bkey, -1.0, 1.0); }

void CoreFun_::setfn(CoreAnsx const& key) {
    if (!functions) {
        CoreLog_::loger(CoreAnsx("Function generator without function catalogue: ") + name, 0);
        return;
    }
    function = functions->getgf(1, key);
    fnkey = function->getky();
}

void CoreFun_::rfrvl() {
    CoreAnsx const akey = inputa->getsc();
    CoreAnsx const bkey = inputb->getsc();
    CoreAnsx const key = fnkey;
    setvl(akey, bkey, key);
}

CoreParm* CoreFun_::getfa() const { return inputa.get(); }

CoreParm* CoreFun_::getfb() const { return inputb.get(); }

CoreAnsx CoreFun_::getfn() const { return fnkey; }

void CoreFun_::updte() noexcept {
    CoreAudp audio;

    if (!function || !output) return; // not configured: the source keeps its value
    double const a = inputa->getvl();
    double const b = inputb->getvl();
    output->setvl(function->xtfun(a, b, nullptr));
}
