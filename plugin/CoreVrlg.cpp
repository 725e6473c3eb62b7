#include "plugin/CoreVrlg.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "editor/x11/CoreEdit.h"
#include "plugin/CoreCtrl.h"
#include "plugin/CoreMstr.h"
#include "plugin/CorePrvt.h"
#include "processing/CorePrcs.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreXutl.h"

namespace {

using Bean = CorePrcs::BEANSTRUCT;

constexpr int kMinRate = 1000;      // Hz; hosts' rates outside are refused
constexpr int kMaxRate = 768000;    // Hz
constexpr int kMaxBlock = 1 << 20;  // frames
constexpr int kDefaultRate = 44100; // Hz, when the host does not say

using Record = CoreVrlg::HOSTRECORD;

// A new record for an instance, kept with every other one until the library
// unloads (these statics go at dlclose): a host may call through it after
// close, and the block is a few hundred bytes an instance.
Record* keptRecord() {
    static std::mutex lock;
    static std::vector<std::unique_ptr<Record>> kept;
    auto made = std::make_unique<Record>();
    std::lock_guard<std::mutex> guard(lock);
    kept.push_back(std::move(made));
    return kept.back().get();
}

Record* recordOf(PlatVst::Effect* e) {
    return e == nullptr ? nullptr : static_cast<Record*>(e->object);
}

// Never leave the host's buffers as they were.
void silence(Record const& r, void** out, std::int32_t frames, bool replace, bool dbl) {
    if (!replace || out == nullptr) return;
    for (int c = 0; c < r.effect.numOutputs; ++c) {
        if (out[c] == nullptr) continue;
        if (dbl)
            std::memset(out[c], 0, sizeof(double) * std::size_t(frames));
        else
            std::memset(out[c], 0, sizeof(float) * std::size_t(frames));
    }
}

// Every entry is admitted through the kept record before it reads anything
// else, so close either waits for the call or the call answers nothing
// without reaching the instance. An entry made once close has shut the gate
// (a host's call from inside a callback of the control thread among them)
// is not counted and returns at once: it never waits for close, nor close
// for it.
class Entered {
public:
    explicit Entered(PlatVst::Effect* e) : record(recordOf(e)) {
        if (record == nullptr) return;
        int now = record->entered.load();
        while ((now & Record::iCgate) == 0 &&
               !record->entered.compare_exchange_weak(now, now + 1)) {
        }
        admitted = (now & Record::iCgate) == 0;
    }
    ~Entered() {
        if (admitted) record->entered.fetch_sub(1);
    }
    Entered(Entered const&) = delete;
    Entered& operator=(Entered const&) = delete;
    // The instance, or null once close has begun.
    CoreVrlg* instance() const {
        return !admitted || record->closing.load() ? nullptr : record->instance.load();
    }
    Record* const record;

private:
    bool admitted = false; // counted: close waits for this entry
};

// The host hears that a call moved the delay once that call has left the
// count, and not at all once close has begun: it may close from there.
// Only the record is read, never the instance.
void tellMoved(Record* r) {
    if (r == nullptr || !r->moved.exchange(false) || r->closing.load() || r->host == nullptr)
        return;
    r->host(&r->effect, PlatVst::hostIoChanged, 0, 0, nullptr, 0.0f);
}

// What an opcode that answers a text writes when it answers nothing.
void noText(std::int32_t op, void* ptr) {
    using V = PlatVst;
    if (ptr == nullptr) return;
    switch (op) {
    case V::opGetProgramName:
    case V::opGetProgramNameIndexed:
    case V::opGetParamLabel:
    case V::opGetParamDisplay:
    case V::opGetParamName:
    case V::opGetEffectName:
    case V::opGetVendorString:
    case V::opGetProductString: static_cast<char*>(ptr)[0] = '\0'; return;
    default: return;
    }
}

void play(PlatVst::Effect* e, void** in, void** out, std::int32_t frames, bool replace, bool dbl) {
    if (frames <= 0) return;
    Entered const entered(e);
    if (CoreVrlg* p = entered.instance())
        p->prcss(in, out, frames, replace, dbl);
    else if (entered.record != nullptr)
        silence(*entered.record, out, frames, replace, dbl);
}

std::intptr_t dispatcher(PlatVst::Effect* e, std::int32_t op, std::int32_t index,
                         std::intptr_t value, void* ptr, float opt) {
    if (op == PlatVst::opClose) {
        // Not counted, as close waits for the count. The first close alone
        // reaches the instance; one made during or after it answers nothing.
        Record* r = recordOf(e);
        if (r == nullptr || r->closing.exchange(true)) return 0;
        r->entered.fetch_or(Record::iCgate);
        CoreVrlg* p = r->instance.load();
        return p ? p->dispt(op, index, value, ptr, opt) : 0;
    }
    std::intptr_t answer = 0;
    {
        Entered const entered(e);
        if (CoreVrlg* p = entered.instance())
            answer = p->dispt(op, index, value, ptr, opt);
        else
            noText(op, ptr);
    }
    if (op == PlatVst::opSetSampleRate || op == PlatVst::opSetBlockSize ||
        op == PlatVst::opSetChunk)
        tellMoved(recordOf(e));
    return answer;
}
void processAdd(PlatVst::Effect* e, float** in, float** out, std::int32_t n) {
    play(e, reinterpret_cast<void**>(in), reinterpret_cast<void**>(out), n, false, false);
}
void processFloat(PlatVst::Effect* e, float** in, float** out, std::int32_t n) {
    play(e, reinterpret_cast<void**>(in), reinterpret_cast<void**>(out), n, true, false);
}
void processDouble(PlatVst::Effect* e, double** in, double** out, std::int32_t n) {
    play(e, reinterpret_cast<void**>(in), reinterpret_cast<void**>(out), n, true, true);
}
void setParameter(PlatVst::Effect* e, std::int32_t i, float v) {
    Entered const entered(e);
    if (CoreVrlg* p = entered.instance()) p->setpm(i, v);
}
float getParameter(PlatVst::Effect* e, std::int32_t i) {
    Entered const entered(e);
    CoreVrlg* p = entered.instance();
    return p ? p->getpm(i) : 0.0f;
}

// "1.3.508" -> 1003508: major x 1,000,000 + minor x 1,000 + patch.
std::int32_t versionNumber() {
    int major = 0, minor = 0, patch = 0;
    std::sscanf(CoreLog_::sCversion_.c_str(), "%d.%d.%d", &major, &minor, &patch);
    return major * 1000000 + minor * 1000 + patch;
}

// Four characters read as a big-endian constant, as hosts show the ID.
std::int32_t fourCharacters(CoreAnsx const& text) {
    char c[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && i < text.Length(); ++i) c[i] = text.c_str()[i];
    return static_cast<std::int32_t>(
        std::uint32_t(std::uint8_t(c[0])) << 24 | std::uint32_t(std::uint8_t(c[1])) << 16 |
        std::uint32_t(std::uint8_t(c[2])) << 8 | std::uint32_t(std::uint8_t(c[3])));
}

} // namespace

