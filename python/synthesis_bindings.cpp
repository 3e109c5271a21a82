// quorel.read_spec, quorel.grid and quorel.synthesize: the specification,
// its synthesis grid, and the synthesis with the command line's results.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "arguments.hpp"
#include "base/capacity.hpp"
#include "base/format.hpp"
#include "base/version.hpp"
#include "bindings.hpp"
#include "engine/engine.hpp"
#include "engine/run_request.hpp"
#include "engine/time_grid.hpp"
#include "long_call.hpp"
#include "optimal/optimal_report.hpp"
#include "optimal/tolerance.hpp"
#include "report/result_files.hpp"
#include "report/summary.hpp"
#include "specification/spec_reader.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace quorel::python {

namespace {

// A list of objects as one array per key, of kind 'i' int32, 'b' bool or
// 'd' float64; None for a key whose value is null.
py::dict columns(const Json& rows, std::initializer_list<std::pair<const char*, char>> keys) {
    py::dict table;
    const size_t n = rows.size();
    for (const auto& [key, kind] : keys) {
        if (n > 0 && rows[0][key].is_null()) {
            table[key] = py::none();
        } else if (kind == 'i') {
            table[key] = array_of<int32_t>(n, [&](size_t i) { return rows[i][key].get<int32_t>(); });
        } else if (kind == 'b') {
            table[key] = array_of<bool>(n, [&](size_t i) { return rows[i][key].get<bool>(); });
        } else {
            table[key] = array_of<double>(n, [&](size_t i) { return rows[i][key].get<double>(); });
        }
    }
    return table;
}

// What summary.json holds of an optimum, with its history, SRS and wavelet
// table as the CSV and .out files hold them.
py::dict optimum_object(const Json& summary, const OptimumHistory& h, const PreparedRun& run, const RunResults& results) {
    py::dict optimum = python_value(summary);
    if (!run.options.write_files) optimum["files"] = py::none();
    const RunSettings& settings = run.settings;
    const SrsSpec& spec = run.spec;
    const size_t nt = h.acceleration.size();
    const UnitTable& factors = unit_table(settings.units);
    optimum["time"] = array_of<double>(
        nt, [&](size_t j) { return static_cast<double>(sample_time(static_cast<int32_t>(j), settings.dt)); });
    optimum["acceleration"] = array_of<double>(nt, [&](size_t j) { return static_cast<double>(h.acceleration[j]); });
    optimum["velocity"] = array_of<double>(nt, [&](size_t j) { return reported_value(h.velocity[j], factors.velocity_factor); });
    optimum["displacement"] =
        array_of<double>(nt, [&](size_t j) { return reported_value(h.displacement[j], factors.displacement_factor); });
    const size_t n = static_cast<size_t>(spec.count);
    optimum["srs_positive"] = array_of<double>(n, [&](size_t j) { return static_cast<double>(h.srs.xmax[j]); });
    optimum["srs_negative"] = array_of<double>(n, [&](size_t j) { return static_cast<double>(h.srs.xmin[j]); });
    std::vector<TableWavelet> wavelets(n);
    for (size_t k = 0; k < n; ++k) wavelets[k] = table_wavelet(results.set, h.trial, static_cast<int32_t>(k));
    py::dict table;
    table["index"] = array_of<int32_t>(n, [](size_t k) { return static_cast<int32_t>(k); });
    table["frequency"] = array_of<double>(n, [&](size_t k) { return static_cast<double>(spec.freq[k]); });
    table["polarity"] = array_of<int32_t>(n, [&](size_t k) { return wavelets[k].polarity; });
    table["half_sines"] = array_of<int32_t>(n, [&](size_t k) { return wavelets[k].half_sines; });
    table["delay"] = array_of<double>(n, [&](size_t k) { return static_cast<double>(wavelets[k].delay); });
    table["amplitude"] = array_of<double>(n, [&](size_t k) { return wavelets[k].amplitude; });
    optimum["wavelets"] = table;
    return optimum;
}

// What summary.json holds of the optimal drive, with its history and SRS.
py::dict optimal_object(const Json& summary, const OptimalReport& optimal, const PreparedRun& run) {
    py::dict out = python_value(summary);
    const OptimalDrive& drive = optimal.drive;
    const size_t nt = drive.acceleration.size();
    out["time"] = array_of<double>(
        nt, [&](size_t j) { return static_cast<double>(sample_time(static_cast<int32_t>(j), run.settings.dt)); });
    out["acceleration"] = array_of<double>(nt, [&](size_t j) { return static_cast<double>(drive.acceleration[j]); });
    out["velocity"] = array_of<double>(nt, [&](size_t j) { return drive.motion.velocity[j]; });
    out["displacement"] = array_of<double>(nt, [&](size_t j) { return drive.motion.displacement[j]; });
    const size_t n = static_cast<size_t>(run.spec.count);
    out["srs_positive"] = array_of<double>(n, [&](size_t j) { return static_cast<double>(drive.srs.xmax[j]); });
    out["srs_negative"] = array_of<double>(n, [&](size_t j) { return static_cast<double>(drive.srs.xmin[j]); });
    return out;
}

struct SynthesisResult {
    py::object settings, units, grid, trials, limits, acceptance, bounds, qualifying_trials, optimum, closest,
        optimal, spec_file, output_dir;
};

SynthesisResult synthesis_result(const PreparedRun& run, const RunResults& results) {
    const AcceptanceRules* acceptance = run.options.acceptance ? &*run.options.acceptance : nullptr;
    const FeasibilityBounds* bounds = run.options.bounds ? &*run.options.bounds : nullptr;
    std::optional<Json> optimal;
    if (results.optimal) {
        optimal = optimal_json(*results.optimal, run.spec, run.options.limits, run.names,
                               run.options.write_files && results.optimal->meets());
    }
    const Json summary = summary_document(SummaryInputs{quorel_version, run.options.spec_file, 0.0, run.settings,
                                                        run.spec, results.table, results.report.optima, run.names,
                                                        &run.options.limits, acceptance, bounds,
                                                        optimal ? &*optimal : nullptr});
    SynthesisResult r;
    r.settings = python_value(summary["settings"]);
    r.units = python_value(summary["units"]);
    r.grid = columns(summary["grid"], {{"frequency", 'd'}, {"spec", 'd'}});
    r.trials = columns(summary["trials"], {{"trial", 'i'},
                                           {"peak_acceleration", 'd'},
                                           {"peak_velocity", 'd'},
                                           {"peak_displacement", 'd'},
                                           {"total_error_db", 'd'},
                                           {"max_error_db", 'd'},
                                           {"iterations", 'i'},
                                           {"within_limits", 'b'},
                                           {"passes", 'b'}});
    r.limits = python_value(summary["limits"]);
    r.acceptance = python_value(summary["acceptance"]);
    r.bounds = python_value(summary["bounds"]);
    r.qualifying_trials = python_value(summary["qualifying_trials"]);
    r.closest = python_value(summary["closest"]);
    r.spec_file = python_value(summary["spec_file"]);
    r.output_dir = run.options.write_files ? py::object(py::str(run.names.directory.empty() ? "." : run.names.directory))
                                           : py::none();
    if (summary["optimum"].is_null()) {
        r.optimum = py::none();
    } else {
        py::dict optimum;
        optimum["displacement"] =
            optimum_object(summary["optimum"]["displacement"], results.report.displacement, run, results);
        optimum["acceleration"] =
            optimum_object(summary["optimum"]["acceleration"], results.report.acceleration, run, results);
        r.optimum = optimum;
    }
    r.optimal = results.optimal ? py::object(optimal_object(summary["optimal"], *results.optimal, run)) : py::none();
    return r;
}

// The run's trials as progress steps; the text of the run is not shown.
class ProgressReporter : public RunReporter {
public:
    explicit ProgressReporter(LongCall& call) : call_(call) {}
    void print(std::string_view) override {}
    void table_heading(std::string_view) override {}
    void trial_line(int32_t trial, int32_t count, std::string_view) override { call_.post_progress(trial + 1, count); }

private:
    LongCall& call_;
};

py::tuple read_spec(const py::object& path) {
    SrsSpec spec;
    DiscardText quiet;
    load_spec_points(quiet, path_text(path), spec);
    const size_t n = static_cast<size_t>(spec.input_count);
    return py::make_tuple(array_of<double>(n, [&](size_t i) { return static_cast<double>(spec.input_freq[i]); }),
                          array_of<double>(n, [&](size_t i) { return static_cast<double>(spec.input_accel[i]); }));
}

py::tuple grid(const py::object& frequency, const py::object& acceleration, const std::string& spacing) {
    std::vector<float> freq, accel;
    spec_points(py::make_tuple(frequency, acceleration), freq, accel);
    SrsSpec spec;
    set_spec_points(spec_points_name, freq.data(), accel.data(), static_cast<int32_t>(freq.size()), spec);
    PreparationText text;
    if (build_octave_grid(spec, octave_fraction(spacing_of(spacing)))) {
        text.print("Warning: number of specification points reduced.");
    }
    text.warn();
    const size_t n = static_cast<size_t>(spec.count);
    return py::make_tuple(array_of<double>(n, [&](size_t i) { return static_cast<double>(spec.freq[i]); }),
                          array_of<double>(n, [&](size_t i) { return static_cast<double>(spec.accel[i]); }));
}

SynthesisResult synthesize(const py::object& spec, int64_t trials, int64_t seed, const py::object& q,
                           const py::object& damping, const std::string& spacing, const std::string& units,
                           const std::string& algorithm, const py::object& sample_rate, const py::object& points,
                           const py::object& duration, const py::object& max_acceleration,
                           const py::object& max_velocity, const py::object& max_displacement,
                           const py::object& max_force, const py::object& moving_mass, const py::object& acceptance,
                           int64_t threads, const py::object& output_dir, const py::object& progress,
                           bool optimize, const std::string& minimize, const py::object& tolerance) {
    RunRequest request;
    if (is_path(spec)) {
        request.spec_file = path_text(spec);
    } else {
        spec_points(spec, request.spec_freq, request.spec_accel);
        request.spec_given = true;
        request.spec_name = spec_points_name;
    }
    request.algorithm = algorithm_of(algorithm);
    request.spacing = spacing_of(spacing);
    const DampingArgument given = damping_argument(q, damping);
    request.q = given.q;
    request.damping = given.damping;
    request.trials = whole_in(trials, "trials", 1, max_trials);
    request.units = units_of(units);
    request.seed = whole_in(seed, "seed", 1, 2147483647);
    request.sample_rate = positive_real(sample_rate, "sample_rate");
    if (request.sample_rate) request.sample_rate_text = "sample_rate=" + py::repr(sample_rate).cast<std::string>();
    if (!points.is_none() && !duration.is_none()) refuse("points and duration: give one of them");
    if (!points.is_none()) {
        if (!py::isinstance<py::int_>(points)) throw py::type_error("points: an integer is needed");
        request.points = whole_in(points.cast<int64_t>(), "points", 1, max_history_samples);
    }
    request.duration = positive_real(duration, "duration");
    request.threads = whole_in(threads, "threads", 0, 1024);
    request.limits.acceleration = positive_real(max_acceleration, "max_acceleration");
    request.limits.velocity = positive_real(max_velocity, "max_velocity");
    request.limits.displacement = positive_real(max_displacement, "max_displacement");
    request.limits.force = positive_real(max_force, "max_force");
    request.limits.moving_mass = positive_real(moving_mass, "moving_mass");
    if (request.limits.force.has_value() != request.limits.moving_mass.has_value()) {
        refuse(request.limits.force ? "max_force needs moving_mass" : "moving_mass needs max_force");
    }
    if (!progress.is_none() && !PyCallable_Check(progress.ptr())) refuse("progress: a callable is needed");
    request.acceptance = acceptance_argument(acceptance);
    request.output_dir = output_dir.is_none() ? std::nullopt : std::optional(path_text(output_dir));
    if (!optimize && (minimize != "displacement" || !tolerance.is_none())) {
        refuse("minimize and tolerance need optimize=True");
    }
    if (optimize) {
        OptimalRequest optimal;
        if (minimize == "displacement") {
            optimal.options.minimise = MinimisedPeak::displacement;
        } else if (minimize == "velocity") {
            optimal.options.minimise = MinimisedPeak::velocity;
        } else if (minimize == "acceleration") {
            optimal.options.minimise = MinimisedPeak::acceleration;
        } else {
            refuse("minimize: \"displacement\", \"velocity\" or \"acceleration\" is needed, not \"" + minimize + "\"");
        }
        if (py::isinstance<py::str>(tolerance)) {
            optimal.tolerance = parse_tolerance(tolerance.cast<std::string>());
        } else if (!tolerance.is_none()) {
            const auto pair = tolerance.cast<std::pair<double, double>>();
            optimal.tolerance = parse_tolerance(format("%.17g:%.17g", pair.first, pair.second));
        }
        request.optimal = optimal;
    }

    PreparationText text;
    PreparedRun run = prepare_run(request, text);
    text.warn();
    LongCall call;
    run.options.stop = &call.stop();
    ProgressReporter reporter(call);
    RunResults results;
    call.run([&] { results = run_synthesis(run.settings, run.spec, run.names, run.options, reporter); }, progress);
    return synthesis_result(run, results);
}

}  // namespace

