#include "plugin/CorePpwr.h"

#include <bit>
#include <chrono>
#include <cmath>

#include "processing/CorePrcs.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreXutl.h"

namespace {
using Bean = CorePrcs::BEANSTRUCT;
constexpr int kPeriodDefault = 40; // ms, when the engine gives no GUI rate
constexpr float kSame = 1e-6f;     // a control's read-back this near the host's value took it
// A last word: data 2 in bits 0-6, the channel in 7-10, the frame in 11-30
// (later frames wait as this one: an engine block is far shorter), bit 31
// set, the call count in 32-63.
constexpr std::uint32_t kFrameMost = (1u << 20) - 1u;

// What the host reads of a parameter: its value in the low half, the count
// of the host's writes (and restores) in the high half, so a told value
// goes in only while the count it was noted at still holds.
std::uint64_t packed(unsigned count, float value) {
    return std::uint64_t(count) << 32 | std::bit_cast<std::uint32_t>(value);
}
float valueOf(std::uint64_t word) { return std::bit_cast<float>(std::uint32_t(word)); }
unsigned countOf(std::uint64_t word) { return unsigned(word >> 32); }

// The key of a message word (status kind and data 1): 0 .. 7 x 128 - 1.
std::size_t keyOf(std::uint32_t word) {
    return ((word >> 12 & 0xFu) - 8u) * 128u + (word >> 16 & 0x7Fu);
}
} // namespace

CorePpwr::CorePpwr(CorePrcs* engine_, Listener* listener_) : engine(engine_), listener(listener_) {
    for (int i = 0; i < iCparameters; ++i) {
        pending[i].store(0.0f);
        haspending[i].store(false);
        stamp[i].store(0u);
        prior[i].store(0.0f);
        hasprior[i].store(false);
        known[i].store(packed(0u, 0.0f));
        restored[i].store(0.0f);
        asked[i].store(0.0f);
        took[i].store(0.0f);
        applying[i].store(0u);
        open[i].store(true);
        told[i].store(0.0f);
        recheck[i].store(false);
    }
    for (int i = 0; i < iCmidiqueue; ++i) {
        queue[i].turn.store(std::uint64_t(i));
        queue[i].record = MIDIREC{};
    }
    for (int k = 0; k < iCmidikeys; ++k) {
        last[k].store(0u);
        inring[k].store(0);
    }
    if (engine != nullptr) engine->setwt(this);
}

void CorePpwr::preld(float const* values) {
    for (int i = 0; i < iCparameters; ++i) {
        known[i].store(packed(0u, values[i]));
        told[i].store(values[i]);
        restored[i].store(values[i]);
        pushed[i] = values[i];
    }
}

bool CorePpwr::window(int i) const {
    // The count is 0 until the boot has ended: the boot loads without it,
    // and bean 88 and the display's loads wait for the boot.
    return open[i].load() && !played.load() &&
           (engine == nullptr || engine->ldask() == openedat.load());
}

void CorePpwr::setpm(int index, float value) {
    if (index < 0 || index >= iCparameters || !std::isfinite(value)) return;
    value = value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
    // Hosts snapshot a new instance's parameters and restore them: that
    // must not replace what the boot program (or a restored chunk) set. An
    // earlier write still waiting goes with it. Once the window has ended,
    // the same value is a deliberate setting.
    if (window(index)) {
        if (value == told[index].load()) {
            haspending[index].store(false);
            hasprior[index].store(false);
            newkn(index, value);
            recheck[index].store(true);
            return;
        }
        open[index].store(false); // the host writes over a state it has seen
    }
    // A write made before the call in progress keeps its turn in that call.
    unsigned const now = calls.load();
    if (haspending[index].load() && stamp[index].load() != now) {
        prior[index].store(pending[index].load());
        hasprior[index].store(true);
    }
    pending[index].store(value);
    stamp[index].store(now);
    newkn(index, value);
    haspending[index].store(true);
}

void CorePpwr::newkn(int i, float value) {
    std::uint64_t now = known[i].load();
    while (!known[i].compare_exchange_weak(now, packed(countOf(now) + 1u, value))) {
    }
}

float CorePpwr::getpm(int index) {
    if (index < 0 || index >= iCparameters) return 0.0f;
    float const value = valueOf(known[index].load());
    // The host reads a value other than the one its window holds: it has
    // seen the state a later write goes over. A restore's own value is no
    // such state: the snapshot the host may write back is older than it.
    if (value != told[index].load() && value != restored[index].load()) open[index].store(false);
    return value;
}

