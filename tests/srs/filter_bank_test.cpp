#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "srs/filter_bank.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::coefficient_tolerance;
using testing::make_filter_bank;
using testing::piecewise_linear;
using testing::ramp_invariant_relative_tolerance;
using testing::sdof_absolute_response;

// x(k) = a1 x(k-1) + a2 x(k-2) + b1 y(k) + b2 y(k-1) + b3 y(k-2) in double,
// with the stored coefficients of filter j.
std::vector<double> run_recursion(const SrsFilterBank& bank, int32_t j, const std::vector<float>& y, size_t count) {
    std::vector<double> x(count, 0.0);
    auto in = [&](long k) { return k < 0 || k >= static_cast<long>(y.size()) ? 0.0 : static_cast<double>(y[k]); };
    auto out = [&](long k) { return k < 0 ? 0.0 : x[static_cast<size_t>(k)]; };
    for (long k = 0; k < static_cast<long>(count); ++k) {
        x[k] = bank.a1[j] * out(k - 1) + bank.a2[j] * out(k - 2) + bank.b1[j] * in(k) + bank.b2[j] * in(k - 1) +
               bank.b3[j] * in(k - 2);
    }
    return x;
}

// A fixed, irregular input: a few incommensurate tones.
std::vector<float> irregular_input(size_t n) {
    std::vector<float> y(n);
    for (size_t k = 0; k < n; ++k) {
        y[k] = static_cast<float>(std::sin(0.7 * k) + 0.6 * std::cos(2.3 * k + 0.4) - 0.3 * std::sin(0.11 * k * k));
    }
    return y;
}

// The Smallwood filter is the ramp-invariant (first-order-hold) equivalent of
// the oscillator's absolute-acceleration transfer function
// (2 zeta w s + w^2) / (s^2 + 2 zeta w s + w^2): between samples it sees the
// input as straight lines.  At a coarse 10 samples per cycle, where any other
// discretisation is off by percents, its output must equal the continuous
// oscillator's response to that piecewise-linear input at every sample.
TEST(FilterBankSmallwood, MatchesOscillatorDrivenByPiecewiseLinearInput) {
    const float rate = 1000.0f;
    struct Case {
        float freq, zeta;
    };
    for (const Case c : {Case{100.0f, 0.05f}, Case{100.0f, 0.0f}, Case{250.0f, 0.3f}, Case{31.0f, 0.02f}}) {
        const SrsFilterBank bank = make_filter_bank(2, c.zeta, rate, {c.freq});
        const std::vector<float> y = irregular_input(60);
        const size_t count = 100;   // 40 steps of free vibration after the input
        const std::vector<double> x = run_recursion(bank, 0, y, count);
        const std::vector<double> reference =
            sdof_absolute_response(piecewise_linear(y, bank.dt), bank.dt, count, c.freq, c.zeta);
        double scale = 0.0;
        for (double v : reference) scale = std::max(scale, std::fabs(v));
        for (size_t k = 0; k < count; ++k) {
            EXPECT_NEAR(x[k], reference[k], ramp_invariant_relative_tolerance * scale)
                << "f=" << c.freq << " zeta=" << c.zeta << " k=" << k;
        }
    }
}

