#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/error.hpp"
#include "optimal/node_drive.hpp"
#include "optimal/tolerance.hpp"

namespace quorel {
namespace {

// The integrals of a linear acceleration are exact: a = c t gives
// v = c t^2 / 2 and d = c t^3 / 6, here in metric units (G to m/sec and mm).
TEST(DriveMotion, ExactForAnAccelerationLinearInTime) {
    const double dt = 1e-3, c = 50.0;
    std::vector<double> a(101);
    for (size_t k = 0; k < a.size(); ++k) a[k] = c * dt * static_cast<double>(k);
    DriveMotion motion;
    drive_motion(std::span<const double>(a), dt, UnitSystem::metric_g, motion);
    const double t = dt * 100.0;
    EXPECT_NEAR(motion.velocity.back(), 9.81 * c * t * t / 2.0, 1e-12);
    EXPECT_NEAR(motion.displacement.back(), 9810.0 * c * t * t * t / 6.0, 1e-9);
    EXPECT_DOUBLE_EQ(motion.peak_acceleration, c * t);
}

// A ramp up and down that ends with zero acceleration: the integrals of the
// triangle, 1/2 base x height for v, and the centroid moment for d.
TEST(DriveMotion, TriangleEndsWithItsArea) {
    const NodeGrid grid = node_grid(9, 4);
    ASSERT_EQ(grid.nodes, 3);
    std::vector<double> a(9);
    drive_samples(grid, std::vector<double>{0.0, 2.0, 0.0}, a);
    EXPECT_EQ(a, (std::vector<double>{0.0, 0.5, 1.0, 1.5, 2.0, 1.5, 1.0, 0.5, 0.0}));
    DriveMotion motion;
    drive_motion(std::span<const double>(a), 0.5, UnitSystem::metric_si, motion);
    // Base 4 sec, height 2: v = 4 m/sec; d(T) = area x (T - centroid) = 4 x 2 m.
    EXPECT_NEAR(motion.velocity.back(), 4.0, 1e-12);
    EXPECT_NEAR(motion.displacement.back(), 8000.0, 1e-9);
}

TEST(NodeGrid, NeedsAFreeNode) {
    EXPECT_EQ(node_grid(600, 4).nodes, 150);
    EXPECT_EQ(node_grid(601, 4).nodes, 151);
    EXPECT_THROW(node_grid(8, 4), QuorelError);
    EXPECT_EQ(default_node_spacing(100000.0, 10000.0), 4);
    EXPECT_EQ(default_node_spacing(1000.0, 400.0), 1);
}

TEST(Tolerance, TightestBandAtEachFrequency) {
    AcceptanceRules rules;
    rules.name = "rules.toml";
    rules.bands = {{-1.5, 3.0, 0.9, 0.0, 1000.0}, {-3.0, 2.0, 1.0, 500.0, 1e9}};
    const std::vector<float> freq{100.0f, 700.0f, 2000.0f};
    const std::vector<DbBand> bands = polarity_bands(freq, std::nullopt, &rules);
    EXPECT_EQ(bands[0].low_db, -1.5);
    EXPECT_EQ(bands[0].high_db, 3.0);
    EXPECT_EQ(bands[1].low_db, -1.5);
    EXPECT_EQ(bands[1].high_db, 2.0);
    EXPECT_EQ(bands[2].low_db, -3.0);
    // A tolerance given narrows them; the share at or above the specification lifts the lower edge.
    rules.above_nominal_share = 0.5;
    const std::vector<DbBand> narrowed = polarity_bands(freq, DbBand{-1.0, 1.0}, &rules);
    EXPECT_EQ(narrowed[2].low_db, 0.0);
    EXPECT_EQ(narrowed[2].high_db, 1.0);
    EXPECT_THROW(polarity_bands(freq, DbBand{-1.0, -0.5}, &rules), QuorelError);
    EXPECT_EQ(polarity_bands(freq, std::nullopt, nullptr)[1].high_db, 3.0);
}

TEST(Tolerance, ParsesLowColonHigh) {
    EXPECT_EQ(parse_tolerance("-1.5:3").low_db, -1.5);
    EXPECT_EQ(parse_tolerance("-1.5:3").high_db, 3.0);
    for (const char* bad : {"-1.5,3", "3:-1.5", "x:1", "-70:3", ":3"}) EXPECT_THROW(parse_tolerance(bad), QuorelError) << bad;
}

}  // namespace
}  // namespace quorel