bool CorePpwr::lbval(int index, float& value) {
    if (index < 0 || index >= iCparameters) return false;
    if (haspending[index].load()) {
        value = pending[index].load();
        return true;
    }
    value = valueOf(known[index].load());
    return !bootdone.load();
}

void CorePpwr::midi_(unsigned char status, unsigned char data1, unsigned char data2, int frame) {
    unsigned const kind = status & 0xF0u;
    if (kind < 0x80u || kind == 0xF0u) return; // running data or system messages
    if (kind == 0xB0u && data1 == 32) {
        if (data2 < iCbankmax) bank.store(data2);
    } else if (kind == 0xC0u) {
        // Queued before this returns: an offline call after it waits for the load.
        program.store(bank.load() * iCprogramsperbank + data1 % iCprogramsperbank);
    }
    // The engine's own word: channel, status, data 1, data 2, lowest byte first.
    MIDIREC const record{(status & 0x0Fu) | kind << 8 | unsigned(data1 & 0x7F) << 16 |
                             unsigned(data2 & 0x7F) << 24,
                         frame < 0 ? 0 : frame, calls.load()};
    std::size_t const key = keyOf(record.word);
    std::uint32_t const at = std::uint32_t(record.frame) < kFrameMost ? record.frame : kFrameMost;
    std::uint64_t const packed = std::uint64_t(record.call) << 32 | 1u << 31 | at << 11 |
                                 (status & 0x0Fu) << 7 | unsigned(data2 & 0x7F);
    std::atomic<std::uint64_t>& newest = last[key];
    std::uint64_t held = newest.load();
    for (;;) {
        if (held != 0) {
            // The key's word is set: this message is its newest.
            if (newest.compare_exchange_weak(held, packed)) break;
            continue; // the consumer took it meanwhile (0 now), or another thread wrote one
        }
        inring[key].fetch_add(1);
        if (push(record)) return;
        inring[key].fetch_sub(1);
        newest.store(packed); // the ring is full: newer than all the key's messages in it
        break;
    }
    spilt.store(true);
}

bool CorePpwr::push(MIDIREC const& record) {
    std::uint64_t at = head.load(std::memory_order_relaxed);
    for (;;) {
        MIDISLOT& slot = queue[at % iCmidiqueue];
        std::uint64_t const turn = slot.turn.load(std::memory_order_acquire);
        if (turn < at) return false; // a round behind: its message is not taken yet
        if (turn > at) {
            at = head.load(std::memory_order_relaxed); // another producer claimed it
            continue;
        }
        if (head.compare_exchange_weak(at, at + 1, std::memory_order_relaxed)) {
            slot.record = record;
            slot.turn.store(at + 1, std::memory_order_release);
            return true;
        }
    }
}

void CorePpwr::spill(CorePrcs& e, unsigned now, bool call) {
    if (!spilt.exchange(false)) return;
    bool left = false;
    for (int k = 0; k < iCmidikeys; ++k) {
        std::uint64_t word = last[k].load();
        if (word == 0) continue;
        // The key's older messages still in the ring go first (a later
        // hand-in), as does one sent during this call; a producer that
        // replaced the word meanwhile leaves it for the next hand-in too.
        if (inring[k].load() != 0 || (call && unsigned(word >> 32) == now) ||
            !last[k].compare_exchange_strong(word, 0u)) {
            left = true;
            continue;
        }
        auto const low = std::uint32_t(word);
        auto const kind = unsigned(k) / 128u + 8u, data1 = unsigned(k) % 128u;
        e.takmd(int(low >> 11 & kFrameMost),
                int((low >> 7 & 0x0Fu) | kind << 12 | data1 << 16 | (low & 0x7Fu) << 24));
    }
    if (left) spilt.store(true);
}

