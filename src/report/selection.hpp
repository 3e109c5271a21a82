#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/run_settings.hpp"
#include "report/trial_table.hpp"
#include "specification/srs_spec.hpp"
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

// Every trial's score under the weighting, in trial order.
std::vector<double> trial_scores(const TrialTable& table, const SelectionWeights& weights);

// Only a strictly greater score of a qualifying trial replaces `optimum_trial`
// (so ties keep the lower trial, and no positive score keeps the previous
// choice, or the first qualifying trial after it when it does not qualify).
// Returns false, leaving `optimum_trial` as it was, when no trial qualifies.
bool choose_optimum_trial(const TrialTable& table, const std::vector<double>& scores, int32_t& optimum_trial);

// The score table `score_table_name`: per trial its score and its five rank
// positions.
void write_score_table(const TrialTable& table, const std::vector<double>& scores,
                       const std::string& score_table_name, const OutputNames& names);

// Writes trial `trial`'s wavelet table and returns its name.
std::string write_wavelet_table(const WaveletSet& set, int32_t trial, const SrsSpec& spec,
                                const RunSettings& settings, const OutputNames& names);

}  // namespace quorel
