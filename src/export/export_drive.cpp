#include "export/export_drive.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/numeric.hpp"
#include "base/run_settings.hpp"
#include "base/srs_algorithm.hpp"
#include "base/text_file.hpp"
#include "optimal/node_drive.hpp"
#include "record/numeric_fields.hpp"
#include "record/record_formats.hpp"
#include "record/record_writers.hpp"
#include "specification/srs_spec.hpp"
#include "srs/filter_bank.hpp"
#include "srs/spectrum_error.hpp"
#include "srs/srs.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

[[noreturn]] void refuse(const std::string& message) { throw QuorelError("\n Error: " + message + " \n"); }

// An option as the front end spells it.
std::string option(const ExportRequest& r, const char* name) {
    if (r.command_line) {
        std::string spelled = std::string("--") + name;
        std::replace(spelled.begin(), spelled.end(), '_', '-');
        return spelled;
    }
    return name;
}

void check_request(const ExportRequest& r) {
    if (r.run_dir.empty()) refuse("no run folder given");
    if (r.output.empty()) refuse(format("no output file given (%s)", r.command_line ? "-o FILE" : "output"));
    if (r.trial && r.optimal) {
        refuse(format("%s and %s exclude each other", option(r, "trial").c_str(), option(r, "optimal").c_str()));
    }
    if (r.trial && *r.trial < 0) refuse(format("%s %d: a trial number is 0 or more", option(r, "trial").c_str(), *r.trial));
    if (!(std::isfinite(r.rate) && r.rate > 0.0 && std::isfinite(static_cast<float>(r.rate)))) {
        refuse(format("%s %g: the sample rate must be above 0 and finite", option(r, "rate").c_str(), r.rate));
    }
    for (const auto& [name, value] : {std::pair{"pad_before", r.pad_before}, std::pair{"pad_after", r.pad_after}}) {
        if (!(std::isfinite(value) && value >= 0.0)) {
            refuse(format("%s %g: a time of zeros must be 0 sec or more and finite", option(r, name).c_str(), value));
        }
    }
    if (r.points && r.frame_pow2) {
        refuse(format("%s and %s exclude each other", option(r, "points").c_str(),
                      r.command_line ? "--frame pow2" : "frame"));
    }
    if (r.points && (*r.points < 1 || *r.points > max_export_points)) {
        refuse(format("%s %lld: the point count must be from 1 to %lld", option(r, "points").c_str(),
                      static_cast<long long>(*r.points), static_cast<long long>(max_export_points)));
    }
    const ExportFormat format_used = r.format ? *r.format : export_format_for(r.output);
    if (r.scale) {
        if (format_used != ExportFormat::wav) {
            refuse(format("%s is for WAV files (volts per acceleration unit), not %s",
                          option(r, "scale").c_str(), export_format_name(format_used)));
        }
        if (!(std::isfinite(*r.scale) && *r.scale > 0.0)) {
            refuse(format("%s %g: volts per unit must be above 0 and finite", option(r, "scale").c_str(), *r.scale));
        }
    }
    if (format_used == ExportFormat::wav && (r.rate != std::floor(r.rate) || r.rate > 2147483647.0)) {
        refuse(format("%s %.9g: a WAV file holds a whole number of samples/sec, at most 2147483647",
                      option(r, "rate").c_str(), r.rate));
    }
    std::error_code error;
    if (fs::is_directory(r.output, error)) refuse(format("%s is a folder, not a file to write", r.output.c_str()));
}

// ---- The run folder --------------------------------------------------------

struct RunFolder {
    std::string dir;
    RunSettings settings;
    SrsSpec spec;
    std::optional<AcceptanceRules> rules;
    std::vector<int32_t> trials;       // whose wavelet tables and SRS files the folder holds
    int32_t displacement_optimum = -1;
    bool optimal = false;              // the optimal drive's files are there
    int32_t node_spacing = 0, nodes = 0;
    // Grid frequencies the optimal drive carries in its starting trial's
    // wavelets on top of its nodes (the largest runs), from `kept_from` Hz.
    int32_t kept_wavelets = 0;
    double kept_from = 0.0;
};

std::string in_run(const RunFolder& run, const std::string& name) { return (fs::path(run.dir) / name).string(); }

