#pragma once
// The shaker's limits on a drive: peak acceleration, velocity and displacement
// in the run's units, and a force limit with the moving mass it drives.  A
// controller refuses a drive beyond any of them, so only trials within them
// are candidates for the optima.
#include <cstdint>
#include <optional>
#include <string>

#include "base/units.hpp"

namespace quorel {

struct DriveLimits {
    std::optional<float> acceleration;   // peak |acceleration|, the run's acceleration unit
    std::optional<float> velocity;       // peak |velocity|, the run's velocity unit
    std::optional<float> displacement;   // peak |displacement| from rest, the run's displacement unit
    // Force F >= M x peak acceleration: lbf and lb in english units (1 lb x 1 G
    // = 1 lbf), N and kg otherwise (x 9.81 m/sec^2 per G in metric units).
    std::optional<float> force;
    std::optional<float> moving_mass;   // given together with force

    bool any() const { return acceleration || velocity || displacement || force; }
};

// Each given limit's peak / limit; the force's is M x peak accel x g / F.
struct LimitRatios {
    std::optional<double> acceleration, velocity, displacement, force;

    // The largest ratio given, 0 without limits.
    double largest() const;
    // A trial is within the limits when no peak exceeds its limit.
    bool within() const { return largest() <= 1.0; }
};

// The force is M x peak acceleration x the unit table's force_per_mass.
LimitRatios limit_ratios(const DriveLimits& limits, UnitSystem units, double peak_accel, double peak_velocity,
                         double peak_displacement);

// "1.234 x the acceleration limit, 0.871 x the velocity limit", the given limits only.
std::string ratios_text(const LimitRatios& ratios);

}  // namespace quorel
