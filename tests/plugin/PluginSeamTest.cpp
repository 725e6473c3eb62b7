// ctest-labels: threads
// Where the display meets the engine, through one instance of the built
// plug-in over the demo installation: each property a page writes is worked
// as a user works it (a drag on a value field, keys into an edit field) and
// read back from what the engine stores (the master settings after SAVE,
// the program file of a saved version); what a page reads is put in the
// store before the instance opens and checked in the page's text. The rows
// are keyed by the bus's id table, so a property without a row fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "display/CoreCnst.h"
#include "runtime/CoreBnid.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "tests/plugin/PluginRig.h"
#include "tests/support/CommaLocale.h"
#include "tools/CoreDdoc.h"
#include "tools/CoreDemo.h"
#include "tools/CorePeer.h"

namespace {
using B = CoreBnid;
using ELEMENTS = std::map<std::string, std::string>;
constexpr double kWait = 60.0; // s: generous for a loaded machine under the sanitizers
constexpr char const* kMaster = "  MasterMode";
constexpr char const* kMemory = "  EditMode: Memory";
constexpr char const* kGlobal = "  EditMode: Global";
constexpr char const* kLfos = "  EditMode: LFOs";
constexpr char const* kFunctions = "  EditMode: FUNs";
constexpr char const* kFollowers = "  EditMode: EVFs";
constexpr char const* kEnvelopes = "  EditMode: ENVs";
constexpr char const* kDynamics = "  EditMode: DYNs";
constexpr char const* kProg = "  ProgMode";
constexpr char const* kKernel = "  KernelMode";
constexpr char const* kMidi = "  MidiMode";
constexpr char const* kPrms = "  EditMode: PRMs";
constexpr char const* kParm = "  EditMode: PARM 1"; // the sweep's modulator
constexpr char const* kDisk = "  DiskMode";

// Drags by one pixel a step up, down, right or left, or at once to the top;
// the second pass flips the lowest bit.
enum : int { kUp, kDown, kRight, kLeft, kTop, kBottom };

// One field of a page. Master rows are stored as master settings, the
// others in the program. Typed rows take keys and Return, the others are
// dragged (as `down` says, and back on a second pass).
struct ROW {
    int id;
    int selector;      // the record's selector where the page passes one
    char const* page;  // its title
    short column, row; // the field's first cell
    char const* key;   // its element ("LFO1/SHAPE" below its section)
    char const* known; // put in the store before the instance opens ("" none)
    char const* shown; // the page's text for it
    char const* typed; // keys typed; null for a drag
    double scale;      // stored units per unit shown (a text: 1), checked; 0 not
    int down; // the drag: kUp (false), kDown (true), kRight, kLeft, kTop (to the field's end)
};
ROW const rows[] = {
    {B::iCmeter, 0, kMaster, 43, 3, "METERTYPE", "2", "2 Peak", nullptr, 0, false},
    {B::iCfontcolour, 0, kMaster, 13, 4, "FONTCOLOUR", "0", "GREEN", nullptr, 0, false},
    {B::iCquality, 0, kMaster, 43, 4, "EXPORTAUDIOQUALITY", "1", "1 times", nullptr, 0, false},
    {B::iCenginetime, 0, kMaster, 13, 5, "OTIMED", "5", "5 SSE2f", nullptr, 0, false},
    {B::iCforcedlength, 0, kMaster, 43, 5, "LTIMED", "10000", "10.0 ms", nullptr, 1000, false},
    {B::iCenginefreq, 0, kMaster, 13, 6, "OFREQD", "11", "11IPPS", nullptr, 0, true},
    {B::iCforcedlength, 1, kMaster, 43, 6, "LFREQD", "1000000", "1.000 s", nullptr, 1e6, false},
    {B::iCprogramrate, 0, kMaster, 13, 7, "PROGRAMRATE", "3000", "3.0 ms", nullptr, 1000, false},
    {B::iCguirate, 0, kMaster, 43, 7, "GUIRATE", "5000", "5.0 ms", nullptr, 1000, false},
    {B::iCoffset, 0, kMaster, 13, 8, "FORCEOFFSET", "1000", "1.0 ms", nullptr, 1000, false},
    {B::iCaheadlimit, 0, kMaster, 43, 8, "AHEADLENGTH", "3000", "3.0 ms", nullptr, 0, false},
    {B::iCkernellimit, 0, kMaster, 13, 9, "HDIM", "3", "3  (2nd", nullptr, 0, false},
    {B::iCrateconversion, 0, kMaster, 43, 9, "RATECONVERSION", "0", "0 ms", nullptr, 1000, false},
    {B::iCscanboot, 0, kMaster, 13, 10, "SCANBOOT", "1", "1 recovery", nullptr, 0, true},
    {B::iCfastboot, 0, kMaster, 43, 10, "FASTBOOT", "1", "1 fast", nullptr, 0, true},
    {B::iCnodrop, 0, kMaster, 13, 11, "NODROP", "0", "0 no", nullptr, 0, false},
    {B::iCdspbuffer, 0, kMaster, 43, 11, "DSPBUFFER", "2048", "2048", nullptr, 0, false},
    {B::iCloaderlevel, 0, kMaster, 13, 12, "LOADERPRIORITY", "1", "1 lower", nullptr, 0, false},
    // The memory page; the name last, as renaming proposes the version name.
    {B::iCcategory, 0, kMemory, 8, 6, "CATEGORY", "Reverb", "REV", "xa", 0, false},
    {B::iCcategory, 1, kMemory, 14, 6, "SUBCATEGORY1", "Big", "BIG", "xb", 0, false},
    {B::iCcategory, 2, kMemory, 20, 6, "SUBCATEGORY2", "Stone", "STO", "xc", 0, false},
    {B::iCdescription, 0, kMemory, 8, 7, "DESCRIPTION", "Wide", "Wide", "Seam text", 0, false},
    {B::iCname, 0, kMemory, 8, 5, "NAME", "Demo Room", "Demo Room", "Seam Room", 0, false},
    // The room's program page, read only; the MIDI page (master settings)
    // and the kernel page.
    {B::iCgainin, 0, kProg, 12, 8, "GAININ", "-6.0", "-6.000 dB", "", 0, false},
    {B::iCgainout, 0, kProg, 41, 8, "GAINOUT", "3.5", "3.5000 dB", "", 0, false},
    {B::iCmidichange, 0, kMidi, 8, 2, "MIDICTRMIX1", "7", "7", "21", 0, false},
    {B::iCmidicontroller, 0, kMidi, 8, 3, "MIDICTRMIX2", "11", "11", "", 0, false},
    {B::iCtempo, 0, kMidi, 40, 0, "BPMDEFAULT", "140000", "140", "", 0, false},
    {B::iChdim, 0, kKernel, 13, 1, "HDIM", "", "1 Clean", nullptr, 0, false},
    {B::iClength, 0, kKernel, 13, 5, "H1/ELEMENT/VECTOR/COMMON/OT1/LENGTH", "", "1.1 ms", nullptr,
     0, true},
    {B::iClength, 1, kKernel, 31, 5, "H1/ELEMENT/VECTOR/COMMON/OT2/LENGTH", "", "200.0 ms", nullptr,
     0, true},
    {B::iCfade, 0, kKernel, 42, 5, "H1/ELEMENT/VECTOR/COMMON/OT2/FADEOUT", "", "20.0 ms", nullptr,
     0, true},
    {B::iCforceot2, 0, kKernel, 51, 1, "FORCEOT2", "", "ECONO", nullptr, 0, false},
    {B::iCforcemono, 0, kKernel, 41, 1, "FORCEMONO", "", "MONO-L", nullptr, 0, false},
    // The sweep's parameter modulator: typed rows go back to `known` (a
    // blank clears a unit; a number field takes a comma for the point).
    {B::iCmodlabel, 0, kParm, 10, 2, "DISPLAY/PRM1/LABEL", "LFO rate", "LFO rate", "Seam rte", 0,
     false},
    {B::iCmodunit, 0, kParm, 40, 2, "DISPLAY/PRM1/UNIT", "Hz", "Hz", "dB", 0, false},
    {B::iCmodpreunit, 0, kParm, 10, 7, "DISPLAY/PRM1/PREUNIT", " ", "No", "x", 0, false},
    {B::iCmodpostunit, 0, kParm, 40, 7, "DISPLAY/PRM1/POSTUNIT", " ", "No", "y", 0, false},
    {B::iCmodminimum, 0, kParm, 10, 8, "DISPLAY/PRM1/MINVALUE", "0,1", "0.1", "0,2", 0, false},
    {B::iCmodmaximum, 0, kParm, 40, 8, "DISPLAY/PRM1/MAXVALUE", "1,1", "1.1", "2,5", 0, false},
    {B::iCmodbarminimum, 0, kParm, 10, 9, "DISPLAY/PRM1/BARMINVALUE", "0,1", "0.1", "0,3", 0,
     false},
    {B::iCmodbarmaximum, 0, kParm, 40, 9, "DISPLAY/PRM1/BARMAXVALUE", "1,1", "1.1", "0,9", 0,
     false},
    {B::iCmodprelabel, 0, kParm, 10, 4, "DISPLAY/PRM1/PRELABEL", "", "MIX1", nullptr, 0, false},
    {B::iCmodfunction, 0, kParm, 40, 4, "DISPLAY/PRM1/FUN", "", "a ", nullptr, 0, false},
    {B::iCmodshown, 0, kPrms, 51, 3, "DISPLAY/PRM1/VISIBLE", "", "INVIS", nullptr, 0, false},
    // The parameter modulator page's arguments: A up its source list, B
    // sideways from no source to a number.
    {B::iCmodargumenta, 0, kParm, 10, 5, "DISPLAY/PRM1/A", "", "MIX1", nullptr, 1, kUp},
    {B::iCmodargumentb, 0, kParm, 40, 5, "DISPLAY/PRM1/B", "", "OFF", nullptr, 1, kRight},
    // The sweep's global and LFO pages.
    {B::iCpadin, 0, kGlobal, 10, 1, "GAINPADIN", "", "0 dB", nullptr, 0, false},
    {B::iCpadout, 0, kGlobal, 10, 2, "GAINPADOUT", "", "0 dB", nullptr, 0, false},
    {B::iCfeedback, 0, kGlobal, 42, 1, "FEEDBACKFACTOR", "", "0 %", nullptr, 0, false},
    {B::iCfeedbacksource, 0, kGlobal, 42, 2, "FEEDBACKSOURCE", "", "OFF", nullptr, 0, false},
    {B::iClookahead, 0, kGlobal, 42, 3, "LOOKAHEAD", "", "0 ms", nullptr, 0, false},
    {B::iCdry, 0, kGlobal, 42, 4, "GAINDRYFACTOR", "", "-192. dB", nullptr, 0, false},
    {B::iCdrysource, 0, kGlobal, 42, 5, "GAINDRYSOURCE", "", "OFF", nullptr, 0, false},
    {B::iClfosetmaxrate, 0, kLfos, 13, 4, "LFO1/MAXRATE", "", "1.10 H", nullptr, 0, false},
    {B::iClfosetminrate, 0, kLfos, 4, 4, "LFO1/MINRATE", "", "0.10 H", nullptr, 0, false},
    {B::iClfoquantise, 0, kLfos, 22, 4, "LFO1/RATEQUANTIZE", "", "-1", nullptr, 0, false},
    {B::iClfosetratesource, 0, kLfos, 26, 4, "LFO1/SOURCE", "", "MIX1", nullptr, 0, false},
    {B::iClfowaveform, 0, kLfos, 35, 4, "LFO1/SHAPE", "", "Sine", nullptr, 0, false},
    {B::iClfophase, 0, kLfos, 43, 4, "LFO1/PHASEFACTOR", "", "0 dg", nullptr, 0, false},
    {B::iClfophasesource, 0, kLfos, 51, 4, "LFO1/PHASESOURCE", "", "OFF", nullptr, 0, false},
    // The sweep's global page: its own rate, stored as the program's rate
    // while on; the mix controls' values and states, a state stored as the
    // value's presence; the lookahead source ("ON" when none).
    {B::iCownrate, 0, kGlobal, 10, 4, "PROGRAMRATE", "", "OFF", nullptr, 0, kUp},
    {B::iCrawvalid, 0, kGlobal, 4, 9, "MIX1", "", "-0.80", nullptr, 1, kUp},
    {B::iCrawnotvalid, 0, kGlobal, 11, 8, "MIX2", "", "OFF", nullptr, 0, kUp},
    {B::iCaheadsource, 0, kGlobal, 10, 11, "LOOKAHEADSOURCE", "", "ON", nullptr, 0, kDown},
    // The LFO page's second LFO, stored without a waveform; its maximum
    // dragged to the top of the rate bounds and back to their bottom.
    {B::iClfominrate, 0, kLfos, 4, 5, "LFO2/MINRATE", "0.3", "0.30 H", nullptr, 1, kUp},
    {B::iClfomaxrate, 0, kLfos, 13, 5, "LFO2/MAXRATE", "2.5", "2.50 H", nullptr, 0, kTop},
    {B::iClforatesource, 0, kLfos, 26, 5, "LFO2/SOURCE", "MIX3", "MIX3", nullptr, 0, kUp},
    // The sweep's function, envelope, follower and dynamics pages. A change
    // on the last three writes all of the modulator's settings and applies
    // them. Times are stored in microseconds and shown in whole milliseconds
    // rounded up; a dynamics processor's type is stored as which of the two
    // ratio elements carries its ratio source.
    {B::iCfngfunction, 0, kFunctions, 40, 2, "FUN1/FUN", "a-b", "a-b", nullptr, 0, false},
    {B::iCevfdetector, 0, kFollowers, 14, 2, "EVF1/EXP", "2", "Peak", nullptr, 0, true},
    {B::iCevfminattack, 0, kFollowers, 14, 3, "EVF1/MINATTACK", "2205", "3 ms", nullptr, 0, false},
    {B::iCevfmaxattack, 0, kFollowers, 14, 4, "EVF1/MAXATTACK", "4410", "5 ms", nullptr, 0, false},
    {B::iCevfattacksource, 0, kFollowers, 14, 5, "EVF1/ATTACKSOURCE", "MIX2", "MIX2", nullptr, 0,
     false},
    {B::iCevfminrelease, 0, kFollowers, 14, 6, "EVF1/MINRELEASE", "3300", "4 ms", nullptr, 0,
     false},
    {B::iCevfmaxrelease, 0, kFollowers, 14, 7, "EVF1/MAXRELEASE", "8820", "9 ms", nullptr, 0,
     false},
    {B::iCevfreleasesource, 0, kFollowers, 14, 8, "EVF1/RELEASESOURCE", "MIX3", "MIX3", nullptr, 0,
     false},
    {B::iCevfsetbalance, 0, kFollowers, 14, 9, "EVF1/OUTPUTBALANCE", "0.25", "25 %", nullptr, 0,
     false},
    {B::iCevfdynattacksource, 0, kFollowers, 45, 5, "EVF1/DATTACKSOURCE", "MIX4", "MIX4", nullptr,
     0, false},
    {B::iCevfdynreleasesource, 0, kFollowers, 45, 8, "EVF1/DRELEASESOURCE", "MIX5", "MIX5", nullptr,
     0, false},
    {B::iCevfhighpass, 0, kFollowers, 14, 10, "EVF1/FILTERFREQUENCY", "100", "100 Hz", nullptr, 0,
     false},
    {B::iCevfhighpassorder, 0, kFollowers, 26, 10, "EVF1/FILTERORDER", "4", "4", nullptr, 0, false},
    {B::iCevfhighpasssource, 0, kFollowers, 45, 10, "EVF1/FILTERSOURCE", "MIX6", "MIX6", nullptr, 0,
     false},
    {B::iCenvactivsource, 0, kEnvelopes, 10, 1, "ENV1/CONTROL/ACTIVSOURCE", "MIX2", "MIX2", nullptr,
     0, false},
    {B::iCenvdeactivsource, 0, kEnvelopes, 30, 1, "ENV1/CONTROL/DEACTIVSOURCE", "MIX3", "MIX3",
     nullptr, 0, false},
    {B::iCenvlevel, 1, kEnvelopes, 10, 5, "ENV1/LEVEL/ATTACK", "0.5", "0.500", nullptr, 0, false},
    {B::iCenvtime, 1, kEnvelopes, 30, 5, "ENV1/TIME/DECAY", "4410", "5 ms", nullptr, 0, false},
    {B::iCenvcurve, 1, kEnvelopes, 40, 5, "ENV1/CURVE/DECAY", "2", "CURVE 2", nullptr, 0, false},
    {B::iCenvlevelamount, 0, kEnvelopes, 10, 8, "ENV1/LEVEL/COMMON/MODFACTOR", "0.25", "0.250",
     nullptr, 0, false},
    {B::iCenvlevelsource, 0, kEnvelopes, 10, 9, "ENV1/LEVEL/COMMON/MODSOURCE", "MIX4", "MIX4",
     nullptr, 0, false},
    {B::iCenvtimeamount, 0, kEnvelopes, 30, 8, "ENV1/TIME/COMMON/MODFACTOR", "0.75", "0.750",
     nullptr, 0, false},
    {B::iCenvtimesource, 0, kEnvelopes, 30, 9, "ENV1/TIME/COMMON/MODSOURCE", "MIX5", "MIX5",
     nullptr, 0, false},
    {B::iCdyninputsource, 0, kDynamics, 14, 2, "DNM1/INPUTSOURCE", "MIX2", "MIX2", nullptr, 0,
     false},
    {B::iCdyntype, 0, kDynamics, 14, 3, "DNM1/RATIOEXPSOURCE", "MIX4", "EXPN", nullptr, 0, true},
    {B::iCdynthresholdsource, 0, kDynamics, 14, 4, "DNM1/THRESHOLDSOURCE", "MIX3", "MIX3", nullptr,
     0, false},
    {B::iCdynratiosource, 0, kDynamics, 14, 5, "DNM1/RATIOCOMSOURCE", "", "MIX4", nullptr, 0,
     false},
    {B::iCdyncurve, 0, kDynamics, 14, 6, "DNM1/RATIOCURVE", "3", "EXP 2", nullptr, 0, false},
    {B::iCdynrange, 0, kDynamics, 14, 7, "DNM1/RANGELIMIT", "6", "6.00 dB", nullptr, 0, false},
    {B::iCdynmakeup, 0, kDynamics, 14, 8, "DNM1/GAINPADFACTOR", "3", "3.00 dB", nullptr, 0, false},
    // The function page's inputs, each a source or a number: a drag up or
    // down moves the source, sideways the number; the envelope's start level.
    {B::iCfnginputa, 0, kFunctions, 4, 2, "FUN1/A", "0.5", "0.50000", nullptr, 1, kRight},
    {B::iCfnginputb, 0, kFunctions, 22, 2, "FUN1/B", "MIX2", "MIX2", nullptr, 1, kDown},
    {B::iCfngsourcea, 0, kFunctions, 4, 3, "FUN2/A", "LFO1", "LFO1", nullptr, 1, kRight},
    {B::iCfngconstantb, 0, kFunctions, 22, 3, "FUN2/B", "-0.25", "-0.2500", nullptr, 1, kUp},
    {B::iCenvlevel, 0, kEnvelopes, 10, 4, "ENV1/LEVEL/START", "0.25", "0.250", nullptr, 1, kRight},
    {B::iCsmoothing, 0, kGlobal, 10, 5, "SMOOTH", "", "OFF", nullptr, 0,
     false}, // last: switching reloads
};

// The page's text at a cell, n wide ("" when the screen is unreadable).
std::string at(CorePeer& p, short column, short row, std::size_t n) {
    std::string const text = p.row(row);
    return std::size_t(column) < text.size() ? text.substr(std::size_t(column), n) : "";
}

bool shows(CorePeer& p, std::string const& text, short column, short row) {
    return CorePeer::until([&] { return at(p, column, row, text.size()) == text; }, kWait);
}

// The engine's answer to one bus read, as a number.
double ask(CorePeer& p, int id, char kind, int element = 0, int subindex = 0) {
    return p.bus(id, kind, element, subindex).number;
}

// A kernel group's marker as the kernel page should draw it from the
// engine's answers: in the column of the length family the group runs in
// (normal or extended), blank in the other; "(1)" in both while the split
// is forced.
std::string marker(CorePeer& p, int group, bool extendedcolumn) {
    if (ask(p, B::iCforcehybrid, 'b') != 0) return group == 0 ? "(1)" : "   ";
    int const n = int(ask(p, B::iCslotsused, 'h'));
    if (group > 0 && n <= group) return "   ";
    std::string const m = group == 0
                              ? ask(p, B::iCsmoothsetting, 'h') >= 0 ? "(2)" : "(1)"
                              : "(" + std::to_string(group == 1 ? n / 2 : (n + 1) / 2 - 1) + ")";
    bool const normal = ask(p, B::iCblockfamily, 'b', group, 0) != 0;
    return normal != extendedcolumn ? m : "   ";
}

std::string kilobytes(double bytes) {
    return std::string(CoreAnsx(std::floor(bytes / 1024.0)).c_str()) + " Kb";
}

// A page's reading of what the engine measures or decides itself: the text
// the page should show for the engine's answers at that moment, read
// through the bus. The page's text at the cells must match it, followed by
// a blank.
struct READ {
    int id;
    char const* page;
    short column, row;
    std::string (*shown)(CorePeer&);
};
READ const reads[] = {
    // The kernel page: the title's block mode and load, the groups' markers.
    {B::iCblockmode, kKernel, 45, 0,
     [](CorePeer& p) -> std::string { return ask(p, B::iCblockmode, 'b') != 0 ? "T" : " "; }},
    {B::iCload, kKernel, 48, 0,
     [](CorePeer& p) {
         std::string const load = std::to_string(int(ask(p, B::iCload, 'i')));
         return "PRF:" + std::string(load.size() < 3 ? 3 - load.size() : 0, ' ') + load + " %";
     }},
    {B::iCsmoothsetting, kKernel, 8, 5, [](CorePeer& p) { return marker(p, 0, false); }},
    {B::iCblockfamily, kKernel, 26, 5, [](CorePeer& p) { return marker(p, 0, true); }},
    {B::iCforcehybrid, kKernel, 23, 5,
     [](CorePeer& p) -> std::string {
         return ask(p, B::iCforcehybrid, 'b') != 0         ? ""
                : ask(p, B::iCblockfamily, 'b', 0, 0) != 0 ? ">"
                                                           : "<";
     }},
    {B::iCslotsused, kKernel, 8, 6, [](CorePeer& p) { return marker(p, 1, false); }},
    {B::iCslotsused, kKernel, 26, 7, [](CorePeer& p) { return marker(p, 2, true); }},
    // The disk page, read on entry.
    {B::iCimpulsesize, kDisk, 32, 0,
     [](CorePeer& p) {
         double const mb = ask(p, B::iCimpulsesize, 'd') / 1048576.0;
         return "MEM: " + std::string(CoreAnsx(mb >= 0.01 ? mb : 0.0).SubString(1, 5).c_str()) +
                " Mb";
     }},
    {B::iClatency, kDisk, 17, 6,
     [](CorePeer& p) { return std::to_string(long(ask(p, B::iClatency, 'l'))); }},
    {B::iClocalmem, kDisk, 17, 7,
     [](CorePeer& p) { return kilobytes(ask(p, B::iClocalmem, 'i')); }},
    {B::iCsharedmem, kDisk, 17, 8,
     [](CorePeer& p) { return kilobytes(ask(p, B::iCsharedmem, 'i')); }},
    {B::iCbridge, kDisk, 17, 11,
     [](CorePeer& p) { return std::string(p.bus(B::iCbridge, 's').text); }},
    // The program page's extra-buffers indicator.
    {B::iCextrabuffers, kProg, 12, 0,
     [](CorePeer& p) -> std::string { return ask(p, B::iCextrabuffers, 'b') != 0 ? "Q" : " "; }},
};

// A value field dragged far past its upper end stops at the engine's limit:
// the value read back (id, record) then equals the limit (id, record), and
// the page shows it with its decimals; master rows are checked after SAVE
// in the stored key too.
struct LIMIT {
    char const* page;
    short column, row;
    int limit, element, subindex; // 'd' read
    int value;                    // read with `kind` and the same record
    char kind;
    int decimals;
    double unit; // engine units per unit shown
    char const* key;
};
LIMIT const limits[] = {
    {kKernel, 13, 5, B::iClengthlimit, 0, 0, B::iClength, 'd', 1, 1000, nullptr},
    {kKernel, 42, 5, B::iCfadelimit, 0, 0, B::iCfade, 'd', 1, 1000, nullptr},
    {kMaster, 43, 6, B::iClongest, 0, 1, B::iCforcedlength, 'l', 3, 1e6, "LFREQD"},
};

// The simple master page's fields: the settings the master page's rows
// write, each dragged there and saved alone.
ROW const simpleRows[] = {
    {B::iCmeter, 0, kMaster, 13, 4, "METERTYPE", "", "", nullptr, 0, kDown},
    {B::iCfontcolour, 0, kMaster, 13, 5, "FONTCOLOUR", "", "", nullptr, 0, kUp},
};

// Worked by the steps of PagesShowWhatTheEngineAnswers: the MIDI page's
// slots through MIDI input and learn, the kernel group switches, the
// master page's engine-number mark.
std::set<int> const stepped{B::iCmidiin,      B::iCmidiselect, B::iCmidilearn, B::iCmidistatus,
                            B::iCmidichannel, B::iCmidivalue,  B::iCextended,  B::iCusable};

// Read and shown without a store of their own: the master page's title and
// fixed rows, the memory page's slot and proposed version name.
// So are the error line's sources, worked by PluginSayTest: a failed save's
// line, and the fallback's flag, slot and reason. The last load's notices
// are read by the command-line host (PlughostTest).
std::set<int> const shownOnly{B::iChostrate,   B::iCversion,    B::iCmode,     B::iCversionname,
                              B::iCslot,       B::iCsaveerror,  B::iCfallback, B::iCfailedslot,
                              B::iCfailreason, B::iCloadnotices};
// Worked by the cases that follow a stored value through a second instance
// or a reload: the program's rate and its switch, the lookahead as played,
// the skin.
std::set<int> const reloaded{B::iCrate, B::iCownrate, B::iCaheadplayed, B::iCskin};
// Read or sent by a page along with the fields the rows move: the
// follower's balance as shown, and each page's apply after a change; the
// function and modulator inputs' other readings (which kind, the constant,
// the source); the mix controls' shown state and value; the LFO's rate
// bounds, where its maximum's row drags to either end; the memory slot's
// description, read through the bus once the page has written it.
std::set<int> const alongside{B::iCevfbalance,     B::iCevfapply,       B::iCenvapply,
                              B::iCdynapply,       B::iCfngconstanta,   B::iCfngisconstanta,
                              B::iCfngisconstantb, B::iCfngsourceb,     B::iCmodisconstanta,
                              B::iCmodisconstantb, B::iCmodconstanta,   B::iCmodconstantb,
                              B::iCmainvalid,      B::iCcontrol,        B::iClforatelow,
                              B::iClforatehigh,    B::iCslotdescription};

// Not worked here yet: properties of other pages, the engine's own
// book-keeping and the batch protocol, which the display tests cover on the
// stand-in engine and the plug-in tests through the batches they run.
// Beside the scenes below: the busy flag (46) is read only by the boot page
// with no editor attached, which the plug-in never is; the engine's
// progress row (221, cleared at 222) shows only while a batch runs, a load
// is over within a tick or two, and the engine's list then holds one row
// that every load writes alike, so its clear leaves no trace to read; no page lists files through
// the bus (237..239): the master page's skin list reads its folder itself.
std::set<int> const notWorked{46, 221, 222, 237, 238, 239};

// The elements of (path, value) pairs, nested by their paths ("A/B" is B
// within A); pairs sharing a leading part are kept together.
std::string nested(std::vector<std::pair<std::string, std::string>> const& leaves) {
    std::string text;
    std::set<std::string> done;
    for (auto const& [path, value] : leaves) {
        std::size_t const slash = path.find('/');
        if (slash == std::string::npos) {
            text += CoreDdoc::elmnt(path, value);
            continue;
        }
        std::string const head = path.substr(0, slash);
        if (!done.insert(head).second) continue;
        std::vector<std::pair<std::string, std::string>> inner;
        for (auto const& [other, v] : leaves)
            if (other.rfind(head + "/", 0) == 0) inner.emplace_back(other.substr(slash + 1), v);
        text += CoreDdoc::elmnt(head, nested(inner));
    }
    return text;
}

std::string readAll(std::string const& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The leaf elements of a document by their path below the root ("LFO1/SHAPE";
// a path met again gets "#2", "#3"...), values trimmed.
ELEMENTS elements(std::string const& text) {
    ELEMENTS found;
    std::vector<std::string> open;
    std::size_t textstart = 0;
    bool leaf = false; // no element opened since the last one
    for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        std::size_t const close = text.find('>', at);
        if (close == std::string::npos) break;
        std::string const tag = text.substr(at + 1, close - at - 1);
        if (tag.empty() || tag[0] == '?') continue;
        if (tag[0] != '/') {
            open.push_back(tag);
            textstart = close + 1;
            leaf = true;
            continue;
        }
        if (open.empty() || open.back() != tag.substr(1)) break; // not a document we wrote
        if (leaf && open.size() > 1) {
            std::string path, value = text.substr(textstart, at - textstart);
            for (std::size_t k = 1; k < open.size(); ++k) path += (k > 1 ? "/" : "") + open[k];
            value.erase(0, value.find_first_not_of(" \t\n"));
            value.erase(value.find_last_not_of(" \t\n") + 1);
            std::string key = path;
            for (int n = 2; found.count(key); ++n) key = path + "#" + std::to_string(n);
            found[key] = value;
        }
        open.pop_back();
        leaf = false;
    }
    return found;
}

// The paths whose values differ between two documents.
std::set<std::string> changed(ELEMENTS const& old, ELEMENTS const& now) {
    std::set<std::string> keys;
    for (auto const& [key, value] : now)
        if (!old.count(key) || old.at(key) != value) keys.insert(key);
    for (auto const& [key, value] : old)
        if (!now.count(key)) keys.insert(key);
    return keys;
}

std::string cells(CorePeer& p, ROW const& r, std::size_t n) {
    return p.row(r.row).substr(std::size_t(r.column), n);
}

// A memory row's text as typed, upper-cased for the categories.
std::string typedText(ROW const& r) {
    bool const category = std::string(r.key).find("CATEGORY") != std::string::npos;
    return category ? CoreAnsx(r.typed).UpperCase().c_str() : r.typed;
}

// Typed text as a number field shows it: the comma typed for the point.
std::string pointed(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    return text;
}

// The worth of the last digit a number shows ("0.50" 0.01).
double lastDigit(std::string const& shown) {
    std::size_t const point = shown.find('.');
    if (point == std::string::npos) return 1.0;
    std::size_t const end =
        std::min(shown.find_first_not_of("0123456789", point + 1), shown.size());
    return std::pow(10.0, -double(end - point - 1));
}

bool page(CorePeer& p, char const* title) {
    return CorePeer::until([&] { return p.titled(title); }, kWait);
}

// Drags the value field of the row (the editor's mouse state held down)
// until its text changes; false when it never does.
bool drag(CorePeer& p, ROW const& r, int down) {
    int const steps[][2] = {{0, -1}, {0, 1}, {1, 0}, {-1, 0}, {0, -1000}, {0, 1000}};
    std::string const before = cells(p, r, 8);
    std::int32_t mouse[3] = {200, 2000, 1};
    p.set(100101, mouse, sizeof mouse);
    p.post(0, r.column, r.row);
    bool const moved = CorePeer::until(
        [&] {
            mouse[0] += steps[down][0];
            mouse[1] += steps[down][1];
            p.set(100101, mouse, sizeof mouse);
            return cells(p, r, 8) != before;
        },
        kWait);
    // At an end the first change may be a step on the way (a loaded display takes fewer moves
    // a tick): the end is where further dragging changes nothing for a while.
    std::string last = cells(p, r, 8);
    for (int still = 0; moved && down >= 4 && still < 60;) {
        mouse[1] += steps[down][1];
        p.set(100101, mouse, sizeof mouse);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::string const now = cells(p, r, 8);
        still = now == last ? still + 1 : 0, last = now;
    }
    mouse[2] = 0;
    p.set(100101, mouse, sizeof mouse);
    return moved;
}

void type(CorePeer& p, short column, short row, char const* text) {
    p.post(0, column, row);
    for (char const* k = text; *k != 0; ++k) p.post(1, static_cast<unsigned char>(*k));
    p.post(1, '\r');
}

// The column of a page's button on the menu row (the main and the edit
// menus alike).
int menuColumn(char const* title) {
    std::pair<char const*, int> const columns[] = {{kKernel, 13}, {kMaster, 23}, {kMidi, 33},
                                                   {kDisk, 43},   {kMemory, 3},  {kPrms, 13},
                                                   {kGlobal, 23}};
    for (auto const& [page, column] : columns)
        if (page == title) return column;
    return 33; // the LFOs
}

// Moves to a page through the program page: the menu row's MAST there, or
// EDIT and then the edit pages' menu row.
// A batch a change posted (a smoothing switch reloads) is let end first.
bool reach(CorePeer& p, char const* title) {
    CorePeer::until(
        [&] {
            return p.titled("  EditMode") || p.titled("  ProgMode") || p.titled(kMaster) ||
                   p.titled(kMidi) || p.titled(kKernel) || p.titled(kDisk);
        },
        kWait);
    if (p.titled(title)) return true;
    if (title == kParm) { // the first modulator of the list, and EDIT
        if (!reach(p, kPrms)) return false;
        // Selected once: the page offers its buttons for it from then on.
        auto selected = [&] { return p.row(4).find("EDIT") != std::string::npos; };
        if (!selected()) p.post(0, 10, 2);
        if (!CorePeer::until(selected, kWait)) return false;
        p.post(0, 52, 4);
        return page(p, kParm);
    }
    if (p.titled(kParm)) { // its menu row is its own: back through PRMs
        p.post(0, 52, 0);
        if (!page(p, kPrms)) return false;
        if (p.titled(title)) return true;
    }
    bool const edit =
        title != kMaster && title != kMidi && title != kKernel && title != kDisk && title != kProg;
    if (!(edit && p.titled("  EditMode"))) {
        if (!p.titled("  ProgMode")) p.post(0, 3, 13); // PROG
        if (!page(p, "  ProgMode")) return false;
        if (edit) p.post(0, 52, 3); // EDIT: the memory page
        if (edit && !page(p, kMemory)) return false;
        if (p.titled(title)) return true;
    }
    if (title == kMaster || title == kKernel || title == kMidi || title == kDisk) {
        p.post(0, menuColumn(title), 13);
        return page(p, title);
    }
    // The edit pages' menu row scrolls: its label ("FUNS" for "FUNs") is
    // brought on by scrolling to the row's start, then on to its end.
    std::string label = std::string(title).substr(12, 4);
    for (char& c : label) c = char(std::toupper(static_cast<unsigned char>(c)));
    char const* scroll = "<More";
    for (int k = 0; k < 16 && page(p, "  EditMode"); ++k) {
        std::string const menu = p.row(13);
        std::size_t at = menu.find(label);
        if (at != std::string::npos) {
            // A row still moving under the click can take it to another
            // page of the menu: then the label is looked for again.
            std::string const was = p.row(0);
            p.post(0, short(at), 13);
            CorePeer::until([&] { return p.row(0) != was; }, kWait);
            if (p.titled(title)) return true;
            continue;
        }
        if (menu.find(scroll) == std::string::npos) scroll = "More>";
        at = menu.find(scroll);
        if (at == std::string::npos) return false;
        p.post(0, short(at), 13);
        CorePeer::until([&] { return p.row(13) != menu; }, kWait);
    }
    return false;
}

// What a page shows after a user's step, for the properties read or run by
// the display's own machinery (lists, the pop-up, the boot and the batches)
// and the program page's figures: a row's text, at some moment (a batch
// page passes), or a program file's element.
struct SCENE {
    std::vector<int> ids;       // the properties it proves
    bool simple;                // on the simple set's instance, which boots slowly
    char const* steps;          // the user's steps (see `act`), ';' between them
    int row;                    // screen row; -1 the pop-up (items per column, then
    short column;               // entries), -2 the large font's row 1; first cell, -1 any
    std::string shown;          // lines shown from that row on ("\n" separated)
    bool gone = false;          // ... or no longer shown
    char const* file = nullptr; // a program file (under the programs folder; "" the last
    char const* key = nullptr;  // version saved) whose element key then holds value
    char const* value = nullptr;
};

class PluginSeamTest : public PluginRigTest {
protected:
    static std::set<std::string> programFiles() {
        std::set<std::string> names;
        for (auto const& entry : std::filesystem::directory_iterator(programs()))
            names.insert(entry.path().string());
        return names;
    }
    static std::string programs() {
        return rig->folder() + CoreDemo::sCdatapath + CoreDemo::sCprograms;
    }
    // On the memory page: renames the program (which proposes a version
    // name) and saves the version; answers the file written, "" when none.
    static std::string version(CorePeer& p, char const* name) {
        std::set<std::string> const before = programFiles();
        int const captures = p.heard(100105); // the name field takes the keys, then lets go
        type(p, 8, 5, name);
        if (!CorePeer::until(
                [&] { return p.heard(100105) >= captures + 2 && p.row(9).rfind("NEW:", 0) == 0; },
                kWait))
            return "";
        p.post(0, 52, 9);
        std::string added;
        CorePeer::until(
            [&] {
                for (std::string const& file : programFiles())
                    if (!before.count(file)) added = file;
                return !added.empty() && p.titled("  ProgMode");
            },
            kWait);
        return added;
    }
    // The MIDI or master page's SAVE: what the settings written anew hold
    // for key ("" nothing).
    static std::string savedSetting(CorePeer& p, char const* key) {
        std::string const settings = rig->folder() + "vorlan.xml";
        std::filesystem::remove(settings);
        p.post(0, 52, 1);
        EXPECT_TRUE(CorePeer::until([&] { return std::filesystem::exists(settings); }, kWait));
        ELEMENTS const now = elements(readAll(settings));
        return now.count(key) ? now.at(key) : "";
    }
    static std::vector<SCENE> const& scenes();
    static void act(CorePeer& p, std::string const& steps);
    static inline std::string saved; // the last version a scene saved
};

TEST_F(PluginSeamTest, EveryPropertyOfTheBusHasARow) {
    std::set<int> worked(shownOnly);
    worked.insert(alongside.begin(), alongside.end());
    for (ROW const& r : rows) worked.insert(r.id);
    worked.insert(stepped.begin(), stepped.end());
    for (READ const& r : reads) worked.insert(r.id);
    for (LIMIT const& l : limits) worked.insert(l.limit);
    for (ROW const& r : simpleRows) worked.insert(r.id);
    for (SCENE const& s : scenes()) worked.insert(s.ids.begin(), s.ids.end());
    worked.insert(reloaded.begin(), reloaded.end());
    for (B::PROPERTY const& p : B::sCproperties) {
        EXPECT_TRUE(worked.count(p.id) != notWorked.count(p.id)) << p.id << " " << p.name;
        // A property with a selector is worked with each of its selectors.
        for (int s = 0; worked.count(p.id) && p.layout == B::iCselector && s < 2; ++s) {
            bool found = false;
            for (ROW const& r : rows) found |= r.id == p.id && r.selector == s;
            EXPECT_TRUE(found) << p.name << " selector " << s;
        }
    }
}

TEST_F(PluginSeamTest, PagesShowAndStoreWhatTheEngineHolds) {
    // The store at known values: the master settings and the room's program.
    std::filesystem::remove_all(programs()); // versions of an earlier run
    ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(rig->folder().c_str()), CoreAnsx("vorlan.so")));
    std::vector<std::pair<std::string, std::string>> settings{{"GUIRATE", "5000"}};
    CoreDdoc::PROGRAM room = CoreDemo::prgrm(CoreDemo::iCroom);
    for (ROW const& r : rows) {
        std::string const key = r.key;
        if (r.page == kMaster || r.page == kMidi)
            settings.emplace_back(key, r.known);
        else if (key == "NAME")
            room.name = r.known;
        else if (key == "CATEGORY")
            room.category = r.known;
        else if (r.page == kMemory)
            room.values.emplace_back(key, r.known);
        else if (r.page == kProg)
            for (auto& [element, value] : room.values)
                if (element == key) value = r.known;
    }
    ASSERT_TRUE(rig->settings(settings));
    std::string const text = CoreDdoc::prgxm(room);
    ASSERT_TRUE(
        CoreButl::wrall(CoreAnsx((programs() + CoreDemo::sCprogramfiles[CoreDemo::iCroom]).c_str()),
                        text.data(), text.size()));
    // The sweep's modulators at known values: each page shows its records.
    CoreDdoc::PROGRAM sweep = CoreDemo::prgrm(CoreDemo::iCsweep);
    std::vector<std::pair<std::string, std::string>> known;
    for (ROW const& r : rows)
        if ((r.page == kFunctions || r.page == kFollowers || r.page == kEnvelopes ||
             r.page == kDynamics || r.page == kLfos) &&
            *r.known)
            known.emplace_back(r.key, r.known);
    sweep.sections += nested(known);
    std::string const sweeptext = CoreDdoc::prgxm(sweep);
    ASSERT_TRUE(CoreButl::wrall(
        CoreAnsx((programs() + CoreDemo::sCprogramfiles[CoreDemo::iCsweep]).c_str()),
        sweeptext.data(), sweeptext.size()));
    CorePeer peer(rig->path());
    ASSERT_TRUE(page(peer, kProg)) << peer.dump();
    for (ROW const& r : rows)
        if (r.page == kProg) {
            EXPECT_EQ(cells(peer, r, std::string(r.shown).size()), r.shown) << r.key << "\n"
                                                                            << peer.dump();
        }

