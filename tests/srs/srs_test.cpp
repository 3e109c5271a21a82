#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/error.hpp"
#include "srs/srs.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::kelly_richman_relative_tolerance;
using testing::make_filter_bank;
using testing::physics_relative_tolerance;
using testing::piecewise_linear;
using testing::ramp_invariant_relative_tolerance;
using testing::sdof_absolute_response;

constexpr SrsKernel both_kernels[] = {SrsKernel::scalar, SrsKernel::vectorised};

struct Peaks {
    double max = 0.0, min = 0.0;   // min as a magnitude
};

Peaks peaks_of(const std::vector<double>& x, size_t count) {
    Peaks p;
    for (size_t k = 0; k < count; ++k) {
        p.max = std::max(p.max, x[k]);
        p.min = std::max(p.min, -x[k]);
    }
    return p;
}

// Steps of the residual phase of filter j: one period of its frequency after the
// last sample, the k with k dt (rounded to float) <= 1/f.
size_t residual_count(const SrsFilterBank& bank, int32_t j) {
    return static_cast<size_t>(testing::residual_steps(bank.dt, bank.freq[j]));
}

// A fixed linear congruential sequence in [-1, 1].
std::vector<float> noise(size_t n, uint32_t state) {
    std::vector<float> y(n);
    for (float& v : y) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<float>(static_cast<double>(state >> 8) / 8388608.0 - 1.0);
    }
    return y;
}

// The message of the failed forced-phase check, or "" when the call returned.
std::string srs_failure(const SrsFilterBank& bank, const std::vector<float>& y, SrsKernel kernel,
                        SrsResult& result) {
    try {
        compute_srs(bank, y.data(), static_cast<int32_t>(y.size()), result, kernel);
    } catch (const QuorelError& error) {
        return error.what();
    }
    return "";
}

// A half-sine shock pulse (10 ms, 1 G) followed by quiet: its SRS at each
// frequency against the continuous oscillator driven by the exact half-sine,
// integrated independently, sampled at the same instants.
TEST(SrsPhysics, HalfSinePulseMatchesIntegratedOscillator) {
    const std::vector<float> freqs = {20.0f, 50.0f, 100.0f, 200.0f, 500.0f, 1000.0f};
    const float zeta = 0.05f;
    for (const int32_t algorithm : {1, 2}) {
        const SrsFilterBank bank = make_filter_bank(algorithm, zeta, 50000.0f, freqs);
        const double dt = bank.dt;
        const double pulse = 500 * dt;
        auto half_sine = [pulse](double t) { return t >= 0.0 && t <= pulse ? std::sin(M_PI * t / pulse) : 0.0; };
        std::vector<float> y(5000);
        for (size_t k = 0; k < y.size(); ++k) y[k] = static_cast<float>(half_sine(k * dt));
        const double tolerance = algorithm == 1 ? kelly_richman_relative_tolerance : physics_relative_tolerance;
        for (const SrsKernel kernel : both_kernels) {
            SrsResult srs;
            compute_srs(bank, y.data(), static_cast<int32_t>(y.size()), srs, kernel);
            for (size_t j = 0; j < freqs.size(); ++j) {
                const size_t count = y.size() + residual_count(bank, j);
                const Peaks ref = peaks_of(sdof_absolute_response(half_sine, dt, count, freqs[j], zeta, 16), count);
                EXPECT_NEAR(srs.xmax[j], ref.max, tolerance * ref.max) << "algorithm " << algorithm << " f=" << freqs[j];
                EXPECT_NEAR(srs.xmin[j], ref.min, tolerance * ref.min) << "algorithm " << algorithm << " f=" << freqs[j];
            }
        }
    }
}

