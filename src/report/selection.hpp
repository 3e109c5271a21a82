#pragma once
#include <cstdint>
#include <string>

#include "base/run_settings.hpp"
#include "report/trial_table.hpp"
#include "spec/srs_spec.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Weights of the five rank positions in a trial's score.
struct SelectionWeights {
    double disp_weight = 0.0;
    double vel_weight = 0.0;
    double accel_weight = 0.0;
    double max_error_weight = 0.0;
    double total_error_weight = 0.0;
};

// score = wd Rd + wv Rv + wa Ra + (wm Rm + wt Rt), in double; rank position 0
// is the largest value, so the greatest score goes to the smallest peaks and
// errors under the weighting.
double trial_score(const TrialTable& table, const SelectionWeights& weights, int32_t trial);

// Scores every trial and writes the score table `score_table_name`; only a
// strictly greater score of a qualifying trial replaces `optimum_trial` (so
// ties keep the lower trial, and no positive score keeps the previous choice,
// or the first qualifying trial after it when it does not qualify).  Then
// writes the optimum trial's wavelet table and returns its name; with no
// qualifying trial, returns an empty name and writes no wavelet table.
std::string select_optimum_trial(const TrialTable& table, const SelectionWeights& weights,
                                 const std::string& score_table_name, const WaveletSet& set, const SrsSpec& spec,
                                 const RunSettings& settings, const OutputNames& names, int32_t& optimum_trial);

}  // namespace quorel
