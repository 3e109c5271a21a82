#include "app/command_line.hpp"

#include "engine/run_request.hpp"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <new>
#include <optional>
#include <ostream>

#include "app/check.hpp"
#include "app/export_command.hpp"
#include "app/shared_options.hpp"
#include "base/capacity.hpp"
#include "base/console.hpp"
#include "base/error.hpp"
#include "base/format.hpp"
#include "base/guarded.hpp"
#include "base/option_words.hpp"
#include "base/version.hpp"
#include "engine/engine.hpp"
#include "engine/time_grid.hpp"
#include "plot/plot_program.hpp"
#include "feasibility/bounds.hpp"
#include "optimal/tolerance.hpp"
#include "acceptance/acceptance.hpp"
#include "acceptance/compliance.hpp"
#include "specification/resample.hpp"
#include "specification/spec_reader.hpp"

namespace quorel {

namespace {

const char* const footer = R"(
Every file the dialogue writes is written in the output folder, byte for byte
as the dialogue would write it for the same answers: trials.out, rank_d.out,
disp_rank, accel_rank, and wavelet_, accel_, velox_, disp_ and srs_<n>.out of
the two optimum trials.  Also written, for scripts:
  summary.json        settings, grid, every trial's figures, the optima and their files
  history_<n>.csv     time, acceleration, velocity, displacement of each optimum (%.9g)
  wavelets_<n>.csv    index, frequency, polarity, half-sines, delay (sec), amplitude

Standard output: the time grid, the least peaks any drive of the duration
needs for the specification, warnings (a limit below its least peak among
them), the trial lines, the two optima and the elapsed time.  Errors go to
standard error.

Shaker limits and acceptance rules: the two optima are chosen, with the same
scores, among the trials within every limit given whose SRS passes the rules.
The report counts them; when there is none it names the closest trial with
its ratios peak/limit, and no optimum files are written.  An acceptance file:
  srs = "maximax"          # or "each": both polarities are points
  [[band]]                 # any number of bands
  low = -1.5               # dB, 20 log10(SRS / spec)
  high = 3.0
  min_share = 0.9          # share of points inside (default 1)
  from_hz = 100            # optional frequency range of the band
  to_hz = 10000
  [above_nominal]          # optional: share of points at or above the spec
  min_share = 0.5

Exit status: 0 success; 1 the run failed (specification or acceptance file,
a check of the run, a file that cannot be written, another run using the
folder, --plot failing); 2 the command line is wrong (nothing is touched);
3 no trial is within the limits and passes the acceptance rules (with
--optimize: no optimal drive meets them); 128 + N
signal N (SIGINT, SIGTERM, SIGHUP) stopped the run: 130 for Ctrl-C.

The optimal drive (--optimize): after the trials, the displacement optimum (the
acceleration optimum with --minimize acceleration; the closest trial when none
qualified) is refined by linear programming into the drive of least peak
displacement (or velocity, or acceleration) whose every polarity stays within
the tolerance at every grid frequency, within every limit given, starting and
ending at rest.  It is written as accel_optimal.out, velox_optimal.out,
disp_optimal.out, srs_optimal.out and history_optimal.csv, with an optimal
block in summary.json; the run's status is then that of the optimal drive.

Without any argument quorel asks its questions instead (the dialogue).
quorel check RECORD... judges measured records: see 'quorel check --help'.
quorel export RUN_DIR ... writes a run's drive for a shaker controller: see
'quorel export --help'.
A specification file literally named check is written ./check.

Example:
  quorel -a kelly-richman --spacing 1/3 --damping 0.05 -n 100 -u metric -s 7 \
         -r 20000 -d 0.5 -o run/functional examples/functional.txt)";

struct CommandLine {
    std::string spec_file;
    std::string algorithm = "smallwood";
    std::string spacing = "1/6";
    std::string q;
    std::string damping;
    std::string trials = "200";
    std::string units = "english";
    std::string seed = "1";
    std::string sample_rate;
    std::string points;
    std::string duration;
    std::string output_dir = ".";
    std::string threads;
    std::string max_acceleration, max_velocity, max_displacement, max_force, moving_mass;
    std::string acceptance;
    bool optimize = false;
    std::string minimize = "displacement";
    std::string tolerance;
    bool quiet = false;
    bool no_progress = false;
    bool plot = false;
    bool scalar_srs = false;
    bool dense_synthesis = false;
    bool library_sine = false;
    bool baseline = false;
};

const std::string version_line = std::string("quorel ") + quorel_version + "\n";

// The specification and how its SRS is taken: the grid, the filters, the
// damping; the trials, the units and the random sequence.
void add_spectrum_options(CLI::App& app, CommandLine& c, OptionWords& words) {
    words.takes(app.add_option("SPECFILE", c.spec_file,
                               "Specification: pairs of natural frequency (Hz) and SRS acceleration (G, or m/sec^2 "
                               "with -u si); a file named check is written ./check")
                    ->option_text(" "),
                "the specification file (SPECFILE)");
    add_algorithm_option(app, c.algorithm, words);
    words.takes(app.add_option("--spacing", c.spacing, "Octave spacing of the frequency grid: 1/3, 1/6 or 1/12 (default 1/6)")
                    ->option_text("FRACTION"),
                "1/3, 1/6 or 1/12", one_of({"1/3", "1/6", "1/12"}));
    add_damping_options(app, c.q, c.damping, words);
    words.takes(app.add_option("-n,--trials", c.trials, "Number of trials, 1 to 2000 (default 200)")->option_text("N"),
                "a whole number from 1 to 2000", whole_number_in(1, max_trials));
    add_units_option(app, c.units, words,
                     "english (G, in/sec, in), metric (G, m/sec, mm) or si (m/sec^2, m/sec, mm) (default english)");
    words.takes(app.add_option("-s,--seed", c.seed,
                               "The arbitrary integer that shifts the random sequence, 1 to 2147483647 (default 1)")
                    ->option_text("N"),
                "a whole number from 1 to 2147483647", whole_number_in(1, 2147483647));
}

// The time grid: the sample rate, and the length as samples or as a duration.
void add_time_grid_options(CLI::App& app, CommandLine& c, OptionWords& words) {
    words.takes(app.add_option("-r,--sample-rate", c.sample_rate,
                               "Samples/sec, at least 4 x the top grid frequency (default 10 x the top grid frequency)")
                    ->option_text("SR"),
                "a rate in samples/sec, at least 4 x the top grid frequency",
                real_where([](float v) { return v > 0.0f; }, "above 0"));
    auto* points = words.takes(
        app.add_option("-p,--points", c.points, "Samples in the history, 1 to 99999 (not with --duration)")
            ->option_text("N"),
        "a whole number from 1 to 99999", whole_number_in(1, max_history_samples));
    auto* duration = words.takes(
        app.add_option("-d,--duration", c.duration,
                       "Duration in sec (default 2 / lowest frequency); a longer history than 99999 samples is cut "
                       "to 99999 with a warning (not with --points)")
            ->option_text("SEC"),
        "a duration in sec above 0", real_where([](float v) { return v > 0.0f; }, "above 0"));
    points->excludes(duration);
}

// Where the files go and how many workers run the trials.
void add_output_options(CLI::App& app, CommandLine& c, OptionWords& words) {
    words.takes(app.add_option("-o,--output-dir", c.output_dir, "Folder for every file, created with its parents (default .)")
                    ->option_text("DIR"),
                "the name of a folder",
                ValueRule{"a name", [](const std::string& text) { return text.empty() ? ValueFault::form : ValueFault::none; }});
    words.takes(app.add_option("-j,--threads", c.threads, "Trial workers, 1 to 1024 (default: every hardware thread)")
                    ->option_text("N"),
                "a whole number from 1 to 1024", whole_number_in(1, 1024));
}

// The shaker's limits and the acceptance rules an optimum must meet.
void add_limit_options(CLI::App& app, CommandLine& c, OptionWords& words) {
    const char* const limits =
        "Shaker limits and acceptance rules (only trials within every limit given whose SRS passes the rules can be "
        "optima)";
    auto limit = [&](const char* name, std::string& value, const char* help, const char* text, const char* needs) {
        return words.takes(app.add_option(name, value, help)->option_text(text)->group(limits), needs,
                           real_where([](float v) { return v > 0.0f && std::isfinite(v); }, "above 0"));
    };
    limit("--max-acceleration", c.max_acceleration, "Peak |acceleration|, in the run's acceleration unit", "A",
          "a peak acceleration above 0");
    limit("--max-velocity", c.max_velocity, "Peak |velocity|, in the run's velocity unit", "V", "a peak velocity above 0");
    limit("--max-displacement", c.max_displacement,
          "Peak |displacement| from rest, in the run's displacement unit (half the stroke of a centred armature)", "D",
          "a peak displacement above 0");
    auto* force = limit("--max-force", c.max_force,
                        "Force rating: F >= M x peak acceleration; lbf with english units, N with metric and si "
                        "(needs --moving-mass)",
                        "F", "a force above 0");
    auto* mass = limit("--moving-mass", c.moving_mass,
                       "Moving mass (armature, fixture and test item): lb with english units, kg with metric and si "
                       "(needs --max-force)",
                       "M", "a mass above 0");
    force->needs(mass);
    mass->needs(force);
    words.takes(app.add_option("--acceptance", c.acceptance,
                               "TOML file of acceptance rules (tolerance bands, shares, maximax or each polarity): only "
                               "trials whose SRS passes can be optima")
                    ->option_text("FILE")
                    ->group(limits),
                "the name of an acceptance file");
}

// The optimal drive: what it minimises and the tolerance it keeps.
void add_optimal_options(CLI::App& app, CommandLine& c, OptionWords& words) {
    const char* const optimal = "The optimal drive (after the trials, by linear programming)";
    auto* optimize = app.add_flag("--optimize", c.optimize,
                                  "Refine the optimum into the drive of least peak within the limits and the "
                                  "tolerance: accel_, velox_, disp_, srs_optimal.out, history_optimal.csv")
                         ->group(optimal);
    words.takes(app.add_option("--minimize", c.minimize,
                               "The peak the optimal drive minimises: displacement, velocity or acceleration "
                               "(default displacement; needs --optimize)")
                    ->option_text("PEAK")
                    ->group(optimal)
                    ->needs(optimize),
                "displacement, velocity or acceleration", one_of({"displacement", "velocity", "acceleration"}));
    words.takes(app.add_option("--tolerance", c.tolerance,
                               "Band of each polarity of the optimal drive's SRS, LOW:HIGH in dB (default -1.5:3, "
                               "or the --acceptance bands; needs --optimize)")
                    ->option_text("LOW:HIGH")
                    ->group(optimal)
                    ->needs(optimize),
                "a band LOW:HIGH in dB with LOW < HIGH, e.g. -1.5:3",
                ValueRule{"LOW < HIGH, both within -60 and +60 dB", [](const std::string& text) {
                              const std::optional<ToleranceBand> band = parse_band_text(text, ':');
                              if (!band) return ValueFault::form;
                              return valid_band(band->low_db, band->high_db) ? ValueFault::none : ValueFault::range;
                          }});
}

// What is printed and drawn, and the engine's switches.
void add_flags(CLI::App& app, CommandLine& c) {
    app.add_flag("--quiet", c.quiet, "No trial lines on standard output");
    app.add_flag("--no-progress", c.no_progress, "No progress line on standard error");
    app.add_flag("--plot", c.plot,
                 "Draw and check the two optima as quorel-plot does, in the output folder (by the --acceptance "
                 "rules when given)");
    // Engine switches for benchmarks and comparisons; results are identical.
    app.add_flag("--scalar-srs", c.scalar_srs)->group("");
    app.add_flag("--dense-synthesis", c.dense_synthesis)->group("");
    app.add_flag("--library-sine", c.library_sine)->group("");
    app.add_flag("--baseline", c.baseline)->group("");
}

void define_options(CLI::App& app, CommandLine& c, OptionWords& words) {
    app.description("quorel - SRS synthesis by wavelets: a shock time history whose shock response spectrum meets a specification.");
    app.set_version_flag("--version", std::string("quorel ") + quorel_version);
    app.footer(footer);
    add_spectrum_options(app, c, words);
    add_time_grid_options(app, c, words);
    add_output_options(app, c, words);
    add_limit_options(app, c, words);
    add_optimal_options(app, c, words);
    add_flags(app, c);
}

std::string clock_text(double seconds) {
    const long s = static_cast<long>(seconds);
    if (s >= 3600) return format("%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return format("%ld:%02ld", s / 60, s % 60);
}

// The run's text on standard output; the trial lines unless quiet, and a
// progress line on a terminal's standard error, erased before anything else
// is printed and at the end.
class CommandLineReporter : public RunReporter {
public:
    CommandLineReporter(std::ostream& out, std::ostream& err, bool quiet, bool progress)
        : out_(out), err_(err), quiet_(quiet), progress_(progress), started_(std::chrono::steady_clock::now()) {}
    ~CommandLineReporter() override { finish(); }

    void print(std::string_view text) override {
        hide_progress();
        errno = 0;
        out_ << text;
        check_output(out_);
    }
    void table_heading(std::string_view text) override {
        if (!quiet_) print(text);
    }
    void trial_line(int32_t trial, int32_t count, std::string_view line) override {
        if (!quiet_) {
            print(line);
            flush();
        }
        if (progress_) show_progress(trial + 1, count);
    }
    void optimal_round(const OptimalProgress& progress) override {
        if (!progress_) return;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        if (progress.round == 0) {
            show(format(" optimal drive: solving, %ld constraints   %s elapsed", static_cast<long>(progress.rows),
                        clock_text(elapsed).c_str()));
            return;
        }
        show(format(" optimal drive: round %ld   %.4g %s  %.4g %s  %.4g %s   above the band %+.2f dB   %s elapsed",
                    static_cast<long>(progress.round), progress.peaks.displacement, displacement_unit_,
                    progress.peaks.velocity, velocity_unit_, progress.peaks.acceleration, accel_unit_,
                    progress.worst_excess_db, clock_text(elapsed).c_str()));
    }
    void flush() override {
        errno = 0;
        out_.flush();
        check_output(out_);
    }
    void finish() { hide_progress(); }
    void set_units(const RunSettings& settings) {
        accel_unit_ = unit_table(settings.units).accel;
        velocity_unit_ = unit_table(settings.units).velocity;
        displacement_unit_ = unit_table(settings.units).displacement;
    }

private:
    void show_progress(int32_t done, int32_t count) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        const double left = done > 0 ? elapsed * (count - done) / done : 0.0;
        show(format(" trial %ld of %ld   %s elapsed   %s left", static_cast<long>(done), static_cast<long>(count),
                    clock_text(elapsed).c_str(), clock_text(left).c_str()));
    }
    void show(std::string text) {
        const size_t width = text.size();
        if (text.size() < shown_width_) text.append(shown_width_ - text.size(), ' ');
        err_ << '\r' << text << std::flush;
        shown_width_ = width;
    }
    void hide_progress() {
        if (shown_width_ == 0) return;
        err_ << '\r' << std::string(shown_width_, ' ') << '\r' << std::flush;
        shown_width_ = 0;
    }

    std::ostream& out_;
    std::ostream& err_;
    bool quiet_;
    bool progress_;
    std::chrono::steady_clock::time_point started_;
    size_t shown_width_ = 0;
    const char* accel_unit_ = "";
    const char* velocity_unit_ = "";
    const char* displacement_unit_ = "";
};

// The text of the run's preparation, on standard output.
class StreamText : public TextOutput {
public:
    explicit StreamText(std::ostream& out) : out_(out) {}
    void print(std::string_view text) override { out_ << text; }

private:
    std::ostream& out_;
};

RunRequest request_of(const CommandLine& c) {
    RunRequest request;
    request.spec_file = c.spec_file;
    request.algorithm = algorithm_answer(c.algorithm);
    request.spacing = octave_spacing_named(c.spacing).value_or(OctaveSpacing::sixth);
    const DampingGiven damping = damping_given(c.q, c.damping);
    request.q = damping.q;
    request.damping = damping.damping;
    request.trials = static_cast<int32_t>(*decimal_integer(c.trials));
    request.units = *unit_system_named(c.units);
    request.seed = static_cast<int32_t>(*decimal_integer(c.seed));
    if (!c.sample_rate.empty()) request.sample_rate = decimal_real(c.sample_rate);
    if (!c.sample_rate.empty()) request.sample_rate_text = "--sample-rate " + c.sample_rate;
    if (!c.points.empty()) request.points = static_cast<int32_t>(*decimal_integer(c.points));
    if (!c.duration.empty()) request.duration = decimal_real(c.duration);
    request.output_dir = c.output_dir;
    request.threads = c.threads.empty() ? 0 : static_cast<int32_t>(*decimal_integer(c.threads));
    auto limit = [](const std::string& text) { return text.empty() ? std::nullopt : std::optional(decimal_real(text)); };
    request.limits.acceleration = limit(c.max_acceleration);
    request.limits.velocity = limit(c.max_velocity);
    request.limits.displacement = limit(c.max_displacement);
    request.limits.force = limit(c.max_force);
    request.limits.moving_mass = limit(c.moving_mass);
    if (c.optimize) {
        OptimalRequest optimal;
        optimal.options.minimise = c.minimize == "velocity"       ? MinimisedPeak::velocity
                                   : c.minimize == "acceleration" ? MinimisedPeak::acceleration
                                                                  : MinimisedPeak::displacement;
        if (!c.tolerance.empty()) optimal.tolerance = parse_tolerance(c.tolerance);
        request.optimal = optimal;
    }
    return request;
}

int run(const CommandLine& c, std::ostream& out, std::ostream& err, bool err_is_terminal, StopRequest* stop) {
    RunRequest request = request_of(c);
    if (!c.acceptance.empty()) request.acceptance = read_acceptance_file(c.acceptance);
    StreamText preparation(out);
    PreparedRun prepared = prepare_run(request, preparation);
    RunSettings& settings = prepared.settings;
    EngineOptions& options = prepared.options;
    if (c.scalar_srs || c.baseline) options.kernels.srs = SrsKernel::scalar;
    if (c.dense_synthesis || c.baseline) options.kernels.dense_synthesis = true;
    if (c.library_sine || c.baseline) options.kernels.basis_sine = SineKernel::library;
    if (c.baseline) options.threads = 1;
    options.stop = stop;
    // Plots that cannot be drawn would fail the run at its very end.
    if (c.plot) plot::check_gnuplot_runs();

    settings.start_time = static_cast<double>(std::time(nullptr));
    RunResults results;
    {
        CommandLineReporter reporter(out, err, c.quiet, err_is_terminal && !c.no_progress);
        reporter.set_units(settings);
        results = run_synthesis(settings, prepared.spec, prepared.names, options, reporter);
    }
    out << elapsed_time_text(settings.start_time, static_cast<double>(std::time(nullptr)));
    out.flush();
    check_output(out);

    // With the optimal drive, the run is met when the drive is.
    if (results.optimal ? !results.optimal->meets() : !results.report.optima.chosen) return exit_not_met;
    // (The plots are of the optima; with no trial chosen there are none.)
    if (!c.plot || !results.report.optima.chosen) return exit_success;
    plot::PlotRequest plot_request;
    plot_request.spec_file = c.spec_file;
    plot_request.directory = c.output_dir;
    // The plots' compliance tables judge by the run's own rules.
    plot_request.acceptance = options.acceptance;
    const Optima& optima = results.report.optima;
    plot_request.trials = {optima.displacement};
    if (optima.acceleration != optima.displacement) plot_request.trials.push_back(optima.acceleration);
    // A signal while plotting stops before the next trial's plots.
    const CatchingStops catching(stop);
    if (stop != nullptr) plot_request.stop = &stop->signal;
    return plot::draw_run(plot_request, out, err);
}

}  // namespace

