#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "check/records.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::check_relative_tolerance;

CheckInput input_of(const std::vector<double>& samples, double rate, double start = 0.0) {
    return {samples, rate, start, "record.csv"};
}

// A half-sine pulse of 10 ms, 50 G, at 10 000 samples/sec, then at rest to
// 6 sec (the forced response at 0.1 Hz crosses zero after half a period).  The Smallwood filter is exact for the input linear between
// samples, so a fine integration of the oscillator driven by that input is an
// independent computation of the same spectrum, residual phase included.  The
// frequencies run from rate / 10^5 to rate / 4.
TEST(CheckRecords, SrsAgreesWithAnIndependentIntegrationFromRateOver1e5ToRateOver4) {
    const double rate = 10000.0;
    const double dt = static_cast<float>(1.0 / rate);   // the step the filters are designed with
    std::vector<float> pulse(60000, 0.0f);
    for (int k = 0; k <= 100; ++k) pulse[static_cast<size_t>(k)] = static_cast<float>(50.0 * std::sin(M_PI * k / 100.0));
    const std::vector<double> samples(pulse.begin(), pulse.end());

    CheckGrid grid;
    grid.freq = {0.1f, 1.0f, 10.0f, 100.0f, 700.0f, 2500.0f};
    CheckSettings settings;
    settings.damping = 0.05f;
    const RecordCheck check = check_records({input_of(samples, rate)}, grid, settings).front();

    const auto input = testing::piecewise_linear(pulse, dt);
    for (size_t j = 0; j < grid.freq.size(); ++j) {
        const double f = grid.freq[j];
        // The forced phase and one period at rest after the last sample; above
        // 0.1 Hz the free vibration after the pulse only decays, and the
        // reference stops five periods after the pulse.
        const int full = static_cast<int>(pulse.size()) + static_cast<int>(1.0 / (f * dt));
        const int count = f > 0.5 ? std::min(full, 100 + static_cast<int>(5.0 / (f * dt))) : full;
        const std::vector<double> x = testing::sdof_absolute_response(input, dt, count, f, 0.05f);
        double highest = 0.0, lowest = 0.0;
        for (const double v : x) {
            highest = std::max(highest, v);
            lowest = std::min(lowest, v);
        }
        EXPECT_NEAR(check.srs[j].positive, highest, highest * check_relative_tolerance) << f;
        EXPECT_NEAR(check.srs[j].negative, -lowest, -lowest * check_relative_tolerance) << f;
        // PV = 2 pi f max|z| x 386 in in/sec, each polarity.
        const std::vector<double> z = testing::sdof_relative_displacement(input, dt, count, f, 0.05f);
        const double pv_positive = -2.0 * M_PI * f * 386.0 * *std::min_element(z.begin(), z.end());
        const double pv_negative = 2.0 * M_PI * f * 386.0 * *std::max_element(z.begin(), z.end());
        EXPECT_NEAR(check.pvss[j].positive, pv_positive, pv_positive * testing::pseudo_velocity_relative_tolerance) << f;
        EXPECT_NEAR(check.pvss[j].negative, pv_negative, pv_negative * testing::pseudo_velocity_relative_tolerance) << f;
    }
}

// A 1 ms half-sine of 100 G at 100 000 samples/sec, cut 0.5 ms after the
// pulse: at 100 and 200 Hz the response has not turned when the record ends.
// Each frequency is followed one period past the last sample and gets its
// exact peaks (against the integrated oscillator); without the residual
// phase the negative polarity is never reached: its peak is 0, its margin
// -inf, outside every band.
TEST(CheckRecords, ARecordEndingSoonAfterTheShockHasEveryFrequency) {
    const double rate = 100000.0;
    const double dt = static_cast<float>(1.0 / rate);
    std::vector<float> pulse(151, 0.0f);
    for (int k = 0; k <= 100; ++k) pulse[static_cast<size_t>(k)] = static_cast<float>(100.0 * std::sin(M_PI * k / 100.0));
    const std::vector<double> samples(pulse.begin(), pulse.end());
    CheckGrid grid;
    grid.freq = {100.0f, 200.0f, 2000.0f};
    grid.spec = {10.0f, 20.0f, 150.0f};
    CheckSettings settings;
    settings.rules.points = SrsPoints::each;
    settings.rules.bands = {{-6.0, 6.0}, {-60.0, 60.0}};
    const RecordCheck check = check_records({input_of(samples, rate)}, grid, settings).front();
    for (size_t j = 0; j < grid.freq.size(); ++j) {
        const double f = grid.freq[j];
        const int count = static_cast<int>(pulse.size()) + testing::residual_steps(static_cast<float>(dt), grid.freq[j]);
        const std::vector<double> x =
            testing::sdof_absolute_response(testing::piecewise_linear(pulse, dt), dt, count, f, 0.05, 16);
        const double highest = *std::max_element(x.begin(), x.end());
        const double lowest = -*std::min_element(x.begin(), x.end());
        EXPECT_NEAR(check.srs[j].positive, highest, highest * check_relative_tolerance) << f;
        EXPECT_NEAR(check.srs[j].negative, lowest, lowest * check_relative_tolerance) << f;
    }

    settings.residual = false;
    const RecordCheck forced = check_records({input_of(samples, rate)}, grid, settings).front();
    for (size_t j = 0; j < 2; ++j) {
        EXPECT_GT(forced.srs[j].positive, 0.0);
        EXPECT_EQ(forced.srs[j].negative, 0.0);
        EXPECT_EQ(forced.compliance->rows[j].negative_db, -HUGE_VAL);
    }
    // Both bands judge 6 points and count none of the two -inf inside.
    const AcceptanceVerdict& verdict = forced.compliance->verdict;
    EXPECT_FALSE(verdict.pass);
    for (const ShareCount& band : verdict.bands) {
        EXPECT_EQ(band.total, 6);
        EXPECT_LE(band.inside, 4);
    }
    EXPECT_EQ(verdict.bands[1].inside, 4);
}

