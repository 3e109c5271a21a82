// The Python module: the engine's functions on numpy arrays.  A front end
// only: it turns Python arguments into the engine's requests and the engine's
// results into Python objects; every number comes from the engine.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_request.hpp"
#include "base/capacity.hpp"
#include "base/error.hpp"
#include "base/format.hpp"
#include "base/option_words.hpp"
#include "base/version.hpp"
#include "engine/engine.hpp"
#include "engine/time_grid.hpp"
#include "long_call.hpp"
#include "check/documents.hpp"
#include "check/request.hpp"
#include "record/conditioning.hpp"
#include "record/record_formats.hpp"
#include "record/record_reader.hpp"
#include "optimal/optimal_report.hpp"
#include "optimal/tolerance.hpp"
#include "report/result_files.hpp"
#include "report/summary.hpp"
#include "acceptance/acceptance.hpp"
#include "acceptance/compliance.hpp"
#include "specification/resample.hpp"
#include "specification/spec_reader.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace py = pybind11;

namespace quorel::python {

// quorel.export (export_binding.cpp).
void define_export(py::module_& m);

namespace {

using Json = nlohmann::ordered_json;
using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The command line's message without the blank lines around it.
std::string trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \n");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \n");
    return std::string(text.substr(first, last - first + 1));
}

[[noreturn]] void refuse(const std::string& message) { throw QuorelError(message); }

// --- arguments ---------------------------------------------------------------

bool is_path(const py::handle& value) {
    return py::isinstance<py::str>(value) || py::hasattr(value, "__fspath__");
}

std::string path_text(const py::handle& value) {
    return py::module_::import("os").attr("fspath")(value).cast<std::string>();
}

int32_t whole_in(int64_t value, const char* name, int64_t low, int64_t high) {
    if (value < low || value > high) {
        refuse(format("%s=%lld is out of range: %lld to %lld", name, static_cast<long long>(value),
                      static_cast<long long>(low), static_cast<long long>(high)));
    }
    return static_cast<int32_t>(value);
}

// A real argument rounded once to float, as the command line reads its reals.
template <typename Accept>
std::optional<float> real_where(const py::object& value, const char* name, Accept accept, const char* range) {
    if (value.is_none()) return std::nullopt;
    const double given = py::float_(value).cast<double>();
    const float rounded = static_cast<float>(given);
    if (!accept(rounded)) refuse(format("%s=%g is out of range: %s", name, given, range));
    return rounded;
}

std::optional<float> positive_real(const py::object& value, const char* name) {
    return real_where(value, name, [](float v) { return v > 0.0f && std::isfinite(v); }, "above 0");
}

int32_t choice(const std::string& value, const char* name, std::initializer_list<const char*> names) {
    int32_t index = 0;
    std::string list;
    for (const char* option : names) {
        if (value == option) return index;
        list += (index++ > 0 ? ", " : "") + std::string(option);
    }
    refuse(format("%s='%s' is not one of %s", name, value.c_str(), list.c_str()));
}

SrsAlgorithm algorithm_of(const std::string& name) {
    choice(name, "algorithm", {"kelly-richman", "smallwood"});
    return *srs_algorithm_named(name);
}
OctaveSpacing spacing_of(const std::string& name) {
    choice(name, "spacing", {"1/3", "1/6", "1/12"});
    return *octave_spacing_named(name);
}
UnitSystem units_of(const std::string& name) {
    if (const std::optional<UnitSystem> units = unit_system_named(name)) return *units;
    std::string list;
    for (const UnitTable& t : unit_tables) list += (list.empty() ? "" : ", ") + std::string(t.name);
    refuse(format("units='%s' is not one of %s", name.c_str(), list.c_str()));
}

// A one-dimensional float64 array, without a copy when it already is one.
DoubleArray vector_argument(const py::handle& value, const char* name) {
    DoubleArray array = DoubleArray::ensure(value);
    if (!array) {
        PyErr_Clear();
        refuse(format("%s: not an array of numbers", name));
    }
    if (array.ndim() != 1) refuse(format("%s: a one-dimensional array is needed, not %ld dimensions", name,
                                         static_cast<long>(array.ndim())));
    return array;
}

std::vector<float> float_values(const DoubleArray& array) {
    std::vector<float> values(static_cast<size_t>(array.size()));
    const double* data = array.data();
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(data[i]);
    return values;
}

const char* const spec_points_name = "the specification arrays";

// (frequency, acceleration): two arrays of one length.
void spec_points(const py::handle& spec, std::vector<float>& freq, std::vector<float>& accel) {
    if (!py::isinstance<py::sequence>(spec) || py::len(spec) != 2) {
        refuse("spec: a specification file or a (frequency, acceleration) pair is needed");
    }
    const py::sequence pair = py::reinterpret_borrow<py::sequence>(spec);
    const DoubleArray f = vector_argument(pair[0], "frequency");
    const DoubleArray a = vector_argument(pair[1], "acceleration");
    if (f.size() != a.size()) {
        refuse(format("frequency and acceleration differ in length: %ld and %ld", static_cast<long>(f.size()),
                      static_cast<long>(a.size())));
    }
    freq = float_values(f);
    accel = float_values(a);
}

