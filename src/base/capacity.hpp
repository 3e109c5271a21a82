#pragma once
// Fixed capacities of a run.
#include <cstdint>

namespace quorel {

inline constexpr int32_t max_frequencies = 125;   // grid points, wavelets per trial, filters
inline constexpr int32_t max_trials = 2000;
inline constexpr int32_t max_samples = 100000;    // trials run only with fewer samples

}  // namespace quorel
