#pragma once
// PlatVst: our own definitions of the VST 2.4 binary interface between a host
// and this plug-in, as 64-bit Linux hosts use it: the effect record the entry
// point returns, the function types in it, the host callback, the opcodes and
// flags both sides exchange, and the event, time and rectangle records. Every
// number and layout below follows the interface's public documentation; no
// header or source of any SDK is copied. Records use the platform's natural
// alignment and the platform's C calling convention (System V on x86-64),
// which is what hosts compiled against the interface expect.
// Owner: nobody; types and constants only.
// Threads: any (no state).

#include <cstddef>
#include <cstdint>

struct PlatVst {
    PlatVst() = delete;

    struct Effect;

    // --- function types (public documentation: the effect record's entries) ----
    // The host's callback: (effect, opcode, index, value, ptr, opt) -> answer.
    using HostCallback = std::intptr_t (*)(Effect* effect, std::int32_t opcode, std::int32_t index,
                                           std::intptr_t value, void* ptr, float opt);
    // The plug-in's dispatcher, same shape as the host callback.
    using Dispatcher = std::intptr_t (*)(Effect* effect, std::int32_t opcode, std::int32_t index,
                                         std::intptr_t value, void* ptr, float opt);
    // Audio in single precision: channel pointer arrays, frames in the block.
    using ProcessFloat = void (*)(Effect* effect, float** inputs, float** outputs,
                                  std::int32_t frames);
    // Audio in double precision.
    using ProcessDouble = void (*)(Effect* effect, double** inputs, double** outputs,
                                   std::int32_t frames);
    using SetParameter = void (*)(Effect* effect, std::int32_t index, float value); // value 0..1
    using GetParameter = float (*)(Effect* effect, std::int32_t index);             // 0..1
    // The exported entry ("VSTPluginMain", or "main" for older hosts).
    using Entry = Effect* (*)(HostCallback host);

    // --- the effect record (public documentation: layout of the record) --------
    // 192 bytes on a 64-bit platform; PlatVstTest holds every offset.
    struct Effect {
        std::int32_t magic;                   // effectMagic
        Dispatcher dispatcher;                // host -> plug-in requests
        ProcessFloat process;                 // accumulating process (adds to outputs)
        SetParameter setParameter;            // host sets a parameter
        GetParameter getParameter;            // host reads a parameter
        std::int32_t numPrograms;             // programs
        std::int32_t numParams;               // parameters
        std::int32_t numInputs;               // audio inputs
        std::int32_t numOutputs;              // audio outputs
        std::int32_t flags;                   // Flag bits
        std::intptr_t reserved1;              // host's own, zero
        std::intptr_t reserved2;              // host's own, zero
        std::int32_t initialDelay;            // latency reported to the host, frames
        std::int32_t realQualities;           // unused, zero
        std::int32_t offQualities;            // unused, zero
        float ioRatio;                        // unused, zero
        void* object;                         // the plug-in's own object
        void* user;                           // the host's own pointer
        std::int32_t uniqueID;                // four-character identifier
        std::int32_t version;                 // plug-in version
        ProcessFloat processReplacing;        // single precision, overwrites outputs
        ProcessDouble processDoubleReplacing; // double precision, overwrites outputs
        char future[56];                      // zero
    };

    // 'VstP' read as a big-endian four-character constant.
    static constexpr std::int32_t effectMagic = 0x56737450;
    // The interface version both sides report (audioMaster version, getVstVersion).
    static constexpr std::int32_t interfaceVersion = 2400;

    // --- effect flags (public documentation: effect flags) ---------------------
    enum Flag : std::int32_t {
        flagHasEditor = 1 << 0,           // answers the editor opcodes
        flagCanReplacing = 1 << 4,        // processReplacing is set
        flagProgramChunks = 1 << 5,       // state goes through get/set chunk
        flagIsSynth = 1 << 8,             // an instrument
        flagNoSoundInStop = 1 << 9,       // silent input gives silent output
        flagCanDoubleReplacing = 1 << 12, // processDoubleReplacing is set
    };

