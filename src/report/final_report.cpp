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

LimitRatios ratios_of(const TrialTable& table, const DriveLimits& limits, UnitSystem units, int32_t t) {
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

int32_t closest_trial(const TrialTable& table, const DriveLimits* limits, UnitSystem units) {
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

namespace {

struct Weighting {
    const char* score_table;
    SelectionWeights weights;
    const char* title;
    int32_t Optima::*chosen;
    std::optional<AcceptanceVerdict> Optima::*verdict;
    std::vector<double> RunReport::*scores;
    OptimumHistory RunReport::*history;
};
const Weighting weightings[] = {
    {"disp_rank", {5.0, 1.0, 1.0, 3.0, 0.5}, "\n\n Optimum case for displacement = %ld \n", &Optima::displacement,
     &Optima::displacement_verdict, &RunReport::displacement_scores, &RunReport::displacement},
    {"accel_rank", {1.0, 1.0, 5.0, 3.0, 0.5}, "\n\n Optimum case for acceleration = %ld \n", &Optima::acceleration,
     &Optima::acceleration_verdict, &RunReport::acceleration_scores, &RunReport::acceleration},
};

// The optimum's history rebuilt from its own row: its checks run again, and
// the basis is never that of another trial.  The SRS is that of the history
// the acceleration file holds.
void rebuild_optimum(const ReportContext& context, const WaveletSet& set, int32_t t, ReportWorkspace& w,
                     OptimumHistory& h) {
    const RunSettings& settings = context.settings;
    const size_t nt = static_cast<size_t>(settings.nt);
    h.trial = t;
    synthesize_time_history(set, t, true, context.spec, settings, w.basis, w.history);
    file_acceleration_history(set, t, context.spec, settings, h.file_acceleration);
    h.acceleration.resize(nt);
    for (size_t i = 0; i < nt; ++i) h.acceleration[i] = static_cast<float>(h.file_acceleration[i]);
    h.velocity.resize(nt);
    h.displacement.resize(nt);
    integrate_wavelets(set, t, context.spec, settings, h.velocity.data(), h.displacement.data());
    compute_srs(context.bank, h.acceleration.data(), settings.nt, h.srs, context.srs_kernel);
}

}  // namespace

RunReport choose_optima(const ReportContext& context, const WaveletSet& set, TrialTable& table) {
    const RunSettings& settings = context.settings;
    rank_trials(table);

    RunReport report;
    Optima& optima = report.optima;
    for (int32_t t = 0; t < table.count; ++t) optima.qualifying += table.qualifies(t);

    ReportWorkspace w;
    allocate_basis(w.basis, set.count, settings.nt, false);
    allocate_history(w.history, settings.nt);

    int32_t optimum_trial = 0;
    for (const Weighting& weighting : weightings) {
        std::vector<double>& scores = report.*weighting.scores;
        scores = trial_scores(table, weighting.weights);
        if (!choose_optimum_trial(table, scores, optimum_trial)) {
            optima.chosen = false;
            continue;
        }
        const int32_t t = optimum_trial;
        optima.*weighting.chosen = t;
        OptimumHistory& history = report.*weighting.history;
        if (weighting.chosen == &Optima::acceleration && t == report.displacement.trial) {
            history = report.displacement;
        } else {
            rebuild_optimum(context, set, t, w, history);
        }
        if (context.acceptance != nullptr) {
            optima.*weighting.verdict =
                judge_acceptance(*context.acceptance, compare_with_spec(history.srs, context.spec, w.comparison));
        }
    }
    if (optima.chosen) return report;

    // No candidate: the trial nearest to one.
    optima.closest = closest_trial(table, context.limits, settings.units);
    if (optima.closest >= 0 && context.acceptance != nullptr) {
        file_srs(context, set, optima.closest, w);
        optima.closest_verdict = judge(*context.acceptance, context.spec, w);
    }
    return report;
}

void write_report(TextOutput& out, const ReportContext& context, const RunReport& report, const WaveletSet& set,
                  const TrialTable& table, const OutputNames& names) {
    const RunSettings& settings = context.settings;
    const SrsSpec& spec = context.spec;
    const Optima& optima = report.optima;
    write_rank_file(table, names);
    if (context.selective()) {
        out.print(format("\n\n Trials %s: %ld of %ld \n", qualifying_words(context), static_cast<long>(optima.qualifying),
                         static_cast<long>(table.count)));
    }

    for (const Weighting& weighting : weightings) {
        write_score_table(table, report.*weighting.scores, weighting.score_table, names);
        if (!optima.chosen) continue;
        const OptimumHistory& history = report.*weighting.history;
        const int32_t t = history.trial;
        const std::string wavelet_table = write_wavelet_table(set, t, spec, settings, names);

        // The values the trial loop recorded, read back at the trial's rank positions.
        const size_t i = static_cast<size_t>(t);
        const double accel = table.sort_peak_accel[static_cast<size_t>(table.rank_peak_accel[i])];
        const double velocity_peak = table.sort_peak_velocity[static_cast<size_t>(table.rank_peak_velocity[i])];
        const double displacement_peak =
            table.sort_peak_displacement[static_cast<size_t>(table.rank_peak_displacement[i])];
        const double max_error = table.sort_max_error[static_cast<size_t>(table.rank_max_error[i])];
        out.print(format(weighting.title, static_cast<long>(t)));
        out.print(format("\n   Peak Accel = %12.3f %s    ", accel, unit_table(settings.units).accel));
        out.print(format("\n   Peak Velox = %12.3f %s    ", velocity_peak, unit_table(settings.units).velocity));
        out.print(format("\n   Peak Disp  = %12.3f %s    ", displacement_peak, unit_table(settings.units).displacement));
        if (context.bounds == nullptr) {
            out.print(format("\n   Max Error  = %12.3f dB \n\n", 20.0 * max_error));
        } else {
            out.print(format("\n   Max Error  = %12.3f dB ", 20.0 * max_error));
            const BoundRatios ratios =
                bound_ratios(*context.bounds, bounded_spectrum(spec, settings), accel, velocity_peak, displacement_peak);
            out.print(format("\n   %s \n\n", bound_ratios_text(ratios).c_str()));
        }

        const std::string tag = trial_tag(t);
        const UnitTable& factors = unit_table(settings.units);
        const std::vector<double> velocity = reported_values(history.velocity.data(), settings.nt, factors.velocity_factor);
        const std::vector<double> displacement =
            reported_values(history.displacement.data(), settings.nt, factors.displacement_factor);
        write_accel_file(out, tag, history.file_acceleration, settings, names);
        write_velocity_displacement(out, tag, settings, names, velocity.data(), displacement.data());
        write_srs_file(out, tag, history.srs, spec, settings, names, wavelet_table);
        if (context.acceptance != nullptr) {
            out.print("\n");
            out.print(verdict_lines(*context.acceptance, *(optima.*weighting.verdict), "   "));
        }
        // The CSV copies are new files: a trial chosen twice is written once.
        if (context.csv && !(weighting.chosen == &Optima::acceleration && t == optima.displacement)) {
            write_history_csv(tag, settings, names, history.acceleration.data(), velocity.data(), displacement.data());
            write_wavelets_csv(t, set, spec, settings, names);
        }
    }
    if (optima.chosen) return;

    // No candidate: the trial nearest to one, and why it is not.
    const int32_t c = optima.closest;
    const bool limits = context.limits != nullptr && context.limits->any();
    out.print(format("\n\n No trial is %s. \n", qualifying_words(context)));
    if (c < 0) return;
    if (limits) {
        out.print(format(" Closest: trial %ld, at %s \n", static_cast<long>(c),
                         ratios_text(ratios_of(table, *context.limits, settings.units, c)).c_str()));
        if (context.bounds != nullptr) {
            const size_t i = static_cast<size_t>(c);
            out.print(limit_and_bound_lines(*context.bounds, bounded_spectrum(context.spec, settings), *context.limits,
                                            table.peak_accel[i],
                                            table.peak_velocity[i], table.peak_displacement[i]));
        }
    } else {
        out.print(format(" Closest: trial %ld, the smallest maximum error (%.3f dB) \n", static_cast<long>(c),
                         20.0 * table.max_error[static_cast<size_t>(c)]));
    }
    if (context.acceptance != nullptr) out.print(verdict_lines(*context.acceptance, *optima.closest_verdict, "   "));
    out.print("\n");
}

}  // namespace quorel
