#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/run_settings.hpp"
#include "specification/srs_spec.hpp"
#include "wavelet/basis_values.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Spans of a row: span_i = N_i / (2 f_i) seconds, stored as float.
void set_spans(const WaveletSet& set, int32_t row, const SrsSpec& spec, WaveletBasis& basis);

// Rebuilds the unit-amplitude basis for a row (spans already set):
//   tau = t_j - d_i (double), theta = float(tau * omega_i),
//   basis(i, j) = float(sin(theta / N_i) * sin(theta))  where t_j >= d_i and float(tau) <= span_i,
// with the C library's bits whatever basis.sine says (basis_values; `margin`
// is the test's hook to recompute more values with the C library).
void build_wavelet_basis(const WaveletSet& set, int32_t row, const RunSettings& settings, WaveletBasis& basis,
                         double margin = sine_product_margin);

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

// The acceleration of row `row` at time t as the result files hold it: each
// wavelet a_j = A_j sin(omega_j tau / N_j) sin(omega_j tau), tau = float(t - d_j),
// evaluated in double over its window t >= d_j, tau <= N_j / (2 f_j), and the
// wavelets summed in ascending order in double.
inline double file_acceleration(const WaveletSet& set, int32_t row, const SrsSpec& spec, float t) {
    const float* amplitude = set.amplitude_row(row);
    const int32_t* nhs = set.nhs_row(row);
    const float* delay = set.delay_row(row);
    double a = 0.0;
    for (int32_t j = 0; j < spec.count; ++j) {
        const float tau = static_cast<float>(static_cast<double>(t) - delay[j]);
        if (t >= delay[j] && tau <= nhs[j] / (2.0 * static_cast<double>(spec.freq[j]))) {
            const double omega_tau = static_cast<double>(set.omega[j]) * tau;
            a = a + (std::sin(omega_tau / nhs[j]) * std::sin(omega_tau)) * amplitude[j];
        }
    }
    return a;
}

// Adds wavelet j of row `row` to sum[0..nt), over its own window only, as
// file_history does: the wavelets of a row added in ascending order make its
// history.
void add_file_wavelet(const WaveletSet& set, int32_t row, const SrsSpec& spec, const RunSettings& settings, int32_t j,
                      double* sum);

// Every sample of the history as the acceleration file holds it, rounded to
// float: the history whose SRS the SRS file holds.  The same sums as
// file_acceleration, sample by sample (0 plus each wavelet in ascending order,
// in double), taken wavelet by wavelet over its own window only; `sum` is a
// workspace, sized to the history on first use.
void file_history(const WaveletSet& set, int32_t row, const SrsSpec& spec, const RunSettings& settings,
                  TimeHistory& history, std::vector<double>& sum);

}  // namespace quorel
