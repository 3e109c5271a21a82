#pragma once
#include <cstdint>
#include <optional>

#include "base/console.hpp"
#include "base/run_settings.hpp"
#include "report/bounds.hpp"
#include "report/drive_limits.hpp"
#include "report/trial_table.hpp"
#include "spec/acceptance.hpp"
#include "spec/srs_spec.hpp"
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
int32_t closest_trial(const TrialTable& table, const DriveLimits* limits, int32_t units);

// Ranks the trials, then for the displacement-weighted and the
// acceleration-weighted optimum: score table, wavelet table, console report,
// re-synthesis, acceleration, velocity, displacement and SRS files.  With
// limits or rules the report first counts the qualifying trials; when none
// qualifies, the score tables are written, the closest trial is named with
// its ratios (and verdict), and no optimum is chosen.
Optima report_results(TextOutput& out, const ReportContext& context, OutputNames& names, const WaveletSet& set,
                      TrialTable& table);

}  // namespace quorel
