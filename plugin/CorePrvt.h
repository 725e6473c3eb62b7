#pragma once
// CorePrvt: the plug-in's private calls as a program outside the shared
// object makes them (our tools and tests): the editor's traffic (the
// display's private properties 100100 to 100108), the attached-editor
// count and the property listeners, carried by the dispatcher's
// vendor-specific opcode with index iCtag and ptr pointing at a CALL; and
// the boot's outcome and the loaded slot, which the command-line host asks
// once the plug-in reported the boot or a load; and the engine's property
// bus as the display calls it, so our tests can set up what a page shows
// and compare its text with the engine's own answer. The in-process editor
// makes the same calls directly on the plug-in object.
// Owner: the caller keeps the record; the plug-in only reads it (and writes
// the get's data).
// Threads: the host's non-audio threads, as the editor's calls.

#include <cstdint>

class CorePrvt {
public:
    CorePrvt() = delete;

    // The vendor-specific opcode's index that marks our call ("VrlP").
    static constexpr std::int32_t iCtag = 0x56726c50;

    enum : std::int32_t {
        iCget = 0,      // gtprp(id, index, value = capacity in bytes, data)
        iCset = 1,      // stprp(id, index, value, data, size)
        iCattach = 2,   // attch(value != 0): one editor client more or less
        iClisten = 3,   // listener(context, id, index, value) hears every prchg
        iCunlisten = 4, // that listener (the same context) hears no more
        iCboot = 5,     // answers 1 once the boot ended, -1 when it failed, 0 meanwhile
        iCslot = 6,     // answers the slot of the program loaded last, -1 before the boot
        iCbus = 7       // one bus accessor (id, data a BUSCALL): 1 done, 0 refused
    };

    // A listener runs on the posting thread inside the display's tick: it
    // only records what changed and returns, and makes no call of its own.
    using LISTENER = void (*)(void* context, int id, int index, int value);

    // A bus call: the accessor of that kind, with the index record given,
    // run between two control-thread cycles (as the display's own calls
    // run inside one). A batch steps on the display's own thread, outside
    // the cycles: callers wait until its page has left before they ask.
    struct BUSCALL {
        char kind = 'd';          // the accessor: b h i l d s, v for an action
        bool write = false;       // a setter (v always writes)
        std::int32_t element = 0; // the index record's two words
        std::int32_t subindex = 0;
        double number = 0.0; // b h i l d: the value written, or the answer read
        char text[256] = {}; // s: the same, NUL-ended (an answer is cut to fit)
    };

    struct CALL {
        std::int32_t kind = iCget;   // see above
        std::int32_t id = 0;         // private property id
        std::int32_t index = 0;      // the property's index, 0 for the display's
        std::int32_t value = 0;      // get: capacity of data, bytes; attach: 1 or 0
        void* data = nullptr;        // the property's bytes
        std::uint64_t size = 0;      // set, bus: bytes in data
        LISTENER listener = nullptr; // listen, unlisten
        void* context = nullptr;     // handed to the listener
    };
};
