#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "support/test_support.hpp"
#include "wavelet/scaling.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/synthesis_failure.hpp"

namespace quorel {
namespace {

using testing::synthesis_relative_tolerance;

// A run's worth of wavelet tables and a time grid of nt samples at 10000 samples/s.
struct Synth {
    SrsSpec spec;
    RunSettings settings;
    WaveletSet set;
    WaveletBasis basis;
    TimeHistory history;

    Synth(const std::vector<float>& freqs, int32_t nt, int32_t rows, bool dense) {
        const int32_t n = static_cast<int32_t>(freqs.size());
        spec.count = n;
        for (int32_t i = 0; i < n; ++i) {
            spec.freq[i] = freqs[i];
            set.omega[i] = static_cast<float>(freqs[i] * 2.0 * M_PI);
        }
        settings.sample_rate = 10000.0f;
        settings.dt = static_cast<float>(1.0 / 10000.0);
        settings.half_dt = settings.dt / 2;
        settings.nt = nt;
        allocate_rows(set, n, rows);
        allocate_basis(basis, n, nt, dense);
        allocate_history(history, nt);
    }
    void wavelet(int32_t row, int32_t i, float amplitude, int32_t nhs, float delay) {
        set.amplitude_row(row)[i] = amplitude;
        set.nhs_row(row)[i] = nhs;
        set.delay_row(row)[i] = delay;
    }
    std::vector<float> run(int32_t row, bool rebuild) {
        synthesize_time_history(set, row, rebuild, spec, settings, basis, history);
        return std::vector<float>(history.samples.begin(), history.samples.begin() + settings.nt);
    }
    std::string failure(int32_t row) {
        try {
            run(row, true);
        } catch (const QuorelError& error) {
            return error.what();
        }
        return "";
    }
};

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

struct Lcg {
    uint32_t state;
    double unit() {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    }
};

const std::vector<float> twelve = {50.0f, 63.0f, 80.0f, 100.0f, 126.0f, 159.0f,
                                   200.0f, 400.0f, 800.0f, 1000.0f, 1600.0f, 2000.0f};

// Random rows: NHS odd 3..41, signed amplitudes, delays over and beyond the
// record, some exactly on a sample; wavelet 0 starts at 0 so no row is silent.
void random_rows(Synth& s, int32_t rows, uint32_t seed) {
    Lcg rng{seed};
    const int32_t nt = s.settings.nt;
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t i = 0; i < s.spec.count; ++i) {
            const int32_t nhs = 3 + 2 * static_cast<int32_t>(rng.unit() * 20);
            const float amplitude = static_cast<float>((rng.unit() - 0.5) * 20.0);
            float delay = static_cast<float>(rng.unit() * 1.2 * nt * s.settings.dt);
            if (i % 3 == 1) delay = sample_time(static_cast<int32_t>(rng.unit() * nt), s.settings.dt);
            if (i == 0) delay = 0.0f;
            s.wavelet(r, i, amplitude == 0.0f ? 1.0f : amplitude, nhs, delay);
        }
    }
}

// Keeping only each wavelet's support changes nothing: every sample gets the
// same terms in the same order, the left-out ones being exact zeros.
TEST(WaveletSynthesis, SparseSumEqualsDenseSum) {
    for (const int32_t nt : {2, 7, 1500}) {
        Synth dense(twelve, nt, 6, true), sparse(twelve, nt, 6, false);
        random_rows(dense, 6, 11u + nt);
        random_rows(sparse, 6, 11u + nt);
        // A wavelet running past the end, and one starting after the last sample.
        for (Synth* s : {&dense, &sparse}) {
            s->wavelet(0, 1, 3.0f, 41, sample_time(std::max(nt - 3, 0), s->settings.dt));
            s->wavelet(0, 2, -2.0f, 5, sample_time(nt, s->settings.dt));
        }
        for (int32_t r = 0; r < 6; ++r) {
            EXPECT_TRUE(same_bits(dense.run(r, true), sparse.run(r, true))) << "nt=" << nt << " row " << r;
            for (Synth* s : {&dense, &sparse}) {
                for (int32_t i = 0; i < 12; ++i) s->set.amplitude_row(r)[i] *= 1.37f;
            }
            EXPECT_TRUE(same_bits(dense.run(r, false), sparse.run(r, false))) << "nt=" << nt << " row " << r;
        }
    }
}

