#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "feasibility/drive_limits.hpp"
#include "report/selection.hpp"
#include "app/dialogue.hpp"
#include "report/trial_table.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::read_file;
using testing::TempDir;

const SelectionWeights displacement_weighting{5.0, 1.0, 1.0, 3.0, 0.5};
const SelectionWeights acceleration_weighting{1.0, 1.0, 5.0, 3.0, 0.5};

// Rank positions per trial, in the column order of the score table:
// peak accel, peak velocity, peak displacement, total error, max error.
struct Positions {
    int32_t accel, vel, disp, total, max;
};

struct Selection {
    TempDir dir;
    TrialTable table;
    WaveletSet set;
    SrsSpec spec;
    RunSettings settings;

    explicit Selection(const std::vector<Positions>& trials) {
        const int32_t n = static_cast<int32_t>(trials.size());
        allocate_trial_table(table, n);
        table.count = n;
        for (int32_t t = 0; t < n; ++t) {
            const Positions& p = trials[static_cast<size_t>(t)];
            table.rank_peak_accel[t] = p.accel;
            table.rank_peak_velocity[t] = p.vel;
            table.rank_peak_displacement[t] = p.disp;
            table.rank_total_error[t] = p.total;
            table.rank_max_error[t] = p.max;
        }
        spec.count = 3;
        spec.freq[0] = 100.0f;
        spec.freq[1] = 200.5f;
        spec.freq[2] = 1000.0f;
        allocate_rows(set, spec.count, n);
        settings.units = UnitSystem::english;
    }

    void set_row(int32_t t, std::vector<float> amplitude, std::vector<int32_t> nhs, std::vector<float> delay) {
        for (int32_t k = 0; k < spec.count; ++k) {
            set.amplitude_row(t)[k] = amplitude[static_cast<size_t>(k)];
            set.nhs_row(t)[k] = nhs[static_cast<size_t>(k)];
            set.delay_row(t)[k] = delay[static_cast<size_t>(k)];
        }
    }

    // As the report does it: the score table, the choice, the chosen trial's wavelet table.
    std::string select(const SelectionWeights& weights, const std::string& score_table, int32_t& optimum) {
        const std::vector<double> scores = trial_scores(table, weights);
        write_score_table(table, scores, score_table, OutputNames{});
        if (!choose_optimum_trial(table, scores, optimum)) return {};
        return write_wavelet_table(set, optimum, spec, settings, OutputNames{});
    }
};

// Scores by hand: 5*1 + 0 + 0 + (3*1 + 0.5*0) = 8 and 0 + 1 + 1 + (0 + 0.5) = 2.5
// under the displacement weighting; 1 + 0 + 0 + 3 = 4 and 0 + 1 + 5 + 0.5 = 6.5
// under the acceleration weighting.
TEST(OptimumSelection, TheWeightingDecidesBetweenTwoOppositeTrials) {
    Selection s({{0, 0, 1, 0, 1}, {1, 1, 0, 1, 0}});
    EXPECT_EQ(trial_score(s.table, displacement_weighting, 0), 8.0);
    EXPECT_EQ(trial_score(s.table, displacement_weighting, 1), 2.5);
    int32_t optimum = 0;
    EXPECT_EQ(s.select(displacement_weighting, "disp_rank", optimum), "wavelet_0.out");
    EXPECT_EQ(optimum, 0);
    EXPECT_EQ(read_file("disp_rank"),
              "0 \t 8.000000 \t 0 \t 0 \t 1 \t 0 \t 1\n"
              "1 \t 2.500000 \t 1 \t 1 \t 0 \t 1 \t 0\n");

    EXPECT_EQ(s.select(acceleration_weighting, "accel_rank", optimum), "wavelet_1.out");
    EXPECT_EQ(optimum, 1);
    EXPECT_EQ(read_file("accel_rank"),
              "0 \t 4.000000 \t 0 \t 0 \t 1 \t 0 \t 1\n"
              "1 \t 6.500000 \t 1 \t 1 \t 0 \t 1 \t 0\n");
    EXPECT_TRUE(testing::file_exists("wavelet_0.out"));
    EXPECT_TRUE(testing::file_exists("wavelet_1.out"));
}

// Trials 1 and 2 both score 14 (5+1+1+(6+1) and 10+2+2+(0+0)): only a strictly
// greater score replaces the best, so the lower trial keeps it.  A single trial
// scores 0, which never beats the starting best of 0: the optimum stays as it was.
TEST(OptimumSelection, OnlyAStrictlyGreaterScoreReplacesTheOptimum) {
    Selection s({{0, 0, 0, 1, 1}, {1, 1, 1, 2, 2}, {2, 2, 2, 0, 0}});
    int32_t optimum = 0;
    s.select(displacement_weighting, "disp_rank", optimum);
    EXPECT_EQ(optimum, 1);
    EXPECT_EQ(read_file("disp_rank"),
              "0 \t 3.500000 \t 0 \t 0 \t 0 \t 1 \t 1\n"
              "1 \t 14.000000 \t 1 \t 1 \t 1 \t 2 \t 2\n"
              "2 \t 14.000000 \t 2 \t 2 \t 2 \t 0 \t 0\n");

    s.table.count = 1;   // a lone trial: every position 0
    s.table.rank_total_error[0] = s.table.rank_max_error[0] = 0;
    optimum = 2;
    EXPECT_EQ(s.select(acceleration_weighting, "accel_rank", optimum), "wavelet_2.out");
    EXPECT_EQ(optimum, 2);
    EXPECT_EQ(read_file("accel_rank"), "0 \t 0.000000 \t 0 \t 0 \t 0 \t 0 \t 0\n");
}

