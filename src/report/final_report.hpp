#pragma once
#include <cstdint>

#include "base/console.hpp"
#include "base/run_settings.hpp"
#include "report/trial_table.hpp"
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
};

// The trials the two weightings chose.
struct Optima {
    int32_t displacement = 0;
    int32_t acceleration = 0;
};

// Ranks the trials, then for the displacement-weighted and the
// acceleration-weighted optimum: score table, wavelet table, console report,
// re-synthesis, acceleration, velocity, displacement and SRS files.
Optima report_results(TextOutput& out, const ReportContext& context, OutputNames& names, const WaveletSet& set,
                      TrialTable& table);

}  // namespace quorel
