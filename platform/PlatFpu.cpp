#include "platform/PlatFpu.h"

#if defined(__x86_64__) || defined(__i386__) && defined(__SSE__)
#include <xmmintrin.h>
#define PLATFPU_MXCSR 1
#elif defined(__aarch64__)
#define PLATFPU_FPCR 1
#endif

namespace {
#if defined(PLATFPU_MXCSR)
constexpr unsigned kFlushBit = 0x8000u;  // MXCSR.FTZ
constexpr unsigned kDenormBit = 0x0040u; // MXCSR.DAZ

void setBit(unsigned bit, bool on) {
    unsigned csr = _mm_getcsr();
    _mm_setcsr(on ? (csr | bit) : (csr & ~bit));
}
bool getBit(unsigned bit) { return (_mm_getcsr() & bit) != 0; }
#elif defined(PLATFPU_FPCR)
// AArch64 has one switch (FPCR.FZ) that both flushes results and reads
// denormal operands as zero, so the two calls share it.
constexpr std::uint64_t kFzBit = 1ull << 24;

std::uint64_t readFpcr() {
    std::uint64_t v;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(v));
    return v;
}
void writeFpcr(std::uint64_t v) { __asm__ __volatile__("msr fpcr, %0" : : "r"(v)); }
void setBit(std::uint64_t bit, bool on) {
    std::uint64_t v = readFpcr();
    writeFpcr(on ? (v | bit) : (v & ~bit));
}
bool getBit(std::uint64_t bit) { return (readFpcr() & bit) != 0; }
#endif
} // namespace

void PlatFpu::setFlushToZero(bool on) {
#if defined(PLATFPU_MXCSR)
    setBit(kFlushBit, on);
#elif defined(PLATFPU_FPCR)
    setBit(kFzBit, on);
#else
    (void)on;
#endif
}

void PlatFpu::setDenormalsAreZero(bool on) {
#if defined(PLATFPU_MXCSR)
    setBit(kDenormBit, on);
#elif defined(PLATFPU_FPCR)
    setBit(kFzBit, on);
#else
    (void)on;
#endif
}

bool PlatFpu::flushToZero() {
#if defined(PLATFPU_MXCSR)
    return getBit(kFlushBit);
#elif defined(PLATFPU_FPCR)
    return getBit(kFzBit);
#else
    return false;
#endif
}

bool PlatFpu::denormalsAreZero() {
#if defined(PLATFPU_MXCSR)
    return getBit(kDenormBit);
#elif defined(PLATFPU_FPCR)
    return getBit(kFzBit);
#else
    return false;
#endif
}

PlatFpu::Mode PlatFpu::save() {
#if defined(PLATFPU_MXCSR)
    return _mm_getcsr();
#elif defined(PLATFPU_FPCR)
    return readFpcr();
#else
    return 0;
#endif
}

void PlatFpu::restore(Mode mode) {
#if defined(PLATFPU_MXCSR)
    // Only the control bits are put back; the sticky exception flags the
    // thread raised meanwhile are left as they are.
    constexpr unsigned kControl = 0xFFC0u;
    unsigned csr = _mm_getcsr();
    _mm_setcsr((csr & ~kControl) | (static_cast<unsigned>(mode) & kControl));
#elif defined(PLATFPU_FPCR)
    writeFpcr(mode);
#else
    (void)mode;
#endif
}

bool PlatFpu::supported() {
#if defined(PLATFPU_MXCSR) || defined(PLATFPU_FPCR)
    return true;
#else
    return false;
#endif
}