void CoreVrlg::text_(void* ptr, char const* text, std::size_t max) {
    if (ptr == nullptr) return;
    std::size_t n = text ? std::strlen(text) : 0;
    if (n > max) n = max;
    if (n) std::memcpy(ptr, text, n);
    static_cast<char*>(ptr)[n] = '\0';
}

CoreVrlg::CoreVrlg(PlatVst::HostCallback host_)
    : record(keptRecord()), effect(record->effect), host(host_) {
    record->host = host_;
    record->instance.store(this);
    effect.magic = PlatVst::effectMagic;
    effect.object = record;
    effect.dispatcher = dispatcher;
    effect.process = processAdd;
    effect.processReplacing = processFloat;
    effect.processDoubleReplacing = processDouble;
    effect.setParameter = setParameter;
    effect.getParameter = getParameter;
    effect.numPrograms = 1;
    effect.numParams = CorePpwr::iCparameters;
    effect.numInputs = 2;
    effect.numOutputs = 2;
    effect.flags =
        PlatVst::flagCanReplacing | PlatVst::flagCanDoubleReplacing | PlatVst::flagProgramChunks;
    effect.version = versionNumber();
    effect.uniqueID = fourCharacters(CoreLog_::sCmagicnum);

    std::intptr_t const asked = call_(PlatVst::hostGetSampleRate, 0, 0, nullptr, 0.0f);
    int const rate =
        asked >= kMinRate && asked <= kMaxRate ? static_cast<int>(asked) : kDefaultRate;
    hostrate.store(rate);
    try {
        CoreAnsx folder, file;
        CoreMstr::where(folder, file);
        master = new CoreMstr(rate, folder, file, this);
        if (master->faild()) return;
        // The display's snapshot for 100104 and the pop-up menu content it fills.
        master->getds()->newdd(&snapshot);
        master->getds()->setpd(&popcontent);
        CorePrcs* e = master->getpr();
        bridge = new CorePpwr(e, this);
        bridge->setrt(rate);
        // Hosts read the parameters of a new instance at once and may write
        // them back: they get what the boot program will set.
        float values[CorePpwr::iCparameters];
        master->btval(values);
        bridge->preld(values);
        CoreAnsx magic = e->getbs(77, nullptr);
        if (magic.Length() == 0 || magic == CoreAnsx("0")) magic = CoreLog_::sCmagicnum;
        effect.uniqueID = fourCharacters(magic);
        if (!e->getbb(256, nullptr)) {
            effect.numInputs = 4;
            fourinputs.store(1);
            e->setbb(254, true, nullptr);
        }
        e->setbi(78, rate, nullptr);
        effect.initialDelay = static_cast<std::int32_t>(e->getbl(49, nullptr));
        effect.flags |= PlatVst::flagHasEditor;
        failed = false;
    } catch (...) {
        CoreLog_::loger(CoreAnsx("Fatal error"), 0);
        delete bridge;
        bridge = nullptr;
        failed = true;
    }
}

