#include "plot/run_files.hpp"

#include <cmath>
#include <string_view>

#include "base/error.hpp"
#include "base/format.hpp"
#include "record/numeric_fields.hpp"
#include "specification/spec_reader.hpp"

namespace quorel::plot {

namespace {

[[noreturn]] void fail(const std::string& name, long line, const std::string& what) {
    throw QuorelError(format("\n Error: %s line %ld: %s \n", name.c_str(), line, what.c_str()));
}

[[noreturn]] void fail(const std::string& name, const std::string& what) {
    throw QuorelError(format("\n Error: %s %s \n", name.c_str(), what.c_str()));
}

// The white-space separated fields of one line.
std::vector<std::string_view> fields_of(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_field_blank(line[i])) ++i;
        const size_t start = i;
        while (i < line.size() && !is_field_blank(line[i])) ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

// The lines of a text; a final line end does not start another line.
std::vector<std::string_view> lines_of(const std::string& text) {
    std::vector<std::string_view> lines;
    const std::string_view all(text);
    size_t start = 0;
    while (start < all.size()) {
        const size_t end = all.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(all.substr(start));
            break;
        }
        lines.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// A whole field read as a finite double.
bool to_number(std::string_view field, double& value) { return parse_number(field, value) == NumberStatus::finite; }

bool to_integer(std::string_view field, long& value) {
    double number = 0.0;
    if (!to_number(field, number) || number != std::floor(number) || std::fabs(number) > 1e9) return false;
    value = static_cast<long>(number);
    return true;
}

std::string quoted(std::string_view field) {
    return format("'%s' is not a finite number", shown_field(field).c_str());
}

// Every line of a numeric table: exactly `count` finite numbers separated by
// white space.
std::vector<std::vector<double>> numeric_table(const std::string& name, const std::string& text, size_t count) {
    const auto lines = lines_of(text);
    if (lines.empty()) fail(name, "is empty");
    std::vector<std::vector<double>> rows;
    rows.reserve(lines.size());
    for (size_t k = 0; k < lines.size(); ++k) {
        const long line = static_cast<long>(k + 1);
        std::vector<double> row(count);
        const NumericLine fields =
            read_numbers(lines[k], FieldSeparator::blank, row.data(), static_cast<int32_t>(count));
        if (fields.bad >= 0) fail(name, line, quoted(fields.bad_text));
        if (fields.count != static_cast<int32_t>(count)) fail(name, line, format("expected %zu numbers", count));
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

std::vector<SrsLine> parse_srs(const std::string& name, const std::string& text) {
    std::vector<SrsLine> srs;
    for (const auto& row : numeric_table(name, text, 3)) {
        const long line = static_cast<long>(srs.size() + 1);
        if (!(row[0] > 0.0)) fail(name, line, "frequency must be above zero");
        // The run's last grid frequency may print the same as the closing
        // point after it: equal neighbours are two lines of the grid.
        if (!srs.empty() && row[0] < srs.back().freq) fail(name, line, "frequencies must ascend");
        if (row[1] < 0.0 || row[2] < 0.0) fail(name, line, "SRS peaks are magnitudes and cannot be negative");
        srs.push_back({row[0], row[1], row[2]});
    }
    return srs;
}

std::vector<Sample> parse_history(const std::string& name, const std::string& text) {
    std::vector<Sample> samples;
    for (const auto& row : numeric_table(name, text, 2)) samples.push_back({row[0], row[1]});
    return samples;
}

std::vector<WaveletLine> parse_wavelets(const std::string& name, const std::string& text) {
    const auto lines = lines_of(text);
    if (lines.empty()) fail(name, "is empty");
    std::vector<WaveletLine> wavelets;
    for (size_t k = 1; k < lines.size(); ++k) {
        const long line = static_cast<long>(k + 1);
        const auto fields = fields_of(lines[k]);
        WaveletLine w;
        const bool good = fields.size() == 6 && to_integer(fields[0], w.number) && to_number(fields[1], w.freq) &&
                          (fields[2] == "+" || fields[2] == "-") && to_integer(fields[3], w.nhs) &&
                          to_number(fields[4], w.delay_msec) && to_number(fields[5], w.amplitude);
        if (!good) fail(name, line, "expected number, frequency, polarity (+ or -), NHS, delay and amplitude");
        w.polarity = fields[2][0];
        if (w.number != static_cast<long>(wavelets.size())) {
            fail(name, line, format("wavelet number %ld out of sequence", w.number));
        }
        wavelets.push_back(w);
    }
    return wavelets;
}

RunUnits parse_units(const std::string& name, const std::string& text) {
    for (const std::string_view line : lines_of(text)) {
        const auto fields = fields_of(line);
        if (fields.size() != 3) continue;
        std::string units[3];
        bool all_units = true;
        for (size_t i = 0; i < 3; ++i) {
            const std::string_view f = fields[i];
            all_units = all_units && f.size() > 2 && f.front() == '(' && f.back() == ')';
            if (all_units) units[i] = std::string(f.substr(1, f.size() - 2));
        }
        if (all_units) return {units[0], units[1], units[2]};
    }
    fail(name, "has no unit line such as \"(G) (in/sec) (in)\"");
}

TrialFileNames trial_file_names(long trial) {
    const auto n = static_cast<int32_t>(trial);
    return {trial_file_name("srs", n), trial_file_name("accel", n), trial_file_name("velox", n),
            trial_file_name("disp", n), trial_file_name("wavelet", n)};
}

void check_trial(const TrialFiles& files, const TrialFileNames& names) {
    if (files.wavelets.size() != files.srs.size()) {
        fail(names.wavelets, format("has %zu wavelets for the %zu frequencies of %s", files.wavelets.size(),
                                    files.srs.size(), names.srs.c_str()));
    }
    // The table prints one decimal, the SRS file three: they agree to half of
    // each last digit.
    for (size_t k = 0; k < files.srs.size(); ++k) {
        const double f = files.srs[k].freq;
        const double w = files.wavelets[k].freq;
        if (!(std::fabs(w - f) <= 0.0505 + 1e-12 * f)) {
            fail(names.wavelets, static_cast<long>(k + 2),
                 format("frequency %g differs from %g in %s line %zu", w, f, names.srs.c_str(), k + 1));
        }
    }

    // Times: fixed 6 decimals in the acceleration file, 7 significant digits in
    // the other two.
    const std::pair<const std::vector<Sample>*, const std::string*> others[] = {
        {&files.velocity, &names.velocity}, {&files.displacement, &names.displacement}};
    for (const auto& [samples, name] : others) {
        if (samples->size() != files.accel.size()) {
            fail(*name, format("has %zu lines, %s has %zu", samples->size(), names.accel.c_str(), files.accel.size()));
        }
        for (size_t k = 0; k < samples->size(); ++k) {
            const double t = files.accel[k].time;
            const double u = (*samples)[k].time;
            if (!(std::fabs(u - t) <= 1e-6 + 1e-6 * std::fabs(t))) {
                fail(*name, static_cast<long>(k + 1),
                     format("time %g differs from %g in %s", u, t, names.accel.c_str()));
            }
        }
    }
}

}  // namespace quorel::plot
