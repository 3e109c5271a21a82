#include "acceptance/compliance.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

std::optional<ToleranceBand> parse_band_text(const std::string& text, char separator) {
    const size_t at = text.find(separator);
    if (at == std::string::npos) return std::nullopt;
    const std::string low = text.substr(0, at);
    const std::string high = text.substr(at + 1);
    char* end_low = nullptr;
    char* end_high = nullptr;
    ToleranceBand band;
    band.low_db = std::strtod(low.c_str(), &end_low);
    band.high_db = std::strtod(high.c_str(), &end_high);
    const bool good = !low.empty() && !high.empty() && *end_low == '\0' && *end_high == '\0' &&
                      std::isfinite(band.low_db) && std::isfinite(band.high_db) && band.low_db < band.high_db;
    if (!good) return std::nullopt;
    return band;
}

ToleranceBand parse_band_option(const std::string& text) {
    const std::optional<ToleranceBand> band = parse_band_text(text, ',');
    if (!band) {
        throw QuorelError(
            format("\n Error: --band %s: expected LOW,HIGH in dB with LOW < HIGH, e.g. --band -3,6 \n", text.c_str()));
    }
    if (!valid_band(band->low_db, band->high_db)) {
        throw QuorelError(format("\n Error: --band %s: band edges must lie within -%g and +%g dB \n", text.c_str(),
                                 band_limit_db, band_limit_db));
    }
    return *band;
}

AcceptanceRules band_rules(const std::vector<ToleranceBand>& bands) {
    AcceptanceRules rules;
    rules.points = SrsPoints::each;
    if (bands.empty()) {
        rules.name = "default bands";
        rules.bands = {{-3.0, 3.0}, {-6.0, 6.0}};
    } else {
        rules.name = "--band";
        rules.bands = bands;
    }
    return rules;
}

std::string edge_label(double db) { return format("%+g dB", db); }

Compliance assess(const std::vector<SpecPoint>& spec, const std::vector<SrsLine>& srs, const std::string& srs_name,
                  const AcceptanceRules& rules) {
    std::vector<ComplianceRow> rows;
    for (size_t k = 0; k < srs.size(); ++k) {
        const SrsLine& s = srs[k];
        const std::optional<double> a = spec_at(spec, s.freq);
        if (!a) {
            throw QuorelError(format("\n Error: %s line %zu: frequency %g Hz is outside the specification (%g to %g Hz) \n",
                                     srs_name.c_str(), k + 1, s.freq, spec.front().freq, spec.back().freq));
        }
        rows.push_back({s.freq, *a, s.positive, s.negative});
    }
    return assess_rows(std::move(rows), rules);
}

Compliance assess_rows(std::vector<ComplianceRow> rows, const AcceptanceRules& rules) {
    Compliance c;
    c.rules = rules;
    c.rows = std::move(rows);
    std::vector<double> freq, spec_values, positive, negative;
    for (ComplianceRow& row : c.rows) {
        row.positive_db = margin_db(row.positive, row.spec);
        row.negative_db = margin_db(row.negative, row.spec);
        freq.push_back(row.freq);
        spec_values.push_back(row.spec);
        positive.push_back(row.positive);
        negative.push_back(row.negative);
    }
    check_band_ranges(rules, freq);
    c.verdict = judge_acceptance(rules, {freq, spec_values, positive, negative});
    return c;
}

namespace {

// "--" beyond the band's range, "ok" when every point of the frequency is
// inside; otherwise the points outside and the edge each crosses: "+hi",
// "-lo", "+hi -lo" for each polarity, "hi" or "lo" for the maximax point.
std::string band_cell(SrsPoints points, const ToleranceBand& band, const ComplianceRow& row) {
    if (!band.covers(row.freq)) return "--";
    std::string cell;
    auto note = [&](const char* sign, double db) {
        if (inside(band, db)) return;
        if (!cell.empty()) cell += ' ';
        cell += sign;
        cell += db > band.high_db ? "hi" : "lo";
    };
    if (points == SrsPoints::maximax) {
        // The margin of the larger peak, as the rules judge it.
        note("", margin_db(std::max(row.positive, row.negative), row.spec));
    } else {
        note("+", row.positive_db);
        note("-", row.negative_db);
    }
    return cell.empty() ? "ok" : cell;
}

}  // namespace

std::string compliance_table(const std::string& subject, const std::string& spec_name, const std::string& accel_unit,
                             const Compliance& compliance) {
    const AcceptanceRules& rules = compliance.rules;
    const std::string unit = "(" + accel_unit + ")";
    std::string text = format("\n %s: SRS against %s, margin = 20 log10(SRS / spec) \n\n", subject.c_str(), spec_name.c_str());
    text += format("   Freq(Hz) %13s %13s %13s   Pos(dB)   Neg(dB)", ("Spec" + unit).c_str(), ("Pos" + unit).c_str(),
                   ("Neg" + unit).c_str());
    // A band with a frequency range has a longer label: its column widens.
    std::vector<int> widths;
    for (const ToleranceBand& band : rules.bands) {
        const std::string label = band_label(band);
        widths.push_back(std::max(12, static_cast<int>(label.size())));
        text += format(" %*s", widths.back(), label.c_str());
    }
    text += "\n";
    for (const ComplianceRow& row : compliance.rows) {
        // A margin that rounds to zero prints as 0.000, not -0.000.
        auto shown = [](double db) { return std::fabs(db) < 5e-4 ? 0.0 : db; };
        text += format(" %10.3f %#13.4g %#13.4g %#13.4g %9.3f %9.3f", row.freq, row.spec, row.positive, row.negative,
                       shown(row.positive_db), shown(row.negative_db));
        for (size_t b = 0; b < rules.bands.size(); ++b) {
            text += format(" %*s", widths[b], band_cell(rules.points, rules.bands[b], row).c_str());
        }
        text += "\n";
    }
    return text + "\n" + verdict_lines(rules, compliance.verdict, "   ");
}

}  // namespace quorel
