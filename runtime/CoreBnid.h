#pragma once
// CoreBnid: the property bus's ids and the layout of each one's index record,
// written once for the three that meet on the bus: the display that calls
// it, the engine that serves it and the tests' stand-in engine. A record is
// two words; which word carries what is decided here per property, and both
// sides build and read records through the helpers below, so a property can
// no longer be filled one way and read the other.
// Owner: none (constants). Threads: any.

#include <cstdint>

class CoreBnid {
public:
    CoreBnid() = delete;

    // The index record passed with every bus call, filled by the caller and
    // never written by an accessor. A null record reads as {0, 0}.
    struct BEANSTRUCT {
        std::int32_t element = 0;  // word 0: control, modulator, slot, level, row, start
        std::int32_t subindex = 0; // word 1: entry, selector or step
    };

    // Where a property's record carries its index.
    enum LAYOUT : std::uint8_t {
        iCnone,     // the record is not read
        iCelement,  // word 0: the element
        iCentry,    // word 0: the element; word 1: its entry, selector or step
        iCselector, // word 1 alone: a selector or level; word 0 is not read
        iCpair      // word 0 and word 1: two elements (a and b)
    };

    // The records, built as each layout wants them.
    static constexpr BEANSTRUCT recen(int element, int entry) { return {element, entry}; }
    static constexpr BEANSTRUCT recsl(int selector) { return {0, selector}; }
    // The selector or level of an iCselector record (properties 158, 176).
    static constexpr std::int32_t slctr(BEANSTRUCT const& x) { return x.subindex; }