// A trial outside the limits (or failing the rules) is never chosen, whatever
// its score; with no candidate the score table is still written, no wavelet table.
TEST(OptimumSelection, OnlyQualifyingTrialsAreCandidates) {
    Selection s({{0, 0, 1, 0, 1}, {1, 1, 0, 1, 0}, {2, 2, 2, 2, 2}});
    s.table.within_limits[2] = 0;   // the best score under both weightings
    int32_t optimum = 2;            // and the previous choice
    EXPECT_EQ(s.select(displacement_weighting, "disp_rank", optimum), "wavelet_0.out");
    s.table.passes[0] = 0;
    EXPECT_EQ(s.select(acceleration_weighting, "accel_rank", optimum), "wavelet_1.out");
    s.table.passes[1] = 0;
    std::remove("disp_rank");
    std::remove("wavelet_0.out");
    EXPECT_EQ(s.select(displacement_weighting, "disp_rank", optimum), "");
    EXPECT_EQ(testing::read_lines("disp_rank").size(), 3u);
    EXPECT_FALSE(testing::file_exists("wavelet_0.out"));
}

// Peak over limit; the force as M x peak x g over F, g = 9.81 m/sec^2 per G
// only when the acceleration is in G and the force in N (metric units).
TEST(DriveLimits, RatiosOfEachLimitAndTheForceInEachUnitSystem) {
    DriveLimits limits;
    limits.velocity = 40.0f;
    limits.force = 500.0f;
    limits.moving_mass = 10.0f;
    const LimitRatios metric = limit_ratios(limits, UnitSystem::metric_g, 5.0, 30.0, 1.0);
    EXPECT_DOUBLE_EQ(*metric.force, 10.0 * 5.0 * 9.81 / 500.0);   // 0.981
    EXPECT_DOUBLE_EQ(*metric.velocity, 0.75);
    EXPECT_FALSE(metric.displacement);
    EXPECT_TRUE(metric.within());
    EXPECT_DOUBLE_EQ(*limit_ratios(limits, UnitSystem::english, 60.0, 30.0, 1.0).force, 1.2);   // 10 lb x 60 G = 600 lbf
    EXPECT_FALSE(limit_ratios(limits, UnitSystem::english, 60.0, 30.0, 1.0).within());
    EXPECT_DOUBLE_EQ(*limit_ratios(limits, UnitSystem::metric_si, 60.0, 30.0, 1.0).force, 1.2);   // 10 kg x 60 m/sec^2 = 600 N
    limits.velocity = 30.0f;   // a peak at its limit is within it
    EXPECT_TRUE(limit_ratios(limits, UnitSystem::metric_g, 5.0, 30.0, 1.0).within());
}

// Polarity and magnitude are split: a negative amplitude (and a NaN) is written
// as "-" with its magnitude, zero (even -0) and positive ones as "+".  Delays
// are shown in milliseconds: 0.005 s as 5.00.
TEST(OptimumSelection, WaveletTableSplitsPolarityAndShowsMilliseconds) {
    Selection s({{0, 0, 1, 0, 1}, {1, 1, 0, 1, 0}});
    s.set_row(0, {-12.5f, 0.0f, 3.25f}, {7, 3, 41}, {0.005f, 0.0f, 0.0123f});
    s.set_row(1, {std::numeric_limits<float>::quiet_NaN(), -0.0f, 1.0f}, {5, 9, 3}, {0.0f, 0.0f, 0.25f});
    int32_t optimum = 0;
    s.select(displacement_weighting, "disp_rank", optimum);
    EXPECT_EQ(read_file("wavelet_0.out"),
              " No.   Freq(Hz)   Polarity    NHS     Delay(msec)    Amp(G)\n"
              "0 \t    100.0 \t - \t 7 \t     5.00 \t    12.50 \n"
              "1 \t    200.5 \t + \t 3 \t     0.00 \t     0.00 \n"
              "2 \t   1000.0 \t + \t 41 \t    12.30 \t     3.25 \n");
    s.settings.units = UnitSystem::metric_si;
    s.select(acceleration_weighting, "accel_rank", optimum);
    EXPECT_EQ(read_file("wavelet_1.out"),
              " No.   Freq(Hz)   Polarity    NHS     Delay(msec)    Amp(m/sec^2)\n"
              "0 \t    100.0 \t - \t 5 \t     0.00 \t      nan \n"
              "1 \t    200.5 \t + \t 9 \t     0.00 \t     0.00 \n"
              "2 \t   1000.0 \t + \t 3 \t   250.00 \t     1.00 \n");
}

}  // namespace
}  // namespace quorel
