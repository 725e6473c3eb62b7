#pragma once
// CoreFltr: a cascade of identical first-order high-pass sections, used by an
// envelope follower to keep rumble and DC out of its detector. The number of
// sections is fixed at construction (order / 2); setvl chooses how many of
// them run and their cut-off.
// Owner: the envelope follower that built it.
// Threads: processing thread (audio thread: no allocation, no file or log
// I/O, no blocking lock) for setvl and prcss; construction allocates.

class CoreFltr {
public:
    // Filter kinds; only the high-pass exists.
    enum iCfilter : short { iChighpass = 0 };

    // order / 2 sections (none for an order below 2), all coefficients and
    // history 0. Throws CoreAnsx when the sections cannot be allocated.
    CoreFltr(iCfilter type, int order);
    ~CoreFltr();
    CoreFltr(CoreFltr const&) = delete;
    CoreFltr& operator=(CoreFltr const&) = delete;
    CoreFltr(CoreFltr&&) = delete;
    CoreFltr& operator=(CoreFltr&&) = delete;

    // Cut-off f (Hz) with damping d at rate fs (samples/s); runs
    // min(order / 2, allocated) sections. The history is kept, so a moving
    // cut-off does not click.
    void setvl(double f, double d, double fs, int order) noexcept;
    // Filters one sample through the running sections; x itself when none run.
    double prcss(double x) noexcept;

private:
    // Coefficients and history of one section.
    struct SECTION {
        double a;       // feedback coefficient 1 / (1 + k)
        double b;       // gain 1 - k
        double previn;  // last input of the section
        double prevout; // last output of the section
    };

    int allocated;     // sections owned, order / 2 at construction
    int active;        // sections that run, 0..allocated
    SECTION* sections; // owned array of allocated entries, null when none
};