// The history the files hold, summed wavelet by wavelet over each window, is
// the sample-by-sample evaluation of the acceleration file bit for bit: the
// same terms in the same order, whatever the windows' ends (delays on a
// sample, running past the end, starting after it, not finite).
TEST(WaveletSynthesis, FileHistoryEqualsTheAccelerationFileSamples) {
    for (const int32_t nt : {2, 1500}) {
        Synth s(twelve, nt, 4, false);
        random_rows(s, 4, 23u + nt);
        s.wavelet(0, 1, 3.0f, 41, sample_time(std::max(nt - 3, 0), s.settings.dt));
        s.wavelet(0, 2, -2.0f, 5, sample_time(nt, s.settings.dt));
        s.wavelet(1, 3, 1.0f, 3, std::numeric_limits<float>::infinity());
        std::vector<double> sum;
        for (int32_t r = 0; r < 4; ++r) {
            file_history(s.set, r, s.spec, s.settings, s.history, sum);
            std::vector<float> expected;
            for (int32_t i = 0; i < nt; ++i) {
                expected.push_back(static_cast<float>(file_acceleration(s.set, r, s.spec, sample_time(i, s.settings.dt))));
            }
            EXPECT_TRUE(same_bits(expected, std::vector<float>(s.history.samples.begin(), s.history.samples.begin() + nt)))
                << "nt=" << nt << " row " << r;
        }
    }
}

// Each sample against the wavelets evaluated directly in double:
// A sin(w tau / N) sin(w tau) for 0 <= tau <= N / (2 f), zero elsewhere.
TEST(WaveletSynthesis, SamplesFollowTheWaveletFormula) {
    Synth s(twelve, 1500, 1, false);
    random_rows(s, 1, 5u);
    const std::vector<float> a = s.run(0, true);
    double scale = 0.0;
    for (int32_t i = 0; i < 12; ++i) scale += std::fabs(s.set.amplitude_row(0)[i]);
    for (int32_t j = 0; j < 1500; ++j) {
        const double t = sample_time(j, s.settings.dt);
        double sum = 0.0;
        for (int32_t i = 0; i < 12; ++i) {
            const double tau = t - s.set.delay_row(0)[i];
            const double w = 2.0 * M_PI * twelve[i];
            const int32_t nhs = s.set.nhs_row(0)[i];
            if (tau >= 0.0 && tau <= nhs / (2.0 * twelve[i])) {
                sum += s.set.amplitude_row(0)[i] * std::sin(w * tau / nhs) * std::sin(w * tau);
            }
        }
        EXPECT_NEAR(a[j], sum, synthesis_relative_tolerance * scale) << j;
    }
}

// A wavelet starts at rest: the sample at its start belongs to it and is 0,
// the ones before are untouched, and nothing remains after its span.
TEST(WaveletSynthesis, WaveletStartsAndEndsAtZero) {
    Synth s({100.0f}, 400, 1, false);
    const float start = sample_time(37, s.settings.dt);
    s.wavelet(0, 0, 5.0f, 3, start);   // 3 half-sines at 100 Hz: 15 ms, 150 steps
    const std::vector<float> a = s.run(0, true);
    for (int32_t j = 0; j <= 37; ++j) EXPECT_EQ(a[j], 0.0f) << j;
    EXPECT_NE(a[38], 0.0f);
    EXPECT_NEAR(a[37 + 75], -5.0f, 1e-3f);   // mid-span: envelope 1, carrier trough
    for (int32_t j = 37 + 152; j < 400; ++j) EXPECT_EQ(a[j], 0.0f) << j;
}

// Between amplitude corrections the basis is reused: the layout is not read
// again, and the history follows the amplitudes exactly.
TEST(WaveletSynthesis, ReusedBasisFollowsAmplitudesOnly) {
    Synth s(twelve, 800, 1, false);
    random_rows(s, 1, 23u);
    const std::vector<float> first = s.run(0, true);
    for (int32_t i = 0; i < 12; ++i) {
        s.set.amplitude_row(0)[i] *= 2.0f;
        s.set.delay_row(0)[i] += 0.01f;
        s.set.nhs_row(0)[i] += 2;
    }
    const std::vector<float> doubled = s.run(0, false);
    for (int32_t j = 0; j < 800; ++j) EXPECT_EQ(doubled[j], 2.0f * first[j]) << j;
}

