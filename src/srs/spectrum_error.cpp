#include "srs/spectrum_error.hpp"

#include <cmath>
#include <span>

#include "base/format.hpp"

namespace quorel {

SpectrumError spectrum_error(const SrsResult& srs, const SrsSpec& spec) {
    SpectrumError e;
    for (int32_t j = 0; j < spec.count; ++j) {
        const double target = spec.accel[j];
        const double ep = std::fabs(std::log10(static_cast<double>(srs.xmax[j]) / target));
        const float en = static_cast<float>(std::fabs(std::log10(static_cast<double>(srs.xmin[j]) / target)));
        e.total_error = static_cast<float>((static_cast<double>(e.total_error) + ep) + en);
        if (ep > e.max_error) e.max_error = static_cast<float>(ep);
        if (en > e.max_error) e.max_error = en;
    }
    return e;
}

SrsComparison compare_with_spec(const SrsResult& srs, const SrsSpec& spec, GridComparison& c) {
    const size_t n = static_cast<size_t>(spec.count);
    for (size_t j = 0; j < n; ++j) {
        c.freq[j] = spec.freq[j];
        c.spec[j] = spec.accel[j];
        c.positive[j] = srs.xmax[j];
        c.negative[j] = srs.xmin[j];
    }
    return {std::span(c.freq.data(), n), std::span(c.spec.data(), n), std::span(c.positive.data(), n),
            std::span(c.negative.data(), n)};
}

std::string low_spec_warnings(const SrsSpec& spec) {
    std::string text;
    for (int32_t j = 0; j < spec.count; ++j) {
        if (spec.accel[j] < 1e-20) {
            text += format("\n spec error. %ld %12.6e \n", static_cast<long>(j), static_cast<double>(spec.accel[j]));
        }
    }
    return text;
}

}  // namespace quorel