void bind_synthesis(py::module_& m) {
    py::class_<SynthesisResult>(m, "SynthesisResult", R"(The results of quorel.synthesize.

Attributes:
    settings: dict of the run's settings, as summary.json's "settings":
        algorithm, spacing, damping_ratio, q, trials, units, seed,
        sample_rate (samples/sec), dt (sec), duration (sec), samples.
    units: dict of the unit labels: acceleration, velocity, displacement.
    grid: dict of arrays: "frequency" (Hz) and "spec" (acceleration unit),
        the synthesis grid and the specification on it.
    trials: dict of arrays, one entry per trial (summary.json's trials):
        trial, peak_acceleration, peak_velocity, peak_displacement (the
        run's units), total_error_db, max_error_db, iterations,
        within_limits; passes (None without acceptance rules).
    limits: dict of the shaker limits given (None for those not given).
    acceptance: the acceptance rules as summary.json holds them, or None.
    bounds: the least peaks any drive of the run's duration needs for the
        specification (summary.json's "bounds"): acceleration, velocity
        (each value and frequency), displacement (value, frequency and
        peak_velocity, the drive's peak velocity it holds within, None at
        zero damping; None where no bound holds for every drive: with
        damping and no max_velocity), force, duration.
    qualifying_trials: trials within the limits that pass the rules.
    optimum: None when no trial qualifies, else a dict with "displacement"
        and "acceleration", each a dict: trial, peak_acceleration,
        peak_velocity, peak_displacement, max_error_db, acceptance (the
        verdict, or None), files (None when nothing was written), and the
        arrays time (sec), acceleration, velocity, displacement (the run's
        units, as history_<n>.csv holds them), srs_positive, srs_negative
        (at grid["frequency"], as srs_<n>.out holds them) and wavelets (a
        dict of arrays: index, frequency, polarity, half_sines, delay in
        sec, amplitude, as wavelets_<n>.csv holds them).
    closest: None, or when no trial qualifies: trial, limit_ratios,
        acceptance, as summary.json's "closest".
    optimal: None without optimize=True, else summary.json's "optimal"
        (minimised, start_trial, meets, the peaks, bound_ratios,
        srs_margins, bands, violations, limit_ratios, acceptance, solver,
        files) with the arrays time, acceleration, velocity, displacement
        and srs_positive, srs_negative of the optimal drive.  When meets is
        False it is the closest drive found (the command line's status 3).
    spec_file: the specification file, or None for given points.
    output_dir: the folder written, or None.)")
        .def_readonly("settings", &SynthesisResult::settings)
        .def_readonly("units", &SynthesisResult::units)
        .def_readonly("grid", &SynthesisResult::grid)
        .def_readonly("trials", &SynthesisResult::trials)
        .def_readonly("limits", &SynthesisResult::limits)
        .def_readonly("acceptance", &SynthesisResult::acceptance)
        .def_readonly("bounds", &SynthesisResult::bounds)
        .def_readonly("qualifying_trials", &SynthesisResult::qualifying_trials)
        .def_readonly("optimum", &SynthesisResult::optimum)
        .def_readonly("closest", &SynthesisResult::closest)
        .def_readonly("optimal", &SynthesisResult::optimal)
        .def_readonly("spec_file", &SynthesisResult::spec_file)
        .def_readonly("output_dir", &SynthesisResult::output_dir)
        .def("__repr__", [](const SynthesisResult& r) {
            const std::string trials = py::str(r.settings["trials"]);
            if (r.optimum.is_none()) {
                return "<quorel.SynthesisResult: " + trials + " trials, none qualifies>";
            }
            return "<quorel.SynthesisResult: " + trials + " trials, optima " +
                   py::str(r.optimum["displacement"]["trial"]).cast<std::string>() + " (displacement) and " +
                   py::str(r.optimum["acceleration"]["trial"]).cast<std::string>() + " (acceleration)>";
        });

    m.def("read_spec", &read_spec, py::arg("path"), R"(Reads a specification file with the engine's reader.

Args:
    path: the file (str or os.PathLike): pairs of natural frequency (Hz)
        and SRS acceleration (G, or m/sec^2 for units="si").

Returns:
    (frequency, acceleration): float64 arrays of the points as read, each
    value rounded to float as the programs read it.

Raises:
    QuorelError: the file cannot be read, a token is not a number, or the
        points are not 1 to 125 positive values in ascending frequency.)");

    m.def("grid", &grid, py::arg("frequency"), py::arg("acceleration"), py::arg("spacing") = "1/6",
          R"(The synthesis grid of a specification and the specification on it.

Args:
    frequency: the specification's frequencies (Hz), ascending.
    acceleration: its SRS accelerations at those frequencies.
    spacing: "1/3", "1/6" or "1/12" octave.

Returns:
    (frequency, spec): float64 arrays: the grid from the first to the last
    frequency in steps of the spacing, and the specification there
    (straight lines in log-log coordinates).  A grid of more than 125
    frequencies is cut to the lowest 125 with a UserWarning.)");

    m.def("synthesize", &synthesize, py::arg("spec"), py::kw_only(), py::arg("trials") = 200, py::arg("seed") = 1,
          py::arg_v("q", py::none(), "10"), py::arg("damping") = py::none(), py::arg("spacing") = "1/6",
          py::arg("units") = "english", py::arg("algorithm") = "smallwood", py::arg("sample_rate") = py::none(),
          py::arg("points") = py::none(), py::arg("duration") = py::none(), py::arg("max_acceleration") = py::none(),
          py::arg("max_velocity") = py::none(), py::arg("max_displacement") = py::none(),
          py::arg("max_force") = py::none(), py::arg("moving_mass") = py::none(), py::arg("acceptance") = py::none(),
          py::arg("threads") = 0, py::arg("output_dir") = py::none(), py::arg("progress") = py::none(),
          py::arg("optimize") = false, py::arg("minimize") = "displacement", py::arg("tolerance") = py::none(),
          R"(Synthesizes a shock history whose SRS meets a specification.

Runs the random trials of the command line, each refined by amplitude
correction, ranks them and chooses the displacement-weighted and the
acceleration-weighted optimum among the trials within the limits that pass
the acceptance rules.  Real arguments are rounded once to float, as the
command line reads them.

Args:
    spec: a specification file (str or os.PathLike), or a (frequency,
        acceleration) pair of arrays: natural frequencies in Hz, SRS
        accelerations in G (m/sec^2 with units="si").
    trials: number of random trials, 1 to 2000.
    seed: the integer that shifts the random sequence, 1 to 2147483647.
    q: SRS damping as the amplification factor Q, above 0.5 (10 when
        neither q nor damping is given).
    damping: SRS damping as a ratio of critical, 0 <= damping < 1 (not with q).
    spacing: octave spacing of the frequency grid: "1/3", "1/6" or "1/12".
    units: "english" (G, in/sec, inch), "metric" (G, m/sec, mm) or "si"
        (m/sec^2, m/sec, mm): the units of every result.
    algorithm: SRS filters: "smallwood" or "kelly-richman".
    sample_rate: samples/sec, at least 4 x the top grid frequency
        (default 10 x the top grid frequency).
    points: samples in the history, 1 to 99999 (not with duration).
    duration: length of the history in sec (default 2 / lowest frequency);
        a history of 100000 samples or more is cut to 99999 with a warning.
    max_acceleration: shaker limit on peak |acceleration|, acceleration unit.
    max_velocity: limit on peak |velocity|, in/sec or m/sec.
    max_displacement: limit on peak |displacement| from rest, inch or mm
        (half the stroke of a centred armature).
    max_force: force rating F >= M x peak acceleration: lbf with english
        units, N otherwise (needs moving_mass).
    moving_mass: moving mass M (armature, fixture, test item): lb with
        english units, kg otherwise (needs max_force).
    acceptance: acceptance rules: a TOML file (str or os.PathLike), or a
        dict with its keys, e.g. {"srs": "maximax", "band": [{"low": -1.5,
        "high": 3, "min_share": 0.9}], "above_nominal": {"min_share": 0.5}}.
    threads: trial workers, 0 (every hardware thread) to 1024; the results
        are the same for any number.
    output_dir: a folder (created with its parents) where exactly the files
        of the command line are written; None writes nothing at all.
    progress: a callable progress(done, total) called on the calling thread
        after each trial.
    optimize: after the trials, refine the optimum into the optimal drive
        by linear programming (the command line's --optimize): the drive of
        least peak within the limits and the tolerance, at rest at both ends.
    minimize: the peak the optimal drive minimises: "displacement",
        "velocity" or "acceleration" (needs optimize).
    tolerance: the band of each polarity of the optimal drive's SRS in dB,
        a (low, high) pair or "LOW:HIGH" (default -1.5/+3 dB, or the bands
        of the acceptance rules; needs optimize).

Returns:
    SynthesisResult: settings, grid, trials, optimum (None when no trial
    qualifies: the command line's status 3), closest, optimal (None
    without optimize).

Raises:
    QuorelError: a bad argument, specification or acceptance rule, a check
        of the run (sample rate too low, duration too short, a synthesis
        check), or a file that cannot be written.
    KeyboardInterrupt: Ctrl-C; the trials stop within about a second.)");
}

}  // namespace quorel::python
