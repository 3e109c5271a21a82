#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/numeric.hpp"
#include "feasibility/bounds.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

const double pi = 0.5 * two_pi();

// Undamped, |h_a| = w |sin wt| and |k| = w^2 |cos wt|: k half-periods hold
// exactly 2k and 2k w, wherever they start.  A quarter period from 0 holds
// 1 of h_a, but a quarter centred on a crest holds 2 sin(pi/4) = sqrt 2 (and
// sqrt 2 w of k).  The bounds are then those of the pseudo-acceleration SRS,
// as they were before damping entered them: V = S / (2 k w), and
// D = S / (w^2 (1 + 2k)) whatever the peak velocity.
TEST(Bounds, UndampedKernelNormsHaveClosedForms) {
    const double omega = two_pi() * 37.0;
    const DampedKernel ha = acceleration_kernel(omega, 0.0);
    const DampedKernel hv = velocity_kernel(omega, 0.0);
    const float freq = 37.0f, level = 3.0f;   // G, metric units: m/sec and mm
    const BoundedSpectrum spectrum{&freq, &level, 1, 0.0, UnitSystem::metric_g, std::nullopt};
    const double s = level * 9.81;
    for (const int k : {1, 2, 7, 400, 25000}) {
        SCOPED_TRACE(k);
        const double t = k * pi / omega;
        EXPECT_NEAR(kernel_l1(ha, t), 2.0 * k, 1e-12 * k);
        EXPECT_NEAR(kernel_window_l1(ha, t), 2.0 * k, 1e-12 * k);
        EXPECT_NEAR(kernel_l1(hv, t) / omega, 2.0 * k, 1e-12 * k);
        EXPECT_NEAR(kernel_window_l1(hv, t) / omega, 2.0 * k, 1e-12 * k);
        const FeasibilityBounds bounds = feasibility_bounds(spectrum, t);
        EXPECT_NEAR(bounds.velocity.value, s / (2.0 * k * omega), 1e-11 * bounds.velocity.value);
        ASSERT_TRUE(bounds.displacement.has_value());
        EXPECT_FALSE(bounds.displacement->velocity.has_value());
        const double displacement = 1000.0 * s / (omega * omega * (1.0 + 2.0 * k));
        EXPECT_NEAR(bounds.displacement->value, displacement, 1e-11 * displacement);
        EXPECT_EQ(displacement_bound(spectrum, t, 5.0).value, bounds.displacement->value);
    }
    const double quarter = 0.5 * pi / omega;
    EXPECT_NEAR(kernel_l1(ha, quarter), 1.0, 1e-13);
    EXPECT_NEAR(kernel_window_l1(ha, quarter), std::sqrt(2.0), 1e-13);
    EXPECT_NEAR(kernel_window_l1(hv, quarter) / omega, std::sqrt(2.0), 1e-13);
}

// Damped kernels against a fine trapezoid of |h|, the window's largest
// integral searched over every start on the fine grid.  The short history is
// one whose best window starts late (h_a starts near zero).
TEST(Bounds, DampedKernelNormsMatchAFineQuadrature) {
    struct Case {
        double zeta, freq, duration;
    };
    for (const Case c : {Case{0.05, 10.0, 0.03}, Case{0.05, 10.0, 0.5}, Case{0.3, 40.0, 0.07}, Case{0.9, 5.0, 0.4}}) {
        SCOPED_TRACE(c.duration);
        const double omega = two_pi() * c.freq;
        for (const bool acceleration : {true, false}) {
            const DampedKernel h = acceleration ? acceleration_kernel(omega, c.zeta) : velocity_kernel(omega, c.zeta);
            const double span = c.duration + 2.0 * pi / h.omega_d;
            const int steps = 2000000;
            const double step = span / steps;
            std::vector<double> cumulative(steps + 1, 0.0);
            auto magnitude = [&](double t) {
                return std::fabs(std::exp(-h.decay * t) * (h.cos_part * std::cos(h.omega_d * t) + h.sin_part * std::sin(h.omega_d * t)));
            };
            for (int j = 1; j <= steps; ++j) {
                cumulative[j] = cumulative[j - 1] + 0.5 * step * (magnitude((j - 1) * step) + magnitude(j * step));
            }
            const int window = static_cast<int>(std::lround(c.duration / step));
            double best = 0.0;
            for (int j = 0; j + window <= steps; ++j) best = std::max(best, cumulative[j + window] - cumulative[j]);
            const double l1 = kernel_l1(h, window * step);
            EXPECT_NEAR(l1, cumulative[window], 1e-6 * l1) << acceleration;
            EXPECT_NEAR(kernel_window_l1(h, window * step), best, 1e-6 * best) << acceleration;
            if (acceleration && c.duration == 0.03) {
                EXPECT_GT(best, 1.05 * l1) << "the case needs a late window";
            }
        }
    }
}