// Re-synthesizing an earlier row after another row was built gives that row's
// own history, not a mixture with the later row's layout.
TEST(WaveletSynthesis, EarlierRowResynthesizedAlone) {
    for (const bool dense : {false, true}) {
        Synth s(twelve, 900, 2, dense);
        random_rows(s, 2, 31u);
        const std::vector<float> row0 = s.run(0, true);
        const std::vector<float> row1 = s.run(1, true);
        EXPECT_FALSE(same_bits(row0, row1));
        EXPECT_TRUE(same_bits(s.run(0, true), row0)) << dense;
    }
}

// The phase of sample j of wavelet i of row `row`; nothing outside the window
// t_j >= d_i, float(t_j - d_i) <= span_i.
std::optional<double> phase(const Synth& s, int32_t row, int32_t i, int32_t j) {
    const float t = sample_time(j, s.settings.dt);
    const float d = s.set.delay_row(row)[i];
    const double tau = static_cast<double>(t) - d;
    if (!(t >= d && static_cast<float>(tau) <= s.basis.span[i])) return std::nullopt;
    return static_cast<float>(tau * static_cast<double>(s.set.omega[i]));
}

// Its basis value as the synthesis has always computed it, with the C library's sin.
std::optional<float> reference_value(const Synth& s, int32_t row, int32_t i, int32_t j) {
    const std::optional<double> theta = phase(s, row, i, j);
    if (!theta) return std::nullopt;
    return static_cast<float>(std::sin(*theta / s.set.nhs_row(row)[i]) * std::sin(*theta));
}

// Whether a rebuilt basis holds exactly the reference values: each window
// found sample by sample, its values bit for bit, zeros around it when dense.
::testing::AssertionResult holds_reference_values(const Synth& s, int32_t row, const WaveletBasis& basis) {
    size_t offset = 0;
    for (int32_t i = 0; i < s.set.count; ++i) {
        int32_t first = -1, end = -1;
        for (int32_t j = 0; j < s.settings.nt; ++j) {
            if (!reference_value(s, row, i, j)) continue;
            if (first < 0) first = j;
            end = j + 1;
        }
        if (first < 0) first = end = basis.dense ? 0 : basis.first[i];   // an empty window
        const int32_t from = basis.dense ? 0 : first, to = basis.dense ? s.settings.nt : end;
        if (basis.first[i] != from || basis.length[i] != to - from || basis.offset[i] != offset) {
            return ::testing::AssertionFailure() << "wavelet " << i << ": window " << basis.first[i] << " + "
                                                 << basis.length[i] << ", expected " << from << " + " << to - from;
        }
        for (int32_t j = from; j < to; ++j) {
            const float expected = reference_value(s, row, i, j).value_or(0.0f);
            const float got = basis.values[offset + static_cast<size_t>(j - from)];
            if (std::memcmp(&expected, &got, sizeof got) != 0) {
                return ::testing::AssertionFailure() << "wavelet " << i << " sample " << j << ": " << got << ", expected "
                                                     << expected;
            }
        }
        offset += static_cast<size_t>(to - from);
    }
    return ::testing::AssertionSuccess();
}

