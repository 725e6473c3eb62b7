#pragma once
// CoreDsch: one character cell of the display's screen memory: the character,
// the font it was last written in and whether it blinks. A blinking cell shows
// the blank during the blink clock's off phase.
// Owner: the character buffer (CoreDsbf), in its cell table.
// Threads: written on the control thread under the display lock; read there
// and by the editor's snapshot request. The blink clock only reads the time.

class CoreBlnk;

class CoreDsch {
public:
    // A blank in font 3 (the empty font), not blinking.
    explicit CoreDsch(CoreBlnk* blink);

    // Stores character, font 0..3 and blink flag.
    void setvl(char character, short font, bool blink);
    char getch() const;  // stored character
    short getfn() const; // font index 0..3
    bool getbl() const;  // blink flag
    // The character to show now: the blank while blinking in the off phase.
    char getvl() const;

private:
    short font;      // font index the cell was last written in
    char character;  // one byte
    bool blink;      // shown only in the blink clock's on phase
    CoreBlnk* clock; // the instance's blink clock, shared, not owned (may be null)
};
