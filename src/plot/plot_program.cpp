#include "plot/plot_program.hpp"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>

#include "acceptance/compliance.hpp"
#include "plot/gnuplot_process.hpp"
#include "plot/gnuplot_script.hpp"
#include "plot/pvss.hpp"
#include "plot/run_files.hpp"
#include "base/console.hpp"
#include "base/error.hpp"
#include "base/text_file.hpp"
#include "base/run_settings.hpp"
#include "base/exit_status.hpp"
#include "base/format.hpp"
#include "base/output_file.hpp"
#include "base/stop_request.hpp"
#include "base/guarded.hpp"
#include "base/option_words.hpp"
#include "base/version.hpp"
#include "acceptance/acceptance.hpp"
#include "specification/spec_reader.hpp"
#include "srs/pseudo_velocity.hpp"

namespace quorel::plot {

namespace {

namespace fs = std::filesystem;

const char* const description =
    "quorel-plot - plots and tolerance compliance of a finished quorel run.  Run in the\n"
    "directory of the run.  For each trial (default: every srs_<n>.out here whose result\n"
    "files are not older than trials.out) prints the SRS against the specification with\n"
    "its margins, the tolerance bands and the verdict, and draws srs_<n>.svg and\n"
    "history_<n>.svg with gnuplot.";

const char* const footer = R"(
Exit status: 0 every plot drawn, whether the rules PASS or FAIL; 1 a bad
argument, acceptance file or input file, gnuplot missing or failing; 3 with
--require-pass, every plot drawn and a trial FAILs the rules.

Examples:
  quorel-plot functional.txt                    every trial of the last run here
  quorel-plot functional.txt 32 --band -1.5,3 --band -3,6
  quorel-plot functional.txt --acceptance rules.toml --require-pass --pvss
  quorel-plot functional.txt 0 --pvss --damping 0.05    after a dialogue run)";

const char* const bands_and_rules =
    "\n Error: --band and --acceptance together: put the bands in the acceptance file \n";

// The end of every message about the arguments.
const char* const usage_line = " Run 'quorel-plot --help' for usage. \n";

struct Arguments {
    PlotRequest request;
    std::string help;   // the help or version text, when asked for
};

bool parse_trial(const std::string& text, long& trial) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    trial = std::stol(text);
    return true;
}

