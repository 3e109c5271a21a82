#pragma once
// The optimal drive's representation: an acceleration linear between nodes
// every `spacing` samples (node n at sample n spacing), zero at the first and
// the last node and after it, so that it starts and ends with zero
// acceleration.  Its velocity and displacement are exact integrals of the
// piecewise-linear acceleration, on the nodes as on the samples.
#include <cstdint>
#include <span>
#include <vector>

#include "base/units.hpp"

namespace quorel {

struct NodeGrid {
    int32_t spacing = 1;   // samples between nodes, m
    int32_t nodes = 0;     // M: nodes 0..M-1, the last at sample (M-1) m <= samples - 1
    int32_t samples = 0;   // nt
};

// Every node that fits; throws QuorelError when fewer than 3 do (no free node).
NodeGrid node_grid(int32_t samples, int32_t spacing);

// The spacing for a grid whose top frequency is `top_frequency` Hz: 2.5 nodes
// per period of it, floor(sample_rate / (2.5 f)), at least 1.
int32_t default_node_spacing(double sample_rate, double top_frequency);

// The samples of the drive with node values `nodes` (M of them; the first and
// the last are taken as given, normally 0).
void drive_samples(const NodeGrid& grid, std::span<const double> nodes, std::span<double> samples);

// Velocity and displacement of a sampled acceleration that is linear between
// its samples, from rest at the first sample, exact to rounding:
//   v_k = v_(k-1) + dt (a_(k-1) + a_k) / 2
//   d_k = d_(k-1) + dt v_(k-1) + dt^2 (a_(k-1) / 3 + a_k / 6)
// in the reporting units of `units` (velocity x ReportingFactors::velocity,
// displacement x ReportingFactors::displacement), and the three peaks.
struct DriveMotion {
    std::vector<double> velocity, displacement;
    double peak_acceleration = 0.0, peak_velocity = 0.0, peak_displacement = 0.0;
};
template <typename Sample>
void drive_motion(std::span<const Sample> acceleration, double dt, UnitSystem units, DriveMotion& motion);

}  // namespace quorel