// A dict with the acceptance file's keys, as the TOML text it stands for.
toml::table toml_table(const py::dict& dict, const std::string& where);

void insert_toml(toml::table& table, const std::string& key, const py::handle& value, const std::string& where);

toml::array toml_array(const py::handle& list, const std::string& where) {
    toml::array array;
    for (const py::handle item : list) {
        if (py::isinstance<py::dict>(item)) {
            array.push_back(toml_table(py::reinterpret_borrow<py::dict>(item), where));
        } else {
            toml::table holder;
            insert_toml(holder, "item", item, where);
            array.push_back(*holder.get("item"));
        }
    }
    return array;
}

void insert_toml(toml::table& table, const std::string& key, const py::handle& value, const std::string& where) {
    const std::string name = where.empty() ? key : where + "." + key;
    if (py::isinstance<py::bool_>(value)) {
        table.insert(key, value.cast<bool>());
    } else if (py::isinstance<py::int_>(value)) {
        table.insert(key, value.cast<int64_t>());
    } else if (py::isinstance<py::float_>(value)) {
        table.insert(key, value.cast<double>());
    } else if (py::isinstance<py::str>(value)) {
        table.insert(key, value.cast<std::string>());
    } else if (py::isinstance<py::dict>(value)) {
        table.insert(key, toml_table(py::reinterpret_borrow<py::dict>(value), name));
    } else if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
        table.insert(key, toml_array(value, name));
    } else {
        refuse(format("acceptance: %s: a %s is not a value of an acceptance file", name.c_str(),
                      py::str(value.get_type().attr("__name__")).cast<std::string>().c_str()));
    }
}

toml::table toml_table(const py::dict& dict, const std::string& where) {
    toml::table table;
    for (const auto& [key, value] : dict) {
        if (!py::isinstance<py::str>(key)) refuse("acceptance: every key must be a string");
        insert_toml(table, key.cast<std::string>(), value, where);
    }
    return table;
}

// A path to an acceptance file, or a dict with its keys.
std::optional<AcceptanceRules> acceptance_argument(const py::object& acceptance) {
    if (acceptance.is_none()) return std::nullopt;
    if (is_path(acceptance)) return read_acceptance_file(path_text(acceptance));
    if (!py::isinstance<py::dict>(acceptance)) refuse("acceptance: a file name or a dict is needed");
    std::ostringstream text;
    text << toml_table(py::reinterpret_borrow<py::dict>(acceptance), "");
    return parse_acceptance("the acceptance dict", text.str(), false);
}

// --- results -----------------------------------------------------------------

template <typename T, typename Value>
py::array_t<T> array_of(size_t n, Value value) {
    py::array_t<T> array(static_cast<py::ssize_t>(n));
    auto out = array.template mutable_unchecked<1>();
    for (size_t i = 0; i < n; ++i) out(static_cast<py::ssize_t>(i)) = value(i);
    return array;
}

py::object python_value(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null: return py::none();
        case Json::value_t::boolean: return py::bool_(value.get<bool>());
        case Json::value_t::number_integer: return py::int_(value.get<int64_t>());
        case Json::value_t::number_unsigned: return py::int_(value.get<uint64_t>());
        case Json::value_t::number_float: return py::float_(value.get<double>());
        case Json::value_t::string: return py::str(value.get<std::string>());
        case Json::value_t::array: {
            py::list list;
            for (const Json& item : value) list.append(python_value(item));
            return list;
        }
        case Json::value_t::object: {
            py::dict dict;
            for (const auto& [key, item] : value.items()) dict[py::str(key)] = python_value(item);
            return dict;
        }
        default: return py::none();
    }
}