TEST(CheckRecords, AnAllZeroRecordIsRefused) {
    CheckGrid grid;
    grid.freq = {10.0f, 100.0f};
    try {
        check_records({input_of(std::vector<double>(500, 0.0), 1000.0)}, grid, CheckSettings{});
        ADD_FAILURE() << "an all-zero record was checked";
    } catch (const QuorelError& error) {
        EXPECT_EQ(std::string(error.what()), "\n Error: record.csv: every sample is zero: there is no shock to check \n");
    }
}

// 100 samples/sec from t = 1 sec: +2 G for samples 10..19, -2 G for 20..29,
// 0.25 G at sample 40, 50 samples.  By hand (dt = 0.01 sec):
//   peak 2 G at sample 10 (t = 1.10); |a| >= 2/3 from sample 10 to 29: Te = 0.19;
//   |a| >= 0.2 from 10 to 40: T10 = 0.30.
//   v rises by 0.02 G sec a step to v_19 = v_20 = 0.19 G sec (73.34 in/sec) and
//   falls back to 0 at sample 30; the tail leaves 0.25 x 0.01 = 0.0025 G sec
//   (0.965 in/sec).  d = dt (sum of v) = 0.02 G sec^2 at sample 39, plus
//   6.25e-6 + 1.875e-5 + 8 x 2.5e-5 = 2.25e-4 from the tail: 7.80685 in.
TEST(CheckRecords, FiguresOfAPulseByHand) {
    std::vector<double> a(50, 0.0);
    for (int k = 10; k < 20; ++k) a[static_cast<size_t>(k)] = 2.0;
    for (int k = 20; k < 30; ++k) a[static_cast<size_t>(k)] = -2.0;
    a[40] = 0.25;
    const RecordFigures f = record_figures(input_of(a, 100.0, 1.0), UnitSystem::english);
    EXPECT_EQ(f.samples, 50);
    EXPECT_DOUBLE_EQ(f.duration, 0.49);
    EXPECT_EQ(f.peak_acceleration, 2.0);
    EXPECT_DOUBLE_EQ(f.peak_time, 1.10);
    EXPECT_DOUBLE_EQ(f.te, 0.19);
    EXPECT_DOUBLE_EQ(f.t10, 0.30);
    EXPECT_NEAR(f.peak_velocity, 73.34, 1e-10);
    EXPECT_NEAR(f.end_velocity, 0.965, 1e-10);
    EXPECT_NEAR(f.peak_displacement, 7.80685, 1e-10);
    EXPECT_NEAR(f.end_displacement, 7.80685, 1e-10);
    // Metric: the same integrals in m/sec (x 9.81) and mm (x 9810); SI from
    // m/sec^2: m/sec (x 1) and mm (x 1000).
    const RecordFigures metric = record_figures(input_of(a, 100.0, 1.0), UnitSystem::metric_g);
    EXPECT_NEAR(metric.peak_velocity, 0.19 * 9.81, 1e-12);
    EXPECT_NEAR(metric.peak_displacement, 0.020225 * 9810.0, 1e-9);
    EXPECT_NEAR(metric.end_displacement, 0.020225 * 9810.0, 1e-9);
    const RecordFigures si = record_figures(input_of(a, 100.0, 1.0), UnitSystem::metric_si);
    EXPECT_NEAR(si.peak_velocity, 0.19, 1e-12);
    EXPECT_NEAR(si.peak_displacement, 0.020225 * 1000.0, 1e-10);
    EXPECT_NEAR(si.end_displacement, 0.020225 * 1000.0, 1e-10);
}

TEST(CheckRecords, AnyThreadCountGivesTheSameBits) {
    std::vector<double> first(3000), second(1700);
    for (size_t k = 0; k < first.size(); ++k) first[k] = std::sin(0.037 * k) * std::exp(-0.002 * k) + 0.01 * std::cos(1.3 * k);
    for (size_t k = 0; k < second.size(); ++k) second[k] = std::sin(0.11 * k) / (1.0 + 0.01 * k);
    CheckGrid grid;
    for (float f = 5.0f; f < 2400.0f; f *= 1.09f) grid.freq.push_back(f);   // 70 frequencies: 9 lane blocks
    grid.spec.assign(grid.freq.size(), 1.0f);
    CheckSettings settings;
    settings.rules.bands = {{-6.0, 6.0}};
    const std::vector<CheckInput> inputs{input_of(first, 10000.0), input_of(second, 12000.0)};
    settings.threads = 1;
    const std::vector<RecordCheck> one = check_records(inputs, grid, settings);
    for (const int32_t threads : {2, 3, 8}) {
        settings.threads = threads;
        const std::vector<RecordCheck> many = check_records(inputs, grid, settings);
        for (size_t r = 0; r < inputs.size(); ++r) {
            EXPECT_EQ(many[r].figures.peak_displacement, one[r].figures.peak_displacement);
            for (size_t j = 0; j < grid.freq.size(); ++j) {
                EXPECT_EQ(many[r].srs[j].positive, one[r].srs[j].positive) << threads << " " << j;
                EXPECT_EQ(many[r].srs[j].negative, one[r].srs[j].negative) << threads << " " << j;
            }
            EXPECT_EQ(many[r].compliance->verdict.bands[0].inside, one[r].compliance->verdict.bands[0].inside);
        }
    }
}

}  // namespace
}  // namespace quorel
