#pragma once
// The optimal drive's view of the least-peak bounds (feasibility/bounds.hpp):
// the peaks that normalise its objective, and the ratios its peaks are
// reported with.  The one place that reads FeasibilityBounds here.
#include "feasibility/bounds.hpp"

namespace quorel {

// Acceleration, velocity and displacement in the run's reporting units.
struct PeakTriple {
    double acceleration = 0.0, velocity = 0.0, displacement = 0.0;
};

// The scales of the objective: the least acceleration and velocity any drive
// of the run's duration needs, and the least displacement of a drive whose
// peak velocity is `velocity` (the starting drive's).  Where the damper alone
// passes the SRS at that velocity (a bound of 0), the bound of a drive at rest
// velocity stands in: a scale, not a statement.
PeakTriple least_peaks(const FeasibilityBounds& bounds, const BoundedSpectrum& spectrum, double velocity);

// peaks / least peaks, the displacement's bound at the drive's own peak
// velocity (none where that bound is 0).
BoundRatios least_peak_ratios(const FeasibilityBounds& bounds, const BoundedSpectrum& spectrum, const PeakTriple& peaks);

}  // namespace quorel