    // Master page: each setting shown; each drag then SAVE (50, 1) changes
    // its own setting alone, to the number shown.
    ASSERT_TRUE(reach(peer, kMaster)) << peer.dump();
    EXPECT_NE(peer.row(0).find("44100 Hz"), std::string::npos);
    EXPECT_NE(peer.row(1).find("1.3.508"), std::string::npos);
    EXPECT_NE(peer.row(3).find("1 Guru"), std::string::npos);
    EXPECT_NE(peer.row(12).find("DEMO.V2S"), std::string::npos);
    std::string const master = rig->folder() + "vorlan.xml";
    std::string stored;
    auto save = [&] {
        std::string const before = stored;
        peer.post(0, 52, 1);
        bool const done = CorePeer::until([&] { return readAll(master) != before; }, kWait);
        stored = readAll(master);
        return done;
    };
    std::filesystem::remove(master);
    ASSERT_TRUE(save());
    for (ROW const& r : rows) {
        if (r.page != kMaster && r.page != kMidi) continue;
        ASSERT_TRUE(reach(peer, r.page)) << peer.dump();
        EXPECT_EQ(cells(peer, r, std::string(r.shown).size()), r.shown) << r.key;
        if (r.typed != nullptr && *r.typed == 0) continue;
        if (r.typed != nullptr) {
            type(peer, r.column, r.row, r.typed);
            EXPECT_TRUE(CorePeer::until(
                [&] { return cells(peer, r, std::strlen(r.typed)) == r.typed; }, kWait))
                << r.key << "\n"
                << peer.dump();
        } else
            ASSERT_TRUE(drag(peer, r, r.down)) << r.key << "\n" << peer.dump();
        ELEMENTS const old = elements(stored);
        ASSERT_TRUE(save()) << r.key << "\n" << peer.dump();
        ELEMENTS const now = elements(stored);
        EXPECT_EQ(changed(old, now), std::set<std::string>{r.key});
        if (r.typed != nullptr) {
            EXPECT_EQ(now.count(r.key) ? now.at(r.key) : "(none)", r.typed) << r.key;
        }
        if (r.scale > 0) { // to the digits shown
            std::string const shown = cells(peer, r, 12);
            double const saved = std::atof(now.count(r.key) ? now.at(r.key).c_str() : "nan");
            EXPECT_NEAR(saved / r.scale, std::atof(shown.c_str()), 0.5 * lastDigit(shown))
                << r.key << " " << shown;
        }
    }

