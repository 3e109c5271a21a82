#pragma once
// Acceptance rules of a test: tolerance bands around the specification, each
// with the share of points that must lie inside it, and optionally the share
// of points that must reach the specification.  Test standards write their
// tolerances this way, e.g. -1.5/+3 dB on at least 90 % of the points and
// -3/+6 dB on all of them, judged on the maximax SRS or on each polarity.
//
// The rules come from a small TOML file:
//   srs = "maximax"            # or "each": both polarities are points
//   [[band]]                   # any number of bands
//   low = -1.5                 # dB, 20 log10(SRS / spec)
//   high = 3.0
//   min_share = 0.9            # share of points inside; default 1
//   from_hz = 100              # optional frequency range of the band
//   to_hz = 10000
//   [above_nominal]            # optional
//   min_share = 0.5
#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorel {

// Band edges lie within ±60 dB, a thousand times the specification or a
// thousandth of it.
inline constexpr double band_limit_db = 60.0;

// A response exactly on a band edge is inside: the margin of a response that
// is the edge value itself differs from the edge only by rounding.
inline constexpr double band_edge_tolerance_db = 1e-9;

struct ToleranceBand {
    double low_db = 0.0;
    double high_db = 0.0;
    double min_share = 1.0;   // 0 < min_share <= 1
    double from_hz = 0.0;     // the band judges the points from_hz <= f <= to_hz
    double to_hz = std::numeric_limits<double>::infinity();

    bool covers(double freq) const { return from_hz <= freq && freq <= to_hz; }
    bool limited() const { return from_hz > 0.0 || to_hz < std::numeric_limits<double>::infinity(); }
};

// Which values of an SRS are the points judged.
enum class SrsPoints {
    maximax,   // one point per frequency: the larger of the two polarities
    each,      // two points per frequency: the positive and the negative peak
};

struct AcceptanceRules {
    std::string name;   // the file, for the messages and the report
    SrsPoints points = SrsPoints::maximax;
    std::vector<ToleranceBand> bands;
    std::optional<double> above_nominal_share;   // share of points at or above the specification
};

// -band_limit_db <= low_db < high_db <= band_limit_db.
bool valid_band(double low_db, double high_db);

// 20 log10(response / specification).
double margin_db(double response, double specification);

// low - tol <= margin <= high + tol.
bool inside(const ToleranceBand& band, double margin);

// At or above the specification, to the same tolerance.
inline bool at_or_above(double margin) { return margin >= -band_edge_tolerance_db; }

// Parses the rules of the TOML text of file `name`.  Every fault throws
// QuorelError naming the file, the line and the key: a syntax error, an
// unknown key, a value of the wrong type or out of range, a band with
// low >= high, a frequency range with from_hz > to_hz, and a file with
// nothing to judge.  Without `numbered_lines` (rules that were never a file
// the user wrote) a fault names `name` and the key alone.
AcceptanceRules parse_acceptance(const std::string& name, std::string_view text, bool numbered_lines = true);

// Reads and parses the file (a regular file of at most 1 MiB).
AcceptanceRules read_acceptance_file(const std::string& name);

// An SRS and its specification at the same frequencies; the negative peak as
// a magnitude.
struct SrsComparison {
    std::span<const double> freq, spec, positive, negative;
};

// Points judged and points inside (or, for the above-nominal rule, reaching
// the specification).
struct ShareCount {
    long inside = 0;
    long total = 0;
    double min_share = 1.0;
    double share() const { return total > 0 ? static_cast<double>(inside) / static_cast<double>(total) : 0.0; }
    bool pass() const { return total > 0 && share() >= min_share; }
};

// Counts of one band; nothing is allocated.
ShareCount judge_band(const AcceptanceRules& rules, const ToleranceBand& band, const SrsComparison& srs);
ShareCount judge_above_nominal(const AcceptanceRules& rules, const SrsComparison& srs);

struct AcceptanceVerdict {
    std::vector<ShareCount> bands;              // in the order of the rules
    std::optional<ShareCount> above_nominal;
    bool pass = false;
};

AcceptanceVerdict judge_acceptance(const AcceptanceRules& rules, const SrsComparison& srs);

// The overall verdict alone, without allocating (for every trial of a run).
bool passes_acceptance(const AcceptanceRules& rules, const SrsComparison& srs);

// A band whose frequency range holds none of `freq` can never be judged:
// throws QuorelError naming the file and the band.
void check_band_ranges(const AcceptanceRules& rules, std::span<const double> freq);

// "100-10000 Hz", "from 100 Hz", "up to 10000 Hz" or "all frequencies".
std::string band_range(const ToleranceBand& band);

// "-1.5/+3 dB", with its range for a band with a frequency range:
// "-1.5/+3 dB 100-10000 Hz", "-6/+6 dB from 100 Hz".
std::string band_label(const ToleranceBand& band);

// The verdict as report lines, each starting with `indent`:
//   Band -1.5/+3 dB             19 of  20 points inside   ( 95.0 %, at least  90.0 %)   PASS
//   Above nominal               12 of  20 points          ( 60.0 %, at least  50.0 %)   PASS
//   Acceptance (rules.toml, maximax): PASS
std::string verdict_lines(const AcceptanceRules& rules, const AcceptanceVerdict& verdict, const char* indent);

}  // namespace quorel