// The vectorised sine keeps the C library's bits over a sweep of frequencies
// (0.5 Hz to 0.49 times the sample rate), half-sine counts (3 to 1001) and
// delays (before the record, on a sample, between samples, past the end),
// also where the margin is widened so that many values (1 in 30), or all, are
// recomputed with the C library.
TEST(WaveletSynthesis, VectorisedSineGivesTheLibraryBits) {
    std::vector<float> freqs;
    for (double f = 0.5; f < 4900.0; f *= 1.5) freqs.push_back(static_cast<float>(f));
    freqs.push_back(4900.0f);
    const int32_t nt = 3000, rows = 12;
    const int32_t n = static_cast<int32_t>(freqs.size());
    Synth s(freqs, nt, rows, false);
    const int32_t half_sines[] = {3, 5, 7, 9, 11, 15, 21, 41, 99, 201, 1001};
    Lcg rng{7u};
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t i = 0; i < n; ++i) {
            const int32_t nhs = half_sines[(r + i) % 11];
            float delay = static_cast<float>((rng.unit() * 1.2 - 0.1) * nt * s.settings.dt);
            if (r % 3 == 1) delay = sample_time(static_cast<int32_t>(rng.unit() * nt), s.settings.dt);
            if (r % 4 == 2) delay = static_cast<float>(-rng.unit() * nhs / (2.0 * freqs[i]));
            s.wavelet(r, i, 1.0f, nhs, delay);
        }
    }
    WaveletBasis library, fast;
    int64_t starts_on_sample = 0;
    for (const bool dense : {false, true}) {
        allocate_basis(library, n, nt, dense);
        allocate_basis(fast, n, nt, dense);
        library.sine = SineKernel::library;
        for (int32_t r = 0; r < rows; ++r) {
            SCOPED_TRACE(::testing::Message() << "row " << r << (dense ? " dense" : ""));
            set_spans(s.set, r, s.spec, s.basis);
            library.span = fast.span = s.basis.span;
            build_wavelet_basis(s.set, r, s.settings, library);
            ASSERT_TRUE(holds_reference_values(s, r, library));
            // Values, and those at a phase of 0 (a wavelet starting on a
            // sample), which are exact and never recomputed.
            int64_t inside = 0, at_start = 0;
            for (int32_t i = 0; i < n; ++i) {
                for (int32_t j = 0; j < nt; ++j) {
                    const std::optional<double> theta = phase(s, r, i, j);
                    inside += theta.has_value();
                    at_start += theta == 0.0;
                }
            }
            starts_on_sample += at_start;
            for (const double margin : {sine_product_margin, 0x1p-30, 1.0}) {
                fast.sine_values = fast.sine_fallbacks = 0;
                build_wavelet_basis(s.set, r, s.settings, fast, margin);
                ASSERT_TRUE(holds_reference_values(s, r, fast)) << margin;
                EXPECT_EQ(fast.sine_values, inside);
                if (margin == 1.0) {
                    EXPECT_EQ(fast.sine_fallbacks, inside - at_start);
                } else if (margin == 0x1p-30) {
                    EXPECT_GT(fast.sine_fallbacks, inside / 200);
                }
            }
        }
    }
    EXPECT_EQ(library.sine_values, 0);
    EXPECT_GT(starts_on_sample, 0);
}

// Phases whose product of the C library's sines lies exactly halfway between
// two floats (found by going through every float phase from 2^-10 to N pi for
// each odd N up to 129 with the C library; the test checks that each is
// halfway).  A last-bit difference in either sine would round such a value to
// the other float, so the vectorised kernel must recompute every one.
TEST(WaveletSynthesis, ValuesHalfwayBetweenFloatsAreRecomputed) {
    struct Halfway {
        float theta;
        int32_t half_sines;
    };
    const Halfway cases[] = {{0x1.b2e118p-3f, 3},  {0x1.64807ap+2f, 25}, {0x1.96c034p+3f, 61},
                             {0x1.44474cp+1f, 67}, {0x1.8a0e96p+0f, 87}, {0x1.01976ep+7f, 125}};
    for (const Halfway& c : cases) {
        SCOPED_TRACE(c.half_sines);
        const double theta = c.theta, n = c.half_sines;
        const double product = std::sin(theta / n) * std::sin(theta);
        const float nearest = static_cast<float>(product);
        const float other = std::nextafter(nearest, product > nearest ? INFINITY : -INFINITY);
        ASSERT_EQ(product, (static_cast<double>(nearest) + other) / 2);
        // Among whole blocks of phases, in every lane.
        for (int32_t lane = 0; lane < 9; ++lane) {
            std::vector<double> phases(9, 1.0);
            phases[static_cast<size_t>(lane)] = theta;
            std::vector<float> expected(9), got(9);
            int64_t values = 0, fallbacks = 0;
            basis_values(phases.data(), 9, n, SineKernel::library, sine_product_margin, expected.data(), values, fallbacks);
            basis_values(phases.data(), 9, n, SineKernel::vectorised, sine_product_margin, got.data(), values, fallbacks);
            EXPECT_TRUE(same_bits(got, expected)) << lane;
            EXPECT_EQ(fallbacks, 1) << lane;
            EXPECT_EQ(values, 9);
        }
    }
}