void CorePpwr::dropp() {
    dropped.fetch_add(1u);
    program.store(-1);
    loadlapsed.store(false);
}
void CorePpwr::hold_(bool on) {
    if (!on) {
        int now = held.load();
        while (now > 0 && !held.compare_exchange_weak(now, now - 1)) {
        }
        return;
    }
    held.fetch_add(1);
    // A cycle that started before the hold ends before the caller goes on.
    std::lock_guard<std::mutex> wait(cyclelock);
}
bool CorePpwr::isheld() { return held.load() > 0; }
void CorePpwr::setrt(int r) { rate.store(r); }
void CorePpwr::setbk(int frames) { block.store(frames); }
bool CorePpwr::booted() { return bootdone.load(); }
int CorePpwr::getbt() { return bootdone.load() ? 1 : bootfailed.load() ? -1 : 0; }
int CorePpwr::getsl() {
    // Read when asked: a chunk restored on the host's thread moves it too,
    // and after a load that fell back it names location 0, which plays.
    return engine != nullptr && bootdone.load() ? engine->getbi(67, nullptr) : -1;
}
int CorePpwr::getbn() { return bank.load(); }
void CorePpwr::calln() { calls.fetch_add(1u, std::memory_order_relaxed); }
void CorePpwr::playd() {
    if (bootdone.load() && !played.load()) played.store(true);
}
void CorePpwr::expir() { expired.store(true); }
bool CorePpwr::lapsd() { return expired.load(); }
bool CorePpwr::chngd() { return program.load() >= 0 || loading.load(); }
unsigned CorePpwr::drops() { return dropped.load(); }
void CorePpwr::waitl(bool on) { loadwaits.fetch_add(on ? 1 : -1); }
void CorePpwr::offln(bool offline) { lastoffline.store(offline, std::memory_order_relaxed); }
void CorePpwr::named(int callback) { callbk.store(callback); }
void CorePpwr::lapse() { loadlapsed.store(true); }
bool CorePpwr::stuck() { return loadlapsed.load(); }

bool CorePpwr::autwt() {
    // The wait is marked (waitl) before this looks, as the pass marks its
    // callback before it looks for a wait: one of the two sees the other.
    unsigned const flying = automating.load();
    if ((flying & 1u) == 0) return true;
    if (flying == gaveup.load()) return false;
    auto const end = std::chrono::steady_clock::now() + std::chrono::milliseconds(iCautowait);
    while (automating.load() == flying) {
        if (std::chrono::steady_clock::now() >= end) {
            // The host may hold the callback on the lock it holds across
            // this call: waiting for the load would wait for the bound.
            gaveup.store(flying);
            heldcall.store(callbk.load());
            latewarn.store(true);
            return false;
        }
        CoreXutl::sleep(1);
    }
    return true;
}

void CorePpwr::finish() {
    // The host's rate and block size, then the parameter values it wrote
    // while the boot ran, all before an offline process call waiting for
    // the boot goes on (it waits for bootdone, never for a host callback);
    // a program change that waited follows in the passes.
    engine->setbi(78, rate.load(), nullptr);
    if (int const b = block.load(); b > 0) engine->setbi(84, b, nullptr);
    engine->takwt(true, false);
    bootdone.store(true);
    bootnote = true;
}

bool CorePpwr::waits() {
    for (int i = 0; i < iCparameters; ++i)
        if (haspending[i].load() || hasprior[i].load()) return true;
    return tail.load(std::memory_order_acquire) != head.load(std::memory_order_acquire) ||
           spilt.load();
}

void CorePpwr::hndin(CorePrcs& e, bool call) {
    unsigned const now = calls.load();
    for (int i = 0; i < iCparameters; ++i) {
        // The newest write made before the call wins; one made during it waits.
        bool any = false;
        float value = 0.0f;
        if (hasprior[i].exchange(false)) {
            value = prior[i].load();
            any = true;
        }
        if (haspending[i].load() && (!call || stamp[i].load() != now) &&
            haspending[i].exchange(false)) {
            value = pending[i].load();
            any = true;
        }
        if (!any) continue;
        applying[i].fetch_add(1u);
        took[i].store(static_cast<float>(e.takpm(static_cast<short>(i), value)));
        asked[i].store(value);
        applying[i].fetch_add(1u);
    }
    // The hand-ins take turns under the engine lock: each is the consumer.
    // A slot still being written stops it: the rest waits for the next one.
    for (;;) {
        std::uint64_t const at = tail.load(std::memory_order_relaxed);
        MIDISLOT& slot = queue[at % iCmidiqueue];
        if (slot.turn.load(std::memory_order_acquire) != at + 1) break;
        MIDIREC const record = slot.record;
        if (call && record.call == now) break; // sent during this call: the next one's
        slot.turn.store(at + iCmidiqueue, std::memory_order_release);
        tail.store(at + 1, std::memory_order_release);
        inring[keyOf(record.word)].fetch_sub(1);
        e.takmd(record.frame, static_cast<int>(record.word));
    }
    spill(e, now, call);
}

