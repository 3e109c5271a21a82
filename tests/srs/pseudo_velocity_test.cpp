#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "srs/pseudo_velocity.hpp"
#include "srs/srs.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::piecewise_linear;
using testing::pseudo_velocity_relative_tolerance;
using testing::residual_steps;
using testing::sdof_absolute_response;
using testing::sdof_relative_displacement;
using testing::sdof_relative_velocity;

// A shock-like history that ends nearly at rest: a 10 ms half-sine of 50 G,
// a rebound of -50 G, and a decaying 700 Hz tone, 60 ms at 10 000
// samples/sec.
std::vector<float> shock(float dt) {
    std::vector<float> y(600);
    for (size_t k = 0; k < y.size(); ++k) {
        const double t = k * static_cast<double>(dt);
        double a = 8.0 * std::exp(-t / 0.015) * std::sin(2.0 * M_PI * 700.0 * t);
        if (t <= 0.01) a += 50.0 * std::sin(M_PI * t / 0.01);
        if (t > 0.01 && t <= 0.02) a -= 50.0 * std::sin(M_PI * (t - 0.01) / 0.01);
        y[k] = static_cast<float>(a);
    }
    return y;
}

// PV = w max|z| against the relative displacement of the oscillator driven by
// the same samples joined by straight lines, integrated independently by RK4
// over the record and one period at rest: each polarity within 1e-5, from
// rate / 10^4 (where the absolute SRS over w is twice as high on this
// history) to rate / 4, without, light and heavy damping.
TEST(PseudoVelocity, IsOmegaTimesThePeakRelativeDisplacement) {
    const float dt = static_cast<float>(1.0 / 10000.0);
    const std::vector<float> y = shock(dt);
    const std::vector<double> samples(y.begin(), y.end());
    const std::vector<float> freqs = {1.0f, 10.0f, 100.0f, 700.0f, 2500.0f};
    for (const float zeta : {0.0f, 0.05f, 0.5f}) {
        const std::vector<PvssLine> pv = pseudo_velocity_spectrum(samples, dt, zeta, freqs, true, 1.0);
        ASSERT_EQ(pv.size(), freqs.size());
        for (size_t j = 0; j < freqs.size(); ++j) {
            const double w = 2.0 * M_PI * freqs[j];
            const int count = static_cast<int>(y.size()) + residual_steps(dt, freqs[j]);
            const std::vector<double> z = sdof_relative_displacement(piecewise_linear(y, dt), dt, count, freqs[j], zeta);
            const double above = w * *std::max_element(z.begin(), z.end());
            const double below = -w * *std::min_element(z.begin(), z.end());
            EXPECT_EQ(pv[j].freq, freqs[j]);
            EXPECT_NEAR(pv[j].positive, below, pseudo_velocity_relative_tolerance * below) << freqs[j] << " " << zeta;
            EXPECT_NEAR(pv[j].negative, above, pseudo_velocity_relative_tolerance * above) << freqs[j] << " " << zeta;
        }
    }
    // Far below the pulse the two definitions part: the SRS over w holds the
    // damper's answer to the base velocity, 2 zeta max|v|, beside w max|z|.
    const SrsFilterBank bank = testing::make_filter_bank(2, 0.05f, 10000.0f, {1.0f});
    double positive = 0.0, negative = 0.0;
    compute_srs_peaks(bank, samples.data(), static_cast<int64_t>(samples.size()), 0, 1, &positive, &negative,
                      SrsKernel::vectorised, SrsSignCheck::none);
    const PvssLine pv = pseudo_velocity_spectrum(samples, dt, 0.05f, {1.0f}, true, 1.0).front();
    EXPECT_GT(std::max(positive, negative) / (2.0 * M_PI) / std::max(pv.positive, pv.negative), 2.0);
}

// Without the residual phase the peaks are those of the record alone, here
// the first 12 ms of the shock, and the velocity factor converts the unit.
TEST(PseudoVelocity, ForcedPhaseAloneAndTheVelocityUnit) {
    const float dt = static_cast<float>(1.0 / 10000.0);
    std::vector<float> y = shock(dt);
    y.resize(120);
    const std::vector<double> samples(y.begin(), y.end());
    const float f = 20.0f;   // a period of 50 ms: the record ends mid-swing
    const std::vector<double> z =
        sdof_relative_displacement(piecewise_linear(y, dt), dt, static_cast<int>(y.size()), f, 0.05);
    const double w = 2.0 * M_PI * f;
    const double below = -w * *std::min_element(z.begin(), z.end());
    const double above = w * *std::max_element(z.begin(), z.end());
    const PvssLine forced = pseudo_velocity_spectrum(samples, dt, 0.05f, {f}, false, 386.0).front();
    EXPECT_NEAR(forced.positive, 386.0 * below, pseudo_velocity_relative_tolerance * 386.0 * below);
    EXPECT_NEAR(forced.negative, 386.0 * above, pseudo_velocity_relative_tolerance * 386.0 * above);
    const PvssLine full = pseudo_velocity_spectrum(samples, dt, 0.05f, {f}, true, 386.0).front();
    EXPECT_GT(std::max(full.positive, full.negative), 1.1 * std::max(forced.positive, forced.negative));
}

