#pragma once
// The optimisation: for every trial a random wavelet row, refined by repeated
// synthesis -> SRS -> error -> amplitude correction until the error stops
// falling (10 to 60 evaluations), then measured and logged.
//
// A trial's random draws never depend on its evaluation, so every row is drawn
// first, in trial order, from the one generator; the trials are then evaluated
// on worker threads, each with its own workspace, and their lines are emitted
// strictly in trial order.  The output is the same for any thread count.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/output_file.hpp"
#include "base/random.hpp"
#include "base/run_settings.hpp"
#include "engine/run_reporter.hpp"
#include "engine/trial_state.hpp"
#include "report/trial_table.hpp"
#include "acceptance/acceptance.hpp"
#include "specification/srs_spec.hpp"
#include "srs/filter_bank.hpp"
#include "srs/spectrum_error.hpp"
#include "srs/srs.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

struct KernelOptions {
    SrsKernel srs = SrsKernel::vectorised;
    bool dense_synthesis = false;   // full-length basis rows (reference mode)
    SineKernel basis_sine = SineKernel::vectorised;   // library: the C library's sin (reference mode)
};

// What one trial's evaluation needs, allocated once per worker.
struct TrialWorkspace {
    WaveletBasis basis;
    TimeHistory history;
    SrsResult srs;
    TrialState state;
    // The sums of the history the files would hold and its SRS beside the
    // specification, for the acceptance rules.
    std::vector<double> file_sum;
    GridComparison comparison;
};

void allocate_workspace(TrialWorkspace& workspace, int32_t n, int32_t nt, const KernelOptions& kernels);

// The read-only inputs of every evaluation.
struct TrialContext {
    const RunSettings& settings;
    const SrsSpec& spec;
    const SrsFilterBank& bank;
    KernelOptions kernels;
    // Rules judged on every trial's delivered SRS; none: every trial passes.
    const AcceptanceRules* acceptance = nullptr;
    // Nonzero once the run is asked to stop (a StopRequest's signal); none:
    // the trials always run to the end.
    const std::atomic<int>* stop = nullptr;
};

struct TrialResult {
    float peak_accel = 0.0f;
    float peak_velocity = 0.0f;
    float peak_displacement = 0.0f;
    float total_error = 0.0f;   // of the best evaluation
    float best_error = 0.0f;    // smallest max_error: that of the best evaluation
    int32_t iterations = 0;     // k at the stop: 9..59, or 60
    int32_t evaluations = 0;    // error evaluations made (for the low-spec warnings)
    bool passes = true;         // the acceptance rules, on the SRS of the delivered history
};

// Evaluates trial `trial` on its generated row: iterates, restores the best
// amplitudes (the first evaluation with the smallest maximum error) into the
// row and measures the history they give: the peaks, the total error and the
// acceptance verdict are those of the history the trial delivers.  Fatal
// checks throw; `result.evaluations` counts the evaluations made until then.
// A requested stop throws interrupted_message before the next evaluation.
// Returns false, abandoning the trial, when `last_needed` drops below `trial`
// (a fatal check in an earlier trial has ended the run).
bool evaluate_trial(int32_t trial, double exponent, const TrialContext& context, WaveletSet& set,
                    TrialWorkspace& workspace, TrialResult& result,
                    const std::atomic<int32_t>* last_needed = nullptr);

// The trial's log line, " %ld %10.2f %12.3f %12.3f %11.2f %10.2f  %ld\n" with the
// errors in dB, formatted into a fixed buffer (nothing is allocated per trial).
struct TrialLine {
    char text[256];
    std::string_view view() const { return text; }
};
TrialLine trial_line(int32_t trial, const TrialResult& result);

// Runs every trial and fills the trial table (values and their sort copies),
// handing each trial's line to the reporter and the trial log (when given) in
// trial order.  `threads` workers (1 evaluates on the calling thread).
void run_trials(RunReporter& reporter, OutputFile* trial_log, const TrialContext& context, RandomGenerator& rng,
                WaveletSet& set, TrialTable& table, int32_t threads);

}  // namespace quorel
