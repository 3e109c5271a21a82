#include "plot/plot_program.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "plot/compliance.hpp"
#include "plot/gnuplot_process.hpp"
#include "plot/gnuplot_script.hpp"
#include "plot/run_files.hpp"
#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel::plot {

namespace {

namespace fs = std::filesystem;

const char* const usage =
    "\n usage: quorel-plot SPECFILE [TRIAL ...] [--band LOW,HIGH ...] \n"
    "\n Run in the directory of a finished run.  For each trial (default: every"
    "\n srs_<n>.out here) prints the SRS against the specification with its margins"
    "\n and tolerance bands, and draws srs_<n>.svg and history_<n>.svg with gnuplot."
    "\n --band LOW,HIGH   a tolerance band in dB, repeatable (default -3,3 and -6,6) \n";

struct Arguments {
    std::string spec_name;
    std::vector<long> trials;
    std::vector<Band> bands;
    bool help = false;
};

bool parse_trial(const std::string& text, long& trial) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    trial = std::stol(text);
    return true;
}

Arguments parse_arguments(const std::vector<std::string>& args) {
    Arguments a;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            a.help = true;
        } else if (arg == "--band") {
            if (i + 1 == args.size()) throw QuorelError("\n Error: --band needs LOW,HIGH in dB, e.g. --band -3,6 \n");
            a.bands.push_back(parse_band(args[++i]));
        } else if (arg.rfind("--band=", 0) == 0) {
            a.bands.push_back(parse_band(arg.substr(7)));
        } else if (a.spec_name.empty() && !(arg.size() > 1 && arg[0] == '-')) {
            a.spec_name = arg;
        } else {
            long trial = 0;
            if (!parse_trial(arg, trial)) {
                throw QuorelError(format("\n Error: '%s' is neither a trial number nor an option \n", arg.c_str()));
            }
            if (std::find(a.trials.begin(), a.trials.end(), trial) == a.trials.end()) a.trials.push_back(trial);
        }
    }
    if (a.bands.empty()) a.bands = default_bands();
    if (a.spec_name.empty() && !a.help) throw QuorelError(usage);
    return a;
}

std::string read_text_file(const std::string& name) {
    std::error_code error;
    if (!fs::exists(name, error)) throw QuorelError(format("\n Error: cannot open %s: no such file \n", name.c_str()));
    if (!fs::is_regular_file(name, error)) {
        throw QuorelError(format("\n Error: %s is not a regular file \n", name.c_str()));
    }
    std::ifstream file(name, std::ios::binary);
    std::ostringstream text;
    if (file) text << file.rdbuf();
    if (!file || file.bad()) throw QuorelError(format("\n Error: cannot read %s \n", name.c_str()));
    return text.str();
}

// The trials of the run: every srs_<n>.out of the working directory, ascending.
std::vector<long> trials_in_directory() {
    std::vector<long> trials;
    for (const auto& entry : fs::directory_iterator(fs::current_path())) {
        const std::string name = entry.path().filename().string();
        long trial = 0;
        if (name.size() > 8 && name.rfind("srs_", 0) == 0 && name.compare(name.size() - 4, 4, ".out") == 0 &&
            parse_trial(name.substr(4, name.size() - 8), trial)) {
            trials.push_back(trial);
        }
    }
    std::sort(trials.begin(), trials.end());
    if (trials.empty()) throw QuorelError("\n Error: no srs_<n>.out file in this directory: run quorel-plot where quorel wrote its files \n");
    return trials;
}

TrialFiles load_trial(long trial, const TrialFileNames& names) {
    TrialFiles files;
    files.trial = trial;
    files.srs = parse_srs(names.srs, read_text_file(names.srs));
    files.accel = parse_history(names.accel, read_text_file(names.accel));
    files.velocity = parse_history(names.velocity, read_text_file(names.velocity));
    files.displacement = parse_history(names.displacement, read_text_file(names.displacement));
    files.wavelets = parse_wavelets(names.wavelets, read_text_file(names.wavelets));
    check_trial(files, names);
    return files;
}

