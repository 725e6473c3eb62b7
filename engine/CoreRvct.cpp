#include "engine/CoreRvct.h"

#include "runtime/CoreButl.h"
#include "runtime/CorePool.h"
#include "runtime/CoreTlst.h"

#include <algorithm>

CoreRvct::CoreRvct(CorePool* pool, CorePlel* cache, bool leaf, int n, CoreAnsx* names,
                   CoreVctr** children, double* positions, double minimum, double maximum,
                   double* readbackValues, double readbackBase, double readbackTop,
                   DataSrce* sources, double liquid, CoreAnsx liquidSource)
    : CoreVctr(pool, cache, 0, nullptr, leaf, n, names, positions, children, minimum, maximum,
               readbackValues, readbackBase, readbackTop, CoreAnsx("0"), sources, liquid,
               liquidSource, 0, 0, nullptr, nullptr, false, 0, 0, false),
      rawpool(pool), blocks(new CoreTlst) {}

CoreRvct::~CoreRvct() {
    // Children are raw vectors with blocks of their own; the base class has
    // no virtual destructor, so they are destroyed here as what they are.
    if (!leaf && children != nullptr) {
        for (int i = 0; i < count; ++i) {
            delete static_cast<CoreRvct*>(children[i]);
            children[i] = nullptr;
        }
    }
    for (int i = 0; i < blocks->count; ++i) rawpool->free_((*blocks)[i]);
    delete blocks;
}

int CoreRvct::setre(int n, double** values, int* lengths) {
    // A block always holds at least the one value written below.
    int size = std::max(n, 1);
    for (int i = 0; i < count; ++i) {
        double* block = static_cast<double*>(rawpool->mallc(0, size, "RVCT", "CoreRvct::setre"));
        try {
            blocks->Add(block);
        } catch (...) {
            rawpool->free_(block);
            throw;
        }
        int given = lengths != nullptr ? lengths[i] : 0;
        double const* source = values != nullptr ? values[i] : nullptr;
        int m = std::min(n, given);
        if (m > 0 && source != nullptr) {
            for (int k = 0; k < m; ++k) block[k] = CoreButl::flushSubnormal(source[k]);
        } else {
            block[0] = 0.0;
            m = 1;
        }
        for (int k = m; k < n; ++k) block[k] = block[m - 1];
        setip(i, block, block, CoreButl::sCnull, n, 0, 0, 0, nullptr, 0);
    }
    return count;
}