const Json& member(const Json& object, const char* key, const std::string& path) {
    if (!object.is_object() || !object.contains(key)) refuse(format("%s holds no '%s'", path.c_str(), key));
    return object.at(key);
}

double number(const Json& object, const char* key, const std::string& path) {
    const Json& value = member(object, key, path);
    if (!value.is_number()) refuse(format("%s: '%s' is not a number", path.c_str(), key));
    return value.get<double>();
}

AcceptanceRules rules_of(const Json& json, const std::string& path) {
    AcceptanceRules rules;
    rules.name = json.value("file", std::string("the run's rules"));
    rules.points = json.value("srs", std::string("maximax")) == "each" ? SrsPoints::each : SrsPoints::maximax;
    for (const Json& b : member(json, "bands", path)) {
        ToleranceBand band;
        band.low_db = number(b, "low_db", path);
        band.high_db = number(b, "high_db", path);
        band.min_share = number(b, "min_share", path);
        if (b.contains("from_hz") && b["from_hz"].is_number()) band.from_hz = b["from_hz"].get<double>();
        if (b.contains("to_hz") && b["to_hz"].is_number()) band.to_hz = b["to_hz"].get<double>();
        rules.bands.push_back(band);
    }
    const Json& above = member(json, "above_nominal_min_share", path);
    if (above.is_number()) rules.above_nominal_share = above.get<double>();
    return rules;
}

RunFolder read_run(const std::string& dir) {
    RunFolder run;
    run.dir = dir;
    std::error_code error;
    if (!fs::is_directory(dir, error)) refuse(format("%s is not a run folder", dir.c_str()));
    const std::string path = in_run(run, OutputNames{}.summary);
    if (!fs::exists(path, error)) {
        refuse(format("%s holds no %s: export reads a run of the command line", dir.c_str(), OutputNames{}.summary.c_str()));
    }
    Json summary;
    try {
        summary = Json::parse(read_text_file(path));
    } catch (const Json::exception& e) {
        refuse(format("%s is not a run's summary: %s", path.c_str(), e.what()));
    }
    try {
        const Json& s = member(summary, "settings", path);
        RunSettings& settings = run.settings;
        const std::optional<SrsAlgorithm> algorithm = srs_algorithm_named(member(s, "algorithm", path).get<std::string>());
        const std::optional<UnitSystem> units = unit_system_named(member(s, "units", path).get<std::string>());
        if (!algorithm || !units) refuse(format("%s: unknown algorithm or units", path.c_str()));
        settings.algorithm = *algorithm;
        settings.units = *units;
        settings.damping = static_cast<float>(number(s, "damping_ratio", path));
        set_sample_rate(settings, static_cast<float>(number(s, "sample_rate", path)));
        settings.nt = static_cast<int32_t>(number(s, "samples", path));
        settings.duration = static_cast<float>(number(s, "duration", path));
        const Json& grid = member(summary, "grid", path);
        if (!grid.is_array() || grid.empty() || grid.size() > static_cast<size_t>(max_frequencies)) {
            refuse(format("%s: the grid holds no frequencies, or too many", path.c_str()));
        }
        for (const Json& point : grid) {
            run.spec.freq[static_cast<size_t>(run.spec.count)] = static_cast<float>(number(point, "frequency", path));
            run.spec.accel[static_cast<size_t>(run.spec.count)] = static_cast<float>(number(point, "spec", path));
            ++run.spec.count;
        }
        const Json& acceptance = member(summary, "acceptance", path);
        if (!acceptance.is_null()) run.rules = rules_of(acceptance, path);
        const Json& optimum = member(summary, "optimum", path);
        const OutputNames names;
        auto has_files = [&](int32_t t) {
            return fs::exists(in_run(run, trial_file_name(names.wavelets_csv, t, ".csv")), error) &&
                   fs::exists(in_run(run, trial_file_name(names.srs, t)), error);
        };
        if (optimum.is_object()) {
            for (const char* kind : {"displacement", "acceleration"}) {
                const int32_t t = static_cast<int32_t>(number(member(optimum, kind, path), "trial", path));
                if (!has_files(t)) continue;
                if (std::string(kind) == "displacement") run.displacement_optimum = t;
                if (std::find(run.trials.begin(), run.trials.end(), t) == run.trials.end()) run.trials.push_back(t);
            }
        }
        std::sort(run.trials.begin(), run.trials.end());
        const Json& optimal = member(summary, "optimal", path);
        if (optimal.is_object() && !member(optimal, "files", path).is_null() &&
            fs::exists(in_run(run, result_file_name(names.history_csv, "optimal", ".csv")), error) &&
            fs::exists(in_run(run, result_file_name(names.srs, "optimal")), error)) {
            const Json& solver = member(optimal, "solver", path);
            run.optimal = true;
            run.node_spacing = static_cast<int32_t>(number(solver, "node_spacing", path));
            run.nodes = static_cast<int32_t>(number(solver, "nodes", path));
            if (solver.contains("kept_wavelets")) {
                run.kept_wavelets = static_cast<int32_t>(number(solver, "kept_wavelets", path));
                if (run.kept_wavelets > 0) run.kept_from = number(solver, "kept_from_hz", path);
            }
        }
    } catch (const Json::exception& e) {
        refuse(format("%s is not a run's summary: %s", path.c_str(), e.what()));
    }
    if (!(run.settings.sample_rate > 0.0f) || run.settings.nt < 1 || run.spec.count < 1) {
        refuse(format("%s: the run's sample rate, samples or grid are missing", path.c_str()));
    }
    return run;
}