    // Memory page: each text shown, typed, and saved with a version.
    ASSERT_TRUE(reach(peer, kMemory)) << peer.dump();
    for (ROW const& r : rows) {
        if (r.page != kMemory) continue;
        EXPECT_EQ(cells(peer, r, std::string(r.shown).size()), r.shown) << r.key;
        if (std::string(r.key) == "NAME") continue; // the version's rename types it
        type(peer, r.column, r.row, r.typed);
        std::string const shown = typedText(r);
        EXPECT_TRUE(CorePeer::until([&] { return cells(peer, r, shown.size()) == shown; }, kWait))
            << r.key << "\n"
            << peer.dump();
    }
    // The memory slot's own description follows the program's.
    int const slot = int(peer.bus(B::iCslot, 'i').number);
    EXPECT_EQ(std::string(peer.bus(B::iCslotdescription, 's', slot).text), "Seam text");
    std::string const file = version(peer, "Seam Room");
    ASSERT_NE(file, "") << peer.dump();
    ELEMENTS const saved = elements(readAll(file));
    for (ROW const& r : rows)
        if (r.page == kMemory) {
            EXPECT_EQ(saved.count(r.key) ? saved.at(r.key) : "(none)", typedText(r)) << r.key;
        }

    // The sweep's program pages: each field moved once so that every
    // section it lives in is in the program, a version saved, each moved
    // back: the next version differs from that one where the fields are.
    peer.post(4, CoreDemo::iCsweep);
    ASSERT_TRUE(page(peer, "  ListMode")) << peer.dump();
    peer.post(0, 3, 13); // PROG
    ASSERT_TRUE(page(peer, "  ProgMode")) << peer.dump();
    std::string versions[2];
    std::set<std::string> expected{"NAME"};
    std::map<ROW const*, std::string> reread; // the second pass's text before its drag
    for (int pass = 0; pass < 2; ++pass) {
        for (ROW const& r : rows) {
            if (r.page == kMaster || r.page == kMidi || r.page == kMemory || r.page == kProg)
                continue;
            ASSERT_TRUE(reach(peer, r.page)) << r.key << "\n" << peer.dump();
            if (pass == 0) {
                EXPECT_EQ(cells(peer, r, std::string(r.shown).size()), r.shown) << r.key;
            } else {
                reread[&r] = cells(peer, r, 8);
            }
            if (r.typed != nullptr) {
                char const* text = pass == 0 ? r.typed : r.known;
                std::string const shown =
                    std::string(text).find_first_not_of(' ') != std::string::npos ? pointed(text)
                                                                                  : r.shown;
                type(peer, r.column, r.row, text);
                EXPECT_TRUE(
                    CorePeer::until([&] { return cells(peer, r, shown.size()) == shown; }, kWait))
                    << r.key << "\n"
                    << peer.dump();
            } else if (*r.key == 0 && pass == 1) {
                continue; // a load between the passes put it back
            } else
                EXPECT_TRUE(drag(peer, r, r.down ^ pass)) << r.key << "\n" << peer.dump();
            if (*r.key != 0) {
                expected.insert(r.key);
            } else if (pass == 0) { // unstored: the page shows it again after a visit
                std::string const left = cells(peer, r, 8);
                ASSERT_TRUE(reach(peer, kPrms) && reach(peer, r.page)) << peer.dump();
                EXPECT_EQ(cells(peer, r, 8), left) << r.id << "\n" << peer.dump();
            }
        }
        ASSERT_TRUE(reach(peer, kMemory)) << peer.dump();
        versions[pass] = version(peer, pass == 0 ? "Seam A" : "Seam B");
        ASSERT_NE(versions[pass], "") << peer.dump();
    }
    ELEMENTS const moved = elements(readAll(versions[0]));
    ELEMENTS const back = elements(readAll(versions[1]));
    EXPECT_EQ(changed(moved, back), expected);
    // What the first version stored, the page shows when it comes back: to
    // the digits shown (the page cuts them), or the source's key.
    for (ROW const& r : rows) {
        if (r.scale <= 0 || !reread.count(&r)) continue;
        std::string const shown = reread[&r].substr(0, reread[&r].find(' '));
        std::string const stored = moved.count(r.key) ? moved.at(r.key) : "(none)";
        char* end = nullptr;
        double const number = std::strtod(shown.c_str(), &end);
        if (end == shown.c_str()) {
            EXPECT_EQ(stored, shown) << r.key;
        } else {
            EXPECT_NEAR(std::atof(stored.c_str()), number, lastDigit(shown)) << r.key;
        }
    }

