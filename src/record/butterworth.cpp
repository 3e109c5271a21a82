#include "record/butterworth.hpp"

#include <algorithm>
#include <cmath>

#include "base/numeric.hpp"

namespace quorel {

ButterworthFilter design_butterworth(FilterKind kind, int32_t order, double corner, double sample_rate) {
    // Prewarping: the analog corner 1 maps to the digital corner through
    // s = (1/K) (1 - 1/z) / (1 + 1/z), K = tan(pi fc / fs).
    const double k = std::tan(0.5 * two_pi() * corner / sample_rate);
    const double kk = k * k;
    const bool low = kind == FilterKind::lowpass;
    ButterworthFilter filter;
    // The prototype's poles in conjugate pairs, s^2 + c s + 1 with
    // c = 2 sin((2m - 1) pi / (2N)), m = 1 .. N/2.  Over the denominator
    // (1 - 1/z)^2 + c K (1 - 1/z^2) + K^2 (1 + 1/z)^2 the low-pass numerator
    // is K^2 (1 + 1/z)^2 and the high-pass one (1 - 1/z)^2.
    for (int32_t m = 1; m <= order / 2; ++m) {
        const double c = 2.0 * std::sin(0.25 * two_pi() * (2.0 * m - 1.0) / order);
        const double a0 = 1.0 + c * k + kk;
        Biquad s;
        s.a1 = 2.0 * (kk - 1.0) / a0;
        s.a2 = (1.0 - c * k + kk) / a0;
        if (low) {
            s.b0 = kk / a0;
            s.b1 = 2.0 * kk / a0;
            s.b2 = kk / a0;
        } else {
            s.b0 = 1.0 / a0;
            s.b1 = -2.0 / a0;
            s.b2 = 1.0 / a0;
        }
        filter.sections.push_back(s);
    }
    // Odd order: the real pole, s + 1, over (1 - 1/z) + K (1 + 1/z).
    if (order % 2 == 1) {
        const double a0 = 1.0 + k;
        Biquad s;
        s.a1 = (k - 1.0) / a0;
        s.b0 = (low ? k : 1.0) / a0;
        s.b1 = (low ? k : -1.0) / a0;
        filter.sections.push_back(s);
    }
    return filter;
}

void filter_forward(const ButterworthFilter& filter, std::span<double> samples) {
    if (samples.empty()) return;
    for (const Biquad& s : filter.sections) {
        // The steady state of a constant input u: the output g u with g the
        // section's gain at z = 1, and the states that hold it.
        const double u = samples.front();
        const double g = (s.b0 + s.b1 + s.b2) / (1.0 + s.a1 + s.a2);
        const double y0 = g * u;
        double z2 = s.b2 * u - s.a2 * y0;
        double z1 = s.b1 * u - s.a1 * y0 + z2;
        for (double& x : samples) {
            const double in = x;
            const double y = s.b0 * in + z1;
            z1 = s.b1 * in - s.a1 * y + z2;
            z2 = s.b2 * in - s.a2 * y;
            x = y;
        }
    }
}

void filter_zero_phase(const ButterworthFilter& filter, std::span<double> samples) {
    filter_forward(filter, samples);
    std::reverse(samples.begin(), samples.end());
    filter_forward(filter, samples);
    std::reverse(samples.begin(), samples.end());
}

}  // namespace quorel
