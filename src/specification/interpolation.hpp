#pragma once
// The specification between its points: straight lines in log-log
// coordinates, in double precision, for any frequency of an SRS.  (The
// synthesis's octave grid keeps its own float-rounded steps, see resample.hpp:
// its values are the grid's definition and stay bit for bit as they are.)
#include <optional>
#include <vector>

namespace quorel {

// One point of the specification: natural frequency (Hz), peak acceleration.
struct SpecPoint {
    double freq = 0.0;
    double accel = 0.0;
};

// The specification at frequency f: a straight line in log10(f)-log10(a)
// between the two points that bracket f,
//   log10 a = log10 a_k + (log10 f - log10 f_k) (log10 a_k+1 - log10 a_k) / (log10 f_k+1 - log10 f_k).
// Frequencies within the printing precision of an SRS file beyond either end
// (relative 1e-4, or 5e-4 Hz for its three decimals) take the end value;
// further out there is no value.
std::optional<double> spec_at(const std::vector<SpecPoint>& spec, double f);

}  // namespace quorel
