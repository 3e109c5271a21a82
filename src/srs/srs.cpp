#include "srs/srs.hpp"

#include <cmath>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

void throw_srs_failure(const SrsFilterBank& bank, int32_t j, double xmax, double xmin) {
    throw QuorelError(format(" Error SRS  j=%ld  xmax=%8.4g  xmin=%8.4g \n", static_cast<long>(j), xmax, xmin) +
                          format("            f[j]=%8.4g  \n", static_cast<double>(bank.freq[j])),
                      SynthesisCheck::srs, j);
}

namespace {

template <typename Sample>
void dispatch(const SrsFilterBank& bank, const Sample* samples, int64_t nt, int32_t first, int32_t last,
              double* positive, double* negative, SrsKernel kernel, SrsSignCheck check,
              const SrsPhasePeaks& phases = {}) {
    if (first >= last) return;
    if (kernel == SrsKernel::scalar) {
        srs_peaks_scalar(bank, samples, nt, first, last, positive, negative, check, phases);
    } else {
        srs_peaks_vectorised(bank, samples, nt, first, last, positive, negative, check, phases);
    }
}

}  // namespace

void compute_srs_peaks(const SrsFilterBank& bank, const float* samples, int64_t nt, int32_t first, int32_t last,
                       double* positive, double* negative, SrsKernel kernel, SrsSignCheck check) {
    dispatch(bank, samples, nt, first, last, positive, negative, kernel, check);
}

void compute_srs_peaks(const SrsFilterBank& bank, const double* samples, int64_t nt, int32_t first, int32_t last,
                       double* positive, double* negative, SrsKernel kernel, SrsSignCheck check,
                       const SrsPhasePeaks& phases) {
    dispatch(bank, samples, nt, first, last, positive, negative, kernel, check, phases);
}

void compute_srs(const SrsFilterBank& bank, const float* samples, int32_t nt, SrsResult& result, SrsKernel kernel) {
    std::array<double, max_frequencies> positive, negative;
    const int32_t n = bank.count < max_frequencies ? bank.count : max_frequencies;
    dispatch(bank, samples, nt, 0, n, positive.data(), negative.data(), kernel, SrsSignCheck::forced_phase);
    result.xmax.fill(0.0f);
    result.xmin.fill(0.0f);
    for (int32_t j = 0; j < n; ++j) {
        result.xmax[j] = static_cast<float>(positive[j]);
        result.xmin[j] = static_cast<float>(negative[j]);
    }
}

void srs_response(const SrsFilterBank& bank, int32_t j, const double* samples, int64_t nt, int64_t length,
                  double* response) {
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (int64_t k = 0; k < length; ++k) {
        const double y = k < nt ? samples[k] : 0.0;
        const double x = srs_step(bank, j, x1, x2, y, y1, y2);
        response[k] = x;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    }
}

template <typename Sample>
void srs_peaks_scalar(const SrsFilterBank& bank, const Sample* samples, int64_t nt, int32_t first, int32_t last,
                      double* positive, double* negative, SrsSignCheck check, const SrsPhasePeaks& phases) {
    // State of every frequency; the bank holds at most max_check_frequencies.
    std::array<double, max_check_frequencies> x1{}, x2{}, pmax{}, pmin{}, rmax{}, rmin{};
    double y1 = 0.0, y2 = 0.0;

    for (int64_t i = 0; i < nt; ++i) {
        const double y = samples[i];
        for (int32_t j = first; j < last; ++j) {
            const double x = srs_step(bank, j, x1[j], x2[j], y, y1, y2);
            if (x > pmax[j]) pmax[j] = x;
            if (x < pmin[j]) pmin[j] = x;
            x2[j] = x1[j];
            x1[j] = x;
        }
        y2 = y1;
        y1 = y;
    }

    for (int32_t j = first; j < last && check == SrsSignCheck::forced_phase; ++j) {
        if (!(std::fabs(pmax[j]) > 1e-20) || !(std::fabs(pmin[j]) > 1e-20)) throw_srs_failure(bank, j, pmax[j], pmin[j]);
    }
    for (int32_t j = first; j < last; ++j) {
        if (phases.primary_positive != nullptr) phases.primary_positive[j] = pmax[j];
        if (phases.primary_negative != nullptr) phases.primary_negative[j] = std::fabs(pmin[j]);
    }

    // Free vibration after the last sample: frequency j is followed while
    // k dt <= 1/f_j; the frequencies ascend, so a step ends at the first
    // frequency whose period has passed, and a frequency once left behind is
    // never resumed.
    const double y = 0.0;
    for (int32_t k = 1; k <= bank.residual_steps; ++k) {
        const float t = static_cast<float>(static_cast<double>(k) * bank.dt);
        for (int32_t j = first; j < last; ++j) {
            if (t > bank.period[j]) break;
            const double x = srs_step(bank, j, x1[j], x2[j], y, y1, y2);
            if (x > pmax[j]) pmax[j] = x;
            if (x < pmin[j]) pmin[j] = x;
            if (x > rmax[j]) rmax[j] = x;
            if (x < rmin[j]) rmin[j] = x;
            x2[j] = x1[j];
            x1[j] = x;
        }
        y2 = y1;
        y1 = 0.0;
    }

    for (int32_t j = first; j < last; ++j) {
        positive[j] = pmax[j];
        negative[j] = std::fabs(pmin[j]);
        if (phases.residual_positive != nullptr) phases.residual_positive[j] = rmax[j];
        if (phases.residual_negative != nullptr) phases.residual_negative[j] = std::fabs(rmin[j]);
    }
}

template void srs_peaks_scalar<float>(const SrsFilterBank&, const float*, int64_t, int32_t, int32_t, double*, double*,
                                      SrsSignCheck, const SrsPhasePeaks&);
template void srs_peaks_scalar<double>(const SrsFilterBank&, const double*, int64_t, int32_t, int32_t, double*,
                                       double*, SrsSignCheck, const SrsPhasePeaks&);

}  // namespace quorel