// A list of objects as one array per key.
// kind 'i' int32, 'b' bool, 'd' float64, 'm' a margin in dB: float64 with
// null (the margin of a peak 0) as -inf.
py::dict columns(const Json& rows, std::initializer_list<std::pair<const char*, char>> keys) {
    py::dict table;
    const size_t n = rows.size();
    for (const auto& [key, kind] : keys) {
        if (n > 0 && rows[0][key].is_null() && kind != 'm') {
            table[key] = py::none();
        } else if (kind == 'm') {
            table[key] = array_of<double>(
                n, [&](size_t i) { return rows[i][key].is_null() ? -HUGE_VAL : rows[i][key].get<double>(); });
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

// --- records -----------------------------------------------------------------

// What srs, pvss and check ask of the SRS: the algorithm, the damping, the
// units, the residual and the threads.
CheckRequest check_request(const py::object& q, const py::object& damping, const std::string& algorithm,
                           const std::string& units, bool residual, int64_t threads) {
    if (!q.is_none() && !damping.is_none()) refuse("q and damping: give one of them");
    CheckRequest request;
    request.algorithm = algorithm_of(algorithm);
    request.damping = real_where(damping, "damping", [](float v) { return v >= 0.0f && v < 1.0f; }, "0 <= damping < 1");
    if (!request.damping) request.q = real_where(q, "q", [](float v) { return v > 0.5f; }, "above 0.5");
    request.units = units_of(units);
    request.residual = residual;
    request.threads = whole_in(threads, "threads", 0, 1024);
    return request;
}

double sample_rate_argument(double rate) {
    if (!(rate > 0.0) || !std::isfinite(rate)) refuse(format("sample_rate=%g is out of range: above 0", rate));
    return rate;
}

// Grid frequencies given as numbers: 1 to max_check_frequencies of them,
// positive, finite and ascending, each rounded to float.
CheckGrid frequency_grid(const py::object& frequencies) {
    CheckGrid grid;
    grid.freq = float_values(vector_argument(frequencies, "frequencies"));
    const size_t n = grid.freq.size();
    if (n == 0 || n > static_cast<size_t>(max_check_frequencies)) {
        refuse(format("frequencies: 1 to %ld are needed, not %ld", static_cast<long>(max_check_frequencies),
                      static_cast<long>(n)));
    }
    for (size_t j = 0; j < n; ++j) {
        const float f = grid.freq[j];
        if (!(f > 0.0f) || !std::isfinite(f) || (j > 0 && !(f > grid.freq[j - 1]))) {
            refuse(format("frequencies: entry %ld (%g Hz) is not above 0 and above the one before",
                          static_cast<long>(j), static_cast<double>(f)));
        }
    }
    return grid;
}

// The record's check on the work's thread, with the calling thread free for
// Ctrl-C; a grid frequency above a tenth of the sample rate warns.
RecordCheck check_record(const CheckInput& input, const CheckGrid& grid, CheckSettings& settings) {
    if (const std::optional<double> coarse = check_grid_rate(grid, input.sample_rate, input.name)) {
        const std::string warning =
            format("Warning: %s: grid frequencies from %g Hz are above a tenth of its sample rate (%g samples/sec): "
                   "peaks between samples may be missed there",
                   input.name.c_str(), *coarse, input.sample_rate);
        if (PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 2) != 0) throw py::error_already_set();
    }
    LongCall call;
    settings.stop = &call.stop().signal;
    std::vector<RecordCheck> checks;
    call.run([&] { checks = check_records({input}, grid, settings); }, py::none());
    return std::move(checks.front());
}

RecordCheck srs_of(const py::object& accel, double sample_rate, const py::object& frequencies, CheckSettings settings,
                   CheckGrid& grid) {
    const DoubleArray samples = vector_argument(accel, "accel");
    const std::span<const double> values(samples.data(), static_cast<size_t>(samples.size()));
    check_samples(values, "accel");
    grid = frequency_grid(frequencies);
    const CheckInput input{values, sample_rate_argument(sample_rate), 0.0, "accel"};
    return check_record(input, grid, settings);
}

// --- the functions -----------------------------------------------------------

// Texts of the preparation: the warnings become Python warnings.
class PreparationText : public TextOutput {
public:
    void print(std::string_view text) override {
        if (text.find("Warning:") != std::string_view::npos) warnings.push_back(trimmed(text));
    }
    void warn() const {
        for (const std::string& warning : warnings) {
            if (PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 2) != 0) throw py::error_already_set();
        }
    }
    std::vector<std::string> warnings;
};

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

py::object srs(const py::object& accel, double sample_rate, const py::object& frequencies, const py::object& q,
               const py::object& damping, const std::string& algorithm, bool residual, bool spectra,
               const std::string& units, int64_t threads) {
    CheckGrid grid;
    CheckSettings settings = prepare_check_settings(check_request(q, damping, algorithm, units, residual, threads)).settings;
    settings.pseudo_velocity = spectra;
    settings.spectra = spectra;
    const RecordCheck check = srs_of(accel, sample_rate, frequencies, settings, grid);
    const size_t n = check.srs.size();
    auto positive = array_of<double>(n, [&](size_t j) { return check.srs[j].positive; });
    auto negative = array_of<double>(n, [&](size_t j) { return check.srs[j].negative; });
    if (!spectra) return py::make_tuple(positive, negative);
    py::dict out;
    out["positive"] = positive;
    out["negative"] = negative;
    out["relative_displacement"] = array_of<double>(n, [&](size_t j) { return check.spectra[j].relative_displacement; });
    out["relative_velocity"] = array_of<double>(n, [&](size_t j) { return check.spectra[j].relative_velocity; });
    out["pseudo_velocity"] = array_of<double>(n, [&](size_t j) { return check.spectra[j].pseudo_velocity; });
    out["primary"] = array_of<double>(n, [&](size_t j) { return check.spectra[j].primary; });
    out["residual"] = array_of<double>(n, [&](size_t j) { return check.spectra[j].residual; });
    return out;
}

py::tuple pvss(const py::object& accel, double sample_rate, const py::object& frequencies, const std::string& units,
               const py::object& q, const py::object& damping, const std::string& algorithm, bool residual,
               int64_t threads) {
    CheckGrid grid;
    const CheckSettings settings =
        prepare_check_settings(check_request(q, damping, algorithm, units, residual, threads)).settings;
    const RecordCheck check = srs_of(accel, sample_rate, frequencies, settings, grid);
    const size_t n = check.pvss.size();
    return py::make_tuple(array_of<double>(n, [&](size_t j) { return check.pvss[j].positive; }),
                          array_of<double>(n, [&](size_t j) { return check.pvss[j].negative; }));
}

struct CheckResult {
    py::object record, settings, units, srs, verdict;
};

// A record as quorel check reads it, for quorel.read_record and quorel.check.
struct PyRecord {
    py::array_t<double> samples;
    double sample_rate = 0.0;
    double start_time = 0.0;
    std::string name, file, channel, format;
    std::optional<double> scale;   // the samples were multiplied by it
};

std::optional<double> optional_real(const py::object& value, const char* name) {
    if (value.is_none()) return std::nullopt;
    const double v = py::float_(value).cast<double>();
    if (!std::isfinite(v)) refuse(format("%s=%g is out of range: a finite number", name, v));
    return v;
}

std::string text_or_number(const py::handle& value) {
    if (py::isinstance<py::bool_>(value)) refuse("channel: a number, a name or \"all\", not a bool");
    if (py::isinstance<py::int_>(value)) return std::to_string(value.cast<int64_t>());
    return value.cast<std::string>();
}

std::vector<PyRecord> read_channel_records(const py::object& path, const py::object& channel, const py::object& sample_rate,
                                           const py::object& scale, const py::object& column, const py::object& rate_variable,
                                           const py::object& rate_attribute, const std::string& time_unit,
                                           bool decimal_comma) {
    RecordRequest request;
    request.text.decimal_comma = decimal_comma;
    if (!channel.is_none()) {
        if (py::isinstance<py::str>(channel) || py::isinstance<py::int_>(channel)) {
            request.channels.push_back(text_or_number(channel));
        } else {
            for (const py::handle item : channel) request.channels.push_back(text_or_number(item));
        }
    }
    if (!sample_rate.is_none()) request.text.sample_rate = sample_rate_argument(py::float_(sample_rate).cast<double>());
    request.scale = optional_real(scale, "scale");
    if (request.scale && *request.scale == 0.0) refuse("scale=0 is out of range: a number other than 0");
    if (!column.is_none()) {
        if (py::isinstance<py::int_>(column)) {
            request.text.column_number = whole_in(column.cast<int64_t>(), "column", 1, 2147483647);
        } else {
            request.text.column_name = column.cast<std::string>();
        }
    }
    if (!rate_variable.is_none()) request.rate_variable = rate_variable.cast<std::string>();
    if (!rate_attribute.is_none()) request.rate_attribute = rate_attribute.cast<std::string>();
    request.time_unit = static_cast<TimeUnit>(choice(time_unit, "time_unit", {"s", "ms", "us"}));
    std::vector<PyRecord> out;
    for (ChannelRecord& r : read_records(path_text(path), request)) {
        const std::string warning = full_scale_warning(r, request);
        if (!warning.empty() && PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 2) != 0) throw py::error_already_set();
        const std::vector<double>& samples = r.record.samples;
        out.push_back({array_of<double>(samples.size(), [&](size_t k) { return samples[k]; }), r.record.sample_rate,
                       r.record.start_time, r.name, r.record.file, r.channel, record_format_name(r.format),
                       request.scale});
    }
    return out;
}

