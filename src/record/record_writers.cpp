#include "record/record_writers.hpp"

#include <charconv>
#include <cmath>
#include <vector>

#include "base/format.hpp"
#include "base/output_file.hpp"
#include "record/format_writers.hpp"

namespace quorel {

namespace {

// Appends `value` as "%.9g" prints it.
void append_general(std::string& text, double value) {
    char buffer[32];
    text.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 9).ptr);
}

std::vector<double> widened(std::span<const float> values) { return {values.begin(), values.end()}; }

}  // namespace

void write_csv_record(const std::string& path, const WrittenChannel& channel) {
    std::string text = "time (sec),acceleration (" + channel.unit + ")\n";
    text.reserve(text.size() + channel.samples.size() * 28);
    for (size_t k = 0; k < channel.samples.size(); ++k) {
        append_general(text, channel.times[k]);
        text += ',';
        append_general(text, channel.samples[k]);
        text += '\n';
    }
    OutputFile file(path);
    file.write(text);
    file.close();
}

int64_t write_wav_record(const std::string& path, const WrittenChannel& channel, double volts_per_unit) {
    std::vector<double> volts(channel.samples.size());
    int64_t outside = 0;
    for (size_t k = 0; k < volts.size(); ++k) {
        const float v = static_cast<float>(static_cast<double>(channel.samples[k]) * volts_per_unit);
        if (!(std::fabs(v) <= 1.0f)) ++outside;
        volts[k] = v;
    }
    write_wav(path, {std::move(volts)}, channel.sample_rate, WavEncoding::float32);
    return outside;
}

void write_mat_record(const std::string& path, const WrittenChannel& channel) {
    const size_t n = channel.samples.size();
    write_mat(path,
              {{.name = "time", .values = widened(channel.times), .rows = n, .columns = 1},
               {.name = "acceleration", .values = widened(channel.samples), .rows = n, .columns = 1},
               {.name = "sample_rate", .values = {channel.sample_rate}, .rows = 1, .columns = 1},
               {.name = "units", .text = channel.unit}},
              MatVersion::v5);
}

void write_hdf5_record(const std::string& path, const WrittenChannel& channel) {
    const double dt = channel.times.size() > 1 ? static_cast<double>(channel.times[1]) : 1.0 / channel.sample_rate;
    write_hdf5(path, {{.path = "acceleration",
                       .values = widened(channel.samples),
                       .rows = channel.samples.size(),
                       .attributes = {{"sample_rate", channel.sample_rate}, {"dt", dt}, {"start_time", 0.0}},
                       .text_attributes = {{"units", channel.unit}}}});
}

void write_uff58_record(const std::string& path, const WrittenChannel& channel, const std::string& description) {
    write_uff58(path,
                {.name = description,
                 .note = format("sample rate %.17g Hz", channel.sample_rate),
                 .step = 1.0 / channel.sample_rate,
                 .unit = channel.unit},
                widened(channel.samples));
}

}  // namespace quorel
