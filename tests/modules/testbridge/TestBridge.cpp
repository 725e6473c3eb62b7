// Stand-in GPU bridge for tests: every entry point runs on the CPU. Real FFTs
// use single-precision FFTW; the whole-convolution families (op32, af32) run a
// direct convolution in double over the last T inputs, which gives the exact
// result any bridge must match. Elements are plain arrays of floats. The
// whole-convolution entry points also record what they were handed
// (testbridge_recrd), so tests can check the engines' side of the calls.
// Variants (compile definitions): TESTBRIDGE_OMIT_EXECT leaves one entry point
// out, TESTBRIDGE_UNUSABLE makes cudav report not usable, TESTBRIDGE_NODEVICE
// reports no device.
#include <fftw3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#define BRIDGE_API extern "C" __attribute__((visibility("default")))

namespace {

// The FFTW planner is not re-entrant.
std::mutex plannerLock;

struct FftPlan {
    fftwf_plan plan = nullptr; // planned on the caller's arrays
    float* out = nullptr;      // output array (reals after an inverse transform)
    int n = 0;                 // transform length (reals)
    int batch = 0;             // transforms in the plan
    bool inverse = false;      // spectrum to reals
};

// Whole-convolution state of one player.
struct Convolution {
    int partitions = 0;             // P
    int block = 0;                  // B: samples per call
    int length = 0;                 // N
    int taps = 0;                   // T: kernel length
    std::vector<double> history[2]; // per channel: the last T - 1 inputs, then B new ones
    short mode = 3;                 // 0 store, 1 add, 2 add in and output, 3 alone
    double* comp = nullptr;         // computation buffer of the chain
    bool ownsComp = false;          // comp was allocated here (mode 0)
    long compValues = 0;            // doubles available in comp
};

// Layout of the vector mix record the engines pass to avvmx.
struct MixRecord {
    double gain;
    double retention;
    double leftToLeft;
    double leftToRight;
    double rightToLeft;
    double rightToRight;
    double weight0;
    double weight1;
    std::int32_t index0;
    std::int32_t index1;
};

// What the whole-convolution entry points were handed, so tests can check
// the engines' parameter block, handle and per-call arguments. Tests reach it
// through testbridge_recrd and declare the same layout.
struct Recording {
    std::int32_t params[7]; // last parameter block of op32p / af32p
    int opens;              // op32p and af32p calls
    int family;             // 0 op32, 1 af32: family of the last open, chain or call
    void* handle;           // state handed out by the last open
    int closes;             // op32d and af32d calls
    int clears;             // op32c and af32c calls
    void* chainHandle;      // handle of the last opchp / afchp
    void* chainBuffer;      // buffer word it received
    short chainMode;        // mode it received
    int chainLength;        // length it received
    int unchains;           // opchd and afchd calls
    struct Call {
        int entry; // 15, 16 or 17
        void* handle;
        const double* in;
        double* out;
        const double* kernel;
        double* ring;
        int p;
        int slot; // -1 for cnm15
        int channel;
        bool* changed;
        short subBlock; // -1 for cnm15
    } calls[64];        // the first 64 kernel calls
    int callCount;      // kernel calls in all
};

Recording recording{};

void record(int entry, void* handle, const double* in, double* out, const double* kernel,
            double* ring, int p, int slot, int channel, bool* changed, short subBlock) {
    if (recording.callCount < 64)
        recording.calls[recording.callCount] = {entry, handle, in,      out,     kernel,  ring,
                                                p,     slot,   channel, changed, subBlock};
    ++recording.callCount;
}

bool exponentZero(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & 0x7F800000u) == 0;
}

void flushFloats(float* v, long n) {
    for (long i = 0; i < n; ++i)
        if (exponentZero(v[i])) v[i] = 0.0f;
}