CoreVrlg::~CoreVrlg() {
    // Hosts close while their audio thread is still inside a process call,
    // or writing parameters and MIDI for the next one: nothing goes until
    // every entry admitted before close began has left, and an entry made
    // meanwhile is turned away and answers nothing. The close itself is not
    // counted (dispatcher). A call entering after close has returned is the
    // host's fault; the kept record answers it the same way.
    // After a close from a callback of the control thread this runs on that
    // thread as its last act (reap_), past the cycle lock an entry may wait
    // for.
    record->closing.store(true);
    record->entered.fetch_or(Record::iCgate);
    // A boot step or a version waiting for the bank's lock ends early: an
    // entry waiting for the control thread's cycle is not held long.
    if (master != nullptr && master->getpr() != nullptr) master->getpr()->endbk();
    while ((record->entered.load() & ~Record::iCgate) != 0) CoreXutl::sleep(1);
    record->instance.store(nullptr);
    // The control thread with the editor, the snapshot and the menu content,
    // then the assembly (the display first), then the bridge.
    close();
    if (master != nullptr && master->getds() != nullptr) {
        master->getds()->setpd(nullptr);
        master->getds()->deldd(&snapshot);
    }
    delete master;
    delete[] popcontent.entries;
    popcontent = CoreCnst::POPMENUCONTENTDATA{};
    delete bridge;
}

std::intptr_t CoreVrlg::call_(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                              void* ptr, float opt) {
    if (host == nullptr) return 0;
    return host(&effect, opcode, index, value, ptr, opt);
}

void CoreVrlg::open_() {
    if (failed || control != nullptr) return;
    try {
        control = new CoreCtrl(bridge, master->getds(), this, master->getsk());
        opened.store(true);
    } catch (...) {
        CoreLog_::loger(CoreAnsx("control thread could not start"), 0);
        control = nullptr;
    }
}

void CoreVrlg::close() {
    if (control == nullptr) return;
    // Joined, never cancelled: the boot may hold an engine or pool lock. The
    // editor goes with it. On the control thread itself (reap_) it has
    // already ended and is not joined.
    control->Terminate();
    control->WaitFor();
    delete control;
    control = nullptr;
}

void CoreVrlg::reap_(void* self) { delete static_cast<CoreVrlg*>(self); }

bool CoreVrlg::latency() {
    if (failed) return false;
    // The record's field is plain memory the host reads when it likes; the
    // control thread and the host's threads both write it here. The read
    // and the exchange are one step, so the field ends at the delay read
    // last: a load's end reading the old delay cannot put it back over the
    // one a restore stored meanwhile.
    std::lock_guard<std::mutex> one(delaylock);
    auto const delay = static_cast<std::int32_t>(master->getpr()->getbl(49, nullptr));
    std::atomic_ref<std::int32_t> field(effect.initialDelay);
    return field.exchange(delay) != delay;
}

