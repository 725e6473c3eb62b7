#include "engine/CoreEnvu.h"

#include <climits>
#include <cmath>
#include <exception>

#include "runtime/CoreButl.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "storage/CoreRcsv.h"
#include "storage/CoreWave.h"
#include "storage/CoreWvfr.h"

CoreEnvu::CoreEnvu(CorePool* pool, CoreFsys* items) : pool(pool), items(items) {}

CoreEnvu::~CoreEnvu() {
    close();
    pool = nullptr;
    items = nullptr;
}

void CoreEnvu::drop() {
    delete wave;
    wave = nullptr;
    length = 0;
    loaded = false;
}

void CoreEnvu::close() { drop(); }

CoreWave* CoreEnvu::getim() { return loaded ? wave : nullptr; }

int CoreEnvu::open_(CoreAnsx path) {
    drop();
    if (pool == nullptr || items == nullptr) {
        CoreLog_::logfl(path, 1);
        return 0;
    }
    int n = 0;
    try {
        n = CoreButl::getfx(path) == CoreButl::sCextcsv ? readList(path) : readWave(path);
    } catch (CoreAnsx const&) {
        n = 0; // the reader or the pool has logged why
    } catch (std::exception const&) {
        CoreLog_::logfl(path, 1);
        n = 0;
    }
    if (n <= 0) {
        // Whatever was built before the failure goes: a partial wave must
        // neither be handed out nor leak.
        drop();
        return 0;
    }
    length = n;
    loaded = true;
    return length;
}

int CoreEnvu::readList(CoreAnsx const& path) {
    CoreRcsv reader(pool, items);
    if (!reader.open_(path)) return 0;
    long count = reader.getdr();
    if (count == 0) {
        // Values end with ";": a list without one holds none, whatever it shows.
        CoreLog_::logfl(CoreAnsx("\"") + path + CoreAnsx("\": holds no value (none ends with ;)"),
                        0);
        return 0;
    }
    if (count < 0 || count > INT_MAX) {
        CoreLog_::logfl(path, 1);
        return 0;
    }
    wave = new CoreWave(pool, count, 1);
    if (reader.getdt(wave->getwv(0), false) != count) {
        CoreLog_::logfl(path, 1);
        return 0;
    }
    return static_cast<int>(count);
}

int CoreEnvu::readWave(CoreAnsx const& path) {
    CoreWvfr reader(pool, items, true);
    reader.open_(path);
    long count = reader.getdr(true);
    if (count <= 0 || count > INT_MAX) {
        CoreLog_::logfl(path, 1);
        return 0;
    }
    wave = new CoreWave(pool, count, 1);
    double* samples = wave->getwv(0);
    // Both destinations are the one channel: the second channel of each
    // frame is written last and stays.
    long done = 0;
    while (done < count) {
        long got = reader.getdt(count - done, samples + done, samples + done);
        if (got < 1) break;
        done += got;
    }
    if (done != count) {
        CoreLog_::logfl(path, 1);
        return 0;
    }
    // A float file may carry NaN or infinities, which no envelope can mean
    // and which would poison every mix and lookup downstream: they become
    // 0.0, as they do in a number list.
    long bad = 0;
    for (long k = 0; k < count; ++k) {
        if (!std::isfinite(samples[k])) {
            samples[k] = 0.0;
            ++bad;
        }
    }
    if (bad > 0) CoreLog_::loger(CoreAnsx("Values that are not numbers read as 0 in ") + path, 1);
    return static_cast<int>(count);
}

void CoreEnvu::tstrt(double const* x, int n, int& start) {
    if (start < 0) start = 0;
    if (x == nullptr) {
        start = n;
        return;
    }
    double const floor = CoreButl::dCnoisefloorsynchronization;
    double minimum = floor;
    for (int i = start; i < n; ++i) {
        double level = CoreButl::lindb(x[i]);
        double clipped = level > floor ? level : floor;
        if (clipped - minimum > CoreButl::dCrangesynchronization && level > floor) {
            start = i;
            return;
        }
        if (clipped < minimum) minimum = clipped;
    }
    start = n;
}

void CoreEnvu::ctone(CorePool* pool, int type, int period, int rate, double* out, int& position,
                     int end, double& amplitude) {
    (void)pool;
    if (out != nullptr && end > position && position >= 0) {
        double half = CoreButl::tpfud(rate, period) / 2.0;
        double const a = amplitude;
        switch (type) {
        case 0:
        case 2:
            for (int i = position; i < end; ++i) {
                if (!(half > 0.0)) {
                    out[i] = 0.0;
                    continue;
                }
                double s = std::sin(static_cast<double>(i) * CoreButl::dCpi / half);
                if (type == 2)
                    out[i] = CoreButl::flushSubnormal(a * s);
                else
                    out[i] = s > 0.0 ? a : (s < 0.0 ? -a : 0.0);
            }
            break;
        case 1: CoreButl::whtns(out + position, end - position, a); break;
        default: break;
        }
    }
    position = end;
}