    // --- dispatcher opcodes, host -> plug-in (public documentation) ------------
    // index/value/ptr/opt as noted; unlisted numbers are other or retired requests.
    enum Opcode : std::int32_t {
        opOpen = 0,                   // after the entry returned
        opClose = 1,                  // last call; the plug-in frees itself
        opSetProgram = 2,             // value: program number
        opGetProgram = 3,             // answers the current program
        opSetProgramName = 4,         // ptr: text (programNameMax)
        opGetProgramName = 5,         // ptr: buffer (programNameMax + 1)
        opGetParamLabel = 6,          // index, ptr: buffer (paramTextMax + 1), unit
        opGetParamDisplay = 7,        // index, ptr: buffer (paramTextMax + 1), value text
        opGetParamName = 8,           // index, ptr: buffer (paramTextMax + 1)
        opSetSampleRate = 10,         // opt: rate, Hz
        opSetBlockSize = 11,          // value: largest block, frames
        opMainsChanged = 12,          // value: 0 suspend, 1 resume
        opEditGetRect = 13,           // ptr: Rect** the plug-in points at its rectangle
        opEditOpen = 14,              // ptr: parent window (an X window id on Linux)
        opEditClose = 15,             //
        opEditIdle = 19,              // periodic, host's user-interface thread
        opGetChunk = 23,              // index: chunkBank/chunkProgram, ptr: void**; answers bytes
        opSetChunk = 24,              // index as above, value: bytes, ptr: data
        opProcessEvents = 25,         // ptr: Events*
        opCanBeAutomated = 26,        // index; answers 1 or 0
        opGetProgramNameIndexed = 29, // index: program, ptr: buffer (programNameMax + 1)
        opGetPlugCategory = 35,       // answers a Category
        opSetBypass = 44,             // value: 1 bypass
        opGetEffectName = 45,         // ptr: buffer (effectNameMax + 1)
        opGetVendorString = 47,       // ptr: buffer (vendorMax + 1)
        opGetProductString = 48,      // ptr: buffer (productMax + 1)
        opGetVendorVersion = 49,      // answers the plug-in version
        opVendorSpecific = 50,        // index, value, ptr, opt: the plug-in's own meaning
        opCanDo = 51,                 // ptr: text; answers a CanDo
        opGetTailSize = 52,           // answers frames (0: unknown, 1: none)
        opGetVstVersion = 58,         // answers interfaceVersion
        opStartProcess = 71,          // processing about to start
        opStopProcess = 72,           // processing stopped
        opSetProcessPrecision = 77,   // value: precision32/precision64
    };

    // --- host opcodes, plug-in -> host (public documentation) ------------------
    enum HostOpcode : std::int32_t {
        hostAutomate = 0,                // index: parameter, opt: value 0..1
        hostVersion = 1,                 // answers the host's interface version (0: none)
        hostCurrentId = 2,               // unique ID of the plug-in being loaded
        hostIdle = 3,                    //
        hostGetTime = 7,                 // value: wanted TimeFlag bits; answers TimeInfo* or 0
        hostProcessEvents = 8,           // ptr: Events* sent to the host
        hostIoChanged = 13,              // delay or channel counts changed
        hostSizeWindow = 15,             // index: width, value: height
        hostGetSampleRate = 16,          // answers Hz
        hostGetBlockSize = 17,           // answers frames
        hostGetCurrentProcessLevel = 23, // answers a ProcessLevel
        hostGetVendorString = 32,        // ptr: buffer (vendorMax + 1)
        hostGetProductString = 33,       // ptr: buffer (productMax + 1)
        hostGetVendorVersion = 34,       //
        hostCanDo = 37,                  // ptr: text
        hostUpdateDisplay = 42,          // names or texts changed
        hostBeginEdit = 43,              // index: parameter; a gesture starts
        hostEndEdit = 44,                // index: parameter; the gesture ends
    };

    // --- answers and arguments of some opcodes (public documentation) ----------
    enum Category : std::int32_t { categoryUnknown = 0, categoryEffect = 1, categorySynth = 2 };
    enum Precision : std::int32_t { precision32 = 0, precision64 = 1 };
    enum ChunkKind : std::int32_t { chunkBank = 0, chunkProgram = 1 };
    enum CanDo : std::int32_t { canDoNo = -1, canDoUnknown = 0, canDoYes = 1 };
    enum ProcessLevel : std::int32_t {
        levelUnknown = 0,
        levelUser = 1,     // user-interface thread
        levelRealtime = 2, // audio thread
        levelPrefetch = 3, // ahead of time
        levelOffline = 4,  // rendering offline
    };
    // The canDo texts the plug-in answers yes to.
    static constexpr char const* canDoReceiveEvents = "receiveVstEvents";
    static constexpr char const* canDoReceiveMidiEvent = "receiveVstMidiEvent";

