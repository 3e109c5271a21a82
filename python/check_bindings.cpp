// quorel.read_record and quorel.check: measured records read and judged as
// quorel check reads and judges them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "arguments.hpp"
#include "base/format.hpp"
#include "base/option_words.hpp"
#include "bindings.hpp"
#include "check/documents.hpp"
#include "record/conditioning.hpp"
#include "record/record_formats.hpp"
#include "record/record_reader.hpp"
#include "specification/spec_reader.hpp"

namespace quorel::python {

namespace {

struct CheckResult {
    py::object record, settings, units, srs, verdict;
};

// The SRS table of a record, one array per column at every grid frequency:
// frequency, spec, positive, negative, maximax, pseudo_velocity (the larger
// polarity of each) and both margins in dB; the margin of a peak 0 is -inf.
// Without a specification spec is None and every margin -inf.
py::dict srs_columns(const RecordCheck& check) {
    const size_t n = check.srs.size();
    const std::vector<SrsLine>& srs = check.srs;
    const ComplianceRow* rows = check.compliance ? check.compliance->rows.data() : nullptr;
    const auto margin = [](double db) { return std::isfinite(db) ? db : -HUGE_VAL; };
    py::dict table;
    table["frequency"] = array_of<double>(n, [&](size_t j) { return srs[j].freq; });
    table["spec"] = rows ? py::object(array_of<double>(n, [&](size_t j) { return rows[j].spec; })) : py::none();
    table["positive"] = array_of<double>(n, [&](size_t j) { return srs[j].positive; });
    table["negative"] = array_of<double>(n, [&](size_t j) { return srs[j].negative; });
    table["maximax"] = array_of<double>(n, [&](size_t j) { return std::max(srs[j].positive, srs[j].negative); });
    table["pseudo_velocity"] =
        array_of<double>(n, [&](size_t j) { return std::max(check.pvss[j].positive, check.pvss[j].negative); });
    table["margin_positive_db"] = array_of<double>(n, [&](size_t j) { return rows ? margin(rows[j].positive_db) : -HUGE_VAL; });
    table["margin_negative_db"] = array_of<double>(n, [&](size_t j) { return rows ? margin(rows[j].negative_db) : -HUGE_VAL; });
    return table;
}

// The results of one record: the parts of its JSON document as that document
// reads back (None for a number that is not finite), and its SRS table.
CheckResult check_result(const CheckDescription& description, const RecordCheck& check) {
    constexpr JsonReading written = JsonReading::as_written;
    return CheckResult{
        python_value(check_record_json(description, check.figures), written),
        python_value(check_settings_json(description), written),
        python_value(units_json(description.units), written),
        srs_columns(check),
        check.compliance ? python_value(verdict_json(check.compliance->verdict), written) : py::none(),
    };
}

// A record as quorel check reads it, for quorel.read_record and quorel.check.
struct PyRecord {
    py::array_t<double> samples;
    double sample_rate = 0.0;
    double start_time = 0.0;
    std::string name, file, channel, format;
    std::optional<double> scale;   // the samples were multiplied by it
};

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
        if (!warning.empty()) user_warning(warning);
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

// The records of quorel.check: quorel.read_record's (one or a list), or
// samples with their rate, start time and name.
struct RecordInput {
    DoubleArray samples;
    double sample_rate = 0.0, start_time = 0.0;
    std::string name;
    std::optional<double> scale;
};
struct RecordInputs {
    std::vector<RecordInput> inputs;
    bool many = false;   // a list was given: the results are a list too
};

RecordInputs record_inputs(const py::object& accel, const py::object& sample_rate_given,
                           const py::object& start_time_given, const py::object& name_given) {
    std::vector<RecordInput> inputs;
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
    return {std::move(inputs), many};
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

    const RecordInputs given = record_inputs(accel, sample_rate_given, start_time_given, name_given);
    const bool many = given.many;

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
    for (const RecordInput& input : given.inputs) {
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
            results.append(py::cast(check_result(description, result)));
        }
    }
    if (!many && !conditioning.event_level) return results[0];
    return results;
}

}  // namespace

void bind_check(py::module_& m) {
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

}

}  // namespace quorel::python
