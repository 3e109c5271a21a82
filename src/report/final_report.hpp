#pragma once
#include "run/console.hpp"
#include "run/trial_loop.hpp"
#include "run/trial_table.hpp"
#include "spec/srs_spec.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Ranks the trials, then for the displacement-weighted and the
// acceleration-weighted optimum: score table, wavelet table, console report,
// re-synthesis, acceleration, velocity, displacement and SRS files.
void report_results(Console& console, const TrialContext& context, OutputNames& names, const WaveletSet& set,
                    TrialTable& table);

}  // namespace quorel
