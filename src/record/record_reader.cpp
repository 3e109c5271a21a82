#include "record/record_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "base/error.hpp"
#include "base/format.hpp"
#include "record/numeric_fields.hpp"

namespace quorel {

namespace {

constexpr int32_t max_header_lines = 100;
constexpr size_t max_line_bytes = 4096;
// A line of at most max_line_bytes holds at most this many fields.
constexpr int32_t max_fields = static_cast<int32_t>(max_line_bytes / 2 + 1);
constexpr size_t chunk_bytes = size_t{1} << 20;

[[noreturn]] void fail(const std::string& name, const std::string& what) {
    throw QuorelError(format("\n Error: %s %s \n", name.c_str(), what.c_str()));
}

[[noreturn]] void fail_at(const std::string& name, int64_t line, const std::string& what) {
    throw QuorelError(format("\n Error: %s line %lld: %s \n", name.c_str(), static_cast<long long>(line), what.c_str()));
}

[[noreturn]] void fail_long_line(const std::string& name, int64_t line) {
    fail_at(name, line, format("longer than %zu bytes: not a text record", max_line_bytes));
}

[[noreturn]] void fail_binary(const std::string& name) { fail(name, "holds NUL bytes: a binary file, not a text record"); }

[[noreturn]] void fail_utf16(const std::string& name) { fail(name, "is UTF-16 text: save it as UTF-8"); }

// The first bytes of a file that is UTF-16 text: a UTF-16 byte order mark
// (either order), or, without one, 16-bit units of which at least half are
// printable ASCII or line-end characters (a NUL in every other byte, on one
// side) and none is zero.  Such text would otherwise be refused as binary.
constexpr size_t utf16_probe_bytes = 1024;

bool is_utf16_text(std::string_view head) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(head[i]); };
    if (head.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) return true;
    const size_t units = std::min(head.size(), utf16_probe_bytes) / 2;
    if (units < 2) return false;
    for (const size_t low : {size_t{0}, size_t{1}}) {   // little-endian, then big-endian
        size_t ascii = 0;
        bool text = true;
        for (size_t k = 0; k < units && text; ++k) {
            const unsigned char lo = byte(2 * k + low), hi = byte(2 * k + 1 - low);
            if (hi != 0) continue;
            text = (lo >= 0x20 && lo < 0x7F) || lo == '\t' || lo == '\n' || lo == '\r';
            ++ascii;
        }
        if (text && 2 * ascii >= units) return true;
    }
    return false;
}

// The separator of a line of numbers: a semicolon wherever one appears (its
// fields may then hold decimal commas), else a comma (unless the comma is the
// decimal separator), else white space.
FieldSeparator separator_of(std::string_view line, bool decimal_comma) {
    if (line.find(';') != std::string_view::npos) return FieldSeparator::semicolon;
    if (!decimal_comma && line.find(',') != std::string_view::npos) return FieldSeparator::comma;
    return FieldSeparator::blank;
}

// The line with its commas and points swapped, into `out`: numbers written
// with a decimal comma then read with the point, and a point (a thousands
// separator, perhaps) is refused.  Each byte keeps its place.
std::string_view swapped_marks(std::string_view line, std::string& out) {
    out.assign(line);
    for (char& c : out) {
        if (c == ',') {
            c = '.';
        } else if (c == '.') {
            c = ',';
        }
    }
    return out;
}

// True when the line reads as numbers once its commas are decimal points.
bool has_decimal_commas(std::string_view line) {
    if (line.find(',') == std::string_view::npos) return false;
    std::string dotted;
    double values[1];
    const NumericLine fields = read_numbers(swapped_marks(line, dotted), separator_of(line, true), values, 0);
    return fields.bad < 0 && fields.count > 0;
}

