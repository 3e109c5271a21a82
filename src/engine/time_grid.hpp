#pragma once
// The time grid of a run: sample rate, time step, sample count and duration,
// with the checks both front ends apply and the dialogue's messages.
#include <cstdint>
#include <string>

#include "base/run_settings.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

// The highest frequency of the grid that runs (after any cut to 125 points).
float top_grid_frequency(const SrsSpec& spec);

// 10 x the top grid frequency, as a float.
float recommended_sample_rate(const SrsSpec& spec);

// Ends the run ("sample rate is too low") below 4 x the top grid frequency.
// `given`, the rate as a front end was given it ("--sample-rate 159",
// "sample_rate=159"), adds the minimum to the message.
void check_sample_rate(const SrsSpec& spec, float sample_rate, const std::string& given = {});

// The most samples a history may have.
inline constexpr int32_t max_history_samples = 99999;

// nt from a number of points, duration = nt dt.  Above max_history_samples
// the count is reduced to it; returns true then ("duration reduced").
bool set_point_count(RunSettings& settings, int32_t points);

// nt = duration / dt truncated.  A quotient (in double) of 100 000 or more
// reduces nt to max_history_samples and the duration to nt dt; returns true then.
bool set_duration(RunSettings& settings, float duration);

// The duration recommended for a specification: 2 / f_0 seconds.
double recommended_duration(const SrsSpec& spec);

// "\n dt=... sec   dur=... sec  sr=... sample/sec  nt=... \n"
std::string time_grid_line(const RunSettings& settings);

// The lowest wavelet needs 1.5 / f_0 seconds for three half-sines and must end
// strictly before the duration.  Empty when the duration suffices, otherwise
// the message that ends the run.
std::string duration_error(const SrsSpec& spec, const RunSettings& settings);

// "\n\n Warning: duration reduced. \n"
inline constexpr const char* duration_reduced_warning = "\n\n Warning: duration reduced. \n";

}  // namespace quorel
