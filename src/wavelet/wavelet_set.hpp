#pragma once
// The wavelet model.  Wavelet i of a trial is a sine at grid frequency f_i under
// a half-sine envelope of N_i (odd) half-cycles of the carrier:
//
//   w_i(t) = A_i sin(omega_i tau / N_i) sin(omega_i tau),  tau = t - d_i,
//   for d_i <= t <= d_i + N_i / (2 f_i), and 0 elsewhere.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/capacity.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

// Wavelet parameters of every trial: one row per trial, one column per grid
// frequency (row stride max_frequencies), plus the per-frequency constants.
struct WaveletSet {
    int32_t count = 0;   // wavelets per row = grid points
    std::vector<float> amplitude;   // signed, acceleration unit of the specification
    std::vector<int32_t> nhs;       // half-sine count, odd, >= 3 after generation
    std::vector<float> delay;       // start time, sec

    std::array<float, max_frequencies> omega{};            // 2 pi f_i, rad/sec
    std::array<float, max_frequencies> min_span{};         // 1.5 / f_i, sec
    std::array<float, max_frequencies> base_amplitude{};   // spec accel / 16

    float* amplitude_row(int32_t t) { return amplitude.data() + static_cast<size_t>(t) * max_frequencies; }
    const float* amplitude_row(int32_t t) const { return amplitude.data() + static_cast<size_t>(t) * max_frequencies; }
    int32_t* nhs_row(int32_t t) { return nhs.data() + static_cast<size_t>(t) * max_frequencies; }
    const int32_t* nhs_row(int32_t t) const { return nhs.data() + static_cast<size_t>(t) * max_frequencies; }
    float* delay_row(int32_t t) { return delay.data() + static_cast<size_t>(t) * max_frequencies; }
    const float* delay_row(int32_t t) const { return delay.data() + static_cast<size_t>(t) * max_frequencies; }
};

// Sizes the rows for a run and zeroes them.
void allocate_rows(WaveletSet& set, int32_t count, int32_t rows);

// The per-frequency constants of the grid's wavelets: omega = float(2 pi f),
// min_span = float(1.5 / f), base_amplitude = float(spec / 16).
void set_wavelet_constants(const SrsSpec& spec, WaveletSet& set);

// How the basis values' sines are taken: `vectorised` (SLEEF's 1-ULP sine,
// with the C library's sin wherever the rounding to float could tell them
// apart; the same bits) or `library` (the C library's sin for every value,
// the reference).
enum class SineKernel { vectorised, library };

// Unit-amplitude samples of the wavelets of the row last rebuilt (valid only
// for that row: the delays, NHS and spans fix the samples).  A wavelet is
// zero outside its support, so only the samples of its window
// [first, first + length) are kept: span / dt values instead of nt.
struct WaveletBasis {
    std::array<float, max_frequencies> span{};         // N_i / (2 f_i), sec
    std::array<int32_t, max_frequencies> first{};      // first sample of the window
    std::array<int32_t, max_frequencies> length{};     // samples in the window
    std::array<size_t, max_frequencies> offset{};      // start of the window in values
    std::unique_ptr<float[]> values;                   // capacity n * nt, touched as used
    size_t capacity = 0;
    std::unique_ptr<double[]> sum;                     // nt double partial sums
    bool dense = false;                                // keep every sample (reference mode)
    SineKernel sine = SineKernel::vectorised;
    // Values the vectorised sine has computed over the rebuilds so far, and
    // how many of them were recomputed with the C library's sin.
    int64_t sine_values = 0;
    int64_t sine_fallbacks = 0;
};

// Sizes a basis for n wavelets over nt samples.  Pages of the value table are
// touched only by the windows that use them.
void allocate_basis(WaveletBasis& basis, int32_t n, int32_t nt, bool dense);

// The synthesized acceleration history of one trial, with its peaks.
struct TimeHistory {
    int32_t nt = 0;
    std::vector<float> samples;    // a_j, j < nt; entry nt is always 0
    std::vector<float> velocity;   // running velocity, nt + 1 entries, unconverted
    float peak_accel = 0.0f;
    float peak_velocity = 0.0f;
    float peak_displacement = 0.0f;
};

void allocate_history(TimeHistory& history, int32_t nt);

}  // namespace quorel
