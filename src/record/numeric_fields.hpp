#pragma once
// The fields of one line of a numeric text table, read as doubles.  Shared by
// every reader of such tables: measured records and the run's own history and
// SRS files.  Numbers are read with std::from_chars (the C locale's decimal
// point, whatever the process locale); a leading '+' is accepted.
#include <cstdint>
#include <string>
#include <string_view>

namespace quorel {

// How the fields of a line are separated.  With `blank`, runs of blanks and
// tabs separate fields and leading or trailing ones are ignored; with `comma`
// and `semicolon`, blanks around a field are ignored, an empty field is a
// field (one that is not a number), and one separator at the end of the line
// ends it.  A number may stand in double quotes: "1.5".
enum class FieldSeparator : uint8_t { blank, comma, semicolon };

// Blank characters: space, tab, and the CR of a CRLF line end, form feed and
// vertical tab.
inline bool is_field_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// A line holding nothing but blanks.
bool is_blank_line(std::string_view line);

enum class NumberStatus : uint8_t {
    finite,         // a number, and finite
    not_finite,     // a number, but infinite or NaN (or beyond the range of double)
    not_a_number,
};

// The whole of `field` as one number.  Underflow gives 0 or a subnormal.
NumberStatus parse_number(std::string_view field, double& value);

// What one line held.
struct NumericLine {
    int32_t count = 0;              // fields read (all of them, unless one was bad)
    int32_t bad = -1;               // 0-based index of the first field that is not a finite number, or -1
    NumberStatus bad_status = NumberStatus::finite;
    std::string_view bad_text;      // that field, without the blanks around it
};

// How a value that is a number but not a finite one is refused, by every
// reader of numbers that stand for measurements: "'inf' is not a finite
// number", "sample 101 is not a finite number".
inline constexpr const char* not_finite_words = "is not a finite number";

// Reads the fields of `line` left to right, stopping at the first that is not
// a finite number.  values[i] receives field i for i < capacity.  A blank line
// has 0 fields.
NumericLine read_numbers(std::string_view line, FieldSeparator separator, double* values, int32_t capacity);

// A field for a message: its first 40 bytes, each byte outside printable
// ASCII shown as '?'.
std::string shown_field(std::string_view text);

}  // namespace quorel