// "trials 16 and 40 and the optimal drive (--optimal)"
std::string what_run_holds(const RunFolder& run, const ExportRequest& r) {
    std::vector<std::string> items;
    if (!run.trials.empty()) {
        std::string trials = run.trials.size() == 1 ? "trial " : "trials ";
        for (size_t k = 0; k < run.trials.size(); ++k) {
            trials += (k == 0 ? "" : (k + 1 == run.trials.size() ? " and " : ", ")) + std::to_string(run.trials[k]);
        }
        items.push_back(trials);
    }
    if (run.optimal) items.push_back("the optimal drive (" + option(r, "optimal") + ")");
    if (items.empty()) return "no drive to export (no optimum's wavelet table, no optimal drive's files)";
    return items.size() == 1 ? items[0] : items[0] + " and " + items[1];
}

// The numbers of each line of a table after `header` lines, `count` of them.
std::vector<std::vector<double>> read_table(const std::string& path, int32_t header, int32_t count,
                                            FieldSeparator separator) {
    const std::string text = read_text_file(path);
    std::vector<std::vector<double>> rows;
    std::istringstream lines(text);
    std::string line;
    long number_of_line = 0;
    std::vector<double> values(static_cast<size_t>(count));
    while (std::getline(lines, line)) {
        ++number_of_line;
        if (number_of_line <= header || is_blank_line(line)) continue;
        const NumericLine read = read_numbers(line, separator, values.data(), count);
        if (read.bad >= 0 || read.count != count) {
            refuse(format("%s line %ld: expected %d numbers", path.c_str(), number_of_line, count));
        }
        rows.push_back(values);
    }
    return rows;
}

// ---- The drive's model at the new rate ---------------------------------------

struct Source {
    std::string drive;      // "trial 16"
    std::string srs_file;   // by name
    bool wavelets = true;
    int32_t trial = -1;
};

Source choose(const RunFolder& run, const ExportRequest& r) {
    const OutputNames names;
    if (r.optimal) {
        if (!run.optimal) {
            refuse(format("%s holds no optimal drive's files: it holds %s", run.dir.c_str(), what_run_holds(run, r).c_str()));
        }
        return {"the optimal drive", result_file_name(names.srs, "optimal"), false, -1};
    }
    const int32_t t = r.trial ? *r.trial : run.displacement_optimum;
    if (std::find(run.trials.begin(), run.trials.end(), t) == run.trials.end()) {
        if (r.trial) {
            refuse(format("%s holds no trial %d to export: it holds %s", run.dir.c_str(), t, what_run_holds(run, r).c_str()));
        }
        refuse(format("%s holds no optimum to export by default: it holds %s", run.dir.c_str(),
                      what_run_holds(run, r).c_str()));
    }
    return {format("trial %d", t), trial_file_name(names.srs, t), true, t};
}