// Frequencies 10^4 and 2 10^4 times below the sample rate, where a1 differs
// from 2 by about (w dt)^2 ~ 4e-7: the spectrum of a half-sine pulse against
// the continuous oscillator driven by the same piecewise-linear input.  Float
// coefficients put 10 Hz here 4 % off; double ones must hold 2e-4 everywhere.
TEST(SrsPhysics, ExactFarBelowTheSampleRate) {
    const std::vector<float> freqs = {5.0f, 10.0f, 100.0f, 1000.0f};
    const float zeta = 0.05f;
    std::vector<float> y(30000, 0.0f);
    for (size_t k = 0; k < 5000; ++k) y[k] = static_cast<float>(std::sin(M_PI * k / 5000.0));
    for (const int32_t algorithm : {1, 2}) {
        const SrsFilterBank bank = make_filter_bank(algorithm, zeta, 100000.0f, freqs);
        SrsResult srs;
        compute_srs(bank, y.data(), static_cast<int32_t>(y.size()), srs);
        // Kelly-Richman's own discretisation error grows as (w dt)^2: judged
        // only far below the sample rate.
        for (size_t j = 0; j < (algorithm == 1 ? 2u : freqs.size()); ++j) {
            const size_t count = y.size() + residual_count(bank, j);
            const Peaks ref = peaks_of(
                sdof_absolute_response(piecewise_linear(y, bank.dt), bank.dt, static_cast<int>(count), freqs[j], zeta, 4),
                count);
            EXPECT_NEAR(srs.xmax[j], ref.max, 2e-4 * ref.max) << "algorithm " << algorithm << " f=" << freqs[j];
            EXPECT_NEAR(srs.xmin[j], ref.min, 2e-4 * ref.min) << "algorithm " << algorithm << " f=" << freqs[j];
        }
    }
}

// Absolute acceleration of the oscillator after a unit step of base
// acceleration at t = 0:  1 - e^(-zeta w t) (cos wd t - zeta / sqrt(1 - zeta^2) sin wd t).
double step_response(double t, double freq, double zeta) {
    if (t < 0.0) return 0.0;
    const double w = 2.0 * M_PI * freq;
    const double wd = w * std::sqrt(1.0 - zeta * zeta);
    return 1.0 - std::exp(-zeta * w * t) * (std::cos(wd * t) - zeta / std::sqrt(1.0 - zeta * zeta) * std::sin(wd * t));
}

// A 30 ms plateau of 1 G, then quiet, at 100 Hz and 10000 samples/s: the
// response overshoots to about 1.86 on the plateau and swings negative after
// it.  A sampled step rises over one step, so it acts as a step half a step
// early; likewise the fall.
TEST(SrsPhysics, PlateauOvershootAndRebound) {
    const float zeta = 0.05f;
    for (const int32_t algorithm : {1, 2}) {
        const SrsFilterBank bank = make_filter_bank(algorithm, zeta, 10000.0f, {100.0f});
        const double dt = bank.dt;
        std::vector<float> y(600, 0.0f);
        std::fill(y.begin(), y.begin() + 300, 1.0f);
        const size_t count = y.size() + residual_count(bank, 0);
        Peaks ref;
        for (size_t k = 0; k < count; ++k) {
            const double x = step_response((k + 0.5) * dt, 100.0, zeta) - step_response((k - 299.5) * dt, 100.0, zeta);
            ref.max = std::max(ref.max, x);
            ref.min = std::max(ref.min, -x);
        }
        for (const SrsKernel kernel : both_kernels) {
            SrsResult srs;
            compute_srs(bank, y.data(), static_cast<int32_t>(y.size()), srs, kernel);
            EXPECT_NEAR(srs.xmax[0], ref.max, physics_relative_tolerance * ref.max) << algorithm;
            EXPECT_NEAR(srs.xmin[0], ref.min, physics_relative_tolerance * ref.min) << algorithm;
            EXPECT_NEAR(srs.xmax[0], 1.86, 0.01) << algorithm;
        }
    }
}

// A resonant drive cut off at its crest: the response is still growing, and
// its largest swing comes after the last sample.  It must be found by the free
// vibration that follows (one period, with the last two input samples still in
// the filter's memory).
TEST(SrsResidualPhase, PeakAfterLastSampleCounts) {
    const float zeta = 0.02f;
    for (const int32_t algorithm : {1, 2}) {
        const SrsFilterBank bank = make_filter_bank(algorithm, zeta, 1000.0f, {10.0f});
        const double dt = bank.dt;
        std::vector<float> y(226);   // 2.25 cycles, ending on a crest
        for (size_t k = 0; k < y.size(); ++k) y[k] = static_cast<float>(std::sin(2.0 * M_PI * 10.0 * k * dt));
        const size_t count = y.size() + residual_count(bank, 0);
        ASSERT_EQ(count, 326u);
        const std::vector<double> ref = sdof_absolute_response(piecewise_linear(y, dt), dt, count, 10.0, zeta);
        const Peaks forced = peaks_of(ref, y.size());
        const Peaks all = peaks_of(ref, count);
        ASSERT_GT(std::max(all.max / forced.max, all.min / forced.min), 1.05);
        const double tolerance = algorithm == 1 ? kelly_richman_relative_tolerance : ramp_invariant_relative_tolerance;
        for (const SrsKernel kernel : both_kernels) {
            SrsResult srs;
            compute_srs(bank, y.data(), static_cast<int32_t>(y.size()), srs, kernel);
            EXPECT_NEAR(srs.xmax[0], all.max, tolerance * all.max) << algorithm;
            EXPECT_NEAR(srs.xmin[0], all.min, tolerance * all.min) << algorithm;
        }
    }
}

