#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/dialogue.hpp"
#include "base/random.hpp"
#include "engine/trial_loop.hpp"
#include "specification/resample.hpp"
#include "srs/spectrum_error.hpp"
#include "support/test_support.hpp"
#include "wavelet/generation.hpp"
#include "wavelet/synthesis.hpp"

namespace quorel {
namespace {

using testing::read_lines;
using testing::read_rank_file;
using testing::read_table;
using testing::run_script;
using testing::TempDir;
using testing::write_file;

const double two_pi = 2.0 * std::atan2(0.0, -1.0);

// Everything one trial's evaluation reads, built by hand: a grid, a time grid,
// the filter bank and the per-frequency wavelet constants.
struct Bench {
    RunSettings settings;
    SrsSpec spec;
    SrsFilterBank bank;
    WaveletSet set;
    KernelOptions kernels;
    TrialWorkspace workspace;

    Bench(int32_t algorithm, float damping, float rate, int32_t nt, int32_t trials, int32_t units, int32_t seed) {
        settings.algorithm = srs_algorithm_for_answer(algorithm);
        settings.damping = damping;
        settings.units = static_cast<UnitSystem>(units);
        settings.trial_count = trials;
        settings.seed = seed;
        settings.sample_rate = rate;
        settings.dt = static_cast<float>(1.0 / static_cast<double>(rate));
        settings.half_dt = static_cast<float>(settings.dt * 0.5);
        settings.nt = nt;
        settings.duration = static_cast<float>(nt * static_cast<double>(settings.dt));
    }

    void prepare(int32_t rows) {
        prepare_srs_filters(settings, spec, two_pi, bank);
        allocate_rows(set, spec.count, rows);
        for (int32_t i = 0; i < spec.count; ++i) {
            set.omega[i] = static_cast<float>(spec.freq[i] * two_pi);
            set.min_span[i] = static_cast<float>(1.5 / static_cast<double>(spec.freq[i]));
            set.base_amplitude[i] = static_cast<float>(spec.accel[i] * 0.0625);
        }
        allocate_workspace(workspace, spec.count, settings.nt, kernels);
    }

    TrialContext context() const { return TrialContext{settings, spec, bank, kernels, nullptr}; }

    // One synthesis -> SRS -> error of row `row` as it stands, on its own workspace.
    SpectrumError evaluate_once(int32_t row, std::vector<float>* samples = nullptr) const {
        TrialWorkspace w;
        allocate_workspace(w, spec.count, settings.nt, kernels);
        synthesize_time_history(set, row, true, spec, settings, w.basis, w.history);
        compute_srs(bank, w.history.samples.data(), settings.nt, w.srs);
        if (samples != nullptr) samples->assign(w.history.samples.begin(), w.history.samples.begin() + settings.nt);
        return spectrum_error(w.srs, spec);
    }
};

// A single 100 Hz wavelet of seven half-sines against a 10 G specification.
// Its response is linear in the amplitude, so the correction A <- A (S/ave)^e
// moves log(ave/S) by the factor (1 - e) per evaluation: e = 0 leaves every
// evaluation equal, a small e makes the error fall at every step, and e > 2
// makes it grow from the first evaluation on.
struct OneWavelet : Bench {
    static constexpr float start_amplitude = 0.625f;   // spec / 16
    OneWavelet() : Bench(1, 0.05f, 10000.0f, 2000, 1, 1, 1) {
        spec.count = 1;
        spec.freq[0] = 100.0f;
        spec.accel[0] = 10.0f;
        prepare(1);
        set.amplitude_row(0)[0] = start_amplitude;
        set.nhs_row(0)[0] = 7;
        set.delay_row(0)[0] = 0.01f;
    }
    TrialResult run(double exponent) {
        TrialResult result;
        EXPECT_TRUE(evaluate_trial(0, exponent, context(), set, workspace, result));
        return result;
    }
};

TEST(TrialLoop, AnErrorThatDoesNotFallAtTheTenthEvaluationStopsTheTrial) {
    OneWavelet w;
    const SpectrumError first = w.evaluate_once(0);
    const TrialResult r = w.run(0.0);
    EXPECT_EQ(r.evaluations, 10);
    EXPECT_EQ(r.iterations, 9);
    EXPECT_EQ(w.set.amplitude_row(0)[0], OneWavelet::start_amplitude);
    EXPECT_EQ(r.best_error, first.max_error);
    EXPECT_EQ(r.total_error, first.total_error);
}

TEST(TrialLoop, AnErrorThatKeepsFallingStopsAfterSixtyEvaluations) {
    OneWavelet w;
    const SpectrumError first = w.evaluate_once(0);
    const TrialResult r = w.run(0.01);
    EXPECT_EQ(r.evaluations, 60);
    EXPECT_EQ(r.iterations, 60);
    EXPECT_LT(r.best_error, first.max_error);
    // The row holds the amplitude of the 60th evaluation, not the one the final
    // correction made after it: re-synthesized, it gives that evaluation's samples.
    EXPECT_NE(w.set.amplitude_row(0)[0], OneWavelet::start_amplitude);
    std::vector<float> again;
    EXPECT_EQ(w.evaluate_once(0, &again).max_error, r.best_error);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), w.workspace.history.samples.begin()));
}