Arguments parse_arguments(const std::vector<std::string>& args) {
    CLI::App app{description, "quorel-plot"};
    app.footer(footer);
    app.set_version_flag("--version", std::string("quorel-plot ") + quorel_version);
    OptionWords words;
    std::vector<std::string> trials, bands;
    std::string acceptance_file;
    Arguments a;
    PlotRequest& r = a.request;
    words.takes(app.add_option("SPECFILE", r.spec_file, "The specification file the run used")->required()->option_text(" "),
                "the specification file (SPECFILE)");
    app.add_option("TRIAL", trials, "Trial numbers to draw (default: every trial with fresh result files)")
        ->option_text(" ");
    // One LOW,HIGH per --band (LOW is negative: CLI11 takes "-3,6" for a value).
    words.takes(app.add_option("--band", bands,
                               "A tolerance band in dB within -60 and +60, repeatable; each polarity is judged and "
                               "every point must be inside (default -3,3 and -6,6)")
                    ->expected(1)
                    ->take_all()
                    ->allow_extra_args(false)
                    ->option_text("LOW,HIGH"),
                "LOW,HIGH in dB");
    words.takes(app.add_option("--acceptance", acceptance_file,
                               "The acceptance rules of a TOML file instead of --band: bands with the share of points "
                               "inside and a frequency range, the maximax SRS or each polarity, and the share at or "
                               "above the specification (as quorel --acceptance)")
                    ->option_text("FILE"),
                "the name of an acceptance file");
    app.add_flag("--require-pass", r.require_pass, "Exit status 3 when a trial drawn FAILs the rules");
    auto* pvss = app.add_flag(
        "--pvss", r.pvss,
        "Also draw pvss_<n>.svg: the pseudo-velocity shock spectrum 2 pi f max|z| (z the oscillator's relative "
        "displacement) of both polarities, and the specification at A / (2 pi f), in the run's velocity unit, on "
        "tripartite axes with diagonals of constant displacement and constant acceleration");
    std::string q_text, damping_text;
    const auto [q, ratio] = add_damping_pair(
        app, q_text, damping_text, words,
        "With --pvss: the run's damping as Q, above 0.5, for a run without summary.json (the dialogue's)",
        "With --pvss: the run's damping as a ratio of critical, 0 <= RATIO < 1 (not with --q)");
    q->needs(pvss);
    ratio->needs(pvss);
    try {
        // CLI11 takes the arguments last first.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        a.help = app.help();
        return a;
    } catch (const CLI::CallForVersion&) {
        a.help = std::string("quorel-plot ") + quorel_version + "\n";
        return a;
    } catch (const CLI::ParseError& error) {
        throw QuorelError(format("\n Error: %s \n", words.message(app, error).c_str()) + usage_line);
    }
    try {
        if (app.count("--acceptance") > 0 && acceptance_file.empty()) {
            throw QuorelError("\n Error: --acceptance needs the name of an acceptance file \n");
        }
        for (const std::string& text : trials) {
            long trial = 0;
            if (!parse_trial(text, trial)) {
                throw QuorelError(format("\n Error: '%s' is neither a trial number nor an option \n", text.c_str()));
            }
            if (std::find(r.trials.begin(), r.trials.end(), trial) == r.trials.end()) r.trials.push_back(trial);
        }
        for (const std::string& text : bands) r.bands.push_back(parse_band_option(text));
        if (!acceptance_file.empty() && !r.bands.empty()) throw QuorelError(bands_and_rules);
    } catch (const QuorelError& error) {
        throw QuorelError(error.what() + std::string(usage_line));
    }
    if (!acceptance_file.empty()) r.acceptance = read_acceptance_file(acceptance_file);
    // Read as the runs read them: rounded once to float, Q turned into a ratio.
    float value = 0.0f;
    if (!q_text.empty() && parse_real_token(q_text, value)) {
        RunSettings settings;
        set_q(settings, value);
        r.damping = settings.damping;
    }
    if (!damping_text.empty() && parse_real_token(damping_text, value)) r.damping = value;
    return a;
}

// The specification as the run read it, by the run's own reader: its points
// widened to double.
std::vector<SpecPoint> read_spec(const std::string& name) {
    SrsSpec spec;
    DiscardText opened;
    load_spec_points(opened, name, spec);
    std::vector<SpecPoint> points;
    for (int32_t p = 0; p < spec.input_count; ++p) {
        points.push_back({static_cast<double>(spec.input_freq[p]), static_cast<double>(spec.input_accel[p])});
    }
    return points;
}

// The run's folder: its files are read and the plots written there.  Messages
// name a file by its path from the working directory, which in the run's own
// folder is its plain name.
class RunFolder {
public:
    explicit RunFolder(const std::string& directory) : directory_(directory.empty() ? "." : directory) {}
    const std::string& directory() const { return directory_; }
    std::string path(const std::string& name) const {
        return directory_ == "." ? name : (fs::path(directory_) / name).string();
    }
    TrialFileNames paths(const TrialFileNames& names) const {
        return {path(names.srs), path(names.accel), path(names.velocity), path(names.displacement), path(names.wavelets)};
    }

private:
    std::string directory_;
};

// The trials of the run: every srs_<n>.out of its folder, ascending.
std::vector<long> trials_in_folder(const RunFolder& folder) {
    std::vector<long> trials;
    std::error_code error;
    for (fs::directory_iterator entry(folder.directory(), error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        long trial = 0;
        if (name.size() > 8 && name.rfind("srs_", 0) == 0 && name.compare(name.size() - 4, 4, ".out") == 0 &&
            parse_trial(name.substr(4, name.size() - 8), trial)) {
            trials.push_back(trial);
        }
    }
    std::sort(trials.begin(), trials.end());
    if (trials.empty() && folder.directory() == ".") {
        throw QuorelError("\n Error: no srs_<n>.out file in this directory: run quorel-plot where quorel wrote its files \n");
    }
    if (trials.empty()) throw QuorelError(format("\n Error: no srs_<n>.out file in %s \n", folder.directory().c_str()));
    return trials;
}

// The result files of a trial that are older than the run's trials.out: a run
// finishes its trial log before it writes the optima's files, so these are
// left from an earlier run.  A missing file is not listed here; reading it
// reports it.
std::vector<std::string> stale_files(const TrialFileNames& paths, fs::file_time_type log_time) {
    std::vector<std::string> stale;
    for (const std::string* name : {&paths.srs, &paths.accel, &paths.velocity, &paths.displacement, &paths.wavelets}) {
        std::error_code error;
        const fs::file_time_type time = fs::last_write_time(*name, error);
        if (!error && time < log_time) stale.push_back(*name);
    }
    return stale;
}

std::string joined(const std::vector<std::string>& words, const char* separator) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : separator) + w;
    return text;
}

