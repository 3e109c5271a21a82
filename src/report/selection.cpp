#include "report/selection.hpp"

#include <cmath>

#include "base/output_file.hpp"

namespace quorel {

double trial_score(const TrialTable& table, const SelectionWeights& w, int32_t t) {
    const size_t i = static_cast<size_t>(t);
    return w.disp_weight * table.rank_peak_displacement[i] + w.vel_weight * table.rank_peak_velocity[i] +
           w.accel_weight * table.rank_peak_accel[i] +
           (w.max_error_weight * table.rank_max_error[i] + w.total_error_weight * table.rank_total_error[i]);
}

std::vector<double> trial_scores(const TrialTable& table, const SelectionWeights& weights) {
    std::vector<double> scores(static_cast<size_t>(table.count));
    for (int32_t t = 0; t < table.count; ++t) scores[static_cast<size_t>(t)] = trial_score(table, weights, t);
    return scores;
}

bool choose_optimum_trial(const TrialTable& table, const std::vector<double>& scores, int32_t& optimum_trial) {
    // Only qualifying trials are candidates; without limits or rules every
    // trial qualifies and the choice starts from the previous one as before.
    bool any = false;
    for (int32_t t = 0; t < table.count && !any; ++t) any = table.qualifies(t);
    if (!any) return false;
    while (!table.qualifies(optimum_trial)) optimum_trial = (optimum_trial + 1) % table.count;
    float best = 0.0f;
    for (int32_t t = 0; t < table.count; ++t) {
        const double score = scores[static_cast<size_t>(t)];
        if (score > best && table.qualifies(t)) {
            best = static_cast<float>(score);
            optimum_trial = t;
        }
    }
    return true;
}

void write_score_table(const TrialTable& table, const std::vector<double>& scores,
                       const std::string& score_table_name, const OutputNames& names) {
    OutputFile file(names.path(score_table_name));
    for (int32_t t = 0; t < table.count; ++t) {
        const size_t i = static_cast<size_t>(t);
        file.printf("%ld \t %lf \t %ld \t %ld \t %ld \t %ld \t %ld\n", static_cast<long>(t), scores[i],
                    static_cast<long>(table.rank_peak_accel[i]), static_cast<long>(table.rank_peak_velocity[i]),
                    static_cast<long>(table.rank_peak_displacement[i]), static_cast<long>(table.rank_total_error[i]),
                    static_cast<long>(table.rank_max_error[i]));
    }
    file.close();
}

std::string write_wavelet_table(const WaveletSet& set, int32_t trial, const SrsSpec& spec,
                                const RunSettings& settings, const OutputNames& names) {
    const std::string table_name = trial_file_name(names.wavelet, trial);
    OutputFile wavelets(names.path(table_name));
    wavelets.printf(" No.   Freq(Hz)   Polarity    NHS     Delay(msec)    Amp(%s)\n", unit_table(settings.units).accel);
    const float* amplitude = set.amplitude_row(trial);
    const int32_t* nhs = set.nhs_row(trial);
    const float* delay = set.delay_row(trial);
    for (int32_t k = 0; k < spec.count; ++k) {
        const float a = amplitude[k];
        const bool negative = a < 0.0f || std::isnan(a);
        wavelets.printf(negative ? "%ld \t %8.1f \t - \t %ld \t %8.2f \t %8.2f \n"
                                 : "%ld \t %8.1f \t + \t %ld \t %8.2f \t %8.2f \n",
                        static_cast<long>(k), static_cast<double>(spec.freq[k]), static_cast<long>(nhs[k]),
                        delay[k] * 1000.0, std::fabs(static_cast<double>(a)));
    }
    wavelets.close();
    return table_name;
}

}  // namespace quorel