// One block of one channel; the chained modes place B output samples at
// (channel + 2 * sub-block) * N in the computation buffer.
void convolve(void* handle, const double* in, double* out, const double* kernel, int channel,
              bool* changed, short subBlock, bool chained) {
    auto* c = static_cast<Convolution*>(handle);
    if (c == nullptr || channel < 0 || channel > 1) return;
    std::vector<double>& h = c->history[channel];
    const int B = c->block;
    const int T = c->taps;
    for (int i = 0; i < B; ++i) h[T - 1 + i] = in[i];
    for (int i = 0; i < B; ++i) {
        double y = 0.0;
        for (int k = T - 1; k >= 0; --k) y += kernel[k] * h[T - 1 + i - k];
        out[i] = y;
    }
    for (int i = 0; i < T - 1; ++i) h[i] = h[i + B];
    if (channel == 1 && changed != nullptr) *changed = false;
    if (!chained || c->mode == 3 || c->comp == nullptr) return;
    const long offset = static_cast<long>(channel + 2 * subBlock) * c->length;
    if (offset < 0 || offset + B > c->compValues) return;
    double* slot = c->comp + offset;
    switch (c->mode) {
    case 0:
        for (int i = 0; i < B; ++i) slot[i] = out[i], out[i] = 0.0;
        break;
    case 1:
        for (int i = 0; i < B; ++i) slot[i] += out[i], out[i] = 0.0;
        break;
    case 2:
        for (int i = 0; i < B; ++i) out[i] += slot[i];
        break;
    default:
        for (int i = 0; i < B; ++i) out[i] = 0.0;
        break;
    }
}

bool openConvolution(const std::int32_t* params, void** handle) {
    if (params == nullptr || handle == nullptr) return false;
    // P, B, N, third field, T, L, N.
    const int B = params[1];
    const int T = params[4];
    if (B < 1 || T < 1) return false;
    auto* c = new (std::nothrow) Convolution;
    if (c == nullptr) return false;
    c->partitions = params[0];
    c->block = B;
    c->length = params[2];
    c->taps = T;
    c->history[0].assign(static_cast<size_t>(T - 1 + B), 0.0);
    c->history[1].assign(static_cast<size_t>(T - 1 + B), 0.0);
    *handle = c;
    return true;
}

void releaseChain(Convolution* c) {
    if (c->ownsComp) std::free(c->comp);
    c->comp = nullptr;
    c->ownsComp = false;
    c->compValues = 0;
    c->mode = 3;
}

void closeConvolution(void* handle) {
    auto* c = static_cast<Convolution*>(handle);
    if (c == nullptr) return;
    releaseChain(c);
    delete c;
}

void clearConvolution(void* handle) {
    auto* c = static_cast<Convolution*>(handle);
    if (c == nullptr) return;
    for (auto& h : c->history) std::fill(h.begin(), h.end(), 0.0);
}

bool openChain(void* handle, void** buffer, short mode, int length) {
    auto* c = static_cast<Convolution*>(handle);
    if (c == nullptr || buffer == nullptr || length < 0) return false;
    releaseChain(c);
    c->mode = mode;
    c->compValues = 2L * length;
    if (mode == 0) {
        c->comp = static_cast<double*>(
            std::calloc(static_cast<size_t>(c->compValues) + 1, sizeof(double)));
        if (c->comp == nullptr) return false;
        c->ownsComp = true;
        *buffer = c->comp;
    } else {
        c->comp = static_cast<double*>(*buffer);
    }
    return true;
}

void closeChain(void* handle) {
    if (handle != nullptr) releaseChain(static_cast<Convolution*>(handle));
}

bool recordOpen(const std::int32_t* params, void** handle, int family) {
    if (params != nullptr) std::memcpy(recording.params, params, sizeof recording.params);
    ++recording.opens;
    recording.family = family;
    const bool ok = openConvolution(params, handle);
    recording.handle = ok ? *handle : nullptr;
    return ok;
}

void recordClose(void* handle, int family) {
    ++recording.closes;
    recording.family = family;
    closeConvolution(handle);
}

void recordClear(void* handle, int family) {
    ++recording.clears;
    recording.family = family;
    clearConvolution(handle);
}

bool recordChain(void* handle, void** buffer, short mode, int length, int family) {
    recording.chainHandle = handle;
    recording.chainBuffer = buffer != nullptr ? *buffer : nullptr;
    recording.chainMode = mode;
    recording.chainLength = length;
    recording.family = family;
    return openChain(handle, buffer, mode, length);
}

void recordUnchain(void* handle, int family) {
    ++recording.unchains;
    recording.family = family;
    closeChain(handle);
}

} // namespace

BRIDGE_API Recording* testbridge_recrd() { return &recording; }

BRIDGE_API int cudabridge_devcs() {
#if defined(TESTBRIDGE_NODEVICE)
    return 0;
#else
    return 1;
#endif
}

BRIDGE_API bool cudabridge_init_(int device) { return device == 0; }

BRIDGE_API void cudabridge_stop_() {}

BRIDGE_API bool cudabridge_cudav(int, char* text) {
#if defined(TESTBRIDGE_UNUSABLE)
    if (text != nullptr) std::snprintf(text, 256, "test bridge: not usable");
    return false;
#else
    if (text != nullptr)
        std::snprintf(text, 256, "test bridge: usable, %d device(s)", cudabridge_devcs());
    return true;
#endif
}

