#pragma once
#include <cstdint>
#include <vector>

#include "report/trial_table.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

// Sorts one metric's values into descending order by the exchange procedure:
// for i < j, V[i] and V[j] (with their trial numbers) are exchanged when
// V[i] < V[j] or the two are unordered (a NaN); equal values never are.  The
// rank positions of equal values depend on exactly this procedure.  Fills
// order (position -> trial) and rank (trial -> position).
void rank_metric(std::vector<float>& values, std::vector<int32_t>& order, std::vector<int32_t>& rank, int32_t n);

// Ranks the trials by all five metrics.
void rank_trials(TrialTable& table);

// The rank file: each metric's values, largest first, with their trials.
void write_rank_file(const TrialTable& table, const OutputNames& names);

}  // namespace quorel