// The trials to draw.  By default those whose files are as new as trials.out;
// the others are named in one warning.  Trials asked for must be as new.
std::vector<long> fresh_trials(const RunFolder& folder, const std::vector<long>& asked, std::ostream& out,
                               std::ostream& err) {
    const std::string log_name = folder.path("trials.out");
    std::error_code error;
    const fs::file_time_type log_time = fs::last_write_time(log_name, error);
    if (error) throw QuorelError(format("\n Error: cannot read %s \n", log_name.c_str()));

    if (!asked.empty()) {
        for (const long trial : asked) {
            const std::vector<std::string> stale = stale_files(folder.paths(trial_file_names(trial)), log_time);
            if (!stale.empty()) {
                throw QuorelError(format("\n Error: trial %ld: %s %s older than %s, left from an earlier run \n", trial,
                                         joined(stale, ", ").c_str(), stale.size() == 1 ? "is" : "are",
                                         log_name.c_str()));
            }
        }
        return asked;
    }
    std::vector<long> fresh;
    std::vector<std::string> skipped;
    for (const long trial : trials_in_folder(folder)) {
        if (stale_files(folder.paths(trial_file_names(trial)), log_time).empty()) {
            fresh.push_back(trial);
        } else {
            skipped.push_back(std::to_string(trial));
        }
    }
    if (!skipped.empty()) {
        out.flush();
        err << format("\n Warning: %s %s skipped: result files older than %s, left from an earlier run \n",
                      skipped.size() == 1 ? "trial" : "trials", joined(skipped, " ").c_str(), log_name.c_str());
    }
    if (fresh.empty()) {
        throw QuorelError(format("\n Error: no trial has result files as new as %s \n", log_name.c_str()));
    }
    return fresh;
}

// The run's damping ratio for the pseudo velocity: the one given, or the one
// summary.json records.
float run_damping(const RunFolder& folder, const std::optional<float>& given) {
    const std::string name = folder.path("summary.json");
    std::error_code error;
    if (!fs::exists(name, error)) {
        if (given) return *given;
        const std::string where = folder.directory() == "." ? "here" : "in " + folder.directory();
        throw QuorelError(format("\n Error: --pvss needs the run's damping: no summary.json %s records it (the "
                                 "dialogue writes none): give the run's --q Q or --damping RATIO \n",
                                 where.c_str()));
    }
    const nlohmann::json summary = nlohmann::json::parse(read_text_file(name), nullptr, false);
    const nlohmann::json* ratio = nullptr;
    if (summary.is_object() && summary.contains("settings") && summary["settings"].is_object() &&
        summary["settings"].contains("damping_ratio")) {
        ratio = &summary["settings"]["damping_ratio"];
    }
    if (ratio == nullptr || !ratio->is_number()) {
        throw QuorelError(format("\n Error: %s: no number settings.damping_ratio: the run's damping is unknown \n",
                                 name.c_str()));
    }
    const float damping = static_cast<float>(ratio->get<double>());
    if (given && *given != damping) {
        throw QuorelError(format("\n Error: the damping ratio given, %g, is not the run's: %s records %g \n",
                                 static_cast<double>(*given), name.c_str(), static_cast<double>(damping)));
    }
    return damping;
}