// The conditioning keyword arguments of quorel.check.
Conditioning conditioning_arguments(const py::object& trim, bool remove_mean_all, const py::object& pretrigger,
                                    bool detrend, const py::object& highpass, const py::object& lowpass,
                                    int64_t filter_order, const py::object& events, const py::object& window) {
    if (remove_mean_all && !pretrigger.is_none()) refuse("remove_mean and pretrigger: give one of them");
    Conditioning c;
    c.keywords = true;
    if (!trim.is_none()) {
        const py::tuple ends = py::tuple(trim);
        if (ends.size() != 2) refuse("trim: a pair (from, to) in sec, either of them None");
        c.trim_from = optional_real(ends[0], "trim");
        c.trim_to = optional_real(ends[1], "trim");
        if (c.trim_from && c.trim_to && !(*c.trim_from < *c.trim_to)) refuse("trim: from is not below to");
    }
    c.mean.whole = remove_mean_all;
    if (!pretrigger.is_none()) {
        const double seconds = py::float_(pretrigger).cast<double>();
        if (!(seconds > 0.0) || !std::isfinite(seconds)) refuse(format("pretrigger=%g is out of range: above 0", seconds));
        c.mean.pretrigger = seconds;
    }
    c.detrend = detrend;
    for (const auto& [value, name, target] : {std::tuple{&highpass, "highpass", &c.highpass},
                                              std::tuple{&lowpass, "lowpass", &c.lowpass}}) {
        *target = optional_real(*value, name);
        if (*target && !(**target > 0.0)) refuse(format("%s=%g is out of range: above 0", name, **target));
    }
    if (c.highpass && c.lowpass && !(*c.highpass < *c.lowpass)) {
        refuse(format("highpass=%g is not below lowpass=%g: nothing would pass", *c.highpass, *c.lowpass));
    }
    c.filter_order = whole_in(filter_order, "filter_order", 1, 10);
    if (events.is_none() != window.is_none()) refuse("events and window: give both or neither");
    if (!events.is_none()) {
        if (py::isinstance<py::str>(events)) {
            const std::string text = events.cast<std::string>();
            const std::optional<double> percent = text.empty() || text.back() != '%'
                                                      ? std::nullopt
                                                      : decimal_double(text.substr(0, text.size() - 1));
            if (!percent || !(*percent > 0.0) || *percent > 100.0) {
                refuse(format("events='%s' is out of range: a level above 0, or a percentage up to 100%%", text.c_str()));
            }
            c.event_level = *percent;
            c.event_level_percent = true;
        } else {
            c.event_level = optional_real(events, "events");
            if (!(*c.event_level > 0.0)) refuse(format("events=%g is out of range: above 0", *c.event_level));
        }
        const py::tuple span = py::tuple(window);
        if (span.size() != 2) refuse("window: a pair (pre, post) in sec");
        c.window_pre = py::float_(span[0]).cast<double>();
        c.window_post = py::float_(span[1]).cast<double>();
        if (!(c.window_pre >= 0.0) || !(c.window_post > 0.0) || !std::isfinite(c.window_pre + c.window_post)) {
            refuse("window: pre at least 0 and post above 0, in sec");
        }
    }
    return c;
}

