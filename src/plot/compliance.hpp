#pragma once
// Tolerance compliance of an SRS against its specification: the specification
// at each grid frequency, the margin of each polarity in dB, and the share of
// points inside each tolerance band.  No I/O.
#include <optional>
#include <string>
#include <vector>

#include "plot/run_files.hpp"

namespace quorel::plot {

// A tolerance band (low_db, high_db) around the specification, low_db < high_db.
struct Band {
    double low_db = 0.0;
    double high_db = 0.0;
};

// A response exactly on a band edge is inside: the margin of a response that is
// the edge value itself differs from the edge only by rounding.
inline constexpr double band_edge_tolerance_db = 1e-9;

// The bands drawn and judged when none is given: ±3 dB and ±6 dB.
std::vector<Band> default_bands();

// Band edges lie within ±60 dB, a thousand times the specification or a
// thousandth of it: the plotted range stays finite and meaningful.
inline constexpr double band_limit_db = 60.0;

// -band_limit_db <= low_db < high_db <= band_limit_db.
bool valid_band(const Band& band);

// "LOW,HIGH" in dB, e.g. "-1.5,3", a valid band.  Throws QuorelError naming
// the argument.
Band parse_band(const std::string& text);

// "-3 dB" / "+3 dB" for the edges, "-1.5/+3 dB" for the band.
std::string edge_label(double db);
std::string band_label(const Band& band);

// The specification at frequency f: a straight line in log10(f)-log10(a)
// between the two points that bracket f,
//   log10 a = log10 a_k + (log10 f - log10 f_k) (log10 a_k+1 - log10 a_k) / (log10 f_k+1 - log10 f_k).
// Frequencies within the printing precision of an SRS file beyond either end
// (relative 1e-4, or 5e-4 Hz for its three decimals) take the end value;
// further out there is no value.
std::optional<double> spec_at(const std::vector<SpecPoint>& spec, double f);

// 20 log10(response / specification).
double margin_db(double response, double specification);

// low - tol <= margin <= high + tol.
bool inside(const Band& band, double margin);

struct ComplianceRow {
    double freq = 0.0;
    double spec = 0.0;
    double positive = 0.0;
    double negative = 0.0;
    double positive_db = 0.0;
    double negative_db = 0.0;
};

struct BandResult {
    Band band;
    long inside = 0;   // points (two per frequency) inside the band
    long total = 0;
    bool pass() const { return inside == total; }
};

struct Compliance {
    std::vector<ComplianceRow> rows;
    std::vector<BandResult> bands;
};

// Judges every line of an SRS file.  A frequency outside the specification's
// range throws QuorelError naming srs_name and the line.
Compliance assess(const std::vector<SpecPoint>& spec, const std::vector<SrsLine>& srs, const std::string& srs_name,
                  const std::vector<Band>& bands);

// The console table: per frequency the specification, both polarities and
// their margins with a column per band ("ok", or the polarities outside and on
// which side), then per band the share of points inside and PASS or FAIL.
std::string compliance_table(long trial, const std::string& spec_name, const std::string& accel_unit,
                             const Compliance& compliance);

}  // namespace quorel::plot
