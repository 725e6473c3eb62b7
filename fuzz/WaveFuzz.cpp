// Feeds arbitrary bytes to the WAV reader as an in-memory item, read plainly
// and with conversion to another rate. A refused file throws; an accepted one
// has a rate in the accepted range, delivers the count it announces when read
// whole, and delivers its frames without reading or writing outside any buffer.
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
        if (reader.getrr() < CoreWvfr::iCminrate || reader.getrr() > CoreWvfr::iCmaxrate)
            __builtin_trap();
        // Read whole in one call, exactly the announced count arrives.
        long const announced = reader.getdr(false);
        std::vector<double> whole(size_t(reader.getdw()) + 1);
        if (reader.getdt(long(whole.size()), whole.data(), nullptr) != announced) __builtin_trap();
        reader.open_("F.WAV");
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
