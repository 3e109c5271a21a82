#include "record/conditioning.hpp"

#include <algorithm>
#include <cmath>

#include "base/error.hpp"
#include "base/format.hpp"
#include "record/butterworth.hpp"
#include "record/events.hpp"

namespace quorel {

namespace {

[[noreturn]] void refuse(const std::string& name, const std::string& what) {
    throw QuorelError(format("\n Error: %s: %s \n", name.c_str(), what.c_str()));
}

// An option as the front end spells it: "--NAME" on the command line,
// "NAME=" in Python.
std::string option(const Conditioning& c, const char* name) {
    return c.keywords ? format("%s=", name) : format("--%s", name);
}

double time_of(const Record& r, int64_t k) { return r.start_time + static_cast<double>(k) / r.sample_rate; }

void trim(Record& r, const std::string& name, const Conditioning& c, std::vector<ConditioningStep>& steps) {
    const int64_t n = static_cast<int64_t>(r.samples.size());
    // The first and the last sample whose time lies within [from, to]; a
    // time within a millionth of a step of an end counts as on it.
    const double slack = 1e-6;
    int64_t first = 0, last = n - 1;
    if (c.trim_from) {
        const double k = std::ceil((*c.trim_from - r.start_time) * r.sample_rate - slack);
        first = k <= 0.0 ? 0 : (k >= static_cast<double>(n) ? n : static_cast<int64_t>(k));
    }
    if (c.trim_to) {
        const double k = std::floor((*c.trim_to - r.start_time) * r.sample_rate + slack);
        last = k < 0.0 ? -1 : (k >= static_cast<double>(n - 1) ? n - 1 : static_cast<int64_t>(k));
    }
    const int64_t kept = std::max<int64_t>(last - first + 1, 0);
    if (kept < 2) {
        const std::string from = c.trim_from ? format("%g", *c.trim_from) : (c.keywords ? "None" : "");
        const std::string to = c.trim_to ? format("%g", *c.trim_to) : (c.keywords ? "None" : "");
        const std::string given =
            c.keywords ? format("trim=(%s, %s)", from.c_str(), to.c_str()) : format("--trim %s:%s", from.c_str(), to.c_str());
        refuse(name, format("%s keeps %lld sample%s of its times from %.9g to %.9g sec: a record needs at least 2",
                            given.c_str(), static_cast<long long>(kept), kept == 1 ? "" : "s", time_of(r, 0),
                            time_of(r, n - 1)));
    }
    r.start_time = time_of(r, first);
    r.samples.erase(r.samples.begin() + last + 1, r.samples.end());
    r.samples.erase(r.samples.begin(), r.samples.begin() + first);
    steps.push_back({"trim", {{"from", r.start_time}, {"to", time_of(r, kept - 1)}, {"samples", static_cast<double>(kept)}}});
}

void filter(Record& r, const std::string& name, FilterKind kind, double corner, const Conditioning& c,
            std::vector<ConditioningStep>& steps) {
    const int32_t order = c.filter_order;
    const std::string given = option(c, kind == FilterKind::highpass ? "highpass" : "lowpass");
    if (!(corner < 0.5 * r.sample_rate)) {
        refuse(name, format("%s%s%g Hz is not below half its sample rate (%g samples/sec)", given.c_str(),
                            c.keywords ? "" : " ", corner, r.sample_rate));
    }
    filter_zero_phase(design_butterworth(kind, order, corner, r.sample_rate), r.samples);
    steps.push_back({kind == FilterKind::highpass ? "highpass" : "lowpass",
                     {{"frequency", corner}, {"order", static_cast<double>(order)}, {"passes", 2.0}}});
}

}  // namespace

double remove_mean(std::span<double> samples, int64_t count) {
    const size_t n = std::min(samples.size(), static_cast<size_t>(std::max<int64_t>(count, 1)));
    double sum = 0.0;
    for (size_t k = 0; k < n; ++k) sum += samples[k];
    const double mean = sum / static_cast<double>(n);
    for (double& s : samples) s -= mean;
    return mean;
}

int64_t pretrigger_samples(double seconds, double sample_rate) {
    // k / rate < seconds for k < seconds rate: the samples 0 .. ceil(seconds rate) - 1.
    const double span = seconds * sample_rate;
    if (!(span > 0.0)) return 0;
    if (!(span < 9.0e18)) return INT64_MAX;
    return static_cast<int64_t>(std::ceil(span));
}

bool pretrigger_within(double seconds, double sample_rate, int64_t n) {
    return seconds * sample_rate <= static_cast<double>(n - 1) * (1.0 + 1e-9);
}

std::optional<double> remove_record_mean(std::span<double> samples, double sample_rate, const MeanRemoval& removal,
                                         const std::string& name, const char* pretrigger_words) {
    const int64_t n = static_cast<int64_t>(samples.size());
    if (removal.pretrigger) {
        const double seconds = *removal.pretrigger;
        if (!pretrigger_within(seconds, sample_rate, n)) {
            throw QuorelError(format("\n Error: %s: %s%g sec is longer than the record (%lld samples, %g sec) \n",
                                     name.c_str(), pretrigger_words, seconds, static_cast<long long>(n),
                                     static_cast<double>(n - 1) / sample_rate));
        }
        return remove_mean(samples, pretrigger_samples(seconds, sample_rate));
    }
    if (removal.whole) return remove_mean(samples, n);
    return std::nullopt;
}

bool conditions(const Conditioning& c) {
    return c.trim_from || c.trim_to || c.mean.whole || c.mean.pretrigger || c.detrend || c.highpass || c.lowpass ||
           c.event_level;
}

std::pair<double, double> remove_trend(std::span<double> samples) {
    // About the middle index m = (n - 1) / 2 the slope and the mean are
    // independent: b = sum (k - m)(x_k - mean) / sum (k - m)^2.
    const size_t n = samples.size();
    if (n < 2) return {0.0, 0.0};
    const double m = 0.5 * static_cast<double>(n - 1);
    double mean = 0.0;
    for (const double x : samples) mean += x;
    mean /= static_cast<double>(n);
    double sxy = 0.0, sxx = 0.0;
    for (size_t k = 0; k < n; ++k) {
        const double u = static_cast<double>(k) - m;
        sxy += u * (samples[k] - mean);
        sxx += u * u;
    }
    const double slope = sxy / sxx;
    for (size_t k = 0; k < n; ++k) samples[k] -= mean + slope * (static_cast<double>(k) - m);
    return {slope, mean - slope * m};
}

std::vector<ConditionedRecord> condition_record(Record record, const std::string& name, const Conditioning& c) {
    ConditionedRecord out;
    out.name = name;
    std::vector<ConditioningStep>& steps = out.steps;
    if (c.trim_from || c.trim_to) trim(record, name, c, steps);

    out.mean_removed = remove_record_mean(record.samples, record.sample_rate, c.mean, name,
                                          c.keywords ? "pretrigger=" : "--pretrigger ");
    if (c.mean.pretrigger) {
        steps.push_back({"pretrigger",
                         {{"seconds", *c.mean.pretrigger},
                          {"samples", static_cast<double>(pretrigger_samples(*c.mean.pretrigger, record.sample_rate))},
                          {"mean", *out.mean_removed}}});
    } else if (c.mean.whole) {
        steps.push_back({"remove_mean", {{"mean", *out.mean_removed}}});
    }
    if (c.detrend) {
        const auto [slope, start] = remove_trend(record.samples);
        steps.push_back({"detrend", {{"slope", slope * record.sample_rate}, {"offset", start}}});
    }
    if (c.highpass) filter(record, name, FilterKind::highpass, *c.highpass, c, steps);
    if (c.lowpass) filter(record, name, FilterKind::lowpass, *c.lowpass, c, steps);

    std::vector<ConditionedRecord> records;
    if (!c.event_level) {
        out.record = std::move(record);
        records.push_back(std::move(out));
        return records;
    }
    double peak = 0.0;
    for (const double s : record.samples) peak = std::max(peak, std::fabs(s));
    const double level = c.event_level_percent ? *c.event_level / 100.0 * peak : *c.event_level;
    const std::vector<EventSpan> spans = find_events(record.samples, record.sample_rate, level, c.window_pre, c.window_post);
    if (spans.empty()) {
        refuse(name, format("no sample reaches the %s level %g (its peak |a| is %g)", option(c, "events").c_str(), level,
                            peak));
    }
    for (size_t e = 0; e < spans.size(); ++e) {
        const EventSpan& s = spans[e];
        const std::string event_name = format("%s#%zu", name.c_str(), e + 1);
        if (s.last - s.first + 1 < 2) {
            refuse(event_name, format("the event's window holds 1 sample: a record needs at least 2 (a longer %s)",
                                      option(c, "window").c_str()));
        }
        ConditionedRecord event;
        event.name = event_name;
        event.steps = steps;
        event.mean_removed = out.mean_removed;
        event.record.file = record.file;
        event.record.sample_rate = record.sample_rate;
        event.record.start_time = time_of(record, s.first);
        event.record.header_lines = record.header_lines;
        event.record.columns = record.columns;
        event.record.samples.assign(record.samples.begin() + s.first, record.samples.begin() + s.last + 1);
        event.steps.push_back({"event",
                               {{"number", static_cast<double>(e + 1)},
                                {"level", level},
                                {"pre", c.window_pre},
                                {"post", c.window_post},
                                {"from", event.record.start_time},
                                {"to", time_of(record, s.last)}}});
        records.push_back(std::move(event));
    }
    return records;
}

}  // namespace quorel