void CorePpwr::flush() {
    // A queued or loading program change replaces whatever goes in before
    // it, and an offline call waiting for one hands its writes in after the
    // load: a read then takes the program as it plays, and the writes keep
    // their place.
    if (engine != nullptr && !chngd() && loadwaits.load() == 0) engine->takwt(true, true);
}

void CorePpwr::seenp() {
    for (std::atomic<bool>& o : open) o.store(false);
}

void CorePpwr::reopn() {
    if (played.load()) return;
    for (int i = 0; i < iCparameters; ++i) {
        told[i].store(valueOf(known[i].load()));
        open[i].store(true);
    }
    openedat.store(engine != nullptr ? engine->ldask() : 0u);
}

void CorePpwr::automation() {
    bool const reloaded = reload.exchange(false);
    bool retry = false; // a parameter skipped: the reload's hand-back waits for the next pass
    for (int i = 0; i < iCparameters; ++i) {
        // Taken first: a host write counted after it keeps the note untold.
        unsigned const wrote = countOf(known[i].load());
        if (haspending[i].load() || hasprior[i].load()) continue; // the host's value comes
        unsigned const count = applying[i].load();
        if ((count & 1u) != 0) {
            retry = retry || reloaded;
            continue;
        }
        if (count != seen[i]) {
            // The host's own value never comes back to it as automation. A
            // control the program leaves unused takes no value: the host's
            // value stands all the same, until the host, the user or a
            // program load moves it.
            pushed[i] = took[i].load();
            refused[i] = std::fabs(pushed[i] - asked[i].load()) > kSame;
        }
        Bean x{i, 0};
        float const v = static_cast<float>(engine->getbd(156, &x));
        if (applying[i].load() != count) { // a hand-in ran meanwhile: next pass
            retry = retry || reloaded;
            continue;
        }
        seen[i] = count;
        bool const moved = v != pushed[i];
        // A dropped write-back left the host believing what it was answered.
        bool const stale = recheck[i].exchange(false) && v != valueOf(known[i].load());
        if (!moved && !stale && !(reloaded && refused[i])) continue;
        // A move in a later pass with no program load behind it is the
        // user's: the first pass only corrects what the host was answered.
        if (moved && !reloaded && passes > 1) open[i].store(false);
        pushed[i] = v;
        refused[i] = false;
        if (haspending[i].load()) continue; // the host's newer value wins
        noted[i] = true;
        notedvalue[i] = v;
        notedwrites[i] = wrote;
    }
    if (retry) reload.store(true);
}

int CorePpwr::pass() {
    if (engine == nullptr) return kPeriodDefault;
    long const us = engine->getbl(65, nullptr);
    int const period = us >= 1000 ? static_cast<int>(us / 1000) : kPeriodDefault;
    if (expired.load() && !expirylogged) {
        expirylogged = true;
        CoreLog_::loger(CoreAnsx("offline process call waited ") + CoreAnsx(iCbootwait) +
                            CoreAnsx(" s for the boot: input passed through"),
                        0);
    }
    if (bool const lapsed = loadlapsed.load(); lapsed != loadlogged) {
        loadlogged = lapsed;
        if (lapsed)
            CoreLog_::loger(CoreAnsx("offline process call waited ") + CoreAnsx(iCbootwait) +
                                CoreAnsx(" s for a program load: the program playing went on"),
                            0);
    }
    if (latewarn.exchange(false)) {
        int const held = heldcall.load();
        CoreAnsx const what = held == iCcbiochanged ? CoreAnsx("its hostIoChanged callback")
                              : held == iCcbupdate  ? CoreAnsx("its hostUpdateDisplay callback")
                                                    : CoreAnsx("an automation callback");
        CoreLog_::loger(CoreAnsx("offline process call did not wait for a program load while the "
                                 "host held ") +
                            what + CoreAnsx(": the change may play late"),
                        0);
    }
    if (held.load() > 0) return period;
    if (!bootdone.load()) {
        // The display's boot page runs the boot steps. Audio stays in bypass
        // meanwhile; parameters, block size and program changes wait here.
        // The boot has ended once its last step ran (46 clears a step
        // earlier, and the last step hands the audio from the bypass to the
        // program);
        // after a boot a restored chunk ran, the page's next step call says so.
        if (engine->getbb(46, nullptr) || !engine->getbb(147, nullptr)) return period;
        finish();
    }
    ++passes;
    engine->setbi(66, rate.load(), nullptr);
    engine->setbv(241, nullptr); // the parameter modulators move only here
    engine->getbb(81, nullptr);
    // A host that processes hands its writes and MIDI in with its calls;
    // for one that has not called since the last pass, the pass does,
    // between two calls and only when no call holds the engine.
    // An offline call waiting for a load hands its writes in itself, after
    // the load, and the host may hold a callback until that call returns.
    // Offline, a program change queued or loading goes first, as the host's
    // next call would have it.
    bool const waited = loadwaits.load() > 0;
    unsigned const now = calls.load(std::memory_order_relaxed);
    if (now == quiet && !waited && !(lastoffline.load(std::memory_order_relaxed) && chngd()))
        engine->takwt(false, false);
    quiet = now;
    if (!waited) automation();
    return period;
}