// The control thread's callbacks, made once its cycle lock is released: the
// host may call straight back in, as from any of its threads. It may also
// close the instance in any of them: the thread then returns into this
// object, the bridge and the engine, which stay until it has left them
// (dispt), and makes no callback more.
void CoreVrlg::automate(int index, float value) {
    if (!record->closing.load()) call_(PlatVst::hostAutomate, index, 0, nullptr, value);
}

void CoreVrlg::loaded() {
    // Each named to the bridge, which marks the report in flight: an offline
    // call gives one the host holds a short while only.
    if (latency() && !record->closing.load()) {
        bridge->named(CorePpwr::iCcbiochanged);
        call_(PlatVst::hostIoChanged, 0, 0, nullptr, 0.0f);
    }
    // The host's display update tells it that the boot or a batch (a program
    // load) has ended (the command-line host waits for it).
    if (!record->closing.load()) {
        bridge->named(CorePpwr::iCcbupdate);
        call_(PlatVst::hostUpdateDisplay, 0, 0, nullptr, 0.0f);
    }
}

void CoreVrlg::setpm(std::int32_t index, float value) {
    if (!failed) bridge->setpm(index, value);
}

float CoreVrlg::getpm(std::int32_t index) { return failed ? 0.0f : bridge->getpm(index); }

namespace {
// A refused private-property call: logged at debug level, answered 0.
int refused(char const* what, int id) {
    CoreLog_::debug(CoreAnsx("private property refused (") + CoreAnsx(what) + CoreAnsx("): ") +
                        CoreAnsx(id),
                    0, 3);
    return 0;
}

// A fixed-size record's getter: value 0 (the display's own calls) or a
// capacity of at least the record.
bool fits(int capacity, int bytes) { return capacity == 0 || capacity >= bytes; }
} // namespace

int CoreVrlg::gtprp(int id, int, int value, void* data) {
    if (failed || data == nullptr) return refused("no instance or no data", id);
    switch (id) {
    case iCpropmouse:
    case iCpropcapture:
    case iCproparm: {
        int const bytes = id == iCpropmouse ? int(sizeof mouse)
                          : id == iCproparm ? int(sizeof arm)
                                            : 1;
        if (!fits(value, bytes)) return refused("short capacity", id);
        std::lock_guard<std::mutex> guard(statelock);
        void const* from = id == iCpropmouse ? static_cast<void const*>(mouse)
                           : id == iCproparm ? static_cast<void const*>(arm)
                                             : static_cast<void const*>(&capture);
        std::memcpy(data, from, std::size_t(bytes));
        return 1;
    }
    case iCpropcells: {
        if (value < int(sizeof(double))) return refused("short capacity", id);
        std::lock_guard<std::mutex> one(snaplock);
        if (snapshot.cells == nullptr) return refused("no snapshot", id);
        master->getds()->flldd(&snapshot);
        int const cells = std::min(value / int(sizeof(double)), snapshot.total);
        std::memcpy(data, snapshot.cells, std::size_t(cells) * sizeof(double));
        return cells * int(sizeof(double));
    }
    case iCpropentries: {
        constexpr int entry = int(sizeof(CoreCnst::POPMENUENTRY));
        if (value < entry) return refused("short capacity", id);
        std::lock_guard<std::mutex> guard(statelock);
        int const count = std::min(value / entry, int(popcopy.size()));
        if (count > 0) std::memcpy(data, popcopy.data(), std::size_t(count) * std::size_t(entry));
        return count * entry;
    }
    default: return refused("unknown id", id);
    }
}