// The trial delivers the best evaluation's amplitudes, and its peaks and
// T.Error describe that history, not the last one evaluated.
TEST(TrialLoop, BestAmplitudesAreRestoredWithThePeaksAndTotalErrorOfTheirHistory) {
    OneWavelet w;
    std::vector<float> first_samples;
    const SpectrumError first = w.evaluate_once(0, &first_samples);
    const TrialResult r = w.run(2.2);   // diverging: the first evaluation is the best
    EXPECT_EQ(r.evaluations, 10);
    EXPECT_EQ(r.iterations, 9);
    EXPECT_EQ(w.set.amplitude_row(0)[0], OneWavelet::start_amplitude);
    EXPECT_EQ(r.best_error, first.max_error);

    float first_peak = 0.0f;
    for (int32_t j = 0; j < w.settings.nt; ++j) first_peak = std::max(first_peak, std::fabs(first_samples[j]));
    EXPECT_EQ(r.peak_accel, first_peak) << "the last evaluation's peak is more than twice as high";
    EXPECT_EQ(r.total_error, first.total_error);
    EXPECT_TRUE(std::equal(first_samples.begin(), first_samples.end(), w.workspace.history.samples.begin()));
}

const char* const loop_spec = "100 10\n250 60\n500 60\n";
// Smallwood, 1/6 octave, Q = 10, 9 trials, metric G units, seed 3, 20000
// samples/sec, 3000 points.
const char* const loop_answers = "2 spec.txt 2 2 10 9 2 3 20000 1 3000\n";

// A whole scripted run, its trial log checked by properties, against the rank
// file, and against each trial's first evaluation: the rows are drawn again
// here from the one generator in the run's order (discards at entry, then per
// trial), and evaluated with exponent 0, which keeps every evaluation equal to
// the first.
TEST(TrialLoop, ScriptedRunLogsEveryTrialInOrderNeverWorseThanItsFirstEvaluation) {
    TempDir dir;
    write_file("spec.txt", loop_spec);
    const auto outcome = run_script(loop_answers);
    ASSERT_EQ(outcome.status, 0) << outcome.output;
    const auto log_lines = read_lines("trials.out");
    ASSERT_EQ(log_lines.size(), 4u + 9u);
    EXPECT_EQ(log_lines[3], "           (G)         (m/sec)      (mm)       ");
    const auto log = read_table("trials.out");
    const auto ranks = read_rank_file("rank_d.out");
    ASSERT_EQ(ranks.size(), 5u);

    Bench b(2, static_cast<float>(1.0 / (2.0 * 10.0f)), 20000.0f, 3000, 9, 2, 3);
    b.spec.input_count = 3;
    const float points[3][2] = {{100, 10}, {250, 60}, {500, 60}};
    for (int k = 0; k < 3; ++k) {
        b.spec.input_freq[k] = b.spec.last_input_freq = points[k][0];
        b.spec.input_accel[k] = b.spec.last_input_accel = points[k][1];
    }
    build_octave_grid(b.spec, octave_fraction(OctaveSpacing::sixth));
    b.prepare(9);
    RandomGenerator rng;
    discard_draws(rng, 3);
    int32_t strategy = 1;
    std::vector<double> exponents;
    for (int32_t t = 0; t < 9; ++t) exponents.push_back(generate_trial(rng, b.spec, b.settings, t, strategy, b.set));

    for (int32_t t = 0; t < 9; ++t) {
        const auto& row = log[static_cast<size_t>(4 + t)];
        ASSERT_EQ(row.size(), 7u);
        EXPECT_EQ(row[0], t);
        EXPECT_GE(row[6], 9);
        EXPECT_LE(row[6], 60);
        // The best evaluation's total deviation includes its largest one.
        EXPECT_GE(row[4], row[5] - 0.01);
        TrialResult first;
        ASSERT_TRUE(evaluate_trial(t, 0.0, b.context(), b.set, b.workspace, first));
        EXPECT_LE(row[5], first.best_error * 20.0 + 0.005);
        // I.Error and T.Error are 20 x the recorded log10 errors of the rank file.
        for (const auto& [section, column] : {std::pair{3, 4}, std::pair{4, 5}}) {
            const auto& list = ranks[static_cast<size_t>(section)];
            const auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.first == t; });
            ASSERT_NE(it, list.end());
            EXPECT_NEAR(row[static_cast<size_t>(column)], 20.0 * it->second, 0.005 + 20.0 * 0.0005);
        }
        TrialResult replay;
        ASSERT_TRUE(evaluate_trial(t, exponents[static_cast<size_t>(t)], b.context(), b.set, b.workspace, replay));
        EXPECT_EQ(std::string(trial_line(t, replay).view()), log_lines[static_cast<size_t>(4 + t)] + "\n");
    }

    // Same answers, same files: the same log and console, line for line.
    const std::string first_log = testing::read_file("trials.out");
    TempDir again;
    write_file("spec.txt", loop_spec);
    const auto repeat = run_script(loop_answers);
    EXPECT_EQ(repeat.output, outcome.output);
    EXPECT_EQ(testing::read_file("trials.out"), first_log);
}

}  // namespace
}  // namespace quorel
