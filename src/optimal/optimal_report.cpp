#include "optimal/optimal_report.hpp"

#include <algorithm>
#include <cmath>

#include "base/format.hpp"
#include "report/result_files.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace quorel {

namespace {

struct Margins {
    double low = 0.0, high = 0.0;
};

// The lowest and the highest margin of any polarity, dB.
Margins srs_margins(const SrsResult& srs, const SrsSpec& spec) {
    Margins m{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (int32_t j = 0; j < spec.count; ++j) {
        for (const float peak : {srs.xmax[static_cast<size_t>(j)], srs.xmin[static_cast<size_t>(j)]}) {
            const double margin = margin_db(peak, spec.accel[static_cast<size_t>(j)]);
            m.low = std::min(m.low, margin);
            m.high = std::max(m.high, margin);
        }
    }
    return m;
}

std::string bands_text(const std::vector<DbBand>& bands) {
    const bool same = std::all_of(bands.begin(), bands.end(), [&](const DbBand& b) {
        return b.low_db == bands.front().low_db && b.high_db == bands.front().high_db;
    });
    if (!same || bands.empty()) return "each polarity within its band";
    return format("each polarity within %+g/%+g dB", bands.front().low_db, bands.front().high_db);
}

std::string peak_lines(const PeakTriple& peaks, const RunSettings& settings) {
    return format("\n   Peak Accel = %12.3f %s    ", peaks.acceleration, unit_table(settings.units).accel) +
           format("\n   Peak Velox = %12.3f %s    ", peaks.velocity, unit_table(settings.units).velocity) +
           format("\n   Peak Disp  = %12.3f %s    ", peaks.displacement, unit_table(settings.units).displacement);
}

PeakTriple drive_peaks(const OptimalDrive& drive) {
    return {drive.motion.peak_acceleration, drive.motion.peak_velocity, drive.motion.peak_displacement};
}

Json peaks_json(const PeakTriple& p) {
    return Json{{"acceleration", p.acceleration}, {"velocity", p.velocity}, {"displacement", p.displacement}};
}

}  // namespace

std::string optimal_block(const OptimalReport& report, const RunSettings& settings, const SrsSpec& spec) {
    const OptimalDrive& drive = report.drive;
    const PeakTriple peaks = drive_peaks(drive);
    const bool meets = report.meets();
    std::string text = format("\n\n Optimal drive for %s (from trial %ld)", minimised_peak_name(report.minimised),
                              static_cast<long>(report.start_trial));
    text += meets ? " \n" : ": no drive meets every constraint \n Closest drive: \n";
    text += peak_lines(peaks, settings);
    const Margins m = srs_margins(drive.srs, spec);
    text += format("\n   SRS margins = %+.3f/%+.3f dB, %s ", m.low, m.high, bands_text(report.bands).c_str());
    text += format("\n   %s ", bound_ratios_text(report.ratios).c_str());
    text += format("\n   Trial %ld: %.3f %s, %.3f %s, %.3f %s ", static_cast<long>(report.start_trial),
                   report.start_peaks.acceleration, unit_table(settings.units).accel, report.start_peaks.velocity,
                   unit_table(settings.units).velocity, report.start_peaks.displacement, unit_table(settings.units).displacement);
    text += format("\n   Linear program: %ld round%s, %ld constraints, %ld variables ", static_cast<long>(drive.rounds),
                   drive.rounds == 1 ? "" : "s", static_cast<long>(drive.rows), static_cast<long>(drive.columns));
    if (drive.kept_wavelets > 0) {
        text += format("\n   Nodes every %ld samples; from %.3f Hz up (%ld frequencies), trial %ld's wavelets ",
                       static_cast<long>(drive.node_spacing), static_cast<double>(drive.kept_from),
                       static_cast<long>(drive.kept_wavelets), static_cast<long>(report.start_trial));
    }
    if (drive.limit_round > 0) {
        text += format("\n   Round %ld: the iteration budget was spent; the drive is the best found before it ",
                       static_cast<long>(drive.limit_round));
    }
    if (drive.failed_round > 0) {
        text += format("\n   Round %ld: the solver gave up; the drive is the best of the rounds before it ",
                       static_cast<long>(drive.failed_round));
    }
    text += "\n";
    if (meets) return text + "\n";
    if (!drive.violations.empty()) {
        text += "   Outside the band: \n" + violation_lines(drive.violations);
    }
    if (!drive.limit_ratios.within()) {
        text += format("   Limits: %s \n", ratios_text(drive.limit_ratios).c_str());
    }
    return text;
}

void write_optimal_files(TextOutput& out, const OptimalReport& report, const RunSettings& settings,
                         const SrsSpec& spec, const OutputNames& names, const AcceptanceRules* acceptance, bool csv) {
    const OptimalDrive& drive = report.drive;
    const std::vector<double> acceleration(drive.acceleration.begin(), drive.acceleration.end());
    write_accel_file(out, optimal_tag, acceleration, settings, names);
    write_velocity_displacement(out, optimal_tag, settings, names, drive.motion.velocity.data(),
                                drive.motion.displacement.data());
    write_srs_file(out, optimal_tag, drive.srs, spec, settings, names, "");
    if (acceptance != nullptr && report.verdict) {
        out.print("\n");
        out.print(verdict_lines(*acceptance, *report.verdict, "   "));
    }
    if (csv) {
        write_history_csv(optimal_tag, settings, names, drive.acceleration.data(), drive.motion.velocity.data(),
                          drive.motion.displacement.data());
    }
}

std::vector<std::string> optimal_files(const OutputNames& names, bool csv) {
    std::vector<std::string> files = {result_file_name(names.accel, optimal_tag), result_file_name(names.velox, optimal_tag),
                                      result_file_name(names.disp, optimal_tag), result_file_name(names.srs, optimal_tag)};
    if (csv) files.push_back(result_file_name(names.history_csv, optimal_tag, ".csv"));
    return files;
}

Json optimal_json(const OptimalReport& report, const SrsSpec& spec, const DriveLimits& limits,
                  const OutputNames& names, bool files_written) {
    const OptimalDrive& drive = report.drive;
    const PeakTriple peaks = drive_peaks(drive);
    const Margins m = srs_margins(drive.srs, spec);
    Json bands = Json::array();
    for (const DbBand& b : report.bands) bands.push_back({{"low_db", b.low_db}, {"high_db", b.high_db}});
    Json violations = Json::array();
    for (const SrsViolation& v : drive.violations) {
        violations.push_back({{"frequency", static_cast<double>(v.freq)},
                              {"polarity", v.positive ? "positive" : "negative"},
                              {"margin_db", v.margin_db},
                              {"low_db", v.band.low_db},
                              {"high_db", v.band.high_db}});
    }
    Json limit_ratios = nullptr;
    if (limits.any()) {
        auto ratio = [](const std::optional<double>& v) { return v ? Json(*v) : Json(nullptr); };
        const LimitRatios& r = drive.limit_ratios;
        limit_ratios = Json{{"acceleration", ratio(r.acceleration)}, {"velocity", ratio(r.velocity)},
                            {"displacement", ratio(r.displacement)}, {"force", ratio(r.force)}};
    }
    return Json{
        {"minimised", minimised_peak_name(report.minimised)},
        {"start_trial", report.start_trial},
        {"meets", report.meets()},
        {"peak_acceleration", peaks.acceleration},
        {"peak_velocity", peaks.velocity},
        {"peak_displacement", peaks.displacement},
        {"end_velocity", drive.motion.velocity.empty() ? 0.0 : drive.motion.velocity.back()},
        {"end_displacement", drive.motion.displacement.empty() ? 0.0 : drive.motion.displacement.back()},
        {"bound_ratios", Json{{"acceleration", report.ratios.acceleration},
                              {"velocity", report.ratios.velocity},
                              {"displacement", report.ratios.displacement ? Json(*report.ratios.displacement)
                                                                          : Json(nullptr)}}},
        {"start_peaks", peaks_json(report.start_peaks)},
        {"srs_margins", Json{{"low_db", m.low}, {"high_db", m.high}}},
        {"bands", bands},
        {"violations", violations},
        {"limit_ratios", limit_ratios},
        {"acceptance", verdict_json(report.verdict)},
        {"solver",
         {{"rounds", drive.rounds},
          {"failed_round", drive.failed_round > 0 ? Json(drive.failed_round) : Json(nullptr)},
          {"limit_round", drive.limit_round > 0 ? Json(drive.limit_round) : Json(nullptr)},
          {"constraints", drive.rows},
          {"variables", drive.columns},
          {"nonzeros", drive.nonzeros},
          {"iterations", drive.iterations},
          {"node_spacing", drive.node_spacing},
          {"nodes", drive.nodes},
          {"kept_wavelets", drive.kept_wavelets},
          {"kept_from_hz", drive.kept_wavelets > 0 ? Json(static_cast<double>(drive.kept_from)) : Json(nullptr)},
          {"weights", peaks_json(drive.weights)},
          {"solve_seconds", drive.solve_seconds},
          {"seconds", drive.seconds}}},
        {"files", files_written ? Json(optimal_files(names, true)) : Json(nullptr)},
    };
}

}  // namespace quorel
