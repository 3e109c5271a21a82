#pragma once
// The documents of a checked record: its JSON document, its SRS table as CSV
// and its console text.  Text only; the caller writes it where it belongs.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/units.hpp"
#include "check/records.hpp"
#include "report/json_values.hpp"
#include "record/conditioning.hpp"

namespace quorel {

// How a record was checked, for the document.
struct CheckDescription {
    std::string file;
    double start_time = 0.0;      // sec, the record's first sample
    int32_t header_lines = 0;
    std::string algorithm;        // "smallwood" or "kelly-richman"
    double damping_ratio = 0.0;
    std::optional<double> q;      // as given, or of the ratio (none for zero damping)
    std::string spacing;          // the grid's octave spacing, "1/6"
    UnitSystem units = UnitSystem::english;
    bool residual = true;
    bool spectra = false;                 // the other spectra asked for (--spectra)
    std::optional<double> mean_removed;   // the mean subtracted, acceleration unit
    std::optional<double> scale;          // every sample was multiplied by it first (--scale)
    std::vector<ConditioningStep> conditioning;   // in the order done
};

// The parts of a record's JSON document: "record", the record's figures, and
// "settings", how it was checked.
Json check_record_json(const CheckDescription& description, const RecordFigures& figures);
Json check_settings_json(const CheckDescription& description);

// The JSON document of one record: record, settings, units, srs, verdict.
// Text, two-space indented (invalid UTF-8 in a name replaced).
std::string check_json(const CheckDescription& description, const RecordCheck& check);
// {"records": [...]} of several.
std::string check_json(const std::vector<CheckDescription>& descriptions, const std::vector<RecordCheck>& checks);

// The CSV table: frequency, spec, positive, negative, maximax,
// pseudo-velocity and both margins in dB (%.9g; empty cells without a
// specification, null for the margin of a peak 0), under a header row naming
// the units; with the other spectra, four more columns: relative
// displacement, relative velocity, primary and residual.
std::string check_csv(const RecordCheck& check, UnitSystem units);

// The console text of one record: its figures, then the compliance table and
// the verdict lines (or the SRS table without a specification).
std::string check_text(const CheckDescription& description, const RecordCheck& check, const std::string& spec_name);

}  // namespace quorel
