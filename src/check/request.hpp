#pragma once
// A check as a front end asks for it, and its preparation: the damping from
// Q, the grid of the specification or of a frequency range, the acceptance
// rules judged on that grid, and the names of the files records would write.
// The command line and the Python module prepare their checks here, the same
// way; the records' conditioning (the mean or pretrigger taken off among it)
// is record/conditioning's.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "acceptance/acceptance.hpp"
#include "check/records.hpp"
#include "record/conditioning.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

struct CheckRequest {
    SrsAlgorithm algorithm = SrsAlgorithm::smallwood;
    std::optional<float> q;              // damping as Q (10 when neither is given)
    std::optional<float> damping;        // or as a ratio of critical
    UnitSystem units = UnitSystem::english;
    std::string spacing = "1/6";         // "1/3", "1/6", "1/12" or "1/24"
    // The specification's points as read, or the two ends of a frequency
    // range (with_spec false: no specification on the grid, no verdict).
    SrsSpec points;
    bool with_spec = true;
    std::optional<AcceptanceRules> rules;   // default: -3/+3 and -6/+6 dB on each polarity
    bool residual = true;
    int32_t threads = 0;                 // 0: every hardware thread
};

struct PreparedCheck {
    CheckSettings settings;
    CheckGrid grid;
    std::optional<double> q;             // as given, or of the ratio (none for zero damping)
};

// The SRS settings of a check alone (no grid, no rules): for an SRS at given
// frequencies.
PreparedCheck prepare_check_settings(const CheckRequest& request);

// The settings and the grid of a check; a grid of too many frequencies or a
// band outside it throws QuorelError.
PreparedCheck prepare_check(const CheckRequest& request);

// The octave fraction of a spacing: "1/3", "1/6", "1/12" or "1/24".
float check_octave_fraction(const std::string& spacing);

// The check grid of a specification's as-read points at that spacing (at most
// max_check_frequencies, else QuorelError), with the specification on it when
// `with_spec`.
CheckGrid check_grid(const SrsSpec& points, float fraction, const std::string& spacing, bool with_spec);

// The grid against a record's sample rate.  A frequency above rate / 4 throws
// QuorelError naming the first such frequency and the record; the return is
// the first frequency above rate / 10 (peaks between samples may be missed
// there), or nothing.
std::optional<double> check_grid_rate(const CheckGrid& grid, double sample_rate, const std::string& record_name);

// Whether record r's outputs in `output_dir` would have the stem of an
// earlier record's: throws QuorelError naming both records.
void check_output_stem(const std::vector<std::string>& records, const std::vector<std::string>& stems, size_t r,
                       const std::string& output_dir);

}  // namespace quorel