    // Dragged to either end, the LFO's rate stores its bounds, 0 to 24 Hz.
    for (ROW const& r : rows)
        if (r.down == kTop) {
            EXPECT_EQ(moved.count(r.key) ? moved.at(r.key) : "(none)", "24") << r.key;
            EXPECT_EQ(back.count(r.key) ? back.at(r.key) : "(none)", "0") << r.key;
        }
    for (ROW const& r : rows)
        if (r.page == kParm && r.typed != nullptr) {
            EXPECT_EQ(moved.count(r.key) ? moved.at(r.key) : "(none)", pointed(r.typed)) << r.key;
        }
}

TEST_F(PluginSeamTest, PagesShowWhatTheEngineAnswers) {
    // The demo as written, with the sweep given a fifth follower, whose
    // side ring the engine holds while the bus allows it (254).
    std::filesystem::remove_all(programs());
    ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(rig->folder().c_str()), CoreAnsx("vorlan.so")));
    ASSERT_TRUE(rig->settings({}));
    CoreDdoc::PROGRAM sweep = CoreDemo::prgrm(CoreDemo::iCsweep);
    sweep.sections += "<EVF5><EXP>1</EXP></EVF5>";
    std::string const sweeptext = CoreDdoc::prgxm(sweep);
    ASSERT_TRUE(CoreButl::wrall(
        CoreAnsx((programs() + CoreDemo::sCprogramfiles[CoreDemo::iCsweep]).c_str()),
        sweeptext.data(), sweeptext.size()));
    CorePeer peer(rig->path());
    ASSERT_TRUE(page(peer, kProg)) << peer.dump();
    auto shows = [&](std::string const& text, short column, short row) {
        return CorePeer::until([&] { return at(peer, column, row, text.size()) == text; }, kWait);
    };
    auto agree = [&](char const* program) {
        for (READ const& r : reads) {
            ASSERT_TRUE(reach(peer, r.page)) << peer.dump();
            std::string shown;
            EXPECT_TRUE(CorePeer::until(
                [&] {
                    shown = r.shown(peer) + " ";
                    return at(peer, r.column, r.row, shown.size()) == shown;
                },
                kWait))
                << program << " " << r.id << " '" << shown << "'\n"
                << peer.dump();
        }
        EXPECT_EQ(peer.host().getdl(), long(ask(peer, B::iClatency, 'l')));
    };
    agree("room");

    // Kernel page: the clean group switched to the other length family and
    // back, then split forced and released; each shows as the engine
    // answers and is what the program stores.
    ASSERT_TRUE(reach(peer, kKernel)) << peer.dump();
    std::string versions[2];
    bool family[2] = {};
    for (int pass = 0; pass < 2; ++pass) {
        bool const normal = ask(peer, B::iCblockfamily, 'b', 0, 0) != 0;
        peer.post(0, 23, 5);
        EXPECT_TRUE(CorePeer::until(
            [&] { return (ask(peer, B::iCblockfamily, 'b', 0, 0) != 0) != normal; }, kWait));
        family[pass] = !normal;
        agree("switched");
        ASSERT_TRUE(reach(peer, kMemory)) << peer.dump();
        versions[pass] = version(peer, pass == 0 ? "Seam C" : "Seam D");
        ASSERT_NE(versions[pass], "") << peer.dump();
        ASSERT_TRUE(reach(peer, kKernel)) << peer.dump();
    }
    for (int pass = 0; pass < 2; ++pass) { // the extended family stored, the normal one left out
        ELEMENTS const saved = elements(readAll(versions[pass]));
        EXPECT_EQ(saved.count("H1/FORCEOT2") ? saved.at("H1/FORCEOT2") : "",
                  family[pass] ? "" : "1");
    }
    EXPECT_EQ(changed(elements(readAll(versions[0])), elements(readAll(versions[1]))),
              (std::set<std::string>{"NAME", "H1/FORCEOT2"}));
    for (int pass = 0; pass < 2; ++pass) {
        // SPLITH forces the split (a batch reloads the program), CLASSC ends
        // it; the engine is asked once the batch is over and the page back.
        ASSERT_TRUE(reach(peer, kKernel)) << peer.dump();
        peer.post(0, 50, 2);
        EXPECT_TRUE(CorePeer::until(
            [&] {
                return peer.titled(kKernel) &&
                       at(peer, 51, 2, 6) == (pass == 0 ? "CLASSC" : "SPLITH");
            },
            kWait))
            << peer.dump();
        EXPECT_EQ(ask(peer, B::iCforcehybrid, 'b') != 0, pass == 0);
        agree("split");
    }
    for (LIMIT const& l : limits) {
        ASSERT_TRUE(reach(peer, l.page)) << peer.dump();
        double const limit = ask(peer, l.limit, 'd', l.element, l.subindex);
        ROW const field{l.limit, 0, l.page, l.column, l.row, "", "", "", nullptr, 0, kTop};
        ASSERT_TRUE(drag(peer, field, kTop)) << peer.dump();
        char text[32];
        std::snprintf(text, sizeof text, "%.*f", l.decimals, limit / l.unit);
        EXPECT_TRUE(CorePeer::until(
            [&] { return at(peer, l.column, l.row, std::strlen(text)) == text; }, kWait))
            << l.limit << " " << text << "\n"
            << peer.dump();
        // Lengths are kept in whole samples: the far end lands within one.
        EXPECT_NEAR(ask(peer, l.value, l.kind, l.element, l.subindex), limit, 1e6 / 44100 + 1e-6)
            << l.limit;
        if (l.key != nullptr) { // and SAVE stores that value alone
            std::string const master = rig->folder() + "vorlan.xml";
            std::string const before = readAll(master);
            peer.post(0, 52, 1);
            EXPECT_TRUE(CorePeer::until([&] { return readAll(master) != before; }, kWait));
            ELEMENTS const now = elements(readAll(master));
            EXPECT_EQ(changed(elements(before), now), std::set<std::string>{l.key});
            EXPECT_NEAR(std::atof(now.count(l.key) ? now.at(l.key).c_str() : "nan"), limit, 1.0);
        }
    }

    // The sweep with the side ring allowed: "Q" while the engine holds it.
    peer.bus(254, 'b', 0, 0, true, 1.0);
    auto load = [&](int slot) {
        peer.post(4, slot);
        ASSERT_TRUE(page(peer, "  ListMode")) << peer.dump();
        peer.post(0, 3, 13); // PROG
        ASSERT_TRUE(page(peer, kProg)) << peer.dump();
    };
    load(CoreDemo::iCsweep);
    EXPECT_NE(ask(peer, B::iCextrabuffers, 'b'), 0.0);
    agree("sweep");
    load(CoreDemo::iCsaturator); // three kernels: the even and odd groups in use
    EXPECT_EQ(ask(peer, B::iCslotsused, 'h'), 3.0);
    agree("saturator");

    // MIDI page: a slot set to learn takes the next message's status and
    // number; its channel and value follow the messages it answers; a number
    // typed keeps the learnt status; SAVE stores both.
    ASSERT_TRUE(reach(peer, kMidi)) << peer.dump();
    peer.post(0, 32, 4); // slot 3's learn
    EXPECT_TRUE(shows("->", 4, 4)) << peer.dump();
    peer.host().sendm({{0, {0x92, 60, 100}}}); // a note on channel 3
    EXPECT_TRUE(shows("60      3       100", 8, 4)) << peer.dump();
    EXPECT_TRUE(shows("  ", 4, 4)) << peer.dump();
    // "IN" stands for one tick after a message: messages go on until seen.
    EXPECT_TRUE(CorePeer::until(
        [&] {
            peer.host().sendm({{0, {0x9F, 61, 5}}});
            return at(peer, 0, 1, 2) == "IN";
        },
        kWait));
    peer.host().sendm({{0, {0x85, 60, 7}}}); // a note off: another status, not answered
    peer.host().sendm({{0, {0x90, 60, 9}}});
    EXPECT_TRUE(shows("60      1       9  ", 8, 4)) << peer.dump();
    type(peer, 8, 4, "33");
    EXPECT_TRUE(shows("33 ", 8, 4)) << peer.dump();
    std::string const master = rig->folder() + "vorlan.xml";
    std::string const before = readAll(master);
    peer.post(0, 52, 1);
    EXPECT_TRUE(CorePeer::until([&] { return readAll(master) != before; }, kWait));
    ELEMENTS const midi = elements(readAll(master));
    EXPECT_EQ(midi.count("MIDISTSMIX3") ? midi.at("MIDISTSMIX3") : "", "144");
    EXPECT_EQ(midi.count("MIDICTRMIX3") ? midi.at("MIDICTRMIX3") : "", "33");

    // Master page: an engine number the engine cannot use is marked "!" as
    // it is chosen (and not taken: SAVE stores the one in force).
    ASSERT_TRUE(reach(peer, kMaster)) << peer.dump();
    std::string stored = readAll(master);
    auto save = [&](std::string const& key, char const* value) {
        std::string const old = stored;
        peer.post(0, 52, 1);
        EXPECT_TRUE(CorePeer::until([&] { return readAll(master) != old; }, kWait)) << key;
        stored = readAll(master);
        ELEMENTS const now = elements(stored);
        EXPECT_EQ(changed(elements(old), now), std::set<std::string>{key});
        if (value != nullptr) {
            EXPECT_EQ(now.count(key) ? now.at(key) : "", value);
        }
    };
    std::set<std::string> marks;
    for (ROW const& r : rows) {
        if (std::string(r.key) != "OFREQD") continue;
        int down = kDown;
        for (int step = 0; step < 12 && marks.size() < 2; ++step) {
            ASSERT_TRUE(drag(peer, r, down)) << peer.dump();
            int const number = std::atoi(at(peer, r.column, r.row, 2).c_str());
            std::string const mark = ask(peer, B::iCusable, 'b', number) != 0 ? " " : "!";
            EXPECT_TRUE(shows(mark, 11, 6)) << number << "\n" << peer.dump();
            marks.insert(mark);
            down = number > 10 ? kDown : kUp;
        }
        std::string const inforce = std::to_string(int(ask(peer, B::iCenginefreq, 'h')));
        if (elements(stored)["OFREQD"] != inforce) save("OFREQD", inforce.c_str());
    }
    EXPECT_TRUE(marks.count("!")) << peer.dump();

    // The simple master page: MODE to simple leaves for it; its fields
    // store the settings of the master page's rows, each alone; Guru leads
    // back.
    ROW const mode{B::iCmode, 0, kMaster, 13, 3, "MODE", "", "", nullptr, 0, kDown};
    ASSERT_TRUE(drag(peer, mode, kDown)) << peer.dump();
    ASSERT_TRUE(shows("METERS:", 0, 4)) << peer.dump();
    save("MODE", "0");
    for (ROW const& r : simpleRows) {
        ASSERT_TRUE(drag(peer, r, r.down)) << r.key << "\n" << peer.dump();
        save(r.key, nullptr);
    }
    peer.post(0, 3, 13); // PROG: the simple program page, and back
    ASSERT_TRUE(page(peer, kProg)) << peer.dump();
    EXPECT_EQ(at(peer, 42, 1, 4), "    ") << peer.dump(); // no SAVE on the simple set
    peer.post(0, 13, 13);
    ASSERT_TRUE(shows("METERS:", 0, 4)) << peer.dump();
    ASSERT_TRUE(drag(peer, mode, kUp)) << peer.dump();
    ASSERT_TRUE(shows("COLOUR:", 0, 4)) << peer.dump();
    save("MODE", "1");
}

