#include "app/check.hpp"

#include "app/shared_options.hpp"

#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <new>
#include <optional>
#include <ostream>
#include <thread>

#include "base/console.hpp"
#include "base/option_words.hpp"
#include "base/error.hpp"
#include "base/exit_status.hpp"
#include "base/format.hpp"
#include "base/guarded.hpp"
#include "base/output_file.hpp"
#include "base/units.hpp"
#include "base/stop_request.hpp"
#include "plot/gnuplot_process.hpp"
#include "plot/gnuplot_script.hpp"
#include "plot/pvss.hpp"
#include "app/check_records.hpp"
#include "record/record_reader.hpp"
#include "check/documents.hpp"
#include "check/request.hpp"
#include "acceptance/acceptance.hpp"
#include "acceptance/compliance.hpp"
#include "specification/resample.hpp"
#include "specification/spec_reader.hpp"
#include "srs/filter_bank.hpp"

namespace quorel {

namespace {

namespace fs = std::filesystem;

struct FrequencyRange {
    float low = 0.0f, high = 0.0f;
};

std::optional<FrequencyRange> frequency_range(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    FrequencyRange range;
    if (!parse_real_token(text.substr(0, colon), range.low) || !parse_real_token(text.substr(colon + 1), range.high)) {
        return std::nullopt;
    }
    if (!(range.low > 0.0f) || !(range.low < range.high) || !std::isfinite(range.high)) return std::nullopt;
    return range;
}

// A column is a 1-based number when it is all digits, else a header name.
bool column_number(const std::string& text, int32_t& number) {
    const std::optional<int64_t> value = decimal_integer(text);
    if (!value || text.empty() || text.front() == '+') return false;
    number = static_cast<int32_t>(*value);
    return true;
}

// The grid and the SRS: the specification or a frequency range, the spacing,
// the algorithm, the damping and the units.  Returns --spec.
CLI::Option* add_grid_options(CLI::App* check, CheckCommand& c, OptionWords& words) {
    auto* spec = words.takes(check->add_option("--spec", c.spec_file,
                                               "The specification (as for the synthesis): the SRS is computed on its "
                                               "octave grid and judged")
                                 ->option_text("FILE"),
                             "the name of a specification file");
    auto* range = words.takes(
        check->add_option("--frequencies", c.frequencies, "Instead of --spec: the grid from LOW to HIGH Hz, no verdict")
            ->option_text("LOW:HIGH"),
        "LOW:HIGH in Hz with 0 < LOW < HIGH",
        ValueRule{"", [](const std::string& text) { return frequency_range(text) ? ValueFault::none : ValueFault::form; }});
    spec->excludes(range);
    words.takes(check->add_option("--spacing", c.spacing, "Octave spacing of the grid: 1/3, 1/6, 1/12 or 1/24 (default 1/6)")
                    ->option_text("FRACTION"),
                "1/3, 1/6, 1/12 or 1/24", one_of({"1/3", "1/6", "1/12", "1/24"}));
    add_algorithm_option(*check, c.algorithm, words);
    add_damping_options(*check, c.q, c.damping, words);
    add_units_option(*check, c.units, words,
                     "Units of the records and the specification: english (G, in/sec, in), metric (G, m/sec, mm) or "
                     "si (m/sec^2, m/sec, mm) (default english)");
    return spec;
}

// How the records are read: their column, rate and decimal separator, and
// the options every record format shares.
void add_record_input_options(CLI::App* check, CheckCommand& c, OptionWords& words) {
    words.takes(check->add_option("--column", c.column,
                                  "The acceleration column: a 1-based number or a header name (default 2 with a time "
                                  "column; needed with --sample-rate when a line holds more than one field)")
                    ->option_text("N|NAME"),
                "a column number from 1 or a header name",
                ValueRule{"1 to 2147483647", [](const std::string& text) {
                              if (text.empty()) return ValueFault::form;
                              if (text.find_first_not_of("0123456789") != std::string::npos) return ValueFault::none;
                              int32_t number = 0;
                              return column_number(text, number) && number >= 1 ? ValueFault::none : ValueFault::range;
                          }});
    words.takes(check->add_option("--sample-rate", c.sample_rate,
                                  "The records have no time column: every line is one sample, SR samples/sec")
                    ->option_text("SR"),
                "a rate in samples/sec above 0", positive_number());
    check->add_flag("--decimal-comma", c.decimal_comma,
                    "The records' decimal separator is the comma; their fields are separated by semicolons, tabs or "
                    "blanks");
    add_record_options(check, c.input, words);
}

// What is done to the samples before the SRS: the mean removed, then the
// options of record/conditioning.
void add_conditioning_flags(CLI::App* check, CheckCommand& c, OptionWords& words) {
    auto* mean = check->add_flag("--remove-mean", c.remove_mean, "Subtract the mean of the whole record first");
    auto* pretrigger = words.takes(check->add_option("--pretrigger", c.pretrigger,
                                                     "Subtract the mean of the record's first SEC seconds first")
                                       ->option_text("SEC"),
                                   "a duration in sec above 0", positive_number());
    mean->excludes(pretrigger);
    add_conditioning_options(check, c.input, words);
}

// Which spectra of the oscillator: the residual phase, the other spectra.
void add_spectra_flags(CLI::App* check, CheckCommand& c) {
    check->add_flag("--no-residual", c.no_residual, "The forced phase only: no free vibration after the last sample");
    check->add_flag("--spectra", c.spectra,
                    "Also the other spectra of the oscillator: relative displacement and velocity, and the primary "
                    "and residual absolute acceleration (JSON and CSV; with --plot, <stem>_spectra.svg)");
}

// The verdict: the acceptance rules and the exit status of a failing record,
// both against --spec.
void add_judging_options(CLI::App* check, CheckCommand& c, OptionWords& words, CLI::Option* spec) {
    auto* acceptance = words.takes(check->add_option("--acceptance", c.acceptance,
                                                     "TOML acceptance rules, as for the synthesis (default: -3/+3 and "
                                                     "-6/+6 dB on every point of each polarity)")
                                       ->option_text("FILE"),
                                   "the name of an acceptance file");
    auto* require = check->add_flag("--require-pass", c.require_pass, "Exit status 3 when a record FAILs the rules");
    acceptance->needs(spec);
    require->needs(spec);
}

// Where the results go: the output folder and its pictures, the JSON
// document, the threads.
void add_output_options(CLI::App* check, CheckCommand& c, OptionWords& words) {
    auto* output = words.takes(
        check->add_option("-o,--output-dir", c.output_dir,
                          "Write each record's JSON document and SRS table here, created with its parents")
            ->option_text("DIR"),
        "the name of a folder",
        ValueRule{"a name", [](const std::string& text) { return text.empty() ? ValueFault::form : ValueFault::none; }});
    check->add_flag("--plot", c.plot, "With -o: draw <stem>_srs.svg and <stem>_history.svg")->needs(output);
    check->add_flag("--pvss", c.pvss, "With -o: draw <stem>_pvss.svg, the pseudo-velocity spectrum on tripartite axes")
        ->needs(output);
    check->add_flag("--json", c.json, "Print the JSON document of every record instead of the tables");
    words.takes(check->add_option("-j,--threads", c.threads,
                                  "Threads over records and frequencies, 1 to 1024 (default: every hardware thread)")
                    ->option_text("N"),
                "a whole number from 1 to 1024", whole_number_in(1, 1024));
    check->add_flag("--timings", c.timings)->group("");
}

}  // namespace

CLI::App* add_check_command(CLI::App& app, CheckCommand& c, OptionWords& words) {
    CLI::App* check = app.add_subcommand(
        "check",
        "Judge measured acceleration records against a specification: the record's figures, its SRS at every "
        "grid frequency, the margins and the verdict of the acceptance rules");
    check->footer(R"(
Records: text, one sample per line, fields separated by commas, semicolons,
tabs or blanks; header lines before the first line of numbers are skipped
(at most 100, the last one names the columns).  The first column is the time
when a line has two or more fields and --sample-rate is absent; with
--sample-rate, lines of two or more fields need --column.  quorel's own
accel_<n>.out and history_<n>.csv are records too.  MAT (.mat), WAV (.wav),
HDF5 (.h5) and universal files (.uff, datasets 58) by their extension: each
channel a record, FILE:CHANNEL.  Conditioning in this order: --scale, --trim,
--remove-mean or --pretrigger, --detrend, --highpass, --lowpass, --events.

The grid is the synthesis's grid of the specification at --spacing (up to
1000 frequencies).  A grid frequency above a quarter of a record's sample
rate is an error; above a tenth, a warning.

With -o DIR, per record (<stem>: its file name without the extension, then
_<channel> and _event<k>):
  <stem>.json       the record's JSON document (as --json prints it)
  <stem>_srs.csv    frequency, spec, positive, negative, maximax, pseudo-velocity, margins (dB)
  <stem>_srs.svg, <stem>_history.svg   with --plot;  <stem>_pvss.svg   with --pvss
  <stem>_spectra.svg   with --plot and --spectra
and the .gp script of each picture.

Exit status: 0 every record checked, whether it passes or fails; 1 a bad
record, specification, acceptance file or output (a folder in use by another
run among them); 2 a wrong command line; 3 with --require-pass and a record
that fails; 128 + N signal N (SIGINT, SIGTERM, SIGHUP) stopped the check.

Examples:
  quorel check shock.csv --spec spec.txt
  quorel check x.csv y.csv z.csv --spec spec.txt --acceptance rules.toml --require-pass -o checked --plot
  quorel check pyro.txt --sample-rate 1e6 --frequencies 100:10000 --spacing 1/12 --json)");
    words.takes(check->add_option("RECORD", c.records, "Measured acceleration records")->required()->option_text(" "),
                "a record (RECORD...)");
    CLI::Option* spec = add_grid_options(check, c, words);
    add_record_input_options(check, c, words);
    add_conditioning_flags(check, c, words);
    add_spectra_flags(check, c);
    add_judging_options(check, c, words, spec);
    add_output_options(check, c, words);
    return check;
}

