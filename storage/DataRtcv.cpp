#include "storage/DataRtcv.h"

#include <cmath>

#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"

const int DataRtcv::iCcount = 86;

namespace {

struct Row {
    double from, to; // Hz
    short count;
    bool flag;
    int f[6];
};

// No stage of a row runs below the lower of its two end rates: a stage's
// filter cuts at the lower Nyquist of its own two rates, so a dip below both
// ends would cut the band the row delivers. Among the orders of a row's
// factors that keep this, each row takes the lowest peak rate, then the
// highest trough. Row 63 (48,000 -> 352,800) runs 7/1, 3/4, 7/5 (336,000,
// 252,000, 352,800 Hz), which reaches 352,800 Hz exactly; the rows built on
// 11 keep their approximate rate.
const Row kRows[86] = {
    {44100, 6000, 4, true, {4, 21, 5, 7, -1, -1}},
    {44100, 8000, 4, true, {4, 21, 20, 21, -1, -1}},
    {44100, 11025, 1, false, {4, -1, -1, -1, -1, -1}},
    {44100, 14000, 4, true, {4, 9, 5, 7, -1, -1}},
    {44100, 16000, 6, true, {4, 7, 5, 7, 8, 9}},
    {44100, 18000, 4, true, {4, 7, 5, 7, -1, -1}},
    {44100, 22050, 1, false, {2, -1, -1, -1, -1, -1}},
    {44100, 24000, 4, true, {4, 7, 20, 21, -1, -1}},
    {44100, 32000, 6, true, {4, 3, 8, 7, 10, 21}},
    {44100, 48000, 4, true, {8, 7, 20, 21, -1, -1}},
    {44100, 60000, 4, true, {10, 7, 20, 21, -1, -1}},
    {44100, 64000, 6, true, {4, 3, 8, 7, 20, 21}},
    {44100, 70000, 6, true, {4, 3, 5, 3, 5, 7}},
    {44100, 77000, 4, true, {10, 9, 11, 7, -1, -1}},
    {44100, 88200, 1, true, {2, -1, -1, -1, -1, -1}},
    {44100, 96000, 6, true, {4, 3, 8, 7, 10, 7}},
    {44100, 176400, 1, true, {4, -1, -1, -1, -1, -1}},
    {44100, 192000, 6, true, {8, 7, 8, 7, 10, 3}},
    {44100, 352800, 1, true, {8, -1, -1, -1, -1, -1}},
    {44100, 384000, 6, true, {8, 7, 10, 7, 16, 3}},
    {96000, 6000, 1, false, {16, -1, -1, -1, -1, -1}},
    {96000, 8000, 1, false, {12, -1, -1, -1, -1, -1}},
    {96000, 11025, 4, true, {7, 32, 21, 40, -1, -1}},
    {96000, 14000, 2, true, {7, 48, -1, -1, -1, -1}},
    {96000, 16000, 1, false, {6, -1, -1, -1, -1, -1}},
    {96000, 18000, 2, true, {3, 16, -1, -1, -1, -1}},
    {96000, 22050, 4, true, {7, 20, 21, 32, -1, -1}},
    {96000, 24000, 1, false, {4, -1, -1, -1, -1, -1}},
    {96000, 32000, 1, false, {3, -1, -1, -1, -1, -1}},
    {96000, 44100, 6, true, {3, 5, 7, 8, 7, 8}},
    {96000, 48000, 4, true, {2, 3, 3, 4, -1, -1}},
    {96000, 60000, 2, true, {5, 8, -1, -1, -1, -1}},
    {96000, 64000, 2, true, {2, 3, -1, -1, -1, -1}},
    {96000, 70000, 4, true, {5, 6, 7, 8, -1, -1}},
    {96000, 77000, 4, true, {7, 8, 11, 12, -1, -1}},
    {96000, 88200, 6, true, {3, 2, 7, 10, 7, 8}},
    {96000, 176400, 6, true, {3, 2, 7, 5, 7, 8}},
    {96000, 192000, 1, true, {2, -1, -1, -1, -1, -1}},
    {96000, 352800, 6, true, {3, 2, 7, 5, 7, 4}},
    {96000, 384000, 1, true, {4, -1, -1, -1, -1, -1}},
    {48000, 44100, 6, true, {3, 2, 7, 10, 7, 8}},
    {176400, 44100, 1, false, {4, -1, -1, -1, -1, -1}},
    {176400, 48000, 6, true, {2, 7, 4, 3, 5, 7}},
    {176400, 60000, 6, true, {2, 3, 5, 7, 5, 7}},
    {176400, 64000, 6, true, {4, 7, 5, 7, 8, 9}},
    {176400, 70000, 4, true, {5, 9, 5, 7, -1, -1}},
    {176400, 77000, 4, true, {5, 9, 11, 14, -1, -1}},
    {176400, 88200, 1, false, {2, -1, -1, -1, -1, -1}},
    {176400, 96000, 6, true, {4, 7, 4, 3, 5, 7}},
    {176400, 192000, 4, true, {8, 7, 20, 21, -1, -1}},
    {176400, 352800, 1, true, {2, -1, -1, -1, -1, -1}},
    {176400, 384000, 6, true, {4, 3, 8, 7, 10, 7}},
    {192000, 44100, 6, true, {3, 10, 7, 8, 7, 8}},
    {192000, 88200, 6, true, {3, 5, 7, 8, 7, 8}},
    {192000, 48000, 1, false, {4, -1, -1, -1, -1, -1}},
    {192000, 96000, 1, false, {2, -1, -1, -1, -1, -1}},
    {192000, 176400, 6, true, {7, 5, 3, 4, 7, 8}},
    {192000, 352800, 2, true, {11, 6, -1, -1, -1, -1}},
    {192000, 384000, 1, true, {2, -1, -1, -1, -1, -1}},
    {48000, 88200, 6, true, {7, 4, 3, 4, 7, 5}},
    {48000, 96000, 1, true, {2, -1, -1, -1, -1, -1}},
    {48000, 176400, 6, true, {7, 2, 3, 4, 7, 5}},
    {48000, 192000, 1, true, {4, -1, -1, -1, -1, -1}},
    {48000, 352800, 6, true, {7, 1, 3, 4, 7, 5}},
    {48000, 384000, 1, true, {8, -1, -1, -1, -1, -1}},
    {88200, 44100, 1, false, {2, -1, -1, -1, -1, -1}},
    {88200, 48000, 6, true, {4, 3, 5, 7, 4, 7}},
    {88200, 96000, 6, true, {8, 7, 4, 3, 5, 7}},
    {88200, 176400, 1, true, {2, -1, -1, -1, -1, -1}},
    {88200, 192000, 6, true, {5, 3, 8, 7, 8, 7}},
    {88200, 352800, 6, true, {16, 9, 10, 7, 11, 7}},
    {88200, 384000, 6, true, {10, 3, 8, 7, 8, 7}},
    {352800, 44100, 6, true, {9, 11, 7, 20, 7, 16}},
    {352800, 48000, 2, true, {3, 22, -1, -1, -1, -1}},
    {352800, 88200, 6, true, {9, 11, 7, 10, 7, 16}},
    {352800, 96000, 2, true, {3, 11, -1, -1, -1, -1}},
    {352800, 176400, 6, true, {9, 16, 7, 5, 7, 11}},
    {352800, 192000, 2, true, {6, 11, -1, -1, -1, -1}},
    {352800, 384000, 2, true, {12, 11, -1, -1, -1, -1}},
    {384000, 44100, 6, true, {3, 5, 7, 16, 7, 16}},
    {384000, 48000, 1, false, {8, -1, -1, -1, -1, -1}},
    {384000, 88200, 6, true, {3, 10, 7, 8, 7, 8}},
    {384000, 96000, 1, false, {4, -1, -1, -1, -1, -1}},
    {384000, 176400, 6, true, {3, 5, 7, 8, 7, 8}},
    {384000, 192000, 1, false, {2, -1, -1, -1, -1, -1}},
    {384000, 352800, 2, true, {11, 12, -1, -1, -1, -1}},
};

} // namespace

