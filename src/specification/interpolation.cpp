#include "specification/interpolation.hpp"

#include <algorithm>
#include <cmath>

namespace quorel {

std::optional<double> spec_at(const std::vector<SpecPoint>& spec, double f) {
    if (spec.empty() || !std::isfinite(f)) return std::nullopt;
    const SpecPoint& first = spec.front();
    const SpecPoint& last = spec.back();
    auto near = [](double end, double g) { return std::fabs(g - end) <= std::max(1e-4 * end, 5e-4); };
    if (f <= first.freq) return near(first.freq, f) ? std::optional<double>(first.accel) : std::nullopt;
    if (f >= last.freq) return near(last.freq, f) ? std::optional<double>(last.accel) : std::nullopt;

    // First point at or above f; first.freq < f < last.freq, so k >= 1.
    const auto above = std::lower_bound(spec.begin(), spec.end(), f,
                                        [](const SpecPoint& p, double g) { return p.freq < g; });
    if (above->freq == f) return above->accel;
    const SpecPoint& a = *(above - 1);
    const SpecPoint& b = *above;
    const double x = (std::log10(f) - std::log10(a.freq)) / (std::log10(b.freq) - std::log10(a.freq));
    return std::pow(10.0, std::log10(a.accel) + x * (std::log10(b.accel) - std::log10(a.accel)));
}

}  // namespace quorel
