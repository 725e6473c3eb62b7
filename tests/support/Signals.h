#pragma once
// Test signals: reproducible input for comparing a fast path against a naive
// one. Test thread only.

#include <vector>

// n values uniform in -1..1 from a Mersenne twister seeded with seed.
std::vector<double> randomSignal(int n, unsigned seed);
