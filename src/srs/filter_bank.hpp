#pragma once
// Recursive filters mapping base acceleration y to a response x of a
// single-degree-of-freedom oscillator at each grid frequency:
//
//   x(k) = a1 x(k-1) + a2 x(k-2) + b1 y(k) + b2 y(k-1) + b3 y(k-2)
//
// The response is the absolute acceleration (the SRS), the pseudo velocity
// (the pseudo-velocity spectrum) or the relative velocity; all have the
// oscillator's poles.
//
// The coefficients are designed and kept in double.  For a frequency far below
// the sample rate a1 differs from 2 by about (w dt)^2, which a float near 2
// cannot hold: float coefficients put the spectrum decibels off there.
// Coefficients are designed once per run and shared read-only by every trial.
#include <cstdint>
#include <vector>

#include "base/capacity.hpp"
#include "base/run_settings.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

// Frequencies a measured record may be checked at (the synthesis keeps
// max_frequencies).
inline constexpr int32_t max_check_frequencies = 1000;

// Filters are stored in lane blocks of this many, padded with zero filters.
inline constexpr int32_t srs_lane_pad = 8;

struct SrsFilterBank {
    int32_t count = 0;          // frequencies n_f
    int32_t padded_count = 0;   // count rounded up to a multiple of srs_lane_pad
    // Structure of arrays, each padded_count long (zero filters in the padding).
    std::vector<double> a1, a2, b1, b2, b3;
    std::vector<float> period;   // 1/f, sec: length of the residual phase
    std::vector<float> freq;     // Hz, for messages
    // Last residual step of each frequency: the largest k <= residual_steps with
    // float(k dt) <= period; 0 for the padding and without a residual phase.
    std::vector<int32_t> last_step;
    int32_t residual_steps = 0;   // free-vibration steps after the last sample
    float dt = 0.0f;
};

// What the filters compute from the base acceleration y.  With z the
// displacement of the mass relative to the base,
//   z'' + 2 zeta w z' + w^2 z = -y:
enum class SrsResponse {
    // x = y + z'', the absolute acceleration: by the Kelly-Richman filter or
    // the Smallwood ramp-invariant one.
    absolute_acceleration,
    // x = -w z, in the acceleration unit times sec: the ramp-invariant
    // (exact for an input linear between samples) filter whatever the
    // algorithm.  The sign makes x follow the absolute acceleration of a
    // lightly damped oscillator, so its positive peak goes with the positive SRS.
    pseudo_velocity,
    // x = -z', the relative velocity in the acceleration unit times sec: the
    // ramp-invariant filter as for the pseudo velocity, whatever the algorithm.
    relative_velocity,
};

// freq ascends; count is at most max_check_frequencies.  Without a residual
// phase only the forced response over the samples counts.
void design_srs_filters(SrsAlgorithm algorithm, float zeta, float dt, const float* freq, int32_t count, double two_pi,
                        bool residual, SrsFilterBank& bank,
                        SrsResponse response = SrsResponse::absolute_acceleration);

// The synthesis's bank: its algorithm, damping and time step on the grid.
void prepare_srs_filters(const RunSettings& settings, const SrsSpec& spec, double two_pi, SrsFilterBank& bank);

}  // namespace quorel
