#include "base/console.hpp"

#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

QuorelError invalid_answer(const std::string& token) {
    return QuorelError(format("\n Error: invalid answer '%s' \n", token.c_str()));
}

}  // namespace

void check_output(const std::ostream& out) {
    if (out) return;
    const int error_number = errno != 0 ? errno : EIO;
    throw QuorelError(format("\n Error: cannot write to standard output: %s \n", std::strerror(error_number)));
}

void print_all(std::ostream& out, std::string_view text) {
    errno = 0;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    check_output(out);
}

bool parse_int_token(std::string_view token, int32_t& value) {
    size_t pos = 0;
    bool negative = false;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) {
        negative = token[pos] == '-';
        ++pos;
    }
    if (pos == token.size()) return false;
    // Accumulate the magnitude, saturating well above the int32 range.
    constexpr int64_t saturation = int64_t{1} << 40;
    int64_t magnitude = 0;
    for (; pos < token.size(); ++pos) {
        if (!is_digit(token[pos])) return false;
        magnitude = magnitude * 10 + (token[pos] - '0');
        if (magnitude > saturation) magnitude = saturation;
    }
    const int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > std::numeric_limits<int32_t>::max()) {
        value = std::numeric_limits<int32_t>::max();
    } else if (signed_value < std::numeric_limits<int32_t>::min()) {
        value = std::numeric_limits<int32_t>::min();
    } else {
        value = static_cast<int32_t>(signed_value);
    }
    return true;
}

bool is_decimal_token(const std::string& token) {
    size_t pos = 0;
    const size_t size = token.size();
    if (pos < size && (token[pos] == '+' || token[pos] == '-')) ++pos;
    size_t digits = 0;
    while (pos < size && is_digit(token[pos])) ++pos, ++digits;
    if (pos < size && token[pos] == '.') {
        ++pos;
        while (pos < size && is_digit(token[pos])) ++pos, ++digits;
    }
    if (digits == 0) return false;
    if (pos < size && (token[pos] == 'e' || token[pos] == 'E')) {
        ++pos;
        if (pos < size && (token[pos] == '+' || token[pos] == '-')) ++pos;
        size_t exponent_digits = 0;
        while (pos < size && is_digit(token[pos])) ++pos, ++exponent_digits;
        if (exponent_digits == 0) return false;
    }
    return pos == size;
}

bool parse_real_token(const std::string& token, float& value) {
    if (!is_decimal_token(token)) return false;
    // strtof rounds the decimal text straight to float, as "%f" input does.
    const float parsed = std::strtof(token.c_str(), nullptr);
    if (!std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

int read_key_from_stdin() {
    if (!isatty(STDIN_FILENO)) return 0;
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return 0;
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    unsigned char key = 0;
    const ssize_t got = read(STDIN_FILENO, &key, 1);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return got == 1 ? key : 0;
}

Console::Console(std::istream& in, std::ostream& out, KeyReader key_reader)
    : in_(in), out_(out), key_reader_(std::move(key_reader)) {}

void Console::print(std::string_view text) {
    errno = 0;
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
    check_output(out_);
}

void Console::flush() {
    errno = 0;
    out_.flush();
    check_output(out_);
}

// Reads the next whitespace-delimited token.  At most max_answer_length
// characters are kept: the rest of a longer token is read and dropped (so an
// endless token cannot exhaust memory), and the token is reported as too long.
std::string Console::read_token(bool& too_long) {
    flush();
    std::string token;
    too_long = false;
    std::istream::sentry ready(in_);   // skips leading white space
    if (!ready) throw QuorelError("\n Error: unexpected end of input \n");
    std::streambuf& buffer = *in_.rdbuf();
    for (int c = buffer.sgetc(); c != std::char_traits<char>::eof() && !std::isspace(c); c = buffer.snextc()) {
        if (token.size() < max_answer_length) {
            token.push_back(static_cast<char>(c));
        } else {
            too_long = true;
        }
    }
    return token;
}

std::string Console::read_answer() {
    bool too_long = false;
    std::string token = read_token(too_long);
    if (too_long) throw QuorelError("\n Error: answer too long \n");
    return token;
}

int32_t Console::read_int() {
    const std::string token = read_answer();
    int32_t value = 0;
    if (!parse_int_token(token, value)) throw invalid_answer(token);
    return value;
}

float Console::read_real() {
    const std::string token = read_answer();
    float value = 0.0f;
    if (!parse_real_token(token, value)) throw invalid_answer(token);
    return value;
}

std::optional<float> Console::read_real_or_ignore() {
    bool too_long = false;
    const std::string token = read_token(too_long);
    float value = 0.0f;
    if (too_long || !parse_real_token(token, value)) return std::nullopt;
    return value;
}

std::string Console::read_file_name() {
    bool too_long = false;
    std::string token = read_token(too_long);
    if (too_long || token.size() >= 260) throw QuorelError("\n Error: file name too long \n");
    return token;
}

void Console::wait_key() {
    flush();
    if (key_reader_) key_reader_();
}

}  // namespace quorel
