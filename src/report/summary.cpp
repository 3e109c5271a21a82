#include "report/summary.hpp"

#include <nlohmann/json.hpp>

#include "base/output_file.hpp"
#include "report/result_files.hpp"

namespace quorel {

namespace {

using Json = nlohmann::ordered_json;

const char* algorithm_name(int32_t algorithm) { return algorithm == 1 ? "kelly-richman" : "smallwood"; }

const char* spacing_name(float octave_fraction) {
    if (octave_fraction == static_cast<float>(1.0 / 6.0)) return "1/6";
    if (octave_fraction == static_cast<float>(1.0 / 12.0)) return "1/12";
    return "1/3";
}

const char* units_name(int32_t units) {
    if (units == 1) return "english";
    if (units == 2) return "metric";
    return "si";
}

// Q as entered, or the Q of the entered ratio (none for zero damping).
Json q_value(const RunSettings& settings) {
    if (settings.damping_format != 1) return static_cast<double>(settings.q);
    if (settings.damping > 0.0f) return 0.5 / static_cast<double>(settings.damping);
    return nullptr;
}

Json optimum(int32_t t, const SummaryInputs& in) {
    const size_t i = static_cast<size_t>(t);
    return Json{{"trial", t},
                {"peak_acceleration", static_cast<double>(in.table.peak_accel[i])},
                {"peak_velocity", static_cast<double>(in.table.peak_velocity[i])},
                {"peak_displacement", static_cast<double>(in.table.peak_displacement[i])},
                {"max_error_db", in.table.max_error[i] * 20.0},
                {"files", trial_result_files(t, in.names, true)}};
}

}  // namespace

std::string summary_text(const SummaryInputs& in) {
    const RunSettings& s = in.settings;
    Json grid = Json::array();
    for (int32_t i = 0; i < in.spec.count; ++i) {
        grid.push_back({{"frequency", static_cast<double>(in.spec.freq[i])}, {"spec", static_cast<double>(in.spec.accel[i])}});
    }
    Json trials = Json::array();
    for (int32_t t = 0; t < in.table.count; ++t) {
        const size_t i = static_cast<size_t>(t);
        // Exactly the figures of the trial's log line, before its rounding.
        trials.push_back({{"trial", t},
                          {"peak_acceleration", static_cast<double>(in.table.peak_accel[i])},
                          {"peak_velocity", static_cast<double>(in.table.peak_velocity[i])},
                          {"peak_displacement", static_cast<double>(in.table.peak_displacement[i])},
                          {"total_error_db", in.table.total_error[i] * 20.0},
                          {"max_error_db", in.table.max_error[i] * 20.0},
                          {"iterations", in.table.iterations[i]}});
    }
    const Json summary = {
        {"quorel_version", in.version},
        {"spec_file", in.spec_file},
        {"elapsed_seconds", in.elapsed_seconds},
        {"settings",
         {{"algorithm", algorithm_name(s.algorithm)},
          {"spacing", spacing_name(in.spec.octave_fraction)},
          {"damping_ratio", static_cast<double>(s.damping)},
          {"q", q_value(s)},
          {"trials", s.trial_count},
          {"units", units_name(s.units)},
          {"seed", s.seed},
          {"sample_rate", static_cast<double>(s.sample_rate)},
          {"dt", static_cast<double>(s.dt)},
          {"duration", static_cast<double>(s.duration)},
          {"samples", s.nt}}},
        {"units", {{"acceleration", s.accel_unit}, {"velocity", s.velocity_unit}, {"displacement", s.displacement_unit}}},
        {"grid", grid},
        {"trials", trials},
        {"optimum", {{"displacement", optimum(in.optima.displacement, in)}, {"acceleration", optimum(in.optima.acceleration, in)}}},
    };
    // Replacement of invalid UTF-8 keeps a file name of any bytes writable.
    return summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

void write_summary(const SummaryInputs& inputs) {
    OutputFile file(inputs.names.path(inputs.names.summary));
    file.write(summary_text(inputs));
    file.close();
}

}  // namespace quorel
