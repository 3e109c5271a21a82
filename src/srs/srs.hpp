#pragma once
// Shock response spectrum of a sampled acceleration history: every frequency's
// filter runs over the samples (forced phase), then for one period of its own
// frequency with zero input (residual phase); the largest positive and the
// largest negative response are kept per frequency.
//
// The response state and the peaks are doubles.  One step is
//
//   x = fma(a1, x1, fma(a2, x2, fma(b3, y2, fma(b2, y1, b1 * y))))
//
// with the samples widened to double (y = 0 in the residual phase).  Every fma
// rounds once, so the value is defined to the bit and every kernel and build
// gives the same; the previous response enters last, so the loop-carried
// dependence is one fused multiply-add per step.  Peaks start at 0 and move on
// strict comparisons.  A spectrum value is its peak rounded to float once.
#include <array>
#include <cmath>
#include <cstdint>

#include "base/capacity.hpp"
#include "srs/filter_bank.hpp"

namespace quorel {

struct SrsResult {
    std::array<float, max_frequencies> xmax{};   // positive peak
    std::array<float, max_frequencies> xmin{};   // negative peak, as a magnitude
};

// The synthesis's check of the forced phase: a response that never left zero
// in one direction (not above 1e-20 in magnitude) ends the run.  A measured
// record is judged without it: the residual phase follows every frequency,
// and a polarity the response never reaches has the peak 0.
enum class SrsSignCheck {
    forced_phase,
    none,
};

// Where the peaks of each phase go, beside those of both: the primary peaks
// (during the samples, the forced phase) and the residual ones (the free
// vibration after them), indexed like the peaks.  Any pointer may be null.
struct SrsPhasePeaks {
    double* primary_positive = nullptr;
    double* primary_negative = nullptr;   // magnitudes
    double* residual_positive = nullptr;
    double* residual_negative = nullptr;
};

enum class SrsKernel {
    vectorised,   // frequencies in SIMD lanes, whole history per lane group
    scalar,       // the plain loop: samples outer, frequencies inner
};

// Peaks of the frequencies first <= j < last (first a multiple of
// srs_lane_pad, last <= bank.count): positive[j] = the largest response,
// negative[j] = the magnitude of the most negative one, both unrounded.  With
// SrsSignCheck::forced_phase, ends the run when a forced-phase peak is not
// above 1e-20 in magnitude.  Both kernels give identical bits.
void compute_srs_peaks(const SrsFilterBank& bank, const float* samples, int64_t nt, int32_t first, int32_t last,
                       double* positive, double* negative, SrsKernel kernel = SrsKernel::vectorised,
                       SrsSignCheck check = SrsSignCheck::forced_phase);
void compute_srs_peaks(const SrsFilterBank& bank, const double* samples, int64_t nt, int32_t first, int32_t last,
                       double* positive, double* negative, SrsKernel kernel = SrsKernel::vectorised,
                       SrsSignCheck check = SrsSignCheck::forced_phase, const SrsPhasePeaks& phases = {});

// The synthesis's spectrum of a float history: every frequency of the bank
// (at most max_frequencies), each peak rounded to float.
void compute_srs(const SrsFilterBank& bank, const float* samples, int32_t nt, SrsResult& result,
                 SrsKernel kernel = SrsKernel::vectorised);

// The kernels behind compute_srs_peaks.
template <typename Sample>
void srs_peaks_scalar(const SrsFilterBank& bank, const Sample* samples, int64_t nt, int32_t first, int32_t last,
                      double* positive, double* negative, SrsSignCheck check, const SrsPhasePeaks& phases = {});
template <typename Sample>
void srs_peaks_vectorised(const SrsFilterBank& bank, const Sample* samples, int64_t nt, int32_t first, int32_t last,
                          double* positive, double* negative, SrsSignCheck check, const SrsPhasePeaks& phases = {});

// One step of frequency j's recursion: y is this sample, y1 and y2 the two
// before it, x1 and x2 the two previous responses.
inline double srs_step(const SrsFilterBank& bank, int32_t j, double x1, double x2, double y, double y1, double y2) {
    return std::fma(bank.a1[j], x1, std::fma(bank.a2[j], x2, std::fma(bank.b3[j], y2, std::fma(bank.b2[j], y1, bank.b1[j] * y))));
}

// The samples of frequency j's SRS: the nt forced ones and its residual steps.
inline int64_t srs_window(const SrsFilterBank& bank, int32_t j, int64_t nt) { return nt + bank.last_step[j]; }

// Frequency j's response, from rest, at k = 0..length-1 to `samples` (zero
// after the first nt): the values whose extremes over srs_window are its SRS.
void srs_response(const SrsFilterBank& bank, int32_t j, const double* samples, int64_t nt, int64_t length,
                  double* response);

// The failure of the forced-phase check at frequency j (xmin still signed).
[[noreturn]] void throw_srs_failure(const SrsFilterBank& bank, int32_t j, double xmax, double xmin);

}  // namespace quorel