// ---- Lists, the pop-up, the program page's figures, the boot and batches ----
// Over a bank of known categories and descriptions: the room and the
// saturator share REVERB (BIG and SMALL below it), the sweep is MODULATION
// (SLOW) and shows a second parameter modulator.
std::string blanks(std::size_t n) { return std::string(n, ' '); }
std::string bootline(int step, CoreAnsx const& text) {
    return " " + std::to_string(step) + "  " + text.c_str();
}
void choose(CorePeer& p, char const* text) { // as the editor reports a pop-up entry
    for (CoreCnst::POPMENUENTRY const& e : p.entries())
        if (std::string(e.text) == text) p.set(100108, &e, sizeof e);
}

std::vector<SCENE> const& PluginSeamTest::scenes() {
    std::string const boot = std::string((CoreLog_::sCwarngbin + CoreLog_::sCversion_).c_str()) +
                             "\n" + bootline(1, CoreLog_::sCwarngbdl + CoreAnsx("0"));
    // clang-format off
    static std::vector<SCENE> const table{
        // The simple set boots one step a tick: the banner bare, then each
        // step's number and line; it ends on the simple program page.
        {{B::iCfastbootnow}, true, "", 0, 0, boot + "\n" + blanks(58)},
        {{B::iCbootstep, B::iCbootline, B::iCbootbare, B::iCbootok}, true, "", 0, 0,
         boot + "\n" + bootline(2, CoreLog_::sCwarngbmo + CoreAnsx("(vorlan.xml)")) + "\n" +
             bootline(3, CoreLog_::sCwarngbro + CoreAnsx("(demo.xml)"))},
        {{B::iCbootdone}, true, "", 1, 51, "BYPASS"},
        {{B::iCfilerate, B::iCrunrate}, true, "", 6, 0, "FRT: 44100 Hz -> 48000 Hz"},
        {{B::iCratediffers}, true, "", 3, 18, "c"},
        {{B::iCtopcategories}, true, "list 2", 1, 48, " 0   INIT\n 1   REVE\n 2   MODU"},
        // The full set's program page: its switches, one saved with the program.
        {{B::iCinvisible}, false, "click 42 3", 3, 41, "NORMAL"},
        {{B::iCinvisible}, false, "click 42 1", 3, 41, "NORMAL", false, "ROOM.XML",
         "INVISIBLETHREAD", "1"},
        {{B::iCbypass}, false, "bypass", 2, 51, "PROCSS"},
        {{B::iCbypass}, false, "bypass", 2, 51, "BYPASS"},
        // The pop-up's tree of categories and names; a leaf loads.
        {{B::iCrebuildtree, B::iCtreepath, B::iCtreechildren, B::iCtreetext, B::iCtreeleaf,
          B::iCtreewords, B::iCmenucolumn, B::iCmenutitle}, false, "", -1, 0,
         "7|LST|INIT (INIT)|0 - Demo Init|MODULATION (MODULATION)|SLOW (SLOW)|3 - Demo Sweep|"
         "REVERB (REVERB)|BIG (BIG)|1 - Demo Room|SMALL (SMALL)|2 - Demo Saturator"},
        {{B::iCelements}, false, "choose 2 - Demo Saturator", 0, 16, "SMP: 2"}, // HDIMMAX's
        // The master page's kernel count offers no more than HDIMMAX; SAVE
        // writes the settings.
        {{B::iChdimmax}, false, "reach master", 9, 13, "2  (1st"},
        {{B::iCsavemaster}, false, "savemaster", 9, 13, "2  (1st", false, "../../vorlan.xml",
         "HDIMMAX", "2"},
        // The list page by category: the levels' lists, the filter, the grid
        // of matching names (UP keeps its top), a name loaded through a batch.
        {{B::iCcategories, B::iCslotcategory}, false, "list 3", 1, 48,
         " 0   INIT\n 1   REVE\n 2   MODU"},
        {{B::iCfilter, B::iCfilteredslot, B::iCslotname}, false, "click 50 2", 1, 0,
         "Demo Room\nDemo Saturator\n" + blanks(16)},
        {{B::iCbrowselevel}, false, "click 50 2", 1, 48, " 0   BIG\n 1   SMAL"},
        {{B::iCbrowselevel}, false, "click 50 2", 1, 0, "Demo Saturator\n" + blanks(16)},
        {{B::iCbrowselevel}, false, "click 52 0", 2, 48, " 1   REVE"},
        {{B::iCclearvars, B::iCvarname, B::iCvarvalue, B::iCbatchstep}, false, "click 2 1", 12,
         0, "  2 REVERB/DEMO SATURATOR"},
        // The memory page: a rename offers a version; the name and category
        // reach the slot's entry, which the lists show.
        {{B::iCnamechanged}, false, "prog;reach memory", 9, 0, "NEW:", true},
        {{B::iCnamechanged}, false, "type 8 5 Seam Sat", 9, 0, "NEW:"},
        {{B::iCslotcategory}, false, "type 8 6 XY;exit;list 0", 3, 48, " 2   XY"},
        {{B::iCslotname, B::iCnextslot}, false, "prog;click 55 0", 1, 37,
         " 2   Seam Saturator\n 3   Demo Sweep\n 0   Demo Init\n 1   Demo Room"},
        // The sweep's program page: its modulators' rows (bar and value) and
        // the extra rows under the controls that carry them; the wheel moves
        // nothing on the memory page nor before a row is chosen (PluginWheelTest).
        {{B::iCmodbar, B::iCmodvalue, B::iCmodupdate}, false, "click 55 0;list 3;prog", 9, 0,
         "1 LFO RATE: ? 0.2000 Hz\n2 SECOND:"},
        {{B::iCcarried}, false, "", 14, 0, " LFO   SECON\n0.20   0.00"},
        {{B::iCalternate}, false, "reach memory;wheel 4;exit", 14, 0, " LFO   SECON\n0.20   0.00"},
        {{B::iCwheel, B::iCwheeltarget}, false, "wheel 4", 15, 0, "0.20   0.00"},
        // The memory page's number fields: a click selects one for the drag
        // (the program number is the one selected at first), which moves it;
        // the large name is the browsed slot's, in bank 1 none.
        {{B::iCraw, B::iCsetraw}, false, "reach memory;drag 8 2", -2, 7, "<empty>"},
        // The modulator list exchanges the selected modulator with the next
        // shown one; a version keeps the new order.
        {{B::iCmodexchange}, false, "reach prms;click 10 2;until 4 EDIT;click 52 2", 2, -1,
         "SECOND"},
        {{B::iCmodexchange}, false, "version Seam Swap", 0, 0, "  ProgMode", false, "",
         "DISPLAY/PRM1/LABEL", "Second"},
    };
    // clang-format on
    return table;
}

