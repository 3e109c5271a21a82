#include "optimal/node_drive.hpp"

#include <algorithm>
#include <cmath>

#include "base/error.hpp"
#include "base/format.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace quorel {

NodeGrid node_grid(int32_t samples, int32_t spacing) {
    NodeGrid grid;
    grid.spacing = std::max(spacing, 1);
    grid.samples = samples;
    grid.nodes = samples > 0 ? (samples - 1) / grid.spacing + 1 : 0;
    if (grid.nodes < 3) {
        throw QuorelError(format("\n Error: %ld samples leave no free node for the optimal drive at a node every %ld "
                                 "samples \n",
                                 static_cast<long>(samples), static_cast<long>(grid.spacing)));
    }
    return grid;
}

int32_t default_node_spacing(double sample_rate, double top_frequency) {
    const double spacing = std::floor(sample_rate / (2.5 * top_frequency));
    if (!(spacing >= 1.0)) return 1;
    return spacing > 1e6 ? 1000000 : static_cast<int32_t>(spacing);
}

void drive_samples(const NodeGrid& grid, std::span<const double> nodes, std::span<double> samples) {
    const int32_t m = grid.spacing;
    const double step = 1.0 / m;
    std::fill(samples.begin(), samples.end(), 0.0);
    for (int32_t n = 0; n + 1 < grid.nodes; ++n) {
        const double left = nodes[static_cast<size_t>(n)];
        const double right = nodes[static_cast<size_t>(n) + 1];
        for (int32_t i = 0; i < m; ++i) {
            const double s = i * step;
            samples[static_cast<size_t>(n) * m + i] = left * (1.0 - s) + right * s;
        }
    }
    samples[static_cast<size_t>(grid.nodes - 1) * m] = nodes[static_cast<size_t>(grid.nodes) - 1];
}

template <typename Sample>
void drive_motion(std::span<const Sample> a, double dt, UnitSystem units, DriveMotion& motion) {
    const UnitTable& factors = unit_table(units);
    const size_t nt = a.size();
    motion.velocity.resize(nt);
    motion.displacement.resize(nt);
    motion.peak_acceleration = motion.peak_velocity = motion.peak_displacement = 0.0;
    double v = 0.0, d = 0.0;
    for (size_t k = 0; k < nt; ++k) {
        const double ak = a[k];
        if (k > 0) {
            const double previous = a[k - 1];
            d = d + dt * v + dt * dt * (previous / 3.0 + ak / 6.0);
            v = v + dt * 0.5 * (previous + ak);
        }
        motion.velocity[k] = v * factors.velocity_factor;
        motion.displacement[k] = d * factors.displacement_factor;
        motion.peak_acceleration = std::max(motion.peak_acceleration, std::fabs(ak));
        motion.peak_velocity = std::max(motion.peak_velocity, std::fabs(motion.velocity[k]));
        motion.peak_displacement = std::max(motion.peak_displacement, std::fabs(motion.displacement[k]));
    }
}

template void drive_motion<float>(std::span<const float>, double, UnitSystem, DriveMotion&);
template void drive_motion<double>(std::span<const double>, double, UnitSystem, DriveMotion&);

}  // namespace quorel
