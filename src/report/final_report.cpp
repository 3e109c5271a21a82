#include "report/final_report.hpp"

#include "report/ranking.hpp"
#include "report/result_files.hpp"
#include "report/selection.hpp"
#include "run/format.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace quorel {

void report_results(Console& console, const TrialContext& context, OutputNames& names, const WaveletSet& set,
                    TrialTable& table) {
    const RunSettings& settings = context.settings;
    const SrsSpec& spec = context.spec;
    rank_trials(table, names);

    struct Weighting {
        const char* score_table;
        SelectionWeights weights;
        const char* title;
    };
    const Weighting weightings[] = {
        {"disp_rank", {5.0, 1.0, 1.0, 3.0, 0.5}, "\n\n Optimum case for displacement = %ld \n"},
        {"accel_rank", {1.0, 1.0, 5.0, 3.0, 0.5}, "\n\n Optimum case for acceleration = %ld \n"},
    };

    TrialWorkspace workspace;
    allocate_workspace(workspace, set.count, settings.nt, context.kernels);
    int32_t optimum_trial = 0;
    for (const Weighting& weighting : weightings) {
        names.rank = weighting.score_table;
        const std::string wavelet_table =
            select_optimum_trial(table, weighting.weights, names.rank, set, spec, settings, names, optimum_trial);
        const int32_t t = optimum_trial;

        // The values the trial loop recorded, read back at the trial's rank positions.
        const size_t i = static_cast<size_t>(t);
        const double accel = table.sort_peak_accel[static_cast<size_t>(table.rank_peak_accel[i])];
        const double velocity = table.sort_peak_velocity[static_cast<size_t>(table.rank_peak_velocity[i])];
        const double displacement = table.sort_peak_displacement[static_cast<size_t>(table.rank_peak_displacement[i])];
        const double max_error = table.sort_max_error[static_cast<size_t>(table.rank_max_error[i])];
        console.print(format(weighting.title, static_cast<long>(t)));
        console.print(format("\n   Peak Accel = %12.3f %s    ", accel, settings.accel_unit));
        console.print(format("\n   Peak Velox = %12.3f %s    ", velocity, settings.velocity_unit));
        console.print(format("\n   Peak Disp  = %12.3f %s    ", displacement, settings.displacement_unit));
        console.print(format("\n   Max Error  = %12.3f dB \n\n", 20.0 * max_error));

        // Rebuilt from the optimum's own row: its checks run again, and the basis
        // is never that of another trial.
        synthesize_time_history(set, t, true, spec, settings, workspace.basis, workspace.history);
        write_accel_file(console, t, set, spec, settings, names, workspace.history);
        write_velocity_displacement(console, t, set, spec, settings, names);
        compute_srs(context.bank, workspace.history.samples.data(), settings.nt, workspace.srs, context.kernels.srs);
        write_srs_file(console, t, workspace.srs, spec, settings, names, wavelet_table);
    }
}

}  // namespace quorel
