#pragma once
// CoreLfo_: a low-frequency oscillator of a program. A waveform of the
// function catalogue (group 0) runs on a phase whose speed comes from a
// modulatable rate parameter, optionally snapped down to a multiple of the
// host tempo, and whose offset can be modulated by a second parameter. Each
// block it writes its value to its LFO source and its rate (over 24 Hz, as a
// bipolar value) to its rate source.
// Owned by the program (four of them); the catalogues and the two sources
// are the program's. Threads: updte on the processing thread (audio thread:
// no allocation, no file or log I/O, no blocking lock); the setters and
// getters from the engine's property layer between blocks (they allocate).
// Every setter restarts the running phase at the phase offset.

#include <memory>

#include "modulation/CoreGfun.h"
#include "runtime/CoreAnsx.h"

class CoreParm;
class CoreSrce;
class DataGfun;
class DataSrce;

class CoreLfo_ {
public:
    // Builds the rate parameter (name + " Rate", "Hz", 0..24) and the phase
    // parameter (name + " Phase", -1..1) on the bus. setvl must follow before
    // the first updte. Throws CoreAnsx when the parameters cannot be had.
    CoreLfo_(CoreAnsx const& name, DataGfun* functions, DataSrce* sources, CoreSrce* lfosource,
             CoreSrce* ratesource);
    ~CoreLfo_();
    CoreLfo_(CoreLfo_ const&) = delete;
    CoreLfo_& operator=(CoreLfo_ const&) = delete;
    CoreLfo_(CoreLfo_&&) = delete;
    CoreLfo_& operator=(CoreLfo_&&) = delete;

    // All settings at once (rates in Hz, quantisation factor, phase in
    // degrees), then start.
    void setvl(double minrate, double maxrate, double quant, CoreAnsx const& ratekey,
               CoreAnsx const& wavekey, double phasedeg, CoreAnsx const& phasekey);
    void setmn(double minrate);           // raises the maximum to it when above it
    void setmx(double maxrate);           // lowers the minimum to it when below it
    void setqt(double quant);             // 0 or less: no tempo snapping
    void setrt(CoreAnsx const& ratekey);  // rate source key; restarts
    void setsh(CoreAnsx const& wavekey);  // waveform key; restarts
    void setph(double phasedeg);          // phase, degrees; restarts
    void setps(CoreAnsx const& phasekey); // phase source key; restarts
    // Re-applies the stored settings through setvl: restarts the phase. The
    // setters already take effect at once, so this changes nothing else.
    void rfrvl();

    CoreParm* getrt() const; // the rate parameter, owned by this LFO
    double getqt() const;    // quantisation when snapping, else 0
    double getph() const;    // phase in degrees
    CoreAnsx getrc() const;  // rate source key as given
    CoreAnsx getsh() const;  // waveform key as given (an unknown one plays "Sine")
    CoreAnsx getps() const;  // phase source key as given

    // Binds both parameters, picks the waveform and restarts the phase.
    void start();
    // One block: dt seconds elapsed, host tempo in beats per minute.
    void updte(double dt, double bpm) noexcept;

private:
    double maxrate;                      // Hz, upper end of the rate parameter's scale
    double minrate;                      // Hz, lower end of the rate parameter's scale
    double phase;                        // phase setting, degrees
    double phasedepth;                   // phase / 180: offset at phase parameter 1
    double prevoffset;                   // phase offset added at the last update, cycles x 2
    double running;                      // running phase; one cycle spans 2; never wrapped
    double quantisation;                 // tempo quantisation factor; <= 0 means off
    CoreAnsx name;                       // e.g. "LFO1"
    CoreAnsx wavekey;                    // waveform key as given
    CoreAnsx ratekey;                    // source text of the rate parameter
    CoreAnsx phasekey;                   // source text of the phase parameter
    bool quantised;                      // quantisation > 0
    CoreGfun::FUNEXTENSION state;        // folded phase and value of the last update
    std::unique_ptr<CoreParm> rateparm;  // rate in Hz, scale minrate..maxrate
    std::unique_ptr<CoreParm> phaseparm; // phase modulation, scale 0..1
    DataGfun* catalogue;                 // function catalogue, not owned
    CoreGfun* waveform;                  // group 0 entry chosen by start; null before it
    CoreSrce* lfosource;                 // "LFO<n>", not owned
    CoreSrce* ratesource;                // "RATELFO<n>", not owned
};
