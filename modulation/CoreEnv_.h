#pragma once
// CoreEnv_: an envelope generator. A rising activation source starts it; it
// ramps from a start level through three stages (attack, decay, slope) to a
// sustain level, holds there until the deactivation source has risen, then
// releases to 0. Levels and times are scaled by two factors, each times a
// control. The output goes to one bus source as a bipolar value.
// Settings come in two copies: the pending one written by the editing
// setters, the current one used by updte; rfrvl applies the pending copy.
// Owner: the program (two of them); the bus and the output are not owned.
// Threads: processing thread (audio thread: no allocation, no file or log
// I/O, no blocking lock) for updte; the setters, setvl and rfrvl run when the
// program is configured or edited (may allocate).

#include "runtime/CoreAnsx.h"

class CoreParm;
class CoreSrce;
class DataSrce;

class CoreEnv_ {
public:
    static constexpr int iCstages = 4; // entries of the level, time and curve tables

    // Builds the controls "Activ Control", "Deactiv Control", "Level Control"
    // and "Source Control" (the last scales the times); inactive.
    CoreEnv_(CoreAnsx const& name, DataSrce* catalogue, CoreSrce* output);
    ~CoreEnv_();
    CoreEnv_(CoreEnv_ const&) = delete;
    CoreEnv_& operator=(CoreEnv_ const&) = delete;
    CoreEnv_(CoreEnv_&&) = delete;
    CoreEnv_& operator=(CoreEnv_&&) = delete;

    // Reset: inactive, every table and factor 0, controls unbound.
    void setvl();
    // Configures both copies; levels[0] is the start level, levels[1..3] the
    // destinations of stages 0..2; times (samples) and curves [0..2] belong
    // to those stages, [3] to the release. Returns whether the activation
    // control is bound to a source (the envelope is then active).
    bool setvl(CoreAnsx const& activation, CoreAnsx const& deactivation, double const levels[4],
               int const times[4], short const curves[4], double levelfactor,
               CoreAnsx const& levelsource, double timefactor, CoreAnsx const& timesource);
    bool rfrvl(); // setvl with the pending copy
    // One block of the given length in samples (truncated).
    void updte(double samples) noexcept;

    CoreParm* getpr(int i) const; // controls 0..3, null otherwise
    int const* gettm() const;     // current times, 4 entries, samples
    // Pending time of stage index (3: release), samples; bad index logged.
    void settm(int index, int samples);
    short const* getcv() const; // current curves, 4 entries
    // Pending curve of stage index (3: release); bad index logged.
    void setcv(int index, short curve);
    double const* getlv() const; // current levels, 4 entries
    // Pending level index (0 start, 1..3 stage ends); bad index logged.
    void setlv(int index, double level);
    double getlf() const;            // current level factor
    void setlf(double factor);       // pending level factor
    double gettf() const;            // current time factor
    void settf(double factor);       // pending time factor
    void setas(CoreAnsx const& key); // pending activation source
    void setds(CoreAnsx const& key); // pending deactivation source
    void setls(CoreAnsx const& key); // pending level-factor source
    void setts(CoreAnsx const& key); // pending time-factor source

private:
    CoreAnsx name;                // e.g. "ENV1"
    CoreAnsx pendingactivation;   // activation source key
    CoreAnsx pendingdeactivation; // deactivation source key
    CoreAnsx pendinglevelsource;  // level-factor source key
    CoreAnsx pendingtimesource;   // time-factor source key
    int elapsed;                  // samples since the trigger
    short stage;                  // 0..2 ramps, 3 sustain, 4 release, 5 idle
    short curve;                  // exponent of the running stage (below 2: linear)
    int stagestart;               // samples, elapsed count where the stage began
    int stageend;                 // samples, elapsed count where the stage ends
    int times[4];                 // current stage times, samples
    int pendingtimes[4];          // pending stage times, samples
    short curves[4];              // current stage curve exponents
    short pendingcurves[4];       // pending stage curve exponents
    double levelfactor;           // current level factor
    double pendinglevelfactor;    // pending level factor
    double timefactor;            // current time factor
    double output;                // output level
    double pendingtimefactor;     // pending time factor
    bool activationwashigh;       // activation was >= 0 at the previous block
    bool deactivationwashigh;     // deactivation was >= 0 at the previous block
    bool running;                 // a stage 0..4 is in progress
    bool released;                // the deactivation edge came since the trigger
    double levels[4];             // current start and destination levels
    double pendinglevels[4];      // pending start and destination levels
    double startlevel;            // level where the stage began
    double destination;           // level the stage ramps to
    bool active;                  // activation control bound to a source
    CoreParm* controls[4];        // owned: Activ, Deactiv, Level, Source
    CoreSrce* outputsource;       // written every block, not owned; null when none
};