DataRtcv::DataRtcv(CorePool* p)
    : count(iCcount), cachedIndex(-1), cachedFrom(-1.0), cachedTo(-1.0), recipes(nullptr), pool(p) {
    recipes = static_cast<CONVERSIONSTEPSLOC*>(
        pool->mallc(5, static_cast<int>(sizeof(CONVERSIONSTEPSLOC)) * count, "RTCV", "DataRtcv"));
    for (int i = 0; i < count; ++i)
        recipes[i] = CONVERSIONSTEPSLOC{0.0, 0.0, 0, false, nullptr, 0.0};
    try {
        for (int i = 0; i < count; ++i) {
            const Row& r = kRows[i];
            makec(&recipes[i], r.from, r.to, r.count, r.flag, r.f[0], r.f[1], r.f[2], r.f[3],
                  r.f[4], r.f[5]);
        }
    } catch (...) {
        // The destructor will not run: give back what was taken before passing the failure on.
        for (int i = 0; i < count; ++i)
            if (recipes[i].factors != nullptr) pool->free_(recipes[i].factors);
        pool->free_(recipes);
        throw;
    }
}

DataRtcv::~DataRtcv() {
    for (int i = 0; i < count; ++i)
        if (recipes[i].factors != nullptr) pool->free_(recipes[i].factors);
    pool->free_(recipes);
}

