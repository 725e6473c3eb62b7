#include "tests/support/RtcvRates.h"

double fromRate(int row) {
    if (row <= 19) return 44100;
    if (row <= 39) return 96000;
    if (row == 40) return 48000;
    if (row <= 51) return 176400;
    if (row <= 58) return 192000;
    if (row <= 64) return 48000;
    if (row <= 71) return 88200;
    if (row <= 78) return 352800;
    return 384000;
}

double documentedRate(int row, double to) {
    if (row == 57 || row == 70 || row == 85) return 352000.0;
    if (row >= 72 && row <= 78) return to * 352800.0 / 352000.0;
    return to;
}
