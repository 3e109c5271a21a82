#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "support/test_support.hpp"
#include "wavelet/kinematics.hpp"
#include "wavelet/scaling.hpp"

namespace quorel {
namespace {

using testing::integration_relative_tolerance;

struct Scaling {
    SrsSpec spec;
    SrsResult srs;
    std::vector<float> amplitudes = std::vector<float>(max_frequencies, 7.0f);

    Scaling(const std::vector<float>& target, const std::vector<float>& xmax, const std::vector<float>& xmin) {
        spec.count = static_cast<int32_t>(target.size());
        for (size_t i = 0; i < target.size(); ++i) {
            spec.freq[i] = 100.0f * static_cast<float>(i + 1);
            spec.accel[i] = target[i];
            srs.xmax[i] = xmax[i];
            srs.xmin[i] = xmin[i];
        }
    }
    std::string failure(double exponent) {
        try {
            scale_amplitudes(srs, spec, exponent, amplitudes.data());
        } catch (const QuorelError& error) {
            return error.what();
        }
        return "";
    }
};

// With e = 0.5 half of the logarithmic gap closes per step: an SRS four times
// the specification halves the amplitude, a quarter of it doubles it, a match
// leaves it alone.  The SRS level is the mean of the two peak magnitudes, and
// the polarity of a wavelet never changes.
TEST(AmplitudeScaling, CloseHalfTheGapAtExponentOneHalf) {
    Scaling s({5.0f, 5.0f, 5.0f, 2.0f, 3.0f}, {5.0f, 20.0f, 1.25f, 6.0f, 3.0f}, {5.0f, 20.0f, 1.25f, 10.0f, 3.0f});
    s.amplitudes[1] = -7.0f;
    s.amplitudes[2] = -0.5f;
    EXPECT_EQ(s.failure(0.5), "");
    EXPECT_EQ(s.amplitudes[0], 7.0f);
    EXPECT_EQ(s.amplitudes[1], -3.5f);
    EXPECT_EQ(s.amplitudes[2], -1.0f);
    EXPECT_EQ(s.amplitudes[3], 3.5f);   // mean of 6 and 10 is 8 = 4 x 2
    EXPECT_EQ(s.amplitudes[4], 7.0f);
    for (int32_t i = 5; i < max_frequencies; ++i) EXPECT_EQ(s.amplitudes[i], 7.0f) << i;

    // Another exponent closes another fraction: 0.4 of a factor 2^5 gap is 2^2.
    Scaling t({1.0f}, {32.0f}, {32.0f});
    EXPECT_EQ(t.failure(0.4), "");
    EXPECT_FLOAT_EQ(t.amplitudes[0], 7.0f / 4.0f);
}

TEST(AmplitudeScaling, RefusesFactorsOutOfRange) {
    // No response at wavelet 1 (the factor is infinite); wavelet 0 has already
    // been scaled when the run stops.
    Scaling silent({5.0f, 2.0f}, {20.0f, 0.0f}, {20.0f, 0.0f});
    EXPECT_EQ(silent.failure(0.5), "\n scale error: i=1  ss=     inf  ave=       0  spec=       2\n");
    EXPECT_EQ(silent.amplitudes[0], 3.5f);
    EXPECT_EQ(silent.amplitudes[1], 7.0f);

    Scaling zero({0.0f}, {4.0f}, {4.0f});
    EXPECT_EQ(zero.failure(0.5), "\n scale error: i=0  ss=       0  ave=       4  spec=       0\n");

    // A negative specification value gives a factor that is not a number.
    Scaling negative({-4.0f}, {1.0f}, {1.0f});
    const std::string message = negative.failure(0.5);
    EXPECT_EQ(message.substr(0, 27), "\n scale error: i=0  ss=    ");
    EXPECT_NE(message.find("nan  ave=       1  spec=      -4\n"), std::string::npos) << message;

    // 1e-21 of the SRS at e = 1: a factor below 1e-20.
    Scaling tiny({1e-21f}, {1.0f}, {1.0f});
    EXPECT_NE(tiny.failure(1.0), "");
}

struct Kinematics {
    RunSettings settings;
    TimeHistory history;