// The pseudo-velocity filter is the ramp-invariant equivalent of -w z,
// z'' + 2 zeta w z' + w^2 z = -y: at 4 to 32 samples per cycle, where the
// coefficients come from the power series of the ramp response (w dt below 1)
// or from its closed form, its output equals -w z of the continuous
// oscillator driven by the piecewise-linear input at every sample, whatever
// the algorithm asked for.
TEST(FilterBankPseudoVelocity, MatchesOscillatorDrivenByPiecewiseLinearInput) {
    const float rate = 1000.0f;
    struct Case {
        float freq, zeta;
    };
    for (const Case c : {Case{100.0f, 0.05f}, Case{100.0f, 0.0f}, Case{250.0f, 0.3f}, Case{31.0f, 0.02f},
                         Case{140.0f, 0.9f}}) {
        for (const int32_t algorithm : {1, 2}) {
            SrsFilterBank bank;
            const float dt = static_cast<float>(1.0 / static_cast<double>(rate));
            design_srs_filters(srs_algorithm_for_answer(algorithm), c.zeta, dt, &c.freq, 1, 2.0 * M_PI, true, bank, SrsResponse::pseudo_velocity);
            const std::vector<float> y = irregular_input(60);
            const size_t count = 100;
            const std::vector<double> x = run_recursion(bank, 0, y, count);
            const std::vector<double> z =
                testing::sdof_relative_displacement(piecewise_linear(y, bank.dt), bank.dt, count, c.freq, c.zeta);
            const double w = 2.0 * M_PI * c.freq;
            double scale = 0.0;
            for (double v : z) scale = std::max(scale, w * std::fabs(v));
            for (size_t k = 0; k < count; ++k) {
                EXPECT_NEAR(x[k], -w * z[k], 1e-7 * scale) << "f=" << c.freq << " zeta=" << c.zeta << " k=" << k;
            }
        }
    }
}

// A constant base acceleration y holds the mass at z = -y / w^2: the filter
// settles at w (-z) = y / w, (b1 + b2 + b3) / (1 - a1 - a2) = 1 / w, down to
// 10^4 samples per cycle.
TEST(FilterBankPseudoVelocity, StaticGainIsOneOverOmega) {
    const std::vector<float> freqs = {1.0f, 20.0f, 1000.0f, 2500.0f};
    for (const float zeta : {0.0f, 0.05f, 0.5f}) {
        SrsFilterBank bank;
        design_srs_filters(SrsAlgorithm::smallwood, zeta, 1e-4f, freqs.data(), 4, 2.0 * M_PI, true, bank, SrsResponse::pseudo_velocity);
        for (int32_t j = 0; j < bank.count; ++j) {
            const double w = 2.0 * M_PI * freqs[j];
            const double gain = (bank.b1[j] + bank.b2[j] + bank.b3[j]) / (1.0 - bank.a1[j] - bank.a2[j]);
            EXPECT_NEAR(gain * w, 1.0, 1e-7) << "zeta=" << zeta << " j=" << j;
        }
    }
}

// A constant input gives the same constant response: b1 + b2 + b3 = 1 - a1 - a2
// (both are 1 - 2 E cos K + E^2), up to the rounding of five stored floats.
TEST(FilterBankSmallwood, StepResponseSettlesAtOne) {
    for (const float zeta : {0.0f, 0.05f, 0.5f}) {
        const SrsFilterBank bank = make_filter_bank(2, zeta, 10000.0f, {20.0f, 100.0f, 1000.0f, 3000.0f});
        for (int32_t j = 0; j < bank.count; ++j) {
            const double gain_in = double(bank.b1[j]) + bank.b2[j] + bank.b3[j];
            const double gain_out = 1.0 - bank.a1[j] - bank.a2[j];
            EXPECT_NEAR(gain_in, gain_out, coefficient_tolerance) << "zeta=" << zeta << " j=" << j;
            if (zeta > 0.0f && j > 0) {
                // Long enough for the transient to die out (e^-31 at zeta 0.05, 100 Hz).
                const std::vector<float> step(10000, 1.0f);
                const std::vector<double> x = run_recursion(bank, j, step, step.size());
                EXPECT_NEAR(x.back(), 1.0, 1e-3) << "zeta=" << zeta << " j=" << j;
            }
        }
    }
}

