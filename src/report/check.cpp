#include "report/check.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <exception>
#include <mutex>
#include <thread>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/numeric.hpp"
#include "base/run_settings.hpp"
#include "base/stop_request.hpp"
#include "report/json_values.hpp"
#include "srs/filter_bank.hpp"
#include "srs/srs.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace quorel {

std::optional<double> check_grid_rate(const CheckGrid& grid, double sample_rate, const std::string& record_name) {
    std::optional<double> coarse;
    for (const float f : grid.freq) {
        const double freq = f;
        if (freq > sample_rate / 4.0) {
            throw QuorelError(format("\n Error: %s: grid frequency %g Hz is above a quarter of its sample rate "
                                     "(%g samples/sec): check it up to %g Hz, or record it faster \n",
                                     record_name.c_str(), freq, sample_rate, sample_rate / 4.0));
        }
        if (!coarse && freq > sample_rate / 10.0) coarse = freq;
    }
    return coarse;
}

RecordFigures record_figures(const CheckInput& input, int32_t units, int64_t envelope_groups,
                             HistoryEnvelopes* history) {
    const std::span<const double> a = input.samples;
    const int64_t n = static_cast<int64_t>(a.size());
    const double rate = input.sample_rate;
    auto time = [&](int64_t k) { return input.start_time + static_cast<double>(k) / rate; };
    RecordFigures f;
    f.samples = n;
    f.sample_rate = rate;
    f.duration = n > 1 ? static_cast<double>(n - 1) / rate : 0.0;
    if (n == 0) return f;

    int64_t peak_at = 0;
    for (int64_t k = 0; k < n; ++k) {
        if (std::fabs(a[k]) > f.peak_acceleration) {
            f.peak_acceleration = std::fabs(a[k]);
            peak_at = k;
        }
    }
    f.peak_time = time(peak_at);

    // The effective durations, and velocity and displacement by the
    // trapezoid from rest,
    //   v_k = v_(k-1) + (a_(k-1) + a_k) dt / 2,   d_k = d_(k-1) + (v_(k-1) + v_k) dt / 2,
    // in the acceleration unit times sec and sec^2, converted at the end.
    const double third = f.peak_acceleration / 3.0;
    const double tenth = f.peak_acceleration / 10.0;
    int64_t first3 = -1, last3 = -1, first10 = -1, last10 = -1;
    const ReportingFactors factors = reporting_factors(units);
    const double half_dt = 0.5 / rate;
    const bool envelopes = history != nullptr && envelope_groups > 0;
    Envelope accel(n, envelope_groups), velocity(n, envelope_groups), displacement(n, envelope_groups);
    double v = 0.0, d = 0.0, v_peak = 0.0, d_peak = 0.0;
    for (int64_t k = 0; k < n; ++k) {
        const double magnitude = std::fabs(a[k]);
        if (f.peak_acceleration > 0.0 && magnitude >= third) {
            if (first3 < 0) first3 = k;
            last3 = k;
        }
        if (f.peak_acceleration > 0.0 && magnitude >= tenth) {
            if (first10 < 0) first10 = k;
            last10 = k;
        }
        if (k > 0) {
            const double v_before = v;
            v += (a[k - 1] + a[k]) * half_dt;
            d += (v_before + v) * half_dt;
        }
        v_peak = std::max(v_peak, std::fabs(v));
        d_peak = std::max(d_peak, std::fabs(d));
        if (envelopes) {
            const double t = time(k);
            accel.add(t, a[k]);
            velocity.add(t, v * factors.velocity);
            displacement.add(t, d * factors.displacement);
        }
    }
    if (first3 >= 0) f.te = static_cast<double>(last3 - first3) / rate;
    if (first10 >= 0) f.t10 = static_cast<double>(last10 - first10) / rate;
    f.peak_velocity = v_peak * factors.velocity;
    f.peak_displacement = d_peak * factors.displacement;
    f.end_velocity = v * factors.velocity;
    f.end_displacement = d * factors.displacement;
    if (envelopes) {
        history->accel = accel.points();
        history->velocity = velocity.points();
        history->displacement = displacement.points();
    }
    return f;
}

namespace {

// One piece of work: the figures of a record, or the SRS of a record over the
// grid frequencies [first, last).
struct Task {
    size_t record = 0;
    bool figures = false;
    int32_t first = 0, last = 0;
};

// Runs task(i) for i < count on `threads` threads, each task once; the first
// failure in task order is rethrown on the calling thread after every thread
// has ended.
template <class Body>
void run_tasks(size_t count, int32_t threads, const Body& body) {
    std::vector<std::exception_ptr> failures(count);
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i = next++; i < count; i = next++) {
            try {
                body(i);
            } catch (...) {
                failures[i] = std::current_exception();
            }
        }
    };
    const size_t workers = std::min(count, static_cast<size_t>(std::max(threads, 1)));
    std::vector<std::thread> pool;
    for (size_t w = 1; w < workers; ++w) pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool) t.join();
    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}

