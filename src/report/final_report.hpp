#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "base/console.hpp"
#include "base/run_settings.hpp"
#include "feasibility/bounds.hpp"
#include "feasibility/drive_limits.hpp"
#include "report/trial_table.hpp"
#include "acceptance/acceptance.hpp"
#include "specification/srs_spec.hpp"
#include "srs/filter_bank.hpp"
#include "srs/srs.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// What the final report reads besides the trials.
struct ReportContext {
    const RunSettings& settings;
    const SrsSpec& spec;
    const SrsFilterBank& bank;
    SrsKernel srs_kernel = SrsKernel::vectorised;
    bool csv = false;   // also history_<n>.csv and wavelets_<n>.csv of each optimum
    // Candidates for the optima must be within these limits and pass these
    // rules (TrialTable::qualifies); none given: every trial is a candidate.
    const DriveLimits* limits = nullptr;
    const AcceptanceRules* acceptance = nullptr;
    // The least peaks any drive needs: when given, each optimum's peaks and the
    // closest trial's are also shown as multiples of them.
    const FeasibilityBounds* bounds = nullptr;

    bool selective() const { return (limits != nullptr && limits->any()) || acceptance != nullptr; }
};

// The trials the two weightings chose.
struct Optima {
    int32_t displacement = 0;
    int32_t acceleration = 0;
    bool chosen = true;        // false: no trial qualified, no optimum files
    int32_t qualifying = 0;    // trials within the limits that pass the rules
    int32_t closest = -1;      // when none qualified: the trial nearest to qualifying
    // With acceptance rules: the verdict on each optimum's SRS (the one its
    // srs file holds), or on the closest trial's.
    std::optional<AcceptanceVerdict> displacement_verdict, acceleration_verdict, closest_verdict;
};

// The trial nearest to qualifying.  With limits: the smallest largest ratio
// peak / limit, among the trials that pass the rules when any does; without
// limits: the smallest maximum error.  Ties keep the lower trial.
int32_t closest_trial(const TrialTable& table, const DriveLimits* limits, UnitSystem units);

// An optimum's history as its files hold it.
struct OptimumHistory {
    int32_t trial = -1;                       // -1: none chosen
    std::vector<double> file_acceleration;    // the acceleration file's values, each wavelet in double
    std::vector<float> acceleration;          // the same rounded to float: the history of its SRS
    // The sums of integrate_wavelets: twice the integrals, in the unit of
    // the specification times sec and sec^2 (reported_value converts them).
    std::vector<float> velocity, displacement;
    SrsResult srs;
};

// The outcome of a run's trials: the optima chosen, the scores that chose
// them and the optima's histories.  Nothing of it is written yet.
struct RunReport {
    Optima optima;
    std::vector<double> displacement_scores, acceleration_scores;   // in trial order
    OptimumHistory displacement, acceleration;
};

// Ranks the trials, then for the displacement-weighted and the
// acceleration-weighted optimum: the scores, the choice among the qualifying
// trials, the re-synthesis of the chosen trial's history, its velocity,
// displacement and SRS (and verdict).  When no trial qualifies, the closest
// trial (and its verdict).
RunReport choose_optima(const ReportContext& context, const WaveletSet& set, TrialTable& table);

// The report of a run, on `out` and in its files: with limits or rules the
// count of the qualifying trials; the rank file and the score tables; for
// each optimum its console block, wavelet table, acceleration, velocity,
// displacement and SRS files (and CSV copies); or, when none qualified, the
// closest trial with its ratios (and verdict).
void write_report(TextOutput& out, const ReportContext& context, const RunReport& report, const WaveletSet& set,
                  const TrialTable& table, const OutputNames& names);

}  // namespace quorel
