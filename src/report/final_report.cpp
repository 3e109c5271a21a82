#include "report/final_report.hpp"

#include <vector>

#include "base/format.hpp"
#include "report/ranking.hpp"
#include "report/result_files.hpp"
#include "report/selection.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace quorel {

Optima report_results(TextOutput& out, const ReportContext& context, OutputNames& names, const WaveletSet& set,
                      TrialTable& table) {
    const RunSettings& settings = context.settings;
    const SrsSpec& spec = context.spec;
    rank_trials(table, names);

    struct Weighting {
        const char* score_table;
        SelectionWeights weights;
        const char* title;
        int32_t Optima::*chosen;
    };
    const Weighting weightings[] = {
        {"disp_rank", {5.0, 1.0, 1.0, 3.0, 0.5}, "\n\n Optimum case for displacement = %ld \n", &Optima::displacement},
        {"accel_rank", {1.0, 1.0, 5.0, 3.0, 0.5}, "\n\n Optimum case for acceleration = %ld \n", &Optima::acceleration},
    };

    // Workspace of the two re-syntheses.
    WaveletBasis basis;
    allocate_basis(basis, set.count, settings.nt, false);
    TimeHistory history;
    allocate_history(history, settings.nt);
    SrsResult srs;
    std::vector<float> velocity(static_cast<size_t>(settings.nt));
    std::vector<float> displacement(static_cast<size_t>(settings.nt));

    Optima optima;
    int32_t optimum_trial = 0;
    for (const Weighting& weighting : weightings) {
        names.rank = weighting.score_table;
        const std::string wavelet_table =
            select_optimum_trial(table, weighting.weights, names.rank, set, spec, settings, names, optimum_trial);
        const int32_t t = optimum_trial;
        optima.*weighting.chosen = t;

        // The values the trial loop recorded, read back at the trial's rank positions.
        const size_t i = static_cast<size_t>(t);
        const double accel = table.sort_peak_accel[static_cast<size_t>(table.rank_peak_accel[i])];
        const double velocity_peak = table.sort_peak_velocity[static_cast<size_t>(table.rank_peak_velocity[i])];
        const double displacement_peak =
            table.sort_peak_displacement[static_cast<size_t>(table.rank_peak_displacement[i])];
        const double max_error = table.sort_max_error[static_cast<size_t>(table.rank_max_error[i])];
        out.print(format(weighting.title, static_cast<long>(t)));
        out.print(format("\n   Peak Accel = %12.3f %s    ", accel, settings.accel_unit));
        out.print(format("\n   Peak Velox = %12.3f %s    ", velocity_peak, settings.velocity_unit));
        out.print(format("\n   Peak Disp  = %12.3f %s    ", displacement_peak, settings.displacement_unit));
        out.print(format("\n   Max Error  = %12.3f dB \n\n", 20.0 * max_error));

        // Rebuilt from the optimum's own row: its checks run again, and the basis
        // is never that of another trial.
        synthesize_time_history(set, t, true, spec, settings, basis, history);
        write_accel_file(out, t, set, spec, settings, names, history);
        write_velocity_displacement(out, t, set, spec, settings, names, velocity.data(), displacement.data());
        compute_srs(context.bank, history.samples.data(), settings.nt, srs, context.srs_kernel);
        write_srs_file(out, t, srs, spec, settings, names, wavelet_table);
        // The CSV copies are new files: a trial chosen twice is written once.
        if (context.csv && !(weighting.chosen == &Optima::acceleration && t == optima.displacement)) {
            write_history_csv(t, settings, names, history, velocity.data(), displacement.data());
            write_wavelets_csv(t, set, spec, settings, names);
        }
    }
    return optima;
}

}  // namespace quorel
