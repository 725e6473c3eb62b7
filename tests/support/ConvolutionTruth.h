#pragma once
// Independent truth for the convolution engines: a naive time-domain
// convolution with a kernel change, and the error measure the engines are
// held to. Test thread only.

#include <cstddef>
#include <vector>

// y = x * h over x's length, where input samples before switchAt see h0 and
// the later ones h1 (the earlier samples' tails keep h0).
std::vector<double> naiveConvolution(const std::vector<double>& x, const std::vector<double>& h0,
                                     const std::vector<double>& h1, std::size_t switchAt);

// sqrt(error energy / energy of want): the amplitude ratio of the error.
double relativeError(const std::vector<double>& got, const std::vector<double>& want);
