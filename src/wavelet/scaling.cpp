#include "wavelet/scaling.hpp"

#include <cmath>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

void scale_amplitudes(const SrsResult& srs, const SrsSpec& spec, double exponent, float* amplitudes) {
    for (int32_t i = 0; i < spec.count; ++i) {
        const float ave = static_cast<float>(
            (std::fabs(static_cast<double>(srs.xmin[i])) + std::fabs(static_cast<double>(srs.xmax[i]))) * 0.5);
        const float target = spec.accel[i];
        const double ss = std::pow(static_cast<double>(target) / ave, exponent);
        if (ss < 1e-20 || ss > 1e20 || std::isnan(ss)) {
            throw QuorelError(format("\n scale error: i=%ld  ss=%8.4g  ave=%8.4g  spec=%8.4g\n", static_cast<long>(i), ss,
                                     static_cast<double>(ave), static_cast<double>(target)),
                              SynthesisCheck::scale, i);
        }
        amplitudes[i] = static_cast<float>(amplitudes[i] * ss);
    }
}

}  // namespace quorel