// The pseudo-velocity spectrum of a trial: its acceleration history, whose
// times give the step, at the frequencies of its SRS file, with the residual
// phase of the run's SRS.
std::vector<PvssLine> trial_pvss(const TrialFiles& files, const std::string& accel_name, float damping,
                                 const PvssUnits& units) {
    const size_t n = files.accel.size();
    const double span = n > 1 ? files.accel.back().time - files.accel.front().time : 0.0;
    if (!(span > 0.0)) {
        throw QuorelError(format("\n Error: %s: the times do not increase: no pseudo-velocity spectrum \n",
                                 accel_name.c_str()));
    }
    const float dt = static_cast<float>(span / static_cast<double>(n - 1));
    std::vector<double> samples;
    for (const Sample& s : files.accel) samples.push_back(s.value);
    std::vector<float> freq;
    for (const SrsLine& line : files.srs) freq.push_back(static_cast<float>(line.freq));
    return pseudo_velocity_spectrum(samples, dt, damping, freq, true, units.accel_factor);
}

TrialFiles load_trial(long trial, const TrialFileNames& paths) {
    TrialFiles files;
    files.trial = trial;
    files.srs = parse_srs(paths.srs, read_text_file(paths.srs));
    files.accel = parse_history(paths.accel, read_text_file(paths.accel));
    files.velocity = parse_history(paths.velocity, read_text_file(paths.velocity));
    files.displacement = parse_history(paths.displacement, read_text_file(paths.displacement));
    files.wavelets = parse_wavelets(paths.wavelets, read_text_file(paths.wavelets));
    check_trial(files, paths);
    return files;
}

// Draws one picture of the run's folder; false when there is no gnuplot.
bool draw(const RunFolder& folder, std::ostream& out, std::ostream& err, const PictureNames& names,
          const std::string& script) {
    out.flush();
    err.flush();
    return draw_picture(folder.directory(), names, script);
}

// The pictures of one trial, from its files.
struct TrialPictures {
    SrsPicture srs;
    HistoryPicture history;
    PvssPicture pvss;
};

TrialPictures trial_pictures(long trial, const std::string& spec_name, const RunUnits& units,
                             const std::vector<SpecPoint>& spec, const std::vector<ToleranceBand>& bands,
                             const TrialFiles& files) {
    const PlotNames names = plot_names(trial);
    TrialPictures p;
    std::string band_names;
    for (const ToleranceBand& b : bands) band_names += (band_names.empty() ? "" : ", ") + band_label(b);
    p.srs.names = names.srs;
    p.srs.description = format("# SRS of trial %ld (srs_%ld.out) against the specification, with its\n"
                               "# tolerance bands %s.\n",
                               trial, trial, band_names.c_str());
    p.srs.title = format("SRS of trial %ld against %s", trial, spec_name.c_str());
    p.srs.accel_unit = units.accel;
    p.srs.spec = spec;
    p.srs.bands = bands;
    p.srs.srs = files.srs;

    p.history.names = names.history;
    p.history.description = format("# Time history of trial %ld: accel_%ld.out, velox_%ld.out and disp_%ld.out.\n",
                                   trial, trial, trial, trial);
    p.history.title = format("Time history of trial %ld", trial);
    p.history.accel_unit = units.accel;
    p.history.velocity_unit = units.velocity;
    p.history.displacement_unit = units.displacement;
    p.history.accel = envelope_of(files.accel, history_envelope_groups);
    p.history.velocity = envelope_of(files.velocity, history_envelope_groups);
    p.history.displacement = envelope_of(files.displacement, history_envelope_groups);

    p.pvss.names = names.pvss;
    p.pvss.description = format(
        "# Pseudo-velocity shock spectrum of trial %ld (accel_%ld.out, at the frequencies of srs_%ld.out)\n"
        "# and the specification.\n",
        trial, trial, trial);
    p.pvss.title = format("Pseudo-velocity shock spectrum of trial %ld against %s", trial, spec_name.c_str());
    p.pvss.spec = spec;
    return p;
}

// A name that reaches a script (in a title) must not hold control characters:
// they would end or cut its line.
void check_name(const std::string& what, const std::string& name) {
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            const std::string shown = printable(name);
            throw QuorelError(format("\n Error: the %s name '%s' holds a control character (byte 0x%02X): rename it \n",
                                     what.c_str(), shown.c_str(), byte));
        }
    }
}

