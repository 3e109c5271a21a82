// quorel.export: a run's drive at a controller's sample rate, as the command
// line's `quorel export` writes it.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "arguments.hpp"
#include "base/error.hpp"
#include "export/export_drive.hpp"
#include "report/json_values.hpp"

namespace py = pybind11;

namespace quorel::python {

namespace {

py::dict exported_dict(const ExportedDrive& e) {
    py::dict d;
    d["file"] = e.file;
    d["drive"] = e.drive;
    d["format"] = export_format_name(e.format);
    d["sample_rate"] = e.rate;
    d["points"] = e.points;
    d["zeros_before"] = e.before;
    d["drive_points"] = e.drive_points;
    d["frequency"] = e.freq;
    d["spec"] = e.spec;
    d["run_positive"] = e.run_positive;
    d["run_negative"] = e.run_negative;
    d["positive"] = e.positive;
    d["negative"] = e.negative;
    d["max_difference_db"] = e.max_difference_db;
    d["difference_frequency"] = e.difference_frequency;
    d["difference_polarity"] = e.difference_positive ? "positive" : "negative";
    d["margins_db"] = py::make_tuple(e.margin_low_db, e.margin_high_db);
    d["acceptance"] = python_value(verdict_json(e.verdict), JsonReading::as_written);
    d["peak_acceleration"] = e.peak_acceleration;
    d["peak_velocity"] = e.peak_velocity;
    d["peak_displacement"] = e.peak_displacement;
    d["end_velocity"] = e.end_velocity;
    d["end_displacement"] = e.end_displacement;
    d["beyond_full_scale"] = e.beyond_full_scale;
    d["report"] = export_report(e);
    return d;
}

py::dict export_run(const py::object& run_dir, std::optional<int32_t> trial, bool optimal, double rate,
                    std::optional<int64_t> points, std::optional<std::string> frame, std::optional<std::string> format,
                    double pad_before, double pad_after, std::optional<double> scale, const py::object& output) {
    ExportRequest request;
    request.command_line = false;
    request.run_dir = path_text(run_dir);
    request.trial = trial;
    request.optimal = optimal;
    request.rate = rate;
    request.points = points;
    if (frame) {
        if (*frame != "pow2") throw QuorelError("\n Error: frame '" + *frame + "': the one frame is \"pow2\" \n");
        request.frame_pow2 = true;
    }
    if (format) {
        request.format = export_format_named(*format);
        if (!request.format) {
            throw QuorelError("\n Error: format '" + *format + "': csv, wav, mat, hdf5 or uff58 \n");
        }
    }
    request.pad_before = pad_before;
    request.pad_after = pad_after;
    request.scale = scale;
    request.output = path_text(output);
    const ExportedDrive exported = export_drive(request);
    for (const std::string& warning : exported.warnings) user_warning(trimmed(warning));
    return exported_dict(exported);
}

}  // namespace

void bind_export(py::module_& m) {
    m.def("export", &export_run, py::arg("run_dir"), py::kw_only(), py::arg("trial") = py::none(),
          py::arg("optimal") = false, py::arg("rate"), py::arg("points") = py::none(), py::arg("frame") = py::none(),
          py::arg("format") = py::none(), py::arg("pad_before") = 0.0, py::arg("pad_after") = 0.0,
          py::arg("scale") = py::none(), py::arg("output"),
          R"(Writes a run's drive at a shaker controller's sample rate, as quorel export does.

The drive is made again at `rate` from its model (a trial's wavelets summed
on the new time grid, the optimal drive linear between its nodes), zeros
added as asked, written, and its SRS computed on the run's grid by the
run's algorithm and damping and compared with the run's SRS file.

Args:
    run_dir: the output folder of a command-line run (str or os.PathLike).
    trial: the trial to export, an optimum of the run (default: the
        displacement optimum); not with optimal.
    optimal: export the run's optimal drive.
    rate: the controller's sample rate, samples/sec, at least 4 x the run's
        top grid frequency (a whole number for WAV).
    points: exactly this many points, zeros added after the drive (only
        zeros after its end may be cut); not with frame.
    frame: "pow2": zeros up to the next power of two points.
    format: "csv", "wav", "mat", "hdf5" or "uff58" (default: by the
        output's extension, CSV for any other).
    pad_before, pad_after: seconds of zeros before and after the drive.
    scale: WAV only: volts per acceleration unit (default 1); samples
        beyond +-1 give a UserWarning.
    output: the file to write (str or os.PathLike): complete or absent.

Returns:
    dict: file, drive, format, sample_rate, points, zeros_before,
    drive_points; per grid frequency: frequency, spec, run_positive,
    run_negative (the run's SRS file), positive, negative (the exported
    drive's SRS); max_difference_db (signed, the largest in magnitude),
    difference_frequency, difference_polarity, margins_db (low, high),
    acceptance (the verdict of the run's rules, or None), peak_acceleration,
    peak_velocity, peak_displacement, end_velocity, end_displacement,
    beyond_full_scale, report (the command line's text).  A difference above
    0.1 dB gives a UserWarning naming the frequency.

Raises:
    QuorelError: a bad argument, a run folder without the drive asked (the
        message names the drives it holds), or a file that cannot be
        written; nothing is written then.)");
}

}  // namespace quorel::python