py::object check(const py::object& accel, const py::object& sample_rate_given, const py::object& spec,
                 const py::object& acceptance, const py::object& q, const py::object& damping,
                 const std::string& algorithm, const std::string& spacing, const std::string& units, bool residual,
                 const py::object& trim, bool remove_mean_all, const py::object& pretrigger, bool detrend,
                 const py::object& highpass, const py::object& lowpass, int64_t filter_order, const py::object& events,
                 const py::object& window, const py::object& start_time_given, const py::object& name_given,
                 int64_t threads) {
    CheckRequest request = check_request(q, damping, algorithm, units, residual, threads);
    choice(spacing, "spacing", {"1/3", "1/6", "1/12", "1/24"});
    request.spacing = spacing;
    if (spec.is_none()) refuse("spec: the specification is needed (a file or a (frequency, acceleration) pair)");
    const Conditioning conditioning = conditioning_arguments(trim, remove_mean_all, pretrigger, detrend, highpass,
                                                             lowpass, filter_order, events, window);

    // The records: quorel.read_record's (one or a list), or samples with
    // their rate.
    struct Input {
        DoubleArray samples;
        double sample_rate = 0.0, start_time = 0.0;
        std::string name;
        std::optional<double> scale;
    };
    std::vector<Input> inputs;
    const bool many = py::isinstance<py::list>(accel) || py::isinstance<py::tuple>(accel);
    const bool records = py::isinstance<PyRecord>(accel) ||
                         (many && py::len(accel) > 0 && py::isinstance<PyRecord>(py::reinterpret_borrow<py::sequence>(accel)[0]));
    if (records) {
        if (!sample_rate_given.is_none() || !start_time_given.is_none() || !name_given.is_none()) {
            refuse("sample_rate, start_time and name come with the records of quorel.read_record: give none of them");
        }
        const py::list list = many ? py::list(accel) : py::list(py::make_tuple(accel));
        for (const py::handle item : list) {
            if (!py::isinstance<PyRecord>(item)) refuse("accel: a list of records of quorel.read_record, or samples");
            const PyRecord& r = item.cast<const PyRecord&>();
            inputs.push_back({DoubleArray::ensure(r.samples), r.sample_rate, r.start_time, r.name, r.scale});
        }
    } else {
        if (sample_rate_given.is_none()) refuse("sample_rate: needed with samples (a record of quorel.read_record carries it)");
        inputs.push_back({vector_argument(accel, "accel"), sample_rate_argument(py::float_(sample_rate_given).cast<double>()),
                          start_time_given.is_none() ? 0.0 : py::float_(start_time_given).cast<double>(),
                          name_given.is_none() ? "record" : name_given.cast<std::string>(), std::nullopt});
    }

    if (is_path(spec)) {
        DiscardText quiet;
        load_spec_points(quiet, path_text(spec), request.points);
    } else {
        std::vector<float> freq, accel_points;
        spec_points(spec, freq, accel_points);
        set_spec_points(spec_points_name, freq.data(), accel_points.data(), static_cast<int32_t>(freq.size()),
                        request.points);
    }
    request.rules = acceptance_argument(acceptance);
    PreparedCheck prepared = prepare_check(request);
    CheckSettings& settings = prepared.settings;
    const CheckGrid& grid = prepared.grid;

    py::list results;
    for (const Input& input : inputs) {
        const std::span<const double> given(input.samples.data(), static_cast<size_t>(input.samples.size()));
        check_samples(given, input.name);
        // The samples are read in place unless conditioning changes them.
        std::vector<ConditionedRecord> conditioned;
        if (conditions(conditioning)) {
            Record record;
            record.samples.assign(given.begin(), given.end());
            record.sample_rate = input.sample_rate;
            record.start_time = input.start_time;
            conditioned = condition_record(std::move(record), input.name, conditioning);
        }
        const size_t count = conditioned.empty() ? 1 : conditioned.size();
        for (size_t e = 0; e < count; ++e) {
            const ConditionedRecord* c = conditioned.empty() ? nullptr : &conditioned[e];
            const std::span<const double> values = c ? std::span<const double>(c->record.samples) : given;
            const CheckInput check_input{values, input.sample_rate, c ? c->record.start_time : input.start_time,
                                         c ? c->name : input.name};
            const RecordCheck result = check_record(check_input, grid, settings);

            CheckDescription description;
            description.file = check_input.name;
            description.start_time = check_input.start_time;
            description.algorithm = algorithm;
            description.damping_ratio = static_cast<double>(settings.damping);
            description.q = prepared.q;
            description.spacing = spacing;
            description.units = settings.units;
            description.residual = residual;
            description.scale = input.scale;
            if (c) {
                description.mean_removed = c->mean_removed;
                description.conditioning = c->steps;
            }
            const Json document = Json::parse(check_json(description, result));
            py::dict out;
            for (const char* key : {"record", "settings", "units"}) out[key] = python_value(document[key]);
            out["srs"] = columns(document["srs"], {{"frequency", 'd'},
                                                   {"spec", 'd'},
                                                   {"positive", 'd'},
                                                   {"negative", 'd'},
                                                   {"maximax", 'd'},
                                                   {"pseudo_velocity", 'd'},
                                                   {"margin_positive_db", 'm'},
                                                   {"margin_negative_db", 'm'}});
            out["verdict"] = python_value(document["verdict"]);
            results.append(py::cast(CheckResult{out["record"], out["settings"], out["units"], out["srs"], out["verdict"]}));
        }
    }
    if (!many && !conditioning.event_level) return results[0];
    return results;
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
    if (!q.is_none() && !damping.is_none()) refuse("q and damping: give one of them");
    request.q = real_where(q, "q", [](float v) { return v > 0.5f; }, "above 0.5");
    request.damping = real_where(damping, "damping", [](float v) { return v >= 0.0f && v < 1.0f; }, "0 <= damping < 1");
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

}  // namespace quorel::python

