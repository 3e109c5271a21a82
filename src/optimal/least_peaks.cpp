#include "optimal/least_peaks.hpp"

namespace quorel {

PeakTriple least_peaks(const FeasibilityBounds& bounds, const BoundedSpectrum& spectrum, double velocity) {
    double displacement = displacement_bound(spectrum, bounds.duration, velocity).value;
    if (!(displacement > 0.0)) displacement = displacement_bound(spectrum, bounds.duration, 0.0).value;
    return {bounds.acceleration.value, bounds.velocity.value, displacement};
}

BoundRatios least_peak_ratios(const FeasibilityBounds& bounds, const BoundedSpectrum& spectrum, const PeakTriple& peaks) {
    return bound_ratios(bounds, spectrum, peaks.acceleration, peaks.velocity, peaks.displacement);
}

}  // namespace quorel
