#include "wavelet/synthesis.hpp"

#include <algorithm>
#include <cmath>

#include "base/error.hpp"
#include "base/format.hpp"
#include "wavelet/basis_values.hpp"

namespace quorel {

namespace {

void check_row(const WaveletSet& set, int32_t row, const WaveletBasis& basis) {
    const int32_t n = set.count;
    const int32_t* nhs = set.nhs_row(row);
    const float* amplitude = set.amplitude_row(row);
    for (int32_t i = 0; i < n; ++i) {
        if (nhs[i] < 3) {
            throw QuorelError(format("gt error: i=%ld  nhs= %9.4g \n", static_cast<long>(i), static_cast<double>(nhs[i])),
                              SynthesisCheck::half_sines, i);
        }
    }
    for (int32_t i = 0; i < n; ++i) {
        if (std::fabs(static_cast<double>(amplitude[i])) < 1e-20) {
            throw QuorelError(format("gt error: i=%ld  amp= %9.4g \n", static_cast<long>(i), static_cast<double>(amplitude[i])),
                              SynthesisCheck::amplitude, i);
        }
    }
    for (int32_t i = 0; i < n; ++i) {
        if (std::fabs(static_cast<double>(basis.span[i])) < 1e-20) {
            throw QuorelError(format("error: i=%ld  upper= %9.4g \n", static_cast<long>(i), static_cast<double>(basis.span[i])),
                              SynthesisCheck::span, i);
        }
    }
}

// First sample with t_j >= d (nt when none).
int32_t first_sample_at_or_after(float d, float dt, int32_t nt) {
    const double estimate = static_cast<double>(d) / dt;
    int32_t j = estimate <= 0.0 ? 0 : (estimate >= nt ? nt : static_cast<int32_t>(estimate));
    while (j > 0 && sample_time(j - 1, dt) >= d) --j;
    while (j < nt && sample_time(j, dt) < d) ++j;
    return j;
}

// One past the last sample of the window that starts at `start`: the samples
// with float(t_j - d) <= span.  t_j and with it float(t_j - d) never fall as j
// grows, so the window is one run of samples, found from an estimate.
int32_t window_end(float d, float span, float dt, int32_t start, int32_t nt) {
    auto inside = [&](int32_t j) { return static_cast<float>(static_cast<double>(sample_time(j, dt)) - d) <= span; };
    const double estimate = (static_cast<double>(d) + span) / dt;
    int32_t j = !(estimate > start) ? start : (estimate >= nt ? nt : static_cast<int32_t>(estimate));
    while (j > start && !inside(j - 1)) --j;
    while (j < nt && inside(j)) ++j;
    return j;
}

// Phases taken at a time (on the stack).
constexpr int32_t phase_block = 512;

}  // namespace

void set_spans(const WaveletSet& set, int32_t row, const SrsSpec& spec, WaveletBasis& basis) {
    const int32_t* nhs = set.nhs_row(row);
    for (int32_t i = 0; i < set.count; ++i) {
        basis.span[i] = static_cast<float>(nhs[i] / (2.0 * static_cast<double>(spec.freq[i])));
    }
}

void build_wavelet_basis(const WaveletSet& set, int32_t row, const RunSettings& settings, WaveletBasis& basis,
                         double margin) {
    const int32_t n = set.count;
    const int32_t nt = settings.nt;
    const float dt = settings.dt;
    for (int32_t i = 0; i < n; ++i) {
        if (nt > 0 && set.omega[i] <= 3.0f) throw QuorelError("ref 1: omegaf error \n", SynthesisCheck::frequency, i);
    }
    const int32_t* nhs = set.nhs_row(row);
    const float* delay = set.delay_row(row);
    size_t offset = 0;
    double theta[phase_block];
    for (int32_t i = 0; i < n; ++i) {
        const float d = delay[i];
        const double omega = set.omega[i];
        const double half_sines = nhs[i];
        const int32_t start = first_sample_at_or_after(d, dt, nt);
        const int32_t end = window_end(d, basis.span[i], dt, start, nt);
        const int32_t first = basis.dense ? 0 : start;
        const int32_t last = basis.dense ? nt : end;
        float* values = basis.values.get() + offset;
        for (int32_t j = first; j < start; ++j) values[j - first] = 0.0f;
        // The window's phases a block at a time (tau in double, theta rounded
        // to float, as always), then their values.
        for (int32_t j0 = start; j0 < end; j0 += phase_block) {
            const int32_t count = std::min(phase_block, end - j0);
            for (int32_t k = 0; k < count; ++k) {
                const double tau = static_cast<double>(sample_time(j0 + k, dt)) - d;
                theta[k] = static_cast<float>(tau * omega);
            }
            basis_values(theta, count, half_sines, basis.sine, margin, values + (j0 - first), basis.sine_values,
                         basis.sine_fallbacks);
        }
        for (int32_t j = end; j < last; ++j) values[j - first] = 0.0f;
        basis.first[i] = first;
        basis.length[i] = last - first;
        basis.offset[i] = offset;
        offset += static_cast<size_t>(last - first);
    }
}

void sum_wavelet_basis(const float* amplitudes, int32_t n, const WaveletBasis& basis, TimeHistory& history) {
    const int32_t nt = history.nt;
    double* sum = basis.sum.get();
    for (int32_t j = 0; j < nt; ++j) sum[j] = 0.0;
    // Wavelet by wavelet over its window only.  Each sample still receives its
    // terms in ascending wavelet order, and the terms left out are exact zeros,
    // so every double sum equals the full sum over all wavelets.
    for (int32_t i = 0; i < n; ++i) {
        const double amplitude = amplitudes[i];
        const float* values = basis.values.get() + basis.offset[i];
        double* out = sum + basis.first[i];
        const int32_t length = basis.length[i];
        for (int32_t k = 0; k < length; ++k) out[k] += static_cast<double>(values[k]) * amplitude;
    }
    float* samples = history.samples.data();
    float largest_square = 0.0f;
    for (int32_t j = 0; j < nt; ++j) {
        const float a = static_cast<float>(sum[j]);
        samples[j] = a;
        const float square = static_cast<float>(static_cast<double>(a) * a);
        largest_square = square > largest_square ? square : largest_square;
    }
    // Level check on S, the float running sum of the squares (rounded after
    // each addition).  Rounding is monotone and the terms are not negative, so
    // S is at least the largest rounded square; when that alone passes, S
    // passes, and the serial sum is needed only for a nearly silent history.
    if (std::sqrt(static_cast<double>(largest_square) / nt) >= 1e-20) return;
    float energy = 0.0f;
    for (int32_t j = 0; j < nt; ++j) {
        energy = static_cast<float>(static_cast<double>(energy) + static_cast<double>(samples[j]) * samples[j]);
    }
    if (std::sqrt(static_cast<double>(energy) / nt) < 1e-20) throw QuorelError("\n rms error \n", SynthesisCheck::rms, -1);
}

void synthesize_time_history(const WaveletSet& set, int32_t row, bool rebuild, const SrsSpec& spec,
                             const RunSettings& settings, WaveletBasis& basis, TimeHistory& history) {
    if (rebuild) set_spans(set, row, spec, basis);
    check_row(set, row, basis);
    if (rebuild) build_wavelet_basis(set, row, settings, basis);
    sum_wavelet_basis(set.amplitude_row(row), set.count, basis, history);
}

void add_file_wavelet(const WaveletSet& set, int32_t row, const SrsSpec& spec, const RunSettings& settings, int32_t j,
                      double* sum) {
    const int32_t nt = settings.nt;
    const float dt = settings.dt;
    const float* amplitude = set.amplitude_row(row);
    const int32_t* nhs = set.nhs_row(row);
    const float* delay = set.delay_row(row);
    // A delay that is not finite opens no window (t >= d fails, or tau is infinite).
    const float d = delay[j];
    if (!std::isfinite(d)) return;
    const double span = nhs[j] / (2.0 * static_cast<double>(spec.freq[j]));
    // The window starts at the first sample with t >= d and, tau = float(t - d)
    // never falling as t grows, ends before the first with tau > span.
    int32_t i = 0;
    if (d > 0.0f) {
        const double estimate = std::floor(static_cast<double>(d) / static_cast<double>(dt));
        i = estimate >= nt ? nt : static_cast<int32_t>(estimate);
        while (i > 0 && sample_time(i - 1, dt) >= d) --i;
        while (i < nt && !(sample_time(i, dt) >= d)) ++i;
    }
    for (; i < nt; ++i) {
        const float tau = static_cast<float>(static_cast<double>(sample_time(i, dt)) - d);
        if (!(tau <= span)) break;
        const double omega_tau = static_cast<double>(set.omega[j]) * tau;
        sum[i] += (std::sin(omega_tau / nhs[j]) * std::sin(omega_tau)) * amplitude[j];
    }
}

void file_history(const WaveletSet& set, int32_t row, const SrsSpec& spec, const RunSettings& settings,
                  TimeHistory& history, std::vector<double>& sum) {
    const int32_t nt = settings.nt;
    sum.assign(static_cast<size_t>(nt), 0.0);
    for (int32_t j = 0; j < spec.count; ++j) add_file_wavelet(set, row, spec, settings, j, sum.data());
    for (int32_t i = 0; i < nt; ++i) history.samples[static_cast<size_t>(i)] = static_cast<float>(sum[static_cast<size_t>(i)]);
}

}  // namespace quorel
