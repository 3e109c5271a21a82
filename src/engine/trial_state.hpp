#pragma once
// The state of the trial being evaluated: which row, which iteration, the best
// result so far and the correction exponent.  Each worker has its own.
#include <array>
#include <cstdint>
#include <limits>

#include "base/capacity.hpp"

namespace quorel {

struct TrialState {
    int32_t trial = 0;         // row being generated / corrected
    int32_t synth_trial = 0;   // row being synthesized
    int32_t strategy = 1;      // generator cycle 1..6
    int32_t iteration = 0;     // 0..60
    float best_error = std::numeric_limits<float>::infinity();
    float previous_error = 0.0f;
    std::array<float, max_frequencies> best_amplitude{};
    double scale_exponent = 0.5;
};

}  // namespace quorel
