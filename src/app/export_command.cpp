#include "app/export_command.hpp"

#include <cmath>
#include <optional>
#include <ostream>

#include "base/exit_status.hpp"
#include "base/guarded.hpp"
#include "base/option_words.hpp"
#include "export/export_drive.hpp"

namespace quorel {

CLI::App* add_export_command(CLI::App& app, ExportCommand& c, OptionWords& words) {
    CLI::App* command = app.add_subcommand(
        "export",
        "Write a run's drive at a shaker controller's sample rate and in its file format, made again from the "
        "drive's own model, and check its SRS against the run's");
    command->footer(R"(
The drive is made again at the new rate from its model, not interpolated: a
trial's wavelets summed on the new time grid, the optimal drive linear between
its nodes.  It covers the run's duration; --pad-before and --pad-after add
zeros, --points pads with zeros to exactly N points (cutting only zeros after
the drive's end), --frame pow2 to the next power of two.

Formats (by --format, else by the extension of FILE; CSV for any other):
  csv     time (sec), acceleration: every float exactly
  wav     32-bit float, mono; --scale V volts per acceleration unit (default 1)
  mat     variables time, acceleration, sample_rate, units
  hdf5    dataset /acceleration, attributes sample_rate, dt, start_time, units
  uff58   universal file, dataset 58, ASCII double

The exported drive's SRS is computed on the run's grid by the run's algorithm
and damping and printed against the run's srs_<n>.out and the specification:
the largest difference (a warning above 0.1 dB), the margins, the verdict of
the run's acceptance rules, and the drive's peaks and end velocity and
displacement.

Exit status: 0 written; 1 a bad run folder, trial or file (nothing written);
2 a wrong command line.

Examples:
  quorel export run/pyroshock --rate 204800 -o drive.csv
  quorel export run/functional --optimal --rate 51200 --frame pow2 --format wav --scale 0.01 -o drive.wav)");
    words.takes(command->add_option("RUN_DIR", c.run_dir, "The output folder of a command-line run")->required(),
                "the run's output folder (RUN_DIR)");
    auto* trial = words.takes(command->add_option("--trial", c.trial, "The trial to export (an optimum of the run; "
                                                                      "default: the displacement optimum)")
                                  ->option_text("N"),
                              "a trial number from 0", whole_number_in(0, 2147483647));
    auto* optimal = command->add_flag("--optimal", c.optimal, "Export the run's optimal drive");
    trial->excludes(optimal);
    words.takes(command->add_option("--rate", c.rate, "The controller's sample rate, samples/sec")
                    ->option_text("R")
                    ->required(),
                "a rate in samples/sec above 0", positive_number());
    auto* points = words.takes(command->add_option("--points", c.points, "Exactly N points, zeros added after the drive")
                                   ->option_text("N"),
                               "a whole number from 1 to 100000000", whole_number_in(1, max_export_points));
    auto* frame = words.takes(command->add_option("--frame", c.frame, "pow2: zeros up to the next power of two points")
                                  ->option_text("pow2"),
                              "pow2", one_of({"pow2"}));
    points->excludes(frame);
    words.takes(command->add_option("--format", c.format, "csv, wav, mat, hdf5 or uff58 (default: by FILE's extension)")
                    ->option_text("FORMAT"),
                "csv, wav, mat, hdf5 or uff58", one_of({"csv", "wav", "mat", "hdf5", "uff58"}));
    const ValueRule time_rule{"0 or more", [](const std::string& text) {
                                  const std::optional<double> value = decimal_double(text);
                                  if (!value) return ValueFault::form;
                                  return *value >= 0.0 && std::isfinite(*value) ? ValueFault::none : ValueFault::range;
                              }};
    words.takes(command->add_option("--pad-before", c.pad_before, "Zeros before the drive, sec")->option_text("S"),
                "a time in sec, 0 or more", time_rule);
    words.takes(command->add_option("--pad-after", c.pad_after, "Zeros after the drive, sec")->option_text("S"),
                "a time in sec, 0 or more", time_rule);
    words.takes(command->add_option("--scale", c.scale, "WAV: volts per acceleration unit (default 1)")->option_text("V"),
                "volts per unit above 0", positive_number());
    words.takes(command->add_option("-o,--output", c.output, "The file to write")->option_text("FILE")->required(),
                "the name of the file to write",
                ValueRule{"a name", [](const std::string& text) { return text.empty() ? ValueFault::form : ValueFault::none; }});
    return command;
}

int run_export(const ExportCommand& c, std::ostream& out, std::ostream& err) {
    return guarded_status(out, err, [&] {
        ExportRequest request;
        request.run_dir = c.run_dir;
        if (!c.trial.empty()) request.trial = static_cast<int32_t>(*decimal_integer(c.trial));
        request.optimal = c.optimal;
        request.rate = *decimal_double(c.rate);
        if (!c.points.empty()) request.points = *decimal_integer(c.points);
        request.frame_pow2 = c.frame == "pow2";
        if (!c.format.empty()) request.format = export_format_named(c.format);
        if (!c.pad_before.empty()) request.pad_before = *decimal_double(c.pad_before);
        if (!c.pad_after.empty()) request.pad_after = *decimal_double(c.pad_after);
        if (!c.scale.empty()) request.scale = *decimal_double(c.scale);
        request.output = c.output;
        const ExportedDrive exported = export_drive(request);
        out << export_report(exported);
        out.flush();
        for (const std::string& warning : exported.warnings) err << warning;
        return exit_success;
    });
}

}  // namespace quorel
