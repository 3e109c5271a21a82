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
#include "base/srs_algorithm.hpp"
#include "base/units.hpp"
#include "acceptance/acceptance.hpp"
#include "acceptance/compliance.hpp"
#include "srs/pseudo_velocity.hpp"

namespace quorel {

// The frequencies a record is checked at.
struct CheckGrid {
    std::vector<float> freq;   // Hz, ascending, at most max_check_frequencies
    std::vector<float> spec;   // the specification at freq; empty without one (no margins, no verdict)
};

struct CheckSettings {
    SrsAlgorithm algorithm = SrsAlgorithm::smallwood;
    float damping = 0.05f;     // ratio of critical
    UnitSystem units = UnitSystem::english;   // the factors of velocity and displacement
    bool residual = true;      // follow each frequency one period past the last sample
    // Also the pseudo-velocity spectrum; without it RecordCheck::pvss is empty
    // (the SRS alone, for a caller that writes no document of the check).
    bool pseudo_velocity = true;
    // Also the other spectra of the same oscillator (RecordCheck::spectra).
    bool spectra = false;
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

// The other spectra of the oscillator at one frequency, each the larger
// polarity, each peak rounded to float once and then converted to its unit.
struct SpectraLine {
    double freq = 0.0;                    // Hz
    double relative_displacement = 0.0;   // max |z|, displacement unit
    double relative_velocity = 0.0;       // max |z'|, velocity unit
    double pseudo_velocity = 0.0;         // w max |z|, velocity unit
    double primary = 0.0;                 // max |absolute acceleration| during the record
    double residual = 0.0;                // after it (one period at rest); 0 without the residual phase
};

struct RecordCheck {
    RecordFigures figures;
    // Per grid frequency: the positive and the negative peak (each a float's
    // value: the SRS is its peak rounded to float once); a polarity the
    // response never reaches has the peak 0.
    std::vector<SrsLine> srs;
    // Per grid frequency: the pseudo velocity of each polarity, w max(-z) and
    // w max(z) of the relative displacement z, in the velocity unit; the
    // pseudo velocity of the record is the larger.
    std::vector<PvssLine> pvss;
    // With settings.spectra: per grid frequency the other spectra.
    std::vector<SpectraLine> spectra;
    // With a specification: its rows (spec, both margins in dB; -inf for a
    // peak 0, outside every band) and the verdict.
    std::optional<Compliance> compliance;
    HistoryEnvelopes history;   // empty unless settings.envelope_groups > 0
};

// The figures of one record (velocity and displacement by the trapezoid from
// rest, in the reporting units of settings.units).
RecordFigures record_figures(const CheckInput& input, UnitSystem units, int64_t envelope_groups = 0,
                             HistoryEnvelopes* history = nullptr);

// Checks every record: the figures, the SRS, the pseudo-velocity spectrum,
// and with a specification the margins and the verdict.  A record whose every
// sample is zero throws QuorelError naming it.  The results are the same for
// any thread count.
std::vector<RecordCheck> check_records(const std::vector<CheckInput>& inputs, const CheckGrid& grid,
                                       const CheckSettings& settings);

}  // namespace quorel