void DataRtcv::makec(CONVERSIONSTEPSLOC* rec, double from, double to, short stages, bool flag,
                     int f1, int f2, int f3, int f4, int f5, int f6) {
    rec->from = from;
    rec->to = to;
    rec->count = stages;
    rec->flag = flag;
    rec->factors = static_cast<int*>(pool->mallc(2, 6, "RTCV", "makec"));
    const int f[6] = {f1, f2, f3, f4, f5, f6};
    for (int k = 0; k < 6; ++k) rec->factors[k] = f[k];
    double ratio = 1.0;
    if (flag) {
        for (int k = 0; k < stages && k < 6; ++k) {
            if (rec->factors[k] == 0)
                continue; // a zero factor would divide by zero; the table has none
            if (k % 2 == 0)
                ratio *= rec->factors[k];
            else
                ratio /= rec->factors[k];
        }
    } else if (rec->factors[0] != 0) {
        ratio = 1.0 / rec->factors[0];
    }
    rec->ratio = ratio;
}

int DataRtcv::getpt(double from, double to) {
    if (from == cachedFrom && to == cachedTo) return cachedIndex;
    cachedFrom = from;
    cachedTo = to;
    double best = std::fabs(to - from);
    int index = -1;
    for (int i = 0; i < count; ++i) {
        const double d = std::fabs(from - recipes[i].from) + std::fabs(to - recipes[i].to);
        if (d < best) index = i;
        if (d < best) best = d;
    }
    cachedIndex = index;
    return index;
}

bool DataRtcv::valid(int row, const char* caller) const {
    if (row >= 0 && row < count) return true;
    CoreLog_::loger(CoreAnsx("DataRtcv::") + CoreAnsx(caller) + CoreAnsx(": no recipe row ") +
                        CoreAnsx(row),
                    1);
    return false;
}

short DataRtcv::getst(int row) { return valid(row, "getst") ? recipes[row].count : 0; }
bool DataRtcv::getfi(int row) { return valid(row, "getfi") ? recipes[row].flag : false; }
int DataRtcv::getfc(int row, short k) {
    if (!valid(row, "getfc")) return -1;
    if (k < 0 || k > 5) {
        CoreLog_::loger(CoreAnsx("DataRtcv::getfc: no factor ") + CoreAnsx(int(k)), 1);
        return -1;
    }
    return recipes[row].factors[k];
}
double DataRtcv::geter(int row) { return valid(row, "geter") ? recipes[row].to : 0.0; }
double DataRtcv::getcf(int row) { return valid(row, "getcf") ? recipes[row].ratio : 0.0; }
