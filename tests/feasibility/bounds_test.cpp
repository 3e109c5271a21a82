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

// Undamped, |h_a| = w |sin wt| and |h_v| = |cos wt|: k half-periods hold
// exactly 2k and 2k / w, wherever they start.  A quarter period from 0 holds
// 1 of h_a, but a quarter centred on a crest holds 2 sin(pi/4) = sqrt 2 (and
// sqrt 2 / w of h_v).
TEST(Bounds, UndampedKernelNormsHaveClosedForms) {
    const double omega = two_pi() * 37.0;
    const DampedKernel ha = acceleration_kernel(omega, 0.0);
    const DampedKernel hv = velocity_kernel(omega, 0.0);
    for (const int k : {1, 2, 7, 400, 25000}) {
        SCOPED_TRACE(k);
        const double t = k * pi / omega;
        EXPECT_NEAR(kernel_l1(ha, t), 2.0 * k, 1e-12 * k);
        EXPECT_NEAR(kernel_window_l1(ha, t), 2.0 * k, 1e-12 * k);
        EXPECT_NEAR(kernel_l1(hv, t) * omega, 2.0 * k, 1e-12 * k);
        EXPECT_NEAR(kernel_window_l1(hv, t) * omega, 2.0 * k, 1e-12 * k);
    }
    const double quarter = 0.5 * pi / omega;
    EXPECT_NEAR(kernel_l1(ha, quarter), 1.0, 1e-13);
    EXPECT_NEAR(kernel_window_l1(ha, quarter), std::sqrt(2.0), 1e-13);
    EXPECT_NEAR(kernel_window_l1(hv, quarter) * omega, std::sqrt(2.0), 1e-13);
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
    const BoundedSpectrum own{&freq, &srs, 1, zeta, 3, std::nullopt};
    EXPECT_NEAR(feasibility_bounds(own, duration).acceleration.value, 1.0, 1e-3);
}

}  // namespace
}  // namespace quorel
