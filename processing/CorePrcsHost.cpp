// CorePrcs host process entry: the rings between the host's blocks and the
// engine's processing blocks, the hand-off to the worker, the write-back to
// the host, the bypass path and switch, and the small ring operations.
//
// Ring contract (every ring N samples, N a power of two, indices wrap):
// - input ring, side ring: written only by the host entry at the input write
//   index, never past the output read index (free space); read by the block
//   worker behind the handed-off end, and up to the lookahead beyond it.
// - output ring: written only by the block worker, from the produced end up
//   to the handed-off end; read by the host entry at the output read index,
//   never beyond the produced end (the wait for output).
// - Gain out ring: beside the input ring, the Gain out each input frame was
//   written with; written where the input is, read by the block worker's
//   output stage at the frame's input position. A position the host entry
//   did not write holds the Gain out in force when it was filled or
//   cleared, never 0.
// - bypass ring: written and read only under the bypass semaphore.
// Nothing overflows: a host call longer than the free space works in chunks.
// When the worker keeps the host waiting longer than kWorkerWaitMs, the
// chunk is dropped whole (silence out, no index moves), so the positions
// stay in step and the pipeline resumes when the worker does; blocks whose
// hand-off timed out stay in the carry and run inline at the next chunk.
// A host call that does not get the bypass or the engine semaphore within
// its level's bound (one bound for both) is dropped the same way, whole: its
// parameter writes and MIDI stay with the shell for the next call.
// No wait of the call sleeps longer than kPauseMs at a time: a semaphore's
// own sleep (a millisecond) is longer than the shortest calls.
#include "processing/CorePrcs.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "engine/CoreCnvl.h"
#include "engine/CoreDnrm.h"
#include "modulation/CoreIfce.h"
#include "program/CoreMmry.h"
#include "program/CoreProg.h"
#include "runtime/CoreAudp.h"
#include "runtime/CoreBlnk.h"
#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreSmgd.h"
#include "runtime/CoreXutl.h"

namespace {

constexpr int kWorkerWaitMs = 2000; // longest wait for the worker before a chunk is dropped
constexpr long kGainIn = 8;         // interface control GAININ
constexpr long kGainOut = 9;        // interface control GAINOUT
// Longest pause between two tries of a lock or a look at the worker's
// output in a host call, ms: short against the shortest call a real-time
// host makes.
constexpr double kPauseMs = 0.1;

// How the output goes back to the host.
enum OutMode { replaceFloat, addFloat, writeDouble };

// Host input sample i of channel c, silence for a missing buffer. Magnitudes
// not above the threshold, NaN and infinities enter as 0.
inline double hostIn(void* const* in, int c, long i, bool dbl) noexcept {
    if (in == nullptr || in[c] == nullptr) return 0.0;
    double const v = dbl ? static_cast<double const*>(in[c])[i]
                         : static_cast<double>(static_cast<float const*>(in[c])[i]);
    return std::fabs(v) > CorePrcs::dCdenormalthreshold && std::isfinite(v) ? v : 0.0;
}

inline void hostOut(void* const* out, int c, long i, double v, OutMode mode) noexcept {
    if (out == nullptr || out[c] == nullptr) return;
    switch (mode) {
    case replaceFloat: static_cast<float*>(out[c])[i] = static_cast<float>(v); break;
    case addFloat: static_cast<float*>(out[c])[i] += static_cast<float>(v); break;
    case writeDouble: static_cast<double*>(out[c])[i] = v; break;
    }
}

// Silence in the output mode: adding silence leaves the host's samples.
inline void hostSilence(void* const* out, int c, long i, OutMode mode) noexcept {
    if (mode != addFloat) hostOut(out, c, i, 0.0, mode);
}

// Asks ready until it answers true (true) or the time end passes (false),
// pausing at most kPauseMs between two asks; ms on CoreXutl::tgtme's clock.
template <class F> bool pollUntil(double end, F&& ready) noexcept {
    for (;;) {
        if (ready()) return true;
        double const left = end - CoreXutl::tgtme();
        if (left <= 0.0) return false;
        std::this_thread::sleep_for(
            std::chrono::duration<double, std::milli>(CoreButl::min__(left, kPauseMs)));
    }
}

constexpr double kNoEnd = std::numeric_limits<double>::infinity();

} // namespace

int CorePrcs::wrap_(int i) const noexcept { return i & ringwrap; }