BRIDGE_API void cudabridge_check() {}

BRIDGE_API void cudabridge_versn(char* text) {
    if (text != nullptr) std::snprintf(text, 256, "test bridge 1.0 (CPU)");
}

BRIDGE_API bool cudabridge_mallc(void** address, long bytes) {
    if (address == nullptr || bytes < 1) return false;
    *address = std::calloc(static_cast<size_t>(bytes), 1);
    return *address != nullptr;
}

BRIDGE_API void cudabridge_free_(void* block) { std::free(block); }

BRIDGE_API bool cudabridge_plan_(int n, float* in, float* out, int direction, int batch,
                                 void** handle) {
    if (handle == nullptr || in == nullptr || out == nullptr || n < 2 || (n & 1) != 0 ||
        batch < 1 || (direction != -1 && direction != 1))
        return false;
    const int bins = n / 2 + 1;
    auto* p = new (std::nothrow) FftPlan;
    if (p == nullptr) return false;
    {
        std::lock_guard<std::mutex> guard(plannerLock);
        if (direction == -1) {
            p->plan = fftwf_plan_many_dft_r2c(1, &n, batch, in, nullptr, 1, 2 * bins,
                                              reinterpret_cast<fftwf_complex*>(out), nullptr, 1,
                                              bins, FFTW_ESTIMATE);
        } else {
            p->plan =
                fftwf_plan_many_dft_c2r(1, &n, batch, reinterpret_cast<fftwf_complex*>(in), nullptr,
                                        1, bins, out, nullptr, 1, 2 * bins, FFTW_ESTIMATE);
        }
    }
    if (p->plan == nullptr) {
        delete p;
        return false;
    }
    p->out = out;
    p->n = n;
    p->batch = batch;
    p->inverse = direction == 1;
    *handle = p;
    return true;
}

BRIDGE_API void cudabridge_despl(void* handle) {
    auto* p = static_cast<FftPlan*>(handle);
    if (p == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(plannerLock);
        fftwf_destroy_plan(p->plan);
    }
    delete p;
}

#if !defined(TESTBRIDGE_OMIT_EXECT)
BRIDGE_API void cudabridge_exect(void* handle) {
    auto* p = static_cast<FftPlan*>(handle);
    if (p == nullptr) return;
    fftwf_execute(p->plan);
    // The engine reads N + 2 values after an inverse transform: the two past
    // the N reals must be zero.
    if (p->inverse) {
        const int stride = 2 * (p->n / 2 + 1);
        for (int b = 0; b < p->batch; ++b)
            for (int i = p->n; i < stride; ++i) p->out[static_cast<long>(b) * stride + i] = 0.0f;
    }
}
#endif

BRIDGE_API bool cudabridge_op32p(const std::int32_t* params, void** handle) {
    return recordOpen(params, handle, 0);
}
BRIDGE_API void cudabridge_op32d(void* handle) { recordClose(handle, 0); }
BRIDGE_API void cudabridge_op32c(void* handle) { recordClear(handle, 0); }
BRIDGE_API bool cudabridge_opchp(void* handle, void** buffer, short mode, int length) {
    return recordChain(handle, buffer, mode, length, 0);
}
BRIDGE_API void cudabridge_opchd(void* handle) { recordUnchain(handle, 0); }
BRIDGE_API void cudabridge_cnm15(void* handle, const double* in, double* out, const double* kernel,
                                 double* ring, int p, int channel, bool* changed) {
    recording.family = 0;
    record(15, handle, in, out, kernel, ring, p, -1, channel, changed, -1);
    convolve(handle, in, out, kernel, channel, changed, 0, false);
}
BRIDGE_API void cudabridge_cnm16(void* handle, const double* in, double* out, const double* kernel,
                                 double* ring, int p, int slot, int channel, bool* changed,
                                 short subBlock) {
    recording.family = 0;
    record(16, handle, in, out, kernel, ring, p, slot, channel, changed, subBlock);
    convolve(handle, in, out, kernel, channel, changed, subBlock, true);
}