PYBIND11_MODULE(quorel, m) {
    using namespace quorel;
    using namespace quorel::python;
    m.doc() = R"(quorel: shock response spectra and their synthesis by wavelets, on numpy arrays.

The functions run the engine of the quorel programs: the same settings give
the same numbers as the command line, bit for bit.  Accelerations are in the
unit of the specification (G, or m/sec^2 with units="si"), frequencies in Hz,
times in seconds.  Every error raises QuorelError (a ValueError) with the
message the command line prints.)";
    m.attr("__version__") = quorel_version;

    static py::exception<QuorelError> error(m, "QuorelError", PyExc_ValueError);
    error.doc() = "An error of quorel: the message is the one the command line prints.";
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const QuorelError& e) {
            PyErr_SetString(error.ptr(), trimmed(e.what()).c_str());
        }
    });

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

    py::class_<CheckResult>(m, "CheckResult", R"(The results of quorel.check, as quorel check --json holds them.

Attributes:
    record: dict of the record's figures: file (the name given), samples,
        sample_rate (samples/sec), duration (sec), start_time (sec),
        header_lines (0),
        peak_acceleration and peak_time (sec), te and t10 (sec: first to
        last sample at a third, a tenth of the peak), peak_velocity,
        peak_displacement, end_velocity, end_displacement (trapezoid from
        rest, in the velocity and displacement units).
    settings: dict: algorithm, damping_ratio, q, spacing, units, residual,
        mean_removed (the mean subtracted, or None), scale (None),
        conditioning (a list of the steps done, each a dict: step and its
        figures).
    units: dict of the unit labels: acceleration, velocity, displacement.
    srs: dict of arrays at every grid frequency: frequency (Hz), spec,
        positive, negative, maximax (acceleration unit; a polarity the
        response never reaches is 0), pseudo_velocity (velocity unit, as
        quorel.pvss), margin_positive_db, margin_negative_db (-inf for a
        peak 0, null in the JSON document).
    verdict: dict: pass, bands (inside, points, share, min_share, pass per
        band), above_nominal (the same, or None).)")
        .def_readonly("record", &CheckResult::record)
        .def_readonly("settings", &CheckResult::settings)
        .def_readonly("units", &CheckResult::units)
        .def_readonly("srs", &CheckResult::srs)
        .def_readonly("verdict", &CheckResult::verdict)
        .def("__repr__", [](const CheckResult& r) {
            return "<quorel.CheckResult: " + py::str(r.record["file"]).cast<std::string>() + ", " +
                   (r.verdict["pass"].cast<bool>() ? "PASS" : "FAIL") + ">";
        });

    m.def("srs", &srs, py::arg("accel"), py::arg("sample_rate"), py::arg("frequencies"), py::kw_only(),
          py::arg_v("q", py::none(), "10"), py::arg("damping") = py::none(), py::arg("algorithm") = "smallwood",
          py::arg("residual") = true, py::arg("spectra") = false, py::arg("units") = "english", py::arg("threads") = 0,
          R"(The shock response spectrum of an acceleration history, as quorel check computes it.

Every frequency's oscillator runs over the samples (double coefficients and
state, one fused multiply-add chain per step), then, with residual, for one
period of its own frequency with zero input; each peak is rounded to float
once.  A polarity the response never reaches has the peak 0; a record whose
every sample is zero raises QuorelError.

