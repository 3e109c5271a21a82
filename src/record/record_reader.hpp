#pragma once
// A measured acceleration record: a text file of one sample per line, read
// into its samples and its sample rate.
//
// Fields are separated by commas, semicolons or white space (blanks and tabs),
// one kind per file, taken from the first line of numbers.  A UTF-8 byte order
// mark and CRLF line ends are accepted; the decimal point is '.'.  Lines before
// the first line of numbers are header lines (at most 100); the last of them
// names the columns.  Every later non-blank line has as many fields as the
// first, each a finite number.  With a time column (the first, when a line has
// two or more fields and no sample rate is given) the times strictly increase
// and each lies within half a step of t_first + k / rate, the rate being
// (n - 1) / (t_last - t_first).  A record holds at least 2 samples.
//
// Every refusal throws QuorelError with a message naming the file, and the line
// and field where there is one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorel {

struct RecordOptions {
    std::optional<int32_t> column_number;     // 1-based
    std::optional<std::string> column_name;   // a header field's name
    std::optional<double> sample_rate;        // no time column: every line is one sample (Hz)
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

}  // namespace quorel
