#include "optimal/least_peaks.hpp"

namespace quorel {

PeakTriple least_peaks(const FeasibilityBounds& bounds) {
    return {bounds.acceleration.value, bounds.velocity.value, bounds.displacement.value};
}

PeakTriple least_peak_ratios(const FeasibilityBounds& bounds, const PeakTriple& peaks) {
    const BoundRatios r = bound_ratios(bounds, peaks.acceleration, peaks.velocity, peaks.displacement);
    return {r.acceleration, r.velocity, r.displacement};
}

}  // namespace quorel
