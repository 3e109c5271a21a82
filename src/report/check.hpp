#pragma once
// Judging a measured acceleration record: its figures (peak, effective
// durations, the velocity and displacement it stands for), its SRS at every
// grid frequency by the synthesis's own filters, and with a specification the
// margins and the verdict of the acceptance rules, judged as the synthesis
// judges its trials.  Pure computation: the samples come in, the figures go
// out; nothing is read or written here.
//
// Memory: beside the samples (held by the caller) only what the grid needs and
// the reduced histories of a picture; nothing of size samples x frequencies.
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/envelope.hpp"
#include "record/conditioning.hpp"
#include "spec/acceptance.hpp"
#include "spec/compliance.hpp"

namespace quorel {

// The frequencies a record is checked at.
struct CheckGrid {
    std::vector<float> freq;   // Hz, ascending, at most max_check_frequencies
    std::vector<float> spec;   // the specification at freq; empty without one (no margins, no verdict)
};

struct CheckSettings {
    int32_t algorithm = 2;     // 1 Kelly-Richman, else Smallwood
    float damping = 0.05f;     // ratio of critical
    int32_t units = 1;         // UnitSystem value: the factors of velocity and displacement
    bool residual = true;      // follow each frequency one period past the last sample
    int32_t threads = 1;       // over records and frequency ranges
    AcceptanceRules rules;     // judged when the grid has a specification
    int64_t envelope_groups = 0;   // > 0: keep the reduced histories for a picture
    // Nonzero once the caller gives up (a StopRequest's signal): the work ends
    // within one lane block of frequencies, throwing interrupted_message.
    const std::atomic<int>* stop = nullptr;
};

// One record's samples: uniform in time from start_time at sample_rate.
struct CheckInput {
    std::span<const double> samples;
    double sample_rate = 0.0;   // Hz
    double start_time = 0.0;    // sec, the time of the first sample
    std::string name;           // for messages
};

struct RecordFigures {
    int64_t samples = 0;
    double sample_rate = 0.0;
    double duration = 0.0;            // (samples - 1) / sample_rate, sec
    double peak_acceleration = 0.0;   // largest |a|, acceleration unit
    double peak_time = 0.0;           // sec, its first sample
    double te = 0.0;                  // sec, first to last sample with |a| >= peak / 3
    double t10 = 0.0;                 // the same at peak / 10
    double peak_velocity = 0.0;       // largest |v|, velocity unit
    double peak_displacement = 0.0;   // largest |d|, displacement unit
    double end_velocity = 0.0;        // v and d at the last sample
    double end_displacement = 0.0;
};

// The reduced acceleration, velocity and displacement of a record.
struct HistoryEnvelopes {
    std::vector<TimedValue> accel, velocity, displacement;
};

struct RecordCheck {
    RecordFigures figures;
    // Per grid frequency: the positive and the negative peak (each a float's
    // value: the SRS is its peak rounded to float once).
    std::vector<SrsLine> srs;
    // PV = max(positive, negative) g / (2 pi f), in the velocity unit.
    std::vector<double> pseudo_velocity;
    // With a specification: its rows (spec, both margins in dB) and the verdict.
    std::optional<Compliance> compliance;
    HistoryEnvelopes history;   // empty unless settings.envelope_groups > 0
};

// The grid against a record's sample rate.  A frequency above rate / 4 throws
// QuorelError naming the first such frequency and the record; the return is
// the first frequency above rate / 10 (peaks between samples may be missed
// there), or nothing.
std::optional<double> check_grid_rate(const CheckGrid& grid, double sample_rate, const std::string& record_name);

// The figures of one record (velocity and displacement by the trapezoid from
// rest, in the reporting units of settings.units).
RecordFigures record_figures(const CheckInput& input, int32_t units, int64_t envelope_groups = 0,
                             HistoryEnvelopes* history = nullptr);

// Checks every record: the figures, the SRS, and with a specification the
// margins and the verdict.  A failing SRS (a response that never leaves zero
// in one direction) throws QuorelError.  The results are the same for any
// thread count.
std::vector<RecordCheck> check_records(const std::vector<CheckInput>& inputs, const CheckGrid& grid,
                                       const CheckSettings& settings);

// How a record was checked, for the document.
struct CheckDescription {
    std::string file;
    double start_time = 0.0;      // sec, the record's first sample
    int32_t header_lines = 0;
    std::string algorithm;        // "smallwood" or "kelly-richman"
    double damping_ratio = 0.0;
    std::optional<double> q;      // as given, or of the ratio (none for zero damping)
    std::string spacing;          // the grid's octave spacing, "1/6"
    int32_t units = 1;
    bool residual = true;
    std::optional<double> mean_removed;   // the mean subtracted, acceleration unit
    std::optional<double> scale;          // every sample was multiplied by it first (--scale)
    std::vector<ConditioningStep> conditioning;   // in the order done
};

// The JSON document of one record: record, settings, units, srs, verdict.
// Text, two-space indented (invalid UTF-8 in a name replaced).
std::string check_json(const CheckDescription& description, const RecordCheck& check);
// {"records": [...]} of several.
std::string check_json(const std::vector<CheckDescription>& descriptions, const std::vector<RecordCheck>& checks);

// The CSV table: frequency, spec, positive, negative, maximax,
// pseudo-velocity and both margins in dB (%.9g; empty cells without a
// specification), under a header row naming the units.
std::string check_csv(const RecordCheck& check, int32_t units);

// The console text of one record: its figures, then the compliance table and
// the verdict lines (or the SRS table without a specification).
std::string check_text(const CheckDescription& description, const RecordCheck& check, const std::string& spec_name);

}  // namespace quorel