TEST(WaveletSynthesis, RowChecks) {
    Synth s({100.0f, 200.0f, 400.0f}, 500, 1, false);
    s.wavelet(0, 0, 1.0f, 3, 0.0f);
    s.wavelet(0, 1, 1.0f, 3, 0.0f);
    s.wavelet(0, 2, 1.0f, 3, 0.0f);
    EXPECT_EQ(s.failure(0), "");

    // Each check is a pass over all wavelets: a bad NHS is reported before a bad
    // amplitude of an earlier wavelet.
    s.set.nhs_row(0)[2] = 1;
    s.set.amplitude_row(0)[0] = 0.0f;
    EXPECT_EQ(s.failure(0), "gt error: i=2  nhs=         1 \n");
    s.set.nhs_row(0)[2] = 3;
    EXPECT_EQ(s.failure(0), "gt error: i=0  amp=         0 \n");

    // Amplitudes of 1e-20 in magnitude pass.  No float is exactly 1e-20: the
    // nearest lies just below it and fails, the next one up passes.
    const float below = 1e-20f;
    ASSERT_LT(static_cast<double>(below), 1e-20);
    const float above = std::nextafter(below, 1.0f);
    s.set.amplitude_row(0)[0] = 1.0f;
    s.set.amplitude_row(0)[1] = -below;
    EXPECT_EQ(s.failure(0), "gt error: i=1  amp=    -1e-20 \n");
    s.set.amplitude_row(0)[1] = above;
    EXPECT_EQ(s.failure(0), "");
    s.set.amplitude_row(0)[1] = -above;
    EXPECT_EQ(s.failure(0), "");

    // A span that rounds to nothing (an absurd frequency).
    s.spec.freq[1] = 1e21f;
    EXPECT_EQ(s.failure(0), "error: i=1  upper=   1.5e-21 \n");
    s.spec.freq[1] = 200.0f;

    // Angular frequencies at or below 3 rad/s are refused when the basis is built.
    s.set.omega[2] = 3.0f;
    EXPECT_EQ(s.failure(0), "ref 1: omegaf error \n");
    s.set.omega[2] = std::nextafter(3.0f, 4.0f);
    EXPECT_EQ(s.failure(0), "");
}

TEST(WaveletSynthesis, SilentHistoryIsRefused) {
    Synth none({}, 100, 1, false);
    EXPECT_EQ(none.failure(0), "\n rms error \n");

    // Every wavelet starts after the last sample.
    Synth late({100.0f, 200.0f}, 100, 1, false);
    late.wavelet(0, 0, 1.0f, 3, sample_time(100, late.settings.dt));
    late.wavelet(0, 1, 1.0f, 3, 0.5f);
    EXPECT_EQ(late.failure(0), "\n rms error \n");

    // A level near the threshold is judged by the float sum of all squares,
    // not by the largest sample: 10000 samples of 1.5e-20 have an rms level of
    // 1.5e-20 (passes) although each square alone is far too small; 0.9e-20
    // fails.
    const int32_t nt = 10000;
    WaveletBasis basis;
    allocate_basis(basis, 1, nt, false);
    basis.first[0] = 0;
    basis.length[0] = nt;
    basis.offset[0] = 0;
    for (int32_t j = 0; j < nt; ++j) basis.values[j] = 1.0f;
    TimeHistory history;
    allocate_history(history, nt);
    const float quiet = 1.5e-20f;
    EXPECT_NO_THROW(sum_wavelet_basis(&quiet, 1, basis, history));
    const float silent = 0.9e-20f;
    EXPECT_THROW(sum_wavelet_basis(&silent, 1, basis, history), QuorelError);
}

