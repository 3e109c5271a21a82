#pragma once
// Tolerance compliance of an SRS against its specification: the specification
// at each frequency of the SRS, the margin of each polarity in dB, the verdict
// of the acceptance rules (judge_acceptance, as the synthesis judges its
// trials) on those points, and the table that shows them.  Used by quorel-plot
// on a run's files and by quorel check on a measured record.  No I/O.
#include <optional>
#include <string>
#include <vector>

#include "acceptance/acceptance.hpp"
#include "specification/interpolation.hpp"

namespace quorel {

// One frequency of an SRS: natural frequency (Hz), positive peak, negative
// peak magnitude (acceleration unit).
struct SrsLine {
    double freq = 0.0;
    double positive = 0.0;
    double negative = 0.0;
};

// "LOW<separator>HIGH" in dB, both finite with LOW < HIGH (the edges not
// yet held to band_limit_db); none for any other text.
std::optional<ToleranceBand> parse_band_text(const std::string& text, char separator);

// "LOW,HIGH" in dB, e.g. "-1.5,3", a valid band on every point (min_share 1,
// no frequency range).  Throws QuorelError naming the --band argument.
ToleranceBand parse_band_option(const std::string& text);

// The rules of --band: every band on every point of each polarity.  Without
// bands, the default rules: ±3 dB and ±6 dB.
AcceptanceRules band_rules(const std::vector<ToleranceBand>& bands);

// "-3 dB" / "+3 dB" for the edges.
std::string edge_label(double db);

struct ComplianceRow {
    double freq = 0.0;
    double spec = 0.0;
    double positive = 0.0;
    double negative = 0.0;
    double positive_db = 0.0;
    double negative_db = 0.0;
};

struct Compliance {
    std::vector<ComplianceRow> rows;
    AcceptanceRules rules;
    AcceptanceVerdict verdict;
};

// Judges every line of an SRS file against the rules.  A frequency outside
// the specification's range throws QuorelError naming srs_name and the line;
// a band whose frequency range holds no line of the file throws naming the
// rules' file and the band.
Compliance assess(const std::vector<SpecPoint>& spec, const std::vector<SrsLine>& srs, const std::string& srs_name,
                  const AcceptanceRules& rules);

// Judges rows whose freq, spec, positive and negative are set (the margins
// are computed here); a band whose frequency range holds no row throws as
// assess does.
Compliance assess_rows(std::vector<ComplianceRow> rows, const AcceptanceRules& rules);

// The console table: per frequency the specification, both polarities and
// their margins with a column per band ("ok"; the points outside and on which
// side, "+hi -lo" for each polarity, "hi" or "lo" for the maximax point; "--"
// beyond the band's frequency range), then the verdict lines of the rules.
// The heading reads "<subject>: SRS against <spec_name>, ...".
std::string compliance_table(const std::string& subject, const std::string& spec_name, const std::string& accel_unit,
                             const Compliance& compliance);

}  // namespace quorel
