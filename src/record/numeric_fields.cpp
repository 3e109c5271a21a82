#include "record/numeric_fields.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace quorel {

namespace {

char separator_char(FieldSeparator separator) { return separator == FieldSeparator::comma ? ',' : ';'; }

// from_chars without its refusal of a leading '+' ("+-1" stays refused).
std::from_chars_result from_chars_signed(const char* first, const char* last, double& value) {
    if (last - first >= 2 && *first == '+' && (first[1] == '.' || (first[1] >= '0' && first[1] <= '9'))) ++first;
    return std::from_chars(first, last, value);
}

// The status of a number that from_chars read to `end`.
NumberStatus status_of(const std::from_chars_result& result, const char* start, const char* end, double& value) {
    if (result.ec == std::errc()) return std::isfinite(value) ? NumberStatus::finite : NumberStatus::not_finite;
    if (result.ec != std::errc::result_out_of_range) return NumberStatus::not_a_number;
    // Beyond the range of double: an overflow is not finite, an underflow is
    // the nearest double (0 or a subnormal).  from_chars leaves the value
    // alone then, so strtod, in the C locale of a program that never sets
    // one, tells them apart on the text from_chars accepted.
    const std::string text(start, static_cast<size_t>(end - start));
    value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value) ? NumberStatus::finite : NumberStatus::not_finite;
}

}  // namespace

bool is_blank_line(std::string_view line) {
    for (const char c : line) {
        if (!is_field_blank(c)) return false;
    }
    return true;
}

NumberStatus parse_number(std::string_view field, double& value) {
    const char* const first = field.data();
    const char* const last = first + field.size();
    const std::from_chars_result result = from_chars_signed(first, last, value);
    if (result.ptr != last && result.ec != std::errc::invalid_argument) return NumberStatus::not_a_number;
    return status_of(result, first, last, value);
}

NumericLine read_numbers(std::string_view line, FieldSeparator separator, double* values, int32_t capacity) {
    NumericLine out;
    if (is_blank_line(line)) return out;
    const char* p = line.data();
    const char* const end = p + line.size();
    const bool blank = separator == FieldSeparator::blank;
    const char mark = blank ? ' ' : separator_char(separator);
    const auto ends_field = [&](const char* at) { return at == end || (blank ? is_field_blank(*at) : *at == mark); };
    for (;;) {
        while (p != end && is_field_blank(*p)) ++p;
        if (blank && p == end) return out;
        const char* const start = p;
        // A number, bare or in double quotes.
        const bool quoted = p != end && *p == '"';
        const char* const first = quoted ? p + 1 : p;
        double value = 0.0;
        const std::from_chars_result result = from_chars_signed(first, end, value);
        const char* after = result.ptr;
        bool whole = result.ec != std::errc::invalid_argument;
        if (quoted) {
            whole = whole && after != end && *after == '"';
            if (whole) ++after;
        }
        if (!blank) {
            while (after != end && is_field_blank(*after)) ++after;
        }
        const NumberStatus status =
            whole && ends_field(after) ? status_of(result, first, result.ptr, value) : NumberStatus::not_a_number;
        if (status != NumberStatus::finite) {
            const char* field_end = start;
            while (!ends_field(field_end)) ++field_end;
            while (field_end != start && is_field_blank(field_end[-1])) --field_end;
            out.bad = out.count;
            out.bad_status = status;
            out.bad_text = std::string_view(start, static_cast<size_t>(field_end - start));
            return out;
        }
        if (out.count < capacity) values[out.count] = value;
        ++out.count;
        if (after == end) return out;
        p = after + 1;   // past the separator: a field follows, possibly empty ...
        // ... unless the separator ends the line, as some exports write it.
        if (!blank && is_blank_line(std::string_view(p, static_cast<size_t>(end - p)))) return out;
    }
}

std::string shown_field(std::string_view text) {
    std::string shown(text.substr(0, 40));
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    }
    return shown;
}

}  // namespace quorel
