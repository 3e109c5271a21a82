#pragma once
// The optimal drive of a run, after its trials: the trial it starts from, the
// band of every polarity, and the solve.
#include <atomic>
#include <optional>

#include "engine/run_reporter.hpp"
#include "optimal/optimal_drive.hpp"
#include "optimal/optimal_report.hpp"
#include "optimal/tolerance.hpp"
#include "feasibility/bounds.hpp"
#include "report/final_report.hpp"
#include "report/trial_table.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

struct OptimalRequest {
    OptimalOptions options;
    std::optional<DbBand> tolerance;   // none: -1.5/+3 dB, or the bands of the acceptance rules
};

// Starts from the optimum of the minimised peak (the displacement optimum for
// displacement and velocity, the acceleration optimum for acceleration), or
// from the closest trial when none qualified, and solves for the optimal
// drive within the context's limits and, when given, acceptance rules.  The
// reporter hears of every round.
OptimalReport run_optimal(const ReportContext& context, const RunReport& report, const WaveletSet& set,
                          const TrialTable& table, const OptimalRequest& request, const FeasibilityBounds& bounds,
                          const std::atomic<int>* stop, RunReporter& reporter);

}  // namespace quorel