int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     bool err_is_terminal, StopRequest* stop) {
    CLI::App app{"", "quorel"};
    CommandLine c;
    OptionWords words;
    app.formatter(std::make_shared<HelpFormatter>());   // before the subcommand, which takes it over
    define_options(app, c, words);
    CheckCommand check_command;
    CLI::App* check = add_check_command(app, check_command, words);
    check->set_version_flag("--version", std::string("quorel ") + quorel_version);
    ExportCommand export_command;
    CLI::App* exporting = add_export_command(app, export_command, words);
    exporting->set_version_flag("--version", std::string("quorel ") + quorel_version);
    app.require_subcommand(0, 1);
    try {
        // CLI11 takes the arguments last first.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
        // The synthesis's options belong to the synthesis: before `check` they
        // are a mistake, not a setting of the check.
        if (check->parsed() && (args.empty() || args.front() != "check")) {
            err << "quorel check: the synthesis's options do not go with check: give the options of quorel check "
                   "after the word check\nRun 'quorel check --help' for usage.\n";
            return exit_usage_error;
        }
        if (exporting->parsed() && (args.empty() || args.front() != "export")) {
            err << "quorel export: the synthesis's options do not go with export: give the options of quorel export "
                   "after the word export\nRun 'quorel export --help' for usage.\n";
            return exit_usage_error;
        }
        if (!check->parsed() && !exporting->parsed() && c.spec_file.empty()) {
            err << "quorel: the specification file (SPECFILE) is missing\nRun 'quorel --help' for usage.\n";
            return exit_usage_error;
        }
    } catch (const CLI::CallForHelp&) {
        // A help that cannot be written fails, as any output does.
        return guarded_status(out, err, [&] { return print_all(out, app.help()), exit_success; });
    } catch (const CLI::CallForVersion&) {
        return guarded_status(out, err, [&] { return print_all(out, version_line), exit_success; });
    } catch (const CLI::ParseError& error) {
        if (check->parsed()) {
            err << "quorel check: " << words.message(*check, error) << "\nRun 'quorel check --help' for usage.\n";
        } else if (exporting->parsed()) {
            err << "quorel export: " << words.message(*exporting, error) << "\nRun 'quorel export --help' for usage.\n";
        } else {
            err << "quorel: " << words.message(app, error) << "\nRun 'quorel --help' for usage.\n";
        }
        return exit_usage_error;
    }
    int status = check->parsed()       ? run_check(check_command, out, err, stop)
                 : exporting->parsed() ? run_export(export_command, out, err)
                                       : guarded_status(out, err, [&] { return run(c, out, err, err_is_terminal, stop); });
    // A run that failed because a signal stopped it.
    if (status == exit_run_error && stop != nullptr && stop->signal.load() != 0) {
        status = interrupted_status(stop->signal.load());
    }
    return status;
}

}  // namespace quorel
