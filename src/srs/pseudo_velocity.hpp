#pragma once
// The pseudo-velocity shock spectrum of a sampled acceleration history:
//
//   PV = w max|z|,   z'' + 2 zeta w z' + w^2 z = -a,
//
// z being the displacement of the mass relative to the base, w = 2 pi f.  z is
// computed by the ramp-invariant recursion of the oscillator (the SRS's own
// kernel on a bank designed for SrsResponse::pseudo_velocity: exact for an
// input linear between samples, double coefficients and state) over the
// samples and, with the residual phase, one period of each frequency at
// rest.  The positive polarity is w max(-z), the one that goes with the
// positive SRS; the negative is w max(z); PV is the larger.
//
// Far below the resonance the SRS divided by w is not this: there the
// absolute acceleration is set by the damper and the base velocity, while z
// follows the base displacement.
#include <cstdint>
#include <vector>

#include "srs/filter_bank.hpp"

namespace quorel {

struct PvssLine {
    double freq = 0.0;       // Hz
    double positive = 0.0;   // w max(-z), velocity unit
    double negative = 0.0;   // w max(z)
};

// The bank of the pseudo-velocity filters (the algorithm does not matter).
void design_pvss_filters(float zeta, float dt, const float* freq, int32_t count, double two_pi, bool residual,
                         SrsFilterBank& bank);

// The bank of the relative-velocity filters, x = -z' (the same recursion);
// compute_pvss_peaks runs it to max(-z') and max(z').
void design_relative_velocity_filters(float zeta, float dt, const float* freq, int32_t count, double two_pi,
                                      bool residual, SrsFilterBank& bank);

// Peaks w max(-z) and w max(z) of the frequencies first <= j < last of a
// pseudo-velocity bank (first a multiple of srs_lane_pad), in the
// acceleration unit times sec, unrounded.  A polarity never reached is 0.
void compute_pvss_peaks(const SrsFilterBank& bank, const double* samples, int64_t nt, int32_t first, int32_t last,
                        double* positive, double* negative);

// A peak as reported: rounded to float once (as the SRS is), then converted
// by velocity_factor, the velocity unit per second in one acceleration unit
// (386 in/sec^2 per G, 9.81 m/sec^2 per G, 1 for m/sec^2).
double pvss_value(double peak, double velocity_factor);

// The whole spectrum of a history at the frequencies `freq` (ascending).
std::vector<PvssLine> pseudo_velocity_spectrum(const std::vector<double>& samples, float dt, float zeta,
                                               const std::vector<float>& freq, bool residual, double velocity_factor);

}  // namespace quorel
