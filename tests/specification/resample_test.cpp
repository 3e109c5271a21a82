#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "specification/resample.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::float_grid_relative_tolerance;

SrsSpec as_read(const std::vector<std::pair<float, float>>& points) {
    SrsSpec spec;
    for (const auto& [f, a] : points) {
        spec.input_freq[static_cast<size_t>(spec.input_count)] = f;
        spec.input_accel[static_cast<size_t>(spec.input_count)] = a;
        spec.last_input_freq = f;
        spec.last_input_accel = a;
        ++spec.input_count;
    }
    return spec;
}

// The grid frequencies written out plainly: start at the first input frequency,
// multiply by 2^fraction and round to float until past the last input
// frequency, then close on the last input frequency unless already there.
std::vector<float> reference_grid(float first, float last, float fraction) {
    const double ratio = std::pow(2.0, static_cast<double>(fraction));
    std::vector<float> grid{first};
    for (float c = first;;) {
        c = static_cast<float>(c * ratio);
        if (c > last) break;
        grid.push_back(c);
    }
    if (last > grid.back()) grid.push_back(last);
    return grid;
}

// Straight lines in log-log coordinates, as a power law between input points.
double power_law(const std::vector<std::pair<float, float>>& points, double f) {
    for (size_t k = 1; k < points.size(); ++k) {
        const double f0 = points[k - 1].first, a0 = points[k - 1].second;
        const double f1 = points[k].first, a1 = points[k].second;
        if (f <= f1) return a0 * std::pow(f / f0, std::log(a1 / a0) / std::log(f1 / f0));
    }
    return points.back().second;
}

void expect_near_relative(double actual, double expected, const std::string& what) {
    EXPECT_NEAR(actual, expected, std::fabs(expected) * float_grid_relative_tolerance) << what;
}

// The grid of a spacing menu answer; `reduced` tells whether it was cut to 125 points.
SrsSpec resample_with_answer(const std::vector<std::pair<float, float>>& points, const std::string& answer,
                             bool& reduced) {
    SrsSpec spec = as_read(points);
    reduced = build_octave_grid(spec, octave_fraction(octave_spacing_for_answer(std::stoi(answer))));
    return spec;
}

TEST(OctaveResampling, ThreeSpacingsFollowTheGridRuleAndTheLogLogLines) {
    const std::vector<std::pair<float, float>> points{{10.0f, 1.0f}, {100.0f, 10.0f}, {200.0f, 10.0f}};
    struct Case {
        std::string answer;
        double fraction;
        int32_t count;
    };
    for (const Case& c : {Case{"1", 1.0 / 3.0, 14}, Case{"2", 1.0 / 6.0, 27}, Case{"3", 1.0 / 12.0, 53}}) {
        bool reduced = false;
        const SrsSpec spec = resample_with_answer(points, c.answer, reduced);
        const float fraction = static_cast<float>(c.fraction);
        EXPECT_FALSE(reduced) << "no warning below 125 points";
        EXPECT_EQ(spec.octave_fraction, fraction);
        ASSERT_EQ(spec.count, c.count) << c.answer;
        const std::vector<float> grid = reference_grid(10.0f, 200.0f, fraction);
        ASSERT_EQ(grid.size(), static_cast<size_t>(c.count));
        for (int32_t i = 0; i < spec.count; ++i) {
            const std::string where = "answer " + c.answer + " point " + std::to_string(i);
            EXPECT_EQ(spec.freq[i], grid[static_cast<size_t>(i)]) << where;
            expect_near_relative(spec.accel[i], power_law(points, spec.freq[i]), where);
            // Slope 1 up to 100 Hz, flat at 10 above it (exactly: the log of 10 is 1).
            if (spec.freq[i] <= 100.0f) expect_near_relative(spec.accel[i], spec.freq[i] / 10.0, where);
            else EXPECT_EQ(spec.accel[i], 10.0f) << where;
        }
        EXPECT_EQ(spec.freq[0], 10.0f);
        EXPECT_EQ(spec.accel[0], 1.0f);
        EXPECT_EQ(spec.freq[spec.count - 1], 200.0f) << "closing point appended";
        EXPECT_EQ(spec.accel[spec.count - 1], 10.0f);
    }
}

TEST(OctaveResampling, ThirdOctaveGridByHand) {
    bool reduced = false;
    const SrsSpec spec = resample_with_answer({{10.0f, 1.0f}, {100.0f, 10.0f}, {200.0f, 10.0f}}, "1", reduced);
    ASSERT_EQ(spec.count, 14);
    // 10 Hz times 2^(i/3): 10, 12.6, 15.9, 20, 25.2, 31.7, 40, 50.4, 63.5, 80, 101, 127, 160.
    for (int32_t i = 0; i < 13; ++i) {
        expect_near_relative(spec.freq[i], 10.0 * std::pow(2.0, i / 3.0), "point " + std::to_string(i));
    }
    // Three third-octave steps from 10 Hz land on 20 Hz exactly in float.
    EXPECT_EQ(spec.freq[3], 20.0f);
    EXPECT_NEAR(spec.accel[3], 2.0, 2.0 * float_grid_relative_tolerance);
    EXPECT_NEAR(spec.freq[10], 100.79, 0.01);
    EXPECT_EQ(spec.accel[10], 10.0f) << "first grid point above 100 Hz lies on the flat segment";
    EXPECT_EQ(spec.freq[12], 160.0f);
    EXPECT_EQ(spec.freq[13], 200.0f);
}

