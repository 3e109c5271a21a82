#pragma once
// The run itself, once every setting is known: filter bank, trial log, trials,
// final report and result files.  The front ends gather the settings and the
// gridded specification, then hand them here.
#include <cstdint>
#include <optional>
#include <string>

#include "base/run_settings.hpp"
#include "base/stop_request.hpp"
#include "engine/optimal_run.hpp"
#include "engine/run_reporter.hpp"
#include "engine/trial_loop.hpp"
#include "feasibility/bounds.hpp"
#include "feasibility/drive_limits.hpp"
#include "report/final_report.hpp"
#include "acceptance/acceptance.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

struct EngineOptions {
    int32_t threads = 0;                 // trial workers; 0 = every hardware thread
    KernelOptions kernels;
    bool stop_before_trials = false;     // end once the trial log has its headers
    // Command-line runs: history_<n>.csv and wavelets_<n>.csv of the optima
    // and summary.json, which names `spec_file`.
    bool machine_readable = false;
    std::string spec_file;
    // Only trials within these limits that pass these rules can be optima.
    DriveLimits limits;
    std::optional<AcceptanceRules> acceptance;
    // false: nothing is written or locked (no output folder, trial log,
    // report or result files); the results stay in memory and the reporter
    // gets the trial lines alone.
    bool write_files = true;
    // Signals stop the run from the moment it holds the trial log (none: they
    // take their default effect throughout).
    StopRequest* stop = nullptr;
    // The least peaks any drive of this duration needs for the specification:
    // the report and the summary set the trials' peaks against them.
    std::optional<FeasibilityBounds> bounds;
    // After the trials, the optimal drive (none: not asked for).
    std::optional<OptimalRequest> optimal;
};

struct RunResults {
    RunReport report;          // none chosen after stop_before_trials; report.optima.chosen
                               // is false when no trial was within the limits and passed
    TrialTable table;          // the values in trial order
    WaveletSet set;            // every trial's wavelets
    std::optional<OptimalReport> optimal;   // when asked for
};

// Runs the synthesis with complete settings (time grid included) on the
// gridded specification, writing every file into names.directory, which is
// created with its parents (nothing at all when options.write_files is false).
//
// Every check of the inputs comes first (a band of the acceptance rules that
// covers no grid frequency, the filter bank): a run failing there leaves the
// file system as it was.  The trial log is then locked from its creation to
// the end of the run: a second run in the same folder fails ("another run is
// using trials.out") and changes nothing.  Holding it, the run removes an
// earlier summary.json, which would otherwise pass for this run's.  Fatal
// checks, write errors and a requested stop throw QuorelError: the result file
// being written never gets its name, and the trial log ends with the message.
RunResults run_synthesis(const RunSettings& settings, const SrsSpec& spec, OutputNames names,
                         const EngineOptions& options, RunReporter& reporter);

// "\n\n Elapsed time (hr:min:sec)\n      = h:m:s \n", empty when no whole
// second has passed.
std::string elapsed_time_text(double start_seconds, double now_seconds);

}  // namespace quorel
