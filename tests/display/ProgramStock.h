#pragma once
// ProgramStock: a fake program memory of named programs in three categories
// (with subcategories and a dictionary), a loaded program with its figures
// and four shown parameter modulators, for the program browsing tests and
// the gallery. Owner: the caller's rig. Threads: the test's.

#include <array>
#include <string>
#include <vector>

#include "tests/display/FakeBean.h"

struct STOCKED {
    int slot;
    char const* name;
    std::array<std::string, 3> categories;
};

// Slot order; slot 0 empty.
inline std::vector<STOCKED> const& stockedPrograms() {
    static std::vector<STOCKED> const programs = {
        {3, "Warm Room", {"ROOM", "SMALL", ""}},     {7, "Tape Echo", {"ECHO", "TAPE", ""}},
        {12, "Cellar", {"ROOM", "SMALL", ""}},       {40, "Long Hall", {"ROOM", "LARGE", ""}},
        {41, "Cathedral", {"ROOM", "LARGE", ""}},    {55, "Gold Plate", {"PLATE", "", ""}},
        {120, "Slap Back", {"ECHO", "TAPE", ""}},    {1234, "Bright Plate", {"PLATE", "", ""}},
        {2500, "Space Echo", {"ECHO", "SPACE", ""}}, {9999, "Chamber", {"ROOM", "SMALL", ""}},
    };
    return programs;
}

inline void stockPrograms(FakeBean& engine) {
    for (STOCKED const& p : stockedPrograms()) engine.program(p.slot, p.name, p.categories);
    engine.word("ROOM", "Rooms");
    engine.word("ECHO", "Echoes");
    engine.word("PLATE", "Plates");
    engine.word("SMALL", "Small");
    engine.word("LARGE", "Large");
    engine.word("TAPE", "Tape");
    engine.word("SPACE", "Space");
    engine.put('s', 250, "Last category");
    engine.put('h', 251, "24");
    engine.put('i', 67, "40"); // selected slot
    engine.put('s', 56, "Long Hall");
    engine.put('s', 64, "A long hall with stone walls");
    engine.put('s', 176, "ROOM", 0);
    engine.put('l', 10, "2900");
    engine.put('d', 5, "3670016"); // 3.5 MB
    engine.put('i', 44, "48000");
    engine.put('l', 28, "44100");
    engine.put('l', 29, "48000");
    engine.put('b', 31, "1");
    engine.put('d', 3, "0.5");
    engine.put('d', 4, "1");
    engine.put('l', 6, "123456");
    engine.put('h', 75, "3");
    engine.put('h', 74, "0");
    engine.put('i', 166, "12", 0);
    engine.put('b', 255, "1");
    engine.put('b', 25, "1");
    struct MODULATOR {
        int index;
        char const* pre;
        char const* label;
        double bar, value;
        char const* unit;
    } const modulators[] = {{0, "1", "Cutoff", 0.25, 440.0, "Hz"},
                            {2, "2", "Resonance", 0.5, 0.7, ""},
                            {5, "", "Mix", 1.0, 100.0, "%"},
                            {9, "3", "Decay", 0.1, 2.5, "s"}};
    for (MODULATOR const& m : modulators) {
        engine.put('b', 196, "1", m.index);
        engine.put('s', 197, m.pre, m.index);
        engine.put('s', 198, m.label, m.index);
        engine.put('d', 199, FakeBean::exact(m.bar), m.index);
        engine.put('d', 200, FakeBean::exact(m.value), m.index);
        engine.put('s', 203, m.unit, m.index);
    }
}
