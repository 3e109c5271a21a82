// Universal files: every time response in a dataset 58 (ASCII) or 58b
// (ASCII header, raw IEEE data) is a record.  Other datasets are skipped,
// ASCII ones to their closing delimiter and binary ones by their byte count:
// the file is parsed in order and never searched for a delimiter, which the
// bytes of a binary payload may spell.
//
// The header of dataset 58 is eleven lines:
//   1-5   ID lines (free text; line 1 names the function)
//   6     function type (cols 1-5; 1 = time response), ..., response entity
//         name (cols 32-41), node (42-51), direction (52-55)
//   7     ordinate type (cols 1-10: 2 real single, 4 real double, 5 and 6
//         complex), number of points N (11-20), abscissa spacing (21-30,
//         1 = even), abscissa minimum (31-43) and increment (44-56)
//   8-11  axis characteristics: specific data type (cols 1-10; 17 = time),
//         exponents, label and units
// then the data: N values, 6 per line in 13 columns (single) or 4 per line
// in 20 columns (double), or N raw 4 or 8-byte values for 58b.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "base/format.hpp"
#include "record/channel_selection.hpp"
#include "record/format_readers.hpp"

namespace quorel {

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// Columns first..last (1-based, inclusive) of a line; missing columns read
// as blank.
std::string_view columns(std::string_view line, size_t first, size_t last) {
    if (line.size() < first) return {};
    return line.substr(first - 1, last - first + 1);
}

// A whole field as an integer; a blank field is 0.
std::optional<int64_t> integer_field(std::string_view field) {
    field = trimmed(field);
    if (field.empty()) return 0;
    if (field.front() == '+') field.remove_prefix(1);
    int64_t value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size()) return std::nullopt;
    return value;
}

