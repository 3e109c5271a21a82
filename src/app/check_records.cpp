#include "app/check_records.hpp"

#include <cmath>
#include <filesystem>
#include <ostream>

#include "base/format.hpp"
#include "base/option_words.hpp"

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

std::vector<LoadedRecord> load_records(const std::vector<std::string>& arguments, const RecordRequest& request,
                                       std::ostream& err) {
    std::vector<LoadedRecord> loaded;
    for (const std::string& argument : arguments) {
        for (ChannelRecord& channel : read_records(argument, request)) {
            if (!channel.full_scale.empty() && !request.scale) {
                err << format("\n Warning: %s: %s samples are read as fractions of full scale (-1 to 1): give --scale, "
                              "the acceleration at full scale, to have them in the acceleration unit \n",
                              channel.name.c_str(), channel.full_scale.c_str());
            }
            std::string stem = std::filesystem::path(channel.record.file).stem().string();
            if (!channel.channel.empty()) stem += "_" + file_safe(channel.channel);
            loaded.push_back({std::move(channel.record), channel.name, stem, std::nullopt});
        }
    }
    return loaded;
}

}  // namespace quorel