namespace {

// The check asked for: the rules file and the specification read (its
// as-read points also to `spec`), or the frequency range.
CheckRequest request_of(const CheckCommand& c, std::vector<SpecPoint>& spec) {
    CheckRequest request;
    request.algorithm = algorithm_answer(c.algorithm);
    const DampingGiven damping = damping_given(c.q, c.damping);
    request.q = damping.q;
    request.damping = damping.damping;
    request.units = *unit_system_named(c.units);
    request.spacing = c.spacing;
    request.residual = !c.no_residual;
    request.threads = c.threads.empty() ? 0 : static_cast<int32_t>(*decimal_integer(c.threads));
    // Everything is read and validated before anything is written.
    if (!c.acceptance.empty()) request.rules = read_acceptance_file(c.acceptance);
    SrsSpec& points = request.points;
    request.with_spec = !c.spec_file.empty();
    if (request.with_spec) {
        DiscardText quiet;
        load_spec_points(quiet, c.spec_file, points);
        for (int32_t k = 0; k < points.input_count; ++k) {
            spec.push_back({static_cast<double>(points.input_freq[k]), static_cast<double>(points.input_accel[k])});
        }
    } else {
        const FrequencyRange range = *frequency_range(c.frequencies);
        points.input_freq[0] = range.low;
        points.input_freq[1] = points.last_input_freq = range.high;
        points.input_accel[0] = points.input_accel[1] = points.last_input_accel = 1.0f;
        points.input_count = 2;
    }
    return request;
}

RecordOptions record_options(const CheckCommand& c) {
    RecordOptions options;
    if (!c.column.empty()) {
        int32_t number = 0;
        if (column_number(c.column, number)) {
            options.column_number = number;
        } else {
            options.column_name = c.column;
        }
    }
    if (!c.sample_rate.empty()) options.sample_rate = decimal_double(c.sample_rate);
    options.decimal_comma = c.decimal_comma;
    return options;
}

// Every record read and conditioned as asked, its rate checked against the
// grid (a warning on `err` where peaks may be missed).
std::vector<LoadedRecord> load_records(const CheckCommand& c, const CheckGrid& grid, std::ostream& err,
                                       const std::atomic<int>* stop) {
    const RecordRequest request = record_request(c.input, record_options(c));
    const Conditioning conditioning = record_conditioning(c.input, c.remove_mean, c.pretrigger);
    std::vector<LoadedRecord> loaded = load_records(c.records, request, conditioning, err, stop);
    for (const LoadedRecord& l : loaded) {
        if (const std::optional<double> coarse = check_grid_rate(grid, l.record.sample_rate, l.name)) {
            err << format("\n Warning: %s: grid frequencies from %g Hz are above a tenth of its sample rate (%g "
                          "samples/sec): peaks between samples may be missed there \n",
                          l.name.c_str(), *coarse, l.record.sample_rate);
        }
    }
    return loaded;
}

// Before the folder is locked: no two records write the same files, and
// pictures can be drawn.
void check_outputs(const CheckCommand& c, const std::vector<LoadedRecord>& loaded) {
    std::vector<std::string> names, stems;
    for (const LoadedRecord& l : loaded) {
        names.push_back(l.name);
        stems.push_back(l.stem);
    }
    for (size_t r = 0; r < loaded.size(); ++r) {
        check_output_stem(names, stems, r, c.output_dir);
        if ((c.plot || c.pvss) && plot::printable(loaded[r].stem) != loaded[r].stem) {
            throw QuorelError(format("\n Error: the record name '%s' holds a control character: rename it to "
                                     "draw its plots \n",
                                     plot::printable(loaded[r].name).c_str()));
        }
    }
    if ((c.plot || c.pvss) && !plot::try_gnuplot().success) {
        throw QuorelError(plot::gnuplot_missing);
    }
}

std::string q_text(const std::optional<double>& q, double damping) {
    return q ? format("Q = %g", *q) : format("damping ratio %g", damping);
}

// One picture drawn into the output folder; a missing gnuplot, or a signal
// that stopped it, ends the check.
void draw_into(const std::string& folder, const plot::PictureNames& names, const std::string& script,
               const std::atomic<int>* stop) {
    check_stop(stop);
    bool found = false;
    try {
        found = plot::draw_picture(folder, names, script);
    } catch (const QuorelError&) {
        check_stop(stop);   // a gnuplot that the same signal ended
        throw;
    }
    if (!found) {
        throw QuorelError(plot::gnuplot_missing);
    }
}

// What every picture of a record draws from.
struct RecordPictures {
    const CheckCommand& c;
    const CheckDescription& d;
    const RecordCheck& check;
    const std::string& stem;
    const UnitTable& labels;
    std::string damping;   // "Q = 10" or "damping ratio 0.05", for the titles
    const std::atomic<int>* stop;

