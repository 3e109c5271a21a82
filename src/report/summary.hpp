#pragma once
// summary.json: the settings, the grid, every trial's figures and the two
// optima with their files, for scripts.  Numbers are the values the run holds
// (a float's exact value), not their printed rounding.
#include <nlohmann/json.hpp>

#include <string>

#include "base/run_settings.hpp"
#include "feasibility/bounds.hpp"
#include "feasibility/drive_limits.hpp"
#include "report/final_report.hpp"
#include "acceptance/acceptance.hpp"
#include "report/trial_table.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

struct SummaryInputs {
    const char* version;
    const std::string& spec_file;
    double elapsed_seconds;
    const RunSettings& settings;
    const SrsSpec& spec;
    const TrialTable& table;   // values in trial order
    const Optima& optima;
    const OutputNames& names;
    const DriveLimits* limits = nullptr;           // as given, or none
    const AcceptanceRules* acceptance = nullptr;
    const FeasibilityBounds* bounds = nullptr;     // the least peaks any drive needs, or none
    const nlohmann::ordered_json* optimal = nullptr;   // the optimal drive's block, or none
};

// The summary as a document (spec_file null when empty: points given as
// numbers), and its text as written.
nlohmann::ordered_json summary_document(const SummaryInputs& inputs);
std::string summary_text(const SummaryInputs& inputs);

// Writes names.summary into names.directory.
void write_summary(const SummaryInputs& inputs);

}  // namespace quorel