    // ---- ids ----
    static constexpr int iCpadin = 0;          // the program's input pad gain, linear
    static constexpr int iCpadout = 1;         // the program's output pad gain, linear
    static constexpr int iCgainin = 3;         // the input gain control's value (control 8)
    static constexpr int iCgainout = 4;        // the output gain control's value (control 9)
    static constexpr int iCimpulsesize = 5;    // bytes of the program's impulse data
    static constexpr int iCelements = 6;       // the program's stored kernel elements
    static constexpr int iClookahead = 7;      // the program's LOOKAHEAD, us
    static constexpr int iCfeedback = 8;       // the program's feedback factor
    static constexpr int iCfeedbacksource = 9; // FEEDBACKSOURCE key
    static constexpr int iCrate = 10;          // the effective program rate, us
    static constexpr int iCownrate = 11;       // the program carries its own rate
    static constexpr int iCdry = 12;           // the program's dry gain, linear
    static constexpr int iCdrysource = 13;     // GAINDRYSOURCE key
    static constexpr int iCsmoothing = 14;   // bool: switch to element's setting; double: setting+1
    static constexpr int iCaheadlimit = 19;  // AHEADLENGTH: the largest lookahead, us
    static constexpr int iCscanboot = 20;    // SCANBOOT: recovery scan at boot
    static constexpr int iCfastboot = 21;    // FASTBOOT
    static constexpr int iCfastbootnow = 22; // fast boot in force: run boot steps back to back
    static constexpr int iCforceot2 = 23;    // the program's FORCEOT2 flag
    static constexpr int iCinvisible = 24;   // the program's no-drop processing flag
    static constexpr int iCblockmode = 25;   // the engine works in DSP-buffer blocks
    static constexpr int iCforcehybrid = 27; // the program's FORCEHYBRID flag
    static constexpr int iCfilerate = 28;    // the program's own sample rate, Hz
    static constexpr int iCrunrate = 29;     // the sample rate the program runs at, Hz
    static constexpr int iCrateconversion = 30; // RATECONVERSION, us
    static constexpr int iCratediffers = 31;    // the program's impulse files were converted
    static constexpr int iCfontcolour = 32;     // FONTCOLOUR: a row of the skin's font list
    static constexpr int iCforcemono = 33;      // the program's FORCEMONO flag
    static constexpr int iCtempo = 34;          // default tempo (BPMDEFAULT), BPM
    static constexpr int iCnodrop = 35;         // NODROP, shown as ghost mode
    static constexpr int iClongest = 36;        // longest allowed forced length, us
    static constexpr int iCloaderlevel = 38;    // LOADERPRIORITY, 0..4
    static constexpr int iCaheadsource = 39;    // LOOKAHEADSOURCE key
    static constexpr int iCbridge = 40;         // the disk page's bridge row
    static constexpr int iCmode = 41;           // MODE: true for the full page set
    static constexpr int iChdimmax = 43;        // HDIMMAX
    static constexpr int iChostrate = 44;       // the host's sample rate, Hz
    static constexpr int iCquality = 45;        // EXPORTAUDIOQUALITY, 1..5
    static constexpr int iCbusy = 46;           // the boot is pending
    static constexpr int iCversion = 47;        // the version text
    static constexpr int iCmeter = 48;          // METERTYPE
    static constexpr int iClatency = 49;        // delay compensation, samples
    static constexpr int iCenginetime = 50;     // OTIMED 1..15; below 1 re-applies the stored one
    static constexpr int iCenginefreq = 51;     // OFREQD, 1..15
    static constexpr int iCprogramrate = 52;    // PROGRAMRATE, us
    static constexpr int iCkernellimit = 54;    // HDIM: master limit of harmonic kernels, 1..20
    static constexpr int iChdim = 55;           // the program's kernel limit, 0 = all
    static constexpr int iCname = 56;           // the program's name
    static constexpr int iCnamechanged = 58;    // the program's name was changed
    static constexpr int iCmidiin = 59;      // MIDI arrived since the last reading (cleared by it)
    static constexpr int iCskin = 62;        // the skin: path read, file name written
    static constexpr int iCdescription = 64; // the program's description
    static constexpr int iCguirate = 65;     // GUIRATE, us
    static constexpr int iCslot = 67;        // selected memory slot, bank x 100 + program
    static constexpr int iCoffset = 70;      // FORCEOFFSET, us
    static constexpr int iCsmoothsetting = 74;  // active smoothing setting, -1 off
    static constexpr int iCslotsused = 75;      // kernel slots in use
    static constexpr int iCversionname = 76;    // proposed version name
    static constexpr int iCsavemaster = 79;     // writes the master settings file
    static constexpr int iCwheel = 82;          // wheel steps for the engine's selected control
    static constexpr int iCwheeltarget = 83;    // interface control the wheel moves, -1 none
    static constexpr int iClocalmem = 85;       // bytes of the instance's allocator
    static constexpr int iClforatesource = 89;  // LFO: rate source key
    static constexpr int iClfowaveform = 90;    // LFO: waveform key; a write restarts the LFO
    static constexpr int iClfophasesource = 91; // LFO: phase source key; a write restarts the LFO
    static constexpr int iClfoquantise = 92;    // LFO: tempo quantisation, 0 off; restarts it
    static constexpr int iClfophase = 93;       // LFO: phase, degrees
    static constexpr int iClforatelow = 94;     // LFO: lower bound of the rate control, Hz
    static constexpr int iClforatehigh = 95;    // LFO: upper bound of the rate control, Hz
    static constexpr int iClfominrate = 96;     // LFO: minimum rate, Hz
    static constexpr int iClfomaxrate = 97;     // LFO: maximum rate, Hz
    static constexpr int iClfosetminrate = 98;  // LFO: sets the minimum rate, raising the maximum
    static constexpr int iClfosetmaxrate = 99;  // LFO: sets the maximum rate, lowering the minimum
    static constexpr int iClfosetratesource = 100; // LFO: sets the rate source key
    static constexpr int iCfngfunction = 103;      // function generator: function key
    static constexpr int iCfnginputa = 104;    // function generator: input A, number or source key
    static constexpr int iCfnginputb = 105;    // function generator: input B
    static constexpr int iCfngconstanta = 106; // function generator: input A's constant
    static constexpr int iCfngconstantb = 107; // function generator: input B's constant
    static constexpr int iCfngisconstanta = 108;     // function generator: input A is a constant
    static constexpr int iCfngisconstantb = 109;     // function generator: input B is a constant
    static constexpr int iCfngsourcea = 110;         // function generator: input A's source key
    static constexpr int iCfngsourceb = 111;         // function generator: input B's source key
    static constexpr int iCevfdetector = 112;        // follower: detector mode 0..8, 9 off
    static constexpr int iCevfbalance = 113;         // follower: input/output balance 0..1
    static constexpr int iCevfminattack = 114;       // follower: minimum attack, samples
    static constexpr int iCevfmaxattack = 115;       // follower: maximum attack, samples
    static constexpr int iCevfattacksource = 116;    // follower: attack source key
    static constexpr int iCevfminrelease = 117;      // follower: minimum release, samples
    static constexpr int iCevfmaxrelease = 118;      // follower: maximum release, samples
    static constexpr int iCevfreleasesource = 119;   // follower: release source key
    static constexpr int iCevfsetbalance = 120;      // follower: sets the balance
    static constexpr int iCevfapply = 121;           // follower: applies the pending settings
    static constexpr int iCdyninputsource = 126;     // dynamics: input source key
    static constexpr int iCdynthresholdsource = 127; // dynamics: threshold source key
    static constexpr int iCdynratiosource = 128;     // dynamics: ratio source key
    static constexpr int iCdyntype = 129;            // dynamics: 0 compressor, 1 expander
    static constexpr int iCdyncurve = 130;           // dynamics: ratio curve, 0 none
    static constexpr int iCdynrange = 131;           // dynamics: range limit, dB
    static constexpr int iCdynmakeup = 132;          // dynamics: make-up gain, dB
    static constexpr int iCdynapply = 133;           // dynamics: applies the pending settings
    static constexpr int iCenvlevel = 134; // envelope, entry 0..3: level; a start below 0 is JOIN
    static constexpr int iCenvlevelamount = 135;   // envelope: level factor 0..1
    static constexpr int iCenvtimeamount = 136;    // envelope: time factor 0..1
    static constexpr int iCenvtime = 137;          // envelope, entry: time, samples
    static constexpr int iCenvcurve = 138;         // envelope, entry: curve number
    static constexpr int iCenvactivsource = 139;   // envelope: activation source key
    static constexpr int iCenvdeactivsource = 140; // envelope: deactivation source key
    static constexpr int iCenvlevelsource = 141;   // envelope: level factor source key
    static constexpr int iCenvtimesource = 142;    // envelope: time factor source key
    static constexpr int iCenvapply = 143;         // envelope: applies the pending settings
    static constexpr int iCbootstep = 144;         // runs one boot step
    static constexpr int iCbootline = 145;         // the last boot step's number; string: its line
    static constexpr int iCbootbare = 146;         // the boot line is printed without its number
    static constexpr int iCbootdone = 147;         // the boot has finished
    static constexpr int iCbootok = 148;           // the last boot step succeeded
    static constexpr int iCfade = 150;             // kernel slot: fade-out, us
    static constexpr int iCfadelimit = 151;        // kernel slot: largest fade-out, us
    static constexpr int iCusable = 157;       // convolution engine number: in the table and usable
    static constexpr int iCforcedlength = 158; // selector 0 LTIMED, 1 LFREQD: forced length, us
    static constexpr int iClengthlimit = 160;  // slot, 0 normal / 1 extended: largest length, us
    static constexpr int iClength = 161;       // slot, 0 normal / 1 extended: kernel length, us
    static constexpr int iCblockfamily = 162;  // kernel slot, selector 0: not of the block family
    static constexpr int iCextended = 165;     // kernel slot: extended length on
    static constexpr int iCload = 166;         // time meter: load, %
    static constexpr int iCslotname = 167;     // memory slot: program name, "0" when empty
    static constexpr int iCnextslot = 168;     // start slot, step +1 / -1: nearest used slot
    static constexpr int iCfilteredslot = 169; // start slot, step: nearest under the filter
    static constexpr int iCslotcategory = 170; // read: list entry i; written: slot, level 0..2
    static constexpr int iCfilter = 171;       // level: browse filter, "0" at level 0 for none
    static constexpr int iCcategories = 172;   // builds the browse level's category list
    static constexpr int iCtopcategories = 173;   // builds the top level's category list
    static constexpr int iCbrowselevel = 174;     // delta: moves the browse level
    static constexpr int iCcategory = 176;        // level 0..2: the program's category
    static constexpr int iCslotdescription = 177; // memory slot: description
    static constexpr int iCmidichange = 179;      // MIDI slot n: status a, controller b (< 0 learn)
    static constexpr int iCmidiselect = 180;      // selects a MIDI mix slot for 181..185
    static constexpr int iCmidilearn = 181;       // selected MIDI mix slot: learn flag
    static constexpr int iCmidistatus = 182;      // selected MIDI mix slot: status word
    static constexpr int iCmidicontroller = 183;  // selected MIDI mix slot: controller number
    static constexpr int iCmidichannel = 184;     // selected MIDI mix slot: channel
    static constexpr int iCmidivalue = 185;       // selected MIDI mix slot: last value
    static constexpr int iCalternate = 187;       // control: alternate slot on / off
    static constexpr int iCraw = 188;             // control: raw value of the current slot
    static constexpr int iCrawnotvalid = 189;     // control: raw value of the main slot, not valid
    static constexpr int iCsetraw = 190;          // control: raw value of the current slot
    static constexpr int iCrawvalid = 191;        // control: raw value of the main slot, valid
    static constexpr int iCmainvalid = 192;       // control: main slot holds a valid value
    static constexpr int iCcontrol = 193;         // control: main slot's value 0..1
    static constexpr int iCcarried = 194;         // control: its parameter modulator, < 0 none
    static constexpr int iCmodupdate = 195;       // parameter modulator: updates its value
    static constexpr int iCmodshown = 196;        // parameter modulator: shown
    static constexpr int iCmodprelabel = 197;     // modulator: its mix control "1".."8", "" none
    static constexpr int iCmodlabel = 198;        // parameter modulator: label
    static constexpr int iCmodbar = 199;          // parameter modulator: bar fraction 0..1
    static constexpr int iCmodvalue = 200;        // parameter modulator: output value
    static constexpr int iCmodpreunit = 201;      // parameter modulator: pre-unit text
    static constexpr int iCmodpostunit = 202;     // parameter modulator: post-unit text
    static constexpr int iCmodunit = 203;         // parameter modulator: unit text
    static constexpr int iCmodfunction = 204;     // modulator: key of its two-argument function
    static constexpr int iCmodexchange = 205;     // exchanges parameter modulators a and b
    static constexpr int iCmodisconstanta = 206;  // parameter modulator: argument A is a constant
    static constexpr int iCmodisconstantb = 207;  // parameter modulator: argument B is a constant
    static constexpr int iCmodconstanta = 208;    // parameter modulator: argument A's constant
    static constexpr int iCmodconstantb = 209;    // parameter modulator: argument B's constant
    static constexpr int iCmodargumenta = 210;    // modulator: argument A, source key or number
    static constexpr int iCmodargumentb = 211;    // parameter modulator: argument B
    static constexpr int iCmodminimum = 214;      // parameter modulator: value minimum
    static constexpr int iCmodmaximum = 215;      // parameter modulator: value maximum
    static constexpr int iCmodbarminimum = 216;   // parameter modulator: bar minimum
    static constexpr int iCmodbarmaximum = 217;   // parameter modulator: bar maximum
    static constexpr int iCenginerow = 221;       // row of the engine's message list
    static constexpr int iCclearrows = 222;       // clears the engine's message list
    static constexpr int iCvarname = 223;         // selects a batch variable
    static constexpr int iCvarvalue = 224;        // the selected batch variable's value
    static constexpr int iCclearvars = 225;       // clears the batch variables
    static constexpr int iCbatchstep = 226;    // one batch step, true at the end; string: its line
    static constexpr int iCdspbuffer = 236;    // DSPBUFFER, samples
    static constexpr int iClistfolder = 237;   // folder of the next file listing
    static constexpr int iClistmask = 238;     // mask of the next file listing
    static constexpr int iClistfiles = 239;    // lists the files; int: count; string: name i
    static constexpr int iCrebuildtree = 244;  // rebuilds the category tree
    static constexpr int iCtreepath = 245;     // level: child index on the browse path, -1 ends it
    static constexpr int iCtreechildren = 246; // children of the node the browse path reaches
    static constexpr int iCtreetext = 247;     // text of that node; records whether it is a leaf
    static constexpr int iCtreeleaf = 248;     // that node is a leaf
    static constexpr int iCtreewords = 249;    // that node's text from the category dictionary
    static constexpr int iCmenutitle = 250;    // the last chosen category's text
    static constexpr int iCmenucolumn = 251;   // FORCOLUMN: pop-up items per column
    static constexpr int iCevfdynattacksource = 252;  // follower: dynamic attack source key
    static constexpr int iCevfdynreleasesource = 253; // follower: dynamic release source key
    static constexpr int iCextrabuffers = 255; // the engine holds its two extra processing buffers
    static constexpr int iCsharedmem = 257;    // bytes of the shared allocator, 0 none
    static constexpr int iCbypass = 258;       // bypass is on
    static constexpr int iCevfhighpass = 259;  // follower: highpass frequency, Hz
    static constexpr int iCevfhighpassorder = 260;  // follower: FILTERORDER as stored; runs
                                                    // order / 2 sections (at most 4), 0 and 1 none
    static constexpr int iCevfhighpasssource = 261; // follower: highpass source key
    // The newest failed save's line for the display, or a bank save's that
    // dropped the boot mark ("BANK SAVED, NO BOOT: SLOT EMPTY"); "" none.
    static constexpr int iCsaveerror = 262;
    static constexpr int iCfallback = 263;   // the last load fell back: location 0 plays instead
    static constexpr int iCfailedslot = 264; // the location whose load fell back, -1 none
    static constexpr int iCfailreason = 265; // why it failed, "FILE: reason", "" none
    // Read only: the program's lookahead as the engine plays it (whole
    // samples, at most the cap), us; property 7 keeps the value written.
    static constexpr int iCaheadplayed = 266;
    static constexpr int iCloadnotices = 267; // the last load's notice of this element, "" beyond

