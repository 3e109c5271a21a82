#pragma once
// Shock response spectrum of a sampled acceleration history: every frequency's
// filter runs over the samples (forced phase), then for one period of its own
// frequency with zero input (residual phase); the largest positive and the
// largest negative response are kept per frequency.
#include <array>
#include <cstdint>

#include "base/capacity.hpp"
#include "srs/filter_bank.hpp"

namespace quorel {

struct SrsResult {
    std::array<float, max_frequencies> xmax{};   // positive peak
    std::array<float, max_frequencies> xmin{};   // negative peak, as a magnitude
};

enum class SrsKernel {
    vectorised,   // frequencies in SIMD lanes, whole history per lane group
    scalar,       // the plain loop: samples outer, frequencies inner
};

// x = a2 x2 + a1 x1 + b1 y + b2 y1 + b3 y2, summed left to right in double,
// stored as float; strict peak comparisons.  Ends the run when a forced-phase
// peak is not above 1e-20 in magnitude (a response that never left zero in one
// direction).  Both kernels give identical results.
void compute_srs(const SrsFilterBank& bank, const float* samples, int32_t nt, SrsResult& result,
                 SrsKernel kernel = SrsKernel::vectorised);

void compute_srs_scalar(const SrsFilterBank& bank, const float* samples, int32_t nt, SrsResult& result);
void compute_srs_vectorised(const SrsFilterBank& bank, const float* samples, int32_t nt, SrsResult& result);

// The failure of the forced-phase check at frequency j (xmin still signed).
[[noreturn]] void throw_srs_failure(const SrsFilterBank& bank, int32_t j, float xmax, float xmin);

}  // namespace quorel
