#include "check/documents.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/format.hpp"
#include "base/units.hpp"
#include "report/json_values.hpp"

namespace quorel {

namespace {

// A margin in dB; that of a peak 0 (-inf) is null.
Json margin_json(double db) { return std::isfinite(db) ? Json(db) : Json(nullptr); }

// [{"step": "trim", "from": 0.1, ...}, ...]
Json conditioning_json(const std::vector<ConditioningStep>& steps) {
    Json list = Json::array();
    for (const ConditioningStep& step : steps) {
        Json object{{"step", step.step}};
        for (const auto& [key, value] : step.values) object[key] = value;
        list.push_back(object);
    }
    return list;
}

}  // namespace

Json check_record_json(const CheckDescription& d, const RecordFigures& f) {
    return Json{{"file", d.file},
                {"samples", f.samples},
                {"sample_rate", f.sample_rate},
                {"duration", f.duration},
                {"start_time", d.start_time},
                {"header_lines", d.header_lines},
                {"peak_acceleration", f.peak_acceleration},
                {"peak_time", f.peak_time},
                {"te", f.te},
                {"t10", f.t10},
                {"peak_velocity", f.peak_velocity},
                {"peak_displacement", f.peak_displacement},
                {"end_velocity", f.end_velocity},
                {"end_displacement", f.end_displacement}};
}

Json check_settings_json(const CheckDescription& d) {
    return Json{{"algorithm", d.algorithm},
                {"damping_ratio", d.damping_ratio},
                {"q", d.q ? Json(*d.q) : Json(nullptr)},
                {"spacing", d.spacing},
                {"units", unit_table(d.units).name},
                {"residual", d.residual},
                {"spectra", d.spectra},
                {"mean_removed", d.mean_removed ? Json(*d.mean_removed) : Json(nullptr)},
                {"scale", d.scale ? Json(*d.scale) : Json(nullptr)},
                {"conditioning", conditioning_json(d.conditioning)}};
}

namespace {

Json record_json(const CheckDescription& d, const RecordCheck& c) {
    Json srs = Json::array();
    for (size_t j = 0; j < c.srs.size(); ++j) {
        const SrsLine& line = c.srs[j];
        const ComplianceRow* row = c.compliance ? &c.compliance->rows[j] : nullptr;
        Json entry{{"frequency", line.freq},
                   {"spec", row ? Json(row->spec) : Json(nullptr)},
                   {"positive", line.positive},
                   {"negative", line.negative},
                   {"maximax", std::max(line.positive, line.negative)},
                   {"pseudo_velocity", std::max(c.pvss[j].positive, c.pvss[j].negative)},
                   {"margin_positive_db", row ? margin_json(row->positive_db) : Json(nullptr)},
                   {"margin_negative_db", row ? margin_json(row->negative_db) : Json(nullptr)}};
        if (!c.spectra.empty()) {
            const SpectraLine& other = c.spectra[j];
            entry["relative_displacement"] = other.relative_displacement;
            entry["relative_velocity"] = other.relative_velocity;
            entry["primary"] = other.primary;
            entry["residual"] = d.residual ? Json(other.residual) : Json(nullptr);
        }
        srs.push_back(entry);
    }
    return Json{
        {"record", check_record_json(d, c.figures)},
        {"settings", check_settings_json(d)},
        {"units", units_json(d.units)},
        {"srs", srs},
        {"verdict", c.compliance ? verdict_json(c.compliance->verdict) : Json(nullptr)},
    };
}

std::string dumped(const Json& json) {
    // Replacement of invalid UTF-8 keeps a file name of any bytes writable.
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// Appends `value` as "%.9g" prints it (to_chars in general format with a
// precision gives printf's text).
void append_number(std::string& text, double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 9);
    text.append(buffer, result.ptr);
}

}  // namespace

std::string check_json(const CheckDescription& description, const RecordCheck& check) {
    return dumped(record_json(description, check));
}

std::string check_json(const std::vector<CheckDescription>& descriptions, const std::vector<RecordCheck>& checks) {
    Json records = Json::array();
    for (size_t r = 0; r < checks.size(); ++r) records.push_back(record_json(descriptions[r], checks[r]));
    return dumped(Json{{"records", records}});
}

std::string check_csv(const RecordCheck& check, UnitSystem units) {
    const UnitTable& labels = unit_table(units);
    std::string text = format(
        "frequency (Hz),spec (%s),positive (%s),negative (%s),maximax (%s),pseudo-velocity (%s),"
        "margin positive (dB),margin negative (dB)",
        labels.accel, labels.accel, labels.accel, labels.accel, labels.velocity);
    if (!check.spectra.empty()) {
        text += format(",relative displacement (%s),relative velocity (%s),primary (%s),residual (%s)",
                       labels.displacement, labels.velocity, labels.accel, labels.accel);
    }
    text += '\n';
    for (size_t j = 0; j < check.srs.size(); ++j) {
        const SrsLine& line = check.srs[j];
        const ComplianceRow* row = check.compliance ? &check.compliance->rows[j] : nullptr;
        append_number(text, line.freq);
        text += ',';
        if (row) append_number(text, row->spec);
        for (const double value : {line.positive, line.negative, std::max(line.positive, line.negative),
                                   std::max(check.pvss[j].positive, check.pvss[j].negative)}) {
            text += ',';
            append_number(text, value);
        }
        for (const double db : {row ? row->positive_db : 0.0, row ? row->negative_db : 0.0}) {
            text += ',';
            if (row && std::isfinite(db)) append_number(text, db);
            if (row && !std::isfinite(db)) text += "null";
        }
        if (!check.spectra.empty()) {
            const SpectraLine& other = check.spectra[j];
            for (const double value : {other.relative_displacement, other.relative_velocity, other.primary,
                                       other.residual}) {
                text += ',';
                append_number(text, value);
            }
        }
        text += '\n';
    }
    return text;
}

namespace {

// One line of the conditioning done beyond the mean removal: trim, detrend,
// filters, the event's window.
std::string conditioning_text(const std::vector<ConditioningStep>& steps) {
    std::string line;
    auto value = [](const ConditioningStep& s, const char* key) {
        for (const auto& [k, v] : s.values) {
            if (k == key) return v;
        }
        return 0.0;
    };
    for (const ConditioningStep& s : steps) {
        std::string part;
        if (s.step == "trim") part = format("trimmed to %g .. %g sec", value(s, "from"), value(s, "to"));
        if (s.step == "detrend") part = "detrended";
        if (s.step == "highpass" || s.step == "lowpass") {
            part = format("%s %g Hz (order %g, forward and backward)", s.step == "highpass" ? "high-pass" : "low-pass",
                          value(s, "frequency"), value(s, "order"));
        }
        if (s.step == "event") {
            part = format("event %g of the record, %g .. %g sec (|a| reaches %g)", value(s, "number"), value(s, "from"),
                          value(s, "to"), value(s, "level"));
        }
        if (!part.empty()) line += (line.empty() ? "" : ", ") + part;
    }
    return line.empty() ? "" : "   Conditioned          " + line + " \n";
}

}  // namespace

std::string check_text(const CheckDescription& d, const RecordCheck& c, const std::string& spec_name) {
    const RecordFigures& f = c.figures;
    const UnitTable& u = unit_table(d.units);
    std::string text = format("\n Record %s: %lld samples at %g samples/sec, %g sec", d.file.c_str(),
                              static_cast<long long>(f.samples), f.sample_rate, f.duration);
    if (d.header_lines > 0) text += format(", %ld header line%s", static_cast<long>(d.header_lines), d.header_lines == 1 ? "" : "s");
    text += " \n";
    if (d.mean_removed) text += format("   Mean removed         %#.6g %s \n", *d.mean_removed, u.accel);
    text += conditioning_text(d.conditioning);
    text += format("   Peak acceleration    %#.6g %s at %#.6g sec \n", f.peak_acceleration, u.accel, f.peak_time);
    text += format("   Te (peak / 3)        %#.6g sec \n", f.te);
    text += format("   T10 (peak / 10)      %#.6g sec \n", f.t10);
    text += format("   Peak velocity        %#.6g %s, at the end %#.6g %s \n", f.peak_velocity, u.velocity,
                   f.end_velocity, u.velocity);
    text += format("   Peak displacement    %#.6g %s, at the end %#.6g %s \n", f.peak_displacement,
                   u.displacement, f.end_displacement, u.displacement);
    if (c.compliance) return text + compliance_table(d.file, spec_name, u.accel, *c.compliance);

    const std::string unit = format("(%s)", u.accel);
    text += format("\n %s: SRS, %s \n\n", d.file.c_str(),
                   d.q ? format("Q = %g", *d.q).c_str() : format("damping ratio %g", d.damping_ratio).c_str());
    text += format("   Freq(Hz) %13s %13s %13s %13s\n", ("Pos" + unit).c_str(), ("Neg" + unit).c_str(),
                   ("Maximax" + unit).c_str(), format("PV(%s)", u.velocity).c_str());
    for (size_t j = 0; j < c.srs.size(); ++j) {
        const SrsLine& line = c.srs[j];
        text += format(" %10.3f %#13.4g %#13.4g %#13.4g %#13.4g\n", line.freq, line.positive, line.negative,
                       std::max(line.positive, line.negative), std::max(c.pvss[j].positive, c.pvss[j].negative));
    }
    return text;
}

}  // namespace quorel
