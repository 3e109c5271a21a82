#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/console.hpp"
#include "base/run_settings.hpp"
#include "spec/srs_spec.hpp"
#include "srs/srs.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Evaluates trial `trial`'s wavelets directly at every sample,
//   a(t) = sum_j sin(omega_j tau / N_j) sin(omega_j tau) A_j,  tau = float(t - d_j),
// over the window t >= d_j, tau <= N_j / (2 f_j), in double; writes accel_<trial>.out
// ("%14.6f \t %12.4f \n": time in sec, acceleration unrounded) and stores each
// sample, as float, in the history, so the SRS that follows is that of the file.
void write_accel_file(TextOutput& out, int32_t trial, const WaveletSet& set, const SrsSpec& spec,
                      const RunSettings& settings, const OutputNames& names, TimeHistory& history);

// Writes srs_<trial>.out: frequency, positive peak, negative peak magnitude.
void write_srs_file(TextOutput& out, int32_t trial, const SrsResult& srs, const SrsSpec& spec,
                    const RunSettings& settings, const OutputNames& names, const std::string& wavelet_table_name);

// history_<trial>.csv: a header row naming the columns and their units, then
// per sample the time, the acceleration of the history (as the SRS saw it),
// and the velocity and displacement in the reporting units, each "%.9g" so
// that every float value is kept exactly.  `velocity` and `displacement` are
// the sums of integrate_wavelets.
void write_history_csv(int32_t trial, const RunSettings& settings, const OutputNames& names,
                       const TimeHistory& history, const float* velocity, const float* displacement);

// wavelets_<trial>.csv: per wavelet its index, frequency (Hz), polarity (1 or
// -1), half-sine count, delay (sec) and amplitude magnitude, so that
//   a(t) = polarity amplitude sin(2 pi f tau / N) sin(2 pi f tau),
//   tau = t - delay, for 0 <= tau <= N / (2 f).
void write_wavelets_csv(int32_t trial, const WaveletSet& set, const SrsSpec& spec, const RunSettings& settings,
                        const OutputNames& names);

// The files a run writes for an optimum trial, by name.
std::vector<std::string> trial_result_files(int32_t trial, const OutputNames& names, bool csv);

}  // namespace quorel