// Files written under a temporary name: removed on destruction unless they
// were renamed to their final names.
class PartFiles {
public:
    PartFiles() = default;
    PartFiles(const PartFiles&) = delete;
    PartFiles& operator=(const PartFiles&) = delete;
    ~PartFiles() {
        std::error_code ignored;
        for (const std::string& name : names_) fs::remove(name, ignored);
    }
    std::string add(const std::string& final_name) {
        names_.push_back(final_name + ".part");
        return names_.back();
    }
    void write(const std::string& final_name, const std::string& text) {
        const std::string part = add(final_name);
        std::ofstream file(part, std::ios::binary | std::ios::trunc);
        file << text;
        file.close();
        if (!file) throw QuorelError(format("\n Error: cannot write %s \n", part.c_str()));
    }
    void commit(const std::string& final_name) {
        const std::string part = final_name + ".part";
        std::error_code error;
        fs::rename(part, final_name, error);
        if (error) throw QuorelError(format("\n Error: cannot rename %s to %s \n", part.c_str(), final_name.c_str()));
        names_.erase(std::remove(names_.begin(), names_.end(), part), names_.end());
    }

private:
    std::vector<std::string> names_;
};

// Writes the script under a .part name, runs gnuplot on it into the picture's
// .part name, and gives both their final names when gnuplot succeeded.
// Returns false when there is no gnuplot to run.
bool draw(std::ostream& out, const std::string& script_name, const std::string& script, const std::string& picture) {
    PartFiles parts;
    parts.write(script_name, script);
    const std::string picture_part = parts.add(picture);
    out.flush();
    const GnuplotRun run = run_gnuplot(picture_part, script_name + ".part");
    if (!run.found) return false;
    if (!run.success) {
        throw QuorelError(format("\n Error: gnuplot failed on %s (%s): %s not drawn \n", script_name.c_str(),
                                 run.detail.c_str(), picture.c_str()));
    }
    parts.commit(picture);
    parts.commit(script_name);
    return true;
}

int run(const std::vector<std::string>& args, std::ostream& out) {
    const Arguments a = parse_arguments(args);
    if (a.help) {
        out << usage;
        return 0;
    }
    const std::vector<SpecPoint> spec = parse_spec(a.spec_name, read_text_file(a.spec_name));
    const RunUnits units = parse_units("trials.out", read_text_file("trials.out"));
    const std::vector<long> trials = a.trials.empty() ? trials_in_directory() : a.trials;

    bool gnuplot_found = true;
    for (const long trial : trials) {
        const PlotContext context{trial, a.spec_name, units, trial_file_names(trial)};
        const TrialFiles files = load_trial(trial, context.files);
        const Compliance compliance = assess(spec, files.srs, context.files.srs, a.bands);
        out << compliance_table(trial, a.spec_name, units.accel, compliance);
        if (!gnuplot_found) continue;
        const PlotNames names = plot_names(trial);
        gnuplot_found =
            draw(out, names.srs_script, srs_script(context, spec, compliance, a.bands), names.srs_picture) &&
            draw(out, names.history_script, history_script(context), names.history_picture);
        if (gnuplot_found) {
            out << format("\n Plots: %s  %s \n", names.srs_picture.c_str(), names.history_picture.c_str());
        }
    }
    if (!gnuplot_found) {
        out << "\n Error: gnuplot not found: install the gnuplot-nox package to draw the plots \n";
        return 1;
    }
    return 0;
}

}  // namespace

int draw_run(const PlotRequest& request, std::ostream& out, std::ostream& err) {
    (void)err;
    if (request.directory != ".") {
        out << "\n Error: plots in another folder are not drawn yet \n";
        return 1;
    }
    std::vector<std::string> args{request.spec_file};
    for (const long trial : request.trials) args.push_back(std::to_string(trial));
    return run_plot_program(args, out);
}

int run_plot_program(const std::vector<std::string>& args, std::ostream& out) {
    int status = 1;
    try {
        status = run(args, out);
    } catch (const QuorelError& error) {
        out << error.what();
        status = 1;
    } catch (const std::exception& error) {
        out << format("\n Error: %s \n", error.what());
        status = 1;
    }
    out.flush();
    if (!out) status = 1;
    return status;
}

}  // namespace quorel::plot
