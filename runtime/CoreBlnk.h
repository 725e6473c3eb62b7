#pragma once
// Blink clock shared by every blinking item of the display and the editor:
// on during the first second of every 2-second period counted from its
// creation, off during the second.
// Owner: the plug-in instance assembly builds one and hands it to the program
// and the controls; copy and move are deleted.
// Threads: any thread; it only reads the clock (no lock, no allocation).

class CoreBlnk {
public:
    // Clock in days on the wall-clock scale.
    using CLOCK = double (*)();

    CoreBlnk();
    // Blink clock on another clock (tests step a fake one).
    explicit CoreBlnk(CLOCK clock);
    CoreBlnk(CoreBlnk const&) = delete;
    CoreBlnk& operator=(CoreBlnk const&) = delete;
    CoreBlnk(CoreBlnk&&) = delete;
    CoreBlnk& operator=(CoreBlnk&&) = delete;

    // True in the visible half of the blink period.
    bool getvl();

    static double dVblink; // blink period, seconds (2.0)

private:
    CLOCK clock;   // time source, days
    double rate;   // radians per day (pi per second)
    double origin; // clock reading at construction, days
};