// The wavelet table as a one-row set.
void read_wavelets(const RunFolder& run, int32_t trial, WaveletSet& set) {
    const std::string path = in_run(run, trial_file_name(OutputNames{}.wavelets_csv, trial, ".csv"));
    const std::vector<std::vector<double>> rows = read_table(path, 1, 6, FieldSeparator::comma);
    if (static_cast<int32_t>(rows.size()) != run.spec.count) {
        refuse(format("%s holds %zu wavelets for the %d grid frequencies of the run", path.c_str(), rows.size(),
                      run.spec.count));
    }
    allocate_rows(set, run.spec.count, 1);
    set_wavelet_constants(run.spec, set);
    for (int32_t k = 0; k < run.spec.count; ++k) {
        const std::vector<double>& w = rows[static_cast<size_t>(k)];
        if (static_cast<float>(w[1]) != run.spec.freq[static_cast<size_t>(k)]) {
            refuse(format("%s line %d: the frequency %.9g Hz is not the grid's %.9g Hz", path.c_str(), k + 2, w[1],
                          static_cast<double>(run.spec.freq[static_cast<size_t>(k)])));
        }
        const int32_t half_sines = static_cast<int32_t>(w[3]);
        if (half_sines < 1 || half_sines != w[3]) refuse(format("%s line %d: a half-sine count is a whole number", path.c_str(), k + 2));
        set.amplitude_row(0)[k] = static_cast<float>(w[2] < 0.0 ? -w[5] : w[5]);
        set.nhs_row(0)[k] = half_sines;
        set.delay_row(0)[k] = static_cast<float>(w[4]);
    }
}

// The optimal drive's node values: the samples of its history at the nodes.
std::vector<double> read_nodes(const RunFolder& run) {
    const std::string path = in_run(run, result_file_name(OutputNames{}.history_csv, "optimal", ".csv"));
    const std::vector<std::vector<double>> rows = read_table(path, 1, 4, FieldSeparator::comma);
    const int64_t m = run.node_spacing;
    if (m < 1 || run.nodes < 2 || static_cast<int64_t>(rows.size()) != run.settings.nt ||
        (run.nodes - 1) * m >= static_cast<int64_t>(rows.size())) {
        refuse(format("%s does not hold the %d nodes every %lld samples of the run's optimal drive", path.c_str(),
                      run.nodes, static_cast<long long>(m)));
    }
    std::vector<double> nodes(static_cast<size_t>(run.nodes));
    // "%.9g" text: the float it was printed from, exactly.
    for (int64_t n = 0; n < run.nodes; ++n) {
        nodes[static_cast<size_t>(n)] = static_cast<float>(rows[static_cast<size_t>(n * m)][1]);
    }
    return nodes;
}

// Samples of the drive over the run's duration at the new settings' rate.
void remake(const RunFolder& run, const Source& source, const RunSettings& at_rate, std::vector<float>& samples) {
    samples.assign(static_cast<size_t>(at_rate.nt), 0.0f);
    if (source.wavelets) {
        WaveletSet set;
        read_wavelets(run, source.trial, set);
        TimeHistory history;
        allocate_history(history, at_rate.nt);
        std::vector<double> sum;
        file_history(set, 0, run.spec, at_rate, history, sum);
        std::copy_n(history.samples.begin(), at_rate.nt, samples.begin());
        return;
    }
    // A drive with wavelets on top of its nodes is made again at the run's
    // rate only (checked before): its samples, as history_optimal.csv holds them.
    if (run.kept_wavelets > 0) {
        const std::string path = in_run(run, result_file_name(OutputNames{}.history_csv, "optimal", ".csv"));
        const std::vector<std::vector<double>> rows = read_table(path, 1, 4, FieldSeparator::comma);
        if (static_cast<int64_t>(rows.size()) != run.settings.nt || at_rate.nt != run.settings.nt) {
            refuse(format("%s does not hold the %d samples of the run's optimal drive", path.c_str(), run.settings.nt));
        }
        for (int32_t j = 0; j < at_rate.nt; ++j) samples[static_cast<size_t>(j)] = static_cast<float>(rows[static_cast<size_t>(j)][1]);
        return;
    }
    // Node n is at the run's sample n m; between two nodes the drive is
    // linear in the run's sample position, zero after the last node.  New
    // sample j is at the run's position j dt' / dt (exactly j at the run's rate).
    const std::vector<double> nodes = read_nodes(run);
    const double m = run.node_spacing;
    const double ratio = static_cast<double>(at_rate.dt) / static_cast<double>(run.settings.dt);
    const double last = (run.nodes - 1) * m;
    for (int32_t j = 0; j < at_rate.nt; ++j) {
        const double position = j * ratio;
        if (position > last) break;
        const double along = position / m;
        const int32_t n = std::min(static_cast<int32_t>(along), run.nodes - 2);
        const double s = along - n;
        const double left = nodes[static_cast<size_t>(n)], right = nodes[static_cast<size_t>(n) + 1];
        samples[static_cast<size_t>(j)] = static_cast<float>(left * (1.0 - s) + right * s);
    }
}