int CorePrcs::dist_(int a, int b) const noexcept { return a <= b ? b - a : b - a + ringsize; }

int CorePrcs::space(int a, int b) const noexcept { return a == b ? ringsize : dist_(a, b); }

void CorePrcs::prcss(void* const* in, void* const* out, long frames, bool replace, short level,
                     double tempoarg, bool dbl, short channels) noexcept {
    CoreAudp audio;
    if (failed) return;
    if (tempoarg != 0.0 && std::isfinite(tempoarg)) tempo.store(tempoarg);
    if (frames < 0) frames = 0;
    OutMode const mode = dbl ? writeDouble : replace ? replaceFloat : addFloat;
    double const end = callEnd(frames, level);
    if (bypass.getvl() && bypss(in, out, frames, replace, dbl, end, level)) return;
    if (!takeUntil(enginesem, end, level)) {
        // Dropped whole, as a chunk the worker keeps waiting: nothing read,
        // no position moved, so the reported delay still holds.
        for (long i = 0; i < frames; ++i) {
            hostSilence(out, 0, i, mode);
            hostSilence(out, 1, i, mode);
        }
        return;
    }
    CoreSmgd engine(enginesem, CoreSmgd::ADOPT{});
    CoreDnrm fpu(CoreDnrm::iCrounding);
    handIn(); // the host's writes and MIDI sent with this call play from it on
    cpuFigures();
    pickRate(level);

    bool const sides = fourinput && channels >= 4 && in != nullptr && sidering[0] != nullptr &&
                       sidering[1] != nullptr;
    // With no step (no convolver configured) nothing is processed: the
    // blocks are produced as silence so the positions stay in step.
    bool const silent = step < 1 || currentblock < 1;
    CoreIfce* const gainin = program->getif(kGainIn);
    CoreIfce* const gainout = program->getif(kGainOut);
    long remaining = frames;
    long notinline = frames;
    bool multichunk = false;
    while (remaining > 0) {
        inputgain = 2.0 * gainin->getvl(true);
        double factor = inputgain * program->getpi();
        if (program->hasti()) factor *= program->getti();
        outputgain = 2.0 * gainout->getvl(true);
        outputscale = program->getpo();
        if (program->hasto()) outputscale /= program->getto();

        if (processingblock < remaining) multichunk = true;
        int const chunk = static_cast<int>(
            CoreButl::min__(CoreButl::min__(static_cast<long>(processingblock), remaining),
                            static_cast<long>(space(inwrite, outread))));
        long const at = frames - remaining;

        int const before = inwrite;
        int w = inwrite;
        for (int i = 0; i < chunk; ++i) {
            inring[0][w] = CoreButl::flushSubnormal(hostIn(in, 0, at + i, dbl) * factor);
            inring[1][w] = CoreButl::flushSubnormal(hostIn(in, 1, at + i, dbl) * factor);
            gainring[w] = outputgain;
            if (sides) {
                sidering[0][w] = CoreButl::flushSubnormal(hostIn(in, 2, at + i, dbl) * factor);
                sidering[1][w] = CoreButl::flushSubnormal(hostIn(in, 3, at + i, dbl) * factor);
            }
            w = wrap_(w + 1);
        }
        inwrite = w;

        if (threaded && !silent) {
            // Blocks whose hand-off timed out go first (inline), or the wait
            // would be for output that nobody makes.
            bool ready = carry < currentblock || catchUp();
            if (ready) ready = waitOutput(chunk);
            if (!ready) {
                // The worker is stuck: this chunk is dropped whole. Its Gain
                // out stays at the positions until the host writes them again.
                inwrite = before;
                for (int i = 0; i < chunk; ++i) {
                    hostSilence(out, 0, at + i, mode);
                    hostSilence(out, 1, at + i, mode);
                }
                remaining -= chunk;
                continue;
            }
        }

        // Only this chunk joins the carry: counting the rest of the call
        // here would hand off the lookahead that must stay unprocessed.
        int const pending = CoreButl::min__(carry + chunk, dist_(handedend, inwrite));
        int whole = 0;
        if (silent) {
            whole = pending;
            carry = 0;
            silentBlocks(whole);
        } else {
            whole = pending - pending % currentblock;
            carry = pending % currentblock;
        }
        if (!silent && !threaded && whole >= 1) {
            fillRecord(whole);
            runBlock();
        }
        remaining -= chunk;

        int r = outread;
        for (int i = 0; i < chunk; ++i) {
            if (silent) {
                hostSilence(out, 0, at + i, mode);
                hostSilence(out, 1, at + i, mode);
            } else {
                hostOut(out, 0, at + i, outring[0][r], mode);
                hostOut(out, 1, at + i, outring[1][r], mode);
            }
            r = wrap_(r + 1);
        }
        outread = r;

        if (!silent && threaded && whole >= 1) {
            if (!takeWorker()) {
                carry = pending; // handed off with a later chunk
                continue;
            }
            fillRecord(whole);
            if ((handoff && remaining == 0 && !multichunk) || workeronly) {
                // The worker releases the semaphore when the block is done.
                postc(iCcmdprocess, 0, false);
            } else {
                runBlock();
                notinline -= whole;
                workersem.relse();
            }
        }
    }

    if (handoff && !invisible && notinline >= 1) {
        double figure = 0.0;
        {
            CoreSmgd guard(metersem, CoreSmgd::BRIEF{});
            figure = cpufigures[0];
        }
        double const ms = std::floor(figure * 1000.0 * static_cast<double>(notinline));
        if (ms >= 1.0)
            meters[0].sleep(static_cast<int>(CoreButl::min__(ms, double(kWorkerWaitMs))));
    }
    processed.store(true);
}

