#include "harness.hpp"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "base/capacity.hpp"
#include "base/console.hpp"
#include "app/dialogue.hpp"
#include "base/error.hpp"
#include "record/format_readers.hpp"
#include "record/record_formats.hpp"
#include "record/record_reader.hpp"
#include "acceptance/acceptance.hpp"
#include "specification/resample.hpp"
#include "specification/spec_reader.hpp"
#include "specification/srs_spec.hpp"

// The sanitizers' defaults wherever the harness is linked (the fuzz targets,
// and the test suite that replays their inputs).  libmatio and libhdf5 size
// some buffers from a file before they check it: a damaged header may ask for
// more than any machine has, and the allocation fails, as it does outside the
// sanitizer, so that the library reports the file bad.  And libhdf5 leaks an
// object header when H5Fopen fails part way: leaks inside the three record
// libraries are theirs, not quorel's.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libhdf5_serial.so\nleak:libmatio.so\nleak:libsndfile.so\n";
}

namespace quorel::fuzz {

namespace {

[[noreturn]] void violated(std::string_view what) {
    std::fprintf(stderr, "\nfuzz invariant violated: %.*s\n", static_cast<int>(what.size()), what.data());
    std::fflush(stderr);
    std::abort();
}

void require(bool holds, std::string_view what) {
    if (!holds) violated(what);
}

// The process's own scratch directory, made on first use and removed at exit
// by the process that made it (a forked child, as in a death test, shares it
// and leaves it alone).
class PrivateDirectory {
public:
    PrivateDirectory() : owner_(::getpid()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quorel_fuzz_XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) violated("cannot create a private directory");
        path_ = pattern;
    }
    ~PrivateDirectory() {
        if (::getpid() != owner_) return;
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    PrivateDirectory(const PrivateDirectory&) = delete;
    PrivateDirectory& operator=(const PrivateDirectory&) = delete;
    const std::string& path() const { return path_; }

private:
    pid_t owner_;
    std::string path_;
};

// Makes the private directory the working directory (again: the test suite
// moves between directories) and empties it.
void enter_clean_directory() {
    static const PrivateDirectory directory;
    if (::chdir(directory.path().c_str()) != 0) violated("cannot enter the private directory");
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(".", error)) {
        std::filesystem::remove_all(entry.path(), error);
    }
    require(!error, "the private directory can be emptied");
}

void write_bytes(const char* name, const void* data, size_t size) {
    std::FILE* file = std::fopen(name, "wb");
    require(file != nullptr, "the input file can be created");
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    const bool closed = std::fclose(file) == 0;
    require(written && closed, "the input file can be written");
}

void write_text(const char* name, const std::string& text) { write_bytes(name, text.data(), text.size()); }

RunOptions fuzz_run_options(bool stop_before_trials) {
    RunOptions options;
    options.threads = 1;
    options.clock = [] { return 0.0; };
    options.stop_before_trials = stop_before_trials;
    return options;
}

bool positive_finite(float value) { return std::isfinite(value) && value > 0.0f; }

// ---------------------------------------------------------------------------
// Specification file

void check_points(const SrsSpec& spec) {
    require(spec.input_count >= 1 && spec.input_count <= max_frequencies, "1..125 points accepted");
    for (int32_t p = 0; p < spec.input_count; ++p) {
        require(positive_finite(spec.input_freq[p]) && positive_finite(spec.input_accel[p]),
                "accepted points are finite and above zero");
        require(p == 0 || spec.input_freq[p] > spec.input_freq[p - 1], "accepted frequencies ascend strictly");
    }
}

// The grid: the first input point, then steps of 2^fraction (each rounded to
// float, so a relative slack of a few float roundings), closed by the last
// input point unless cut at capacity.  Log-log interpolation between positive
// values never leaves the range of those values.
void check_grid(const SrsSpec& input, const SrsSpec& grid, bool reduced) {
    const int32_t m = input.input_count;
    const int32_t n = grid.count;
    require(n >= 1 && n <= max_frequencies, "grid of 1..125 points");
    require(!reduced || n == max_frequencies, "a cut grid is full");
    require(grid.freq[0] == input.input_freq[0] && grid.accel[0] == input.input_accel[0],
            "the grid starts at the first input point");
    if (!reduced) {
        require(grid.freq[n - 1] == input.input_freq[m - 1] && grid.accel[n - 1] == input.input_accel[m - 1],
                "the last input point closes the grid");
    }
    float lowest = input.input_accel[0];
    float highest = input.input_accel[0];
    for (int32_t p = 1; p < m; ++p) {
        lowest = std::fmin(lowest, input.input_accel[p]);
        highest = std::fmax(highest, input.input_accel[p]);
    }
    const double step = std::pow(2.0, static_cast<double>(grid.octave_fraction));
    for (int32_t i = 0; i < n; ++i) {
        require(positive_finite(grid.freq[i]), "grid frequencies finite and above zero");
        require(positive_finite(grid.accel[i]), "grid accelerations finite and above zero");
        require(grid.freq[i] <= input.input_freq[m - 1], "grid within the input band");
        require(grid.accel[i] >= lowest * (1.0 - 1e-4) && grid.accel[i] <= highest * (1.0 + 1e-4),
                "grid accelerations within the input range");
        if (i == 0) continue;
        require(grid.freq[i] > grid.freq[i - 1], "grid frequencies ascend strictly");
        if (grid.freq[i - 1] < FLT_MIN) continue;   // subnormal steps round coarsely
        const double ratio = static_cast<double>(grid.freq[i]) / grid.freq[i - 1];
        require(ratio <= step * (1.0 + 1e-6), "grid steps at most one octave fraction");
        const bool closing = !reduced && i == n - 1;
        require(closing || ratio >= step * (1.0 - 1e-6), "grid steps of one octave fraction");
    }
}

// ---------------------------------------------------------------------------
// Result files of a run

bool fatal_message(const std::string& text) {
    return text.find(" Error:") != std::string::npos || text.find("Failed to open file") != std::string::npos;
}

// The files named accel_<n>.out, velox_<n>.out, disp_<n>.out, srs_<n>.out or
// wavelet_<n>.out in the working directory.
bool is_trial_result_file(const std::string& name) {
    for (const std::string base : {"accel_", "velox_", "disp_", "srs_", "wavelet_"}) {
        if (name.rfind(base, 0) != 0 || name.size() <= base.size() + 4) continue;
        if (name.compare(name.size() - 4, 4, ".out") != 0) continue;
        const auto digits = std::string_view(name).substr(base.size(), name.size() - base.size() - 4);
        if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return true;
    }
    return false;
}

std::vector<std::string> trial_result_files() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(".", error)) {
        const std::string name = entry.path().filename().string();
        if (is_trial_result_file(name)) names.push_back(name);
    }
    return names;
}

