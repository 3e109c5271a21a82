#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/console.hpp"
#include "base/run_settings.hpp"
#include "specification/srs_spec.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Closed-form velocity and displacement of a trial's wavelets.  With
// a(tau) = A sin(alpha tau) sin(beta tau), alpha = omega / N, beta = omega,
// s = alpha + beta, dif = alpha - beta, the integrals from the wavelet's start are
//   v(tau) = A/2 (sin(dif tau)/dif - sin(s tau)/s)
//   d(tau) = A/2 ((cos(s tau) - 1)/s^2 - (cos(dif tau) - 1)/dif^2)
// and both are zero again at the end of the wavelet (odd N), so wavelets that
// have ended are left out exactly.
//
// Fills velocity[j] and displacement[j], j < nt, with the float sums over the
// wavelets of A (...) above: twice the integrals, in the unit of the
// specification's accelerations times sec and sec^2.  Ends the run when an
// envelope and its carrier coincide (N = 1).
void integrate_wavelets(const WaveletSet& set, int32_t trial, const SrsSpec& spec, const RunSettings& settings,
                        float* velocity, float* displacement);

// A sum of integrate_wavelets in the reporting unit: sum x factor x 1/2.
inline double reported_value(float sum, double factor) { return static_cast<double>(sum) * factor * 0.5; }

// The sums of integrate_wavelets (nt entries) in the reporting units.
std::vector<double> reported_values(const float* sums, int32_t nt, double factor);

// Writes velox_<tag>.out and disp_<tag>.out ("%14.6e \t %14.6e \n": time in
// sec, value in the run's reporting unit; nt entries each).
void write_velocity_displacement(TextOutput& out, const std::string& tag, const RunSettings& settings,
                                 const OutputNames& names, const double* velocity, const double* displacement);

}  // namespace quorel