Args:
    accel: the acceleration samples (any unit), uniform in time; a float64
        C-contiguous array is read in place.
    sample_rate: samples/sec.
    frequencies: natural frequencies (Hz), ascending, 1 to 1000 of them,
        each at most sample_rate / 4 (a UserWarning above sample_rate / 10).
    q: damping as Q, above 0.5 (10 when neither q nor damping is given).
    damping: damping as a ratio of critical, 0 <= damping < 1 (not with q).
    algorithm: "smallwood" (ramp invariant) or "kelly-richman".
    residual: also follow each oscillator one period past the last sample.
    spectra: also the other spectra of the same oscillators (as quorel check
        --spectra): a dict instead of the pair.
    units: "english", "metric" or "si": the velocity and displacement units
        of the spectra.
    threads: 0 (every hardware thread) to 1024; the same numbers for any.

Returns:
    (positive, negative): float64 arrays, the largest positive response and
    the magnitude of the most negative one, in the unit of accel.  With
    spectra, a dict of float64 arrays: positive, negative,
    relative_displacement (max |z|, displacement unit), relative_velocity
    (max |z'|), pseudo_velocity (2 pi f max |z|, velocity unit), primary and
    residual (the largest |absolute acceleration| during the samples and in
    the period after them; 0 without residual).)");

    m.def("pvss", &pvss, py::arg("accel"), py::arg("sample_rate"), py::arg("frequencies"), py::kw_only(),
          py::arg("units") = "english", py::arg_v("q", py::none(), "10"), py::arg("damping") = py::none(),
          py::arg("algorithm") = "smallwood", py::arg("residual") = true, py::arg("threads") = 0,
          R"(The pseudo-velocity shock spectrum of an acceleration history.

PV = 2 pi f max|z|, z the displacement of each oscillator relative to its
base (z'' + 2 zeta w z' + w^2 z = -accel), computed by the ramp-invariant
recursion (exact for samples joined by straight lines) over the samples and,
with residual, one period of each frequency at rest; each peak is rounded to
float once.  In in/sec for accel in G with units="english", m/sec for G with
"metric" and for m/sec^2 with "si".  The algorithm does not change it; the
other arguments are those of quorel.srs.

Returns:
    (positive, negative): float64 arrays, 2 pi f max(-z) (the polarity of
    the positive SRS) and 2 pi f max(z); PV is the larger of the two.)");

    py::class_<PyRecord>(m, "Record", R"(A measured record as quorel check reads it (see quorel.read_record).

Attributes:
    samples: float64 array of the acceleration samples (scaled).
    sample_rate: samples/sec.
    start_time: the time of the first sample, sec.
    name: "file" or "file:channel", as in the results.
    file, channel: the parts of the name.
    format: "text", "MAT", "WAV", "HDF5" or "universal file".
    scale: the factor the samples were multiplied by, or None.)")
        .def_readonly("samples", &PyRecord::samples)
        .def_readonly("sample_rate", &PyRecord::sample_rate)
        .def_readonly("start_time", &PyRecord::start_time)
        .def_readonly("name", &PyRecord::name)
        .def_readonly("file", &PyRecord::file)
        .def_readonly("channel", &PyRecord::channel)
        .def_readonly("format", &PyRecord::format)
        .def_readonly("scale", &PyRecord::scale)
        .def("__len__", [](const PyRecord& r) { return r.samples.size(); })
        .def("__repr__", [](const PyRecord& r) {
            return "<quorel.Record " + r.name + ": " + std::to_string(r.samples.size()) + " samples at " +
                   format("%g", r.sample_rate) + " samples/sec>";
        });

    m.def("read_record", &read_channel_records, py::arg("path"), py::kw_only(), py::arg("channel") = py::none(),
          py::arg("sample_rate") = py::none(), py::arg("scale") = py::none(), py::arg("column") = py::none(),
          py::arg("rate_variable") = py::none(), py::arg("rate_attribute") = py::none(), py::arg("time_unit") = "s",
          py::arg("decimal_comma") = false,
          R"(Reads the records of a file as quorel check does, in any of its formats.

The format follows the extension and is checked against the content: text
(.csv, .txt, anything else), MATLAB (.mat, v5 and v7.3), WAV (.wav, PCM of
8 to 32 bits, 32 and 64-bit float, RF64), HDF5 (.h5, .hdf5) and universal
files (.uff, .unv: datasets 58 and 58b).

Args:
    path: the file (str or os.PathLike); "file.h5:/group/set" keeps what
        lies at or below that path (a variable, dataset or column likewise).
    channel: which channels are records: a number (1-based, in the file's
        order; for text the column), a name, "all", or a list of them.
        Default: the text reader's column, every WAV channel and
        universal-file time response, the one MAT variable or HDF5 dataset.
    sample_rate: samples/sec of records that carry no rate (text without a
        time column, MAT, HDF5); a WAV or universal file's own rate must
        agree with it to 1e-5.
    scale: every sample times this (a sensitivity: 1/0.01 for 10 mV/G).
    column: the text column (number or header name), as --column.
    rate_variable: MAT: the scalar variable holding the rate (VAR or
        VAR.FIELD).
    rate_attribute: HDF5: the attribute holding the rate, on the dataset or
        a group above it.
    time_unit: "s", "ms" or "us": the unit of a text record's time column.
    decimal_comma: text records write the decimal separator as a comma
        ("1,5"), their fields separated by semicolons, tabs or blanks, as
        --decimal-comma.

Returns:
    list of quorel.Record, each "file:channel" (a text record read by its
    default column is "file").  Integer WAV samples read without scale are
    fractions of full scale and give a UserWarning.)");

    m.def("check", &check, py::arg("accel"), py::arg("sample_rate") = py::none(), py::arg("spec") = py::none(),
          py::kw_only(), py::arg("acceptance") = py::none(), py::arg_v("q", py::none(), "10"),
          py::arg("damping") = py::none(), py::arg("algorithm") = "smallwood", py::arg("spacing") = "1/6",
          py::arg("units") = "english", py::arg("residual") = true, py::arg("trim") = py::none(),
          py::arg("remove_mean") = false, py::arg("pretrigger") = py::none(), py::arg("detrend") = false,
          py::arg("highpass") = py::none(), py::arg("lowpass") = py::none(), py::arg("filter_order") = 4,
          py::arg("events") = py::none(), py::arg("window") = py::none(), py::arg("start_time") = py::none(),
          py::arg("name") = py::none(), py::arg("threads") = 0,
          R"(Judges a recorded shock against a specification, as quorel check does.

Args:
    accel: the recorded acceleration samples, uniform in time, in G (m/sec^2
        with units="si"); a float64 C-contiguous array is read in place
        (copied only when conditioning changes it).  Or a quorel.Record, or
        a list of them, as quorel.read_record returns: each carries its
        rate, start time and name.
    sample_rate: samples/sec, with samples.
    spec: a specification file (str or os.PathLike) or a (frequency,
        acceleration) pair: the SRS is computed on its octave grid.
    acceptance: the rules: a TOML file or a dict with its keys (see
        quorel.synthesize); default: +-3 dB and +-6 dB on each polarity.
    q, damping, algorithm, residual, threads: as for quorel.srs.
    spacing: grid spacing: "1/3", "1/6", "1/12" or "1/24" octave (at most
        1000 frequencies).
    units: "english" (in/sec, in), "metric" (m/sec, mm, accel in G) or "si"
        (m/sec, mm, accel in m/sec^2).
    Conditioning, in this order, as the command line's options:
    trim: (from, to) in sec of the record's times, either None for open.
    remove_mean: subtract the mean of the whole record.
    pretrigger: or subtract the mean of its first `pretrigger` seconds.
    detrend: remove the least-squares line.
    highpass, lowpass: Butterworth filters at these corners (Hz) of order
        filter_order (1 to 10), run forward and backward: zero phase, the
        order doubled in effect, -6 dB at the corner.
    events: cut each shock into its own record: where |a| reaches this level
        (a number, or a percentage of the peak: "20%") after `post` sec of
        quiet; window=(pre, post) in sec: from pre before it to post after.
    start_time: the time of the first sample, sec (default 0), with samples.
    name: the record's name in the results and messages (default
        "record"), with samples.

Returns:
    CheckResult of the record; a list of them for a list of records or with
    events (each event "NAME#k").)");

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

    define_export(m);
}