bool all_digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// True when the comma-separated fields of a line pair up as numbers written
// with a decimal comma: "1,1087" or "-0,25,3,5", digits, a comma, digits.
bool pairs_look_like_decimal_commas(std::string_view line) {
    std::vector<std::string_view> pieces;
    for (size_t start = 0;;) {
        const size_t comma = line.find(',', start);
        pieces.push_back(line.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (pieces.size() > 1 && is_blank_line(pieces.back())) pieces.pop_back();   // a trailing separator
    if (pieces.size() % 2 != 0) return false;
    for (size_t i = 0; i < pieces.size(); i += 2) {
        std::string_view whole = pieces[i], fraction = pieces[i + 1];
        while (!whole.empty() && is_field_blank(whole.front())) whole.remove_prefix(1);
        while (!fraction.empty() && is_field_blank(fraction.back())) fraction.remove_suffix(1);
        if (!whole.empty() && (whole.front() == '-' || whole.front() == '+')) whole.remove_prefix(1);
        if (!all_digits(whole) || !all_digits(fraction)) return false;
    }
    return true;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && is_field_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_field_blank(text.back())) text.remove_suffix(1);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    return std::string(text);
}

std::vector<std::string> column_names_of(std::string_view header, FieldSeparator separator) {
    std::vector<std::string> names;
    if (separator == FieldSeparator::blank) {
        size_t i = 0;
        while (i < header.size()) {
            while (i < header.size() && is_field_blank(header[i])) ++i;
            const size_t start = i;
            while (i < header.size() && !is_field_blank(header[i])) ++i;
            if (i > start) names.push_back(trimmed(header.substr(start, i - start)));
        }
        return names;
    }
    const char mark = separator == FieldSeparator::comma ? ',' : ';';
    size_t start = 0;
    for (;;) {
        const size_t end = header.find(mark, start);
        names.push_back(trimmed(header.substr(start, end == std::string_view::npos ? end : end - start)));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (names.size() > 1 && names.back().empty()) names.pop_back();   // a trailing separator
    return names;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// A column name without a trailing unit in parentheses or brackets:
// "acceleration (G)" -> "acceleration".
std::string_view without_unit(std::string_view name) {
    const size_t open = name.find_last_of("([");
    if (open == std::string_view::npos || open == 0 || (name.back() != ')' && name.back() != ']')) return name;
    name = name.substr(0, open);
    while (!name.empty() && is_field_blank(name.back())) name.remove_suffix(1);
    return name;
}

// At most `most` names, quoted, then "..." for the rest.
std::string listed(const std::vector<std::string>& names, size_t most = SIZE_MAX) {
    std::string list;
    for (size_t i = 0; i < names.size() && i < most; ++i) {
        list += (list.empty() ? "'" : ", '") + shown_field(names[i]) + "'";
    }
    if (names.size() > most) list += ", ...";
    return list;
}

// The 0-based index of the column `wanted` names: the one spelled exactly so,
// else the only one spelled so ignoring case and a unit.
int32_t named_column(const std::string& file, const std::vector<std::string>& names, const std::string& wanted) {
    if (names.empty()) fail(file, format("has no header line naming its columns, so no column '%s'", shown_field(wanted).c_str()));
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == wanted) return static_cast<int32_t>(i);
    }
    std::vector<int32_t> matches;
    for (size_t i = 0; i < names.size(); ++i) {
        if (same_ignoring_case(names[i], wanted) || same_ignoring_case(without_unit(names[i]), wanted)) {
            matches.push_back(static_cast<int32_t>(i));
        }
    }
    if (matches.size() == 1) return matches.front();
    if (matches.empty()) {
        fail(file, format("has no column named '%s' (its columns: %s)", shown_field(wanted).c_str(), listed(names).c_str()));
    }
    fail(file, format("has %zu columns that '%s' could name (its columns: %s)", matches.size(), shown_field(wanted).c_str(),
                      listed(names).c_str()));
}

// Takes the lines of a record one at a time and builds it.  Holds the
// samples, the last header line, one line's fields and a few numbers about
// the times: nothing else grows with the record.
//
// Uniform sampling.  With u_k = t_k - t_0 and the step h = u_{n-1} / (n - 1),
// every time lies within half a step of its grid point when
//   |u_k - k h| <= h / 2   <=>   u_k / (k + 1/2) <= h <= u_k / (k - 1/2)   (k >= 1).
// So h must lie in [lower, upper], the largest of the left bounds and the
// smallest of the right ones, kept as the lines arrive.  When they cross, no
// step fits the times read so far and the line that made them cross is named;
// at the end h itself is tested against both.  That alone lets one missing
// sample in a long record through (every time stays within half a step of a
// grid whose step is a little longer), so each step t_k - t_{k-1} must also
// lie within half a step of h: the shortest and the longest are kept.
class RecordBuilder {
public:
    RecordBuilder(const std::string& name, const RecordOptions& options, size_t expected_lines)
        : options_(options), values_(static_cast<size_t>(max_fields)) {
        record_.file = name;
        if (options.sample_rate && !(std::isfinite(*options.sample_rate) && *options.sample_rate > 0.0)) {
            fail(name, format("cannot be read at a sample rate of %g Hz: it must be above zero", *options.sample_rate));
        }
        if (options.column_number && options.column_name) fail(name, "needs its column by number or by name, not both");
        record_.samples.reserve(expected_lines);
        if (options.decimal_comma) swapped_.reserve(max_line_bytes);
    }

    // One line, without its '\n'.
    void line(std::string_view text) {
        ++line_number_;
        if (text.size() > max_line_bytes) fail_long_line(record_.file, line_number_);
        if (line_number_ == 1 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        if (fields_ == 0) {
            header_or_first_data(text);
        } else {
            data(text);
        }
    }

    Record finish() {
        const std::string& name = record_.file;
        if (fields_ == 0) {
            if (line_number_ == 0 || (record_.header_lines == line_number_ && last_header_.empty())) fail(name, "is empty");
            fail(name, "holds no line of numbers");
        }
        const size_t n = record_.samples.size();
        if (n < min_record_samples) fail(name, too_few_samples(n));
        if (!has_time_) {
            record_.sample_rate = *options_.sample_rate;
            return std::move(record_);
        }
        const double span = last_time_ - record_.start_time;
        const double step = span / static_cast<double>(n - 1);
        record_.sample_rate = static_cast<double>(n - 1) / span;
        if (!(std::isfinite(record_.sample_rate) && record_.sample_rate > 0.0 && step > 0.0)) {
            fail(name, format("has times from %.9g to %.9g sec: no sample rate follows from them", record_.start_time,
                              last_time_));
        }
        if (step < lower_) off_grid(lower_line_, lower_time_);
        if (step > upper_) off_grid(upper_line_, upper_time_);
        if (longest_step_ > 1.5 * step) off_step(longest_line_, longest_time_, longest_step_, step);
        if (shortest_step_ < 0.5 * step) off_step(shortest_line_, shortest_time_, shortest_step_, step);
        return std::move(record_);
    }

private:
    // The text whose numbers are read: the line itself, or with a decimal
    // comma, the line with commas and points swapped.
    std::string_view numbers_of(std::string_view text) {
        return options_.decimal_comma ? swapped_marks(text, swapped_) : text;
    }

    void header_or_first_data(std::string_view text) {
        const std::string& name = record_.file;
        if (!is_blank_line(text)) {
            const FieldSeparator separator = separator_of(text, options_.decimal_comma);
            const NumericLine fields = read_numbers(numbers_of(text), separator, values_.data(), max_fields);
            if (fields.bad < 0) {
                first_data(text, separator, fields.count);
                return;
            }
            if (!options_.decimal_comma && has_decimal_commas(text)) {
                fail_at(name, line_number_,
                        "holds numbers with a decimal comma: the decimal point must be '.', or give --decimal-comma");
            }
            last_header_.assign(text);
        }
        ++record_.header_lines;
        if (record_.header_lines > max_header_lines) {
            fail(name, format("holds no line of numbers in its first %d lines: not a record", max_header_lines));
        }
    }

    void first_data(std::string_view text, FieldSeparator separator, int32_t count) {
        const std::string& name = record_.file;
        separator_ = separator;
        fields_ = count;
        record_.columns = count;
        first_data_line_ = line_number_;
        if (!last_header_.empty()) record_.column_names = column_names_of(last_header_, separator);
        last_header_.clear();
        last_header_.shrink_to_fit();
        has_time_ = !options_.sample_rate && count >= 2;
        if (!options_.sample_rate && count == 1) {
            fail(name, "has a single column and no time column: its sample rate must be given");
        }
        if (options_.sample_rate && count >= 2 && !options_.column_number && !options_.column_name) {
            // No field is the sample by default: a time column, or a number
            // split at its decimal comma, would be judged instead.
            const std::string fields = listed(column_names_of(text, separator), 8);
            if (separator == FieldSeparator::comma && pairs_look_like_decimal_commas(text)) {
                fail_at(name, line_number_,
                        format("holds %ld fields (%s) that look like numbers written with a decimal comma: give "
                               "--decimal-comma (or --column to read one field)",
                               static_cast<long>(count), fields.c_str()));
            }
            fail_at(name, line_number_,
                    format("holds %ld fields (%s): with --sample-rate every line is one sample, so --column must "
                           "say which field it is",
                           static_cast<long>(count), fields.c_str()));
        }
        if (options_.column_number) {
            const int32_t c = *options_.column_number;
            if (c < 1 || c > count) {
                fail(name, format("has no column %ld: its lines hold %ld fields", static_cast<long>(c),
                                  static_cast<long>(count)));
            }
            column_ = c - 1;
        } else if (options_.column_name) {
            column_ = named_column(name, record_.column_names, *options_.column_name);
            if (column_ >= count) {
                fail(name, format("names column %ld '%s', but its lines hold %ld fields", static_cast<long>(column_ + 1),
                                  shown_field(*options_.column_name).c_str(), static_cast<long>(count)));
            }
        } else {
            column_ = has_time_ ? 1 : 0;   // without a time column, the only field
        }
        if (has_time_ && column_ == 0) fail(name, "has its times in column 1: the acceleration is another column");
        take(values_.data());
    }

    void data(std::string_view text) {
        const std::string_view numbers = numbers_of(text);
        const NumericLine fields = read_numbers(numbers, separator_, values_.data(), fields_);
        if (fields.bad >= 0) {
            // The field as written (the swapped text keeps every byte's place).
            const std::string_view bad =
                text.substr(static_cast<size_t>(fields.bad_text.data() - numbers.data()), fields.bad_text.size());
            const std::string shown = shown_field(bad);
            const char* what = fields.bad_status == NumberStatus::not_finite ? not_finite_words : "is not a number";
            std::string message = format("'%s' %s", shown.c_str(), what);
            if (fields.bad_status == NumberStatus::not_a_number) {
                if (options_.decimal_comma && bad.find('.') != std::string_view::npos) {
                    message += ": with --decimal-comma the decimal separator is ','";
                } else if (!options_.decimal_comma && has_decimal_commas(bad)) {
                    message += ": the decimal point must be '.', not a comma (or give --decimal-comma)";
                }
            }
            throw QuorelError(format("\n Error: %s line %lld, field %ld: %s \n", record_.file.c_str(),
                                     static_cast<long long>(line_number_), static_cast<long>(fields.bad + 1),
                                     message.c_str()));
        }
        if (fields.count == 0) return;   // a blank line
        if (fields.count != fields_) {
            fail_at(record_.file, line_number_,
                    format("holds %ld fields, line %lld holds %ld", static_cast<long>(fields.count),
                           static_cast<long long>(first_data_line_), static_cast<long>(fields_)));
        }
        take(values_.data());
    }

    void take(const double* values) {
        record_.samples.push_back(values[column_]);
        if (!has_time_) return;
        const double t = values[0];
        const size_t k = record_.samples.size() - 1;
        if (k == 0) {
            record_.start_time = t;
            last_time_ = t;
            return;
        }
        if (!(t > last_time_)) {
            fail_at(record_.file, line_number_,
                    format("time %.9g sec does not increase from %.9g sec (a restart?): column 1 holds times that "
                           "increase unless a sample rate is given",
                           t, last_time_));
        }
        const double dt = t - last_time_;
        if (dt > longest_step_) {
            longest_step_ = dt;
            longest_line_ = line_number_;
            longest_time_ = t;
        }
        if (dt < shortest_step_) {
            shortest_step_ = dt;
            shortest_line_ = line_number_;
            shortest_time_ = t;
        }
        last_time_ = t;
        const double u = t - record_.start_time;
        const double kd = static_cast<double>(k);
        const double low = u / (kd + 0.5);
        const double high = u / (kd - 0.5);
        if (low > lower_) {
            lower_ = low;
            lower_line_ = line_number_;
            lower_time_ = t;
        }
        if (high < upper_) {
            upper_ = high;
            upper_line_ = line_number_;
            upper_time_ = t;
        }
        if (lower_ > upper_) {
            fail_at(record_.file, line_number_,
                    format("time %.9g sec leaves the uniform sampling of the times before it (a gap or a restart): "
                           "the record is not uniformly sampled",
                           t));
        }
    }

    [[noreturn]] void off_grid(int64_t line, double t) const {
        fail_at(record_.file, line,
                format("time %.9g sec is more than half a step from its place at %.9g Hz from %.9g sec (a gap or a "
                       "restart): the record is not uniformly sampled",
                       t, record_.sample_rate, record_.start_time));
    }

    [[noreturn]] void off_step(int64_t line, double t, double dt, double step) const {
        fail_at(record_.file, line,
                format("time %.9g sec is %.9g sec after the time before it, not within half a step of the mean step "
                       "%.9g sec (a gap?): the record is not uniformly sampled",
                       t, dt, step));
    }

    const RecordOptions& options_;
    Record record_;
    std::vector<double> values_;        // one line's fields
    std::string last_header_;           // the last non-blank header line, until the first line of numbers
    std::string swapped_;               // with a decimal comma: the line being read, commas and points swapped
    int64_t line_number_ = 0;
    int64_t first_data_line_ = 0;
    int32_t fields_ = 0;                // fields of every line of numbers; 0 before the first
    FieldSeparator separator_ = FieldSeparator::blank;
    int32_t column_ = 0;
    bool has_time_ = false;
    double last_time_ = 0.0;
    double lower_ = 0.0;
    double upper_ = std::numeric_limits<double>::infinity();
    int64_t lower_line_ = 0, upper_line_ = 0;
    double lower_time_ = 0.0, upper_time_ = 0.0;
    double longest_step_ = 0.0, shortest_step_ = std::numeric_limits<double>::infinity();
    int64_t longest_line_ = 0, shortest_line_ = 0;
    double longest_time_ = 0.0, shortest_time_ = 0.0;
};

// Splits text arriving in chunks into lines.  A line longer than
// max_line_bytes is refused as soon as its first max_line_bytes + 1 bytes are
// in, so the carried part of a line stays bounded.
class LineSplitter {
public:
    explicit LineSplitter(const std::string& name) : name_(name) { carry_.reserve(max_line_bytes + 1); }

    template <class OnLine>
    void feed(std::string_view chunk, OnLine&& on_line) {
        for (;;) {
            const void* found = std::memchr(chunk.data(), '\n', chunk.size());
            if (found == nullptr) break;
            const size_t length = static_cast<size_t>(static_cast<const char*>(found) - chunk.data());
            if (carry_.empty()) {
                check_length(length);
                on_line(chunk.substr(0, length));
            } else {
                check_length(carry_.size() + length);
                carry_.append(chunk.substr(0, length));
                on_line(std::string_view(carry_));
                carry_.clear();
            }
            ++lines_;
            chunk.remove_prefix(length + 1);
        }
        check_length(carry_.size() + chunk.size());
        carry_.append(chunk);
    }

    // The last line when the text does not end with '\n'.
    template <class OnLine>
    void finish(OnLine&& on_line) {
        if (!carry_.empty()) on_line(std::string_view(carry_));
        carry_.clear();
    }

private:
    void check_length(size_t length) const {
        if (length > max_line_bytes) fail_long_line(name_, lines_ + 1);
    }

    const std::string& name_;
    std::string carry_;
    int64_t lines_ = 0;
};

// Reads a file descriptor to its end in chunks; each chunk goes to `on_chunk`.
template <class OnChunk>
void read_chunks(int fd, const std::string& name, std::vector<char>& buffer, OnChunk&& on_chunk) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            fail(name, format("cannot be read: %s", std::strerror(errno)));
        }
        if (got == 0) return;
        on_chunk(std::string_view(buffer.data(), static_cast<size_t>(got)));
    }
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

