// Feeds arbitrary bytes to the archive reader as an in-memory item of another
// store. The reader must refuse or load whole items without reading outside the
// bytes it was given (AddressSanitizer watches), and must never leave the pool
// holding more than the items it loaded.
#include <cstddef>
#include <cstdint>

#include "runtime/CoreAnsx.h"
#include "runtime/CorePool.h"
#include "storage/CoreFsys.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static CorePool pool;
    CoreFsys parent(&pool);
    int const id = parent.crtit("F.V2P", false);
    try {
        parent.setit(id, data, long(size), CoreAnsx(""), true, false);
        CoreFsys archive(&pool);
        (void)archive.loada("F.V2P", CoreAnsx(0), false, &parent);
        // Read every loaded item to its end through the file-like access.
        int const count = archive.llvcn();
        for (int i = 0; i < count; ++i) {
            int item = -1;
            (void)archive.llvel(i, item);
            if (item < 0 || !archive.isvld(item)) continue;
            char buffer[64];
            archive.wseek(item, 0, 0);
            while (archive.wread(item, buffer, 1, sizeof buffer) > 0) {
            }
        }
    } catch (CoreAnsx const&) {
        // A table of contents the document reader refuses is reported by throwing.
    }
    return 0;
}