// The names printed after `label` in the final report, in order.
std::vector<std::string> names_after(const std::string& text, const std::string& label) {
    std::vector<std::string> names;
    for (size_t pos = text.find(label); pos != std::string::npos; pos = text.find(label, pos)) {
        pos += label.size();
        while (pos < text.size() && text[pos] == ' ') ++pos;
        const size_t end = text.find_first_of(" \t\n", pos);
        names.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    }
    return names;
}

long number_after(const std::string& text, const std::string& label) {
    const size_t pos = text.find(label);
    require(pos != std::string::npos, "the run shows its time grid");
    return std::strtol(text.c_str() + pos + label.size(), nullptr, 10);
}

std::vector<std::string> split_fields(const std::string& line) {
    std::istringstream fields(line);
    std::vector<std::string> out;
    for (std::string field; fields >> field;) out.push_back(field);
    return out;
}

bool finite_number(const std::string& field) {
    char* end = nullptr;
    const double value = std::strtod(field.c_str(), &end);
    return end != field.c_str() && *end == '\0' && std::isfinite(value);
}

// The lines of a result file; a file that does not end with a line end is
// cut short.
std::vector<std::string> complete_lines(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    require(static_cast<bool>(file), "a reported result file exists");
    std::ostringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    require(!text.empty() && text.back() == '\n', "a result file ends with a complete line");
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// Every line `fields` finite numbers.
void check_numeric_file(const std::string& name, size_t expected_lines, size_t fields) {
    const std::vector<std::string> lines = complete_lines(name);
    require(lines.size() == expected_lines, "a result file has one line per sample or grid frequency");
    for (const std::string& line : lines) {
        const std::vector<std::string> values = split_fields(line);
        require(values.size() == fields, "a result line has all its columns");
        for (const std::string& value : values) require(finite_number(value), "result values are finite numbers");
    }
}

void check_wavelet_table(const std::string& name, size_t grid_count) {
    const std::vector<std::string> lines = complete_lines(name);
    require(lines.size() == grid_count + 1, "a wavelet table has a heading and one line per grid frequency");
    for (size_t k = 1; k < lines.size(); ++k) {
        const std::vector<std::string> f = split_fields(lines[k]);
        require(f.size() == 6 && (f[2] == "+" || f[2] == "-"), "a wavelet line has all its columns");
        require(finite_number(f[0]) && finite_number(f[1]) && finite_number(f[3]) && finite_number(f[4]) &&
                    finite_number(f[5]),
                "wavelet values are finite numbers");
        require(std::strtol(f[3].c_str(), nullptr, 10) >= 3, "every wavelet has at least three half-sines");
    }
}

// The grid the run should have worked on, from the same file and spacing.
size_t grid_count(int32_t octave_answer) {
    std::istringstream in;
    std::ostringstream out;
    Console console(in, out, [] { return 0; });
    SrsSpec spec;
    load_spec_points(console, "spec.txt", spec);
    build_octave_grid(spec, octave_fraction(octave_spacing_for_answer(octave_answer)));
    return static_cast<size_t>(spec.count);
}

void check_finished_run(const std::string& text, int32_t trials, int32_t octave_answer) {
    require(text.find(" Error:") == std::string::npos, "a successful run printed no error");
    const long nt = number_after(text, "nt=");
    require(nt > 0 && nt < max_samples, "a finished run has samples");
    const size_t samples = static_cast<size_t>(nt);
    const size_t frequencies = grid_count(octave_answer);

    // Both optimum blocks name their five files.
    const std::vector<std::string> accel = names_after(text, "Acceleration file:");
    const std::vector<std::string> velox = names_after(text, "Velocity file:");
    const std::vector<std::string> disp = names_after(text, "Displacement file:");
    const std::vector<std::string> srs = names_after(text, "SRS file:");
    const std::vector<std::string> wavelet = names_after(text, "Wavelet Table:");
    require(accel.size() == 2 && velox.size() == 2 && disp.size() == 2 && srs.size() == 2 && wavelet.size() == 2,
            "the report names the files of both optimum trials");
    for (int b = 0; b < 2; ++b) {
        check_numeric_file(accel[b], samples, 2);
        check_numeric_file(velox[b], samples, 2);
        check_numeric_file(disp[b], samples, 2);
        check_numeric_file(srs[b], frequencies, 3);
        check_wavelet_table(wavelet[b], frequencies);
    }
    // The trial log: an empty line, three heading lines, one line per trial.
    require(complete_lines("trials.out").size() == static_cast<size_t>(4 + trials), "the trial log is complete");
}

// ---------------------------------------------------------------------------
// Mapping bytes to a tiny run

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    double unit() { return byte() / 255.0; }
    uint32_t word() {
        const uint32_t high = byte();
        return (high << 8) | byte();
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.5g", value);
    return text;
}

// A value as the program reads it back from its printed text.
double as_printed(double value) { return std::strtod(number_text(value).c_str(), nullptr); }

// Keeps an execution of a tiny run to some tens of milliseconds under the
// sanitizers: at most 49 grid points, 3 trials and 1500 samples.
constexpr int max_tiny_samples = 1500;

struct TinyRunPlan {
    TinyRunCase run;
    int32_t trials = 0;          // when accepted
    int32_t octave_answer = 1;
};

TinyRunPlan plan_tiny_run(const uint8_t* data, size_t size) {
    ByteReader r(data, size);
    TinyRunPlan plan;
    std::vector<std::string> answers;

    const uint8_t algorithm = r.byte() % 8;
    answers.push_back(algorithm < 3 ? "1" : algorithm < 6 ? "2" : algorithm == 6 ? "0" : "9");
    answers.push_back("spec.txt");

    // Specification: rising frequencies from 10..320 Hz, 0.1 to 1.5 octaves
    // apart, over at most 4 octaves and up to at most 2 kHz (at most 49 grid
    // points); accelerations 0.1 to 1000.
    const uint8_t shape = r.byte();
    const int points = 1 + r.byte() % 6;
    std::vector<std::pair<double, double>> spec;
    double f = as_printed(10.0 * std::pow(2.0, 5.0 * r.unit()));
    const double f_top = std::fmin(2000.0, 16.0 * f);
    for (int p = 0; p < points && f <= f_top; ++p) {
        spec.emplace_back(f, as_printed(0.1 * std::pow(10.0, 4.0 * r.unit())));
        f = as_printed(f * std::pow(2.0, 0.1 + 1.4 * r.unit()));
    }
    const size_t n = spec.size();
    if ((shape & 0x07) == 0 && n >= 2) {   // two neighbours swapped
        const size_t k = r.byte() % (n - 1);
        std::swap(spec[k], spec[k + 1]);
    }
    if ((shape & 0x38) == 0) {   // one value zero
        const size_t k = r.byte() % (2 * n);
        (k % 2 == 0 ? spec[k / 2].first : spec[k / 2].second) = 0.0;
    }
    for (size_t p = 0; p < n; ++p) {
        plan.run.spec_text += number_text(spec[p].first);
        // A lone final frequency reads as a point with no acceleration.
        if (!(p + 1 == n && (shape & 0xC0) == 0xC0)) {
            plan.run.spec_text += '\t';
            plan.run.spec_text += number_text(spec[p].second);
        }
        plan.run.spec_text += '\n';
    }
    const double f_first = spec.front().first;
    const double f_last = spec.back().first;

    const uint8_t octave = r.byte();
    plan.octave_answer = octave % 16 == 15 ? 7 : 1 + octave % 3;
    answers.push_back(std::to_string(plan.octave_answer));

    const uint8_t damping_format = r.byte() % 5;
    answers.push_back(damping_format < 2 ? "1" : damping_format < 4 ? "2" : "3");
    const uint8_t damping = r.byte();
    if (damping_format < 2) {
        static const char* const ratios[] = {"0", "0.001", "0.02", "0.05", "0.1", "0.3",
                                             "0.7", "0.99", "0.9999", "1", "-0.01"};
        answers.push_back(damping < 128 ? ratios[damping % std::size(ratios)] : number_text((damping - 128) / 160.0));
    } else {
        static const char* const qs[] = {"0.5", "0.50001", "0.6", "1", "5", "10", "50", "1e6", "0", "-5"};
        answers.push_back(damping < 128 ? qs[damping % std::size(qs)] : number_text(0.5 + (damping - 128) / 4.0));
    }

    const uint8_t trials = r.byte();
    plan.trials = trials % 16 == 0 ? 0 : 1 + trials % 3;
    answers.push_back(std::to_string(plan.trials));

    // The units question repeats until it gets 1, 2 or 3.
    const uint8_t units = r.byte();
    static const char* const bad_units[] = {"0", "4", "-1"};
    for (int k = 0; k < (units / 3) % 3; ++k) answers.push_back(bad_units[(units / 9 + k) % 3]);
    answers.push_back(std::to_string(1 + units % 3));

    const uint8_t seed = r.byte();
    answers.push_back(seed % 8 == 0 ? "0" : seed % 8 == 1 ? "-7" : seed % 8 == 2 ? std::to_string(r.word() % 1001)
                                                                                : std::to_string(1 + seed / 8));

    // Sample rate: 4 to 20 times the highest frequency, or just below the
    // limit, or a word (the recommended 10 times is kept).
    const uint8_t rate_choice = r.byte();
    double rate = 0.0;
    if (rate_choice % 16 == 0) {
        answers.push_back("x");
        rate = 10.0 * f_last;
    } else {
        rate = as_printed((rate_choice % 16 == 1 ? 3.99 : 4.01 + 16.0 * r.unit()) * f_last);
        answers.push_back(number_text(rate));
    }

    // The shortest history holds three half-sines of the lowest frequency.
    // Points or duration from 0.8 to 3 times that, or any count from 200 (the
    // "3" condition counts points too), never more than 1500 samples.
    const uint8_t condition = r.byte() % 8;
    const double shortest = 1.5 / (f_first > 0.0 ? f_first : 10.0);
    const double factor = 0.8 + 2.2 * r.unit();
    if (condition % 2 == 0) {
        answers.push_back("1");
        answers.push_back(std::to_string(static_cast<int>(std::fmin(factor * shortest * rate, max_tiny_samples))));
    } else if (condition == 7) {
        answers.push_back("3");
        answers.push_back(std::to_string(200 + r.word() % (max_tiny_samples - 199)));
    } else {
        answers.push_back("2");
        answers.push_back(number_text(std::fmin(factor * shortest, max_tiny_samples / rate)));
    }

    for (const std::string& answer : answers) plan.run.answers += answer + "\n";
    return plan;
}

}  // namespace

