#include "plugin/CorePpwr.h"

#include <cmath>

#include "processing/CorePrcs.h"
#include "runtime/CoreLog_.h"

namespace {
using Bean = CorePrcs::BEANSTRUCT;
constexpr int kPeriodDefault = 40; // ms, when the engine gives no GUI rate
constexpr float kSame = 1e-6f;     // a control's read-back this near the host's value took it
} // namespace

CorePpwr::CorePpwr(CorePrcs* engine_, Listener* listener_) : engine(engine_), listener(listener_) {
    for (int i = 0; i < iCparameters; ++i) {
        pending[i].store(0.0f);
        haspending[i].store(false);
        known[i].store(0.0f);
        answered[i].store(0.0f);
        recheck[i].store(false);
        touched[i].store(false);
    }
}

void CorePpwr::preld(float const* values) {
    for (int i = 0; i < iCparameters; ++i) {
        known[i].store(values[i]);
        answered[i].store(values[i]);
        pushed[i] = values[i];
    }
}

void CorePpwr::setpm(int index, float value) {
    if (index < 0 || index >= iCparameters || !std::isfinite(value)) return;
    value = value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
    // Hosts snapshot a new instance's parameters and restore them: that
    // must not replace what the boot program (or a restored chunk) set. An
    // earlier write of another value, still pending, goes with it. Once the
    // user or host has chosen a program, or the user has moved this
    // control, the same value is a deliberate setting.
    if (!played.load() && !touched[index].load() && !chosen() && value == answered[index].load()) {
        haspending[index].store(false);
        known[index].store(value);
        recheck[index].store(true);
        return;
    }
    pending[index].store(value);
    known[index].store(value);
    haspending[index].store(true);
}

float CorePpwr::getpm(int index) {
    if (index < 0 || index >= iCparameters) return 0.0f;
    return known[index].load();
}

void CorePpwr::midi_(unsigned char status, unsigned char data1, unsigned char data2, int frame) {
    unsigned const kind = status & 0xF0u;
    if (kind < 0x80u || kind == 0xF0u) return; // running data or system messages
    if (kind == 0xB0u && data1 == 32) {
        if (data2 < iCbankmax) bank.store(data2);
    } else if (kind == 0xC0u) {
        program.store(bank.load() * iCprogramsperbank + data1 % iCprogramsperbank);
    }
    // The engine's own word: channel, status, data 1, data 2, lowest byte first.
    int const h = head.load(std::memory_order_relaxed);
    int const next = (h + 1) % iCmidiqueue;
    if (next == tail.load(std::memory_order_acquire)) return; // full: dropped
    queue[h].word =
        (status & 0x0Fu) | kind << 8 | unsigned(data1 & 0x7F) << 16 | unsigned(data2 & 0x7F) << 24;
    queue[h].frame = frame < 0 ? 0 : frame;
    head.store(next, std::memory_order_release);
}

void CorePpwr::dropp() { program.store(-1); }
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
void CorePpwr::playd() {
    if (bootdone.load() && !played.load()) played.store(true);
}
bool CorePpwr::chosen() const {
    // The count is 0 until the boot has ended: the boot loads without it,
    // and bean 88 and the display's loads wait for the boot.
    return engine != nullptr && engine->ldask() != 0;
}
void CorePpwr::expir() { expired.store(true); }
bool CorePpwr::lapsd() { return expired.load(); }

void CorePpwr::finish() {
    // The host's rate and block size, then the parameter values it wrote
    // while the boot ran, all before an offline process call waiting for
    // the boot goes on (it waits for bootdone, never for a host callback);
    // a program change that waited follows in the passes.
    engine->setbi(78, rate.load(), nullptr);
    if (int const b = block.load(); b > 0) engine->setbi(84, b, nullptr);
    for (int i = 0; i < iCparameters; ++i)
        if (haspending[i].exchange(false)) take_(i, pending[i].load());
    bootdone.store(true);
    if (listener) listener->loaded();
}

void CorePpwr::take_(int i, float value) {
    Bean x{i, 0};
    engine->setbd(156, value, &x);
    // The host's own value never comes back to it as automation. A control
    // the program leaves unused takes no value: the host's value stands all
    // the same, until the host, the user or a program load moves it.
    pushed[i] = static_cast<float>(engine->getbd(156, &x));
    refused[i] = std::fabs(pushed[i] - value) > kSame;
}

void CorePpwr::automation() {
    bool const reloaded = reload.exchange(false);
    for (int i = 0; i < iCparameters; ++i) {
        if (haspending[i].exchange(false)) {
            take_(i, pending[i].load());
            continue;
        }
        Bean x{i, 0};
        float const v = static_cast<float>(engine->getbd(156, &x));
        bool const moved = v != pushed[i];
        // A dropped write-back left the host believing what it was answered.
        bool const stale = recheck[i].exchange(false) && v != known[i].load();
        if (!moved && !stale && !(reloaded && refused[i])) continue;
        // A move in a later pass with no program load behind it is the
        // user's: the first pass only corrects what the host was answered.
        if (moved && !reloaded && passes > 1) touched[i].store(true);
        pushed[i] = v;
        refused[i] = false;
        if (haspending[i].load()) continue; // the host's newer value wins
        known[i].store(v);
        if (listener) listener->automate(i, v);
    }
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
    automation();
    for (int t = tail.load(std::memory_order_relaxed); t != head.load(std::memory_order_acquire);
         t = (t + 1) % iCmidiqueue) {
        Bean x{queue[t].frame, 0};
        engine->setbi(186, static_cast<int>(queue[t].word), &x);
        tail.store((t + 1) % iCmidiqueue, std::memory_order_release);
    }
    return period;
}

int CorePpwr::takep() {
    if (engine == nullptr || !bootdone.load()) return -1;
    return program.exchange(-1);
}

void CorePpwr::lodnd() {
    reload.store(true);
    if (listener) listener->loaded();
}

void CorePpwr::rload() { reload.store(true); }

void CorePpwr::bootf() {
    if (!bootfailed.exchange(true) && listener) listener->loaded();
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
