#include "report/result_files.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

#include "base/format.hpp"
#include "base/output_file.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace quorel {

void file_acceleration_history(const WaveletSet& set, int32_t trial, const SrsSpec& spec,
                               const RunSettings& settings, std::vector<double>& acceleration) {
    acceleration.resize(static_cast<size_t>(settings.nt));
    for (int32_t i = 0; i < settings.nt; ++i) {
        acceleration[static_cast<size_t>(i)] = file_acceleration(set, trial, spec, sample_time(i, settings.dt));
    }
}

void write_accel_file(TextOutput& out, const std::string& tag, const std::vector<double>& acceleration,
                      const RunSettings& settings, const OutputNames& names) {
    const std::string name = result_file_name(names.accel, tag);
    OutputFile file(names.path(name));
    out.print(format("\n Acceleration file:  %s   - time(sec) & accel(%s) ", name.c_str(), unit_table(settings.units).accel));
    for (int32_t i = 0; i < settings.nt; ++i) {
        file.printf("%14.6f \t %12.4f \n", static_cast<double>(sample_time(i, settings.dt)),
                    acceleration[static_cast<size_t>(i)]);
    }
    file.close();
}

void write_srs_file(TextOutput& out, const std::string& tag, const SrsResult& srs, const SrsSpec& spec,
                    const RunSettings& settings, const OutputNames& names, const std::string& wavelet_table_name) {
    const std::string name = result_file_name(names.srs, tag);
    OutputFile file(names.path(name));
    const char* unit = unit_table(settings.units).accel;
    out.print(format("          SRS file:  %s  - fn(Hz) pos(%s) neg(%s) \n", name.c_str(), unit, unit));
    if (!wavelet_table_name.empty()) out.print(format("     Wavelet Table:  %s \n", wavelet_table_name.c_str()));
    for (int32_t j = 0; j < spec.count; ++j) {
        file.printf("%12.3f \t %12.5e \t %12.5e\n", static_cast<double>(spec.freq[j]), static_cast<double>(srs.xmax[j]),
                    static_cast<double>(srs.xmin[j]));
    }
    file.close();
}

namespace {

// Appends `value` as "%.9g" would print it (to_chars in general format with a
// precision is specified to give printf's text), without printf's per-call cost:
// a history holds four numbers per sample.
char* append_general(char* out, char* end, double value) {
    return std::to_chars(out, end, value, std::chars_format::general, 9).ptr;
}

}  // namespace

void write_history_csv(const std::string& tag, const RunSettings& settings, const OutputNames& names,
                       const float* acceleration, const double* velocity, const double* displacement) {
    OutputFile file(names.path(result_file_name(names.history_csv, tag, ".csv")));
    file.printf("time (sec),acceleration (%s),velocity (%s),displacement (%s)\n", unit_table(settings.units).accel,
                unit_table(settings.units).velocity, unit_table(settings.units).displacement);
    char line[128];
    char* const end = line + sizeof line;
    for (int32_t j = 0; j < settings.nt; ++j) {
        char* at = append_general(line, end, static_cast<double>(sample_time(j, settings.dt)));
        *at++ = ',';
        at = append_general(at, end, static_cast<double>(acceleration[j]));
        *at++ = ',';
        at = append_general(at, end, velocity[j]);
        *at++ = ',';
        at = append_general(at, end, displacement[j]);
        *at++ = '\n';
        file.write(std::string_view(line, static_cast<size_t>(at - line)));
    }
    file.close();
}

TableWavelet table_wavelet(const WaveletSet& set, int32_t trial, int32_t k) {
    const float amplitude = set.amplitude_row(trial)[k];
    // The wavelet table's rule: a negative amplitude (or a NaN) is "-".
    const bool negative = amplitude < 0.0f || std::isnan(amplitude);
    return TableWavelet{negative ? -1 : 1, set.nhs_row(trial)[k], set.delay_row(trial)[k],
                        std::fabs(static_cast<double>(amplitude))};
}

void write_wavelets_csv(int32_t trial, const WaveletSet& set, const SrsSpec& spec, const RunSettings& settings,
                        const OutputNames& names) {
    OutputFile file(names.path(trial_file_name(names.wavelets_csv, trial, ".csv")));
    file.printf("index,frequency (Hz),polarity,half-sines,delay (sec),amplitude (%s)\n", unit_table(settings.units).accel);
    for (int32_t k = 0; k < spec.count; ++k) {
        const TableWavelet w = table_wavelet(set, trial, k);
        file.printf("%ld,%.9g,%d,%ld,%.9g,%.9g\n", static_cast<long>(k), static_cast<double>(spec.freq[k]), w.polarity,
                    static_cast<long>(w.half_sines), static_cast<double>(w.delay), w.amplitude);
    }
    file.close();
}

std::vector<std::string> trial_result_files(int32_t trial, const OutputNames& names, bool csv) {
    std::vector<std::string> files = {trial_file_name(names.wavelet, trial), trial_file_name(names.accel, trial),
                                      trial_file_name(names.velox, trial), trial_file_name(names.disp, trial),
                                      trial_file_name(names.srs, trial)};
    if (csv) {
        files.push_back(trial_file_name(names.history_csv, trial, ".csv"));
        files.push_back(trial_file_name(names.wavelets_csv, trial, ".csv"));
    }
    return files;
}

}  // namespace quorel
