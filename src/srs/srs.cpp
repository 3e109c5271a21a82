#include "srs/srs.hpp"

#include <cmath>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

void throw_srs_failure(const SrsFilterBank& bank, int32_t j, float xmax, float xmin) {
    throw QuorelError(format(" Error SRS  j=%ld  xmax=%8.4g  xmin=%8.4g \n", static_cast<long>(j),
                             static_cast<double>(xmax), static_cast<double>(xmin)) +
                      format("            f[j]=%8.4g  \n", static_cast<double>(bank.freq[j])),
                      SynthesisCheck::srs, j);
}

void compute_srs(const SrsFilterBank& bank, const float* samples, int32_t nt, SrsResult& result, SrsKernel kernel) {
    if (kernel == SrsKernel::scalar) {
        compute_srs_scalar(bank, samples, nt, result);
    } else {
        compute_srs_vectorised(bank, samples, nt, result);
    }
}

void compute_srs_scalar(const SrsFilterBank& bank, const float* samples, int32_t nt, SrsResult& result) {
    const int32_t n = bank.count;
    std::array<float, max_frequencies> x1{}, x2{}, y1{}, y2{};
    result.xmax.fill(0.0f);
    result.xmin.fill(0.0f);
    auto& xmax = result.xmax;
    auto& xmin = result.xmin;

    for (int32_t i = 0; i < nt; ++i) {
        const float y = samples[i];
        for (int32_t j = 0; j < n; ++j) {
            const float x = static_cast<float>(
                static_cast<double>(bank.a2[j]) * x2[j] + static_cast<double>(bank.a1[j]) * x1[j] +
                static_cast<double>(bank.b1[j]) * y + static_cast<double>(bank.b2[j]) * y1[j] +
                static_cast<double>(bank.b3[j]) * y2[j]);
            if (x > xmax[j]) xmax[j] = x;
            if (x < xmin[j]) xmin[j] = x;
            x2[j] = x1[j];
            x1[j] = x;
            y2[j] = y1[j];
            y1[j] = y;
        }
    }

    for (int32_t j = 0; j < n; ++j) {
        if (!(std::fabs(static_cast<double>(xmax[j])) > 1e-20) || !(std::fabs(static_cast<double>(xmin[j])) > 1e-20)) throw_srs_failure(bank, j, xmax[j], xmin[j]);
    }

    // Free vibration after the last sample: frequency j is followed while
    // k dt <= 1/f_j; the frequencies ascend, so a step ends at the first
    // frequency whose period has passed.
    for (int32_t k = 1; k <= bank.residual_steps; ++k) {
        const float t = static_cast<float>(static_cast<double>(k) * bank.dt);
        for (int32_t j = 0; j < n; ++j) {
            if (t > bank.period[j]) break;
            const float x = static_cast<float>(
                static_cast<double>(bank.a2[j]) * x2[j] + static_cast<double>(bank.a1[j]) * x1[j] +
                static_cast<double>(bank.b2[j]) * y1[j] + static_cast<double>(bank.b3[j]) * y2[j]);
            if (x > xmax[j]) xmax[j] = x;
            if (x < xmin[j]) xmin[j] = x;
            x2[j] = x1[j];
            x1[j] = x;
            y2[j] = y1[j];
            y1[j] = 0.0f;
        }
    }

    for (int32_t j = 0; j < n; ++j) xmin[j] = std::fabs(xmin[j]);
}

}  // namespace quorel