Outcome fuzz_spec_file(const uint8_t* data, size_t size) {
    enter_clean_directory();
    write_bytes("spec.txt", data, size);
    std::istringstream in;
    std::ostringstream out;
    Console console(in, out, [] { return 0; });
    SrsSpec spec;
    try {
        load_spec_points(console, "spec.txt", spec);
    } catch (const QuorelError& error) {
        require(fatal_message(error.what()), "a refused specification says why");
        return Outcome::refused;
    }
    check_points(spec);
    for (int32_t answer = 1; answer <= 3; ++answer) {
        SrsSpec grid = spec;
        try {
            const bool reduced = build_octave_grid(grid, octave_fraction(octave_spacing_for_answer(answer)));
            check_grid(spec, grid, reduced);
        } catch (const QuorelError& error) {
            require(fatal_message(error.what()), "a refused grid says why");
            return Outcome::refused;
        }
    }
    return Outcome::completed;
}

Outcome fuzz_dialogue(const uint8_t* data, size_t size) {
    enter_clean_directory();
    write_text(dialogue_spec_name, dialogue_spec_text);
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream out;
    const int status = run_dialogue(in, out, [] { return 0; }, fuzz_run_options(true));
    const std::string text = out.str();
    require(status == 0 || status == 1, "exit status 0 or 1");
    require(trial_result_files().empty(), "no result file before the trials");
    if (status == 1) {
        require(fatal_message(text), "a failed run ends with its message");
        return Outcome::refused;
    }
    require(text.find(" Error:") == std::string::npos, "a successful run printed no error");
    number_after(text, "nt=");
    // The trial log holds its headings: an empty line, then three lines.
    const std::vector<std::string> log = complete_lines("trials.out");
    require(log.size() == 4 && log[0].empty() && log[2].find(" Trial") == 0, "the trial log has its headings");
    return Outcome::completed;
}

