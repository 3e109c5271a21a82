#include "wavelet/generation.hpp"

#include "base/error.hpp"

namespace quorel {

namespace {

[[noreturn]] void no_layout() { throw QuorelError("\n Error: no wavelet layout fits the duration \n"); }

// Fits every wavelet's NHS down from its starting value; false when one falls below 3.
bool fit_row(const SrsSpec& spec, const RunSettings& settings, int32_t* nhs, const float* delay, int32_t n) {
    bool all_fit = true;
    for (int32_t i = 0; i < n; ++i) {
        nhs[i] = fit_half_sines(nhs[i], delay[i], spec.freq[i], settings.duration);
        if (nhs[i] < 3) all_fit = false;
    }
    return all_fit;
}

}  // namespace

int32_t fit_half_sines(int32_t start, float delay, float freq, float duration) {
    // Below 3 the row is drawn again whatever the value, so the search stops
    // there: it ends even for a wavelet that starts after the duration.
    int32_t n = start;
    while (n >= 3 && static_cast<double>(delay) + n / (2.0 * static_cast<double>(freq)) >= duration) n -= 2;
    return n;
}

void chained_layout(RandomGenerator& rng, const SrsSpec& spec, const RunSettings& settings, int32_t trial, WaveletSet& set) {
    const int32_t n = set.count;
    float* amplitude = set.amplitude_row(trial);
    int32_t* nhs = set.nhs_row(trial);
    float* delay = set.delay_row(trial);
    const double duration = settings.duration;
    // The first tenth of the trials use the fixed spacing 2/3.
    const int32_t early_limit = static_cast<int32_t>(settings.trial_count * 0.1);

    int32_t redraws = 0;
    for (int32_t attempt = 0; attempt < max_generation_attempts; ++attempt) {
        float k = static_cast<float>((next_random(rng) * 1.1) / 32767);
        const float u = static_cast<float>(random_unit(rng));
        const float s = static_cast<float>(random_unit(rng));
        // N0 = 2 floor(65 u) - 1, at least 5.
        int32_t n0 = -1 - 2 * static_cast<int32_t>(u * -65.0);
        if (n0 < 5) n0 = 5;
        if (trial < early_limit) k = 2.0f / 3.0f;

        amplitude[n - 1] = set.base_amplitude[n - 1];
        delay[n - 1] = 0.0f;
        for (int32_t i = n - 2; i >= 0; --i) {
            amplitude[i] = set.base_amplitude[i];
            if (s < 0.8) amplitude[i] = (i % 2 == 0) ? set.base_amplitude[i] : -set.base_amplitude[i];
            const double min_span = set.min_span[i];
            delay[i] = static_cast<float>(static_cast<double>(k) * min_span + delay[i + 1]);
            // A chained start too late for even three half-sines is drawn afresh.
            // (A duration no longer than the wavelet would never end the redraws.)
            while (delay[i] + min_span >= duration) {
                if (++redraws > max_generation_attempts) no_layout();
                delay[i] = static_cast<float>(random_unit(rng) * (duration - min_span));
            }
        }
        for (int32_t i = 0; i < n; ++i) nhs[i] = n0;
        if (fit_row(spec, settings, nhs, delay, n)) return;
    }
    no_layout();
}

void independent_layout(RandomGenerator& rng, const SrsSpec& spec, const RunSettings& settings, int32_t trial, WaveletSet& set) {
    const int32_t n = set.count;
    float* amplitude = set.amplitude_row(trial);
    int32_t* nhs = set.nhs_row(trial);
    float* delay = set.delay_row(trial);
    const double duration = settings.duration;

    for (int32_t attempt = 0; attempt < max_generation_attempts; ++attempt) {
        for (int32_t i = 0; i < n; ++i) {
            amplitude[i] = set.base_amplitude[i];
            if (random_unit(rng) < 0.5) amplitude[i] = -amplitude[i];
            delay[i] = static_cast<float>(random_unit(rng) * (duration - set.min_span[i]));
        }
        for (int32_t i = 0; i < n; ++i) {
            // N = 2 floor(60 r / 32767) - 1, at least 3.
            const int32_t r = next_random(rng);
            int32_t start = -1 - 2 * static_cast<int32_t>(r * -60.0 / 32767.0);
            if (start < 3) start = 3;
            nhs[i] = start;
        }
        if (fit_row(spec, settings, nhs, delay, n)) return;
    }
    no_layout();
}

double generate_trial(RandomGenerator& rng, const SrsSpec& spec, const RunSettings& settings, int32_t trial,
                      int32_t& strategy, WaveletSet& set) {
    discard_draws(rng, settings.seed);
    double exponent = 0.5;
    if (random_unit(rng) < 0.4) exponent = 0.4 + 0.1 * random_unit(rng);
    if (strategy == 6) {
        independent_layout(rng, spec, settings, trial, set);
    } else {
        chained_layout(rng, spec, settings, trial, set);
    }
    strategy = strategy + 1;
    if (strategy == 7) strategy = 1;
    return exponent;
}

}  // namespace quorel
