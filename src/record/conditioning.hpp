#pragma once
// Conditioning of a measured record before it is judged, in this order:
//   1. trim: keep the samples whose times lie within [from, to] sec;
//   2. remove the mean of the whole record, or of its pretrigger (the first
//      seconds);
//   3. detrend: remove the least-squares line;
//   4. high-pass, then low-pass: Butterworth filters run forward and backward
//      (butterworth.hpp);
//   5. events: each shock of a long recording becomes its own record
//      (events.hpp), named "NAME#k".
// Every step done is stated with its figures, for the JSON settings.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "record/record_reader.hpp"

namespace quorel {

// What is taken off a record before it is checked: nothing, the mean of the
// whole record, or that of its first `pretrigger` seconds.
struct MeanRemoval {
    bool whole = false;
    std::optional<double> pretrigger;   // sec, above 0
};

struct Conditioning {
    std::optional<double> trim_from, trim_to;   // sec, the record's own times; either end may be open
    MeanRemoval mean;
    bool detrend = false;
    std::optional<double> highpass, lowpass;    // Hz
    int32_t filter_order = 4;
    std::optional<double> event_level;          // acceleration, or a percentage of the record's peak |a|
    bool event_level_percent = false;
    double window_pre = 0.0, window_post = 0.0; // sec
    // How a refusal names the options: "--trim ", "--pretrigger " on the
    // command line, "trim=", "pretrigger=" in Python.
    bool keywords = false;
};

// Whether `c` changes a record at all.
bool conditions(const Conditioning& c);

// What one step did: its name and its figures in order.
struct ConditioningStep {
    std::string step;   // "trim", "remove_mean", "pretrigger", "detrend", "highpass", "lowpass", "event"
    std::vector<std::pair<std::string, double>> values;
};

struct ConditionedRecord {
    Record record;
    std::string name;                       // as given, "NAME#k" for the k-th event
    std::vector<ConditioningStep> steps;
    std::optional<double> mean_removed;     // by step 2
};

// Applies `c` to `record`; refusals name `name` and the option.
std::vector<ConditionedRecord> condition_record(Record record, const std::string& name, const Conditioning& c);

// Subtracts from every sample the mean of the first `count` samples (all of
// them when count is at least the record's length).  Returns the mean.
double remove_mean(std::span<double> samples, int64_t count);

// Samples within the first `seconds` of a record: k / rate < seconds.
int64_t pretrigger_samples(double seconds, double sample_rate);

// Whether a pretrigger of `seconds` lies within a record of n samples: at most
// its duration (n - 1) / rate, allowing for the rounding of a duration written
// in decimal (far less than a sample).
bool pretrigger_within(double seconds, double sample_rate, int64_t n);

// Takes the mean off `samples` as `removal` says; returns the mean taken, or
// nothing.  A pretrigger longer than the record throws QuorelError naming the
// record `name` and the pretrigger as `pretrigger_words` (the option's name as
// the front end spells it, "--pretrigger " or "pretrigger=") introduce it.
std::optional<double> remove_record_mean(std::span<double> samples, double sample_rate, const MeanRemoval& removal,
                                         const std::string& name, const char* pretrigger_words);

// Removes the least-squares line a + b k; returns {b, a}: the slope per
// sample and the value of the line at the first sample.
std::pair<double, double> remove_trend(std::span<double> samples);

}  // namespace quorel
