#include "report/result_files.hpp"

#include <cmath>

#include "run/format.hpp"
#include "run/output_file.hpp"
#include "wavelet/synthesis.hpp"

namespace quorel {

void write_accel_file(Console& console, int32_t trial, const WaveletSet& set, const SrsSpec& spec,
                      const RunSettings& settings, const OutputNames& names, TimeHistory& history) {
    const std::string name = trial_file_name(names.accel, trial);
    OutputFile file(name);
    console.print(format("\n Acceleration file:  %s   - time(sec) & accel(%s) ", name.c_str(), settings.accel_unit));

    const float* amplitude = set.amplitude_row(trial);
    const int32_t* nhs = set.nhs_row(trial);
    const float* delay = set.delay_row(trial);
    for (int32_t i = 0; i < settings.nt; ++i) {
        const float t = sample_time(i, settings.dt);
        double a = 0.0;
        for (int32_t j = 0; j < spec.count; ++j) {
            const float tau = static_cast<float>(static_cast<double>(t) - delay[j]);
            if (t >= delay[j] && tau <= nhs[j] / (2.0 * static_cast<double>(spec.freq[j]))) {
                const double omega_tau = static_cast<double>(set.omega[j]) * tau;
                a = a + (std::sin(omega_tau / nhs[j]) * std::sin(omega_tau)) * amplitude[j];
            }
        }
        file.printf("%14.6f \t %12.4f \n", static_cast<double>(t), a);
        history.samples[static_cast<size_t>(i)] = static_cast<float>(a);
    }
    file.close();
}

void write_srs_file(Console& console, int32_t trial, const SrsResult& srs, const SrsSpec& spec,
                    const RunSettings& settings, const OutputNames& names, const std::string& wavelet_table_name) {
    const std::string name = trial_file_name(names.srs, trial);
    OutputFile file(name);
    const char* unit = settings.accel_unit;
    console.print(format("          SRS file:  %s  - fn(Hz) pos(%s) neg(%s) \n", name.c_str(), unit, unit));
    console.print(format("     Wavelet Table:  %s \n", wavelet_table_name.c_str()));
    for (int32_t j = 0; j < spec.count; ++j) {
        file.printf("%12.3f \t %12.5e \t %12.5e\n", static_cast<double>(spec.freq[j]), static_cast<double>(srs.xmax[j]),
                    static_cast<double>(srs.xmin[j]));
    }
    file.close();
}

}  // namespace quorel
