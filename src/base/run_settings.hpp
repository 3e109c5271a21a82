#pragma once
// Every run parameter, as entered in the dialogue or given on the command line,
// with the time grid derived from them.
#include <cstdint>
#include <string>

#include "base/srs_algorithm.hpp"
#include "base/units.hpp"

namespace quorel {

// How the damping was entered: as a ratio of critical or as Q.
enum class DampingFormat { ratio, q };

struct RunSettings {
    SrsAlgorithm algorithm = SrsAlgorithm::smallwood;
    DampingFormat damping_format = DampingFormat::q;
    float damping = 0.0f;         // fraction of critical, 0 <= damping < 1
    float q = 0.0f;               // the Q entered (damping format q)
    int32_t trial_count = 0;      // 1..2000
    UnitSystem units = UnitSystem::english;
    int32_t seed = 0;             // seed - 1 random draws are discarded per trial
    float sample_rate = 0.0f;     // samples/sec
    float dt = 0.0f;              // sec, 1 / sample_rate
    float half_dt = 0.0f;         // dt / 2
    float duration = 0.0f;        // sec
    int32_t nt = 0;               // samples in the time history
    double start_time = 0.0;      // calendar seconds when the run clock started
};

// The damping every front end takes: Q above 0.5 (Q = 1 / (2 zeta), so the
// ratio stays below 1), or a ratio of critical from 0 to below 1 (a negative
// one makes every SRS filter unstable).
inline bool q_in_range(float q) { return q > 0.5f; }
inline bool damping_ratio_in_range(float ratio) { return ratio >= 0.0f && ratio < 1.0f; }

// Damping entered as Q: zeta = 1 / (2 Q), from the float Q, in double,
// rounded once to float.
inline void set_q(RunSettings& settings, float q) {
    settings.q = q;
    settings.damping = static_cast<float>(1.0 / (2.0 * static_cast<double>(q)));
}

// Sets the sample rate with dt = 1 / rate and half_dt = dt / 2, as floats.
inline void set_sample_rate(RunSettings& settings, float sample_rate) {
    settings.sample_rate = sample_rate;
    settings.dt = static_cast<float>(1.0 / static_cast<double>(sample_rate));
    settings.half_dt = static_cast<float>(settings.dt * 0.5);
}

}  // namespace quorel
