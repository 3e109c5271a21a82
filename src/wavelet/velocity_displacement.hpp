#pragma once
#include <cstdint>

#include "run/console.hpp"
#include "run/run_settings.hpp"
#include "spec/srs_spec.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Closed-form velocity and displacement of a trial's wavelets.  With
// a(tau) = A sin(alpha tau) sin(beta tau), alpha = omega / N, beta = omega,
// s = alpha + beta, dif = alpha - beta, the integrals from the wavelet's start are
//   v(tau) = A/2 (sin(dif tau)/dif - sin(s tau)/s)
//   d(tau) = A/2 ((cos(s tau) - 1)/s^2 - (cos(dif tau) - 1)/dif^2)
// and both are zero again at the end of the wavelet (odd N), so wavelets that
// have ended are left out exactly.  Writes velox_<trial>.out and disp_<trial>.out
// ("%14.6e \t %14.6e \n": time in sec, value in the run's reporting unit).
void write_velocity_displacement(Console& console, int32_t trial, const WaveletSet& set, const SrsSpec& spec,
                                 const RunSettings& settings, const OutputNames& names);

}  // namespace quorel
