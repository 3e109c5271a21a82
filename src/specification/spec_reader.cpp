#include "specification/spec_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/numeric.hpp"

namespace quorel {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using SpecFile = std::unique_ptr<std::FILE, FileCloser>;

// The name and the system's reason for the failed call.
QuorelError open_failure(const std::string& file_name, int error) {
    return QuorelError(format(" Failed to open file: %s (%s) \n", file_name.c_str(), std::strerror(error)));
}

// Opens the specification for reading.  Only a regular file is accepted: a
// FIFO or a terminal would block the run waiting for a writer, a directory or a
// device holds no specification.  O_NONBLOCK keeps the open itself from
// waiting on a FIFO; it has no effect on a regular file's reads.
SpecFile open_spec_file(const std::string& file_name) {
    const int fd = ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw open_failure(file_name, errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw QuorelError(format("\n Error: %s is not a regular file \n", file_name.c_str()));
    }
    SpecFile file(::fdopen(fd, "rb"));
    if (!file) {
        const int error = errno;
        ::close(fd);
        throw open_failure(file_name, error);
    }
    return file;
}

bool positive_finite(float value) { return std::isfinite(value) && value > 0.0f; }

bool is_separator(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// A UTF-8 byte order mark (EF BB BF) at the very start is skipped; anything
// else is read from the start.
void skip_byte_order_mark(std::FILE* file) {
    unsigned char start[3] = {};
    const size_t got = std::fread(start, 1, sizeof start, file);
    if (got == 3 && start[0] == 0xEF && start[1] == 0xBB && start[2] == 0xBF) return;
    std::fseek(file, 0, SEEK_SET);
}

// The whole token as strtof reads it: decimal, exponent, hexadecimal, inf and
// nan forms all count (the point checks refuse what is not finite and positive).
bool whole_number(const std::string& token, float& value) {
    if (token.empty()) return false;
    char* end = nullptr;
    value = std::strtof(token.c_str(), &end);
    return end == token.c_str() + token.size();
}

QuorelError not_a_number(const std::string& file_name, long line, const std::string& token) {
    // At most 40 bytes, each outside the printable ASCII range shown as '?'.
    std::string shown = token.substr(0, 40);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    }
    return QuorelError(format("\n Error: %s line %ld: '%s' is not a number \n", file_name.c_str(), line, shown.c_str()));
}

// "bad point 1 in spec.txt: frequency 5 Hz is not above the one before it, 10 Hz";
// the points are counted from 0.
QuorelError bad_point(const std::string& file_name, int32_t point, const std::string& fault) {
    return QuorelError(
        format("\n Error: bad point %ld in %s: %s \n", static_cast<long>(point), file_name.c_str(), fault.c_str()));
}

QuorelError too_many_points(const std::string& file_name) {
    return QuorelError(format("\n Error: more than 125 points in %s \n", file_name.c_str()));
}

// The checks of the points: 1..125 of them, positive, finite, ascending in
// frequency, the lowest one within the synthesis's reach.
void check_spec_points(const std::string& file_name, SrsSpec& spec) {
    const int32_t count = spec.input_count;
    if (count == 0) throw QuorelError(format("\n Error: no points in %s \n", file_name.c_str()));
    spec.last_input_freq = spec.input_freq[count - 1];
    spec.last_input_accel = spec.input_accel[count - 1];

    // Logarithmic interpolation needs positive values in ascending frequency.
    for (int32_t p = 0; p < count; ++p) {
        const double f = spec.input_freq[p];
        const double a = spec.input_accel[p];
        std::string fault;
        if (!positive_finite(spec.input_freq[p])) {
            fault = format("frequency %g is not a finite number above 0", f);
        } else if (p > 0 && !(spec.input_freq[p] > spec.input_freq[p - 1])) {
            fault = format("frequency %g Hz is not above the one before it, %g Hz", f,
                           static_cast<double>(spec.input_freq[p - 1]));
        } else if (!positive_finite(spec.input_accel[p])) {
            fault = format("acceleration %g is not a finite number above 0", a);
        }
        if (!fault.empty()) throw bad_point(file_name, p, fault);
    }

    // The synthesis needs omega_0 = 2 pi f_0, as a float, above 3 rad/sec.
    const double f0 = spec.input_freq[0];
    if (static_cast<float>(f0 * two_pi()) <= 3.0f) {
        throw QuorelError(format("\n Error: lowest frequency %g Hz is below the 0.48 Hz that the synthesis supports \n", f0));
    }
}

}  // namespace

std::string trial_tag(int32_t trial) { return format("%ld", static_cast<long>(trial)); }

std::string result_file_name(const std::string& base, const std::string& tag, const char* extension) {
    return base + "_" + tag + extension;
}

std::string trial_file_name(const std::string& base, int32_t trial, const char* extension) {
    return result_file_name(base, trial_tag(trial), extension);
}

void load_spec_points(TextOutput& out, const std::string& file_name, SrsSpec& spec) {
    const SpecFile file = open_spec_file(file_name);
    out.print(format(" File: %s opened. \n", file_name.c_str()));
    std::FILE* f = file.get();
    skip_byte_order_mark(f);

    // Tokens pair up as frequency, acceleration; a lone final frequency is a
    // point with acceleration 0 (refused below).
    int32_t count = 0;
    long line = 1;   // 1 + the line ends before the current position
    bool expect_frequency = true;
    std::string token;
    for (;;) {
        int c = std::getc(f);
        for (; c != EOF && is_separator(c); c = std::getc(f)) {
            if (c == '\n') ++line;
        }
        if (c == EOF) break;
        const long token_line = line;
        token.clear();
        bool too_long = false;
        for (; c != EOF && !is_separator(c); c = std::getc(f)) {
            if (token.size() < max_spec_token_length) {
                token.push_back(static_cast<char>(c));
            } else {
                too_long = true;
            }
        }
        if (c == '\n') ++line;
        float value = 0.0f;
        if (too_long || !whole_number(token, value)) throw not_a_number(file_name, token_line, token);
        if (expect_frequency) {
            if (count == max_frequencies) throw too_many_points(file_name);
            spec.input_freq[count] = value;
            spec.input_accel[count] = 0.0f;
            ++count;
        } else {
            spec.input_accel[count - 1] = value;
        }
        expect_frequency = !expect_frequency;
    }
    if (std::ferror(f)) throw QuorelError(format("\n Error: cannot read %s \n", file_name.c_str()));
    if (!expect_frequency) {
        // The points before it are judged first: the first bad one is named.
        spec.input_count = count - 1;
        if (count > 1) check_spec_points(file_name, spec);
        throw bad_point(file_name, count - 1,
                        format("frequency %g Hz has no acceleration after it", static_cast<double>(spec.input_freq[count - 1])));
    }
    spec.input_count = count;
    check_spec_points(file_name, spec);
}

void set_spec_points(const std::string& name, const float* freq, const float* accel, int32_t count, SrsSpec& spec) {
    if (count > max_frequencies) throw too_many_points(name);
    for (int32_t p = 0; p < count; ++p) {
        spec.input_freq[p] = freq[p];
        spec.input_accel[p] = accel[p];
    }
    spec.input_count = count;
    check_spec_points(name, spec);
}

}  // namespace quorel