Outcome fuzz_tiny_run(const uint8_t* data, size_t size) {
    const TinyRunPlan plan = plan_tiny_run(data, size);
    enter_clean_directory();
    write_text("spec.txt", plan.run.spec_text);
    std::istringstream in(plan.run.answers);
    std::ostringstream out;
    const int status = run_dialogue(in, out, [] { return 0; }, fuzz_run_options(false));
    const std::string text = out.str();
    require(status == 0 || status == 1, "exit status 0 or 1");
    if (status == 1) {
        require(trial_result_files().empty(), "a failed run leaves no result file");
        return Outcome::refused;
    }
    check_finished_run(text, plan.trials, plan.octave_answer);
    return Outcome::completed;
}

TinyRunCase tiny_run_case(const uint8_t* data, size_t size) { return plan_tiny_run(data, size).run; }

namespace {

// ---------------------------------------------------------------------------
// Measured records

constexpr const char* record_name = "record.csv";

std::optional<Record> parse_or_refuse(std::string_view text, const RecordOptions& options) {
    try {
        return parse_record(text, record_name, options);
    } catch (const QuorelError& error) {
        require(fatal_message(error.what()), "a refused record says why");
        return std::nullopt;
    }
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

void check_record_samples(const Record& record) {
    require(record.samples.size() >= 2, "a record holds at least 2 samples");
    for (const double sample : record.samples) require(std::isfinite(sample), "samples are finite");
    require(std::isfinite(record.sample_rate) && record.sample_rate > 0.0, "the sample rate is finite and above zero");
    require(std::isfinite(record.start_time), "the start time is finite");
}

void check_record(const Record& record) {
    check_record_samples(record);
    require(record.header_lines >= 0 && record.header_lines <= 100, "at most 100 header lines");

    // Written back one sample per line, %.17g, the samples read again bit for bit.
    std::string text;
    char number[40];
    for (const double sample : record.samples) {
        text.append(number, static_cast<size_t>(std::snprintf(number, sizeof number, "%.17g\n", sample)));
    }
    RecordOptions at_rate;
    at_rate.sample_rate = record.sample_rate;
    const std::optional<Record> again = parse_or_refuse(text, at_rate);
    require(again.has_value(), "a record written back is accepted");
    require(same_bits(again->samples, record.samples), "a record written back reads to the same samples");
    require(again->sample_rate == record.sample_rate && again->header_lines == 0, "and at the given rate");
}

}  // namespace

Outcome fuzz_record(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<Record> plain = parse_or_refuse(text, {});
    if (plain) check_record(*plain);
    RecordOptions at_rate;
    at_rate.sample_rate = 1000.0;
    const std::optional<Record> sampled = parse_or_refuse(text, at_rate);
    if (sampled) check_record(*sampled);
    RecordOptions decimal_comma = at_rate;
    decimal_comma.decimal_comma = true;
    const std::optional<Record> with_comma = parse_or_refuse(text, decimal_comma);
    if (with_comma) check_record(*with_comma);

    // The file reader, chunked and in two passes, decides alike.
    enter_clean_directory();
    write_bytes(record_name, data, size);
    std::optional<Record> from_file;
    try {
        from_file = read_record(record_name, {});
    } catch (const QuorelError& error) {
        require(fatal_message(error.what()), "a refused record file says why");
    }
    require(from_file.has_value() == plain.has_value(), "the file and the text in memory are refused alike");
    if (from_file) {
        require(same_bits(from_file->samples, plain->samples) && from_file->sample_rate == plain->sample_rate &&
                    from_file->start_time == plain->start_time && from_file->header_lines == plain->header_lines &&
                    from_file->column_names == plain->column_names,
                "the file reads as the text in memory");
    }
    return plain || sampled || with_comma ? Outcome::completed : Outcome::refused;
}

namespace {

// ---------------------------------------------------------------------------
// Records of the other formats

void check_channel_records(const std::vector<ChannelRecord>& records, const std::string& file) {
    require(!records.empty(), "a file read gives at least one record");
    std::vector<std::string> names;
    for (const ChannelRecord& r : records) {
        check_record_samples(r.record);
        require(!r.channel.empty() && r.name == file + ":" + r.channel, "a record is named file:channel");
        require(std::find(names.begin(), names.end(), r.name) == names.end(), "each record name once");
        names.push_back(r.name);
    }
}

// Reads the file with `request`; nothing when it is refused with a message.
std::optional<std::vector<ChannelRecord>> read_or_refuse(const std::string& file, const RecordRequest& request) {
    try {
        std::vector<ChannelRecord> records = read_records(file, request);
        check_channel_records(records, file);
        return records;
    } catch (const QuorelError& error) {
        require(fatal_message(error.what()), "a refused record file says why");
        require(std::string(error.what()).find(file) != std::string::npos, "a refusal names the file");
        return std::nullopt;
    }
}

Outcome fuzz_format(const uint8_t* data, size_t size, const char* file) {
    enter_clean_directory();
    write_bytes(file, data, size);
    RecordRequest plain;
    RecordRequest every;
    every.channels = {"all"};
    every.text.sample_rate = 1000.0;
    RecordRequest own;
    own.channels = {"all"};
    if (format_by_name(file) == RecordFormat::mat) own.rate_variable = "fs";
    if (format_by_name(file) == RecordFormat::hdf5) own.rate_attribute = "sample_rate";
    bool read = false;
    for (const RecordRequest* request : {&plain, &every, &own}) read = read_or_refuse(file, *request).has_value() || read;
    return read ? Outcome::completed : Outcome::refused;
}

}  // namespace

Outcome fuzz_mat(const uint8_t* data, size_t size) { return fuzz_format(data, size, "record.mat"); }
Outcome fuzz_wav(const uint8_t* data, size_t size) { return fuzz_format(data, size, "record.wav"); }
Outcome fuzz_hdf5(const uint8_t* data, size_t size) { return fuzz_format(data, size, "record.h5"); }

Outcome fuzz_uff58(const uint8_t* data, size_t size) {
    const Outcome outcome = fuzz_format(data, size, "record.uff");
    // In memory, past the check of the file's first bytes: the same parse.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::optional<std::vector<ChannelRecord>> in_memory;
    try {
        in_memory = parse_uff58_records(bytes, "record.uff", "", {});
        check_channel_records(*in_memory, "record.uff");
    } catch (const QuorelError& error) {
        require(fatal_message(error.what()), "a refused universal file says why");
    }
    if (format_by_content(bytes).format == RecordFormat::uff58) {
        std::optional<std::vector<ChannelRecord>> from_file;
        try {
            from_file = read_records("record.uff", {});
        } catch (const QuorelError&) {
        }
        require(from_file.has_value() == in_memory.has_value(), "the file and the bytes in memory are refused alike");
        if (from_file) {
            require(from_file->size() == in_memory->size(), "the file and the bytes give as many records");
            for (size_t i = 0; i < from_file->size(); ++i) {
                require(same_bits((*from_file)[i].record.samples, (*in_memory)[i].record.samples),
                        "the file reads as the bytes in memory");
            }
        }
    }
    return outcome;
}

Outcome fuzz_acceptance(const uint8_t* data, size_t size) {
    AcceptanceRules rules;
    try {
        rules = parse_acceptance("rules.toml", std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const QuorelError& error) {
        require(fatal_message(error.what()), "a refused acceptance file says why");
        return Outcome::refused;
    }
    require(!rules.bands.empty() || rules.above_nominal_share.has_value(), "accepted rules judge something");
    for (const ToleranceBand& band : rules.bands) {
        require(valid_band(band.low_db, band.high_db), "band edges within +-60 dB, low below high");
        require(band.min_share > 0.0 && band.min_share <= 1.0, "band share in (0, 1]");
        require(band.from_hz <= band.to_hz, "band range ascending");
    }
    // Three frequencies, the response at -2, 0 and +5 dB on one side, -1 dB on the other.
    const std::vector<double> freq{50.0, 500.0, 5000.0}, spec{10.0, 10.0, 10.0};
    const std::vector<double> positive{7.943, 10.0, 17.78}, negative{8.913, 8.913, 8.913};
    const SrsComparison srs{freq, spec, positive, negative};
    const AcceptanceVerdict verdict = judge_acceptance(rules, srs);
    for (const ShareCount& count : verdict.bands) {
        require(count.inside >= 0 && count.inside <= count.total && count.total <= 6, "band counts bounded");
    }
    require(passes_acceptance(rules, srs) == verdict.pass, "the quick verdict is the full one");
    return Outcome::completed;
}

}  // namespace quorel::fuzz