// One number in Fortran's spellings: 'D' exponents, a leading '+', and an
// exponent whose 'E' was dropped to make room for three digits
// ("0.12345-100").  The whole text must be the number.
std::optional<double> fortran_number(std::string_view text) {
    if (text.empty() || text.size() > 64) return std::nullopt;
    char buffer[72];
    size_t n = 0;
    bool has_exponent = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == 'D' || c == 'd' || c == 'E' || c == 'e') {
            c = 'E';
            has_exponent = true;
        } else if ((c == '+' || c == '-') && i > 0 && (digit(text[i - 1]) || text[i - 1] == '.') && !has_exponent) {
            buffer[n++] = 'E';
            has_exponent = true;
        }
        buffer[n++] = c;
    }
    const char* first = buffer;
    const char* last = buffer + n;
    if (*first == '+') ++first;
    if (first == last || *first == '+') return std::nullopt;
    double value = 0.0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (end != last) return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        // from_chars leaves an out-of-range value alone: an underflow is 0,
        // an overflow no finite number.
        const char* e = std::find(first, last, 'E');
        return e != last && e + 1 != last && e[1] == '-' ? std::optional<double>(0.0) : std::nullopt;
    }
    if (error != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// The numbers of a line as a pattern finds them, [+-]?(d+[.d*]|.d+)([EeDd][+-]?d+)?,
// which splits blank-separated and run-together fields alike.  False, with
// the offending text, when something else stands on the line.
bool scan_numbers(std::string_view line, std::vector<double>& out, std::string_view& bad) {
    size_t i = 0;
    while (i < line.size()) {
        if (blank(line[i])) {
            ++i;
            continue;
        }
        const size_t start = i;
        if (line[i] == '+' || line[i] == '-') ++i;
        size_t digits = 0;
        while (i < line.size() && digit(line[i])) ++i, ++digits;
        if (i < line.size() && line[i] == '.') {
            ++i;
            while (i < line.size() && digit(line[i])) ++i, ++digits;
        }
        if (digits > 0 && i < line.size() && (line[i] == 'E' || line[i] == 'e' || line[i] == 'D' || line[i] == 'd')) {
            size_t j = i + 1;
            if (j < line.size() && (line[j] == '+' || line[j] == '-')) ++j;
            if (j < line.size() && digit(line[j])) {
                while (j < line.size() && digit(line[j])) ++j;
                i = j;
            }
        }
        const std::optional<double> value = digits > 0 ? fortran_number(line.substr(start, i - start)) : std::nullopt;
        if (!value) {
            size_t end = start + 1;
            while (end < line.size() && !blank(line[end])) ++end;
            bad = line.substr(start, end - start);
            return false;
        }
        out.push_back(*value);
    }
    return true;
}

// The numbers of a data line cut in fixed fields of `width` columns, as the
// format writes them; false when a field is not one number (another layout).
// Fortran right-justifies a number in its field, so a line of such fields,
// trailing blanks aside, ends on a field boundary.
bool fixed_numbers(std::string_view line, size_t width, std::vector<double>& out) {
    while (!line.empty() && blank(line.back())) line.remove_suffix(1);
    if (line.size() % width != 0) return false;
    const size_t before = out.size();
    for (size_t start = 0; start < line.size(); start += width) {
        const std::string_view field = trimmed(line.substr(start, width));
        if (field.empty()) continue;
        const std::optional<double> value = fortran_number(field);
        if (!value) {
            out.resize(before);
            return false;
        }
        out.push_back(*value);
    }
    return true;
}

struct Dataset {
    int64_t ordinal = 0;          // among the file's datasets 58, from 1
    int64_t line = 0;             // of its opening delimiter
    std::string id1, entity;      // ID line 1 and the response entity name, trimmed
    int64_t function_type = 0;
    int64_t ordinate_type = 0;
    int64_t points = 0;
    int64_t spacing = 1;
    double minimum = 0.0, increment = 0.0;
    int64_t abscissa_type = 0;
    bool binary = false;
    bool little_endian = true;
    size_t data = 0;              // offset of the data (ASCII: its first line)
    int64_t data_line = 0;
};

class Uff58Parser {
public:
    Uff58Parser(std::string_view bytes, const std::string& file) : bytes_(bytes), file_(file) {}

    std::vector<Dataset> datasets() {
        std::vector<Dataset> out;
        int64_t ordinal = 0;
        for (;;) {
            skip_blank_lines();
            if (pos_ >= bytes_.size()) break;
            const int64_t opening = line_ + 1;
            const std::string_view delimiter = next_line();
            if (trimmed(delimiter) != "-1") {
                fail_at(opening, format("'%s' stands where a dataset's delimiter '    -1' belongs: not a universal "
                                        "file, or a dataset overran its data",
                                        shown(delimiter).c_str()));
            }
            if (pos_ >= bytes_.size()) fail_at(opening, "ends after a delimiter: a dataset is missing");
            const std::string_view id = next_line();
            const std::optional<int64_t> number = integer_field(columns(id, 1, 6));
            const char marker = id.size() >= 7 ? id[6] : ' ';
            const bool binary = marker == 'b' || marker == 'B';
            if (!number || trimmed(id) == "-1" || *number < 0) {
                fail_at(line_, format("'%s' is not a dataset number", shown(id).c_str()));
            }
            BinaryHeader header;
            if (binary) header = binary_header(id);
            if (*number != 58) {
                skip_dataset(binary, header);
                continue;
            }
            Dataset d;
            d.ordinal = ++ordinal;
            d.line = opening;
            read_header(d, binary, header);
            out.push_back(std::move(d));
        }
        return out;
    }

    // The values of a dataset 58 of real ordinates and even spacing.
    std::vector<double> values(const Dataset& d) {
        const std::string what = dataset_name(d);
        std::vector<double> out;
        out.reserve(static_cast<size_t>(std::min<int64_t>(d.points, static_cast<int64_t>(bytes_.size()))));
        pos_ = d.data;
        line_ = d.data_line - 1;
        if (d.binary) {
            const size_t size = d.ordinate_type == 2 ? 4 : 8;
            for (int64_t k = 0; k < d.points; ++k) {
                const size_t at = d.data + static_cast<size_t>(k) * size;
                out.push_back(size == 4 ? raw<float>(at, d.little_endian) : raw<double>(at, d.little_endian));
            }
            return out;
        }
        const size_t width = d.ordinate_type == 2 ? 13 : 20;
        std::vector<double> numbers;
        for (;;) {
            if (pos_ >= bytes_.size()) fail_at(line_, what + " ends without its closing delimiter '    -1'");
            const std::string_view line = next_line();
            if (trimmed(line) == "-1") break;
            if (static_cast<int64_t>(out.size()) >= d.points) continue;   // surplus before the delimiter
            numbers.clear();
            std::string_view bad;
            if (!fixed_numbers(line, width, numbers) && !scan_numbers(line, numbers, bad)) {
                fail_at(line_, format("%s: '%s' is not a number", what.c_str(), shown(bad).c_str()));
            }
            for (const double v : numbers) {
                if (static_cast<int64_t>(out.size()) < d.points) out.push_back(v);
            }
        }
        if (static_cast<int64_t>(out.size()) < d.points) {
            fail_at(line_, format("%s holds %zu values before its closing delimiter: its record 7 declares %lld",
                                  what.c_str(), out.size(), static_cast<long long>(d.points)));
        }
        return out;
    }

    std::string dataset_name(const Dataset& d) const {
        return format("dataset 58 number %lld (line %lld)", static_cast<long long>(d.ordinal),
                      static_cast<long long>(d.line));
    }

    [[noreturn]] void fail_at(int64_t line, const std::string& what) const {
        refuse_record(file_, format("line %lld: %s", static_cast<long long>(line), what.c_str()));
    }

private:
    struct BinaryHeader {
        int64_t byte_order = 1, float_format = 2, ascii_lines = 0, bytes = 0;
    };

    static std::string shown(std::string_view text) {
        std::string s(text.substr(0, 40));
        for (char& c : s) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
        }
        return s;
    }

    // The next line without its line end (LF, CR LF); the last line may lack one.
    std::string_view next_line() {
        const size_t start = pos_;
        const void* found = std::memchr(bytes_.data() + start, '\n', bytes_.size() - start);
        size_t end = found == nullptr ? bytes_.size() : static_cast<size_t>(static_cast<const char*>(found) - bytes_.data());
        pos_ = found == nullptr ? end : end + 1;
        ++line_;
        if (end > start && bytes_[end - 1] == '\r') --end;
        return bytes_.substr(start, end - start);
    }

    void skip_blank_lines() {
        while (pos_ < bytes_.size()) {
            const size_t before = pos_;
            const int64_t line = line_;
            if (!trimmed(next_line()).empty()) {
                pos_ = before;
                line_ = line;
                return;
            }
        }
    }

    std::string_view header_line(const char* what) {
        if (pos_ >= bytes_.size()) fail_at(line_, format("ends inside a dataset's header, before its %s", what));
        return next_line();
    }

    int64_t header_integer(std::string_view line, size_t first, size_t last, const char* what) const {
        const std::optional<int64_t> value = integer_field(columns(line, first, last));
        if (!value) {
            fail_at(line_, format("%s (columns %zu-%zu) '%s' is not a whole number", what, first, last,
                                  shown(trimmed(columns(line, first, last))).c_str()));
        }
        return *value;
    }

    // The 58b identifier line: (I6,1A1,I6,I6,I12,I12,...).
    BinaryHeader binary_header(std::string_view id) const {
        BinaryHeader h;
        h.byte_order = header_integer(id, 8, 13, "its byte order");
        h.float_format = header_integer(id, 14, 19, "its floating-point format");
        h.ascii_lines = header_integer(id, 20, 31, "its count of ASCII lines");
        h.bytes = header_integer(id, 32, 43, "its count of bytes");
        if (h.byte_order != 1 && h.byte_order != 2) {
            fail_at(line_, format("binary dataset: byte order %lld is neither 1 (little-endian) nor 2 (big-endian)",
                                  static_cast<long long>(h.byte_order)));
        }
        if (h.ascii_lines < 0 || h.ascii_lines > 1000000 || h.bytes < 0) {
            fail_at(line_, "binary dataset: its counts of lines and bytes are damaged");
        }
        return h;
    }

    // Past a binary payload's line-end noise to the closing delimiter.
    void close_binary(size_t end, const std::string& what) {
        pos_ = end;
        while (pos_ < bytes_.size() && (bytes_[pos_] == '\r' || bytes_[pos_] == '\n')) ++pos_;
        skip_blank_lines();
        const int64_t line = line_ + 1;
        if (pos_ >= bytes_.size() || trimmed(next_line()) != "-1") {
            fail_at(line, what + ": its binary data are not followed by the closing delimiter '    -1' (a byte count "
                                 "that does not match the data)");
        }
    }

    void skip_dataset(bool binary, const BinaryHeader& header) {
        const int64_t opening = line_;
        if (binary) {
            for (int64_t k = 0; k < header.ascii_lines; ++k) header_line("binary data");
            if (static_cast<uint64_t>(header.bytes) > bytes_.size() - pos_) {
                fail_at(opening, format("binary dataset declares %lld bytes, more than the file holds after its header",
                                        static_cast<long long>(header.bytes)));
            }
            close_binary(pos_ + static_cast<size_t>(header.bytes), format("the dataset of line %lld", static_cast<long long>(opening)));
            return;
        }
        for (;;) {
            if (pos_ >= bytes_.size()) fail_at(opening, "a dataset ends without its closing delimiter '    -1'");
            if (trimmed(next_line()) == "-1") return;
        }
    }

    void read_header(Dataset& d, bool binary, const BinaryHeader& header) {
        const std::string what = dataset_name(d);
        d.id1 = std::string(trimmed(header_line("ID line 1")));
        for (int k = 2; k <= 5; ++k) header_line("ID lines");
        const std::string_view r6 = header_line("record 6");
        d.function_type = header_integer(r6, 1, 5, (what + ": its function type").c_str());
        d.entity = std::string(trimmed(columns(r6, 32, 41)));
        const std::string_view r7 = header_line("record 7");
        const int64_t r7_line = line_;
        std::vector<double> numbers;
        std::string_view bad;
        const std::optional<int64_t> type = integer_field(columns(r7, 1, 10));
        const std::optional<int64_t> points = integer_field(columns(r7, 11, 20));
        const std::optional<int64_t> spacing = integer_field(columns(r7, 21, 30));
        if (type && points && spacing && r7.size() > 30 && scan_numbers(r7.substr(30), numbers, bad) && numbers.size() >= 2) {
            d.ordinate_type = *type;
            d.points = *points;
            d.spacing = *spacing;
        } else {
            // Not in its columns: the five numbers as the line spells them.
            numbers.clear();
            if (!scan_numbers(r7, numbers, bad) || numbers.size() < 5) {
                fail_at(r7_line, what + ": record 7 needs the ordinate type, the number of points, the spacing, "
                                        "the abscissa minimum and its increment");
            }
            // Clamped before the conversion: a number beyond int64, or not a number, has no integer value
            // (-1 then, refused below as an unknown type or spacing, or a count below one, all the same).
            const auto whole = [](double v, double highest) {
                return std::isfinite(v) ? static_cast<int64_t>(std::clamp(v, -1.0, highest)) : int64_t{-1};
            };
            d.ordinate_type = whole(numbers[0], 1.0e6);
            d.points = whole(numbers[1], 9.0e18);
            d.spacing = whole(numbers[2], 1.0e6);
            numbers.erase(numbers.begin(), numbers.begin() + 3);
        }
        d.minimum = numbers[0];
        d.increment = numbers[1];
        const std::string_view r8 = header_line("record 8");
        d.abscissa_type = header_integer(r8, 1, 10, (what + ": the abscissa's data type").c_str());
        for (int k = 9; k <= 11; ++k) header_line("records 9 to 11");
        if (d.points < 0) {
            fail_at(r7_line, format("%s declares %lld points", what.c_str(), static_cast<long long>(d.points)));
        }

        d.binary = binary;
        d.data = pos_;
        d.data_line = line_ + 1;
        if (!binary) {
            for (;;) {
                if (pos_ >= bytes_.size()) fail_at(d.line, what + " ends without its closing delimiter '    -1'");
                if (trimmed(next_line()) == "-1") return;
            }
        }
        if (header.ascii_lines != 11) {
            fail_at(d.line, format("%s: a binary dataset 58 has 11 header lines, its identifier says %lld",
                                   what.c_str(), static_cast<long long>(header.ascii_lines)));
        }
        if (header.float_format != 2) {
            fail_at(d.line, format("%s: floating-point format %lld is not IEEE 754 (2): DEC and IBM formats are not "
                                   "read",
                                   what.c_str(), static_cast<long long>(header.float_format)));
        }
        d.little_endian = header.byte_order == 1;
        // The payload's size follows from record 7 where the dataset can be a
        // record; other layouts are skipped by the declared count.
        uint64_t size = static_cast<uint64_t>(header.bytes);
        if ((d.ordinate_type == 2 || d.ordinate_type == 4) && d.spacing == 1) {
            const uint64_t value_size = d.ordinate_type == 2 ? 4 : 8;
            if (static_cast<uint64_t>(d.points) > (bytes_.size() - pos_) / value_size) {
                fail_at(d.line, format("%s declares %lld points, more than the file holds after its header",
                                       what.c_str(), static_cast<long long>(d.points)));
            }
            size = static_cast<uint64_t>(d.points) * value_size;
        }
        if (size > bytes_.size() - pos_) {
            fail_at(d.line, format("%s declares %llu bytes, more than the file holds after its header", what.c_str(),
                                   static_cast<unsigned long long>(size)));
        }
        close_binary(pos_ + static_cast<size_t>(size), what);
    }

    template <class T>
    T raw(size_t at, bool little_endian) const {
        unsigned char b[sizeof(T)];
        std::memcpy(b, bytes_.data() + at, sizeof(T));
        if (little_endian != (std::endian::native == std::endian::little)) std::reverse(b, b + sizeof(T));
        T value;
        std::memcpy(&value, b, sizeof(T));
        return value;
    }

    std::string_view bytes_;
    const std::string& file_;
    size_t pos_ = 0;
    int64_t line_ = 0;
};