int64_t zero_count(double seconds, double rate) { return static_cast<int64_t>(std::llround(seconds * rate)); }

}  // namespace

const char* export_format_name(ExportFormat format) {
    switch (format) {
        case ExportFormat::csv: return "csv";
        case ExportFormat::wav: return "wav";
        case ExportFormat::mat: return "mat";
        case ExportFormat::hdf5: return "hdf5";
        case ExportFormat::uff58: return "uff58";
    }
    return "csv";
}

std::optional<ExportFormat> export_format_named(std::string_view name) {
    for (const ExportFormat f : {ExportFormat::csv, ExportFormat::wav, ExportFormat::mat, ExportFormat::hdf5,
                                 ExportFormat::uff58}) {
        if (name == export_format_name(f)) return f;
    }
    return std::nullopt;
}

ExportFormat export_format_for(const std::string& path) {
    switch (format_by_name(path)) {
        case RecordFormat::mat: return ExportFormat::mat;
        case RecordFormat::wav: return ExportFormat::wav;
        case RecordFormat::hdf5: return ExportFormat::hdf5;
        case RecordFormat::uff58: return ExportFormat::uff58;
        case RecordFormat::text: break;
    }
    return ExportFormat::csv;
}

ExportedDrive export_drive(const ExportRequest& r) {
    check_request(r);
    const RunFolder run = read_run(r.run_dir);
    const Source source = choose(run, r);
    ExportedDrive e;
    e.drive = source.drive;
    e.run_dir = r.run_dir;
    e.srs_file = source.srs_file;
    e.file = r.output;
    e.format = r.format ? *r.format : export_format_for(r.output);
    e.units = run.settings.units;
    e.algorithm = srs_algorithm_name(run.settings.algorithm);
    e.damping_ratio = run.settings.damping;
    e.scale = r.scale.value_or(1.0);

    const SrsSpec& spec = run.spec;
    const double top = spec.freq[static_cast<size_t>(spec.count - 1)];
    if (r.rate < 4.0 * top) {
        refuse(format("%s %.9g is below 4 x the run's top grid frequency (%.9g Hz): at least %.9g samples/sec",
                      option(r, "rate").c_str(), r.rate, top, 4.0 * top));
    }
    RunSettings at_rate = run.settings;
    set_sample_rate(at_rate, static_cast<float>(r.rate));
    if (!source.wavelets && run.kept_wavelets > 0 && at_rate.sample_rate != run.settings.sample_rate) {
        refuse(format("the optimal drive of %s carries its %d top grid frequencies (from %.9g Hz) in wavelets on top "
                      "of its nodes: it can be exported at the run's rate only, %.9g samples/sec",
                      r.run_dir.c_str(), run.kept_wavelets, run.kept_from, static_cast<double>(run.settings.sample_rate)));
    }
    e.rate = at_rate.sample_rate;
    // The run's span of time, nt dt, at the new rate.
    const double span = run.settings.nt * static_cast<double>(run.settings.dt);
    const int64_t drive_points = std::max<int64_t>(1, std::llround(span * e.rate));
    e.before = zero_count(r.pad_before, e.rate);
    const int64_t after = zero_count(r.pad_after, e.rate);
    if (drive_points > max_export_points || e.before + drive_points + after > max_export_points) {
        refuse(format("the export would hold more than %lld points: lower %s or the zeros around the drive",
                      static_cast<long long>(max_export_points), option(r, "rate").c_str()));
    }
    at_rate.nt = static_cast<int32_t>(drive_points);
    at_rate.duration = static_cast<float>(drive_points / e.rate);
    std::vector<float> drive;
    remake(run, source, at_rate, drive);
    e.drive_points = drive_points;

    // The drive ends at rest: zeros after its last sample that is not zero may
    // go to meet a point count, never the drive itself nor the zeros asked after it.
    int64_t extent = drive_points;
    while (extent > 0 && drive[static_cast<size_t>(extent - 1)] == 0.0f) --extent;
    int64_t total = e.before + drive_points + after;
    if (r.points) {
        const int64_t least = e.before + extent + after;
        if (*r.points < least) {
            refuse(format("%s %lld is too few: the drive with its zeros needs at least %lld points at %.9g samples/sec",
                          option(r, "points").c_str(), static_cast<long long>(*r.points), static_cast<long long>(least),
                          e.rate));
        }
        total = *r.points;
    } else if (r.frame_pow2) {
        total = static_cast<int64_t>(std::bit_ceil(static_cast<uint64_t>(total)));
        if (total > max_export_points) {
            refuse(format("the power-of-two frame of %lld points is above the limit of %lld points",
                          static_cast<long long>(total), static_cast<long long>(max_export_points)));
        }
    }
    e.points = total;
    std::vector<float> samples(static_cast<size_t>(total), 0.0f);
    const int64_t kept = std::min<int64_t>(drive_points, total - e.before);
    std::copy_n(drive.begin(), kept, samples.begin() + e.before);
    at_rate.nt = static_cast<int32_t>(total);

    // The run's SRS file of this drive.
    const std::string srs_path = in_run(run, source.srs_file);
    const std::vector<std::vector<double>> run_srs = read_table(srs_path, 0, 3, FieldSeparator::blank);
    if (static_cast<int32_t>(run_srs.size()) != spec.count) {
        refuse(format("%s holds %zu lines for the %d grid frequencies of the run", srs_path.c_str(), run_srs.size(),
                      spec.count));
    }

    // The new samples' SRS on the run's grid, by the run's filters at the new rate.
    SrsFilterBank bank;
    prepare_srs_filters(at_rate, spec, two_pi(), bank);
    SrsResult srs;
    compute_srs(bank, samples.data(), at_rate.nt, srs);
    GridComparison grid;
    const SrsComparison comparison = compare_with_spec(srs, spec, grid);
    e.margin_low_db = std::numeric_limits<double>::infinity();
    e.margin_high_db = -std::numeric_limits<double>::infinity();
    double largest = -1.0;
    for (int32_t j = 0; j < spec.count; ++j) {
        const size_t i = static_cast<size_t>(j);
        e.freq.push_back(spec.freq[i]);
        e.spec.push_back(spec.accel[i]);
        e.run_positive.push_back(run_srs[i][1]);
        e.run_negative.push_back(run_srs[i][2]);
        e.positive.push_back(srs.xmax[i]);
        e.negative.push_back(srs.xmin[i]);
        for (const bool positive : {true, false}) {
            const double now = positive ? srs.xmax[i] : srs.xmin[i];
            const double before = positive ? run_srs[i][1] : run_srs[i][2];
            const double difference = margin_db(now, before);
            if (std::fabs(difference) > largest) {
                largest = std::fabs(difference);
                e.max_difference_db = difference;
                e.difference_frequency = spec.freq[i];
                e.difference_positive = positive;
            }
            const double margin = margin_db(now, spec.accel[i]);
            e.margin_low_db = std::min(e.margin_low_db, margin);
            e.margin_high_db = std::max(e.margin_high_db, margin);
        }
    }
    if (run.rules) {
        e.rules = run.rules;
        e.verdict = judge_acceptance(*run.rules, comparison);
    }
    DriveMotion motion;
    drive_motion<float>(samples, static_cast<double>(at_rate.dt), run.settings.units, motion);
    e.peak_acceleration = motion.peak_acceleration;
    e.peak_velocity = motion.peak_velocity;
    e.peak_displacement = motion.peak_displacement;
    e.end_velocity = motion.velocity.back();
    e.end_displacement = motion.displacement.back();
    if (!(std::fabs(e.max_difference_db) <= export_srs_tolerance_db)) {
        e.warnings.push_back(format(
            "\n Warning: the exported SRS differs from %s by %+.3f dB at %.3f Hz (%s peak), more than %g dB: "
            "%.1f samples per cycle there at %.9g samples/sec, %.1f in the run (too few see the peaks between "
            "samples less exactly) \n",
            source.srs_file.c_str(), e.max_difference_db, e.difference_frequency,
            e.difference_positive ? "positive" : "negative", export_srs_tolerance_db, e.rate / e.difference_frequency,
            e.rate, static_cast<double>(run.settings.sample_rate) / e.difference_frequency));
    }

    // Written last: every refusal above leaves no file.
    std::vector<float> times(samples.size());
    for (size_t k = 0; k < times.size(); ++k) times[k] = sample_time(static_cast<int32_t>(k), at_rate.dt);
    const WrittenChannel channel{times, samples, e.rate, unit_table(e.units).accel};
    switch (e.format) {
        case ExportFormat::csv: write_csv_record(r.output, channel); break;
        case ExportFormat::wav: e.beyond_full_scale = write_wav_record(r.output, channel, e.scale); break;
        case ExportFormat::mat: write_mat_record(r.output, channel); break;
        case ExportFormat::hdf5: write_hdf5_record(r.output, channel); break;
        case ExportFormat::uff58:
            write_uff58_record(r.output, channel, "quorel drive: " + e.drive + " of " + r.run_dir);
            break;
    }
    if (e.beyond_full_scale > 0) {
        e.warnings.push_back(format("\n Warning: %lld samples of %s lie outside -1..+1 at %g V per %s: a smaller %s "
                                    "keeps them within full scale \n",
                                    static_cast<long long>(e.beyond_full_scale), r.output.c_str(), e.scale,
                                    unit_table(e.units).accel, option(r, "scale").c_str()));
    }
    return e;
}

