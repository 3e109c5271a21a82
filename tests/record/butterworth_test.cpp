// The Butterworth filters against the closed form of their magnitude,
//   |H(f)|^2 = 1 / (1 + (tan(pi f / fs) / tan(pi fc / fs))^(+-2N)),
// both as designed (the sections' response evaluated on the unit circle) and
// as run (the attenuation of a pure tone, forward and backward: |H|^2).
#include "record/butterworth.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace quorel {
namespace {

constexpr double pi = 3.14159265358979323846;

double analytic_power(FilterKind kind, int order, double f, double fc, double fs) {
    const double r = std::tan(pi * f / fs) / std::tan(pi * fc / fs);
    return 1.0 / (1.0 + std::pow(kind == FilterKind::lowpass ? r : 1.0 / r, 2 * order));
}

double designed_power(const ButterworthFilter& filter, double f, double fs) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * pi * f / fs);   // 1/z
    std::complex<double> h = 1.0;
    for (const Biquad& s : filter.sections) {
        h *= (s.b0 + s.b1 * z1 + s.b2 * z1 * z1) / (1.0 + s.a1 * z1 + s.a2 * z1 * z1);
    }
    return std::norm(h);
}

// The amplitude of the tone at f in the middle half of y, by least squares on
// cos and sin (exact for a tone of that frequency).
double middle_amplitude(const std::vector<double>& y, double f, double fs) {
    const size_t n = y.size();
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (size_t k = n / 4; k < 3 * n / 4; ++k) {
        const double c = std::cos(2 * pi * f * k / fs), s = std::sin(2 * pi * f * k / fs);
        cc += c * c, ss += s * s, cs += c * s, yc += y[k] * c, ys += y[k] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
    return std::hypot(a, b);
}

std::vector<double> tone(double f, double fs, double seconds) {
    std::vector<double> y(static_cast<size_t>(seconds * fs));
    for (size_t k = 0; k < y.size(); ++k) y[k] = std::sin(2 * pi * f * k / fs + 0.3);
    return y;
}

TEST(Butterworth, DesignedMagnitudeIsTheClosedForm) {
    const double fs = 10000.0;
    for (const FilterKind kind : {FilterKind::lowpass, FilterKind::highpass}) {
        for (int order = 1; order <= 10; ++order) {
            for (const double fc : {5.0, 100.0, 2000.0, 4500.0}) {
                const ButterworthFilter filter = design_butterworth(kind, order, fc, fs);
                EXPECT_EQ(filter.sections.size(), static_cast<size_t>((order + 1) / 2));
                for (const double ratio : {0.1, 0.5, 0.9, 1.0, 1.1, 2.0}) {
                    const double f = fc * ratio;
                    if (f >= fs / 2) continue;
                    // Poles near z = 1 (a corner far below the rate) cost some digits.
                    EXPECT_NEAR(designed_power(filter, f, fs) / analytic_power(kind, order, f, fc, fs), 1.0, 1e-7)
                        << order << " " << fc << " " << f;
                }
            }
        }
    }
}

// Forward and backward, a tone at the corner keeps half its power: -6.02 dB.
TEST(Butterworth, ATonesAttenuationForwardAndBackward) {
    const double fs = 10000.0, fc = 200.0;
    for (const FilterKind kind : {FilterKind::lowpass, FilterKind::highpass}) {
        for (const int order : {1, 2, 4, 5}) {
            SCOPED_TRACE(order);
            const ButterworthFilter filter = design_butterworth(kind, order, fc, fs);
            for (const double f : {fc, 0.5 * fc, 1.5 * fc, 3.0 * fc}) {
                std::vector<double> y = tone(f, fs, 2.0);
                filter_zero_phase(filter, y);
                const double gain_db = 20.0 * std::log10(middle_amplitude(y, f, fs));
                // Two passes: the amplitude is scaled by |H|^2.
                EXPECT_NEAR(gain_db, 20.0 * std::log10(analytic_power(kind, order, f, fc, fs)), 1e-3) << f;
                if (f == fc) {
                    EXPECT_NEAR(gain_db, -6.0206, 1e-3);
                }
            }
        }
    }
}

// Zero phase: a symmetric pulse stays symmetric about its own middle; and a
// constant passes the low-pass whole and the high-pass not at all, from the
// first sample on.
TEST(Butterworth, ZeroPhaseAndNoStartUpTransient) {
    const double fs = 1000.0;
    // (Far from the ends, where the passes start and stop.)
    std::vector<double> pulse(2001, 0.0);
    for (int k = -30; k <= 30; ++k) pulse[1000 + k] = std::cos(pi * k / 60.0);
    filter_zero_phase(design_butterworth(FilterKind::lowpass, 4, 20.0, fs), pulse);
    for (int k = 1; k <= 200; ++k) EXPECT_NEAR(pulse[1000 - k], pulse[1000 + k], 1e-12) << k;

    std::vector<double> constant(300, 2.5);
    filter_zero_phase(design_butterworth(FilterKind::lowpass, 5, 20.0, fs), constant);
    for (const double v : constant) EXPECT_NEAR(v, 2.5, 1e-12);
    std::vector<double> offset(300, 2.5);
    filter_zero_phase(design_butterworth(FilterKind::highpass, 4, 20.0, fs), offset);
    for (const double v : offset) EXPECT_NEAR(v, 0.0, 1e-12);
}

}  // namespace
}  // namespace quorel