// How long each frequency is followed after the last sample: one period of its
// own, the steps with k dt (as a float) <= 1/f.  A negative damping ratio makes
// the free vibration grow, and the history is one whose responses are still
// rising at the end of their windows, so one step more or less would change
// every peak.
TEST(SrsResidualPhase, LastsOnePeriodOfEachFrequency) {
    const std::vector<float> freqs = {10.0f, 40.0f, 100.0f};
    const float zeta = -0.3f;
    const SrsFilterBank bank = make_filter_bank(2, zeta, 1000.0f, freqs);
    const std::vector<float> y = noise(40, 3);
    const std::vector<size_t> steps = {residual_count(bank, 0), residual_count(bank, 1), residual_count(bank, 2)};
    // 10 dt is just above the float 0.01: the 100 Hz filter gets 9 steps.
    EXPECT_EQ(steps, (std::vector<size_t>{100, 25, 9}));
    for (const SrsKernel kernel : both_kernels) {
        SrsResult srs;
        compute_srs(bank, y.data(), static_cast<int32_t>(y.size()), srs, kernel);
        for (size_t j = 0; j < freqs.size(); ++j) {
            const size_t count = y.size() + steps[j];
            const std::vector<double> ref =
                sdof_absolute_response(piecewise_linear(y, bank.dt), bank.dt, count + 1, freqs[j], zeta);
            const Peaks shorter = peaks_of(ref, count - 1), exact = peaks_of(ref, count), longer = peaks_of(ref, count + 1);
            ASSERT_GT(std::max(exact.max / shorter.max, exact.min / shorter.min), 1.001) << j;
            ASSERT_GT(std::max(longer.max / exact.max, longer.min / exact.min), 1.001) << j;
            EXPECT_NEAR(srs.xmax[j], exact.max, ramp_invariant_relative_tolerance * exact.max) << j;
            EXPECT_NEAR(srs.xmin[j], exact.min, ramp_invariant_relative_tolerance * exact.min) << j;
        }
    }
}

TEST(SrsCheck, AllZeroHistoryStopsAtFirstFrequency) {
    const SrsFilterBank bank = make_filter_bank(2, 0.05f, 1000.0f, {10.0f, 100.0f});
    const std::vector<float> y(500, 0.0f);
    for (const SrsKernel kernel : both_kernels) {
        SrsResult srs;
        EXPECT_EQ(srs_failure(bank, y, kernel, srs),
                  " Error SRS  j=0  xmax=       0  xmin=       0 \n            f[j]=      10  \n");
    }
}

// A constant 1 G never makes the response negative on the samples (it would
// swing negative only in the free vibration afterwards): the run stops, and
// the message shows the forced overshoot of the step.
TEST(SrsCheck, StepNeverNegativeStops) {
    double overshoot = 0.0;
    for (int i = 0; i < 20000; ++i) overshoot = std::max(overshoot, step_response(i * 1e-6, 100.0, 0.05));
    for (const int32_t algorithm : {1, 2}) {
        const SrsFilterBank bank = make_filter_bank(algorithm, 0.05f, 10000.0f, {100.0f});
        const std::vector<float> y(300, 1.0f);
        for (const SrsKernel kernel : both_kernels) {
            SrsResult srs;
            const std::string message = srs_failure(bank, y, kernel, srs);
            const std::string head = " Error SRS  j=0  xmax=";
            const std::string tail = "  xmin=       0 \n            f[j]=     100  \n";
            ASSERT_EQ(message.substr(0, head.size()), head) << message;
            ASSERT_GE(message.size(), head.size() + 8 + tail.size());
            EXPECT_EQ(message.substr(head.size() + 8), tail);
            const double printed = std::strtod(message.substr(head.size(), 8).c_str(), nullptr);
            EXPECT_NEAR(printed, overshoot, physics_relative_tolerance * overshoot) << algorithm;
        }
    }
}

