#pragma once
#include <cstdint>
#include <string>

#include "run/console.hpp"
#include "run/run_settings.hpp"
#include "spec/srs_spec.hpp"
#include "srs/srs.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Evaluates trial `trial`'s wavelets directly at every sample,
//   a(t) = sum_j sin(omega_j tau / N_j) sin(omega_j tau) A_j,  tau = float(t - d_j),
// over the window t >= d_j, tau <= N_j / (2 f_j), in double; writes accel_<trial>.out
// ("%14.6f \t %12.4f \n": time in sec, acceleration unrounded) and stores each
// sample, as float, in the history, so the SRS that follows is that of the file.
void write_accel_file(Console& console, int32_t trial, const WaveletSet& set, const SrsSpec& spec,
                      const RunSettings& settings, const OutputNames& names, TimeHistory& history);

// Writes srs_<trial>.out: frequency, positive peak, negative peak magnitude.
void write_srs_file(Console& console, int32_t trial, const SrsResult& srs, const SrsSpec& spec,
                    const RunSettings& settings, const OutputNames& names, const std::string& wavelet_table_name);

}  // namespace quorel