    Kinematics(int32_t nt, int32_t units) {
        settings.sample_rate = 1000.0f;
        settings.dt = static_cast<float>(1.0 / 1000.0);
        settings.half_dt = static_cast<float>(settings.dt * 0.5);
        settings.units = static_cast<UnitSystem>(units);
        settings.nt = nt;
        allocate_history(history, nt);
    }
    double dt() const { return settings.dt; }
};

// A single non-zero last sample carries the full step dt (only the first
// sample and the appended zero carry dt/2).
TEST(PeakKinematics, LastSampleCarriesFullStep) {
    Kinematics k(50, 3);
    k.history.samples[49] = -4.0f;
    peak_kinematics(k.settings, k.history);
    EXPECT_EQ(k.history.peak_accel, 4.0f);
    EXPECT_EQ(k.history.peak_velocity, static_cast<float>(4.0 * k.dt()));
    // D = dt v_49 + dt/2 v_50, v_49 = v_50 = -4 dt; in mm.
    EXPECT_FLOAT_EQ(k.history.peak_displacement, static_cast<float>(1.5 * 4.0 * k.dt() * k.dt() * 1000.0));
}

// A single non-zero first sample: the velocity steps to A dt/2 and stays; the
// displacement grows by the whole record, A dt^2 nt / 2.
TEST(PeakKinematics, FirstSampleCarriesHalfStep) {
    Kinematics k(80, 3);
    k.history.samples[0] = 2.5f;
    peak_kinematics(k.settings, k.history);
    const float v = static_cast<float>(2.5 * k.dt() / 2.0);
    for (int32_t j = 0; j <= 80; ++j) EXPECT_EQ(k.history.velocity[j], v) << j;
    EXPECT_EQ(k.history.peak_velocity, v);
    EXPECT_FLOAT_EQ(k.history.peak_displacement, static_cast<float>(2.5 * k.dt() * k.dt() * 80 / 2.0 * 1000.0));

    Kinematics one(1, 3);
    one.history.samples[0] = -2.0f;
    peak_kinematics(one.settings, one.history);
    EXPECT_EQ(one.history.velocity[0], static_cast<float>(-2.0 * one.dt() / 2.0));
    EXPECT_EQ(one.history.velocity[1], one.history.velocity[0]);
    EXPECT_EQ(one.history.peak_velocity, static_cast<float>(2.0 * one.dt() / 2.0));
    EXPECT_FLOAT_EQ(one.history.peak_displacement, static_cast<float>(2.0 * one.dt() * one.dt() / 2.0 * 1000.0));
}

// A 1 G, 50 ms half-sine in a 200 ms record: velocity change 2 A T / pi, then
// constant; the displacement grows at that speed until the record ends.  The
// running sums give each newest sample its full step, so the velocity leads the
// continuous one by a dt/2 during the pulse: the displacement gains
// (2 A T / pi) dt / 2.
TEST(PeakKinematics, HalfSinePulse) {
    Kinematics k(200, 3);
    const double pulse = 0.05;
    for (int32_t j = 0; j <= 50; ++j) k.history.samples[j] = static_cast<float>(std::sin(M_PI * j / 50.0));
    peak_kinematics(k.settings, k.history);
    const double dv = 2.0 * pulse / M_PI;
    EXPECT_NEAR(k.history.peak_velocity, dv, integration_relative_tolerance * dv);
    const double d = (pulse * pulse / M_PI + (0.2 - pulse) * dv + dv * k.dt() / 2.0) * 1000.0;   // mm
    EXPECT_NEAR(k.history.peak_displacement, d, integration_relative_tolerance * d);
}

// Velocity and displacement are converted to the reporting units; the
// acceleration keeps the unit of the specification.
TEST(PeakKinematics, UnitConversions) {
    struct Case {
        int32_t units;
        double velocity, displacement;
    };
    Kinematics base(300, 3);
    for (int32_t j = 0; j < 300; ++j) base.history.samples[j] = static_cast<float>(-3.0 * std::sin(0.05 * j));
    peak_kinematics(base.settings, base.history);
    const float v = base.history.peak_velocity;
    const float d = base.history.peak_displacement / 1000.0f;
    for (const Case c : {Case{1, 386.0, 386.0}, Case{2, 9.81, 9810.0}, Case{3, 1.0, 1000.0}}) {
        Kinematics k(300, c.units);
        k.history.samples = base.history.samples;
        peak_kinematics(k.settings, k.history);
        EXPECT_EQ(k.history.peak_accel, base.history.peak_accel) << c.units;
        EXPECT_FLOAT_EQ(k.history.peak_velocity, static_cast<float>(v * c.velocity)) << c.units;
        EXPECT_FLOAT_EQ(k.history.peak_displacement, static_cast<float>(d * c.displacement)) << c.units;
    }
    float largest = 0.0f;
    for (int32_t j = 0; j < 300; ++j) largest = std::max(largest, std::fabs(base.history.samples[j]));
    EXPECT_EQ(base.history.peak_accel, largest);
}

}  // namespace
}  // namespace quorel
