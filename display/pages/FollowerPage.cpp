// Page 10, the envelope follower edit page: one of the five followers at a
// time (stepped with "<<" and ">>"): detector type, attack and release time
// ranges with their sources, the dynamic attack and release sources, the
// input/output balance and the detector highpass. A change writes all of the
// follower's settings and applies them; a minimum time left above its
// maximum raises the maximum first, so the engine never holds that pair
// inverted.
// Part of CoreDsif; runs on the control thread inside a display tick, under
// the display lock.
#include <algorithm>

#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "runtime/CoreButl.h"

namespace {
using BEANSTRUCT = CoreBean::BEANSTRUCT;
constexpr short followers = 5;
constexpr short fields = 13;
// Field numbers, in the order they are defined and tested.
enum : short {
    fType,
    fMinAttack,
    fMaxAttack,
    fAttackSource,
    fMinRelease,
    fMaxRelease,
    fReleaseSource,
    fBalance,
    fDynAttackSource,
    fDynReleaseSource,
    fHighpass,
    fOrder,
    fHighpassSource
};
} // namespace

void CoreDsif::entryfollower() {
    follower = std::clamp<short>(follower, 0, followers - 1);
    label(CoreAnsx(""), DataLclz::sCevf_explabel, 0, 2);
    label(CoreAnsx(""), DataLclz::sCevf_minattacklabel, 0, 3);
    label(CoreAnsx(""), DataLclz::sCevf_maxattacklabel, 0, 4);
    label(CoreAnsx(""), DataLclz::sCevf_attacksourcelabel, 0, 5);
    label(CoreAnsx(""), DataLclz::sCevf_dattacksourcelabel, 30, 5);
    label(CoreAnsx(""), DataLclz::sCevf_minreleaselabel, 0, 6);
    label(CoreAnsx(""), DataLclz::sCevf_maxreleaselabel, 0, 7);
    label(CoreAnsx(""), DataLclz::sCevf_releasesourcelabel, 0, 8);
    label(CoreAnsx(""), DataLclz::sCevf_dreleasesourcelabel, 30, 8);
    label(CoreAnsx(""), DataLclz::sCevf_outputbalancelabel, 0, 9);
    label(CoreAnsx(""), DataLclz::sCevf_highpasslabel, 0, 10);
    label(CoreAnsx(""), DataLclz::sCevf_highpassorderlabel, 23, 10);
    label(CoreAnsx(""), DataLclz::sCevf_highpasssourcelabel, 30, 10);
    editentry(fields);
    BEANSTRUCT one{follower, 0};
    short mode = engine->getbh(CoreBnid::iCevfdetector, &one);
    editchoice(fType, 14, 2, 10, DataLclz::iCevf_type, DataLclz::sCevf_type,
               mode >= 0 && mode < DataLclz::iCevf_type ? mode : 0, CoreAnsx(""), mode);
    auto time = [&](short idx, short row, double maximum, int id) {
        long samples = engine->getbl(id, &one);
        editnumber(idx, 14, row, 5, DataLclz::sCunitms, true, 1.0, maximum, showms(samples),
                   double(samples));
    };
    time(fMinAttack, 3, 600.0, CoreBnid::iCevfminattack);
    time(fMaxAttack, 4, 5000.0, CoreBnid::iCevfmaxattack);
    editsource(fAttackSource, 14, 5, engine->getbs(CoreBnid::iCevfattacksource, &one));
    time(fMinRelease, 6, 600.0, CoreBnid::iCevfminrelease);
    time(fMaxRelease, 7, 5000.0, CoreBnid::iCevfmaxrelease);
    editsource(fReleaseSource, 14, 8, engine->getbs(CoreBnid::iCevfreleasesource, &one));
    double balance = engine->getbd(CoreBnid::iCevfbalance, &one);
    editnumber(fBalance, 14, 9, 4, DataLclz::sCunitpc, true, 0.0, 100.0, balance * 100.0, balance);
    editsource(fDynAttackSource, 45, 5, engine->getbs(CoreBnid::iCevfdynattacksource, &one));
    editsource(fDynReleaseSource, 45, 8, engine->getbs(CoreBnid::iCevfdynreleasesource, &one));
    double highpass = engine->getbd(CoreBnid::iCevfhighpass, &one);
    editnumber(fHighpass, 14, 10, 5, DataLclz::sCunithz, true, 0.0, 5000.0, highpass, highpass);
    int order = engine->getbi(CoreBnid::iCevfhighpassorder, &one);
    // The order the engine runs: one section per two orders, at most the
    // list's last; 0 and 1 run none. Untouched, the stored value goes back.
    int const sections = std::clamp(order / 2, 0, DataLclz::iCevf_order - 1);
    editchoice(fOrder, 26, 10, 1, DataLclz::iCevf_order, DataLclz::sCevf_order, sections,
               CoreAnsx(""), order);
    editsource(fHighpassSource, 45, 10, engine->getbs(CoreBnid::iCevfhighpasssource, &one));
}

void CoreDsif::tickfollower() {
    follower = std::clamp<short>(follower, 0, followers - 1);
    if (edittick(CoreAnsx("EVFs"), fields)) {
        bool changed = false;
        for (short idx = 0; idx < fields && !changed; ++idx) changed = editchanged(idx);
        if (changed) {
            // A minimum left above its maximum raises the maximum, which then
            // goes to the engine as exactly what the minimum does.
            for (short low : {fMinAttack, fMinRelease}) {
                CoreDstx* minimum = editfield(low);
                CoreDstx* maximum = editfield(short(low + 1));
                if (!(minimum->getvl() > maximum->getvl())) continue;
                maximum->setrg(minimum->getvl());
                editloads[size_t(low + 1)] = editloads[size_t(low)];
            }
            BEANSTRUCT one{follower, 0};
            engine->setbl(CoreBnid::iCevfminattack, editsamples(fMinAttack), &one);
            engine->setbl(CoreBnid::iCevfmaxattack, editsamples(fMaxAttack), &one);
            engine->setbl(CoreBnid::iCevfminrelease, editsamples(fMinRelease), &one);
            engine->setbl(CoreBnid::iCevfmaxrelease, editsamples(fMaxRelease), &one);
            engine->setbs(CoreBnid::iCevfattacksource, editkey(fAttackSource), &one);
            engine->setbs(CoreBnid::iCevfreleasesource, editkey(fReleaseSource), &one);
            engine->setbd(CoreBnid::iCevfsetbalance,
                          editout(fBalance, editfield(fBalance)->getvl() * 0.01), &one);
            engine->setbh(CoreBnid::iCevfdetector, short(editout(fType, editfield(fType)->getel())),
                          &one);
            engine->setbs(CoreBnid::iCevfdynattacksource, editkey(fDynAttackSource), &one);
            engine->setbs(CoreBnid::iCevfdynreleasesource, editkey(fDynReleaseSource), &one);
            engine->setbd(CoreBnid::iCevfhighpass,
                          editout(fHighpass, editfield(fHighpass)->getvl()), &one);
            CoreDstx* order = editfield(fOrder);
            engine->setbi(CoreBnid::iCevfhighpassorder,
                          int(editout(fOrder, order->getel(order->getel()).Trim().ToInt())), &one);
            engine->setbs(CoreBnid::iCevfhighpasssource, editkey(fHighpassSource), &one);
            engine->setbv(CoreBnid::iCevfapply, &one);
        }
    }
    editexit();
    editstep(follower, followers - 1);
}
