#pragma once
// CoreAnsx: the system's byte string with value semantics. Every text in the
// system (names, paths, document values, log lines) is one, and every error
// report is thrown as one, by value ("Memory request failed 1234").
// Owned by whoever holds it; copies share nothing, so texts may be handed
// between threads by value. Not thread-safe per object.
// Threads: any thread except the audio path (writing allocates).
//
// Number text is always written and read with "." as decimal point, whatever
// locale the host process has set.

class CoreAnsx {
public:
    CoreAnsx();                          // nothing stored: Length() is -1, c_str() is ""
    CoreAnsx(char const* text);          // copy of text; null gives ""
    CoreAnsx(CoreAnsx const& other);     // copy; an unassigned source gives ""
    CoreAnsx(CoreAnsx&& other) noexcept; // takes the other's block; same result as a copy
    CoreAnsx(char c);                    // the one character; NUL gives ""
    CoreAnsx(int value);                 // "%i"
    CoreAnsx(long value);                // "%li"
    CoreAnsx(unsigned long value);       // "%lu"
    CoreAnsx(double value);              // "%G" (1E+06, 0.5, INF, NAN)
    ~CoreAnsx();

    // The one writer under every other operation. Takes at most limit - 1
    // characters of text (a negative limit takes all). Position 0 replaces the
    // content; position p >= 1 writes from character p (1-based) and cuts what
    // followed; p equal to the stored length appends. A position beyond the
    // stored length appends. Returns the buffer. Throws CoreAnsx when no
    // block can be had.
    char* start(char const* text, int pos = 0, int limit = -1);
    char* start(CoreAnsx const& text, int pos = 0, int limit = -1);
    // Capacity rule: (n & ~7) + 8, always strictly above n.
    static int alloc(int n);

    CoreAnsx& operator=(CoreAnsx const& other);
    CoreAnsx& operator=(CoreAnsx&& other) noexcept;
    CoreAnsx& operator+=(CoreAnsx const& other);
    CoreAnsx operator+(CoreAnsx const& other) const;

    char const* c_str() const; // never null
    int Length() const;        // characters; -1 when never assigned
    int capacity() const;      // bytes of the heap block (0 when none)

    // 1-based position of the first occurrence of needle, 0 when absent;
    // an empty needle is found at 1.
    int Pos(CoreAnsx const& needle) const;
    int AnsiPos(CoreAnsx const& needle) const;
    // count characters from the 1-based start; a start below 1 counts as 1,
    // past the end gives "", a negative count takes the rest.
    CoreAnsx SubString(int from, int count) const;
    CoreAnsx Trim() const;      // without leading/trailing " \t\n\v\f\r"
    CoreAnsx UpperCase() const; // ASCII letters only
    CoreAnsx LowerCase() const; // ASCII letters only
    int ToInt() const;          // leading decimal integer, 0 when none (saturates)
    double ToDouble() const;    // leading number with ".", 0.0 when none

    bool operator==(CoreAnsx const& other) const;
    bool operator!=(CoreAnsx const& other) const;
    bool operator<(CoreAnsx const& other) const;
    bool operator<=(CoreAnsx const& other) const;
    bool operator>(CoreAnsx const& other) const;
    bool operator>=(CoreAnsx const& other) const;

    // Replaces the text with value formatted by a printf format holding one
    // double conversion. Any length; "." as decimal point.
    CoreAnsx& sprintf(char const* format, double value);
    // Fixed-point text with digits decimals ("%.<digits>f"); format and
    // precision are accepted for callers' sake and have no effect.
    static CoreAnsx _FloatToStrF(double value, int format, int precision, int digits);

private:
    void formatDouble(char const* format, double value);  // locale-free, grows as needed
    void reserveBytes(long long bytes);                   // grows the block to hold bytes
    [[noreturn]] static void failMemory(long long bytes); // throws "Memory request failed <bytes>"

    char marker[2]; // always 0, 13: tells a live string from stray memory
    char* buffer;   // heap block, null when nothing was ever stored
    int length;     // stored bytes including the NUL; 0 when nothing stored
    int capac;      // bytes in the block, a multiple of 8; 0 when none
};