// Runs a scene's steps: "click column row", "wheel steps", "bypass", "list
// slot" (chosen by the pop-up's record), "choose entry" (in the pop-up),
// "reach master|memory|prms", "prog" (PROG on the menu row), "exit" (the
// memory page's EXIT), "type column row text", "until row text" (shown),
// "savemaster", "drag column row" (up until the field's text changes),
// "version name".
void PluginSeamTest::act(CorePeer& p, std::string const& steps) {
    std::istringstream list(steps);
    for (std::string step; std::getline(list, step, ';');) {
        std::istringstream words(step);
        std::string verb, rest;
        int a = 0, b = 0;
        words >> verb;
        if (verb == "click" || verb == "type" || verb == "wheel" || verb == "list" ||
            verb == "until" || verb == "drag")
            words >> a;
        if (verb == "click" || verb == "type" || verb == "drag") words >> b;
        std::getline(words >> std::ws, rest);
        if (verb == "click") p.post(0, a, b);
        if (verb == "wheel") p.post(3, a);
        if (verb == "bypass") p.post(2, 0);
        if (verb == "list") p.post(4, a), page(p, "  ListMode");
        if (verb == "choose") choose(p, rest.c_str());
        if (verb == "reach")
            reach(p, rest == "master" ? kMaster : rest == "memory" ? kMemory : kPrms);
        if (verb == "prog" || verb == "exit")
            p.post(0, verb == "prog" ? 3 : 52, verb == "prog" ? 13 : 0), page(p, kProg);
        if (verb == "type") {
            type(p, short(a), short(b), rest.c_str());
            CorePeer::until([&] { return p.row(b).compare(a, rest.size(), rest) == 0; }, kWait);
        }
        if (verb == "until")
            CorePeer::until([&] { return p.row(a).find(rest) != std::string::npos; }, kWait);
        if (verb == "savemaster") {
            std::filesystem::remove(rig->folder() + "vorlan.xml");
            p.post(0, 52, 1);
        }
        if (verb == "drag")
            drag(p, ROW{0, 0, "", short(a), short(b), "", "", "", nullptr, 0, false}, false);
        if (verb == "version") reach(p, kMemory), saved = version(p, rest.c_str());
    }
}

