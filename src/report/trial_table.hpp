#pragma once
// Per-trial results, their sorted copies and the rank positions.  Values are
// magnitudes: peaks in the run's units, errors in log10 units (not dB).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorel {

struct TrialTable {
    int32_t count = 0;   // trials handed to ranking and reporting

    std::vector<float> peak_accel, peak_velocity, peak_displacement, total_error, max_error;
    std::vector<int32_t> iterations;   // the count the trial log shows: 9..59, or 60
    // Candidates for the optima: within the shaker's limits, and passing the
    // acceptance rules judged on the SRS the trial delivers.  All 1 when no
    // limit or rule is given.
    std::vector<uint8_t> within_limits, passes;
    bool qualifies(int32_t trial) const {
        const size_t i = static_cast<size_t>(trial);
        return within_limits[i] != 0 && passes[i] != 0;
    }

    // Copies handed to the ranking, which sorts them into descending order.
    std::vector<float> sort_peak_accel, sort_peak_velocity, sort_peak_displacement, sort_total_error,
        sort_max_error;

    // order: list position -> trial; rank: trial -> list position (0 = largest).
    std::vector<int32_t> order_peak_accel, order_peak_velocity, order_peak_displacement, order_total_error,
        order_max_error;
    std::vector<int32_t> rank_peak_accel, rank_peak_velocity, rank_peak_displacement, rank_total_error,
        rank_max_error;
};

// Sizes every list for `trials` entries, zeroed.
void allocate_trial_table(TrialTable& table, int32_t trials);

}  // namespace quorel
