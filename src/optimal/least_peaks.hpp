#pragma once
// The optimal drive's view of the least-peak bounds (report/bounds.hpp): the
// peaks that normalise its objective and against which its peaks are
// reported.  The one place that reads FeasibilityBounds here.
#include "report/bounds.hpp"

namespace quorel {

// Acceleration, velocity and displacement in the run's reporting units.
struct PeakTriple {
    double acceleration = 0.0, velocity = 0.0, displacement = 0.0;
};

// The least peaks any drive of the run's duration needs.
PeakTriple least_peaks(const FeasibilityBounds& bounds);

// peaks / least peaks, each.
PeakTriple least_peak_ratios(const FeasibilityBounds& bounds, const PeakTriple& peaks);

}  // namespace quorel
