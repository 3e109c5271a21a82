#pragma once
// A measured acceleration record: a text file of one sample per line, read
// into its samples and its sample rate.
//
// Fields are separated by commas, semicolons or white space (blanks and tabs),
// one kind per file, taken from the first line of numbers; a number may stand
// in double quotes, and a separator may end each line.  A UTF-8 byte order
// mark and CRLF line ends are accepted; UTF-16 text is refused as such.  The
// decimal point is '.', or with `decimal_comma` the comma (fields are then
// separated by semicolons or white space, and a '.' is refused).  Lines before
// the first line of numbers are header lines (at most 100); the last of them
// names the columns.  Every later non-blank line has as many fields as the
// first, each a finite number.
//
// Without a sample rate, a line of two or more fields starts with its time;
// one field alone is refused.  The times strictly increase and, with the step
// h = (t_last - t_first) / (n - 1), every t_k lies within h/2 of
// t_first + k h and every step t_k - t_(k-1) lies within h/2 of h; the rate
// is 1 / h.  With a sample rate, every line is one sample: a line of two or
// more fields needs its column named.  A record holds at least 2 samples.
//
// Every refusal throws QuorelError with a message naming the file, and the line
// and field where there is one.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorel {

struct RecordOptions {
    std::optional<int32_t> column_number;     // 1-based
    std::optional<std::string> column_name;   // a header field's name
    std::optional<double> sample_rate;        // no time column: every line is one sample (Hz)
    bool decimal_comma = false;               // the comma is the decimal separator
};

struct Record {
    std::string file;
    std::vector<double> samples;              // the acceleration column, as parsed
    double sample_rate = 0.0;                 // Hz: given, or (n - 1) / (t_last - t_first)
    double start_time = 0.0;                  // sec: t_first (0 without a time column)
    int32_t header_lines = 0;
    int32_t columns = 0;                      // fields of every line of numbers
    std::vector<std::string> column_names;    // fields of the last header line (may be empty)
};

// Reads a regular file in bounded chunks; a FIFO, a directory or a device is
// refused before anything is read from it.
Record read_record(const std::string& path, const RecordOptions& options);

// The same rules on text in memory; `name` stands for the file in messages.
Record parse_record(std::string_view text, const std::string& name, const RecordOptions& options);

// The fewest samples a record may hold.
inline constexpr size_t min_record_samples = 2;

// "holds 1 sample: a record needs at least 2"
std::string too_few_samples(size_t count);

// The rules of a record's values for samples given as numbers rather than
// read from a file: at least min_record_samples, every one finite.  A
// refusal names the record `name` as the reader names a file:
//   "accel holds 0 samples: a record needs at least 2"
//   "accel: sample 101 is not a finite number" (counted from 0)
void check_samples(std::span<const double> samples, const std::string& name);

}  // namespace quorel
