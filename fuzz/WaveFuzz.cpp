// Feeds arbitrary bytes to the WAV reader as an in-memory item, read plainly
// and with conversion to another rate. A refused file throws; an accepted one
// must deliver its frames without reading or writing outside any buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/CoreAnsx.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"
#include "storage/CoreWvfr.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static CorePool pool;
    CoreFsys store(&pool);
    int const id = store.crtit("F.WAV", false);
    store.setit(id, data, long(size), CoreAnsx(""), true, false);
    for (int rate : {0, 22050, 96000}) {
        CoreWvfr reader(&pool, &store, (size & 1) != 0);
        if (rate > 0) reader.setfr(rate, (size & 2) != 0);
        try {
            reader.open_("F.WAV");
        } catch (CoreAnsx const&) {
            continue;
        }
        // Small, fixed-size requests: the reader must never hand back more than asked.
        std::vector<double> left(37), right(37);
        long total = 0;
        for (int guard = 0; guard < 4096; ++guard) {
            long const got = reader.getdt(long(left.size()), left.data(), right.data());
            if (got <= 0) break;
            if (got > long(left.size())) __builtin_trap();
            total += got;
        }
        (void)total;
        reader.close();
    }
    return 0;
}