    // --- text maximums, terminating zero not counted (public documentation) ----
    static constexpr std::size_t paramTextMax = 8;    // parameter name, display, label
    static constexpr std::size_t programNameMax = 24; // program name
    static constexpr std::size_t effectNameMax = 32;  // effect name
    static constexpr std::size_t vendorMax = 64;      // vendor text
    static constexpr std::size_t productMax = 64;     // product text

    // --- events (public documentation: event records) --------------------------
    enum EventType : std::int32_t { eventMidi = 1, eventSysex = 6 };

    // The common head of every event; byteSize counts the whole record.
    struct Event {
        std::int32_t type;        // EventType
        std::int32_t byteSize;    // record size, bytes
        std::int32_t deltaFrames; // offset into the current block, frames
        std::int32_t flags;       // type-specific
        char data[16];            // type-specific
    };

    // A short MIDI message (32 bytes).
    struct MidiEvent {
        std::int32_t type;        // eventMidi
        std::int32_t byteSize;    // 32
        std::int32_t deltaFrames; // offset into the current block, frames
        std::int32_t flags;       // midiRealtime when played live
        std::int32_t noteLength;  // frames, 0 when unknown
        std::int32_t noteOffset;  // frames into the note, 0 when unknown
        char midiData[4];         // status, data 1, data 2, zero
        char detune;              // cents, -64..63
        char noteOffVelocity;     //
        char reserved1;           // zero
        char reserved2;           // zero
    };
    static constexpr std::int32_t midiRealtime = 1; // MidiEvent::flags

    // A system-exclusive message (48 bytes); the dump stays the host's.
    struct SysexEvent {
        std::int32_t type;        // eventSysex
        std::int32_t byteSize;    // 48
        std::int32_t deltaFrames; // offset into the current block, frames
        std::int32_t flags;       // zero
        std::int32_t dumpBytes;   // bytes at sysexDump
        std::intptr_t reserved1;  // zero
        char* sysexDump;          // the message
        std::intptr_t reserved2;  // zero
    };

    // A list of events. The record declares two pointers; hosts allocate room
    // for numEvents of them, so read them through eventAt.
    struct Events {
        std::int32_t numEvents; // pointers that follow
        std::intptr_t reserved; // zero
        Event* events[2];       // numEvents entries in fact
    };

    // Entry i of a list (no bounds check: the caller checks 0 <= i < numEvents).
    static Event* eventAt(Events const* list, std::int32_t i) {
        auto first = reinterpret_cast<Event* const*>(reinterpret_cast<char const*>(list) +
                                                     offsetof(Events, events));
        return first[i];
    }

    // --- time information (public documentation: the host's time record) ------
    struct TimeInfo {
        double samplePos;                // frames since the song start
        double sampleRate;               // Hz
        double nanoSeconds;              // system time, ns
        double ppqPos;                   // quarter notes since the song start
        double tempo;                    // beats per minute
        double barStartPos;              // quarter notes at the last bar start
        double cycleStartPos;            // quarter notes at the loop start
        double cycleEndPos;              // quarter notes at the loop end
        std::int32_t timeSigNumerator;   //
        std::int32_t timeSigDenominator; //
        std::int32_t smpteOffset;        //
        std::int32_t smpteFrameRate;     //
        std::int32_t samplesToNextClock; // frames to the next MIDI clock
        std::int32_t flags;              // TimeFlag bits: which fields hold
    };
    enum TimeFlag : std::int32_t {
        timeTransportChanged = 1 << 0,
        timeTransportPlaying = 1 << 1,
        timeNanosValid = 1 << 8,
        timePpqPosValid = 1 << 9,
        timeTempoValid = 1 << 10,
        timeBarsValid = 1 << 11,
        timeCyclePosValid = 1 << 12,
        timeTimeSigValid = 1 << 13,
    };

    // --- the editor's rectangle (public documentation) --------------------------
    struct Rect {
        std::int16_t top;    // pixels
        std::int16_t left;   // pixels
        std::int16_t bottom; // pixels, exclusive
        std::int16_t right;  // pixels, exclusive
    };
};
