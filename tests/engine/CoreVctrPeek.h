#pragma once
// CoreVctrPeek: the vector tests' view of a vector node's insides (its
// controls, position tree, element table, output choice and last weights).
// CoreVctr names it a friend; it only reads and adds no state.
// Owner: none (static functions). Threads: the test's own.
#include "engine/CoreVctr.h"

#include "runtime/CoreButl.h"

class CoreParm;

struct CoreVctrPeek {
    CoreVctrPeek() = delete;

    static CoreParm* vectorParm(CoreVctr const& v) { return v.vectorcontrol; }
    static CoreParm* liquidParm(CoreVctr const& v) { return v.liquidcontrol; }
    static CoreParm* gainpadParm(CoreVctr const& v) { return v.gainpadcontrol; }
    static CoreParm* gainParm(CoreVctr const& v) { return v.gaincontrol; }
    static CoreParm* panParm(CoreVctr const& v) { return v.pancontrol; }
    static double liquidValue(CoreVctr const& v) { return v.liquid; }
    static double posMin(CoreVctr const& v) { return v.positionmin; }
    static double posMax(CoreVctr const& v) { return v.positionmax; }
    static CoreButl::VECTORELEMENT* treeRoot(CoreVctr const& v) { return v.root; }
    static bool* flag(CoreVctr const& v, int i) { return v.elementflags[i]; } // steady flag of i
    static void* left(CoreVctr const& v, int i) { return v.leftelements[i]; }
    static void* right(CoreVctr const& v, int i) { return v.rightelements[i]; }
    static void* curLeft(CoreVctr const& v) { return v.currentleft; }   // buffer mixing writes
    static void* curRight(CoreVctr const& v) { return v.currentright; } // buffer mixing writes
    static int len0(CoreVctr const& v) { return v.length0; }            // samples
    static int len1(CoreVctr const& v) { return v.length1; }            // samples
    static double makeup(CoreVctr const& v) { return v.normmakeup; }    // linear
    static double peak(CoreVctr const& v, int i) { return v.peaks[i]; } // element i's, linear
    // The last position's choice: element k's index and unscaled weight.
    static int index(CoreVctr const& v, int k) { return v.cachedindex[k]; }
    static double weight(CoreVctr const& v, int k) { return v.cachedweight[k]; }
};