const char* function_words(int64_t type) {
    switch (type) {
        case 2: return "an auto spectrum";
        case 3: return "a cross spectrum";
        case 4: return "a frequency response function";
        case 5: return "a transmissibility";
        case 6: return "a coherence";
        case 9: return "a power spectral density";
        case 24: return "a shock response spectrum";
        default: return "not a time response";
    }
}

}  // namespace

std::vector<ChannelRecord> parse_uff58_records(std::string_view bytes, const std::string& file,
                                               const std::string& selector, const RecordRequest& request) {
    Uff58Parser parser(bytes, file);
    const std::vector<Dataset> datasets = parser.datasets();
    if (datasets.empty()) refuse_record(file, "holds no dataset 58 (a function at a node): no record");

    // Names: ID line 1, else the response entity, else the dataset's number;
    // a name that repeats takes its dataset's number too.
    std::vector<std::string> names;
    for (const Dataset& d : datasets) {
        std::string name = d.id1;
        if (name.empty() || name == "NONE") name = d.entity;
        if (name.empty() || name == "NONE") name = format("dataset %lld", static_cast<long long>(d.ordinal));
        names.push_back(name);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (std::count(names.begin(), names.end(), names[i]) > 1) {
            const std::string base = names[i];
            for (size_t j = i; j < names.size(); ++j) {
                if (names[j] == base) names[j] = format("%s (%lld)", base.c_str(), static_cast<long long>(datasets[j].ordinal));
            }
        }
    }

    ChannelListing listing;
    listing.kind = "dataset";
    std::vector<size_t> listed;
    for (size_t i = 0; i < datasets.size(); ++i) {
        const Dataset& d = datasets[i];
        const bool time = d.function_type == 1 || (d.function_type == 0 && d.abscissa_type == 17);
        if (!time) {
            listing.others.push_back({names[i], format("is %s (function type %lld)", function_words(d.function_type),
                                                       static_cast<long long>(d.function_type))});
            continue;
        }
        listing.channels.push_back({names[i], names[i]});
        listed.push_back(i);
    }
    const std::vector<size_t> chosen = select_channels(file, listing, selector, request.channels, DefaultChannels::every);

    std::vector<ChannelRecord> records;
    for (const size_t c : chosen) {
        const Dataset& d = datasets[listed[c]];
        const std::string what = format("dataset %s (%s)", shown_name(names[listed[c]]).c_str(),
                                        parser.dataset_name(d).c_str());
        if (d.ordinate_type == 5 || d.ordinate_type == 6) refuse_record(file, what + " is complex: a record is real");
        if (d.ordinate_type != 2 && d.ordinate_type != 4) {
            refuse_record(file, format("%s has ordinate data type %lld: 2 (real single) or 4 (real double) are read",
                                       what.c_str(), static_cast<long long>(d.ordinate_type)));
        }
        if (d.spacing != 1) {
            refuse_record(file, what + " is unevenly spaced (abscissa spacing 0): only evenly sampled records are read");
        }
        if (d.points < 2) {
            refuse_record(file, format("%s holds %lld point%s: a record needs at least 2", what.c_str(),
                                       static_cast<long long>(d.points), d.points == 1 ? "" : "s"));
        }
        if (!(std::isfinite(d.increment) && d.increment > 0.0 && std::isfinite(1.0 / d.increment)) ||
            !std::isfinite(d.minimum)) {
            refuse_record(file, format("%s has an abscissa increment of %g sec: it must be a time step above zero",
                                       what.c_str(), d.increment));
        }
        ChannelRecord r;
        r.channel = names[listed[c]];
        r.name = file + ":" + r.channel;
        r.format = RecordFormat::uff58;
        r.record.file = file;
        r.record.samples = parser.values(d);
        r.record.sample_rate = carried_sample_rate(file, what, 1.0 / d.increment, request);
        r.record.start_time = d.minimum;
        check_channel_samples(file, what, r.record.samples);
        records.push_back(std::move(r));
    }
    return records;
}

std::vector<ChannelRecord> read_uff58_records(const std::string& file, const std::string& selector,
                                              const RecordRequest& request) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) refuse_record(file, format("cannot be opened: %s", std::strerror(errno)));
    std::string bytes;
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (regular) {
        bytes.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<size_t>(got);
        }
        bytes.resize(done);
    }
    ::close(fd);
    if (!regular) refuse_record(file, "is not a regular file, not a record");
    return parse_uff58_records(bytes, file, selector, request);
}

}  // namespace quorel