void CorePrcs::cpuFigures() noexcept {
    if (blink == nullptr) return;
    bool const phase = blink->getvl();
    if (blinkphase && !phase) {
        // A reader holds the figures: the next call takes them instead.
        if (!metersem.locka()) return;
        CoreSmgd guard(metersem, CoreSmgd::ADOPT{});
        for (int i = 0; i < 2; ++i) {
            double figure = meters[i].getmp() / 1000.0;
            if (static_cast<double>(samplerate) * figure >= 1.0) figure = 0.0;
            cpufigures[i] = figure;
        }
    }
    blinkphase = phase;
}

void CorePrcs::pickRate(short level) noexcept {
    // A switch waits until a block has taken up the previous one.
    if (ratechange.load()) return;
    short const lv = static_cast<short>(level | fixedquality);
    if (lv == processlevel) return;
    processlevel = lv;
    int const old = programrate;
    programrate = lv == 4 ? offlinerate : realtimerate;
    // The rate line is not logged here: building its text would allocate.
    ratechange.store(programrate != old);
}

void CorePrcs::fillRecord(int whole) noexcept {
    record.frames = whole;
    {
        CoreSmgd guard(ringsem, CoreSmgd::BRIEF{});
        record.position = producedend;
    }
    record.period = programrate;
    record.scale = outputscale;
    record.drydelay = drydelay;
    record.rebuild = ratechange.load();
    handedend = wrap_(handedend + whole);
}

void CorePrcs::silentBlocks(int whole) noexcept {
    for (int c = 0; c < iCchannels; ++c)
        for (int i = 0; i < whole; ++i) outring[c][wrap_(handedend + i)] = 0.0;
    handedend = wrap_(handedend + whole);
    record.position = handedend;
    CoreSmgd guard(ringsem, CoreSmgd::BRIEF{});
    producedend = handedend;
}

// Once a wait has timed out, later ones look once and do not sleep until
// the worker answers again: a stuck worker must not cost every host call
// the whole time-out.
template <class F> bool CorePrcs::workerWait(F&& ready) noexcept {
    double const end = CoreXutl::tgtme() + (stuck ? 0.0 : static_cast<double>(kWorkerWaitMs));
    stuck = !pollUntil(end, ready);
    if (stuck) stalls.fetch_add(1);
    return !stuck;
}

bool CorePrcs::waitOutput(int chunk) noexcept {
    return workerWait([this, chunk] {
        CoreSmgd guard(ringsem, CoreSmgd::BRIEF{});
        return dist_(outread, producedend) >= chunk;
    });
}

bool CorePrcs::takeWorker() noexcept {
    return workerWait([this] { return workersem.locka(); });
}

double CorePrcs::callEnd(long frames, short level) const noexcept {
    if (level == 4) return kNoEnd;
    double const now = CoreXutl::tgtme();
    if (level == 2 || level == 3)
        return now + 1000.0 * static_cast<double>(frames) /
                         CoreButl::max__(1.0, static_cast<double>(samplerate.load()));
    // A hang already cost one bound: until a call gets its lock again, each
    // looks once and does not wait.
    return enginestuck.load(std::memory_order_relaxed) ? now : now + kWorkerWaitMs;
}

