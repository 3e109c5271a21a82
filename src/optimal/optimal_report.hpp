#pragma once
// What a run reports of its optimal drive: the console block, the files
// (written like an optimum's, under the tag "optimal", only for a drive that
// meets every constraint) and the summary's `optimal` block.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/console.hpp"
#include "base/run_settings.hpp"
#include "optimal/least_peaks.hpp"
#include "optimal/optimal_drive.hpp"
#include "optimal/tolerance.hpp"
#include "feasibility/bounds.hpp"
#include "feasibility/drive_limits.hpp"
#include "report/json_values.hpp"
#include "acceptance/acceptance.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

// The tag of the optimal drive's files: accel_optimal.out, history_optimal.csv.
inline constexpr const char* optimal_tag = "optimal";

struct OptimalReport {
    OptimalDrive drive;
    MinimisedPeak minimised = MinimisedPeak::displacement;
    int32_t start_trial = -1;           // the trial whose peak times it holds
    PeakTriple start_peaks;             // that trial's peaks as its table row holds them
    std::vector<DbBand> bands;          // per grid frequency
    std::optional<AcceptanceVerdict> verdict;   // with acceptance rules: on drive.srs
    PeakTriple least;                   // the scales of the objective (least_peaks)
    BoundRatios ratios;                 // the drive's peaks / the least possible

    // Files are written only for a drive that meets every constraint (and
    // passes the rules).
    bool meets() const { return drive.meets && (!verdict || verdict->pass); }
};

// The block printed after the optima's:
//
//  Optimal drive for displacement (from trial 43)
//
//    Peak Accel =       13.410 G
//    ...
//    SRS margins = -1.500/+2.603 dB, each polarity within -1.5/+3 dB
//    Peaks / least possible = 2.29 accel, 2.89 velox, 1.33 disp
//    Trial 43: 18.090 G, 0.550 m/sec, 6.124 mm
//    Linear program: 2 rounds, 20035 constraints, 7500 variables
//
// or, when no drive meets the constraints, the closest drive with its
// polarities outside their bands (by frequency and dB) and its limits.
std::string optimal_block(const OptimalReport& report, const RunSettings& settings, const SrsSpec& spec);

// accel_, velox_, disp_ and srs_optimal.out, and with `csv` history_optimal.csv;
// the console names them (and with rules, prints the verdict).
void write_optimal_files(TextOutput& out, const OptimalReport& report, const RunSettings& settings,
                         const SrsSpec& spec, const OutputNames& names, const AcceptanceRules* acceptance, bool csv);

std::vector<std::string> optimal_files(const OutputNames& names, bool csv);

// summary.json's `optimal` block (files null when none were written).
Json optimal_json(const OptimalReport& report, const SrsSpec& spec, const DriveLimits& limits,
                  const OutputNames& names, bool files_written);

}  // namespace quorel