// A measured record is judged without the check: a constant 1 G without the
// residual phase never swings negative, so its negative peak is 0 and its
// positive one the step's overshoot; an all-zero history gives zeros.  Both
// kernels alike.
TEST(SrsCheck, WithoutTheSignCheckAPolarityNeverReachedIsZero) {
    double overshoot = 0.0;
    for (int i = 0; i < 20000; ++i) overshoot = std::max(overshoot, step_response(i * 1e-6, 100.0, 0.05));
    const float f = 100.0f;
    SrsFilterBank bank;
    design_srs_filters(SrsAlgorithm::smallwood, 0.05f, 1e-4f, &f, 1, 2.0 * M_PI, false, bank);
    const std::vector<float> step(300, 1.0f), quiet(300, 0.0f);
    for (const SrsKernel kernel : both_kernels) {
        double positive = -1.0, negative = -1.0;
        compute_srs_peaks(bank, step.data(), 300, 0, 1, &positive, &negative, kernel, SrsSignCheck::none);
        EXPECT_NEAR(positive, overshoot, physics_relative_tolerance * overshoot);
        EXPECT_EQ(negative, 0.0);
        compute_srs_peaks(bank, quiet.data(), 300, 0, 1, &positive, &negative, kernel, SrsSignCheck::none);
        EXPECT_EQ(positive, 0.0);
        EXPECT_EQ(negative, 0.0);
    }
}

// 1 G plus a 0.9 G tone at 20 Hz: the 20 Hz oscillator resonates and swings
// both ways, while the 2000 Hz one follows the input, which stays above 0.1 G.
// The first frequency in index order that failed is named.
TEST(SrsCheck, NamesFirstFrequencyWithoutNegativeResponse) {
    const SrsFilterBank bank = make_filter_bank(2, 0.05f, 10000.0f, {20.0f, 2000.0f});
    std::vector<float> y(2000);
    for (size_t k = 0; k < y.size(); ++k) {
        y[k] = static_cast<float>(1.0 + 0.9 * std::cos(2.0 * M_PI * 20.0 * k * static_cast<double>(bank.dt)));
    }
    const std::string head = " Error SRS  j=1  xmax=";
    const std::string tail = "  xmin=       0 \n            f[j]=    2000  \n";
    for (const SrsKernel kernel : both_kernels) {
        SrsResult srs;
        const std::string message = srs_failure(bank, y, kernel, srs);
        ASSERT_EQ(message.substr(0, head.size()), head) << message;
        EXPECT_EQ(message.substr(head.size() + 8), tail);
    }
}

