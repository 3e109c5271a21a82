#include "report/final_report.hpp"

#include <limits>
#include <vector>

#include "base/format.hpp"
#include "report/ranking.hpp"
#include "report/result_files.hpp"
#include "report/selection.hpp"
#include "srs/spectrum_error.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace quorel {

namespace {

LimitRatios ratios_of(const TrialTable& table, const DriveLimits& limits, int32_t units, int32_t t) {
    const size_t i = static_cast<size_t>(t);
    return limit_ratios(limits, units, table.peak_accel[i], table.peak_velocity[i], table.peak_displacement[i]);
}

const char* qualifying_words(const ReportContext& context) {
    const bool limits = context.limits != nullptr && context.limits->any();
    if (limits && context.acceptance != nullptr) return "within the limits and passing the acceptance rules";
    return limits ? "within the limits" : "passing the acceptance rules";
}

// The re-syntheses of the report: one trial's history and SRS at a time.
struct ReportWorkspace {
    WaveletBasis basis;
    TimeHistory history;
    SrsResult srs;
    std::vector<double> file_sum;
    GridComparison comparison;
};

// Trial t's history as its acceleration file would hold it, and its SRS.
void file_srs(const ReportContext& context, const WaveletSet& set, int32_t t, ReportWorkspace& w) {
    file_history(set, t, context.spec, context.settings, w.history, w.file_sum);
    compute_srs(context.bank, w.history.samples.data(), context.settings.nt, w.srs, context.srs_kernel);
}

AcceptanceVerdict judge(const AcceptanceRules& rules, const SrsSpec& spec, ReportWorkspace& w) {
    return judge_acceptance(rules, compare_with_spec(w.srs, spec, w.comparison));
}

}  // namespace

int32_t closest_trial(const TrialTable& table, const DriveLimits* limits, int32_t units) {
    int32_t closest = -1;
    double nearest = std::numeric_limits<double>::infinity();
    if (limits == nullptr || !limits->any()) {
        for (int32_t t = 0; t < table.count; ++t) {
            const double e = table.max_error[static_cast<size_t>(t)];
            if (closest < 0 || e < nearest) nearest = e, closest = t;
        }
        return closest;
    }
    bool any_passes = false;
    for (int32_t t = 0; t < table.count; ++t) any_passes = any_passes || table.passes[static_cast<size_t>(t)] != 0;
    for (int32_t t = 0; t < table.count; ++t) {
        if (any_passes && table.passes[static_cast<size_t>(t)] == 0) continue;
        const double r = ratios_of(table, *limits, units, t).largest();
        if (closest < 0 || r < nearest) nearest = r, closest = t;
    }
    return closest;
}

Optima report_results(TextOutput& out, const ReportContext& context, OutputNames& names, const WaveletSet& set,
                      TrialTable& table) {
    const RunSettings& settings = context.settings;
    const SrsSpec& spec = context.spec;
    rank_trials(table, names);

    Optima optima;
    for (int32_t t = 0; t < table.count; ++t) optima.qualifying += table.qualifies(t);
    if (context.selective()) {
        out.print(format("\n\n Trials %s: %ld of %ld \n", qualifying_words(context), static_cast<long>(optima.qualifying),
                         static_cast<long>(table.count)));
    }

    struct Weighting {
        const char* score_table;
        SelectionWeights weights;
        const char* title;
        int32_t Optima::*chosen;
        std::optional<AcceptanceVerdict> Optima::*verdict;
    };
    const Weighting weightings[] = {
        {"disp_rank", {5.0, 1.0, 1.0, 3.0, 0.5}, "\n\n Optimum case for displacement = %ld \n", &Optima::displacement,
         &Optima::displacement_verdict},
        {"accel_rank", {1.0, 1.0, 5.0, 3.0, 0.5}, "\n\n Optimum case for acceleration = %ld \n", &Optima::acceleration,
         &Optima::acceleration_verdict},
    };

    // Workspace of the re-syntheses.
    ReportWorkspace w;
    allocate_basis(w.basis, set.count, settings.nt, false);
    allocate_history(w.history, settings.nt);
    std::vector<float> velocity(static_cast<size_t>(settings.nt));
    std::vector<float> displacement(static_cast<size_t>(settings.nt));

    int32_t optimum_trial = 0;
    for (const Weighting& weighting : weightings) {
        names.rank = weighting.score_table;
        const std::string wavelet_table =
            select_optimum_trial(table, weighting.weights, names.rank, set, spec, settings, names, optimum_trial);
        if (wavelet_table.empty()) {
            optima.chosen = false;
            continue;
        }
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
        if (context.bounds == nullptr) {
            out.print(format("\n   Max Error  = %12.3f dB \n\n", 20.0 * max_error));
        } else {
            out.print(format("\n   Max Error  = %12.3f dB ", 20.0 * max_error));
            out.print(format("\n   %s \n\n", bound_ratios_text(bound_ratios(*context.bounds, accel, velocity_peak,
                                                                                 displacement_peak)).c_str()));
        }

        // Rebuilt from the optimum's own row: its checks run again, and the
        // basis is never that of another trial.  The SRS file holds the SRS of
        // the acceleration file's history, which write_accel_file leaves in
        // the workspace.
        synthesize_time_history(set, t, true, spec, settings, w.basis, w.history);
        write_accel_file(out, t, set, spec, settings, names, w.history);
        write_velocity_displacement(out, t, set, spec, settings, names, velocity.data(), displacement.data());
        compute_srs(context.bank, w.history.samples.data(), settings.nt, w.srs, context.srs_kernel);
        write_srs_file(out, t, w.srs, spec, settings, names, wavelet_table);
        if (context.acceptance != nullptr) {
            optima.*weighting.verdict = judge(*context.acceptance, spec, w);
            out.print("\n");
            out.print(verdict_lines(*context.acceptance, *(optima.*weighting.verdict), "   "));
        }
        // The CSV copies are new files: a trial chosen twice is written once.
        if (context.csv && !(weighting.chosen == &Optima::acceleration && t == optima.displacement)) {
            write_history_csv(t, settings, names, w.history, velocity.data(), displacement.data());
            write_wavelets_csv(t, set, spec, settings, names);
        }
    }
    if (optima.chosen) return optima;

    // No candidate: the trial nearest to one, and why it is not.
    optima.closest = closest_trial(table, context.limits, settings.units);
    const int32_t c = optima.closest;
    const bool limits = context.limits != nullptr && context.limits->any();
    out.print(format("\n\n No trial is %s. \n", qualifying_words(context)));
    if (c < 0) return optima;
    if (limits) {
        out.print(format(" Closest: trial %ld, at %s \n", static_cast<long>(c),
                         ratios_text(ratios_of(table, *context.limits, settings.units, c)).c_str()));
        if (context.bounds != nullptr) {
            const size_t i = static_cast<size_t>(c);
            out.print(limit_and_bound_lines(*context.bounds, *context.limits, settings.units, table.peak_accel[i],
                                            table.peak_velocity[i], table.peak_displacement[i]));
        }
    } else {
        out.print(format(" Closest: trial %ld, the smallest maximum error (%.3f dB) \n", static_cast<long>(c),
                         20.0 * table.max_error[static_cast<size_t>(c)]));
    }
    if (context.acceptance != nullptr) {
        file_srs(context, set, c, w);
        optima.closest_verdict = judge(*context.acceptance, spec, w);
        out.print(verdict_lines(*context.acceptance, *optima.closest_verdict, "   "));
    }
    out.print("\n");
    return optima;
}

}  // namespace quorel
