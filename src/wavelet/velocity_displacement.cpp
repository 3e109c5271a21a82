#include "wavelet/velocity_displacement.hpp"

#include <array>
#include <cmath>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/output_file.hpp"
#include "wavelet/synthesis.hpp"

namespace quorel {

void integrate_wavelets(const WaveletSet& set, int32_t trial, const SrsSpec& spec, const RunSettings& settings,
                        float* velocity, float* displacement) {
    const int32_t n = spec.count;
    const float* amplitude = set.amplitude_row(trial);
    const int32_t* nhs = set.nhs_row(trial);
    const float* delay = set.delay_row(trial);
    std::array<float, max_frequencies> span{}, sum{}, dif{};
    for (int32_t i = 0; i < n; ++i) span[i] = static_cast<float>(nhs[i] / (2.0 * static_cast<double>(spec.freq[i])));
    for (int32_t i = 0; i < n; ++i) {
        const float alpha = static_cast<float>(static_cast<double>(set.omega[i]) / nhs[i]);
        const float beta = set.omega[i];
        sum[i] = static_cast<float>(static_cast<double>(alpha) + beta);
        dif[i] = static_cast<float>(static_cast<double>(alpha) - beta);
        if (std::fabs(static_cast<double>(dif[i])) <= 1e-20) {
            throw QuorelError(format("\n warning:  i=%ld  nhs=%ld  alpha=%10.4g  beta=%10.4g \n", static_cast<long>(i),
                                     static_cast<long>(nhs[i]), static_cast<double>(alpha), static_cast<double>(beta)));
        }
    }

    for (int32_t j = 0; j < settings.nt; ++j) {
        const float t = sample_time(j, settings.dt);
        float v = 0.0f;
        float d = 0.0f;
        for (int32_t i = 0; i < n; ++i) {
            const float tau = static_cast<float>(static_cast<double>(t) - delay[i]);
            if (t >= delay[i] && tau <= span[i]) {
                const double x = static_cast<float>(static_cast<double>(tau) * dif[i]);
                const double y = static_cast<float>(static_cast<double>(tau) * sum[i]);
                const double s = sum[i];
                const double df = dif[i];
                v = static_cast<float>(v + amplitude[i] * (std::sin(x) / df - std::sin(y) / s));
                d = static_cast<float>(d + amplitude[i] * ((std::cos(y) - 1.0) / (s * s) - (std::cos(x) - 1.0) / (df * df)));
            }
        }
        velocity[j] = v;
        displacement[j] = d;
    }
}

std::vector<double> reported_values(const float* sums, int32_t nt, double factor) {
    std::vector<double> values(static_cast<size_t>(nt));
    for (int32_t j = 0; j < nt; ++j) values[static_cast<size_t>(j)] = reported_value(sums[j], factor);
    return values;
}

void write_velocity_displacement(TextOutput& out, const std::string& tag, const RunSettings& settings,
                                 const OutputNames& names, const double* velocity, const double* displacement) {
    const std::string velocity_name = result_file_name(names.velox, tag);
    OutputFile velocity_file(names.path(velocity_name));
    out.print(format("\n     Velocity file:  %s   - time(sec) & vel(%s) ", velocity_name.c_str(), unit_table(settings.units).velocity));
    const std::string displacement_name = result_file_name(names.disp, tag);
    OutputFile displacement_file(names.path(displacement_name));
    out.print(format("\n Displacement file:  %s   - time(sec) & disp(%s) \n", displacement_name.c_str(),
                     unit_table(settings.units).displacement));

    for (int32_t j = 0; j < settings.nt; ++j) {
        const double t = sample_time(j, settings.dt);
        velocity_file.printf("%14.6e \t %14.6e \n", t, velocity[j]);
        displacement_file.printf("%14.6e \t %14.6e \n", t, displacement[j]);
    }
    velocity_file.close();
    displacement_file.close();
}

}  // namespace quorel