// The relative velocity -z' by its own ramp-invariant filters, and the
// absolute acceleration's peaks during the record (primary) and in the period
// after it (residual), against the RK4 integration of the same
// piecewise-linear input: each within 1e-5, without, light and heavy damping.
TEST(PseudoVelocity, RelativeVelocityAndThePhasesOfTheAbsoluteAcceleration) {
    const float dt = static_cast<float>(1.0 / 10000.0);
    const std::vector<float> y = shock(dt);
    const std::vector<double> samples(y.begin(), y.end());
    const std::vector<float> freqs = {1.0f, 10.0f, 100.0f, 700.0f, 2500.0f};
    const double tolerance = pseudo_velocity_relative_tolerance;
    for (const float zeta : {0.0f, 0.05f, 0.5f}) {
        SrsFilterBank velocity, absolute;
        design_relative_velocity_filters(zeta, dt, freqs.data(), 5, 2.0 * M_PI, true, velocity);
        design_srs_filters(SrsAlgorithm::smallwood, zeta, dt, freqs.data(), 5, 2.0 * M_PI, true, absolute);
        std::vector<double> v_pos(5), v_neg(5), a_pos(5), a_neg(5), p_pos(5), p_neg(5), r_pos(5), r_neg(5);
        const int64_t n = static_cast<int64_t>(samples.size());
        compute_pvss_peaks(velocity, samples.data(), n, 0, 5, v_pos.data(), v_neg.data());
        for (const SrsKernel kernel : {SrsKernel::vectorised, SrsKernel::scalar}) {
            compute_srs_peaks(absolute, samples.data(), n, 0, 5, a_pos.data(), a_neg.data(), kernel,
                              SrsSignCheck::none, {p_pos.data(), p_neg.data(), r_pos.data(), r_neg.data()});
            for (size_t j = 0; j < freqs.size(); ++j) {
                const int count = static_cast<int>(y.size()) + residual_steps(dt, freqs[j]);
                const std::vector<double> x = sdof_absolute_response(piecewise_linear(y, dt), dt, count, freqs[j], zeta);
                const auto during = std::minmax_element(x.begin(), x.begin() + static_cast<long>(y.size()));
                const auto after = std::minmax_element(x.begin() + static_cast<long>(y.size()), x.end());
                const double scale = std::max(-*during.first, *during.second);
                EXPECT_NEAR(p_pos[j], *during.second, tolerance * scale) << freqs[j] << " " << zeta;
                EXPECT_NEAR(p_neg[j], -*during.first, tolerance * scale) << freqs[j] << " " << zeta;
                EXPECT_NEAR(r_pos[j], std::max(*after.second, 0.0), tolerance * scale) << freqs[j] << " " << zeta;
                EXPECT_NEAR(r_neg[j], std::max(-*after.first, 0.0), tolerance * scale) << freqs[j] << " " << zeta;
                // Both phases together are the SRS.
                EXPECT_EQ(a_pos[j], std::max(p_pos[j], r_pos[j]));
                EXPECT_EQ(a_neg[j], std::max(p_neg[j], r_neg[j]));
            }
        }
        for (size_t j = 0; j < freqs.size(); ++j) {
            const int count = static_cast<int>(y.size()) + residual_steps(dt, freqs[j]);
            const std::vector<double> v = sdof_relative_velocity(piecewise_linear(y, dt), dt, count, freqs[j], zeta);
            const double above = *std::max_element(v.begin(), v.end());
            const double below = -*std::min_element(v.begin(), v.end());
            EXPECT_NEAR(v_pos[j], below, tolerance * std::max(above, below)) << freqs[j] << " " << zeta;
            EXPECT_NEAR(v_neg[j], above, tolerance * std::max(above, below)) << freqs[j] << " " << zeta;
        }
    }
}

}  // namespace
}  // namespace quorel