int CoreVrlg::stprp(int id, int, int, void* data, unsigned long size) {
    if (failed || data == nullptr) return refused("no instance or no data", id);
    switch (id) {
    case iCpropinput: {
        if (size != sizeof(CoreDspc::MESSAGELOC)) return refused("size", id);
        CoreDspc::MESSAGELOC record;
        std::memcpy(&record, data, sizeof record);
        try {
            master->getmb()->addms(&record);
        } catch (...) {
            return refused("mailbox full", id);
        }
        return 1;
    }
    case iCpropmouse:
    case iCpropcapture: {
        unsigned long const bytes = id == iCpropmouse ? sizeof mouse : 1;
        if (size != bytes) return refused("size", id);
        std::lock_guard<std::mutex> guard(statelock);
        std::memcpy(id == iCpropmouse ? static_cast<void*>(mouse) : &capture, data, bytes);
        return 1;
    }
    case iCproparm: {
        if (size != sizeof arm) return refused("size", id);
        // Posted by the display inside its tick, right after it filled the
        // content: the editor's thread reads this copy only, never the
        // content the next arming reallocates.
        std::lock_guard<std::mutex> guard(statelock);
        std::memcpy(arm, data, sizeof arm);
        try {
            popcopy.assign(popcontent.entries, popcontent.entries + std::max(popcontent.count, 0));
        } catch (...) {
            popcopy.clear();
            return refused("no room for the menu copy", id);
        }
        return 1;
    }
    case iCpropchoice: {
        if (size != sizeof(CoreCnst::POPMENUENTRY)) return refused("size", id);
        CoreCnst::POPMENUENTRY chosen;
        std::memcpy(&chosen, data, sizeof chosen);
        {
            std::lock_guard<std::mutex> guard(statelock);
            if (!popcopy.empty()) popcopy[0] = chosen;
        }
        char text[sizeof chosen.text + 1] = {};
        std::memcpy(text, chosen.text, sizeof chosen.text);
        // Outside the shell's lock: setmr takes the display lock.
        master->getds()->setmr(CoreAnsx(text));
        return 1;
    }
    default: return refused("unknown id", id);
    }
}

void CoreVrlg::prchg(int id, int index, int value) {
    if (bridge != nullptr) bridge->prchg(id, index, value);
}

void CoreVrlg::attch(bool attached) {
    if (control != nullptr) control->attch(attached);
}

std::intptr_t CoreVrlg::editr(std::int32_t opcode, void* ptr) {
    if (control == nullptr) return 0;
    CoreEdit* editor = control->geted();
    try {
        switch (opcode) {
        case PlatVst::opEditGetRect:
            return editor->getrc(static_cast<PlatVst::Rect**>(ptr)) ? 1 : 0;
        case PlatVst::opEditOpen:
            return editor->open(static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(ptr)))
                       ? 1
                       : 0;
        case PlatVst::opEditClose: editor->close(); return 1;
        case PlatVst::opEditIdle: editor->idle(); return 1;
        default: return 0;
        }
    } catch (...) {
        CoreLog_::loger(CoreAnsx("editor call failed: ") + CoreAnsx(int(opcode)), 1);
        return 0;
    }
}

std::intptr_t CoreVrlg::prvte(void* ptr) {
    auto* call = static_cast<CorePrvt::CALL*>(ptr);
    if (call == nullptr) return refused("no call record", 0);
    switch (call->kind) {
    case CorePrvt::iCget: return gtprp(call->id, call->index, call->value, call->data);
    case CorePrvt::iCset:
        if (call->size > 0xFFFFFFFFull) return refused("size", call->id);
        return stprp(call->id, call->index, call->value, call->data,
                     static_cast<unsigned long>(call->size));
    case CorePrvt::iCattach: attch(call->value != 0); return 1;
    case CorePrvt::iCboot: return bridge->getbt();
    case CorePrvt::iCslot: return bridge->getsl();
    case CorePrvt::iCbus: return busio(call->id, call->data, call->size);
    case CorePrvt::iClisten:
    case CorePrvt::iCunlisten:
        if (call->listener == nullptr) return refused("no listener", 0);
        bridge->lstnr(call->listener, call->context, call->kind == CorePrvt::iClisten);
        return 1;
    default: return refused("unknown call", call->kind);
    }
}

