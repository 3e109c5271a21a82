#include "report/summary.hpp"

#include <nlohmann/json.hpp>

#include <cmath>

#include "base/output_file.hpp"
#include "report/json_values.hpp"
#include "report/result_files.hpp"
#include "specification/resample.hpp"

namespace quorel {

Json share_count_json(const ShareCount& count) {
    return Json{{"inside", count.inside}, {"points", count.total}, {"share", count.share()},
                {"min_share", count.min_share}, {"pass", count.pass()}};
}

Json verdict_json(const std::optional<AcceptanceVerdict>& verdict) {
    if (!verdict) return nullptr;
    Json bands = Json::array();
    for (const ShareCount& band : verdict->bands) bands.push_back(share_count_json(band));
    return Json{{"pass", verdict->pass},
                {"bands", bands},
                {"above_nominal", verdict->above_nominal ? share_count_json(*verdict->above_nominal) : Json(nullptr)}};
}

Json units_json(UnitSystem units) {
    const UnitTable& u = unit_table(units);
    return Json{{"acceleration", u.accel}, {"velocity", u.velocity}, {"displacement", u.displacement}};
}

namespace {

const char* spacing_name(float fraction) {
    for (const OctaveSpacing spacing : {OctaveSpacing::sixth, OctaveSpacing::twelfth}) {
        if (fraction == octave_fraction(spacing)) return octave_spacing_name(spacing);
    }
    return octave_spacing_name(OctaveSpacing::third);
}

// Q as entered, or the Q of the entered ratio (none for zero damping).
Json q_value(const RunSettings& settings) {
    if (settings.damping_format == DampingFormat::q) return static_cast<double>(settings.q);
    if (settings.damping > 0.0f) return 0.5 / static_cast<double>(settings.damping);
    return nullptr;
}

Json optional_number(const std::optional<float>& value) {
    if (value) return static_cast<double>(*value);
    return nullptr;
}

Json limits_json(const DriveLimits* limits) {
    const DriveLimits none;
    const DriveLimits& l = limits != nullptr ? *limits : none;
    return Json{{"acceleration", optional_number(l.acceleration)}, {"velocity", optional_number(l.velocity)},
                {"displacement", optional_number(l.displacement)}, {"force", optional_number(l.force)},
                {"moving_mass", optional_number(l.moving_mass)}};
}

Json acceptance_json(const AcceptanceRules* rules) {
    if (rules == nullptr) return nullptr;
    Json bands = Json::array();
    for (const ToleranceBand& b : rules->bands) {
        bands.push_back({{"low_db", b.low_db},
                         {"high_db", b.high_db},
                         {"min_share", b.min_share},
                         {"from_hz", b.from_hz > 0.0 ? Json(b.from_hz) : Json(nullptr)},
                         {"to_hz", std::isfinite(b.to_hz) ? Json(b.to_hz) : Json(nullptr)}});
    }
    return Json{{"file", rules->name},
                {"srs", rules->points == SrsPoints::maximax ? "maximax" : "each"},
                {"bands", bands},
                {"above_nominal_min_share",
                 rules->above_nominal_share ? Json(*rules->above_nominal_share) : Json(nullptr)}};
}

Json bound_json(const PeakBound& bound) {
    return Json{{"value", bound.value}, {"frequency", static_cast<double>(bound.frequency)}};
}

// The displacement bound with the peak velocity of the drives it holds for
// (null at zero damping, where it holds for every drive).
Json displacement_bound_json(const std::optional<DisplacementBound>& bound) {
    if (!bound) return nullptr;
    Json json = bound_json(*bound);
    json["peak_velocity"] = bound->velocity ? Json(*bound->velocity) : Json(nullptr);
    return json;
}

Json bounds_json(const FeasibilityBounds* bounds) {
    if (bounds == nullptr) return nullptr;
    return Json{{"acceleration", bound_json(bounds->acceleration)},
                {"velocity", bound_json(bounds->velocity)},
                {"displacement", displacement_bound_json(bounds->displacement)},
                {"force", bounds->force ? bound_json(*bounds->force) : Json(nullptr)},
                {"duration", bounds->duration}};
}

// Trial t's peaks / the bounds.
Json bound_ratios_json(int32_t t, const SummaryInputs& in) {
    if (in.bounds == nullptr) return nullptr;
    const size_t i = static_cast<size_t>(t);
    const BoundRatios r = bound_ratios(*in.bounds, bounded_spectrum(in.spec, in.settings), in.table.peak_accel[i],
                                       in.table.peak_velocity[i], in.table.peak_displacement[i]);
    return Json{{"acceleration", r.acceleration},
                {"velocity", r.velocity},
                {"displacement", r.displacement ? Json(*r.displacement) : Json(nullptr)}};
}

Json optimum(int32_t t, const std::optional<AcceptanceVerdict>& verdict, const SummaryInputs& in) {
    const size_t i = static_cast<size_t>(t);
    return Json{{"trial", t},
                {"peak_acceleration", static_cast<double>(in.table.peak_accel[i])},
                {"peak_velocity", static_cast<double>(in.table.peak_velocity[i])},
                {"peak_displacement", static_cast<double>(in.table.peak_displacement[i])},
                {"max_error_db", in.table.max_error[i] * 20.0},
                {"bound_ratios", bound_ratios_json(t, in)},
                {"acceptance", verdict_json(verdict)},
                {"files", trial_result_files(t, in.names, true)}};
}

// The trial nearest to qualifying when none did.
Json closest_json(const SummaryInputs& in) {
    if (in.optima.chosen || in.optima.closest < 0) return nullptr;
    const int32_t t = in.optima.closest;
    const size_t i = static_cast<size_t>(t);
    Json ratios = nullptr;
    if (in.limits != nullptr && in.limits->any()) {
        const LimitRatios r = limit_ratios(*in.limits, in.settings.units, in.table.peak_accel[i],
                                           in.table.peak_velocity[i], in.table.peak_displacement[i]);
        auto ratio = [](const std::optional<double>& v) { return v ? Json(*v) : Json(nullptr); };
        ratios = Json{{"acceleration", ratio(r.acceleration)}, {"velocity", ratio(r.velocity)},
                      {"displacement", ratio(r.displacement)}, {"force", ratio(r.force)}};
    }
    return Json{{"trial", t},
                {"limit_ratios", ratios},
                {"bound_ratios", bound_ratios_json(t, in)},
                {"acceptance", verdict_json(in.optima.closest_verdict)}};
}

}  // namespace

Json summary_document(const SummaryInputs& in) {
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
                          {"iterations", in.table.iterations[i]},
                          {"within_limits", in.table.within_limits[i] != 0},
                          {"passes", in.acceptance != nullptr ? Json(in.table.passes[i] != 0) : Json(nullptr)}});
    }
    return Json{
        {"quorel_version", in.version},
        {"spec_file", in.spec_file.empty() ? Json(nullptr) : Json(in.spec_file)},
        {"elapsed_seconds", in.elapsed_seconds},
        {"settings",
         {{"algorithm", srs_algorithm_name(s.algorithm)},
          {"spacing", spacing_name(in.spec.octave_fraction)},
          {"damping_ratio", static_cast<double>(s.damping)},
          {"q", q_value(s)},
          {"trials", s.trial_count},
          {"units", unit_table(s.units).name},
          {"seed", s.seed},
          {"sample_rate", static_cast<double>(s.sample_rate)},
          {"dt", static_cast<double>(s.dt)},
          {"duration", static_cast<double>(s.duration)},
          {"samples", s.nt}}},
        {"units", units_json(s.units)},
        {"grid", grid},
        {"trials", trials},
        {"limits", limits_json(in.limits)},
        {"acceptance", acceptance_json(in.acceptance)},
        {"bounds", bounds_json(in.bounds)},
        {"qualifying_trials", in.optima.qualifying},
        {"optimum", in.optima.chosen
                        ? Json{{"displacement", optimum(in.optima.displacement, in.optima.displacement_verdict, in)},
                               {"acceleration", optimum(in.optima.acceleration, in.optima.acceleration_verdict, in)}}
                        : Json(nullptr)},
        {"closest", closest_json(in)},
        {"optimal", in.optimal != nullptr ? *in.optimal : Json(nullptr)},
    };
}

std::string summary_text(const SummaryInputs& in) {
    // Replacement of invalid UTF-8 keeps a file name of any bytes writable.
    return summary_document(in).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

void write_summary(const SummaryInputs& inputs) {
    OutputFile file(inputs.names.path(inputs.names.summary));
    file.write(summary_text(inputs));
    file.close();
}

}  // namespace quorel
