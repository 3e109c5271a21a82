#pragma once
// The least peaks any drive needs for a shock response spectrum.
//
// An oscillator of natural frequency f (w = 2 pi f, damping ratio zeta,
// wd = w sqrt(1 - zeta^2)) at rest, driven by a base motion confined to a
// history of duration T, responds by a convolution with a known kernel h.  At
// any time t its response sees the input through the part of h on
// [t - T, t], so the response's peak is at most the input's peak times
//   N_h(T) = sup over u >= 0 of the integral of |h| over [u, u + T],
// and a drive of alternating full-scale segments, switching at the kernel's
// zeros, reaches it.  (For most cases u = 0 is the largest window; the
// residual response after the drive can see a later one when h starts small
// and T is short.)  The kernels:
//   absolute acceleration from base acceleration, (2 zeta w s + w^2) / (s^2 + 2 zeta w s + w^2):
//     h_a(t) = e^(-zeta w t) (2 zeta w cos wd t + w (1 - 2 zeta^2) / sqrt(1 - zeta^2) sin wd t)
//   relative displacement from base velocity, s / (s^2 + 2 zeta w s + w^2):
//     h_v(t) = e^(-zeta w t) (cos wd t - zeta / sqrt(1 - zeta^2) sin wd t)
//   relative displacement from base displacement: the impulse minus h_a, whose
//     norm is 1 + the norm of h_a while the drive lasts, that of h_a after it.
// An SRS value S (the run's acceleration unit, g of them per length/sec^2)
// therefore needs at least
//   peak acceleration  A >= S / N_a
//   peak velocity      V >= S g / (w^2 N_v)
//   peak displacement  D >= S g / (w^2 max(1 + L_a, N_a)),  L_a = integral of |h_a| over [0, T]
// where the velocity and displacement bounds hold for the pseudo-acceleration
// SRS w^2 max|z| (within a few per cent of the absolute one for light
// damping).  Each bound of a spectrum is the largest over its frequencies.
// These say what no drive can do; a drive of wavelets in general stays well
// above them.
//
// Pure numerics: no I/O, no state.
#include <cstdint>
#include <optional>
#include <string>

#include "base/run_settings.hpp"
#include "feasibility/drive_limits.hpp"

namespace quorel {

// h(t) = e^(-decay t) (cos_part cos(omega_d t) + sin_part sin(omega_d t)), t >= 0, omega_d > 0.
struct DampedKernel {
    double decay = 0.0;     // 1/sec
    double omega_d = 0.0;   // rad/sec
    double cos_part = 0.0;
    double sin_part = 0.0;
};

DampedKernel acceleration_kernel(double omega, double zeta);   // h_a, 1/sec
DampedKernel velocity_kernel(double omega, double zeta);       // h_v, dimensionless

// The integral of |h| over [0, t], in closed form between the kernel's zeros
// (whole half-periods summed as a geometric series): exact to rounding, O(1)
// for any t.
double kernel_l1(const DampedKernel& h, double t);

// The largest integral of |h| over any window [u, u + t], u >= 0.
double kernel_window_l1(const DampedKernel& h, double t);

// One bound and the frequency of the spectrum that sets it.
struct PeakBound {
    double value = 0.0;      // in the run's unit of that quantity
    float frequency = 0.0f;  // Hz
};

struct FeasibilityBounds {
    PeakBound acceleration, velocity, displacement;
    std::optional<PeakBound> force;   // with a moving mass: M x A x force_per_mass
    double duration = 0.0;            // sec, the T they hold for
};

// A spectrum to bound: levels (the run's acceleration unit) at ascending
// frequencies (Hz), the damping ratio, the unit system (1, 2, 3) and the
// moving mass, when a force limit is given.
struct BoundedSpectrum {
    const float* freq = nullptr;
    const float* level = nullptr;
    int32_t count = 0;
    double zeta = 0.0;
    int32_t units = 1;
    std::optional<float> moving_mass;
};

FeasibilityBounds feasibility_bounds(const BoundedSpectrum& spectrum, double duration);

enum class BoundedPeak { acceleration, velocity, displacement, force };

// The bound of `peak` in `bounds` (a force bound must be present).
double bound_of(const FeasibilityBounds& bounds, BoundedPeak peak);

// The fewest samples n in [from, most] with the bound of `peak` at duration
// n dt at or below `limit`; none when even `most` samples do not bring it
// down.  The bounds never grow with the duration, so bisection finds it.
std::optional<int32_t> shortest_sample_count(const BoundedSpectrum& spectrum, BoundedPeak peak, double limit,
                                             double dt, int32_t from, int32_t most);

// The texts.  Values print with three significant figures.

// "\n Least peaks any drive of 0.5 sec can have for this SRS (Q = 10): 5.86 G, 0.146 m/sec, 2.10 mm \n"
// (", 123 N" with a force bound).
std::string bounds_line(const FeasibilityBounds& bounds, const RunSettings& settings);

// For each limit below its bound: a warning that no drive of the run's
// duration can meet it, with the bound, and the shortest duration that would
// let the bound fall to the limit (or that none up to `most` samples does).
std::string impossible_limit_warnings(const FeasibilityBounds& bounds, const DriveLimits& limits,
                                      const BoundedSpectrum& spectrum, const RunSettings& settings, int32_t most);

// Peak / bound of the three peaks.
struct BoundRatios {
    double acceleration = 0.0, velocity = 0.0, displacement = 0.0;
};
BoundRatios bound_ratios(const FeasibilityBounds& bounds, double peak_accel, double peak_velocity,
                         double peak_displacement);

// "Peaks / least possible = 2.31 accel, 2.90 velox, 2.41 disp"
std::string bound_ratios_text(const BoundRatios& ratios);

// One line per limit given: "   velocity 1.10 x the limit, 2.9 x the least possible \n".
std::string limit_and_bound_lines(const FeasibilityBounds& bounds, const DriveLimits& limits, int32_t units,
                                  double peak_accel, double peak_velocity, double peak_displacement);

}  // namespace quorel