TEST_F(PluginSeamTest, ListsThePopupTheBootAndBatchesShowWhatTheEngineHolds) {
    std::filesystem::remove_all(programs());
    ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(rig->folder().c_str()), CoreAnsx("vorlan.so")));
    struct KNOWN {
        int program;
        char const *category, *sub, *description;
    } const bank[] = {{CoreDemo::iCroom, "Reverb", "Big", "Wide stone hall"},
                      {CoreDemo::iCsaturator, "Reverb", "Small", "Three harmonics"},
                      {CoreDemo::iCsweep, "Modulation", "Slow", "Two spaces"}};
    for (KNOWN const& k : bank) {
        CoreDdoc::PROGRAM p = CoreDemo::prgrm(k.program);
        p.category = k.category;
        p.values.emplace_back("SUBCATEGORY1", k.sub);
        p.values.emplace_back("DESCRIPTION", k.description);
        std::size_t const display = p.sections.find("</DISPLAY>");
        if (display != std::string::npos)
            p.sections.insert(display,
                              CoreDdoc::elmnt("PRM2", CoreDdoc::elmts({{"A", "MIX2"},
                                                                       {"FUN", "a"},
                                                                       {"LABEL", "Second"},
                                                                       {"PRELABEL", "2"}})));
        std::string const text = CoreDdoc::prgxm(p);
        ASSERT_TRUE(
            CoreButl::wrall(CoreAnsx((programs() + CoreDemo::sCprogramfiles[k.program]).c_str()),
                            text.data(), text.size()));
    }
    auto shows = [](CorePeer& p, SCENE const& s) {
        if (s.row == -2) { // the double-size font's row 1
            std::string const large = p.large(1);
            return large.find(s.shown) == std::size_t(s.column);
        }
        if (s.row == -1) {
            CoreCnst::POPMENUARMDATA arm{};
            if (p.get(100106, &arm, sizeof arm) != 1) return false;
            std::string text = std::to_string(arm.percolumn);
            for (CoreCnst::POPMENUENTRY const& e : p.entries()) text += std::string("|") + e.text;
            return text.rfind(s.shown, 0) == 0;
        }
        std::istringstream lines(s.shown);
        int row = s.row;
        for (std::string line; std::getline(lines, line); ++row) {
            std::string const at = p.row(row);
            bool const found = s.column < 0
                                   ? at.find(line) != std::string::npos
                                   : at.size() >= s.column + line.size() &&
                                         at.compare(std::size_t(s.column), line.size(), line) == 0;
            if (!found) return false;
        }
        return true;
    };
    using SETTINGS = std::vector<std::pair<std::string, std::string>>;
    for (bool const simple : {true, false}) { // OTIMED stored: no engine diagnostic at boot
        ASSERT_TRUE(rig->settings(
            simple ? SETTINGS{kDiagnosed, {"MODE", " 0 "}, {"FASTBOOT", ""}, {"GUIRATE", "50000"}}
                   : SETTINGS{kDiagnosed,
                              {"GUIRATE", "20000"},
                              {"THREADS", "1"},
                              {"THREADSMINDIM", "64"},
                              {"AUTOTHREAD", " 0 "},
                              {"HDIMMAX", "2"},
                              {"FORCOLUMN", "7"}}));
        CorePeer peer(rig->path(), simple ? 48000 : 44100);
        if (!simple) {
            ASSERT_TRUE(page(peer, kProg)) << peer.dump();
        }
        for (SCENE const& s : scenes()) {
            if (s.simple != simple) continue;
            act(peer, s.steps);
            EXPECT_TRUE(CorePeer::until([&] { return shows(peer, s) != s.gone; }, kWait))
                << s.ids[0] << ": " << s.shown << "\n"
                << peer.dump();
            if (s.file == nullptr) continue;
            std::string const file = *s.file ? programs() + s.file : saved;
            EXPECT_TRUE(CorePeer::until(
                [&] {
                    ELEMENTS const now = elements(readAll(file));
                    return now.count(s.key) && now.at(s.key) == s.value;
                },
                kWait))
                << s.ids[0] << " " << s.key << "\n"
                << readAll(file);
        }
    }
}
// The room given its own rate and five followers with a highpass source and
// orders absent, 0, 3, 4 and absent; the MIDI page's first controller at 7.
TEST_F(PluginSeamTest, OwnRateFollowerOrderAndWholeNumbersAsStored) {
    std::filesystem::remove_all(programs());
    ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(rig->folder().c_str()), CoreAnsx("vorlan.so")));
    // One processing block of 2048 samples is 46.4 ms: the rates below lie
    // in different blocks.
    ASSERT_TRUE(rig->settings(
        {kDiagnosed, {"PROGRAMRATE", "3000"}, {"MIDICTRMIX1", "7"}, {"GUIRATE", "5000"}}));
    // FILTERORDER as stored ("" none), the order the engine runs, and as
    // saved after another field's change (none reads as 1; the fifth is
    // chosen as 6).
    char const* const orders[][3] = {
        {"", "0", "1"}, {"0", "0", "0"}, {"3", "2", "3"}, {"4", "4", "4"}, {"", "0", "6"}};
    CoreDdoc::PROGRAM room = CoreDemo::prgrm(CoreDemo::iCroom);
    room.values.emplace_back("PROGRAMRATE", "10000");
    std::vector<std::pair<std::string, std::string>> followers;
    for (int k = 0; k < 5; ++k) {
        std::string const evf = "EVF" + std::to_string(k + 1) + "/";
        followers.insert(followers.end(),
                         {{evf + "FILTERSOURCE", "MIX6"}, {evf + "FILTERFREQUENCY", "100"}});
        if (*orders[k][0]) followers.emplace_back(evf + "FILTERORDER", orders[k][0]);
    }
    room.sections += nested(followers);
    std::string const file = programs() + CoreDemo::sCprogramfiles[CoreDemo::iCroom];
    std::string const text = CoreDdoc::prgxm(room);
    ASSERT_TRUE(CoreButl::wrall(CoreAnsx(file.c_str()), text.data(), text.size()));
    CorePeer peer(rig->path());
    ASSERT_TRUE(page(peer, kProg)) << peer.dump();
    auto program = [&] { // EXIT from the edit pages, PROG from the others
        for (int k = 0; k < 4 && !peer.titled(kProg); ++k) {
            std::string const was = peer.row(0);
            peer.titled("  EditMode") ? peer.post(0, 52, 0) : peer.post(0, 3, 13);
            CorePeer::until([&] { return peer.row(0) != was; }, kWait);
        }
        return page(peer, kProg);
    };
    auto save = [&] { // the program page's SAVE
        std::string const before = readAll(file);
        EXPECT_TRUE(program()) << peer.dump();
        peer.post(0, 42, 1);
        EXPECT_TRUE(CorePeer::until([&] { return readAll(file) != before; }, kWait));
        return elements(readAll(file));
    };
    auto reload = [&] { // another program, then the room again, as a host changes them
        for (auto [slot, name] : {std::pair{CoreDemo::iCsaturator, "Demo Saturator "},
                                  std::pair{CoreDemo::iCroom, "Demo Room "}}) {
            int const seen = peer.host().updts();
            peer.host().slot_(slot);
            EXPECT_TRUE(peer.host().wtupd(seen, kWait));
            EXPECT_TRUE(CorePeer::until(
                [&, name = name] { return peer.large(1).rfind(name, 0) == 0; }, kWait))
                << peer.large(1);
        }
        EXPECT_TRUE(program()) << peer.dump();
    };
    ROW const own{B::iCownrate, 0, kGlobal, 10, 4, "", "", "", nullptr, 0, kUp};
    ROW const rate{B::iCrate, 0, kGlobal, 10, 3, "", "", "", nullptr, 0, kUp};
    ROW const balance{B::iCevfsetbalance, 0, kFollowers, 14, 9, "", "", "", nullptr, 0, kUp};
    ROW const order{B::iCevfhighpassorder, 0, kFollowers, 26, 10, "", "", "", nullptr, 0, kUp};

    // The file's rate: shown ON, played against a master rate change.
    ASSERT_TRUE(reach(peer, kGlobal)) << peer.dump();
    EXPECT_TRUE(shows(peer, "ON ", 10, 4)) << peer.dump();
    long const own10000 = long(ask(peer, B::iCrate, 'l'));
    peer.bus(B::iCprogramrate, 'l', 0, 0, true, 150000);
    EXPECT_EQ(long(ask(peer, B::iCrate, 'l')), own10000);
    EXPECT_NE(ask(peer, B::iCownrate, 'b'), 0.0);

    // Each follower shows the order it runs and keeps it when its balance
    // changes; the fifth, with none stored, takes "6" when chosen.
    ASSERT_TRUE(reach(peer, kFollowers)) << peer.dump();
    for (int k = 0; k < 5; ++k) {
        ASSERT_TRUE(shows(peer, std::to_string(k + 1) + " ", 53, 1)) << peer.dump();
        EXPECT_TRUE(shows(peer, orders[k][1], 26, 10)) << k << "\n" << peer.dump();
        EXPECT_TRUE(drag(peer, k < 4 ? balance : order, kUp)) << peer.dump();
        if (k < 4) peer.post(0, 55, 1); // >>
    }
    for (int step = 0; step < 3 && at(peer, 26, 10, 1) != "6"; ++step)
        EXPECT_TRUE(drag(peer, order, kUp)) << peer.dump();
    EXPECT_TRUE(shows(peer, "6", 26, 10)) << peer.dump();
    EXPECT_TRUE(CorePeer::until([&] { return ask(peer, 260, 'i', 4) == 6; }, kWait));
    ELEMENTS saved = save();
    for (int k = 0; k < 5; ++k) {
        std::string const key = "EVF" + std::to_string(k + 1) + "/FILTERORDER";
        EXPECT_EQ(saved.count(key) ? saved.at(key) : "(none)", orders[k][2]) << key;
    }
    EXPECT_EQ(saved["PROGRAMRATE"], "10000"); // as asked for, not as the block rounds it

    // Switched off: the master's period at once, nothing stored; a program
    // without a rate of its own plays the same.
    ASSERT_TRUE(reach(peer, kGlobal) && drag(peer, own, kDown)) << peer.dump();
    EXPECT_TRUE(shows(peer, "OFF", 10, 4)) << peer.dump();
    EXPECT_TRUE(CorePeer::until([&] { return ask(peer, B::iCownrate, 'b') == 0; }, kWait));
    long const master = long(ask(peer, B::iCrate, 'l'));
    EXPECT_NE(master, own10000);
    EXPECT_EQ(save().count("PROGRAMRATE"), 0u);
    reload();
    EXPECT_EQ(long(ask(peer, B::iCrate, 'l')), master);

    // Switched on, the rate dragged to its bottom: the program's own,
    // stored as shown and played after a reload as before it.
    ASSERT_TRUE(reach(peer, kGlobal) && drag(peer, own, kUp)) << peer.dump();
    EXPECT_TRUE(shows(peer, "ON ", 10, 4)) << peer.dump();
    ASSERT_TRUE(drag(peer, rate, kBottom) && shows(peer, "46.43", 10, 3)) << peer.dump();
    EXPECT_TRUE(CorePeer::until([&] { return ask(peer, B::iCrate, 'l') != master; }, kWait));
    long const played = long(ask(peer, B::iCrate, 'l'));
    EXPECT_EQ(save()["PROGRAMRATE"], "46430");
    reload();
    EXPECT_EQ(long(ask(peer, B::iCrate, 'l')), played);
    EXPECT_NE(ask(peer, B::iCownrate, 'b'), 0.0);
    ASSERT_TRUE(reach(peer, kGlobal)) << peer.dump();
    EXPECT_TRUE(shows(peer, "ON ", 10, 4) && shows(peer, "46.43", 10, 3)) << peer.dump();
    // One block up, and the lookahead up: kept as shown, whole samples at 44.1 kHz.
    ROW const ahead{B::iClookahead, 0, kGlobal, 42, 3, "", "", "", nullptr, 0, kUp};
    ASSERT_TRUE(drag(peer, rate, kUp) && drag(peer, ahead, kUp)) << peer.dump();
    std::string lookahead;
    auto whole = [&] {
        double const n = std::atof((lookahead = cells(peer, ahead, 8)).c_str()) * 44.1;
        return std::abs(n - std::round(n)) < 0.05;
    };
    EXPECT_TRUE(CorePeer::until(whole, kWait) && shows(peer, "92.87", 10, 3)) << peer.dump();
    EXPECT_EQ(save()["PROGRAMRATE"], "92870");
    reload();
    EXPECT_EQ(long(ask(peer, B::iCrate, 'l')), 92879);
    ASSERT_TRUE(reach(peer, kGlobal) && shows(peer, lookahead, 42, 3)) << peer.dump();
    // That is the lookahead the engine plays; 7 keeps a value past the cap
    // (AHEADLENGTH as PROGRAMRATE, 132 samples) while 266 answers the cap.
    EXPECT_NEAR(std::atof(lookahead.c_str()), ask(peer, B::iCaheadplayed, 'd') / 1000, 0.001);
    peer.bus(B::iClookahead, 'l', 0, 0, true, 5000);
    EXPECT_EQ(long(ask(peer, B::iClookahead, 'l')), 5000);
    EXPECT_NEAR(ask(peer, B::iCaheadplayed, 'd'), 132 * 1e6 / 44100, 1e-6);
    // The master's limit as its SAVE keeps it; at half the block, 92.87 ms not 3 blocks.
    ROW const limit{B::iCaheadlimit, 0, kMaster, 43, 8, "", "", "", nullptr, 0, kUp};
    ASSERT_TRUE(program() && reach(peer, kMaster) && drag(peer, limit, kUp)) << peer.dump();
    std::string const kept = savedSetting(peer, "AHEADLENGTH"), figure = cells(peer, limit, 8);
    EXPECT_NEAR(std::atof(figure.c_str()) * 1000, std::atof(kept.c_str()), 50) << figure;
    ASSERT_TRUE(rig->settings({kDiagnosed, {"DSPBUFFER", "1024"}, {"AHEADLENGTH", kept}}));
    {
        CorePeer next(rig->path());
        ASSERT_TRUE(page(next, kProg)) << next.dump();
        next.host().slot_(CoreDemo::iCroom);
        ASSERT_TRUE(shows(next, "  1  ", 16, 2) && reach(next, kMaster)) << next.dump();
        EXPECT_EQ(cells(next, limit, 8), figure) << next.dump();
        ASSERT_TRUE(reach(next, kGlobal) && shows(next, "92.87", 10, 3)) << next.dump();
        EXPECT_EQ(long(ask(next, B::iCrate, 'l')), 92879);
    }

    // The MIDI page's controller: a sign, a comma or letters leave it as
    // committed; digits are taken.
    ASSERT_TRUE(program() && reach(peer, kMidi)) << peer.dump();
    for (std::string const keys : {"-5", "6,5", "ab", "64"}) {
        int const captures = peer.heard(100105);
        type(peer, 8, 2, keys.c_str());
        EXPECT_TRUE(CorePeer::until([&] { return peer.heard(100105) >= captures + 2; }, kWait));
        std::string const kept = keys == "64" ? "64" : "7";
        EXPECT_TRUE(shows(peer, kept + " ", 8, 2)) << keys << "\n" << peer.dump();
        EXPECT_EQ(savedSetting(peer, "MIDICTRMIX1"), kept) << keys;
    }
}