    // One property: its id, the accessor letter it is mainly read or written
    // with (b h i l d s, v for an action), its record's layout and its name.
    struct PROPERTY {
        int id;
        char kind;
        LAYOUT layout;
        char const* name;
    };
    static constexpr PROPERTY sCproperties[] = {
        {iCpadin, 'd', iCnone, "padin"},
        {iCpadout, 'd', iCnone, "padout"},
        {iCgainin, 'd', iCnone, "gainin"},
        {iCgainout, 'd', iCnone, "gainout"},
        {iCimpulsesize, 'd', iCnone, "impulsesize"},
        {iCelements, 'l', iCnone, "elements"},
        {iClookahead, 'l', iCnone, "lookahead"},
        {iCfeedback, 'd', iCnone, "feedback"},
        {iCfeedbacksource, 's', iCnone, "feedbacksource"},
        {iCrate, 'l', iCnone, "rate"},
        {iCownrate, 'b', iCnone, "ownrate"},
        {iCdry, 'd', iCnone, "dry"},
        {iCdrysource, 's', iCnone, "drysource"},
        {iCsmoothing, 'd', iCelement, "smoothing"},
        {iCaheadlimit, 'd', iCnone, "aheadlimit"},
        {iCscanboot, 'b', iCnone, "scanboot"},
        {iCfastboot, 'b', iCnone, "fastboot"},
        {iCfastbootnow, 'b', iCnone, "fastbootnow"},
        {iCforceot2, 'b', iCnone, "forceot2"},
        {iCinvisible, 'b', iCnone, "invisible"},
        {iCblockmode, 'b', iCnone, "blockmode"},
        {iCforcehybrid, 'b', iCnone, "forcehybrid"},
        {iCfilerate, 'l', iCnone, "filerate"},
        {iCrunrate, 'l', iCnone, "runrate"},
        {iCrateconversion, 'l', iCnone, "rateconversion"},
        {iCratediffers, 'b', iCnone, "ratediffers"},
        {iCfontcolour, 'h', iCnone, "fontcolour"},
        {iCforcemono, 'b', iCnone, "forcemono"},
        {iCtempo, 'd', iCnone, "tempo"},
        {iCnodrop, 'b', iCnone, "nodrop"},
        {iClongest, 'd', iCnone, "longest"},
        {iCloaderlevel, 'h', iCnone, "loaderlevel"},
        {iCaheadsource, 's', iCnone, "aheadsource"},
        {iCbridge, 's', iCnone, "bridge"},
        {iCmode, 'b', iCnone, "mode"},
        {iChdimmax, 'h', iCnone, "hdimmax"},
        {iChostrate, 'i', iCnone, "hostrate"},
        {iCquality, 'h', iCnone, "quality"},
        {iCbusy, 'b', iCnone, "busy"},
        {iCversion, 's', iCnone, "version"},
        {iCmeter, 'h', iCnone, "meter"},
        {iClatency, 'l', iCnone, "latency"},
        {iCenginetime, 'h', iCnone, "enginetime"},
        {iCenginefreq, 'h', iCnone, "enginefreq"},
        {iCprogramrate, 'l', iCnone, "programrate"},
        {iCkernellimit, 'h', iCnone, "kernellimit"},
        {iChdim, 'h', iCnone, "hdim"},
        {iCname, 's', iCnone, "name"},
        {iCnamechanged, 'b', iCnone, "namechanged"},
        {iCmidiin, 'b', iCnone, "midiin"},
        {iCskin, 's', iCnone, "skin"},
        {iCdescription, 's', iCnone, "description"},
        {iCguirate, 'l', iCnone, "guirate"},
        {iCslot, 'i', iCnone, "slot"},
        {iCoffset, 'l', iCnone, "offset"},
        {iCsmoothsetting, 'h', iCnone, "smoothsetting"},
        {iCslotsused, 'h', iCnone, "slotsused"},
        {iCversionname, 's', iCnone, "versionname"},
        {iCsavemaster, 'v', iCnone, "savemaster"},
        {iCwheel, 'i', iCnone, "wheel"},
        {iCwheeltarget, 'l', iCnone, "wheeltarget"},
        {iClocalmem, 'i', iCnone, "localmem"},
        {iClforatesource, 's', iCelement, "lforatesource"},
        {iClfowaveform, 's', iCelement, "lfowaveform"},
        {iClfophasesource, 's', iCelement, "lfophasesource"},
        {iClfoquantise, 'd', iCelement, "lfoquantise"},
        {iClfophase, 'd', iCelement, "lfophase"},
        {iClforatelow, 'd', iCelement, "lforatelow"},
        {iClforatehigh, 'd', iCelement, "lforatehigh"},
        {iClfominrate, 'd', iCelement, "lfominrate"},
        {iClfomaxrate, 'd', iCelement, "lfomaxrate"},
        {iClfosetminrate, 'd', iCelement, "lfosetminrate"},
        {iClfosetmaxrate, 'd', iCelement, "lfosetmaxrate"},
        {iClfosetratesource, 's', iCelement, "lfosetratesource"},
        {iCfngfunction, 's', iCelement, "fngfunction"},
        {iCfnginputa, 's', iCelement, "fnginputa"},
        {iCfnginputb, 's', iCelement, "fnginputb"},
        {iCfngconstanta, 'd', iCelement, "fngconstanta"},
        {iCfngconstantb, 'd', iCelement, "fngconstantb"},
        {iCfngisconstanta, 'b', iCelement, "fngisconstanta"},
        {iCfngisconstantb, 'b', iCelement, "fngisconstantb"},
        {iCfngsourcea, 's', iCelement, "fngsourcea"},
        {iCfngsourceb, 's', iCelement, "fngsourceb"},
        {iCevfdetector, 'h', iCelement, "evfdetector"},
        {iCevfbalance, 'd', iCelement, "evfbalance"},
        {iCevfminattack, 'l', iCelement, "evfminattack"},
        {iCevfmaxattack, 'l', iCelement, "evfmaxattack"},
        {iCevfattacksource, 's', iCelement, "evfattacksource"},
        {iCevfminrelease, 'l', iCelement, "evfminrelease"},
        {iCevfmaxrelease, 'l', iCelement, "evfmaxrelease"},
        {iCevfreleasesource, 's', iCelement, "evfreleasesource"},
        {iCevfsetbalance, 'd', iCelement, "evfsetbalance"},
        {iCevfapply, 'v', iCelement, "evfapply"},
        {iCdyninputsource, 's', iCelement, "dyninputsource"},
        {iCdynthresholdsource, 's', iCelement, "dynthresholdsource"},
        {iCdynratiosource, 's', iCelement, "dynratiosource"},
        {iCdyntype, 'h', iCelement, "dyntype"},
        {iCdyncurve, 'h', iCelement, "dyncurve"},
        {iCdynrange, 'd', iCelement, "dynrange"},
        {iCdynmakeup, 'd', iCelement, "dynmakeup"},
        {iCdynapply, 'v', iCelement, "dynapply"},
        {iCenvlevel, 'd', iCentry, "envlevel"},
        {iCenvlevelamount, 'd', iCelement, "envlevelamount"},
        {iCenvtimeamount, 'd', iCelement, "envtimeamount"},
        {iCenvtime, 'l', iCentry, "envtime"},
        {iCenvcurve, 'h', iCentry, "envcurve"},
        {iCenvactivsource, 's', iCelement, "envactivsource"},
        {iCenvdeactivsource, 's', iCelement, "envdeactivsource"},
        {iCenvlevelsource, 's', iCelement, "envlevelsource"},
        {iCenvtimesource, 's', iCelement, "envtimesource"},
        {iCenvapply, 'v', iCelement, "envapply"},
        {iCbootstep, 'b', iCnone, "bootstep"},
        {iCbootline, 'i', iCnone, "bootline"},
        {iCbootbare, 'b', iCnone, "bootbare"},
        {iCbootdone, 'b', iCnone, "bootdone"},
        {iCbootok, 'b', iCnone, "bootok"},
        {iCfade, 'd', iCelement, "fade"},
        {iCfadelimit, 'd', iCelement, "fadelimit"},
        {iCusable, 'b', iCelement, "usable"},
        {iCforcedlength, 'l', iCselector, "forcedlength"},
        {iClengthlimit, 'd', iCentry, "lengthlimit"},
        {iClength, 'd', iCentry, "length"},
        {iCblockfamily, 'b', iCentry, "blockfamily"},
        {iCextended, 'b', iCelement, "extended"},
        {iCload, 'i', iCelement, "load"},
        {iCslotname, 's', iCelement, "slotname"},
        {iCnextslot, 'i', iCentry, "nextslot"},
        {iCfilteredslot, 'i', iCentry, "filteredslot"},
        {iCslotcategory, 's', iCentry, "slotcategory"},
        {iCfilter, 's', iCelement, "filter"},
        {iCcategories, 'i', iCnone, "categories"},
        {iCtopcategories, 'i', iCnone, "topcategories"},
        {iCbrowselevel, 'i', iCelement, "browselevel"},
        {iCcategory, 's', iCselector, "category"},
        {iCslotdescription, 's', iCelement, "slotdescription"},
        {iCmidichange, 'h', iCpair, "midichange"},
        {iCmidiselect, 'h', iCnone, "midiselect"},
        {iCmidilearn, 'b', iCnone, "midilearn"},
        {iCmidistatus, 'i', iCnone, "midistatus"},
        {iCmidicontroller, 'i', iCnone, "midicontroller"},
        {iCmidichannel, 'i', iCnone, "midichannel"},
        {iCmidivalue, 'i', iCnone, "midivalue"},
        {iCalternate, 'b', iCelement, "alternate"},
        {iCraw, 'd', iCelement, "raw"},
        {iCrawnotvalid, 'd', iCelement, "rawnotvalid"},
        {iCsetraw, 'd', iCelement, "setraw"},
        {iCrawvalid, 'd', iCelement, "rawvalid"},
        {iCmainvalid, 'b', iCelement, "mainvalid"},
        {iCcontrol, 'd', iCelement, "control"},
        {iCcarried, 'h', iCelement, "carried"},
        {iCmodupdate, 'v', iCelement, "modupdate"},
        {iCmodshown, 'b', iCelement, "modshown"},
        {iCmodprelabel, 's', iCelement, "modprelabel"},
        {iCmodlabel, 's', iCelement, "modlabel"},
        {iCmodbar, 'd', iCelement, "modbar"},
        {iCmodvalue, 'd', iCelement, "modvalue"},
        {iCmodpreunit, 's', iCelement, "modpreunit"},
        {iCmodpostunit, 's', iCelement, "modpostunit"},
        {iCmodunit, 's', iCelement, "modunit"},
        {iCmodfunction, 's', iCelement, "modfunction"},
        {iCmodexchange, 'v', iCpair, "modexchange"},
        {iCmodisconstanta, 'b', iCelement, "modisconstanta"},
        {iCmodisconstantb, 'b', iCelement, "modisconstantb"},
        {iCmodconstanta, 'd', iCelement, "modconstanta"},
        {iCmodconstantb, 'd', iCelement, "modconstantb"},
        {iCmodargumenta, 's', iCelement, "modargumenta"},
        {iCmodargumentb, 's', iCelement, "modargumentb"},
        {iCmodminimum, 'd', iCelement, "modminimum"},
        {iCmodmaximum, 'd', iCelement, "modmaximum"},
        {iCmodbarminimum, 'd', iCelement, "modbarminimum"},
        {iCmodbarmaximum, 'd', iCelement, "modbarmaximum"},
        {iCenginerow, 's', iCelement, "enginerow"},
        {iCclearrows, 'v', iCnone, "clearrows"},
        {iCvarname, 's', iCnone, "varname"},
        {iCvarvalue, 's', iCnone, "varvalue"},
        {iCclearvars, 'v', iCnone, "clearvars"},
        {iCbatchstep, 'b', iCnone, "batchstep"},
        {iCdspbuffer, 'l', iCnone, "dspbuffer"},
        {iClistfolder, 's', iCnone, "listfolder"},
        {iClistmask, 's', iCnone, "listmask"},
        {iClistfiles, 'v', iCelement, "listfiles"},
        {iCrebuildtree, 'v', iCnone, "rebuildtree"},
        {iCtreepath, 'i', iCelement, "treepath"},
        {iCtreechildren, 'i', iCnone, "treechildren"},
        {iCtreetext, 's', iCnone, "treetext"},
        {iCtreeleaf, 'b', iCnone, "treeleaf"},
        {iCtreewords, 's', iCnone, "treewords"},
        {iCmenutitle, 's', iCnone, "menutitle"},
        {iCmenucolumn, 'h', iCnone, "menucolumn"},
        {iCevfdynattacksource, 's', iCelement, "evfdynattacksource"},
        {iCevfdynreleasesource, 's', iCelement, "evfdynreleasesource"},
        {iCextrabuffers, 'b', iCnone, "extrabuffers"},
        {iCsharedmem, 'i', iCnone, "sharedmem"},
        {iCbypass, 'b', iCnone, "bypass"},
        {iCevfhighpass, 'd', iCelement, "evfhighpass"},
        {iCevfhighpassorder, 'i', iCelement, "evfhighpassorder"},
        {iCevfhighpasssource, 's', iCelement, "evfhighpasssource"},
        {iCsaveerror, 's', iCnone, "saveerror"},
        {iCfallback, 'b', iCnone, "fallback"},
        {iCfailedslot, 'i', iCnone, "failedslot"},
        {iCfailreason, 's', iCnone, "failreason"},
        {iCaheadplayed, 'd', iCnone, "aheadplayed"},
        {iCloadnotices, 's', iCelement, "loadnotices"},
    };
};