int CoreVrlg::busio(int id, void* data, std::uint64_t size) {
    if (failed || data == nullptr || size != sizeof(CorePrvt::BUSCALL))
        return refused("bus call record", id);
    auto* b = static_cast<CorePrvt::BUSCALL*>(data);
    Bean record{b->element, b->subindex};
    CorePrcs* e = master->getpr();
    double const x = b->number;
    // A value its setter's type cannot hold is refused, not converted.
    double const most = b->kind == 'h' ? 32767.0 : b->kind == 'i' ? 2147483647.0 : 9.2e18;
    if (b->write && b->kind != 'd' && b->kind != 's' && !(std::fabs(x) <= most))
        return refused("bus value out of range", id);
    // The accessors never throw, but the texts handed to and from them are
    // made here and the cycle lock may fail: nothing leaves the dispatcher.
    try {
        // Between two cycles: the engine's accessors take no lock of their own
        // against the display's calls.
        std::lock_guard<std::mutex> between(bridge->cycle());
        switch (b->write || b->kind == 'v' ? -int(b->kind) : int(b->kind)) {
        case 'b': b->number = e->getbb(id, &record) ? 1.0 : 0.0; return 1;
        case 'h': b->number = e->getbh(id, &record); return 1;
        case 'i': b->number = e->getbi(id, &record); return 1;
        case 'l': b->number = double(e->getbl(id, &record)); return 1;
        case 'd': b->number = e->getbd(id, &record); return 1;
        case 's': {
            CoreAnsx const text = e->getbs(id, &record);
            std::size_t const n = std::min(std::strlen(text.c_str()), sizeof b->text - 1);
            std::memcpy(b->text, text.c_str(), n);
            b->text[n] = 0;
            return 1;
        }
        case -'b': e->setbb(id, x != 0.0, &record); return 1;
        case -'h': e->setbh(id, short(x), &record); return 1;
        case -'i': e->setbi(id, int(x), &record); return 1;
        case -'l': e->setbl(id, long(x), &record); return 1;
        case -'d': e->setbd(id, x, &record); return 1;
        case -'s':
            b->text[sizeof b->text - 1] = 0;
            // A text the engine refused (a file name outside its folder or
            // too long, a program text while booting) is answered as refused.
            return e->setbs(id, CoreAnsx(b->text), &record) ? 1 : refused("text refused", id);
        case -'v': e->setbv(id, &record); return 1;
        default: return refused("bus accessor", id);
        }
    } catch (...) {
        return refused("bus call failed", id);
    }
}

void CoreVrlg::prcss(void** in, void** out, std::int32_t frames, bool replace, bool dbl) {
    if (failed) {
        silence(*record, out, frames, replace, dbl);
        return;
    }
    // From here a write, even one the host makes inside the callbacks below,
    // plays from the next call.
    bridge->calln();
    std::intptr_t const level = call_(PlatVst::hostGetCurrentProcessLevel, 0, 0, nullptr, 0.0f);
    bridge->offln(level == PlatVst::levelOffline);
    // Offline, what the boot is about to play is what the render wants; in
    // real time (or when the host does not say) the input passes meanwhile.
    // So is the program a change sent with this call or before it loads:
    // the call goes on once that load has ended.
    if (level == PlatVst::levelOffline && opened.load()) {
        if (!bridge->booted()) await();
        loadw(dbl);
        if (record->closing.load()) {
            silence(*record, out, frames, replace, dbl);
            return;
        }
    }
    bridge->playd();
    double tempo = 0.0;
    auto const* time = reinterpret_cast<PlatVst::TimeInfo const*>(
        call_(PlatVst::hostGetTime, 0, PlatVst::timeTempoValid, nullptr, 0.0f));
    if (time != nullptr && (time->flags & PlatVst::timeTempoValid) && std::isfinite(time->tempo) &&
        time->tempo > 0.0)
        tempo = time->tempo;
    short const channels =
        fourinputs.load() && in != nullptr && in[2] != nullptr && in[3] != nullptr ? 4 : 2;
    master->getpr()->prcss(in, out, frames, replace, static_cast<short>(level == 4 ? 4 : level),
                           tempo, dbl, channels);
}

void CoreVrlg::await() {
    if (bridge->lapsd()) return; // one wait ran out: the boot is stuck, later calls pass
    auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(CorePpwr::iCbootwait);
    while (bridge->getbt() == 0 && !record->closing.load()) {
        if (std::chrono::steady_clock::now() >= end) {
            bridge->expir();
            return;
        }
        CoreXutl::sleep(1);
    }
}

void CoreVrlg::loadw(bool dbl) {
    // Only after a boot that ended, and not again for a load one wait gave up on.
    if (bridge->getbt() != 1 || bridge->stuck()) return;
    unsigned const drops = bridge->drops();
    bridge->waitl(true);
    // A hostAutomate in flight may be held by the host on a lock it holds
    // across this call: the load would then wait for that callback.
    if (bridge->chngd() && !bridge->autwt()) {
        bridge->waitl(false);
        return;
    }
    CorePrcs* const e = master->getpr();
    auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(CorePpwr::iCbootwait);
    while (bridge->chngd() && bridge->drops() == drops && !record->closing.load()) {
        if (std::chrono::steady_clock::now() >= end) {
            bridge->lapse();
            break;
        }
        // The load's muting waits for a call to pass the bypass path, and
        // this one is the only call coming: it passes with no frames. Should
        // the load's end take the bypass off in between, the no-frame call
        // hands in early what this call hands in, at the same place.
        if (e->getby())
            e->prcss(nullptr, nullptr, 0, true, PlatVst::levelOffline, 0.0, dbl, short(2));
        CoreXutl::sleep(1);
    }
    bridge->waitl(false);
}