TEST(FilterBankDesign, OnlyAlgorithmOneSelectsKellyRichman) {
    const std::vector<float> freqs = {10.0f, 63.0f, 400.0f, 2500.0f};
    const SrsFilterBank smallwood = make_filter_bank(2, 0.05f, 10000.0f, freqs);
    for (const int32_t algorithm : {0, 3, -1, 2147483647}) {
        const SrsFilterBank other = make_filter_bank(algorithm, 0.05f, 10000.0f, freqs);
        EXPECT_EQ(other.a1, smallwood.a1) << algorithm;
        EXPECT_EQ(other.a2, smallwood.a2) << algorithm;
        EXPECT_EQ(other.b1, smallwood.b1) << algorithm;
        EXPECT_EQ(other.b2, smallwood.b2) << algorithm;
        EXPECT_EQ(other.b3, smallwood.b3) << algorithm;
    }
    const SrsFilterBank kelly = make_filter_bank(1, 0.05f, 10000.0f, freqs);
    for (size_t j = 0; j < freqs.size(); ++j) {
        EXPECT_EQ(kelly.b3[j], 0.0f);
        EXPECT_NE(smallwood.b3[j], 0.0f);
        EXPECT_NE(kelly.b1[j], smallwood.b1[j]);
        // The poles are the oscillator's in both designs: 2 e^(-zeta w dt) cos(wd dt)
        // and -e^(-2 zeta w dt).
        EXPECT_NEAR(kelly.a1[j], smallwood.a1[j], coefficient_tolerance) << j;
        EXPECT_NEAR(kelly.a2[j], smallwood.a2[j], coefficient_tolerance) << j;
        const double w = 2.0 * M_PI * freqs[j];
        const double dt = kelly.dt;
        const double wd = w * std::sqrt(1.0 - 0.05 * 0.05);
        EXPECT_NEAR(kelly.a1[j], 2.0 * std::exp(-0.05 * w * dt) * std::cos(wd * dt), coefficient_tolerance) << j;
        EXPECT_NEAR(kelly.a2[j], -std::exp(-2.0 * 0.05 * w * dt), coefficient_tolerance) << j;
    }
}

// Without damping the poles lie on the unit circle and the Kelly-Richman input
// weights reduce to b1 = 0, b2 = w dt sin(w dt).
// The command line's and summary.json's names of the filters read back as
// the filters they name; another name reads as nothing.
TEST(FilterBankDesign, AlgorithmNamesReadBack) {
    for (const SrsAlgorithm algorithm : {SrsAlgorithm::kelly_richman, SrsAlgorithm::smallwood}) {
        EXPECT_EQ(srs_algorithm_named(srs_algorithm_name(algorithm)), algorithm) << srs_algorithm_name(algorithm);
    }
    EXPECT_STREQ(srs_algorithm_name(SrsAlgorithm::kelly_richman), "kelly-richman");
    for (const char* other : {"", "Smallwood", "kelly_richman", "1"}) EXPECT_FALSE(srs_algorithm_named(other)) << other;
}

TEST(FilterBankKellyRichman, UndampedFilter) {
    const SrsFilterBank bank = make_filter_bank(1, 0.0f, 8000.0f, {50.0f, 700.0f});
    for (int32_t j = 0; j < 2; ++j) {
        const double w = 2.0 * M_PI * (j == 0 ? 50.0 : 700.0);
        const double dt = bank.dt;
        EXPECT_EQ(bank.a2[j], -1.0f);
        EXPECT_EQ(bank.b1[j], 0.0f);
        EXPECT_EQ(bank.b3[j], 0.0f);
        EXPECT_NEAR(bank.a1[j], 2.0 * std::cos(w * dt), coefficient_tolerance);
        EXPECT_NEAR(bank.b2[j], w * dt * std::sin(w * dt), coefficient_tolerance);
    }
}

// The residual phase lasts 1.2 periods of the lowest frequency, truncated.  At
// 1000 samples/s the float step is slightly above 1 ms, so 1.2 / (10 dt) is
// just below 120.
TEST(FilterBankResidual, StepsAndPeriods) {
    const SrsFilterBank bank = make_filter_bank(2, 0.05f, 1000.0f, {10.0f, 30.0f, 100.0f});
    ASSERT_GT(static_cast<double>(bank.dt), 0.001);
    EXPECT_EQ(bank.residual_steps, 119);
    EXPECT_EQ(bank.period[0], 0.1f);
    EXPECT_EQ(bank.period[1], static_cast<float>(1.0 / 30.0));
    EXPECT_EQ(bank.period[2], 0.01f);

    const SrsFilterBank slow = make_filter_bank(2, 0.05f, 2048.0f, {4.0f});   // dt exact: 1.2 * 512 = 614.4
    EXPECT_EQ(slow.residual_steps, 614);
}

}  // namespace
}  // namespace quorel