int CorePpwr::takep() {
    if (engine == nullptr || !bootdone.load()) return -1;
    // Marked before the take: a waiting call sees the queued slot or the load.
    bool const before = loading.load();
    loading.store(true);
    int const slot = program.exchange(-1);
    if (slot < 0) loading.store(before);
    return slot;
}

void CorePpwr::lodrn() { loading.store(true); }

void CorePpwr::lodnd() {
    reload.store(true);
    loading.store(false);
    loadlapsed.store(false);
    loadnote = true;
}

void CorePpwr::rload() {
    reload.store(true);
    if (engine == nullptr || !bootdone.load()) return;
    for (int i = 0; i < iCparameters; ++i) {
        // Each count moves on, so nothing noted before the restore is told
        // after it; a waiting write keeps its value, as it plays next.
        float value = valueOf(known[i].load());
        if (!haspending[i].load() && !hasprior[i].load()) {
            Bean x{i, 0};
            value = static_cast<float>(engine->getbd(156, &x));
        }
        restored[i].store(value);
        newkn(i, value);
    }
}

void CorePpwr::bootf() {
    if (!bootfailed.exchange(true)) loadnote = true;
}

bool CorePpwr::board(int callback) {
    callbk.store(callback);
    // Marked in flight before the look for a wait (see autwt).
    automating.fetch_add(1u);
    if (loadwaits.load() == 0) return true;
    automating.fetch_add(1u); // held back: told at a later cycle
    return false;
}

void CorePpwr::tellh() {
    if (bootnote && board(iCcbupdate)) {
        bootnote = false;
        if (listener) listener->loaded();
        automating.fetch_add(1u);
    }
    for (int i = 0; i < iCparameters; ++i) {
        if (!noted[i] || !board(iCcbautomate)) continue;
        noted[i] = false;
        // Only while no host write or restore came after the note: one
        // step, so a write racing with it is never left under the note.
        std::uint64_t now = known[i].load();
        if (countOf(now) == notedwrites[i] &&
            known[i].compare_exchange_strong(now, packed(notedwrites[i], notedvalue[i])) &&
            listener)
            listener->automate(i, notedvalue[i]);
        automating.fetch_add(1u);
    }
    if (loadnote && board(iCcbupdate)) {
        loadnote = false;
        if (listener) listener->loaded();
        automating.fetch_add(1u);
    }
}

void CorePpwr::prchg(int id, int index, int value) {
    std::lock_guard<std::mutex> guard(listenlock);
    for (PROPLISTENERLOC const& l : listeners) l.listener(l.context, id, index, value);
}

void CorePpwr::lstnr(PROPLISTENER listener, void* context, bool on) {
    if (listener == nullptr) return;
    std::lock_guard<std::mutex> guard(listenlock);
    if (on) {
        try {
            listeners.push_back(PROPLISTENERLOC{listener, context});
        } catch (...) {
            CoreLog_::loger(CoreAnsx("property listener not added"), 1);
        }
        return;
    }
    for (auto i = listeners.begin(); i != listeners.end(); ++i)
        if (i->listener == listener && i->context == context) {
            listeners.erase(i);
            return;
        }
}
