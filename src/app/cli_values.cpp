#include "app/cli_values.hpp"

#include <charconv>

#include "base/format.hpp"

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

float decimal_real(const std::string& text) {
    float value = 0.0f;
    parse_real_token(text, value);
    return value;
}

CLI::Validator integer_in(int64_t low, int64_t high) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            const auto value = decimal_integer(text);
            if (!value) return "'" + text + "' is not a whole number";
            if (*value < low || *value > high) {
                return format("%s is out of range: %lld to %lld", text.c_str(), static_cast<long long>(low),
                              static_cast<long long>(high));
            }
            return {};
        },
        format("INT in %lld..%lld", static_cast<long long>(low), static_cast<long long>(high)));
}

}  // namespace quorel
