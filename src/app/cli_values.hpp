#pragma once
// How the command lines read their numbers: integers as whole decimal tokens
// (no octal or hexadecimal forms), reals as decimal tokens rounded once to
// float, as the dialogue reads its answers; and the CLI11 validators built on
// them.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>

#include "base/console.hpp"

namespace quorel {

std::optional<int64_t> decimal_integer(const std::string& text);

float decimal_real(const std::string& text);

CLI::Validator integer_in(int64_t low, int64_t high);

// A real number; `accept` says whether its float value is in range, `range`
// how the range reads.
template <typename Accept>
CLI::Validator real_where(Accept accept, const std::string& range) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            float value = 0.0f;
            if (!parse_real_token(text, value)) return "'" + text + "' is not a number";
            if (!accept(value)) return text + " is out of range: " + range;
            return {};
        },
        range);
}

}  // namespace quorel