int draw(const PlotRequest& request, std::ostream& out, std::ostream& err) {
    check_name("specification file", request.spec_file);
    if (request.acceptance && !request.bands.empty()) throw QuorelError(bands_and_rules);
    const AcceptanceRules rules = request.acceptance ? *request.acceptance : band_rules(request.bands);
    for (const ToleranceBand& band : rules.bands) {
        if (!valid_band(band.low_db, band.high_db)) {
            throw QuorelError(format("\n Error: band %s: expected LOW < HIGH, both within -%g and +%g dB \n",
                                     band_label(band).c_str(), band_limit_db, band_limit_db));
        }
    }
    const RunFolder folder(request.directory);
    const std::vector<SpecPoint> spec = read_spec(request.spec_file);
    const std::string log_name = folder.path("trials.out");
    const RunUnits units = parse_units(log_name, read_text_file(log_name));
    // The pseudo velocity needs the unit system's factors: a unit line of none
    // of the run's systems leaves them unknown.
    const std::optional<PvssUnits> pv_units = request.pvss ? pvss_units(units) : std::nullopt;
    if (request.pvss && !pv_units) {
        throw QuorelError(format("\n Error: %s: units (%s) (%s) (%s) are none of the run's unit systems: no "
                                 "pseudo-velocity spectrum can be drawn \n",
                                 log_name.c_str(), units.accel.c_str(), units.velocity.c_str(),
                                 units.displacement.c_str()));
    }
    const float damping = pv_units ? run_damping(folder, request.damping) : 0.0f;
    const std::vector<long> trials = fresh_trials(folder, request.trials, out, err);

    bool gnuplot_found = true;
    bool any_fail = false;
    for (const long trial : trials) {
        const TrialFileNames paths = folder.paths(trial_file_names(trial));
        const TrialFiles files = load_trial(trial, paths);
        const Compliance compliance = assess(spec, files.srs, paths.srs, rules);
        out << compliance_table(format("Trial %ld", trial), request.spec_file, units.accel, compliance);
        any_fail = any_fail || !compliance.verdict.pass;
        if (!gnuplot_found) continue;
        check_stop(request.stop);
        TrialPictures pictures = trial_pictures(trial, request.spec_file, units, spec, rules.bands, files);
        if (pv_units) {
            pictures.pvss.units = *pv_units;
            pictures.pvss.pvss = trial_pvss(files, paths.accel, damping, *pv_units);
            pictures.pvss.description += format("# The run's damping ratio: %g.\n", static_cast<double>(damping));
        }
        gnuplot_found = draw(folder, out, err, pictures.srs.names, srs_script(pictures.srs)) &&
                        draw(folder, out, err, pictures.history.names, history_script(pictures.history)) &&
                        (!pv_units || draw(folder, out, err, pictures.pvss.names, pvss_script(pictures.pvss)));
        if (gnuplot_found) {
            out << format("\n Plots: %s  %s%s \n", folder.path(pictures.srs.names.picture).c_str(),
                          folder.path(pictures.history.names.picture).c_str(),
                          pv_units ? ("  " + folder.path(pictures.pvss.names.picture)).c_str() : "");
        }
    }
    if (!gnuplot_found) throw QuorelError(gnuplot_missing);
    return any_fail && request.require_pass ? exit_not_met : exit_success;
}

}  // namespace

void check_gnuplot_runs() {
    const GnuplotRun run = try_gnuplot();
    if (!run.found) throw QuorelError(gnuplot_missing);
    if (!run.success) {
        throw QuorelError(format("\n Error: gnuplot does not run (%s): no plot can be drawn \n", run.detail.c_str()));
    }
}

int draw_run(const PlotRequest& request, std::ostream& out, std::ostream& err) {
    return guarded_status(out, err, [&] { return draw(request, out, err); });
}

int run_plot_program(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Arguments a;
    const int status = guarded_status(out, err, [&] {
        a = parse_arguments(args);
        print_all(out, a.help);
        return exit_success;
    });
    if (status != exit_success || !a.help.empty()) return status;
    return draw_run(a.request, out, err);
}

}  // namespace quorel::plot