Record parse_record(std::string_view text, const std::string& name, const RecordOptions& options) {
    if (is_utf16_text(text.substr(0, utf16_probe_bytes))) fail_utf16(name);
    if (std::memchr(text.data(), '\0', text.size()) != nullptr) fail_binary(name);
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    RecordBuilder builder(name, options, lines);
    while (!text.empty()) {
        const void* found = std::memchr(text.data(), '\n', text.size());
        const size_t length = found == nullptr ? text.size() : static_cast<size_t>(static_cast<const char*>(found) - text.data());
        builder.line(text.substr(0, length));
        text.remove_prefix(found == nullptr ? length : length + 1);
    }
    return builder.finish();
}

std::string too_few_samples(size_t count) {
    return format("holds %zu sample%s: a record needs at least %zu", count, count == 1 ? "" : "s", min_record_samples);
}

void check_samples(std::span<const double> samples, const std::string& name) {
    if (samples.size() < min_record_samples) fail(name, too_few_samples(samples.size()));
    for (size_t k = 0; k < samples.size(); ++k) {
        if (!std::isfinite(samples[k])) fail(name + ":", format("sample %zu %s", k, not_finite_words));
    }
}

// Two passes over the file, both in bounded chunks: the first refuses a
// binary file or an overlong line before anything is parsed and counts the
// lines, so that the samples are allocated once at their final size; the
// second parses.
Record read_record(const std::string& path, const RecordOptions& options) {
    // O_NONBLOCK keeps the open from waiting for the writer of a FIFO; it
    // changes nothing for a regular file, the only kind read.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) fail(path, format("cannot be opened: %s", std::strerror(errno)));
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) fail(path, format("cannot be read: %s", std::strerror(errno)));
    if (S_ISDIR(info.st_mode)) fail(path, "is a directory, not a record");
    if (!S_ISREG(info.st_mode)) fail(path, "is not a regular file (a FIFO, a device or a socket), not a record");
    if (info.st_size == 0) fail(path, "is empty");

    // A small file needs no more than its size (plus one byte to see its end).
    std::vector<char> buffer(std::min(chunk_bytes, static_cast<size_t>(info.st_size) + 1));
    size_t lines = 1;
    {
        LineSplitter splitter(path);
        bool first = true;
        read_chunks(fd.get(), path, buffer, [&](std::string_view chunk) {
            if (first && is_utf16_text(chunk.substr(0, utf16_probe_bytes))) fail_utf16(path);
            first = false;
            if (std::memchr(chunk.data(), '\0', chunk.size()) != nullptr) fail_binary(path);
            splitter.feed(chunk, [&](std::string_view) { ++lines; });
        });
    }
    if (::lseek(fd.get(), 0, SEEK_SET) != 0) fail(path, format("cannot be read: %s", std::strerror(errno)));

    RecordBuilder builder(path, options, lines);
    LineSplitter splitter(path);
    const auto on_line = [&](std::string_view line) { builder.line(line); };
    read_chunks(fd.get(), path, buffer, [&](std::string_view chunk) { splitter.feed(chunk, on_line); });
    splitter.finish(on_line);
    return builder.finish();
}

}  // namespace quorel
