#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error.hpp"
#include "check/request.hpp"

namespace quorel {
namespace {

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
