#pragma once
// Recursive filters mapping base acceleration y to the absolute acceleration
// response x of a single-degree-of-freedom oscillator at each grid frequency:
//
//   x(k) = a1 x(k-1) + a2 x(k-2) + b1 y(k) + b2 y(k-1) + b3 y(k-2)
//
// Coefficients are designed once per run and shared read-only by every trial.
#include <array>
#include <cstdint>
#include <vector>

#include "base/capacity.hpp"
#include "base/run_settings.hpp"
#include "spec/srs_spec.hpp"

namespace quorel {

struct SrsFilterBank {
    int32_t count = 0;   // frequencies n_f
    std::array<float, max_frequencies> a1{}, a2{}, b1{}, b2{}, b3{};
    std::array<float, max_frequencies> period{};   // 1/f, sec: length of the residual phase
    std::array<float, max_frequencies> freq{};     // Hz, for messages
    int32_t residual_steps = 0;                    // free-vibration steps after the last sample
    float dt = 0.0f;

    // The same coefficients widened to double, structure of arrays, padded with
    // zero filters to a multiple of srs_lane_pad, for the vectorised recursion.
    int32_t padded_count = 0;
    std::vector<double> wide;   // a1 | a2 | b1 | b2 | b3, each padded_count long
    // Last residual step of each frequency: the largest k <= residual_steps with
    // float(k dt) <= period; 0 for the padding.
    std::vector<int32_t> last_step;
};

inline constexpr int32_t srs_lane_pad = 8;

// algorithm 1: Kelly-Richman; any other value: Smallwood ramp-invariant filter.
void prepare_srs_filters(const RunSettings& settings, const SrsSpec& spec, double two_pi, SrsFilterBank& bank);

}  // namespace quorel
