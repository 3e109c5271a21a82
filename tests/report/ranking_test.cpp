#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "report/ranking.hpp"
#include "report/trial_table.hpp"
#include "specification/srs_spec.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::read_file;
using testing::TempDir;

struct Ranked {
    std::vector<float> values;
    std::vector<int32_t> order;
    std::vector<int32_t> rank;
};

Ranked rank(std::vector<float> values) {
    const int32_t n = static_cast<int32_t>(values.size());
    Ranked r{std::move(values), std::vector<int32_t>(static_cast<size_t>(n)), std::vector<int32_t>(static_cast<size_t>(n))};
    rank_metric(r.values, r.order, r.rank, n);
    return r;
}

// The exchange procedure decides where equal values land; these orders were
// traced by hand through its (i, j) steps.
TEST(TrialRanking, EqualValuesLandWhereTheExchangeProcedurePutsThem) {
    Ranked a = rank({1, 1, 2});   // only (0,2) exchanges: trial 0 is carried past trial 1
    EXPECT_EQ(a.order, (std::vector<int32_t>{2, 1, 0}));
    EXPECT_EQ(a.rank, (std::vector<int32_t>{2, 1, 0}));
    EXPECT_EQ(a.values, (std::vector<float>{2, 1, 1}));

    Ranked b = rank({5, 3, 4, 3, 6});
    EXPECT_EQ(b.order, (std::vector<int32_t>{4, 0, 2, 3, 1}));
    EXPECT_EQ(b.rank, (std::vector<int32_t>{1, 4, 2, 3, 0}));
    EXPECT_EQ(b.values, (std::vector<float>{6, 5, 4, 3, 3}));

    Ranked c = rank({1, 2, 2});
    EXPECT_EQ(c.order, (std::vector<int32_t>{1, 2, 0}));
    EXPECT_EQ(c.rank, (std::vector<int32_t>{2, 0, 1}));
}

// A NaN compares unordered with everything, so every pair holding one is
// exchanged: {1, NaN, 3} goes (0,1) -> {NaN,1,3}, (0,2) -> {3,1,NaN}, (1,2) -> {3,NaN,1}.
TEST(TrialRanking, PairsWithANanAreAlwaysExchanged) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Ranked a = rank({1, nan, 3});
    EXPECT_EQ(a.order, (std::vector<int32_t>{2, 1, 0}));
    EXPECT_EQ(a.rank, (std::vector<int32_t>{2, 1, 0}));
    EXPECT_EQ(a.values[0], 3.0f);
    EXPECT_TRUE(std::isnan(a.values[1]));
    EXPECT_EQ(a.values[2], 1.0f);
    EXPECT_EQ(rank({2, nan}).order, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(rank({nan, 2}).order, (std::vector<int32_t>{1, 0}));
}

// Many trials, with and without ties: the list is descending, the order a
// permutation, the rank its inverse, and V[R[t]] gives back each trial's value.
TEST(TrialRanking, RankIsTheInverseOfADescendingOrder) {
    std::mt19937 gen(7);
    for (const int levels : {5, 1000000}) {
        std::vector<float> original(300);
        for (float& v : original) v = static_cast<float>(std::uniform_int_distribution<int>(0, levels - 1)(gen)) * 0.25f;
        Ranked r = rank(original);
        std::vector<int32_t> seen(original.size(), 0);
        for (size_t p = 0; p < original.size(); ++p) {
            if (p + 1 < original.size()) {
                EXPECT_GE(r.values[p], r.values[p + 1]);
            }
            ++seen[static_cast<size_t>(r.order[p])];
            EXPECT_EQ(r.rank[static_cast<size_t>(r.order[p])], static_cast<int32_t>(p));
            EXPECT_EQ(r.values[p], original[static_cast<size_t>(r.order[p])]);
        }
        for (size_t t = 0; t < original.size(); ++t) {
            EXPECT_EQ(seen[t], 1);
            EXPECT_EQ(r.values[static_cast<size_t>(r.rank[t])], original[t]);
        }
    }
}

TrialTable three_trials() {
    TrialTable table;
    allocate_trial_table(table, 3);
    table.count = 3;
    table.sort_peak_accel = {1.5f, 2.25f, 0.5f};
    table.sort_peak_velocity = {3.0f, 3.0f, 3.0f};
    table.sort_peak_displacement = {1.234e-4f, 12345678.0f, 0.5f};
    table.sort_total_error = {0.25f, 0.125f, 0.75f};
    table.sort_max_error = {0.07f, 0.03f, 0.5f};
    return table;
}

// The expected text is written out by hand from the record formats: header,
// then "trial value" largest first; three decimals except the displacement
// section, which keeps four significant digits.
TEST(TrialRanking, RankFileListsEveryMetricLargestFirst) {
    TempDir dir;
    TrialTable table = three_trials();
    rank_trials(table);
    write_rank_file(table, OutputNames{});
    EXPECT_EQ(read_file("rank_d.out"),
              "\n\n accel \n"
              "1        2.250 \n"
              "0        1.500 \n"
              "2        0.500 \n"
              "\n\n vel \n"
              "0        3.000 \n"
              "1        3.000 \n"
              "2        3.000 \n"
              "\n\n disp \n"
              "1      1.235e+07 \n"
              "2            0.5 \n"
              "0      0.0001234 \n"
              "\n\n error \n"
              "2        0.750 \n"
              "0        0.250 \n"
              "1        0.125 \n"
              "\n\n irror \n"
              "2        0.500 \n"
              "0        0.070 \n"
              "1        0.030 \n");
    // Each metric on its own: trial 1 is first for acceleration and
    // displacement but last for both errors.
    EXPECT_EQ(table.rank_peak_accel, (std::vector<int32_t>{1, 0, 2}));
    EXPECT_EQ(table.rank_peak_displacement, (std::vector<int32_t>{2, 0, 1}));
    EXPECT_EQ(table.rank_total_error, (std::vector<int32_t>{1, 2, 0}));
    EXPECT_EQ(table.rank_max_error, (std::vector<int32_t>{1, 2, 0}));

    // One trial, or none: every header is still written.
    TrialTable one = three_trials();
    one.count = 1;
    rank_trials(one);
    write_rank_file(one, OutputNames{});
    EXPECT_EQ(read_file("rank_d.out"),
              "\n\n accel \n0        1.500 \n\n\n vel \n0        3.000 \n\n\n disp \n0      0.0001234 \n"
              "\n\n error \n0        0.250 \n\n\n irror \n0        0.070 \n");
    TrialTable none = three_trials();
    none.count = 0;
    rank_trials(none);
    write_rank_file(none, OutputNames{});
    EXPECT_EQ(read_file("rank_d.out"), "\n\n accel \n\n\n vel \n\n\n disp \n\n\n error \n\n\n irror \n");
}

}  // namespace
}  // namespace quorel
