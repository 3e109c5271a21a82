#include "wavelet/kinematics.hpp"

#include <cmath>

namespace quorel {

void peak_kinematics(const RunSettings& settings, TimeHistory& history) {
    const int32_t nt = history.nt;
    const float* a = history.samples.data();   // a[nt] is 0
    float* v = history.velocity.data();
    float peak_a = 0.0f, peak_v = 0.0f, peak_d = 0.0f;

    for (int32_t j = 0; j < nt; ++j) {
        if (std::fabs(a[j]) > peak_a) peak_a = std::fabs(a[j]);
    }
    double V = 0.0;
    double D = 0.0;
    for (int32_t j = 0; j <= nt; ++j) {
        const float w = (j == 0 || j == nt) ? settings.half_dt : settings.dt;
        V = V + static_cast<double>(w) * a[j];
        if (std::fabs(V) > peak_v) peak_v = static_cast<float>(std::fabs(V));
        v[j] = static_cast<float>(V);
        D = D + static_cast<double>(w) * v[j];
        if (std::fabs(D) > peak_d) peak_d = static_cast<float>(std::fabs(D));
    }

    // To the reporting units, each peak rounded to float once (the factor 1
    // of si velocities leaves it as it is).
    const UnitTable& units = unit_table(settings.units);
    peak_v = static_cast<float>(peak_v * units.velocity_factor);
    peak_d = static_cast<float>(peak_d * units.displacement_factor);
    history.peak_accel = peak_a;
    history.peak_velocity = peak_v;
    history.peak_displacement = peak_d;
}

}  // namespace quorel
