#include "runtime/CoreTlst.h"

#include "runtime/CoreAnsx.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreVutl.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int growthStep = 4; // slots added per step
}

CoreTlst::CoreTlst() : mincapacity(0), count(0), capac(0), items(nullptr) {}

CoreTlst::~CoreTlst() { std::free(items); }

void CoreTlst::growTo(int n) {
    long long wanted = capac;
    if (wanted < n)
        wanted += (static_cast<long long>(n) - capac + growthStep - 1) / growthStep * growthStep;
    if (wanted < mincapacity) wanted = mincapacity;
    if (wanted == capac) return;
    CoreAudp::forbid("CoreTlst growth");
    long long const bytes = wanted * static_cast<long long>(sizeof(void*));
    void* grown = bytes <= INT_MAX ? CoreVutl::reall(items, static_cast<int>(bytes)) : nullptr;
    if (!grown)
        throw CoreAnsx(CoreAnsx("Memory request failed ") + CoreAnsx(static_cast<long>(bytes)));
    items = static_cast<void**>(grown);
    capac = static_cast<int>(wanted);
    mincapacity = capac;
}

int CoreTlst::Add(void* item) {
    growTo(count + 1);
    items[count] = item;
    ++count;
    return 1;
}

void CoreTlst::grow_(int n) {
    if (n < 0) n = 0;
    if (n == 0 && !items) {
        count = 0;
        return;
    }
    growTo(n);
    for (int i = count; i < n; ++i) items[i] = nullptr;
    count = n;
}

void CoreTlst::Delete(int index) {
    if (index < 0 || index >= count) return;
    std::memmove(items + index, items + index + 1,
                 sizeof(void*) * static_cast<std::size_t>(count - index - 1));
    --count;
    if (count == 0) Clear();
}

void CoreTlst::Clear() {
    std::free(items);
    items = nullptr;
    capac = 0;
    count = 0;
}

void*& CoreTlst::operator[](unsigned index) { return items[index]; }

void* const& CoreTlst::operator[](unsigned index) const { return items[index]; }

int CoreTlst::capacity() const { return capac; }