CoreAnsx CoreVrlg::dsply(int index) {
    Bean x{index, 0};
    // A write waiting for the next process call is not in the engine yet,
    // nor, before the boot has ended, the value the host is answered: the
    // text is the one the engine shows once it is.
    float shown = 0.0f;
    if (!bridge->lbval(index, shown)) return master->getpr()->getbs(230, &x);
    return master->getpr()->ctlpd(index, shown);
}

void CoreVrlg::events(PlatVst::Events const* list) {
    if (list == nullptr || list->numEvents <= 0) return;
    for (std::int32_t i = 0; i < list->numEvents; ++i) {
        PlatVst::Event const* e = PlatVst::eventAt(list, i);
        if (e == nullptr || e->type != PlatVst::eventMidi) continue;
        if (e->byteSize < static_cast<std::int32_t>(offsetof(PlatVst::MidiEvent, midiData) + 3))
            continue;
        auto const* m = reinterpret_cast<PlatVst::MidiEvent const*>(e);
        bridge->midi_(static_cast<unsigned char>(m->midiData[0]),
                      static_cast<unsigned char>(m->midiData[1]),
                      static_cast<unsigned char>(m->midiData[2]), m->deltaFrames);
    }
}

std::intptr_t CoreVrlg::chunk(bool get, std::intptr_t size, void* ptr) {
    if (ptr == nullptr) return 0;
    CorePrcs* e = master->getpr();
    if (get) {
        // The engine's buffer: the current program as a setup document, or
        // its marker of a state with nothing to save. It carries every
        // parameter write made before the read, but for those a program
        // change queued before them will follow (they go in after its load,
        // as without the read); a host that has read a program has seen the
        // state it may later write back.
        bridge->flush();
        void* data = nullptr;
        int const n = e->getck(&data);
        if (n <= 0 || data == nullptr) return 0;
        if (std::strncmp(static_cast<char const*>(data), CorePrcs::sCemptyxml.c_str(),
                         std::size_t(n)) != 0)
            bridge->seenp();
        *static_cast<void**>(ptr) = data;
        return n;
    }
    if (size <= 0) return 0;
    // A chunk the engine would refuse changes nothing here either: the
    // rate, a queued program change and the display stay as they are.
    if (!e->ckchk(ptr, static_cast<long>(size))) return 0;
    // The control thread's updates wait, and a program change the host
    // queued before the restore must not replace the restored program.
    bridge->hold_(true);
    bridge->dropp();
    bridge->reopn();
    e->setbi(78, hostrate.load(), nullptr);
    bool const restored = e->setck(ptr, static_cast<long>(size));
    bridge->rload(); // before the return: the host reads the restored values at once
    bridge->hold_(false);
    if (control != nullptr) control->setdp(); // the display shows the restored program
    if (latency()) record->moved.store(true);
    return restored ? 1 : 0;
}

