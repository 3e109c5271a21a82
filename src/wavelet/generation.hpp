#pragma once
// Random wavelet layouts.  Every draw comes from the one generator in a fixed
// order, and nothing here depends on any synthesis result, so all trials' rows
// can be drawn before any trial is evaluated.
#include <cstdint>

#include "base/random.hpp"
#include "base/run_settings.hpp"
#include "specification/srs_spec.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Attempts (and, for the chained layout, delay redraws) one generator call may
// make before the layout is declared impossible.
inline constexpr int32_t max_generation_attempts = 1000000;

// Chained layout (strategies 1-5): from the highest frequency, which starts at
// 0, each lower wavelet starts k * 1.5 of its own periods after the next higher
// one; one shared starting NHS; alternating or all-positive signs.
void chained_layout(RandomGenerator& rng, const SrsSpec& spec, const RunSettings& settings, int32_t trial, WaveletSet& set);

// Independent layout (strategy 6): random sign, delay and NHS per wavelet.
void independent_layout(RandomGenerator& rng, const SrsSpec& spec, const RunSettings& settings, int32_t trial, WaveletSet& set);

// Largest N = start - 2m for which the wavelet ends strictly before the duration
// (a value below 3 means it cannot fit):
// while d + N / (2 f) >= duration, N -= 2.
int32_t fit_half_sines(int32_t start, float delay, float freq, float duration);

// The draws of one trial before its evaluation: seed - 1 discards, the
// amplitude-correction exponent, then the row by the strategy's generator.
// `strategy` cycles 1..6 across trials (5 chained rows, 1 independent row).
// Returns the correction exponent.
double generate_trial(RandomGenerator& rng, const SrsSpec& spec, const RunSettings& settings, int32_t trial,
                      int32_t& strategy, WaveletSet& set);

}  // namespace quorel