TEST(OctaveResampling, MenuAnswersOtherThanTwoOrThreeGiveThirdOctave) {
    for (const char* answer : {"0", "4", "-1", "1"}) {
        bool reduced = false;
        const SrsSpec spec = resample_with_answer({{10.0f, 1.0f}, {100.0f, 10.0f}, {200.0f, 10.0f}}, answer, reduced);
        EXPECT_EQ(spec.octave_fraction, 0.33333334f) << answer;
        EXPECT_EQ(spec.count, 14) << answer;
    }
}

// Each spacing's name reads back as that spacing and its fraction is 2^-k of
// an octave as a float; names of no spacing read as nothing.
TEST(OctaveResampling, SpacingNamesReadBackAndGiveTheirFractions) {
    const std::pair<const char*, double> named[] = {{"1/3", 3.0}, {"1/6", 6.0}, {"1/12", 12.0}, {"1/24", 24.0}};
    for (const auto& [name, parts] : named) {
        const std::optional<OctaveSpacing> spacing = octave_spacing_named(name);
        ASSERT_TRUE(spacing) << name;
        EXPECT_STREQ(octave_spacing_name(*spacing), name);
        EXPECT_EQ(octave_fraction(*spacing), static_cast<float>(1.0 / parts)) << name;
    }
    for (const char* other : {"", "1/2", "1/6 ", "6", "1/48"}) EXPECT_FALSE(octave_spacing_named(other)) << other;
}

TEST(OctaveResampling, GridIsCutTo125PointsWithAWarning) {
    bool reduced = false;
    const SrsSpec spec = resample_with_answer({{1.0f, 1.0f}, {2000.0f, 1.0f}}, "3", reduced);
    const std::vector<float> grid = reference_grid(1.0f, 2000.0f, static_cast<float>(1.0 / 12.0));
    EXPECT_EQ(grid.size(), 133u) << "uncut grid: 132 generated points and the closing 2000 Hz";
    EXPECT_TRUE(reduced);
    ASSERT_EQ(spec.count, 125);
    for (int32_t i = 0; i < 125; ++i) {
        EXPECT_EQ(spec.freq[i], grid[static_cast<size_t>(i)]) << i;
        EXPECT_EQ(spec.accel[i], 1.0f) << i;
    }
    expect_near_relative(spec.freq[124], std::pow(2.0, 124.0 / 12.0), "highest kept point");
    EXPECT_LT(spec.freq[124], 1300.0f) << "the closing 2000 Hz point is dropped";
}

TEST(OctaveResampling, TheUncappedGridRunsOnToItsLimit) {
    // The same 1 to 2000 Hz at 1/12 octave: all 133 points, the first 125 as
    // the synthesis's grid has them, the closing 2000 Hz kept.
    SrsSpec spec = as_read({{1.0f, 1.0f}, {2000.0f, 1.0f}});
    const OctaveGrid grid = octave_grid(spec, static_cast<float>(1.0 / 12.0), 1000);
    EXPECT_EQ(grid.freq, reference_grid(1.0f, 2000.0f, static_cast<float>(1.0 / 12.0)));
    EXPECT_EQ(grid.points, 133);
    EXPECT_EQ(grid.accel.back(), 1.0f);
    build_octave_grid(spec, static_cast<float>(1.0 / 12.0));
    for (int32_t i = 0; i < 125; ++i) EXPECT_EQ(grid.freq[static_cast<size_t>(i)], spec.freq[i]) << i;
    // Past the limit the walk stops and says so.
    const OctaveGrid cut = octave_grid(spec, static_cast<float>(1.0 / 12.0), 100);
    EXPECT_EQ(cut.points, 101);
    EXPECT_EQ(cut.freq.size(), 100u);
}

TEST(OctaveResampling, SinglePointIsTheWholeGrid) {
    bool reduced = false;
    const SrsSpec spec = resample_with_answer({{50.0f, 3.0f}}, "3", reduced);
    EXPECT_FALSE(reduced);
    ASSERT_EQ(spec.count, 1);
    EXPECT_EQ(spec.freq[0], 50.0f);
    EXPECT_EQ(spec.accel[0], 3.0f);
}

TEST(OctaveResampling, GridFrequencyOnAnInputPointTakesItsAccelerationUninterpolated) {
    // 20 and 40 Hz are hit exactly by the third-octave grid from 10 Hz.  The
    // line through (10, 1) and (20, 5) evaluated in float at 20 Hz misses 5 by a
    // rounding step, so only the exact-hit rule gives 5 itself.
    const float rise = static_cast<float>(std::log(5.0) - std::log(1.0));
    const float run = static_cast<float>(std::log(20.0) - std::log(10.0));
    const float slope = static_cast<float>(static_cast<double>(rise) / run);
    const float w = static_cast<float>((std::log10(20.0) - std::log10(10.0)) * slope + std::log10(1.0));
    ASSERT_NE(static_cast<float>(std::pow(10.0, static_cast<double>(w))), 5.0f) << "the case must tell the rules apart";

    bool reduced = false;
    const SrsSpec spec = resample_with_answer({{10.0f, 1.0f}, {20.0f, 5.0f}, {40.0f, 2.0f}}, "1", reduced);
    ASSERT_EQ(spec.count, 7) << "the grid ends on 40 Hz, so nothing is appended";
    EXPECT_EQ(spec.freq[3], 20.0f);
    EXPECT_EQ(spec.accel[3], 5.0f);
    EXPECT_EQ(spec.freq[6], 40.0f);
    EXPECT_EQ(spec.accel[6], 2.0f);
    // Between input points: interpolated on the segment that holds the frequency.
    const std::vector<std::pair<float, float>> points{{10.0f, 1.0f}, {20.0f, 5.0f}, {40.0f, 2.0f}};
    for (int32_t i : {1, 2, 4, 5}) expect_near_relative(spec.accel[i], power_law(points, spec.freq[i]), std::to_string(i));
}

}  // namespace
}  // namespace quorel
