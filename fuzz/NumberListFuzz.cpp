// Feeds arbitrary bytes to the number-list reader. The count it reports must
// match the values it delivers, and nothing may be written past them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/CoreAnsx.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreRcsv.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static CorePool pool;
    CoreFsys store(&pool);
    int const id = store.crtit("F.CSV", false);
    store.setit(id, data, long(size), CoreAnsx(""), true, false);
    CoreRcsv list(&pool, &store);
    if (!list.open_("F.CSV")) return 0;
    long const count = list.getdr();
    if (count < 0 || count > long(size)) __builtin_trap();
    if (list.getdr() != count) __builtin_trap(); // reading twice never doubles the list
    std::vector<double> values(std::size_t(count) + 1, 0.0);
    if (list.getdt(nullptr, true) != count) __builtin_trap();
    if (list.getdt(values.data(), false) != count) __builtin_trap();
    list.close();
    return 0;
}