    void draw(const plot::PictureNames& names, const std::string& script) const {
        draw_into(c.output_dir, names, script, stop);
    }
};

// <stem>_srs.svg against the specification and its bands, and
// <stem>_history.svg.
void draw_srs_and_history(const RecordPictures& p, const std::vector<SpecPoint>& spec, const AcceptanceRules& rules) {
    const std::string against = p.c.spec_file.empty() ? "" : ", against " + p.c.spec_file;
    plot::SrsPicture srs;
    srs.names = {p.stem + "_srs.svg", p.stem + "_srs.gp"};
    srs.description = p.c.spec_file.empty()
                          ? "# SRS of a measured record (quorel check): positive and negative peaks.\n"
                          : "# SRS of a measured record (quorel check) against the specification and its\n"
                            "# tolerance bands.\n";
    srs.title = format("SRS of %s, %s%s", p.d.file.c_str(), p.damping.c_str(), against.c_str());
    srs.accel_unit = p.labels.accel;
    srs.spec = spec;
    srs.bands = rules.bands;
    srs.srs = p.check.srs;
    p.draw(srs.names, plot::srs_script(srs));

    plot::HistoryPicture history;
    history.names = {p.stem + "_history.svg", p.stem + "_history.gp"};
    history.description =
        "# Acceleration of a measured record (quorel check), and the velocity and displacement it\n"
        "# stands for (trapezoid from rest); a long record is drawn by the extremes of its groups.\n";
    history.title = format("Time history of %s", p.d.file.c_str());
    history.accel_unit = p.labels.accel;
    history.velocity_unit = p.labels.velocity;
    history.displacement_unit = p.labels.displacement;
    history.accel = p.check.history.accel;
    history.velocity = p.check.history.velocity;
    history.displacement = p.check.history.displacement;
    p.draw(history.names, plot::history_script(history));
}

// <stem>_spectra.svg: the other spectra of the record's oscillators.
void draw_spectra(const RecordPictures& p) {
    const RecordCheck& check = p.check;
    plot::SpectraPicture spectra;
    spectra.names = {p.stem + "_spectra.svg", p.stem + "_spectra.gp"};
    spectra.description =
        "# The other spectra of a measured record's oscillator (quorel check --spectra): the absolute\n"
        "# acceleration during the record (primary) and after it (residual), the relative and the\n"
        "# pseudo velocity, the relative displacement; each the larger polarity.\n";
    spectra.title = format("Spectra of %s, %s", p.d.file.c_str(), p.damping.c_str());
    spectra.accel_unit = p.labels.accel;
    spectra.velocity_unit = p.labels.velocity;
    spectra.displacement_unit = p.labels.displacement;
    for (size_t j = 0; j < check.spectra.size(); ++j) {
        const SpectraLine& line = check.spectra[j];
        spectra.freq.push_back(line.freq);
        spectra.maximax.push_back(std::max(check.srs[j].positive, check.srs[j].negative));
        spectra.primary.push_back(line.primary);
        spectra.residual.push_back(line.residual);
        spectra.relative_velocity.push_back(line.relative_velocity);
        spectra.pseudo_velocity.push_back(line.pseudo_velocity);
        spectra.relative_displacement.push_back(line.relative_displacement);
    }
    p.draw(spectra.names, plot::spectra_script(spectra));
}

// <stem>_pvss.svg: the pseudo-velocity spectrum on tripartite axes.
void draw_pvss(const RecordPictures& p, const std::vector<SpecPoint>& spec) {
    plot::PvssPicture pvss;
    pvss.names = {p.stem + "_pvss.svg", p.stem + "_pvss.gp"};
    pvss.description = "# Pseudo-velocity shock spectrum of a measured record (quorel check).\n";
    // The tripartite page is narrow: a short title.
    pvss.title = format("PVSS of %s, %s", p.d.file.c_str(), p.damping.c_str());
    pvss.units = plot::pvss_units(p.d.units);
    pvss.spec = spec;
    pvss.pvss = p.check.pvss;
    p.draw(pvss.names, plot::pvss_script(pvss));
}

// The pictures of one record.
void draw_record(const CheckCommand& c, const CheckDescription& d, const RecordCheck& check, const std::string& stem,
                 const std::vector<SpecPoint>& spec, const AcceptanceRules& rules, const UnitTable& labels,
                 const std::atomic<int>* stop) {
    const RecordPictures pictures{c, d, check, stem, labels, q_text(d.q, d.damping_ratio), stop};
    if (c.plot) draw_srs_and_history(pictures, spec, rules);
    if (c.plot && !check.spectra.empty()) draw_spectra(pictures);
    if (c.pvss) draw_pvss(pictures, spec);
}

using Clock = std::chrono::steady_clock;

// The wall times of reading and computing, on standard error.
void print_timings(const CheckCommand& c, Clock::time_point read_start, Clock::time_point compute_start,
                   std::ostream& err) {
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    double bytes = 0.0;
    for (const std::string& file : c.records) {
        std::error_code ignored;
        bytes += static_cast<double>(fs::file_size(file, ignored));
    }
    const double read_s = seconds(compute_start - read_start);
    err << format(" Timings: reading %.4f s (%.1f MB, %.0f MB/s), SRS and figures %.4f s \n", read_s, bytes / 1e6,
                  bytes / 1e6 / read_s, seconds(Clock::now() - compute_start));
}

std::vector<CheckDescription> descriptions_of(const CheckCommand& c, const PreparedCheck& prepared,
                                              const std::vector<LoadedRecord>& loaded) {
    std::vector<CheckDescription> descriptions;
    for (size_t r = 0; r < loaded.size(); ++r) {
        CheckDescription d;
        d.file = loaded[r].name;
        d.header_lines = loaded[r].record.header_lines;
        d.start_time = loaded[r].record.start_time;
        d.algorithm = c.algorithm;
        d.damping_ratio = static_cast<double>(prepared.settings.damping);
        d.q = prepared.q;
        d.spacing = c.spacing;
        d.units = prepared.settings.units;
        d.residual = !c.no_residual;
        d.spectra = c.spectra;
        d.mean_removed = loaded[r].mean_removed;
        d.scale = loaded[r].scale;
        d.conditioning = loaded[r].steps;
        descriptions.push_back(d);
    }
    return descriptions;
}

// The tables or the JSON document on `out`; returns how many records fail.
long print_results(const CheckCommand& c, const std::vector<CheckDescription>& descriptions,
                   const std::vector<RecordCheck>& checks, bool with_spec, std::ostream& out) {
    long failed = 0;
    std::string failing;
    for (size_t r = 0; r < checks.size(); ++r) {
        if (checks[r].compliance && !checks[r].compliance->verdict.pass) {
            ++failed;
            failing += (failing.empty() ? "" : ", ") + descriptions[r].file;
        }
    }
    if (c.json) {
        out << check_json(descriptions, checks);
    } else {
        for (size_t r = 0; r < checks.size(); ++r) out << check_text(descriptions[r], checks[r], c.spec_file);
        if (with_spec) {
            const long count = static_cast<long>(checks.size());
            out << (failed == 0 ? format("\n Overall: PASS, %s \n",
                                         count == 1 ? "the record passes" : format("all %ld records pass", count).c_str())
                                : format("\n Overall: FAIL, %ld of %ld record%s fail%s: %s \n", failed, count,
                                         count == 1 ? "" : "s", failed == 1 ? "s" : "", failing.c_str()));
        }
    }
    out.flush();
    return failed;
}

// Each record's files in the output folder, each written under a temporary
// name and taking its own once complete, then its pictures.
void write_outputs(const CheckCommand& c, const std::vector<CheckDescription>& descriptions,
                   const std::vector<RecordCheck>& checks, const std::vector<LoadedRecord>& loaded,
                   const std::vector<SpecPoint>& spec_points, const CheckSettings& settings,
                   const std::atomic<int>* stop) {
    const UnitTable& labels = unit_table(settings.units);
    for (size_t r = 0; r < checks.size(); ++r) {
        const std::string base = (fs::path(c.output_dir) / loaded[r].stem).string();
        for (const auto& [name, text] : {std::pair{base + ".json", check_json(descriptions[r], checks[r])},
                                         std::pair{base + "_srs.csv", check_csv(checks[r], settings.units)}}) {
            check_stop(stop);
            OutputFile file(name);
            file.write(text);
            file.close();
        }
        draw_record(c, descriptions[r], checks[r], loaded[r].stem, spec_points, settings.rules, labels, stop);
    }
}

int check(const CheckCommand& c, std::ostream& out, std::ostream& err, StopRequest* stop_request) {
    // Nothing is written before the output folder is locked, and every file
    // after it under a temporary name: a signal at any point ends the run as
    // a failed one, with no temporary file left.
    const CatchingStops catching(stop_request);
    const std::atomic<int>* stop = stop_request != nullptr ? &stop_request->signal : nullptr;
    if (c.spec_file.empty() == c.frequencies.empty()) {
        err << "quorel check: give the specification (--spec FILE) or a frequency range (--frequencies LOW:HIGH)\n"
               "Run 'quorel check --help' for usage.\n";
        return exit_usage_error;
    }

    // Everything is read and validated before anything is written.
    std::vector<SpecPoint> spec_points;
    PreparedCheck prepared = prepare_check(request_of(c, spec_points));
    const Clock::time_point read_start = Clock::now();
    const std::vector<LoadedRecord> loaded = load_records(c, prepared.grid, err, stop);
    if (!c.output_dir.empty()) check_outputs(c, loaded);
    // Held to the end: a folder that cannot be written, or that another run
    // is writing, is refused before anything is computed or printed.
    std::optional<FolderLock> folder;
    if (!c.output_dir.empty()) folder.emplace(c.output_dir);

    CheckSettings& settings = prepared.settings;
    settings.envelope_groups = c.plot ? plot::history_envelope_groups : 0;
    settings.spectra = c.spectra;
    settings.stop = stop;
    std::vector<CheckInput> inputs;
    for (size_t r = 0; r < loaded.size(); ++r) {
        const Record& record = loaded[r].record;
        inputs.push_back({record.samples, record.sample_rate, record.start_time, loaded[r].name});
    }
    const Clock::time_point compute_start = Clock::now();
    const std::vector<RecordCheck> checks = check_records(inputs, prepared.grid, settings);
    if (c.timings) print_timings(c, read_start, compute_start, err);

    const std::vector<CheckDescription> descriptions = descriptions_of(c, prepared, loaded);
    check_stop(stop);
    const long failed = print_results(c, descriptions, checks, !prepared.grid.spec.empty(), out);
    if (folder) write_outputs(c, descriptions, checks, loaded, spec_points, settings, stop);
    return failed > 0 && c.require_pass ? exit_not_met : exit_success;
}

}  // namespace

int run_check(const CheckCommand& c, std::ostream& out, std::ostream& err, StopRequest* stop) {
    return guarded_status(out, err, [&] { return check(c, out, err, stop); });
}

}  // namespace quorel