// The velocity and displacement bounds against the oscillator itself.  Its
// relative displacement after a unit impulse of base acceleration, z(0) = 0,
// z'(0) = -1, integrated by RK4, gives the absolute acceleration's kernel
// h_a = z'' and its derivatives k = z''' and r = z'''' (the responses to base
// velocity and displacement, less their direct parts h_a(0) and k(0) at
// t = 0+).  Fine trapezoids of |k| and |r| over [0, T] and over every window
// of length T on the fine grid then give the bounds, at four dampings.
TEST(Bounds, VelocityAndDisplacementBoundsMatchAQuadratureOfTheOscillator) {
    struct Case {
        double zeta, freq, duration;
    };
    for (const Case c : {Case{0.0, 10.0, 0.43}, Case{0.05, 10.0, 0.5}, Case{0.5, 40.0, 0.07}, Case{0.9, 5.0, 0.4}}) {
        SCOPED_TRACE(c.zeta);
        const double omega = two_pi() * c.freq;
        const double a = 2.0 * c.zeta * omega, b = omega * omega;   // z'' = -a z' - b z
        auto second = [&](double z, double v) { return -a * v - b * z; };
        const double span = c.duration + 2.0 * pi / (omega * std::sqrt(1.0 - c.zeta * c.zeta));
        const int steps = 2000000;
        const double step = span / steps;
        double z = 0.0, v = -1.0;
        // k = z''' and r = z'''' at the state (z, z').
        auto kernels = [&](double& k, double& r) {
            const double z2 = second(z, v);
            k = -a * z2 - b * v;
            r = -a * k - b * z2;
        };
        double k_prev = 0.0, r_prev = 0.0;
        kernels(k_prev, r_prev);
        const double direct_velocity = second(z, v);   // h_a(0+) = 2 zeta w
        const double direct_displacement = k_prev;     // k(0+) = w^2 (1 - 4 zeta^2)
        std::vector<double> sum_k(steps + 1, 0.0), sum_r(steps + 1, 0.0);
        for (int j = 1; j <= steps; ++j) {
            const double k1z = v, k1v = second(z, v);
            const double k2z = v + 0.5 * step * k1v, k2v = second(z + 0.5 * step * k1z, v + 0.5 * step * k1v);
            const double k3z = v + 0.5 * step * k2v, k3v = second(z + 0.5 * step * k2z, v + 0.5 * step * k2v);
            const double k4z = v + step * k3v, k4v = second(z + step * k3z, v + step * k3v);
            z += step / 6.0 * (k1z + 2.0 * k2z + 2.0 * k3z + k4z);
            v += step / 6.0 * (k1v + 2.0 * k2v + 2.0 * k3v + k4v);
            double k = 0.0, r = 0.0;
            kernels(k, r);
            sum_k[j] = sum_k[j - 1] + 0.5 * step * (std::fabs(k_prev) + std::fabs(k));
            sum_r[j] = sum_r[j - 1] + 0.5 * step * (std::fabs(r_prev) + std::fabs(r));
            k_prev = k;
            r_prev = r;
        }
        const int window = static_cast<int>(std::lround(c.duration / step));
        const double duration = window * step;
        double n_k = 0.0, n_r = 0.0;
        for (int j = 0; j + window <= steps; ++j) {
            n_k = std::max(n_k, sum_k[j + window] - sum_k[j]);
            n_r = std::max(n_r, sum_r[j + window] - sum_r[j]);
        }

        const float freq = static_cast<float>(c.freq), level = 20.0f;   // G, english units: in/sec and in
        const BoundedSpectrum spectrum{&freq, &level, 1, c.zeta, UnitSystem::english, std::nullopt};
        const double s = level * 386.0;
        const double velocity = s / std::max(direct_velocity + sum_k[window], n_k);
        EXPECT_NEAR(feasibility_bounds(spectrum, duration).velocity.value, velocity, 1e-6 * velocity);
        // At rest, and (damped) at a peak velocity whose damper term passes 0.6 of the level.
        std::vector<double> peak_velocities{0.0};
        if (c.zeta > 0.0) peak_velocities.push_back(0.6 * s / direct_velocity);
        for (const double peak : peak_velocities) {
            const double displacement =
                std::min(std::max(0.0, s - direct_velocity * peak) / (std::fabs(direct_displacement) + sum_r[window]),
                         s / n_r);
            const DisplacementBound bound = displacement_bound(spectrum, duration, peak);
            EXPECT_NEAR(bound.value, displacement, 1e-6 * displacement) << peak;
            const FeasibilityBounds within = feasibility_bounds(spectrum, duration, peak);
            ASSERT_TRUE(within.displacement.has_value());
            EXPECT_EQ(within.displacement->value, bound.value);
            EXPECT_EQ(within.displacement->velocity.has_value(), c.zeta > 0.0);
        }
        // Only zero damping bounds the displacement of every drive.
        EXPECT_EQ(feasibility_bounds(spectrum, duration).displacement.has_value(), c.zeta == 0.0);
    }
}

// The acceleration bound is reached: a full-scale drive that switches sign at
// the zeros of h_a(T - t) brings the oscillator (integrated on its own) at T
// to the integral of |h_a| over [0, T], so the bound of its own SRS is its
// peak, 1.  This case's best window starts at 0.
TEST(Bounds, TheDriveMatchedToTheKernelReachesTheAccelerationBound) {
    const float freq = 50.0f;
    const double zeta = 0.05, duration = 0.05, dt = 1e-5;
    const DampedKernel h = acceleration_kernel(two_pi() * freq, zeta);
    ASSERT_EQ(kernel_window_l1(h, duration), kernel_l1(h, duration));
    auto drive = [&](double t) {
        if (t < 0.0 || t > duration) return 0.0;
        const double u = duration - t;
        return std::copysign(1.0, h.cos_part * std::cos(h.omega_d * u) + h.sin_part * std::sin(h.omega_d * u));
    };
    const auto response = testing::sdof_absolute_response(drive, dt, 8000, freq, zeta);
    float srs = 0.0f;
    for (const double x : response) srs = std::max(srs, static_cast<float>(std::fabs(x)));
    const BoundedSpectrum own{&freq, &srs, 1, zeta, UnitSystem::metric_si, std::nullopt};
    EXPECT_NEAR(feasibility_bounds(own, duration).acceleration.value, 1.0, 1e-3);
}

}  // namespace
}  // namespace quorel