bool CorePrcs::takeUntil(CoreSmph& lock, double end, short level) noexcept {
    bool const taken = pollUntil(end, [&lock] { return lock.locka(); });
    if (!taken) stalls.fetch_add(1);
    if (taken || (level != 2 && level != 3)) enginestuck.store(!taken, std::memory_order_relaxed);
    return taken;
}

bool CorePrcs::catchUp() noexcept {
    if (!takeWorker()) return false;
    int const whole = carry - carry % currentblock;
    fillRecord(whole);
    carry -= whole;
    runBlock();
    workersem.relse();
    return true;
}

bool CorePrcs::bypss(void* const* in, void* const* out, long frames, bool replace, bool dbl,
                     double end, short level) noexcept {
    OutMode const mode = dbl ? writeDouble : replace ? replaceFloat : addFloat;
    if (!takeUntil(bypasssem, end, level)) {
        // A load holds the bypass past the call's bound: dropped whole, the
        // positions kept, so the bypass's delay still holds. A switch that
        // waits for a call through here hears of this one all the same.
        bypassevent.SetEvent();
        for (long i = 0; i < frames; ++i) {
            hostSilence(out, 0, i, mode);
            hostSilence(out, 1, i, mode);
        }
        return true;
    }
    CoreSmgd guard(bypasssem, CoreSmgd::ADOPT{});
    bypassevent.SetEvent();
    // The boot's hand-over ends the bypass under this semaphore: a call that
    // waited for it plays the program, which now holds the bypass's input.
    if (!bypass.getvl()) return false;
    if (frames < 1) return true;
    double const gin = inputgain;
    double const gout = outputgain * bypasslevel.load();
    // The positions change with the ring in one section; kept inside the
    // ring here too, so a position left stale can neither write beyond it
    // nor make the free space negative and the loop endless.
    bypasswrite = wrap_(bypasswrite);
    bypassread = wrap_(bypassread);
    long remaining = frames;
    while (remaining > 0) {
        if (metersem.locka()) {
            // Skipped while a reader holds them: the next chunk zeroes them.
            CoreSmgd meter(metersem, CoreSmgd::ADOPT{});
            cpufigures[0] = 0.0;
            cpufigures[1] = 0.0;
        }
        int const chunk = static_cast<int>(
            CoreButl::min__(remaining, static_cast<long>(space(bypasswrite, bypassread))));
        long const at = frames - remaining;
        if (chunk < 1) {
            for (long i = at; i < frames; ++i) {
                hostSilence(out, 0, i, mode);
                hostSilence(out, 1, i, mode);
            }
            break;
        }
        int w = bypasswrite;
        for (int i = 0; i < chunk; ++i) {
            bypassring[0][w] = CoreButl::flushSubnormal(hostIn(in, 0, at + i, dbl) * gin);
            bypassring[1][w] = CoreButl::flushSubnormal(hostIn(in, 1, at + i, dbl) * gin);
            w = wrap_(w + 1);
        }
        bypasswrite = w;
        bypassframes += static_cast<std::uint64_t>(chunk);
        int r = bypassread;
        for (int i = 0; i < chunk; ++i) {
            hostOut(out, 0, at + i, bypassring[0][r] * gout, mode);
            hostOut(out, 1, at + i, bypassring[1][r] * gout, mode);
            r = wrap_(r + 1);
        }
        bypassread = r;
        remaining -= chunk;
    }
    return true;
}

void CorePrcs::smpby(bool on, int timeout, bool clear, bool wait) {
    if (on != bypass.getvl()) {
        if (on) {
            if (wait) bypasslevel.store(0.0);
            bypassevent.ResetEvent();
            {
                CoreSmgd guard(bypasssem);
                bypass.setvl(true);
                for (double* ring : bypassring)
                    std::memset(ring, 0, sizeof(double) * static_cast<std::size_t>(ringsize));
            }
            if (wait) {
                // The first host call through the bypass path sets the event;
                // the event's wait may wake early, so the time is kept here.
                // A host that closes sends no further call: once close has
                // begun (memory's endbk) the wait ends, looked at every
                // iCclosecheck ms.
                auto const end = std::chrono::steady_clock::now() +
                                 std::chrono::milliseconds(iCdelaybypassswitch);
                for (;;) {
                    if (memory != nullptr && memory->ended()) {
                        CoreLog_::debug(CoreAnsx("bypass switch: close began, no wait"), 0, 2);
                        break;
                    }
                    auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                          end - std::chrono::steady_clock::now())
                                          .count();
                    if (left <= 0) {
                        CoreLog_::debug(CoreAnsx("bypass switch: no host call in time"), 0, 2);
                        break;
                    }
                    int const slice = static_cast<int>(left < iCclosecheck ? left : iCclosecheck);
                    if (bypassevent.WaitFor(slice) == CoreTevn::iCwrsignaled) break;
                }
            }
        } else {
            bypasslevel.store(1.0);
            if (timeout > 0) {
                CoreSmgd engine(enginesem, timeout);
                CoreSmgd worker(workersem, timeout);
                bypass.setvl(false);
                if (clear) clepr(true);
            } else {
                CoreSmgd engine(enginesem);
                CoreSmgd worker(workersem);
                bypass.setvl(false);
                if (clear) clepr(true);
            }
        }
    }
    bypassstate.setvl(on);
}

