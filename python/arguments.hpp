#pragma once
// What the module's functions share: Python arguments turned into the
// engine's values (numbers rounded as the command line rounds them, names
// checked against their lists, arrays, acceptance rules), the engine's values
// turned into Python objects, and the check of one record on a thread of its
// own.  Every refusal raises QuorelError with the command line's kind of
// message, naming the argument and its range.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acceptance/acceptance.hpp"
#include "base/console.hpp"
#include "base/srs_algorithm.hpp"
#include "base/units.hpp"
#include "check/records.hpp"
#include "check/request.hpp"
#include "specification/resample.hpp"

namespace quorel::python {

namespace py = pybind11;

using Json = nlohmann::ordered_json;
using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The command line's message without the blank lines around it.
std::string trimmed(std::string_view text);

[[noreturn]] void refuse(const std::string& message);

// --- arguments ---------------------------------------------------------------

// A str or an os.PathLike, and its text.
bool is_path(const py::handle& value);
std::string path_text(const py::handle& value);

// A whole number low..high.
int32_t whole_in(int64_t value, const char* name, int64_t low, int64_t high);
// A real above 0, rounded once to float as the command line reads its reals;
// none for None.
std::optional<float> positive_real(const py::object& value, const char* name);
// A finite real in double; none for None.
std::optional<double> optional_real(const py::object& value, const char* name);
// A rate in samples/sec above 0.
double sample_rate_argument(double rate);

// The index of `value` among `names`.
int32_t choice(const std::string& value, const char* name, std::initializer_list<const char*> names);
SrsAlgorithm algorithm_of(const std::string& name);
OctaveSpacing spacing_of(const std::string& name);
UnitSystem units_of(const std::string& name);

// q and damping, one or the other, each rounded once to float and in its
// range; none of either when neither is given.
struct DampingArgument {
    std::optional<float> q, damping;
};
DampingArgument damping_argument(const py::object& q, const py::object& damping);

// A one-dimensional float64 array, without a copy when it already is one.
DoubleArray vector_argument(const py::handle& value, const char* name);
// Its values rounded to float.
std::vector<float> float_values(const DoubleArray& array);

// The name given points read from arrays go by in messages.
extern const char* const spec_points_name;
// (frequency, acceleration): two arrays of one length.
void spec_points(const py::handle& spec, std::vector<float>& freq, std::vector<float>& accel);

// A path to an acceptance file, or a dict with its keys; none for None.
std::optional<AcceptanceRules> acceptance_argument(const py::object& acceptance);

// What srs, pvss and check ask of the SRS: the algorithm, the damping, the
// units, the residual and the threads.
CheckRequest check_request(const py::object& q, const py::object& damping, const std::string& algorithm,
                           const std::string& units, bool residual, int64_t threads);

// --- results -----------------------------------------------------------------

template <typename T, typename Value>
py::array_t<T> array_of(size_t n, Value value) {
    py::array_t<T> array(static_cast<py::ssize_t>(n));
    auto out = array.template mutable_unchecked<1>();
    for (size_t i = 0; i < n; ++i) out(static_cast<py::ssize_t>(i)) = value(i);
    return array;
}

// How a JSON value becomes a Python object: as the value holds it, or as its
// written text reads back (a number that is not finite written as null, so
// None; text of invalid UTF-8 with each bad sequence replaced by U+FFFD).
enum class JsonReading { value, as_written };
py::object python_value(const Json& value, JsonReading reading = JsonReading::value);

// Texts of a preparation: its warnings become Python warnings.
class PreparationText : public TextOutput {
public:
    void print(std::string_view text) override;
    void warn() const;

private:
    std::vector<std::string> warnings_;
};

// Raises a UserWarning with `text` (an exception of a warnings filter passes on).
void user_warning(const std::string& text);

// The record's check on the work's thread, with the calling thread free for
// Ctrl-C; a grid frequency above a tenth of the sample rate warns.
RecordCheck check_record(const CheckInput& input, const CheckGrid& grid, CheckSettings& settings);

}  // namespace quorel::python
