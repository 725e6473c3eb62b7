// Engines 9 to 16: the FFT engines on the signal layer and the GPU-bridge
// engines. Their plans are not built yet: every load reports failure, so a
// player that selects one is never planned and plays silence; the unloads,
// clears and kernels are harmless on an empty plan.
#include "engine/CoreCnvl.h"

#include <algorithm>

namespace {

inline void silence(double* outL, double* outR, const CoreCnvl::FFTEXTENSION* ext) {
  const int B = ext != nullptr ? ext->block : 0;
  if (B < 1) return;
  std::fill(outL, outL + B, 0.0);
  std::fill(outR, outR + B, 0.0);
}

}  // namespace

bool CoreCnvl::load3(int, FFTSTRUCT*, FFTEXTENSION*, int, int&) { return false; }
void CoreCnvl::uloa3(FFTSTRUCT*, FFTEXTENSION*) {}
void CoreCnvl::clea3(FFTSTRUCT*, FFTEXTENSION*) {}
bool CoreCnvl::load4(int, FFTSTRUCT*, FFTEXTENSION*, int, int&) { return false; }
void CoreCnvl::uloa4(FFTSTRUCT*, FFTEXTENSION*) {}
void CoreCnvl::clea4(FFTSTRUCT*, FFTEXTENSION*) {}
bool CoreCnvl::load5(int, FFTSTRUCT*, FFTEXTENSION*, int, int&) { return false; }
void CoreCnvl::uloa5(FFTSTRUCT*, FFTEXTENSION*) {}
void CoreCnvl::clea5(FFTSTRUCT*, FFTEXTENSION*) {}
bool CoreCnvl::load7(int, FFTSTRUCT*, FFTEXTENSION*, int, int&) { return false; }
void CoreCnvl::uloa7(FFTSTRUCT*, FFTEXTENSION*) {}
void CoreCnvl::clea7(FFTSTRUCT*, FFTEXTENSION*) {}
bool CoreCnvl::load8(int, FFTSTRUCT*, FFTEXTENSION*, int, int&) { return false; }
void CoreCnvl::uloa8(FFTSTRUCT*, FFTEXTENSION*) {}
void CoreCnvl::clea8(FFTSTRUCT*, FFTEXTENSION*) {}
bool CoreCnvl::load9(int, FFTSTRUCT*, FFTEXTENSION*, int, int&) { return false; }
void CoreCnvl::uloa9(FFTSTRUCT*, FFTEXTENSION*) {}
void CoreCnvl::clea9(FFTSTRUCT*, FFTEXTENSION*) {}
bool CoreCnvl::lod10(int, FFTSTRUCT*, FFTEXTENSION*, int, int&) { return false; }
void CoreCnvl::ulo10(FFTSTRUCT*, FFTEXTENSION*) {}
void CoreCnvl::cle10(FFTSTRUCT*, FFTEXTENSION*) {}
bool CoreCnvl::lcom2(FFTSTRUCT*, FFTEXTENSION*, void*, std::int16_t, int) { return false; }
void CoreCnvl::ucom2(FFTSTRUCT*, FFTEXTENSION*) {}
bool CoreCnvl::lcom3(FFTSTRUCT*, FFTEXTENSION*, void*, std::int16_t, int) { return false; }
void CoreCnvl::ucom3(FFTSTRUCT*, FFTEXTENSION*) {}

void CoreCnvl::cns10(const double*, const double*, double* outL, double* outR, const double*,
                     const double*, double*, double*, int, int, FFTEXTENSION* ext) {
  silence(outL, outR, ext);
}
void CoreCnvl::cns11(const double*, const double*, double* outL, double* outR, const double*,
                     const double*, double*, double*, int, int, FFTEXTENSION* ext) {
  silence(outL, outR, ext);
}
void CoreCnvl::cns12(const double*, const double*, double* outL, double* outR, const double*,
                     const double*, double*, double*, int, int, FFTEXTENSION* ext) {
  silence(outL, outR, ext);
}
void CoreCnvl::cns14(const double*, const double*, double* outL, double* outR, const double*,
                     const double*, double*, double*, int, int, FFTEXTENSION* ext) {
  silence(outL, outR, ext);
}
void CoreCnvl::cns15(const double*, const double*, double* outL, double* outR, const double*,
                     const double*, double*, double*, int, int, FFTEXTENSION* ext) {
  silence(outL, outR, ext);
}
void CoreCnvl::cns16(const double*, const double*, double* outL, double* outR, const double*,
                     const double*, double*, double*, int, int, FFTEXTENSION* ext) {
  silence(outL, outR, ext);
}
void CoreCnvl::cns17(const double*, const double*, double* outL, double* outR, const double*,
                     const double*, double*, double*, int, int, FFTEXTENSION* ext) {
  silence(outL, outR, ext);
}
