// quorel.srs and quorel.pvss: the spectra of an acceleration history at
// frequencies given as numbers, by the check's own oscillators.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <span>

#include "arguments.hpp"
#include "base/format.hpp"
#include "bindings.hpp"
#include "record/record_reader.hpp"

namespace quorel::python {

namespace {

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

RecordCheck srs_of(const py::object& accel, double sample_rate, const py::object& frequencies, CheckSettings settings,
                   CheckGrid& grid) {
    const DoubleArray samples = vector_argument(accel, "accel");
    const std::span<const double> values(samples.data(), static_cast<size_t>(samples.size()));
    check_samples(values, "accel");
    grid = frequency_grid(frequencies);
    const CheckInput input{values, sample_rate_argument(sample_rate), 0.0, "accel"};
    return check_record(input, grid, settings);
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

}  // namespace

void bind_srs(py::module_& m) {
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
}

}  // namespace quorel::python
