#pragma once
// CoreDspc: the input mailbox carrying user input from the editor to the
// display as 20-byte records (click, key, bypass, wheel, program chosen).
// Contract: writers are whatever thread calls the plug-in's property setter
// (the editor's UI thread) through `addms`; the reader is the control thread,
// inside the display lock, through `getms`, `getbf` and `clrms`.
// Unbounded: every record is kept until a reader takes or clears it. Oldest
// first per id. Each call holds the mailbox's own lock for its whole length
// and no longer, so a record posted between a reader's `getms` and `clrms`
// is cleared too: a reader that must lose nothing takes records one by one.
// Owner: the instance assembly, one per plug-in instance, created before the
// display and deleted after it.

#include <cstddef>
#include <cstdint>

#include "runtime/CoreSmph.h"
#include "runtime/CoreTlst.h"

class CoreDspc {
public:
    // One input record, copied whole; any 20 bytes are a valid record.
    struct MESSAGELOC {
        std::uint16_t id;        // 0 click, 1 key, 2 bypass, 3 wheel, 4 program chosen
        std::uint8_t padding[2]; // unused
        std::int32_t word1;      // column, key code, wheel steps or program index
        std::int32_t word2;      // row of a click
        std::int32_t word3;      // kept for the pages
        std::int32_t word4;      // kept for the pages
    };

    static constexpr short iCclick = 0;   // word1 column, word2 row (both 16-bit)
    static constexpr short iCkey = 1;     // word1 key code
    static constexpr short iCbypass = 2;  // no words
    static constexpr short iCwheel = 3;   // word1 signed steps
    static constexpr short iCprogram = 4; // word1 bank x 100 + program, negative for none

    CoreDspc();
    ~CoreDspc(); // frees every record still held
    CoreDspc(CoreDspc const&) = delete;
    CoreDspc& operator=(CoreDspc const&) = delete;
    CoreDspc(CoreDspc&&) = delete;
    CoreDspc& operator=(CoreDspc&&) = delete;

    // Appends a copy of the record (a null record is ignored). Throws CoreAnsx
    // when the copy cannot be allocated; the mailbox is then unchanged.
    void addms(MESSAGELOC const* record);
    // Moves the oldest record of that id into `out`; false (out unchanged)
    // when there is none or `out` is null.
    bool getms(short id, MESSAGELOC* out);
    // Frees every record of that id; other records keep their order.
    void clrms(short id);
    // getms for a record of id queued before every record of mark: false
    // when the oldest of id comes after one of mark.
    bool getbf(short id, short mark, MESSAGELOC* out);

private:
    CoreTlst records; // MESSAGELOC*, owned, oldest first
    CoreSmph lock;    // guards records
};

static_assert(sizeof(CoreDspc::MESSAGELOC) == 20);
static_assert(offsetof(CoreDspc::MESSAGELOC, id) == 0);
static_assert(offsetof(CoreDspc::MESSAGELOC, word1) == 4);
static_assert(offsetof(CoreDspc::MESSAGELOC, word2) == 8);
static_assert(offsetof(CoreDspc::MESSAGELOC, word3) == 12);
static_assert(offsetof(CoreDspc::MESSAGELOC, word4) == 16);
