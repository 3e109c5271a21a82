#include "feasibility/drive_limits.hpp"

#include <algorithm>

#include "base/format.hpp"

namespace quorel {

double LimitRatios::largest() const {
    double r = 0.0;
    for (const auto& ratio : {acceleration, velocity, displacement, force}) {
        if (ratio) r = std::max(r, *ratio);
    }
    return r;
}

LimitRatios limit_ratios(const DriveLimits& limits, UnitSystem units, double peak_accel, double peak_velocity,
                         double peak_displacement) {
    LimitRatios r;
    if (limits.acceleration) r.acceleration = peak_accel / static_cast<double>(*limits.acceleration);
    if (limits.velocity) r.velocity = peak_velocity / static_cast<double>(*limits.velocity);
    if (limits.displacement) r.displacement = peak_displacement / static_cast<double>(*limits.displacement);
    if (limits.force && limits.moving_mass) {
        r.force = static_cast<double>(*limits.moving_mass) * peak_accel * unit_table(units).force_per_mass /
                  static_cast<double>(*limits.force);
    }
    return r;
}

std::string ratios_text(const LimitRatios& ratios) {
    std::string text;
    auto add = [&](const std::optional<double>& ratio, const char* name) {
        if (!ratio) return;
        if (!text.empty()) text += ", ";
        text += format("%.3f x the %s limit", *ratio, name);
    };
    add(ratios.acceleration, "acceleration");
    add(ratios.velocity, "velocity");
    add(ratios.displacement, "displacement");
    add(ratios.force, "force");
    return text;
}

}  // namespace quorel