// The frequency ranges of one record's SRS: lane blocks of srs_lane_pad split
// into `pieces` ranges of nearly equal size.
std::vector<std::pair<int32_t, int32_t>> frequency_ranges(int32_t count, int32_t pieces) {
    const int32_t blocks = (count + srs_lane_pad - 1) / srs_lane_pad;
    pieces = std::clamp(pieces, 1, std::max(blocks, 1));
    std::vector<std::pair<int32_t, int32_t>> ranges;
    int32_t block = 0;
    for (int32_t p = 0; p < pieces; ++p) {
        const int32_t size = blocks / pieces + (p < blocks % pieces ? 1 : 0);
        const int32_t first = block * srs_lane_pad;
        block += size;
        ranges.push_back({first, std::min(block * srs_lane_pad, count)});
    }
    return ranges;
}

}  // namespace

std::vector<RecordCheck> check_records(const std::vector<CheckInput>& inputs, const CheckGrid& grid,
                                       const CheckSettings& settings) {
    const int32_t count = static_cast<int32_t>(grid.freq.size());
    std::vector<RecordCheck> checks(inputs.size());
    std::vector<SrsFilterBank> banks(inputs.size());
    std::vector<std::vector<double>> positive(inputs.size()), negative(inputs.size());

    // With fewer records than threads each record's grid is shared out in
    // frequency ranges as well, four per thread, so that the threads finish
    // together although the figures of a record are one task.  A range costs
    // its share of the passes over the samples and no more: the kernel runs
    // its lane groups one after the other either way.
    const int32_t threads = std::max(settings.threads, 1);
    const int32_t records = static_cast<int32_t>(std::max<size_t>(inputs.size(), 1));
    // A caller that may stop the work gets it in lane blocks, each a short pass
    // over the samples.
    const int32_t pieces = settings.stop != nullptr ? (count + srs_lane_pad - 1) / srs_lane_pad
                           : threads > 1            ? 4 * ((threads + records - 1) / records)
                                                    : 1;
    std::vector<Task> tasks;
    for (size_t r = 0; r < inputs.size(); ++r) {
        const float dt = static_cast<float>(1.0 / inputs[r].sample_rate);
        design_srs_filters(settings.algorithm, settings.damping, dt, grid.freq.data(), count, two_pi(),
                           settings.residual, banks[r]);
        positive[r].assign(static_cast<size_t>(count), 0.0);
        negative[r].assign(static_cast<size_t>(count), 0.0);
        tasks.push_back({r, true, 0, 0});
        for (const auto& [first, last] : frequency_ranges(count, pieces)) tasks.push_back({r, false, first, last});
    }

    run_tasks(tasks.size(), threads, [&](size_t i) {
        check_stop(settings.stop);
        const Task& task = tasks[i];
        const CheckInput& input = inputs[task.record];
        if (task.figures) {
            RecordCheck& check = checks[task.record];
            check.figures = record_figures(input, settings.units, settings.envelope_groups, &check.history);
            return;
        }
        try {
            compute_srs_peaks(banks[task.record], input.samples.data(), static_cast<int64_t>(input.samples.size()),
                              task.first, task.last, positive[task.record].data(), negative[task.record].data());
        } catch (const QuorelError& error) {
            throw QuorelError(format("\n Error: %s: no SRS where the response never crosses zero during the record "
                                     "(a record shorter than half a period of the grid frequency, or of one sign: "
                                     "--remove-mean) \n",
                                     input.name.c_str()) +
                              error.what());
        }
    });

    const double accel_factor = reporting_factors(settings.units).velocity;
    for (size_t r = 0; r < inputs.size(); ++r) {
        RecordCheck& check = checks[r];
        std::vector<ComplianceRow> rows;
        for (int32_t j = 0; j < count; ++j) {
            const double f = grid.freq[static_cast<size_t>(j)];
            // The SRS value: each peak rounded to float once.
            const double pos = static_cast<float>(positive[r][static_cast<size_t>(j)]);
            const double neg = static_cast<float>(negative[r][static_cast<size_t>(j)]);
            check.srs.push_back({f, pos, neg});
            check.pseudo_velocity.push_back(pseudo_velocity(std::max(pos, neg), f, accel_factor));
            if (!grid.spec.empty()) rows.push_back({f, static_cast<double>(grid.spec[static_cast<size_t>(j)]), pos, neg});
        }
        if (!grid.spec.empty()) check.compliance = assess_rows(std::move(rows), settings.rules);
    }
    return checks;
}

