#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error.hpp"
#include "check/request.hpp"

namespace quorel {
namespace {

TEST(CheckRecords, PretriggerMeanIsTheMeanOfTheFirstSeconds) {
    // k / rate < 0.05 sec at 100 samples/sec: samples 0..4.
    EXPECT_EQ(pretrigger_samples(0.05, 100.0), 5);
    EXPECT_EQ(pretrigger_samples(0.051, 100.0), 6);
    std::vector<double> a{1.0, 2.0, 0.0, 1.0, 1.5, 9.0, -4.0};
    EXPECT_DOUBLE_EQ(remove_mean(a, 5), 1.1);
    EXPECT_DOUBLE_EQ(a[5], 7.9);
    EXPECT_NEAR(remove_mean(a, 100), 2.8 / 7.0, 1e-15);   // the whole record
}

TEST(CheckRecords, AGridFrequencyAboveAQuarterOfTheRateIsNamed) {
    CheckGrid grid;
    grid.freq = {10.0f, 120.0f, 250.0f};
    // Above a tenth (100 Hz) from 120 Hz: peaks between samples may be missed.
    EXPECT_EQ(check_grid_rate(grid, 1000.0, "a.csv"), 120.0);
    grid.freq.push_back(260.0f);
    try {
        check_grid_rate(grid, 1000.0, "a.csv");
        ADD_FAILURE() << "260 Hz at 1000 samples/sec accepted";
    } catch (const QuorelError& error) {
        EXPECT_NE(std::string(error.what()).find("a.csv: grid frequency 260 Hz is above a quarter of its sample rate"),
                  std::string::npos)
            << error.what();
    }
}

}  // namespace
}  // namespace quorel