bool CorePrcs::getby() { return bypass.getvl(); }

void CorePrcs::setby(bool b) { bypass.setvl(b); }

void CorePrcs::clepr(bool engines, bool keepbypass) {
    std::size_t const ring = sizeof(double) * static_cast<std::size_t>(ringsize);
    std::size_t const block = sizeof(double) * static_cast<std::size_t>(processingblock);
    for (int c = 0; c < iCchannels; ++c) {
        std::memset(outring[c], 0, ring);
        std::memset(inring[c], 0, ring);
        std::memset(feedbackbuf[c], 0, block);
        if (sidering[c] != nullptr) std::memset(sidering[c], 0, ring);
    }
    fillGain(0, ringsize, heldGain());
    if (!keepbypass) {
        // A host call already in the bypass path may still be writing it;
        // its size is read where it changes, under the bypass semaphore.
        CoreSmgd guard(bypasssem);
        for (double* r : bypassring)
            std::memset(r, 0, sizeof(double) * static_cast<std::size_t>(ringsize));
    }
    if (engines)
        for (short s = 0; s < cnvlcount; ++s)
            if (cnvls[s].cnvl != nullptr) cnvls[s].cnvl->clear();
}

void CorePrcs::bootHandover() {
    if (!bypass.getvl()) return;
    clepr(true, true);
    double factor = 2.0 * program->getif(kGainIn)->getvl(true) * program->getpi();
    if (program->hasti()) factor *= program->getti();
    bool const silent = step < 1 || currentblock < 1;
    // The positions at rest, for a program that cannot keep up with the input.
    int const restwrite = inwrite, restread = outread, restend = handedend, restcarry = carry;
    double ratio = 0.0;
    std::uint64_t taken = 0; // bypass frames the input ring holds, up to the newest
    int history = 0;
    {
        CoreSmgd guard(bypasssem);
        // The bypass ring holds the input times the input gain it was written
        // with; the input ring holds it scaled as the program's first block
        // will scale the input after it.
        ratio = inputgain != 0.0 ? factor / inputgain : 0.0;
        history = CoreButl::min__(dist_(bypassread, bypasswrite), dist_(outread, inwrite));
        takeBypassed(history, ratio, false);
        taken = bypassframes;
    }
    // The held input that lies before the program's first block, in whole
    // blocks: the convolvers hear it first, or the program's first output
    // would carry nothing of what the bypass held and build up from
    // silence. Only their history moves: the rest of the program stands as
    // after any load.
    int const before = history - dist_(handedend, inwrite);
    if (!silent && before > 0) {
        int const frames = (before + currentblock - 1) / currentblock * currentblock;
        handedend = wrap_(handedend - frames);
        carry += frames;
        CoreSmgd guard(ringsem);
        producedend = handedend;
    }
    int const most =
        CoreButl::max__(currentblock, processingblock - processingblock % currentblock);
    for (;;) {
        {
            // The input that arrived meanwhile joins the input ring, and the
            // host's positions move on with the bypass's.
            CoreSmgd guard(bypasssem);
            std::uint64_t const fresh = bypassframes - taken;
            bool const room = fresh + static_cast<std::uint64_t>(dist_(handedend, inwrite)) +
                                  static_cast<std::uint64_t>(drydelay) <
                              static_cast<std::uint64_t>(ringsize);
            if (room) {
                takeBypassed(static_cast<int>(fresh), ratio, true);
                carry += static_cast<int>(fresh);
                taken = bypassframes;
                // Less than a block waits: the program goes on as after any
                // host call.
                if (silent || carry < currentblock) {
                    switchOver();
                    return;
                }
            } else {
                // The convolvers fall behind the input: the program starts
                // from nothing on the input held now, as before they heard it.
                inwrite = restwrite;
                outread = restread;
                handedend = restend;
                carry = restcarry;
                record.position = restend;
                {
                    CoreSmgd positions(ringsem);
                    producedend = restend;
                }
                clepr(true, true);
                takeBypassed(
                    CoreButl::min__(dist_(bypassread, bypasswrite), dist_(outread, inwrite)), ratio,
                    false);
                switchOver();
                return;
            }
        }
        // Up to a processing block a round, so the input taken meanwhile
        // stays short; bypass semaphore free, the audio thread plays on.
        int const whole = CoreButl::min__(carry - carry % currentblock, most);
        hearBlocks(handedend, whole);
        handedend = wrap_(handedend + whole);
        carry -= whole;
        record.position = handedend;
        CoreSmgd guard(ringsem);
        producedend = handedend;
    }
}