std::string export_report(const ExportedDrive& e) {
    const UnitTable& u = unit_table(e.units);
    std::string text = format("\n Exported %s of %s to %s (%s): %lld points at %.9g samples/sec (%.6g sec) \n",
                              e.drive.c_str(), e.run_dir.c_str(), e.file.c_str(), export_format_name(e.format),
                              static_cast<long long>(e.points), e.rate, static_cast<double>(e.points) / e.rate);
    if (e.points != e.drive_points) {
        text += format("   zeros: %lld before the drive, %lld after it; the drive %lld points \n",
                       static_cast<long long>(e.before),
                       static_cast<long long>(std::max<int64_t>(0, e.points - e.before - e.drive_points)),
                       static_cast<long long>(std::min(e.drive_points, e.points - e.before)));
    }
    text += format("\n SRS of the exported drive on the run's %zu grid frequencies (%s, damping ratio %g): \n",
                   e.freq.size(), e.algorithm.c_str(), e.damping_ratio);
    text += format("   largest difference from %s = %+.3f dB at %.3f Hz (%s peak) \n", e.srs_file.c_str(),
                   e.max_difference_db, e.difference_frequency, e.difference_positive ? "positive" : "negative");
    text += format("   margins from the specification = %+.3f/%+.3f dB \n", e.margin_low_db, e.margin_high_db);
    if (e.rules && e.verdict) {
        text += verdict_lines(*e.rules, *e.verdict, "   ");
    } else {
        text += "   no acceptance rules in the run \n";
    }
    text += format("\n   Peak Accel = %12.3f %s    ", e.peak_acceleration, u.accel);
    text += format("\n   Peak Velox = %12.3f %s    ", e.peak_velocity, u.velocity);
    text += format("\n   Peak Disp  = %12.3f %s    ", e.peak_displacement, u.displacement);
    text += format("\n   End Velox  = %12.3g %s, End Disp = %.3g %s \n", e.end_velocity, u.velocity,
                   e.end_displacement, u.displacement);
    return text;
}

}  // namespace quorel
