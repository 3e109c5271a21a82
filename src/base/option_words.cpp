#include "base/option_words.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <set>
#include <system_error>

#include "base/console.hpp"
#include "base/format.hpp"
#include "base/run_settings.hpp"

namespace quorel {

std::optional<int64_t> decimal_integer(const std::string& text) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+') ++begin;
    if (begin == end || *begin == '+') return std::nullopt;
    int64_t value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value, 10);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::string HelpFormatter::make_option_opts(const CLI::Option* option) const {
    const std::string opts = CLI::Formatter::make_option_opts(option);
    if (!option->get_option_text().empty()) return opts;
    return opts.substr(0, std::min(opts.find(" Needs:"), opts.find(" Excludes:")));
}

std::string HelpFormatter::make_option_desc(const CLI::Option* option) const {
    std::string description = CLI::Formatter::make_option_desc(option);
    if (!option->get_option_text().empty()) return description;
    auto line = [&](const char* label, const std::set<CLI::Option*>& others) {
        if (others.empty()) return;
        description += (description.empty() ? "" : "\n") + std::string(label) + ":";
        for (const CLI::Option* other : others) description += " " + other->get_name();
    };
    line("Needs", option->get_needs());
    line("Excludes", option->get_excludes());
    return description;
}

std::optional<double> decimal_double(const std::string& text) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+') ++begin;
    double value = 0.0;
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::general);
    if (begin == end || error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

ValueRule positive_number() {
    return {"above 0", [](const std::string& text) {
                if (!is_decimal_token(text)) return ValueFault::form;
                const std::optional<double> value = decimal_double(text);
                if (!value) return ValueFault::beyond;
                return *value > 0.0 ? ValueFault::none : ValueFault::range;
            }};
}

ValueRule whole_number_in(int64_t low, int64_t high) {
    std::string range = std::to_string(low) + " to " + std::to_string(high);
    return {range, [=](const std::string& text) {
                const auto value = decimal_integer(text);
                if (value) return *value < low || *value > high ? ValueFault::range : ValueFault::none;
                // Digits alone that do not fit 64 bits are a whole number far out of range.
                const size_t sign = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
                const bool digits = text.size() > sign &&
                                    std::all_of(text.begin() + static_cast<std::ptrdiff_t>(sign), text.end(),
                                                [](char c) { return c >= '0' && c <= '9'; });
                return digits ? ValueFault::range : ValueFault::form;
            }};
}

ValueRule real_where(std::function<bool(float)> accept, std::string range) {
    return {std::move(range), [accept = std::move(accept)](const std::string& text) {
                if (!is_decimal_token(text)) return ValueFault::form;
                float value = 0.0f;
                if (!parse_real_token(text, value)) return ValueFault::beyond;
                return accept(value) ? ValueFault::none : ValueFault::range;
            }};
}

ValueRule one_of(std::vector<std::string> choices) {
    return {"", [choices = std::move(choices)](const std::string& text) {
                return std::find(choices.begin(), choices.end(), text) != choices.end() ? ValueFault::none
                                                                                         : ValueFault::form;
            }};
}

CLI::Option* OptionWords::takes(CLI::Option* option, std::string needs) {
    needs_[option] = std::move(needs);
    return option;
}

CLI::Option* OptionWords::takes(CLI::Option* option, std::string needs, ValueRule rule) {
    takes(option, needs);
    // CLI11 stops at the first refused value; its own text is replaced by ours.
    option->check(CLI::Validator(
        [this, option, needs, rule](std::string& text) -> std::string {
            const ValueFault fault = rule.judge(text);
            if (fault == ValueFault::none) return {};
            const std::string name = option->get_name();
            switch (fault) {
                case ValueFault::form: refusal_ = name + " needs " + needs + ", not '" + text + "'"; break;
                case ValueFault::beyond:
                    refusal_ = format("%s %s is out of range: beyond the largest number, %g", name.c_str(),
                                      text.c_str(), static_cast<double>(std::numeric_limits<float>::max()));
                    break;
                default: refusal_ = name + " " + text + " is out of range: " + rule.range; break;
            }
            return refusal_;
        },
        ""));
    return option;
}

const CLI::Option* OptionWords::named_in(const CLI::App& app, const std::string& text) const {
    // The option whose name comes first in the text, as a whole word: "--q"
    // is not found in "--quiet".
    const CLI::Option* found = nullptr;
    size_t found_at = std::string::npos;
    for (const CLI::Option* option : app.get_options()) {
        const std::string name = option->get_name();
        if (name.empty()) continue;
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
            const size_t after = at + name.size();
            const bool whole = after == text.size() || !(std::isalnum(static_cast<unsigned char>(text[after])) ||
                                                         text[after] == '-' || text[after] == '_');
            if (!whole) continue;
            if (at < found_at || (at == found_at && name.size() > found->get_name().size())) {
                found = option;
                found_at = at;
            }
            break;
        }
    }
    return found;
}

std::string OptionWords::message(const CLI::App& app, const CLI::ParseError& error) const {
    const std::string what = error.what();
    if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr && !refusal_.empty()) return refusal_;
    const auto options = app.get_options();
    auto given = [](const CLI::Option* option) { return option->count() > 0; };
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
        if (const CLI::Option* option = named_in(app, what)) {
            if (option->count() > 1) return option->get_name() + " is given more than once";
            const auto words = needs_.find(option);
            return option->get_name() + " needs " + (words != needs_.end() ? words->second : "a value");
        }
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
        for (const CLI::Option* option : options) {
            if (!given(option)) continue;
            for (const CLI::Option* other : option->get_excludes()) {
                if (given(other)) return option->get_name() + " and " + other->get_name() + " cannot be given together";
            }
        }
    }
    if (dynamic_cast<const CLI::RequiresError*>(&error) != nullptr) {
        for (const CLI::Option* option : options) {
            if (!given(option)) continue;
            for (const CLI::Option* other : option->get_needs()) {
                if (!given(other)) return option->get_name() + " needs " + other->get_name() + " as well";
            }
        }
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
        for (const CLI::Option* option : options) {
            if (!option->get_required() || given(option)) continue;
            const auto words = needs_.find(option);
            return (words != needs_.end() ? words->second : option->get_name()) + " is missing";
        }
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        // After "--" every argument is a positional one.
        bool positional = false;
        for (const std::string& extra : app.remaining()) {
            if (extra == "--") {
                positional = true;
                continue;
            }
            return !positional && extra.size() > 1 && extra[0] == '-' ? "unknown option " + extra
                                                                       : "unexpected argument '" + extra + "'";
        }
    }
    if (dynamic_cast<const CLI::ConversionError*>(&error) != nullptr) {
        const CLI::Option* option = named_in(app, what);
        if (option != nullptr && option->get_expected_max() == 0) return option->get_name() + " takes no value";
    }
    return what;
}

std::pair<CLI::Option*, CLI::Option*> add_damping_pair(CLI::App& app, std::string& q, std::string& damping,
                                                       OptionWords& words, const std::string& q_help,
                                                       const std::string& damping_help) {
    auto* q_option = words.takes(app.add_option("-q,--q", q, q_help)->option_text("Q"), "a value above 0.5",
                                 real_where(q_in_range, "above 0.5"));
    auto* ratio = words.takes(app.add_option("--damping", damping, damping_help)->option_text("RATIO"),
                              "a ratio of at least 0 and below 1",
                              real_where(damping_ratio_in_range, "at least 0 and below 1"));
    q_option->excludes(ratio);
    return {q_option, ratio};
}

}  // namespace quorel