// The vectorised kernel against the plain loop, bit for bit: frequency counts
// on and off the lane width, both designs, long histories and short ones where
// the free vibration after the last sample dominates, and periods that are
// whole numbers of steps (the last residual step decided by rounding).
TEST(SrsKernels, VectorisedEqualsScalarBitForBit) {
    struct Grid {
        float rate;
        std::vector<float> freqs;
    };
    std::vector<Grid> grids;
    for (const int n : {1, 2, 3, 7, 8, 9, 16, 41, 65, 125}) {
        Grid grid{20000.0f, {}};
        for (int j = 0; j < n; ++j) grid.freqs.push_back(static_cast<float>(5.0 * std::pow(2.0, j / 12.0)));
        grids.push_back(grid);
    }
    grids.push_back(Grid{1000.0f, {10.0f, 20.0f, 25.0f, 40.0f, 50.0f, 100.0f, 125.0f, 200.0f, 250.0f}});
    int returned = 0, failed = 0;
    // The negative damping grows the free vibration, so that the peaks depend
    // on the last residual step of every frequency.
    for (const auto& [algorithm, zeta] : {std::pair{1, 0.05f}, std::pair{2, 0.05f}, std::pair{2, -0.3f}}) {
        for (const Grid& grid : grids) {
            const int n = static_cast<int>(grid.freqs.size());
            const SrsFilterBank bank = make_filter_bank(algorithm, zeta, grid.rate, grid.freqs);
            for (const size_t nt : {1u, 2u, 3u, 17u, 300u, 2500u}) {
                if (zeta < 0.0f && nt > 17) continue;   // the growth would overflow
                const std::vector<float> y = noise(nt, static_cast<uint32_t>(n * 7919 + nt));
                SrsResult scalar, vectorised, again;
                const std::string scalar_failure = srs_failure(bank, y, SrsKernel::scalar, scalar);
                const std::string vector_failure = srs_failure(bank, y, SrsKernel::vectorised, vectorised);
                EXPECT_EQ(scalar_failure, vector_failure) << "n=" << n << " nt=" << nt;
                if (!scalar_failure.empty()) {
                    ++failed;
                    continue;
                }
                ++returned;
                EXPECT_EQ(std::memcmp(scalar.xmax.data(), vectorised.xmax.data(), sizeof scalar.xmax), 0)
                    << "algorithm " << algorithm << " n=" << n << " nt=" << nt;
                EXPECT_EQ(std::memcmp(scalar.xmin.data(), vectorised.xmin.data(), sizeof scalar.xmin), 0)
                    << "algorithm " << algorithm << " n=" << n << " nt=" << nt;
                compute_srs(bank, y.data(), static_cast<int32_t>(nt), again, SrsKernel::vectorised);
                EXPECT_EQ(std::memcmp(again.xmax.data(), vectorised.xmax.data(), sizeof again.xmax), 0);
                // The same samples as doubles, and the frequencies from the
                // second lane block on: the same peaks, unrounded.
                const std::vector<double> wide(y.begin(), y.end());
                std::vector<double> pos(n), neg(n), pos2(n), neg2(n);
                const int32_t first = n > srs_lane_pad ? srs_lane_pad : 0;
                compute_srs_peaks(bank, wide.data(), static_cast<int64_t>(nt), first, n, pos.data(), neg.data(),
                                  SrsKernel::vectorised);
                compute_srs_peaks(bank, y.data(), static_cast<int64_t>(nt), first, n, pos2.data(), neg2.data(),
                                  SrsKernel::scalar);
                for (int j = first; j < n; ++j) {
                    EXPECT_EQ(pos[j], pos2[j]) << j;
                    EXPECT_EQ(neg[j], neg2[j]) << j;
                    EXPECT_EQ(static_cast<float>(pos[j]), vectorised.xmax[j]) << j;
                }
                for (int j = 0; j < n; ++j) {
                    EXPECT_GT(vectorised.xmin[j], 0.0f);
                    EXPECT_TRUE(std::isfinite(vectorised.xmax[j]) && std::isfinite(vectorised.xmin[j]));
                }
            }
        }
    }
    EXPECT_GT(returned, 40);
    EXPECT_GT(failed, 20);
}

// The recursion written out as it is defined, one fused multiply-add per term
// and the previous response last, with the forced phase and one period of free
// vibration: every kernel must give exactly these bits.
TEST(SrsKernels, StepIsTheFusedRecursion) {
    const SrsFilterBank bank = make_filter_bank(2, 0.05f, 20000.0f, {150.0f});
    const std::vector<float> y = noise(700, 11);
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0, pmax = 0.0, pmin = 0.0;
    const size_t count = y.size() + residual_count(bank, 0);
    for (size_t k = 0; k < count; ++k) {
        const double yk = k < y.size() ? y[k] : 0.0;
        const double x = std::fma(bank.a1[0], x1, std::fma(bank.a2[0], x2, std::fma(bank.b3[0], y2,
                                                    std::fma(bank.b2[0], y1, bank.b1[0] * yk))));
        pmax = x > pmax ? x : pmax;
        pmin = x < pmin ? x : pmin;
        x2 = x1, x1 = x, y2 = y1, y1 = yk;
    }
    for (const SrsKernel kernel : both_kernels) {
        double positive = 0.0, negative = 0.0;
        compute_srs_peaks(bank, y.data(), static_cast<int64_t>(y.size()), 0, 1, &positive, &negative, kernel);
        EXPECT_EQ(positive, pmax);
        EXPECT_EQ(negative, std::fabs(pmin));
    }
    // The response over the SRS window: the same steps, so the same extremes.
    ASSERT_EQ(srs_window(bank, 0, static_cast<int64_t>(y.size())), static_cast<int64_t>(count));
    const std::vector<double> wide(y.begin(), y.end());
    std::vector<double> response(count);
    srs_response(bank, 0, wide.data(), static_cast<int64_t>(wide.size()), static_cast<int64_t>(count), response.data());
    EXPECT_EQ(*std::max_element(response.begin(), response.end()), pmax);
    EXPECT_EQ(*std::min_element(response.begin(), response.end()), pmin);
}

}  // namespace
}  // namespace quorel