namespace {

RunSettings unit_labels(int32_t units) {
    RunSettings s;
    s.units = units;
    set_unit_labels(s);
    return s;
}

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

Json record_json(const CheckDescription& d, const RecordCheck& c) {
    const RecordFigures& f = c.figures;
    Json srs = Json::array();
    for (size_t j = 0; j < c.srs.size(); ++j) {
        const SrsLine& line = c.srs[j];
        const ComplianceRow* row = c.compliance ? &c.compliance->rows[j] : nullptr;
        srs.push_back({{"frequency", line.freq},
                       {"spec", row ? Json(row->spec) : Json(nullptr)},
                       {"positive", line.positive},
                       {"negative", line.negative},
                       {"maximax", std::max(line.positive, line.negative)},
                       {"pseudo_velocity", c.pseudo_velocity[j]},
                       {"margin_positive_db", row ? Json(row->positive_db) : Json(nullptr)},
                       {"margin_negative_db", row ? Json(row->negative_db) : Json(nullptr)}});
    }
    return Json{
        {"record",
         {{"file", d.file},
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
          {"end_displacement", f.end_displacement}}},
        {"settings",
         {{"algorithm", d.algorithm},
          {"damping_ratio", d.damping_ratio},
          {"q", d.q ? Json(*d.q) : Json(nullptr)},
          {"spacing", d.spacing},
          {"units", units_name(d.units)},
          {"residual", d.residual},
          {"mean_removed", d.mean_removed ? Json(*d.mean_removed) : Json(nullptr)},
          {"scale", d.scale ? Json(*d.scale) : Json(nullptr)},
          {"conditioning", conditioning_json(d.conditioning)}}},
        {"units", units_json(unit_labels(d.units))},
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

std::string check_csv(const RecordCheck& check, int32_t units) {
    const RunSettings labels = unit_labels(units);
    std::string text = format(
        "frequency (Hz),spec (%s),positive (%s),negative (%s),maximax (%s),pseudo-velocity (%s),"
        "margin positive (dB),margin negative (dB)\n",
        labels.accel_unit, labels.accel_unit, labels.accel_unit, labels.accel_unit, labels.velocity_unit);
    for (size_t j = 0; j < check.srs.size(); ++j) {
        const SrsLine& line = check.srs[j];
        const ComplianceRow* row = check.compliance ? &check.compliance->rows[j] : nullptr;
        append_number(text, line.freq);
        text += ',';
        if (row) append_number(text, row->spec);
        for (const double value : {line.positive, line.negative, std::max(line.positive, line.negative),
                                   check.pseudo_velocity[j]}) {
            text += ',';
            append_number(text, value);
        }
        text += ',';
        if (row) append_number(text, row->positive_db);
        text += ',';
        if (row) append_number(text, row->negative_db);
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
    const RunSettings u = unit_labels(d.units);
    std::string text = format("\n Record %s: %lld samples at %g samples/sec, %g sec", d.file.c_str(),
                              static_cast<long long>(f.samples), f.sample_rate, f.duration);
    if (d.header_lines > 0) text += format(", %ld header line%s", static_cast<long>(d.header_lines), d.header_lines == 1 ? "" : "s");
    text += " \n";
    if (d.mean_removed) text += format("   Mean removed         %#.6g %s \n", *d.mean_removed, u.accel_unit);
    text += conditioning_text(d.conditioning);
    text += format("   Peak acceleration    %#.6g %s at %#.6g sec \n", f.peak_acceleration, u.accel_unit, f.peak_time);
    text += format("   Te (peak / 3)        %#.6g sec \n", f.te);
    text += format("   T10 (peak / 10)      %#.6g sec \n", f.t10);
    text += format("   Peak velocity        %#.6g %s, at the end %#.6g %s \n", f.peak_velocity, u.velocity_unit,
                   f.end_velocity, u.velocity_unit);
    text += format("   Peak displacement    %#.6g %s, at the end %#.6g %s \n", f.peak_displacement,
                   u.displacement_unit, f.end_displacement, u.displacement_unit);
    if (c.compliance) return text + compliance_table(d.file, spec_name, u.accel_unit, *c.compliance);

    const std::string unit = format("(%s)", u.accel_unit);
    text += format("\n %s: SRS, %s \n\n", d.file.c_str(),
                   d.q ? format("Q = %g", *d.q).c_str() : format("damping ratio %g", d.damping_ratio).c_str());
    text += format("   Freq(Hz) %13s %13s %13s %13s\n", ("Pos" + unit).c_str(), ("Neg" + unit).c_str(),
                   ("Maximax" + unit).c_str(), format("PV(%s)", u.velocity_unit).c_str());
    for (size_t j = 0; j < c.srs.size(); ++j) {
        const SrsLine& line = c.srs[j];
        text += format(" %10.3f %#13.4g %#13.4g %#13.4g %#13.4g\n", line.freq, line.positive, line.negative,
                       std::max(line.positive, line.negative), c.pseudo_velocity[j]);
    }
    return text;
}

}  // namespace quorel
