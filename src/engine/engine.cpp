#include "engine/engine.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <new>
#include <optional>
#include <thread>

#include "base/capacity.hpp"
#include "base/error.hpp"
#include "base/format.hpp"
#include "base/numeric.hpp"
#include "base/output_file.hpp"
#include "base/random.hpp"
#include "base/version.hpp"
#include "report/summary.hpp"
#include "srs/spectrum_error.hpp"
#include "srs/filter_bank.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

namespace {

// Bands whose frequency ranges miss the grid are an error before any trial.
void check_acceptance_ranges(const AcceptanceRules& acceptance, const SrsSpec& spec) {
    GridComparison grid;
    check_band_ranges(acceptance, compare_with_spec(SrsResult{}, spec, grid).freq);
}

void create_output_folder(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        throw QuorelError(
            format("\n Error: cannot create the output folder %s: %s \n", directory.c_str(), error.message().c_str()));
    }
}

// The trial table's heading, on the console and in the log.
void write_table_heading(RunReporter& reporter, OutputFile* trial_log, UnitSystem units) {
    const char* headers[] = {"\n           Peak        Peak         Peak         ",
                             "\n Trial     Accel       Vel          Disp      T.Error      I.Error",
                             unit_table(units).log_heading};
    for (const char* header : headers) {
        reporter.table_heading(header);
        if (trial_log) trial_log->write(header);
    }
    if (trial_log) trial_log->flush();
}

int32_t worker_count(int32_t threads) {
    return threads > 0 ? threads : static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
}

// Which trials stay within every shaker limit given.
void mark_within_limits(TrialTable& table, const DriveLimits& limits, UnitSystem units) {
    for (int32_t t = 0; t < table.count; ++t) {
        const size_t i = static_cast<size_t>(t);
        table.within_limits[i] =
            limit_ratios(limits, units, table.peak_accel[i], table.peak_velocity[i], table.peak_displacement[i])
                .within();
    }
}

}  // namespace

std::string elapsed_time_text(double start_seconds, double now_seconds) {
    const double diff = now_seconds - start_seconds;
    if (!(diff > 0.0)) return {};
    const long seconds_total = static_cast<long>(diff);
    const long hours = seconds_total / 3600;
    const long minutes = (seconds_total - 3600 * hours) / 60;
    const long seconds = seconds_total - 60 * minutes - 3600 * hours;
    return "\n\n Elapsed time (hr:min:sec)\n" + format("      = %ld:%ld:%ld \n", hours, minutes, seconds);
}

RunResults run_synthesis(const RunSettings& settings, const SrsSpec& spec, OutputNames names,
                         const EngineOptions& options, RunReporter& reporter) {
    const auto started = std::chrono::steady_clock::now();
    RunResults results;
    if (settings.nt >= max_samples) throw QuorelError("\n\n Error: too many samples.\n\n");

    const AcceptanceRules* acceptance = options.acceptance ? &*options.acceptance : nullptr;
    if (acceptance != nullptr) check_acceptance_ranges(*acceptance, spec);

    SrsFilterBank bank;
    reporter.print("\n");
    prepare_srs_filters(settings, spec, two_pi(), bank);

    if (options.write_files && !names.directory.empty()) create_output_folder(names.directory);
    std::optional<OutputFile> trial_log;
    if (options.write_files) trial_log.emplace(names.path(names.trials), OutputFile::Kind::trial_log);
    const CatchingStops catching(options.stop);
    const std::atomic<int>* stop = options.stop != nullptr ? &options.stop->signal : nullptr;
    // A summary left by an earlier run in this folder would pass for this one's.
    if (trial_log) std::remove(names.path(names.summary).c_str());

    try {
        write_table_heading(reporter, trial_log ? &*trial_log : nullptr, settings.units);
        if (options.stop_before_trials) {
            if (trial_log) trial_log->close();
            return results;
        }

        WaveletSet& set = results.set;
        allocate_rows(set, spec.count, settings.trial_count);
        set_wavelet_constants(spec, set);

        const int32_t threads = worker_count(options.threads);
        const TrialContext context{settings, spec, bank, options.kernels, acceptance, stop};
        RandomGenerator rng;
        discard_draws(rng, settings.seed);
        run_trials(reporter, trial_log ? &*trial_log : nullptr, context, rng, set, results.table, threads);
        if (trial_log) trial_log->flush();
        check_stop(stop);

        TrialTable& table = results.table;
        mark_within_limits(table, options.limits, settings.units);
        const FeasibilityBounds* bounds = options.bounds ? &*options.bounds : nullptr;
        const ReportContext report{settings, spec, bank, options.kernels.srs, options.machine_readable,
                                   &options.limits, acceptance, bounds};
        results.report = choose_optima(report, set, table);
        if (options.optimal) {
            const FeasibilityBounds least =
                bounds != nullptr ? *bounds
                                  : feasibility_bounds(BoundedSpectrum{spec.freq.data(), spec.accel.data(), spec.count,
                                                                       static_cast<double>(settings.damping),
                                                                       settings.units, options.limits.moving_mass},
                                                       static_cast<double>(settings.nt) * static_cast<double>(settings.dt));
            results.optimal = run_optimal(report, results.report, set, table, *options.optimal, least, stop, reporter);
        }
        if (!trial_log) return results;
        write_report(reporter, report, results.report, set, table, names);
        std::optional<Json> optimal_summary;
        if (results.optimal) {
            const OptimalReport& optimal = *results.optimal;
            reporter.print(optimal_block(optimal, settings, spec));
            if (optimal.meets()) {
                write_optimal_files(reporter, optimal, settings, spec, names, acceptance, options.machine_readable);
            }
            optimal_summary = optimal_json(optimal, spec, options.limits, names, optimal.meets());
        }
        // The summary says the run is complete: only once everything else is.
        reporter.flush();
        check_stop(stop);
        if (options.machine_readable) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            write_summary(SummaryInputs{quorel_version, options.spec_file, elapsed, settings, spec, table,
                                        results.report.optima, names, &options.limits, acceptance, bounds,
                                        optimal_summary ? &*optimal_summary : nullptr});
        }
        trial_log->close();
    } catch (const QuorelError& error) {
        // The log keeps the trials that ran and ends, like the console, with the
        // message that stopped the run: it cannot pass for a finished log.
        if (trial_log) trial_log->abandon_with(error.what());
        throw;
    } catch (const std::bad_alloc&) {
        if (trial_log) trial_log->abandon_with("\n Error: out of memory \n");
        throw;
    }
    return results;
}

}  // namespace quorel