// What a page reads back from its own text, or sends back untouched, keeps its point in a host's
// decimal-comma locale as in the C locale: the global page's rate dragged to 92.87 ms and to its
// top, and a constant of -0.76 beside an input moved on the function and parameter-modulator pages.
// At the top the rate shows the period that plays, SAVE keeps its digits, and a reload at another
// DSP buffer plays it again.
TEST_F(PluginSeamTest, NumbersKeepTheirPointInEveryLocale) {
    std::filesystem::remove_all(programs());
    ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(rig->folder().c_str()), CoreAnsx("vorlan.so")));
    CoreDdoc::PROGRAM room = CoreDemo::prgrm(CoreDemo::iCroom);
    std::vector<std::pair<std::string, std::string>> leaves{{"DISPLAY/PRM1/LABEL", "Seam"},
                                                            {"DISPLAY/PRM1/PRELABEL", "1"}};
    for (std::string const at : {"FUN1/", "DISPLAY/PRM1/"})
        for (auto [key, value] : {std::pair{"A", "-0.76"}, {"B", "MIX2"}, {"FUN", "a-b"}})
            leaves.push_back({at + key, value});
    room.sections += nested(leaves);
    std::string const file = programs() + CoreDemo::sCprogramfiles[CoreDemo::iCroom],
                      text = CoreDdoc::prgxm(room);
    ROW const own{B::iCownrate, 0, kGlobal, 10, 4, "", "", "", nullptr, 0, kUp};
    ROW const rate{B::iCrate, 0, kGlobal, 10, 3, "", "", "", nullptr, 0, kUp};
    ROW const functionB{B::iCfnginputb, 0, kFunctions, 22, 2, "", "", "", nullptr, 0, kDown};
    ROW const modulatorB{B::iCmodargumentb, 0, kParm, 40, 5, "", "", "", nullptr, 0, kDown};
    for (bool comma : {false, true}) {
        SCOPED_TRACE(comma ? "decimal comma" : "C locale");
        ASSERT_TRUE(rig->settings({kDiagnosed, {"GUIRATE", "5000"}}));
        ASSERT_TRUE(CoreButl::wrall(CoreAnsx(file.c_str()), text.data(), text.size()));
        CommaLocale const locale = comma ? commaLocale() : CommaLocale{};
        if (!locale.why.empty()) GTEST_SKIP() << locale.why;
        {
            CorePeer peer(rig->path());
            ASSERT_TRUE(page(peer, kProg)) << peer.dump();
            auto save = [&] { // EXIT, then the program page's SAVE
                std::string const before = readAll(file);
                peer.post(0, 52, 0);
                EXPECT_TRUE(page(peer, kProg)) << peer.dump();
                peer.post(0, 42, 1);
                EXPECT_TRUE(CorePeer::until([&] { return readAll(file) != before; }, kWait));
                return elements(readAll(file));
            };
            ASSERT_TRUE(reach(peer, kFunctions) && drag(peer, functionB, kDown)) << peer.dump();
            ASSERT_TRUE(reach(peer, kParm) && drag(peer, modulatorB, kDown)) << peer.dump();
            ASSERT_TRUE(reach(peer, kGlobal) && drag(peer, own, kUp)) << peer.dump();
            ASSERT_TRUE(drag(peer, rate, kBottom) && shows(peer, "46.43", 10, 3)) << peer.dump();
            ASSERT_TRUE(drag(peer, rate, kUp) && shows(peer, "92.87", 10, 3)) << peer.dump();
            ELEMENTS saved = save();
            EXPECT_EQ(saved["PROGRAMRATE"], "92870");
            for (char const* constant : {"FUN1/A", "DISPLAY/PRM1/A"})
                EXPECT_EQ(CoreAnsx(saved[constant].c_str()).ToDouble(), -0.76) << saved[constant];

            // The top: five blocks of 2048 samples at 44.1 kHz, 232.199 ms.
            ASSERT_TRUE(reach(peer, kGlobal) && drag(peer, rate, kTop)) << peer.dump();
            EXPECT_TRUE(shows(peer, "232.1", 10, 3)) << peer.dump();
            EXPECT_EQ(long(ask(peer, B::iCrate, 'l')), 232199);
            EXPECT_EQ(save()["PROGRAMRATE"], "232100");
        }
        ASSERT_TRUE(rig->settings({kDiagnosed, {"GUIRATE", "5000"}, {"DSPBUFFER", "1024"}}));
        CorePeer next(rig->path());
        ASSERT_TRUE(page(next, kProg) && reach(next, kGlobal)) << next.dump();
        EXPECT_TRUE(shows(next, "232.1", 10, 3)) << next.dump();
        EXPECT_EQ(long(ask(next, B::iCrate, 'l')), 232199);
    }
}

// A skin chosen on the master page and saved opens in the next instance;
// with none named and none chosen, SAVE names none (the pick at boot is
// left out).
TEST_F(PluginSeamTest, ChosenSkinIsSaved) {
    std::filesystem::remove_all(programs());
    ASSERT_TRUE(CoreDemo::wrdem(CoreAnsx(rig->folder().c_str()), CoreAnsx("vorlan.so")));
    std::string const skins = rig->folder() + CoreDemo::sCdatapath + CoreDemo::sCskins;
    std::filesystem::copy_file(skins + "DEMO.V2S", skins + "OTHER.V2S",
                               std::filesystem::copy_options::overwrite_existing);
    ROW const skin{B::iCskin, 0, kMaster, 43, 12, "", "", "", nullptr, 0, kDown};
    // SKINNAME before (" " none) and after SAVE, OTHER.V2S chosen when named.
    for (auto [named, chosen] : {std::pair{"DEMO.V2S", "OTHER.V2S"}, std::pair{" ", ""}}) {
        ASSERT_TRUE(rig->settings({kDiagnosed, {"SKINNAME", named}}));
        {
            CorePeer peer(rig->path());
            ASSERT_TRUE(page(peer, kProg) && reach(peer, kMaster)) << peer.dump();
            for (int step = 0; *chosen && step < 4 && cells(peer, skin, 9) != chosen; ++step)
                EXPECT_TRUE(drag(peer, skin, step % 2 == 0 ? kUp : kDown)) << peer.dump();
            EXPECT_EQ(savedSetting(peer, "SKINNAME"), chosen) << named;
        }
        if (!*chosen) continue;
        CorePeer next(rig->path());
        ASSERT_TRUE(page(next, kProg)) << next.dump();
        std::string const opened = next.bus(B::iCskin, 's').text;
        EXPECT_EQ(opened.substr(opened.rfind('/') + 1), chosen);
        ASSERT_TRUE(reach(next, kMaster)) << next.dump();
        EXPECT_EQ(cells(next, skin, 9), chosen) << next.dump();
    }
}
} // namespace
