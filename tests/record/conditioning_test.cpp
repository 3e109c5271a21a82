// Conditioning in its order (trim, mean, detrend, filters, events), each step
// against what it must leave, and the shock events of a long recording.
#include "record/conditioning.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "record/events.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::error_of;

Record record_of(std::vector<double> samples, double rate, double start = 0.0) {
    Record r;
    r.file = "r.csv";
    r.samples = std::move(samples);
    r.sample_rate = rate;
    r.start_time = start;
    return r;
}

std::vector<std::string> step_names(const ConditionedRecord& c) {
    std::vector<std::string> names;
    for (const ConditioningStep& s : c.steps) names.push_back(s.step);
    return names;
}

TEST(Conditioning, PretriggerMeanIsTheMeanOfTheFirstSeconds) {
    // k / rate < 0.05 sec at 100 samples/sec: samples 0..4.
    EXPECT_EQ(pretrigger_samples(0.05, 100.0), 5);
    EXPECT_EQ(pretrigger_samples(0.051, 100.0), 6);
    std::vector<double> a{1.0, 2.0, 0.0, 1.0, 1.5, 9.0, -4.0};
    EXPECT_DOUBLE_EQ(remove_mean(a, 5), 1.1);
    EXPECT_DOUBLE_EQ(a[5], 7.9);
    EXPECT_NEAR(remove_mean(a, 100), 2.8 / 7.0, 1e-15);   // the whole record
}

// Trimmed first, the mean of what is kept is removed, then the line.
TEST(Conditioning, TrimThenMeanThenTrend) {
    // Times -0.1 .. 0.9 sec at 10 Hz: 1 + 2 t + a small tone.
    std::vector<double> a;
    for (int k = 0; k <= 10; ++k) a.push_back(1.0 + 2.0 * (-0.1 + k / 10.0) + (k % 2 == 0 ? 0.25 : -0.25));
    Conditioning c;
    c.trim_from = 0.0;
    c.trim_to = 0.55;
    c.mean.whole = true;
    c.detrend = true;
    const std::vector<ConditionedRecord> out = condition_record(record_of(a, 10.0, -0.1), "r.csv", c);
    ASSERT_EQ(out.size(), 1u);
    const ConditionedRecord& r = out[0];
    EXPECT_EQ(step_names(r), (std::vector<std::string>{"trim", "remove_mean", "detrend"}));
    // Kept: t = 0 .. 0.5, samples 1 .. 6.
    ASSERT_EQ(r.record.samples.size(), 6u);
    EXPECT_DOUBLE_EQ(r.record.start_time, 0.0);
    double mean = 0.0;
    for (int k = 1; k <= 6; ++k) mean += a[k] / 6.0;
    EXPECT_NEAR(*r.mean_removed, mean, 1e-12);
    // The line 1 + 2t goes; of the alternating tone the least-squares line
    // over six samples takes a slope of its own, so the residual is checked
    // by its defining property: no mean and no correlation with the time.
    double sum = 0.0, moment = 0.0;
    for (size_t k = 0; k < 6; ++k) sum += r.record.samples[k], moment += (k - 2.5) * r.record.samples[k];
    EXPECT_NEAR(sum, 0.0, 1e-12);
    EXPECT_NEAR(moment, 0.0, 1e-12);
}

TEST(Conditioning, DetrendRemovesALineExactly) {
    // A line and whole periods of a cosine even about the middle sample: the
    // cosine has no mean and no slope, so the fitted line is the line itself.
    std::vector<double> a(1000), wave(1000);
    for (size_t k = 0; k < a.size(); ++k) {
        wave[k] = std::cos(2 * M_PI * (k - 499.5) / 50.0);
        a[k] = 3.0 - 0.5 * (k / 100.0) + wave[k];
    }
    Conditioning c;
    c.detrend = true;
    const ConditionedRecord r = condition_record(record_of(a, 100.0), "r.csv", c).front();
    EXPECT_NEAR(r.steps[0].values[0].second, -0.5, 1e-12);
    EXPECT_NEAR(r.steps[0].values[1].second, 3.0, 1e-12);
    for (size_t k = 0; k < a.size(); ++k) EXPECT_NEAR(r.record.samples[k], wave[k], 1e-12);
}

TEST(Conditioning, RefusalsNameTheRecordAndTheOption) {
    Conditioning trim;
    trim.trim_from = 5.0;
    EXPECT_EQ(error_of([&] { condition_record(record_of({1, 2, 3}, 10.0), "r.csv:x", trim); }),
              "\n Error: r.csv:x: --trim 5: keeps 0 samples of its times from 0 to 0.2 sec: a record needs at least 2 \n");
    Conditioning high;
    high.highpass = 600.0;
    EXPECT_EQ(error_of([&] { condition_record(record_of({1, 2, 3}, 1000.0), "r.csv", high); }),
              "\n Error: r.csv: --highpass 600 Hz is not below half its sample rate (1000 samples/sec) \n");
    Conditioning events;
    events.event_level = 10.0;
    events.window_post = 0.1;
    EXPECT_EQ(error_of([&] { condition_record(record_of({1, -2, 3}, 1000.0), "r.csv", events); }),
              "\n Error: r.csv: no sample reaches the --events level 10 (its peak |a| is 3) \n");
}

// Bursts at samples 100..110, 300..305 and 330..340 of a quiet record at
// 1 kHz, the level 1: with 50 ms of quiet ending a shock the second and
// third are one shock (25 ms apart); windows from 20 ms before to 50 ms after.
TEST(Events, ShocksAndTheirWindows) {
    std::vector<double> a(1000, 0.1);
    for (int k = 100; k <= 110; ++k) a[k] = k % 2 == 0 ? 5.0 : -5.0;
    for (int k = 300; k <= 305; ++k) a[k] = 2.0;
    for (int k = 330; k <= 340; ++k) a[k] = -3.0;
    std::vector<EventSpan> spans = find_events(a, 1000.0, 1.0, 0.02, 0.05);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].first, 80);
    EXPECT_EQ(spans[0].last, 160);
    EXPECT_EQ(spans[1].first, 280);
    EXPECT_EQ(spans[1].last, 390);
    // 20 ms of quiet end a shock: three shocks, but the last two windows
    // overlap (305 + 20 > 330 - 20) and merge.
    spans = find_events(a, 1000.0, 1.0, 0.02, 0.02);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[1].first, 280);
    EXPECT_EQ(spans[1].last, 360);
    // A window runs to the ends of the record at most.
    a[995] = 9.0;
    spans = find_events(a, 1000.0, 1.0, 0.02, 0.05);
    EXPECT_EQ(spans.back().last, 999);

    // As records: named #k, from their own start, a percentage of the peak.
    Conditioning c;
    c.event_level = 30.0;   // % of 9
    c.event_level_percent = true;
    c.window_pre = 0.02;
    c.window_post = 0.05;
    const std::vector<ConditionedRecord> out = condition_record(record_of(a, 1000.0, 1.0), "r.wav:1", c);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].name, "r.wav:1#1");
    EXPECT_EQ(out[2].name, "r.wav:1#3");
    EXPECT_DOUBLE_EQ(out[0].record.start_time, 1.08);
    EXPECT_EQ(out[0].record.samples.size(), 81u);
    EXPECT_EQ(out[0].record.samples[20], 5.0);
    EXPECT_EQ(out[1].steps.back().step, "event");
    EXPECT_DOUBLE_EQ(out[1].steps.back().values[1].second, 2.7);
}

}  // namespace
}  // namespace quorel
