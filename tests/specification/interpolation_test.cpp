#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "specification/interpolation.hpp"

namespace quorel {
namespace {

TEST(Interpolation, SpecificationIsLogLogBetweenItsPoints) {
    // Constant slope 1 in log-log: 10 G at 100 Hz to 40 G at 400 Hz gives 20 G
    // at 200 Hz.
    const std::vector<SpecPoint> ramp{{100.0, 10.0}, {400.0, 40.0}};
    EXPECT_NEAR(*spec_at(ramp, 200.0), 20.0, 1e-12);
    // Between 10 Hz 9.4 G and 80 Hz 75 G the specification is the power law
    // a = 9.4 (f/10)^s, s = ln(75/9.4) / ln 8.
    const std::vector<SpecPoint> functional{{10.0, 9.4}, {80.0, 75.0}, {2000.0, 75.0}};
    const double s = std::log(75.0 / 9.4) / std::log(8.0);
    for (const double f : {12.599, 31.748, 63.496}) EXPECT_NEAR(*spec_at(functional, f), 9.4 * std::pow(f / 10.0, s), 1e-12 * 75);
    EXPECT_EQ(*spec_at(functional, 80.0), 75.0);
    EXPECT_NEAR(*spec_at(functional, 640.0), 75.0, 1e-12);

    // An SRS file prints 3 decimals: frequencies that close beyond an end take
    // the end value; further out there is none.
    EXPECT_EQ(*spec_at(functional, 10.0 * (1.0 - 5e-5)), 9.4);
    EXPECT_EQ(*spec_at(functional, 2000.0 * (1.0 + 5e-5)), 75.0);
    EXPECT_EQ(*spec_at({{0.1234567, 1.0}, {1.0, 2.0}}, 0.123), 1.0);
    EXPECT_FALSE(spec_at(functional, 10.0 * (1.0 - 1e-3)));
    EXPECT_FALSE(spec_at(functional, 2001.0));
}

}  // namespace
}  // namespace quorel
