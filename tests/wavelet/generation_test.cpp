#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "wavelet/generation.hpp"

namespace quorel {
namespace {

struct Layout {
    SrsSpec spec;
    RunSettings settings;
    WaveletSet set;
};

// Frequencies with a 2 G specification everywhere, and the per-wavelet
// constants as the run sets them: omega = 2 pi f, min_span = 1.5/f (three
// half-sines), base amplitude = spec / 16.
Layout make_layout(const std::vector<float>& freqs, float duration, int32_t trial_count) {
    Layout l;
    const int32_t n = static_cast<int32_t>(freqs.size());
    l.spec.count = n;
    for (int32_t i = 0; i < n; ++i) {
        l.spec.freq[i] = freqs[i];
        l.spec.accel[i] = 2.0f;
        l.set.omega[i] = static_cast<float>(freqs[i] * 2.0 * M_PI);
        l.set.min_span[i] = static_cast<float>(1.5 / freqs[i]);
        l.set.base_amplitude[i] = 0.125f;
    }
    l.settings.duration = duration;
    l.settings.trial_count = trial_count;
    l.settings.seed = 1;
    allocate_rows(l.set, n, trial_count > 0 ? trial_count : 1);
    return l;
}

// Number of generator values drawn between two states (-1 beyond `limit`).
long draws_between(RandomGenerator before, const RandomGenerator& after, long limit = 10000) {
    for (long count = 0; count <= limit; ++count) {
        if (before.state == after.state) return count;
        next_random(before);
    }
    return -1;
}

// Largest N = start - 2m whose wavelet ends strictly before the duration.
int32_t fitted(int32_t start, float delay, float freq, float duration) {
    int32_t n = start;
    while (n >= 3 && delay + n / (2.0 * freq) >= duration) n -= 2;
    return n;
}

const std::vector<float> five_octaves = {10.0f, 20.0f, 40.0f, 80.0f, 160.0f};

// With room to spare nothing overruns: one attempt of three draws (spacing,
// starting NHS, sign pattern), and the row follows from those three values.
TEST(WaveletGenerationChained, ThreeDrawsAndTheLayoutTheyGive) {
    Layout l = make_layout(five_octaves, 10.0f, 1);
    RandomGenerator rng;
    int alternating = 0, positive = 0;
    for (int call = 0; call < 200; ++call) {
        RandomGenerator copy = rng;
        const float k = static_cast<float>(next_random(copy) * 1.1 / 32767);
        const double u = static_cast<float>(next_random(copy) / 32767.0);
        const double s = static_cast<float>(next_random(copy) / 32767.0);
        const int32_t n0 = std::max(5, 2 * static_cast<int32_t>(std::floor(65.0 * u)) - 1);

        const RandomGenerator before = rng;
        chained_layout(rng, l.spec, l.settings, 0, l.set);
        ASSERT_EQ(draws_between(before, rng), 3) << call;

        const float* a = l.set.amplitude_row(0);
        const float* d = l.set.delay_row(0);
        const int32_t* nhs = l.set.nhs_row(0);
        EXPECT_EQ(d[4], 0.0f);
        EXPECT_EQ(a[4], 0.125f);
        (s < 0.8 ? alternating : positive)++;
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(nhs[i], n0) << call;
            EXPECT_EQ(a[i], (s < 0.8 && i % 2 == 1) ? -0.125f : 0.125f) << call << " i=" << i;
            if (i < 4) {
                EXPECT_NEAR(d[i] - d[i + 1], k * (1.5 / five_octaves[i]), 1e-6) << call << " i=" << i;
            }
        }
    }
    EXPECT_GT(alternating, 100);
    EXPECT_GT(positive, 10);
}

// Independent layout: sign and delay for each wavelet in turn, then all the
// starting NHS values; three draws per wavelet when every wavelet fits.
TEST(WaveletGenerationIndependent, ThreeDrawsPerWaveletAndTheLayoutTheyGive) {
    Layout l = make_layout(five_octaves, 2.0f, 1);
    RandomGenerator rng;
    for (int call = 0; call < 200; ++call) {
        RandomGenerator copy = rng;
        std::vector<int> r(15);
        for (int& v : r) v = next_random(copy);

        const RandomGenerator before = rng;
        independent_layout(rng, l.spec, l.settings, 0, l.set);
        ASSERT_EQ(draws_between(before, rng), 15) << call;

        for (int i = 0; i < 5; ++i) {
            const float delay = static_cast<float>(r[2 * i + 1] / 32767.0 * (2.0 - l.set.min_span[i]));
            const int32_t start = std::max(3, 2 * (60 * r[10 + i] / 32767) - 1);
            EXPECT_EQ(l.set.amplitude_row(0)[i], r[2 * i] / 32767.0 < 0.5 ? -0.125f : 0.125f) << call;
            EXPECT_EQ(l.set.delay_row(0)[i], delay) << call << " i=" << i;
            EXPECT_EQ(l.set.nhs_row(0)[i], fitted(start, delay, five_octaves[i], 2.0f)) << call << " i=" << i;
        }
    }
}

// In a tight duration many chained delays overrun and are drawn again, and
// many NHS values are cut down; every wavelet must still hold an odd number of
// at least three half-sines and end strictly before the duration.
TEST(WaveletGeneration, EveryWaveletFitsWithOddNhs) {
    const std::vector<float> freqs = {10.0f, 14.1f, 20.0f, 28.3f, 40.0f, 56.6f, 80.0f};
    Layout l = make_layout(freqs, 0.4f, 400);
    RandomGenerator rng;
    for (int32_t t = 0; t < 400; ++t) {
        if (t % 2 == 0) {
            chained_layout(rng, l.spec, l.settings, t, l.set);
        } else {
            independent_layout(rng, l.spec, l.settings, t, l.set);
        }
        for (size_t i = 0; i < freqs.size(); ++i) {
            const int32_t nhs = l.set.nhs_row(t)[i];
            const float delay = l.set.delay_row(t)[i];
            EXPECT_GE(nhs, 3) << t;
            EXPECT_EQ(nhs % 2, 1) << t;
            EXPECT_GE(delay, 0.0f) << t;
            EXPECT_LT(delay + nhs / (2.0 * freqs[i]), 0.4f) << "trial " << t << " i=" << i;
            EXPECT_EQ(std::fabs(l.set.amplitude_row(t)[i]), 0.125f);
        }
        if (t % 2 == 0) {
            EXPECT_GT(l.set.amplitude_row(t)[freqs.size() - 1], 0.0f);
        }
    }
}

// 7 half-sines at 2 Hz end exactly at 1.75 s: not strictly before, so every
// starting NHS (5 to 129) comes down to 5.
TEST(WaveletGenerationChained, SingleWaveletEndsStrictlyBeforeDuration) {
    Layout l = make_layout({2.0f}, 1.75f, 1);
    RandomGenerator rng;
    for (int call = 0; call < 50; ++call) {
        const RandomGenerator before = rng;
        chained_layout(rng, l.spec, l.settings, 0, l.set);
        EXPECT_EQ(draws_between(before, rng), 3);
        EXPECT_EQ(l.set.nhs_row(0)[0], 5);
        EXPECT_EQ(l.set.delay_row(0)[0], 0.0f);
        EXPECT_EQ(l.set.amplitude_row(0)[0], 0.125f);
    }
}

// The first tenth of the trials (truncated) chain at the fixed spacing 2/3;
// the spacing value is still drawn.  Later trials use the drawn spacing.
TEST(WaveletGenerationChained, EarlyTrialsUseFixedSpacing) {
    struct Case {
        int32_t trial_count, trials_fixed;
    };
    for (const Case c : {Case{50, 5}, Case{15, 1}, Case{10, 1}, Case{9, 0}}) {
        Layout l = make_layout(five_octaves, 10.0f, c.trial_count);
        RandomGenerator rng;
        for (int32_t t = 0; t < std::min(c.trial_count, 8); ++t) {
            RandomGenerator copy = rng;
            const float drawn = static_cast<float>(next_random(copy) * 1.1 / 32767);
            const float expected = t < c.trials_fixed ? 2.0f / 3.0f : drawn;
            ASSERT_GT(std::fabs(drawn - 2.0f / 3.0f), 1e-3f);
            const RandomGenerator before = rng;
            chained_layout(rng, l.spec, l.settings, t, l.set);
            EXPECT_EQ(draws_between(before, rng), 3);
            const float* d = l.set.delay_row(t);
            for (int i = 0; i < 4; ++i) {
                EXPECT_NEAR((d[i] - d[i + 1]) / (1.5 / five_octaves[i]), expected, 1e-5)
                    << "count " << c.trial_count << " trial " << t << " i=" << i;
            }
        }
    }
}

// Per trial: seed - 1 discarded values, the correction exponent (one draw, or
// two when the first is below 0.4), then the row; five chained rows, then one
// independent row, over and over.
TEST(WaveletGeneration, StrategyCycleAndDrawsBeforeTheRow) {
    Layout l = make_layout(five_octaves, 3.0f, 14);
    l.settings.seed = 3;
    Layout reference = make_layout(five_octaves, 3.0f, 14);
    RandomGenerator rng;
    int32_t strategy = 1;
    int drawn_exponents = 0;
    for (int32_t t = 0; t < 14; ++t) {
        RandomGenerator copy = rng;
        next_random(copy);
        next_random(copy);
        double exponent = 0.5;
        if (random_unit(copy) < 0.4) {
            exponent = 0.4 + 0.1 * random_unit(copy);
            ++drawn_exponents;
        }
        const bool independent = t % 6 == 5;
        if (independent) {
            independent_layout(copy, reference.spec, reference.settings, t, reference.set);
        } else {
            chained_layout(copy, reference.spec, reference.settings, t, reference.set);
        }

        EXPECT_EQ(generate_trial(rng, l.spec, l.settings, t, strategy, l.set), exponent) << t;
        EXPECT_EQ(rng.state, copy.state) << t;
        EXPECT_EQ(strategy, (t + 1) % 6 + 1) << t;
        EXPECT_EQ(std::memcmp(l.set.amplitude_row(t), reference.set.amplitude_row(t), 5 * sizeof(float)), 0) << t;
        EXPECT_EQ(std::memcmp(l.set.delay_row(t), reference.set.delay_row(t), 5 * sizeof(float)), 0) << t;
        EXPECT_EQ(std::memcmp(l.set.nhs_row(t), reference.set.nhs_row(t), 5 * sizeof(int32_t)), 0) << t;
    }
    EXPECT_GT(drawn_exponents, 0);
    EXPECT_LT(drawn_exponents, 14);
}

// A duration too short for three half-sines of the lowest wavelet can never be
// filled: after a million attempts generation gives up with a message instead
// of drawing forever.  (3 Hz: 1.5/f is exact in float, so even a delay of 0
// cannot fit.)
TEST(WaveletGeneration, NoLayoutFits) {
    const std::string message = "\n Error: no wavelet layout fits the duration \n";
    struct Case {
        float freq, duration;
        bool independent;
    };
    for (const Case c : {Case{10.0f, 0.149f, false}, Case{3.0f, 0.4f, false}, Case{3.0f, 0.4f, true}}) {
        Layout l = make_layout({c.freq}, c.duration, 1);
        RandomGenerator rng;
        const RandomGenerator before = rng;
        try {
            if (c.independent) {
                independent_layout(rng, l.spec, l.settings, 0, l.set);
            } else {
                chained_layout(rng, l.spec, l.settings, 0, l.set);
            }
            ADD_FAILURE() << "a layout was generated for f=" << c.freq;
        } catch (const QuorelError& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
        EXPECT_EQ(draws_between(before, rng, 4000000), 3000000);
    }
    // A chained wavelet below the last that can never start early enough: its
    // delay redraws are bounded too, instead of looping for ever.
    Layout l = make_layout({3.0f, 100.0f}, 0.4f, 1);
    RandomGenerator rng;
    try {
        chained_layout(rng, l.spec, l.settings, 0, l.set);
        ADD_FAILURE() << "a layout was generated";
    } catch (const QuorelError& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
}

}  // namespace
}  // namespace quorel