std::intptr_t CoreVrlg::dispt(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                              void* ptr, float opt) {
    using V = PlatVst;
    if (opcode == V::opClose) {
        // From a callback of the control thread (the pass's automation, the
        // report of a load or the boot) that thread cannot be joined from
        // itself: it is told to end and, once it has left the bridge, the
        // display, the engine and this object, deletes this object as its
        // last act. From any other thread the teardown joins it here.
        if (control != nullptr && control->orphn(&CoreVrlg::reap_, this)) return 1;
        delete this;
        return 1;
    }
    // Texts and fixed answers hold for a failed instance too: scanners read them.
    switch (opcode) {
    case V::opGetVstVersion: return V::interfaceVersion;
    case V::opGetPlugCategory: return V::categoryEffect;
    case V::opGetEffectName: text_(ptr, CoreLog_::sCproductn.c_str(), V::effectNameMax); return 1;
    case V::opGetProductString: text_(ptr, CoreLog_::sCproductn.c_str(), V::productMax); return 1;
    case V::opGetVendorString: text_(ptr, CoreLog_::sCvendor_n.c_str(), V::vendorMax); return 1;
    case V::opGetVendorVersion: return effect.version;
    case V::opGetProgram: return 0;
    case V::opSetProgram: return 0;
    case V::opGetProgramName: text_(ptr, programname, V::programNameMax); return 0;
    case V::opGetProgramNameIndexed:
        if (index != 0) return 0;
        text_(ptr, programname, V::programNameMax);
        return 1;
    case V::opSetProgramName:
        if (ptr) text_(programname, static_cast<char const*>(ptr), V::programNameMax);
        return 0;
    case V::opCanDo: {
        if (ptr == nullptr) return 0;
        char const* t = static_cast<char const*>(ptr);
        if (std::strncmp(t, V::canDoReceiveEvents, 64) == 0 ||
            std::strncmp(t, V::canDoReceiveMidiEvent, 64) == 0)
            return V::canDoYes;
        return 0;
    }
    default: break;
    }
    if (failed) {
        // Our host asks how the boot went: an instance that failed to build never boots.
        if (opcode == V::opVendorSpecific && index == CorePrvt::iCtag && ptr != nullptr &&
            static_cast<CorePrvt::CALL*>(ptr)->kind == CorePrvt::iCboot)
            return -1;
        if (ptr != nullptr && (opcode == V::opGetParamName || opcode == V::opGetParamDisplay ||
                               opcode == V::opGetParamLabel))
            text_(ptr, "", 0);
        return 0;
    }
    CorePrcs* e = master->getpr();
    switch (opcode) {
    case V::opOpen: open_(); return 0;
    case V::opSetSampleRate: {
        if (!std::isfinite(opt) || opt < kMinRate || opt > kMaxRate) {
            CoreLog_::loger(CoreAnsx("sample rate refused: ") + CoreAnsx(double(opt)), 2);
            return 0;
        }
        int const rate = static_cast<int>(std::lround(opt));
        hostrate.store(rate);
        bridge->setrt(rate);
        // The rate change rewrites the program's rate while the control
        // thread's pass and display tick read the program: they wait.
        bridge->hold_(true);
        e->setbi(78, rate, nullptr);
        bridge->hold_(false);
        if (latency()) record->moved.store(true);
        return 0;
    }
    case V::opSetBlockSize: {
        if (value < 1 || value > kMaxBlock) {
            CoreLog_::loger(CoreAnsx("block size refused: ") + CoreAnsx(long(value)), 2);
            return 0;
        }
        hostblock.store(static_cast<int>(value));
        bridge->setbk(static_cast<int>(value));
        // Passed on during the boot too: the boot's first settings file keeps
        // a processing block that fits it. After the boot the change reloads
        // the program, which the control thread's pass and display tick read:
        // they wait meanwhile.
        bool const booted = bridge->booted();
        if (booted) bridge->hold_(true);
        e->setbi(84, static_cast<int>(value), nullptr);
        if (booted) bridge->hold_(false);
        if (latency()) record->moved.store(true);
        return 0;
    }
    case V::opMainsChanged:
        if (value == 0) e->setbv(80, nullptr);
        return 0;
    case V::opGetTailSize: return e->getbl(61, nullptr);
    case V::opGetParamName:
    case V::opGetParamDisplay:
    case V::opGetParamLabel: {
        if (ptr == nullptr) return 0;
        if (index < 0 || index >= CorePpwr::iCparameters) {
            text_(ptr, "", 0);
            return 0;
        }
        int const id = opcode == V::opGetParamName      ? 229
                       : opcode == V::opGetParamDisplay ? 230
                                                        : 231;
        Bean x{index, 0};
        CoreAnsx const t = id == 230 ? dsply(index) : e->getbs(id, &x);
        text_(ptr, t.c_str(), V::paramTextMax);
        return 0;
    }
    case V::opCanBeAutomated: return index >= 0 && index < CorePpwr::iCparameters ? 1 : 0;
    case V::opGetChunk: return chunk(true, 0, ptr);
    case V::opSetChunk: return chunk(false, value, ptr);
    case V::opProcessEvents: events(static_cast<PlatVst::Events const*>(ptr)); return 1;
    case V::opSetProcessPrecision:
        return value == V::precision32 || value == V::precision64 ? 1 : 0;
    case V::opStartProcess:
    case V::opStopProcess: return 0;
    case V::opEditGetRect:
    case V::opEditOpen:
    case V::opEditClose:
    case V::opEditIdle: return editr(opcode, ptr);
    case V::opVendorSpecific: return index == CorePrvt::iCtag ? prvte(ptr) : 0;
    default: return 0;
    }
}
