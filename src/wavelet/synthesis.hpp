#pragma once
#include <cstdint>

#include "base/run_settings.hpp"
#include "spec/srs_spec.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Spans of a row: span_i = N_i / (2 f_i) seconds, stored as float.
void set_spans(const WaveletSet& set, int32_t row, const SrsSpec& spec, WaveletBasis& basis);

// Rebuilds the unit-amplitude basis for a row (spans already set):
//   tau = t_j - d_i (double), theta = float(tau * omega_i),
//   basis(i, j) = float(sin(theta / N_i) * sin(theta))  where t_j >= d_i and float(tau) <= span_i.
void build_wavelet_basis(const WaveletSet& set, int32_t row, const RunSettings& settings, WaveletBasis& basis);

// a_j = sum over i ascending of basis(i, j) * A_i, in double, rounded once to
// float per sample; ends the run when the root-mean-square level is below 1e-20.
void sum_wavelet_basis(const float* amplitudes, int32_t n, const WaveletBasis& basis, TimeHistory& history);

// One synthesis of row `row`.  With `rebuild` the spans and the basis are made
// for the row first (the first evaluation of a trial, and every re-synthesis of
// the final report); otherwise the basis of the same row is re-summed with the
// row's current amplitudes.  The row checks run on every call.
void synthesize_time_history(const WaveletSet& set, int32_t row, bool rebuild, const SrsSpec& spec,
                             const RunSettings& settings, WaveletBasis& basis, TimeHistory& history);

// t_j = j dt rounded to float: the time grid of every history and file.
inline float sample_time(int32_t j, float dt) { return static_cast<float>(static_cast<double>(j) * dt); }

}  // namespace quorel
