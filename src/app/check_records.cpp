#include "app/check_records.hpp"

#include <cmath>
#include <filesystem>
#include <ostream>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/option_words.hpp"
#include "base/stop_request.hpp"

namespace quorel {

namespace {

// A number, or a quotient of two ("1/0.01"), finite and not zero.
std::optional<double> scale_value(const std::string& text) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) return decimal_double(text);
    const std::optional<double> top = decimal_double(text.substr(0, slash));
    const std::optional<double> bottom = decimal_double(text.substr(slash + 1));
    if (!top || !bottom || *bottom == 0.0 || !std::isfinite(*top / *bottom)) return std::nullopt;
    return *top / *bottom;
}

ValueRule nonzero_number() {
    return {"a number other than 0", [](const std::string& text) {
                const std::optional<double> value = scale_value(text);
                if (!value) return ValueFault::form;
                return *value != 0.0 ? ValueFault::none : ValueFault::range;
            }};
}

ValueRule any_name() {
    return {"a name", [](const std::string& text) { return text.empty() ? ValueFault::form : ValueFault::none; }};
}

std::string file_safe(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                          c == '_' || c == '+' || c == '-';
        if (!keep) c = '_';
    }
    return out;
}

struct Pair {
    std::optional<double> first, second;
};

// "A:B" of decimal numbers, either side may be empty when `open` allows it.
std::optional<Pair> number_pair(const std::string& text, bool open) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) return std::nullopt;
    Pair p;
    const std::string a = text.substr(0, colon), b = text.substr(colon + 1);
    if (!a.empty() && !(p.first = decimal_double(a))) return std::nullopt;
    if (!b.empty() && !(p.second = decimal_double(b))) return std::nullopt;
    if (!open && (!p.first || !p.second)) return std::nullopt;
    return p;
}

ValueRule trim_range() {
    return {"", [](const std::string& text) {
                const std::optional<Pair> p = number_pair(text, true);
                if (!p || (!p->first && !p->second)) return ValueFault::form;
                return p->first && p->second && !(*p->first < *p->second) ? ValueFault::range : ValueFault::none;
            }};
}

ValueRule window_range() {
    return {"", [](const std::string& text) {
                const std::optional<Pair> p = number_pair(text, false);
                if (!p) return ValueFault::form;
                return *p->first >= 0.0 && *p->second > 0.0 ? ValueFault::none : ValueFault::range;
            }};
}

// An acceleration above 0, or a percentage above 0 and at most 100.
std::optional<std::pair<double, bool>> event_level(const std::string& text) {
    const bool percent = !text.empty() && text.back() == '%';
    const std::optional<double> value = decimal_double(percent ? text.substr(0, text.size() - 1) : text);
    if (!value || !(*value > 0.0) || (percent && *value > 100.0)) return std::nullopt;
    return std::pair{*value, percent};
}

}  // namespace

void add_record_options(CLI::App* check, RecordCommand& r, OptionWords& words) {
    words.takes(check->add_option("--channel", r.channels,
                                  "Which channels are records: a number, a name, or all (repeatable): text columns, MAT "
                                  "variables (VAR, VAR.FIELD, a matrix's columns VAR:N), WAV channels, HDF5 datasets, "
                                  "universal-file datasets")
                    ->option_text("N|NAME|all")
                    ->take_all()
                    ->expected(1)
                    ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll),
                "a channel number, a name or all", any_name());
    words.takes(check->add_option("--scale", r.scale,
                                  "Multiply every sample by K first, a number or a quotient (1/0.01 for 10 mV/G read in volts)")
                    ->option_text("K"),
                "a number or a quotient A/B, not 0", nonzero_number());
    words.takes(check->add_option("--time-unit", r.time_unit, "The unit of a text record's time column: s, ms or us (default s)")
                    ->option_text("UNIT"),
                "s, ms or us", one_of({"s", "ms", "us"}));
    words.takes(check->add_option("--rate-variable", r.rate_variable,
                                  "MAT records: the scalar variable holding the sample rate in Hz (VAR or VAR.FIELD)")
                    ->option_text("VAR"),
                "a variable name", any_name());
    words.takes(check->add_option("--rate-attribute", r.rate_attribute,
                                  "HDF5 records: the attribute holding the sample rate in Hz, on the dataset or a group "
                                  "above it")
                    ->option_text("NAME"),
                "an attribute name", any_name());
}

