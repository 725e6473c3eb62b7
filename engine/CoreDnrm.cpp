#include "engine/CoreDnrm.h"

#include "platform/PlatSignalCall.h"

const int CoreDnrm::iCrounding = 3;

CoreDnrm::CoreDnrm(int rounding) : saved(PlatFpu::save()) {
    (void)rounding;
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
}

CoreDnrm::~CoreDnrm() { PlatFpu::restore(saved); }
