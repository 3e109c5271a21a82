#pragma once
// The records of quorel check: the options that say how to read them (the
// format's channels, the rate, the scale, the time unit), and the records
// each argument stands for, ready to judge.
#include <CLI/CLI.hpp>

#include <atomic>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "record/conditioning.hpp"
#include "record/record_formats.hpp"

namespace quorel {

class OptionWords;

// The options beside check's own --column and --sample-rate.
struct RecordCommand {
    std::vector<std::string> channels;   // --channel, repeatable
    std::string scale;
    std::string time_unit;
    std::string rate_variable;
    std::string rate_attribute;
    // Conditioning, beside check's own --remove-mean and --pretrigger.
    std::string trim;          // FROM:TO sec
    bool detrend = false;
    std::string highpass, lowpass, filter_order;
    std::string events;        // LEVEL or PERCENT%
    std::string window;        // PRE:POST sec
};

void add_record_options(CLI::App* check, RecordCommand& r, OptionWords& words);
void add_conditioning_options(CLI::App* check, RecordCommand& r, OptionWords& words);

// What to read, from these options and the text reader's.
RecordRequest record_request(const RecordCommand& r, const RecordOptions& text);

// The conditioning, from these options and check's mean removal.
Conditioning record_conditioning(const RecordCommand& r, bool remove_mean, const std::string& pretrigger);

// One record as read, with what its outputs are called.
struct LoadedRecord {
    Record record;
    std::string name;   // "file" or "file:channel": tables, JSON, titles, messages
    std::string stem;   // output files: the file's stem, "_channel" after it (characters other than
                        // letters, digits and . _ + - as '_')
    std::optional<double> mean_removed;
    std::vector<ConditioningStep> steps;   // the conditioning done
    std::optional<double> scale;           // every sample was multiplied by it first (--scale)
};

// The records of every argument, in order, conditioned (an argument may stand
// for several channels, a channel for several events: "<stem>_event<k>"); a
// WAV record of integer samples read without --scale gets a warning on `err`.
// A signal routed to `stop` ends the reading between arguments.
std::vector<LoadedRecord> load_records(const std::vector<std::string>& arguments, const RecordRequest& request,
                                       const Conditioning& conditioning, std::ostream& err,
                                       const std::atomic<int>* stop = nullptr);

}  // namespace quorel
