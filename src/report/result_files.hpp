#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/console.hpp"
#include "base/run_settings.hpp"
#include "specification/srs_spec.hpp"
#include "srs/srs.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Trial `trial`'s history as its acceleration file holds it: each wavelet
// evaluated directly at every sample (file_acceleration), in double.
void file_acceleration_history(const WaveletSet& set, int32_t trial, const SrsSpec& spec,
                               const RunSettings& settings, std::vector<double>& acceleration);

// Writes accel_<tag>.out ("%14.6f \t %12.4f \n": time in sec, acceleration
// unrounded), for a trial from file_acceleration_history's values.
void write_accel_file(TextOutput& out, const std::string& tag, const std::vector<double>& acceleration,
                      const RunSettings& settings, const OutputNames& names);

// Writes srs_<tag>.out: frequency, positive peak, negative peak magnitude; the
// console names the wavelet table too when there is one.
void write_srs_file(TextOutput& out, const std::string& tag, const SrsResult& srs, const SrsSpec& spec,
                    const RunSettings& settings, const OutputNames& names, const std::string& wavelet_table_name);

// history_<tag>.csv: a header row naming the columns and their units, then
// per sample the time, the acceleration of the history (as the SRS saw it),
// and the velocity and displacement in the reporting units, each "%.9g" so
// that every float value is kept exactly.
void write_history_csv(const std::string& tag, const RunSettings& settings, const OutputNames& names,
                       const float* acceleration, const double* velocity, const double* displacement);

// Wavelet k of a trial as the wavelet tables give it: polarity 1 or -1 (a
// negative amplitude or a NaN is -1) and the amplitude's magnitude.
struct TableWavelet {
    int32_t polarity = 1;
    int32_t half_sines = 0;
    float delay = 0.0f;        // sec
    double amplitude = 0.0;    // magnitude, acceleration unit of the specification
};
TableWavelet table_wavelet(const WaveletSet& set, int32_t trial, int32_t k);

// wavelets_<trial>.csv: per wavelet its index, frequency (Hz), polarity (1 or
// -1), half-sine count, delay (sec) and amplitude magnitude, so that
//   a(t) = polarity amplitude sin(2 pi f tau / N) sin(2 pi f tau),
//   tau = t - delay, for 0 <= tau <= N / (2 f).
void write_wavelets_csv(int32_t trial, const WaveletSet& set, const SrsSpec& spec, const RunSettings& settings,
                        const OutputNames& names);

// The files a run writes for an optimum trial, by name.
std::vector<std::string> trial_result_files(int32_t trial, const OutputNames& names, bool csv);

}  // namespace quorel
