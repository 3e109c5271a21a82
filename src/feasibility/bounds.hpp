#pragma once
// The least peaks any drive needs for a shock response spectrum.
//
// An oscillator of natural frequency f (w = 2 pi f, damping ratio zeta,
// wd = w sqrt(1 - zeta^2)) at rest, with Q(s) = s^2 + 2 zeta w s + w^2, has
// the absolute acceleration y = H a of the base acceleration a, where
// H = (2 zeta w s + w^2) / Q.  Written for the base velocity v and the base
// displacement d of a drive confined to [0, T] that starts and ends at rest:
//   s H   = 2 zeta w + k(s),                       k = (w^2 (1 - 4 zeta^2) s - 2 zeta w^3) / Q
//   s^2 H = 2 zeta w s + w^2 (1 - 4 zeta^2) + r(s),  r = (-4 zeta w^3 (1 - 2 zeta^2) s - w^4 (1 - 4 zeta^2)) / Q
// and any (b1 s + b0) / Q has the impulse response
//   e^(-zeta w t) (b1 cos wd t + (b0 - b1 zeta w) / wd sin wd t).
// At any time t the response sees the input through the part of a kernel h on
// [t - T, t], so it is at most the input's peak times
//   L_h(T) = the integral of |h| over [0, T]              while the drive lasts,
//   N_h(T) = sup over u >= 0 of that over [u, u + T]     after it,
// and a full-scale acceleration switching at the zeros of h_a reaches the
// acceleration's.  (For most cases u = 0 is the largest window; the residual
// response can see a later one when h starts small and T is short.)
// An SRS value S (in length/sec^2) therefore needs at least
//   peak acceleration  A >= S / N_a,  h_a the impulse response of H
//   peak velocity      V >= min(S / (2 zeta w + L_k), S / N_k)
//   peak displacement  D >= min(max(0, S - 2 zeta w V) / (w^2 |1 - 4 zeta^2| + L_r), S / N_r)
// the last for a drive whose peak velocity is at most V.  For zeta > 0 no
// bound on displacement holds for every drive: a fast base motion of tiny
// displacement reaches any SRS through the damper.  At zeta = 0 the term in V
// vanishes.  Each bound of a spectrum is the largest over its frequencies.
// These say what no drive can do; a drive of wavelets in general stays well
// above them.
//
// Pure numerics: no I/O, no state.
#include <cstdint>
#include <optional>
#include <string>

#include "base/run_settings.hpp"
#include "feasibility/drive_limits.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

// h(t) = e^(-decay t) (cos_part cos(omega_d t) + sin_part sin(omega_d t)), t >= 0, omega_d > 0.
struct DampedKernel {
    double decay = 0.0;     // 1/sec
    double omega_d = 0.0;   // rad/sec
    double cos_part = 0.0;
    double sin_part = 0.0;
};

// The impulse response of (b1 s + b0) / (s^2 + 2 zeta w s + w^2), 0 <= zeta < 1.
DampedKernel second_order_kernel(double omega, double zeta, double b1, double b0);
DampedKernel acceleration_kernel(double omega, double zeta);   // h_a, 1/sec
DampedKernel velocity_kernel(double omega, double zeta);       // k, 1/sec^2
DampedKernel displacement_kernel(double omega, double zeta);   // r, 1/sec^3

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

// The displacement bound of the drives whose peak velocity is at most
// `velocity` (the run's velocity unit); none at zeta = 0, where it holds for
// every drive.
struct DisplacementBound : PeakBound {
    std::optional<double> velocity;
};

struct FeasibilityBounds {
    PeakBound acceleration, velocity;
    // Where a bound holds for every drive the run can accept: at zeta = 0, or
    // within the run's velocity limit.
    std::optional<DisplacementBound> displacement;
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
    UnitSystem units = UnitSystem::english;
    std::optional<float> moving_mass;
};

// The specification on the run's grid, in the run's units.
BoundedSpectrum bounded_spectrum(const SrsSpec& spec, const RunSettings& settings,
                                 std::optional<float> moving_mass = std::nullopt);

// The bounds for a duration; the displacement's within `velocity_limit` (the
// run's velocity unit), or without one at zeta = 0.
FeasibilityBounds feasibility_bounds(const BoundedSpectrum& spectrum, double duration,
                                     std::optional<double> velocity_limit = std::nullopt);

// The least peak displacement of a drive of `duration` whose peak velocity is
// `velocity` (the run's velocity unit).
DisplacementBound displacement_bound(const BoundedSpectrum& spectrum, double duration, double velocity);

enum class BoundedPeak { acceleration, velocity, displacement, force };

// The bound of `peak` in `bounds` (a force or displacement bound must be present).
double bound_of(const FeasibilityBounds& bounds, BoundedPeak peak);

// The fewest samples n in [from, most] with the bound of `peak` at duration
// n dt (the displacement's within `velocity_limit`) at or below `limit`; none
// when even `most` samples do not bring it down.  The bounds never grow with
// the duration, so bisection finds it.
std::optional<int32_t> shortest_sample_count(const BoundedSpectrum& spectrum, BoundedPeak peak, double limit,
                                             double dt, int32_t from, int32_t most,
                                             std::optional<double> velocity_limit = std::nullopt);

// The texts.  Values print with three significant figures.

// "\n Least peaks any drive of 0.5 sec can have for this SRS (Q = 10): 5.86 G, 0.145 m/sec, 2.01 mm within 0.6 m/sec \n"
// (", 123 N" with a force bound; no "within ..." at zero damping); without a
// displacement bound "...: 5.86 G, 0.145 m/sec; the least displacement
// depends on the drive's peak velocity \n".
std::string bounds_line(const FeasibilityBounds& bounds, const RunSettings& settings);

// For each limit below its bound (the displacement's only where that bound
// holds): a warning that no drive of the run's duration can meet it, with the
// bound, and the shortest duration that would let the bound fall to the limit
// (or that none up to `most` samples does).
std::string impossible_limit_warnings(const FeasibilityBounds& bounds, const DriveLimits& limits,
                                      const BoundedSpectrum& spectrum, const RunSettings& settings, int32_t most);

// Peak / bound of the three peaks, the displacement's bound at the drive's own
// peak velocity (none where that bound is 0: the damper alone can pass the
// whole SRS at that velocity).
struct BoundRatios {
    double acceleration = 0.0, velocity = 0.0;
    std::optional<double> displacement;
};
BoundRatios bound_ratios(const FeasibilityBounds& bounds, const BoundedSpectrum& spectrum, double peak_accel,
                         double peak_velocity, double peak_displacement);

// "Peaks / least possible = 2.31 accel, 2.90 velox, 2.41 disp", or without a
// displacement bound "... 2.90 velox (no least displacement at this peak velocity)".
std::string bound_ratios_text(const BoundRatios& ratios);

// One line per limit given: "   velocity 1.10 x the limit, 2.9 x the least possible \n"
// ("... x the limit, no least possible at its peak velocity \n" for a
// displacement without a bound).
std::string limit_and_bound_lines(const FeasibilityBounds& bounds, const BoundedSpectrum& spectrum,
                                  const DriveLimits& limits, double peak_accel, double peak_velocity,
                                  double peak_displacement);

}  // namespace quorel
