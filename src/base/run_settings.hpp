#pragma once
// Every run parameter, as entered in the dialogue or given on the command line,
// with the time grid derived from them.
#include <cstdint>
#include <string>

namespace quorel {

// The units answer.  Accelerations keep the unit of the specification file;
// velocity and displacement are converted only where they are reported.
enum class UnitSystem : int32_t {
    english = 1,       // G, in/sec, in
    metric_g = 2,      // G, m/sec, mm
    metric_si = 3,     // m/sec^2, m/sec, mm
};

struct RunSettings {
    int32_t algorithm = 0;        // 1 = Kelly-Richman, anything else = Smallwood
    int32_t damping_format = 0;   // 1 = ratio entered, otherwise Q entered
    float damping = 0.0f;         // fraction of critical, 0 <= damping < 1
    float q = 0.0f;               // the Q entered (damping format other than 1)
    int32_t trial_count = 0;      // 1..2000
    int32_t units = 0;            // UnitSystem value 1, 2 or 3
    const char* accel_unit = "";         // unit labels, static texts
    const char* velocity_unit = "";
    const char* displacement_unit = "";
    int32_t seed = 0;             // seed - 1 random draws are discarded per trial
    float sample_rate = 0.0f;     // samples/sec
    float dt = 0.0f;              // sec, 1 / sample_rate
    float half_dt = 0.0f;         // dt / 2
    float duration = 0.0f;        // sec
    int32_t nt = 0;               // samples in the time history
    double start_time = 0.0;      // calendar seconds when the run clock started
};

inline UnitSystem unit_system(const RunSettings& settings) {
    return static_cast<UnitSystem>(settings.units);
}

// Damping entered as Q: zeta = 1 / (2 Q), from the float Q, in double,
// rounded once to float.
inline void set_q(RunSettings& settings, float q) {
    settings.q = q;
    settings.damping = static_cast<float>(1.0 / (2.0 * static_cast<double>(q)));
}

// Unit labels of the unit system (1, 2 or 3): acceleration as in the
// specification file, velocity and displacement in the reporting units.
inline void set_unit_labels(RunSettings& settings) {
    settings.displacement_unit = "mm";
    settings.velocity_unit = "m/sec";
    settings.accel_unit = "G";
    if (settings.units == 1) {
        settings.displacement_unit = "inch";
        settings.velocity_unit = "in/sec";
    }
    if (settings.units == 3) settings.accel_unit = "m/sec^2";
}

}  // namespace quorel