void CorePrcs::hearBlocks(int start, int frames) noexcept {
    CoreAudp audio;
    int const st = step;
    if (st < 1) return;
    // The program's first update makes the kernels the convolvers hear
    // with. Made here as the first block after a load makes it (that block
    // then finds it done), so the program stands as after any load.
    record.period = programrate;
    while (countdown <= 0) modulate();
    int const fade = crossfadepos;
    meters[0].setmp(true, 0);
    for (int done = 0, p = start; done < frames; done += st, p = (p + st) & ringwrap)
        if (p + st <= ringsize) convolve(p);
    meters[0].setmp(false, frames);
    meters[1].setms(frames);
    crossfadepos = fade;
}

void CorePrcs::takeBypassed(int frames, double ratio, bool advance) noexcept {
    if (advance) {
        inwrite = wrap_(inwrite + frames);
        outread = wrap_(outread + frames);
    }
    for (int c = 0; c < iCchannels; ++c)
        for (int k = 1; k <= frames; ++k)
            inring[c][wrap_(inwrite - k)] =
                CoreButl::flushSubnormal(bypassring[c][wrap_(bypasswrite - k)] * ratio);
    // The bypass played this input at its Gain out: the program goes on so.
    fillGain(wrap_(inwrite - frames), frames, outputgain);
}

void CorePrcs::switchOver() noexcept {
    int const held = dist_(bypassread, bypasswrite);
    int ahead = 0;
    {
        CoreSmgd guard(ringsem);
        ahead = CoreButl::min__(held, dist_(outread, producedend));
    }
    for (int c = 0; c < iCchannels; ++c) {
        // What the host reads before the program's first block: the delayed
        // input it would have heard from the bypass, sample for sample.
        for (int k = 0; k < ahead; ++k)
            outring[c][wrap_(outread + k)] = bypassring[c][wrap_(bypassread + k)] * outputgain;
        // A later bypass must not play this input again.
        std::memset(bypassring[c], 0, sizeof(double) * static_cast<std::size_t>(ringsize));
    }
    bypasslevel.store(1.0);
    bypass.setvl(false);
    bypassstate.setvl(false);
}

void CorePrcs::setpp() {
    int const delta = baselatency - producedend;
    inwrite = wrap_(inwrite + delta);
    outread = wrap_(outread + delta);
    handedend = baselatency;
    record.position = baselatency;
    {
        CoreSmgd guard(ringsem);
        producedend = baselatency;
    }
    if (wrap_(delta) != 0) holdGain();
    CoreSmgd guard(metersem);
    cpufigures[0] = 0.0;
    cpufigures[1] = 0.0;
}

double CorePrcs::heldGain() noexcept {
    CoreIfce* const control = program != nullptr ? program->getif(kGainOut) : nullptr;
    return control != nullptr ? 2.0 * control->getvl(true) : outputgain;
}

void CorePrcs::fillGain(int from, int frames, double gain) noexcept {
    for (int k = 0; k < frames; ++k) gainring[wrap_(from + k)] = gain;
}

void CorePrcs::holdGain() noexcept {
    // The output stage reads the input frame a dry delay before the
    // position it produces.
    int const from = wrap_(handedend - drydelay);
    fillGain(from, dist_(from, inwrite), heldGain());
}

void CorePrcs::unbts() {
    bootstep = 0;
    memory->clear();
}