// Each check's failure is explained at its own wavelet: the grid frequency and
// the specification there, in the run's acceleration unit.
TEST(WaveletSynthesis, EveryFailedCheckNamesItsWaveletAndTheSpecificationThere) {
    Synth s({100.0f, 200.0f, 400.0f}, 500, 1, false);
    s.settings.units = UnitSystem::metric_si;
    const float accel[] = {10.0f, 20.0f, 5.0f};
    for (int32_t i = 0; i < 3; ++i) {
        s.spec.accel[i] = accel[i];
        s.wavelet(0, i, 1.0f, 3, 0.0f);
    }
    auto explained = [&](auto&& check) {
        try {
            check();
        } catch (const QuorelError& error) {
            return explain_synthesis_failure(error, s.spec, s.settings, s.set.amplitude_row(0), nullptr, s.history);
        }
        return std::string("no failure");
    };
    struct Case {
        const char* what;
        std::function<void()> spoil, mend;
        const char* wavelet;
    };
    const Case cases[] = {
        {"half-sines", [&] { s.set.nhs_row(0)[2] = 1; }, [&] { s.set.nhs_row(0)[2] = 3; },
         "the wavelet at 400 Hz, where the specification is 5 m/sec^2"},
        {"amplitude", [&] { s.set.amplitude_row(0)[1] = 0.0f; }, [&] { s.set.amplitude_row(0)[1] = 1.0f; },
         "the wavelet at 200 Hz, where the specification is 20 m/sec^2"},
        {"frequency", [&] { s.set.omega[0] = 3.0f; }, [&] { s.set.omega[0] = static_cast<float>(200.0 * M_PI); },
         "the wavelet at 100 Hz, where the specification is 10 m/sec^2"},
        {"silence", [&] { for (int32_t i = 0; i < 3; ++i) s.set.delay_row(0)[i] = 1.0f; },
         [&] { for (int32_t i = 0; i < 3; ++i) s.set.delay_row(0)[i] = 0.0f; },
         "its largest wavelet, at 100 Hz, where the specification is 10 m/sec^2"},
    };
    for (const Case& c : cases) {
        c.spoil();
        const std::string line = explained([&] { s.run(0, true); });
        c.mend();
        EXPECT_EQ(line.rfind("Error: ", 0), 0u) << c.what << line;
        EXPECT_NE(line.find(c.wavelet), std::string::npos) << c.what << line;
        EXPECT_EQ(line.back(), '\n') << c.what;
    }
    EXPECT_EQ(explained([&] { s.run(0, true); }), "no failure");

    SrsResult srs;
    srs.xmax[2] = 1e-30f;
    srs.xmin[2] = 1e-30f;
    const std::string scale = explained([&] { scale_amplitudes(srs, s.spec, 1.0, s.set.amplitude_row(0)); });
    EXPECT_NE(scale.find("the wavelet at 100 Hz"), std::string::npos) << scale;
    const SrsFilterBank bank = testing::make_filter_bank(2, 0.05f, 10000.0f, {100.0f, 200.0f, 400.0f});
    const std::string srs_check = explained([&] { throw_srs_failure(bank, 1, 1.0f, 0.0f); });
    EXPECT_NE(srs_check.find("the SRS at 200 Hz, where the specification is 20 m/sec^2"), std::string::npos)
        << srs_check;
}

// When the correction drives a wavelet to zero the line gives the SRS the
// history reached there and its peak acceleration, and says what to change:
// at the top of a falling specification the SRS is held up by the peak
// acceleration, at the foot of a rising one by the neighbouring wavelets.
TEST(WaveletSynthesis, AVanishingWaveletIsExplainedByTheSrsItCouldNotLeave) {
    Synth s({20.0f, 200.0f, 2000.0f}, 4, 1, false);
    s.settings.units = UnitSystem::english;
    s.history.samples = {100.0f, -440.0f, 300.0f, 0.0f, 0.0f};
    SrsResult reached;
    const QuorelError top("gt error: i=2  amp= 3.556e-21 \n", SynthesisCheck::amplitude, 2);
    const float falling[] = {1000.0f, 100.0f, 10.0f};
    for (int32_t i = 0; i < 3; ++i) s.spec.accel[i] = falling[i];
    reached.xmax[2] = 350.0f;
    reached.xmin[2] = 342.0f;
    EXPECT_EQ(explain_synthesis_failure(top, s.spec, s.settings, s.set.amplitude_row(0), &reached, s.history),
              "Error: the amplitude correction drove the wavelet at 2000 Hz to zero: the specification there is 10 G, "
              "but the history's SRS there reached 346 G, and its peak acceleration is 440 G. An SRS at a high "
              "natural frequency can never be much below the history's peak acceleration. Make the specification's "
              "slope gentler near 2000 Hz, or end the frequency range below 2000 Hz.\n");

    const QuorelError foot("gt error: i=0  amp= 4.382e-21 \n", SynthesisCheck::amplitude, 0);
    const float rising[] = {0.01f, 100.0f, 10000.0f};
    for (int32_t i = 0; i < 3; ++i) s.spec.accel[i] = rising[i];
    reached.xmax[0] = 1.5f;
    reached.xmin[0] = 1.7f;
    EXPECT_EQ(explain_synthesis_failure(foot, s.spec, s.settings, s.set.amplitude_row(0), &reached, s.history),
              "Error: the amplitude correction drove the wavelet at 20 Hz to zero: the specification there is 0.01 G, "
              "but the history's SRS there reached 1.6 G, and its peak acceleration is 440 G. An SRS can never be "
              "much below what the neighbouring wavelets give there. Make the specification's slope gentler near "
              "20 Hz, or start the frequency range above 20 Hz.\n");
    // A check that is not one of the synthesis is left as it is.
    EXPECT_EQ(explain_synthesis_failure(QuorelError("x"), s.spec, s.settings, s.set.amplitude_row(0), &reached,
                                        s.history),
              "");
}

}  // namespace
}  // namespace quorel
