#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "srs/spectrum_error.hpp"

namespace quorel {
namespace {

struct Case {
    SrsSpec spec;
    SrsResult srs;
};

Case make_case(const std::vector<float>& spec, const std::vector<float>& xmax, const std::vector<float>& xmin) {
    Case c;
    c.spec.count = static_cast<int32_t>(spec.size());
    for (size_t j = 0; j < spec.size(); ++j) {
        c.spec.freq[j] = 10.0f * static_cast<float>(j + 1);
        c.spec.accel[j] = spec[j];
        c.srs.xmax[j] = xmax[j];
        c.srs.xmin[j] = xmin[j];
    }
    return c;
}

// Twice the specification and half of it weigh the same, |log10 2|; the
// positive and the negative peak count separately in the total.
TEST(SpectrumError, ThreeFrequencyExample) {
    const Case c = make_case({1.0f, 1.0f, 1.0f}, {2.0f, 1.0f, 1.0f}, {1.0f, 1.0f, 0.5f});
    const SpectrumError e = spectrum_error(c.srs, c.spec);
    const float log2 = static_cast<float>(std::log10(2.0));
    EXPECT_EQ(e.max_error, log2);
    EXPECT_FLOAT_EQ(e.total_error, 2.0f * log2);
    EXPECT_NEAR(20.0 * e.max_error, 6.0206, 1e-4);   // dB
}

TEST(SpectrumError, BothPolaritiesOffAtOneFrequency) {
    const Case c = make_case({3.0f, 8.0f}, {3.0f, 16.0f}, {3.0f, 4.0f});
    const SpectrumError e = spectrum_error(c.srs, c.spec);
    EXPECT_FLOAT_EQ(e.max_error, std::log10(2.0f));
    EXPECT_FLOAT_EQ(e.total_error, 2.0f * std::log10(2.0f));

    // The largest single deviation, whichever polarity and frequency has it.
    const Case d = make_case({1.0f, 5.0f, 2.0f}, {1.1f, 5.0f, 2.0f}, {1.0f, 0.05f, 2.5f});
    const SpectrumError f = spectrum_error(d.srs, d.spec);
    EXPECT_FLOAT_EQ(f.max_error, 2.0f);
    EXPECT_FLOAT_EQ(f.total_error, static_cast<float>(std::log10(1.1) + 2.0 + std::log10(1.25)));
}

TEST(SpectrumError, ExactMatchGivesZero) {
    const std::vector<float> values = {0.37f, 12.5f, 1.0e4f, 3.0e-5f};
    const Case c = make_case(values, values, values);
    const SpectrumError e = spectrum_error(c.srs, c.spec);
    EXPECT_EQ(e.max_error, 0.0f);
    EXPECT_EQ(e.total_error, 0.0f);
}

// A zero specification value makes both figures infinite and draws one warning
// per offending frequency; a negative one gives a deviation that is not a
// number, which reaches the total but never the maximum.
TEST(SpectrumError, BadSpecificationValues) {
    const Case zero = make_case({1.0f, 0.0f, 2.0f, 0.0f}, {2.0f, 1.0f, 2.0f, 1.0f}, {1.0f, 1.0f, 2.0f, 1.0f});
    const SpectrumError e = spectrum_error(zero.srs, zero.spec);
    EXPECT_EQ(e.max_error, std::numeric_limits<float>::infinity());
    EXPECT_EQ(e.total_error, std::numeric_limits<float>::infinity());
    EXPECT_EQ(low_spec_warnings(zero.spec), "\n spec error. 1 0.000000e+00 \n\n spec error. 3 0.000000e+00 \n");

    const Case negative = make_case({1.0f, -1.0f}, {2.0f, 1.0f}, {1.0f, 1.0f});
    const SpectrumError n = spectrum_error(negative.srs, negative.spec);
    EXPECT_TRUE(std::isnan(n.total_error));
    EXPECT_EQ(n.max_error, static_cast<float>(std::log10(2.0)));
    EXPECT_EQ(low_spec_warnings(negative.spec), "\n spec error. 1 -1.000000e+00 \n");

    EXPECT_EQ(low_spec_warnings(make_case({1e-20f * 1.5f, 5.0f}, {1.0f, 1.0f}, {1.0f, 1.0f}).spec), "");
}

}  // namespace
}  // namespace quorel