void add_conditioning_options(CLI::App* check, RecordCommand& r, OptionWords& words) {
    words.takes(check->add_option("--trim", r.trim, "Keep the samples from FROM to TO sec of the record's times (either may be left out)")
                    ->option_text("FROM:TO"),
                "FROM:TO in sec with FROM below TO", trim_range());
    check->add_flag("--detrend", r.detrend, "Remove the least-squares line (after the mean removal)");
    words.takes(check->add_option("--highpass", r.highpass,
                                                   "Butterworth high-pass at F Hz, run forward and backward (zero phase)")
                                     ->option_text("F"),
                                 "a frequency in Hz above 0", positive_number());
    words.takes(check->add_option("--lowpass", r.lowpass,
                                                  "Butterworth low-pass at F Hz, run forward and backward (zero phase)")
                                    ->option_text("F"),
                                "a frequency in Hz above 0", positive_number());
    words.takes(check->add_option("--filter-order", r.filter_order,
                                  "Order of the Butterworth filters, 1 to 10 (default 4; 8 in effect, run both ways)")
                    ->option_text("N"),
                "a whole number from 1 to 10", whole_number_in(1, 10));
    auto* events = words.takes(check->add_option("--events", r.events,
                                                 "Cut each shock of a long recording into its own record: where |a| "
                                                 "reaches LEVEL (an acceleration, or a percentage of the peak: 20%) "
                                                 "after POST sec of quiet; needs --window")
                                   ->option_text("LEVEL"),
                               "an acceleration above 0 or a percentage up to 100%",
                               ValueRule{"", [](const std::string& text) {
                                             return event_level(text) ? ValueFault::none : ValueFault::form;
                                         }});
    auto* window = words.takes(check->add_option("--window", r.window,
                                                 "With --events: each shock's record from PRE sec before it to POST "
                                                 "sec after it; POST sec of quiet end a shock")
                                   ->option_text("PRE:POST"),
                               "PRE:POST in sec with PRE at least 0 and POST above 0", window_range());
    events->needs(window);
    window->needs(events);
}

RecordRequest record_request(const RecordCommand& r, const RecordOptions& text) {
    RecordRequest request;
    request.text = text;
    request.channels = r.channels;
    if (!r.scale.empty()) request.scale = scale_value(r.scale);
    request.time_unit = r.time_unit == "ms" ? TimeUnit::ms : (r.time_unit == "us" ? TimeUnit::us : TimeUnit::s);
    if (!r.rate_variable.empty()) request.rate_variable = r.rate_variable;
    if (!r.rate_attribute.empty()) request.rate_attribute = r.rate_attribute;
    return request;
}

Conditioning record_conditioning(const RecordCommand& r, bool remove_mean, const std::string& pretrigger) {
    Conditioning c;
    if (!r.trim.empty()) {
        const Pair p = *number_pair(r.trim, true);
        c.trim_from = p.first;
        c.trim_to = p.second;
    }
    c.mean.whole = remove_mean;
    if (!pretrigger.empty()) c.mean.pretrigger = decimal_double(pretrigger);
    c.detrend = r.detrend;
    if (!r.highpass.empty()) c.highpass = decimal_double(r.highpass);
    if (!r.lowpass.empty()) c.lowpass = decimal_double(r.lowpass);
    if (!r.filter_order.empty()) c.filter_order = static_cast<int32_t>(*decimal_integer(r.filter_order));
    if (!r.events.empty()) {
        const auto [level, percent] = *event_level(r.events);
        c.event_level = level;
        c.event_level_percent = percent;
        const Pair w = *number_pair(r.window, false);
        c.window_pre = *w.first;
        c.window_post = *w.second;
    }
    return c;
}

std::vector<LoadedRecord> load_records(const std::vector<std::string>& arguments, const RecordRequest& request,
                                       const Conditioning& conditioning, std::ostream& err,
                                       const std::atomic<int>* stop) {
    if (conditioning.highpass && conditioning.lowpass && !(*conditioning.highpass < *conditioning.lowpass)) {
        throw QuorelError(format("\n Error: --highpass %g Hz is not below --lowpass %g Hz: nothing would pass \n",
                                 *conditioning.highpass, *conditioning.lowpass));
    }
    std::vector<LoadedRecord> loaded;
    for (const std::string& argument : arguments) {
        check_stop(stop);
        for (ChannelRecord& channel : read_records(argument, request)) {
            const std::string warning = full_scale_warning(channel, request);
            if (!warning.empty()) err << "\n " << warning << " \n";
            std::string stem = std::filesystem::path(channel.record.file).stem().string();
            if (!channel.channel.empty()) stem += "_" + file_safe(channel.channel);
            std::vector<ConditionedRecord> conditioned =
                condition_record(std::move(channel.record), channel.name, conditioning);
            const bool events = conditioning.event_level.has_value();
            for (size_t e = 0; e < conditioned.size(); ++e) {
                ConditionedRecord& c = conditioned[e];
                loaded.push_back({std::move(c.record), c.name, events ? format("%s_event%zu", stem.c_str(), e + 1) : stem,
                                  c.mean_removed, std::move(c.steps), request.scale});
            }
        }
    }
    return loaded;
}

}  // namespace quorel
