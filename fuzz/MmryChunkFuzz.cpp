// Feeds arbitrary bytes to program memory as a host chunk. A refused chunk
// must leave the memory as it was; an accepted one must name a location in
// range, and a program placed there must give a chunk that reads back to the
// same location. After that one round the chunk text must be stable (the
// first round may drop what the document dialect cannot hold, such as text
// in front of an element).
#include <cstddef>
#include <cstdint>
#include <string>

#include "program/CoreMmry.h"
#include "runtime/CoreAnsx.h"
#include "runtime/CorePool.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static CorePool pool;
    // One memory for every run (it is large); emptied after each, so runs
    // do not depend on each other. A seeded program shows refusals change nothing.
    static CoreMmry* memory = new CoreMmry(&pool, "/nonexistent-vorlan/", 0, nullptr, "S/", "P/",
                                           "V/", "C/", false, nullptr);
    memory->setvl(9, false, "seed.xml", "<PROGRAM><NAME> Seed </NAME></PROGRAM>");
    memory->setnm(9, "Seed");
    CoreAnsx const seed = memory->getvl(9, false);

    std::string text;
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0) text += static_cast<char>(data[i]);
    int const slot = memory->dumpi(CoreAnsx(text.c_str()));
    if (slot < -1 || slot >= CoreMmry::iCmemorydim) __builtin_trap();
    if (slot < 0 && !(memory->getvl(9, false) == seed)) __builtin_trap();
    if (slot >= 0 && !(memory->getnm(slot) == CoreAnsx(0))) {
        try {
            CoreAnsx const once = memory->dumpo(slot);
            if (memory->dumpi(once) != slot) __builtin_trap();
            CoreAnsx const twice = memory->dumpo(slot);
            if (memory->dumpi(twice) != slot) __builtin_trap();
            if (!(memory->dumpo(slot) == twice)) __builtin_trap();
        } catch (CoreAnsx const&) {
            // A location without a document has no chunk.
        }
    }
    memory->clear();
    return 0;
}