BRIDGE_API bool cudabridge_af32p(const std::int32_t* params, void** handle) {
    return recordOpen(params, handle, 1);
}
BRIDGE_API void cudabridge_af32d(void* handle) { recordClose(handle, 1); }
BRIDGE_API void cudabridge_af32c(void* handle) { recordClear(handle, 1); }
BRIDGE_API bool cudabridge_afchp(void* handle, void** buffer, short mode, int length) {
    return recordChain(handle, buffer, mode, length, 1);
}
BRIDGE_API void cudabridge_afchd(void* handle) { recordUnchain(handle, 1); }
BRIDGE_API void cudabridge_cnm17(void* handle, const double* in, double* out, const double* kernel,
                                 double* ring, int p, int slot, int channel, bool* changed,
                                 short subBlock) {
    recording.family = 1;
    record(17, handle, in, out, kernel, ring, p, slot, channel, changed, subBlock);
    convolve(handle, in, out, kernel, channel, changed, subBlock, true);
}

BRIDGE_API bool cudabridge_avnwe(void** element, long count) {
    if (element == nullptr || count < 1) return false;
    *element = std::calloc(static_cast<size_t>(count), sizeof(float));
    return *element != nullptr;
}

BRIDGE_API void cudabridge_avcpe(void* dst, const void* src, long n, bool transfer, long offset,
                                 bool flush) {
    auto* d = static_cast<float*>(dst);
    if (d == nullptr || n < 1 || offset < 0) return;
    for (long i = 0; i < n; ++i) {
        if (src == nullptr)
            d[offset + i] = 0.0f;
        else if (transfer)
            d[offset + i] = static_cast<float>(static_cast<const double*>(src)[i]);
        else
            d[offset + i] = static_cast<const float*>(src)[i];
    }
    if (flush) flushFloats(d, n);
}

BRIDGE_API void cudabridge_avade(void* left, void* right, long n, float gain) {
    auto* l = static_cast<float*>(left);
    auto* r = static_cast<float*>(right);
    if (l == nullptr || r == nullptr) return;
    for (long i = 0; i < n; ++i) l[i] *= gain, r[i] *= gain;
    flushFloats(l, n);
    flushFloats(r, n);
}

BRIDGE_API void cudabridge_avfde(long n, void* left, void* right, long windowLength,
                                 const double* window, long tailLength, const double* tail) {
    auto* l = static_cast<float*>(left);
    auto* r = static_cast<float*>(right);
    if (l == nullptr || r == nullptr || n < 1) return;
    for (long i = 0; i < windowLength && i < n; ++i)
        l[i] *= static_cast<float>(window[i]), r[i] *= static_cast<float>(window[i]);
    for (long i = 0; i < tailLength; ++i) {
        const long k = n - tailLength + i;
        if (k >= 0) l[k] *= static_cast<float>(tail[i]), r[k] *= static_cast<float>(tail[i]);
    }
    if (windowLength != 0 || tailLength != 0) {
        flushFloats(l, n);
        flushFloats(r, n);
    }
}

BRIDGE_API void cudabridge_avvmx(bool skip, bool selected, bool pan, const void* mix, long n,
                                 int count, void* dstL, void* dstR, void* const* srcL,
                                 void* const* srcR) {
    auto* dl = static_cast<float*>(dstL);
    auto* dr = static_cast<float*>(dstR);
    const auto* m = static_cast<const MixRecord*>(mix);
    if (dl == nullptr || dr == nullptr || m == nullptr || n < 1) return;
    auto add = [&](int k, double g) {
        const auto* sl = static_cast<const float*>(srcL[k]);
        const auto* sr = static_cast<const float*>(srcR[k]);
        if (!pan) {
            for (long i = 0; i < n; ++i)
                dl[i] += static_cast<float>(sl[i] * g), dr[i] += static_cast<float>(sr[i] * g);
            return;
        }
        const double a = m->leftToLeft * g, b = m->leftToRight * g;
        const double c = m->rightToRight * g, d = m->rightToLeft * g;
        for (long i = 0; i < n; ++i) {
            dl[i] += static_cast<float>(sl[i] * a + sr[i] * d);
            dr[i] += static_cast<float>(sl[i] * b + sr[i] * c);
        }
    };
    if (!skip) {
        for (long i = 0; i < n; ++i)
            dl[i] *= static_cast<float>(m->retention), dr[i] *= static_cast<float>(m->retention);
        if (!selected) {
            for (int k = 0; k < count; ++k) add(k, m->gain);
        } else {
            if (m->index0 >= 0 && m->index0 < count) add(m->index0, m->weight0);
            if (m->index1 >= 0 && m->index1 < count) add(m->index1, m->weight1);
        }
    }
    flushFloats(dl, n);
    flushFloats(dr, n);
}

BRIDGE_API void cudabridge_cnm18() {}
