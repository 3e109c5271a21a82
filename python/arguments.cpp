#include "arguments.hpp"

#include <toml++/toml.h>

#include <cmath>
#include <sstream>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/run_settings.hpp"
#include "long_call.hpp"

namespace quorel::python {

std::string trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \n");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \n");
    return std::string(text.substr(first, last - first + 1));
}

void refuse(const std::string& message) { throw QuorelError(message); }

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

namespace {

// A real argument rounded once to float, as the command line reads its reals.
template <typename Accept>
std::optional<float> real_where(const py::object& value, const char* name, Accept accept, const char* range) {
    if (value.is_none()) return std::nullopt;
    const double given = py::float_(value).cast<double>();
    const float rounded = static_cast<float>(given);
    if (!accept(rounded)) refuse(format("%s=%g is out of range: %s", name, given, range));
    return rounded;
}

}  // namespace

std::optional<float> positive_real(const py::object& value, const char* name) {
    return real_where(value, name, [](float v) { return v > 0.0f && std::isfinite(v); }, "above 0");
}

std::optional<double> optional_real(const py::object& value, const char* name) {
    if (value.is_none()) return std::nullopt;
    const double v = py::float_(value).cast<double>();
    if (!std::isfinite(v)) refuse(format("%s=%g is out of range: a finite number", name, v));
    return v;
}

double sample_rate_argument(double rate) {
    if (!(rate > 0.0) || !std::isfinite(rate)) refuse(format("sample_rate=%g is out of range: above 0", rate));
    return rate;
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

DampingArgument damping_argument(const py::object& q, const py::object& damping) {
    if (!q.is_none() && !damping.is_none()) refuse("q and damping: give one of them");
    return {real_where(q, "q", q_in_range, "above 0.5"),
            real_where(damping, "damping", damping_ratio_in_range, "0 <= damping < 1")};
}

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

namespace {

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

}  // namespace

std::optional<AcceptanceRules> acceptance_argument(const py::object& acceptance) {
    if (acceptance.is_none()) return std::nullopt;
    if (is_path(acceptance)) return read_acceptance_file(path_text(acceptance));
    if (!py::isinstance<py::dict>(acceptance)) refuse("acceptance: a file name or a dict is needed");
    std::ostringstream text;
    text << toml_table(py::reinterpret_borrow<py::dict>(acceptance), "");
    return parse_acceptance("the acceptance dict", text.str(), false);
}

CheckRequest check_request(const py::object& q, const py::object& damping, const std::string& algorithm,
                           const std::string& units, bool residual, int64_t threads) {
    const DampingArgument given = damping_argument(q, damping);
    CheckRequest request;
    request.algorithm = algorithm_of(algorithm);
    request.damping = given.damping;
    request.q = given.q;
    request.units = units_of(units);
    request.residual = residual;
    request.threads = whole_in(threads, "threads", 0, 1024);
    return request;
}

// --- results -----------------------------------------------------------------

namespace {

py::object text_object(const std::string& text, JsonReading reading) {
    if (reading == JsonReading::value) return py::str(text);
    // Python's "replace" and the writer's replacement agree: one U+FFFD for
    // each maximal invalid sequence.
    PyObject* object = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (object == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(object);
}

}  // namespace

py::object python_value(const Json& value, JsonReading reading) {
    switch (value.type()) {
        case Json::value_t::null: return py::none();
        case Json::value_t::boolean: return py::bool_(value.get<bool>());
        case Json::value_t::number_integer: return py::int_(value.get<int64_t>());
        case Json::value_t::number_unsigned: return py::int_(value.get<uint64_t>());
        case Json::value_t::number_float: {
            const double number = value.get<double>();
            if (reading == JsonReading::as_written && !std::isfinite(number)) return py::none();
            return py::float_(number);
        }
        case Json::value_t::string: return text_object(value.get<std::string>(), reading);
        case Json::value_t::array: {
            py::list list;
            for (const Json& item : value) list.append(python_value(item, reading));
            return list;
        }
        case Json::value_t::object: {
            py::dict dict;
            for (const auto& [key, item] : value.items()) dict[text_object(key, reading)] = python_value(item, reading);
            return dict;
        }
        default: return py::none();
    }
}

void PreparationText::print(std::string_view text) {
    if (text.find("Warning:") != std::string_view::npos) warnings_.push_back(trimmed(text));
}

void PreparationText::warn() const {
    for (const std::string& warning : warnings_) user_warning(warning);
}

void user_warning(const std::string& text) {
    if (PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 2) != 0) throw py::error_already_set();
}

RecordCheck check_record(const CheckInput& input, const CheckGrid& grid, CheckSettings& settings) {
    if (const std::optional<double> coarse = check_grid_rate(grid, input.sample_rate, input.name)) {
        user_warning(format("Warning: %s: grid frequencies from %g Hz are above a tenth of its sample rate (%g "
                            "samples/sec): peaks between samples may be missed there",
                            input.name.c_str(), *coarse, input.sample_rate));
    }
    LongCall call;
    settings.stop = &call.stop().signal;
    std::vector<RecordCheck> checks;
    call.run([&] { checks = check_records({input}, grid, settings); }, py::none());
    return std::move(checks.front());
}

}  // namespace quorel::python
