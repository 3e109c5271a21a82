#include "plot/compliance.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel::plot {

std::vector<Band> default_bands() { return {{-3.0, 3.0}, {-6.0, 6.0}}; }

bool valid_band(const Band& band) {
    return -band_limit_db <= band.low_db && band.low_db < band.high_db && band.high_db <= band_limit_db;
}

Band parse_band(const std::string& text) {
    Band band;
    const size_t comma = text.find(',');
    bool good = comma != std::string::npos;
    if (good) {
        const std::string low = text.substr(0, comma);
        const std::string high = text.substr(comma + 1);
        char* end_low = nullptr;
        char* end_high = nullptr;
        band.low_db = std::strtod(low.c_str(), &end_low);
        band.high_db = std::strtod(high.c_str(), &end_high);
        good = !low.empty() && !high.empty() && *end_low == '\0' && *end_high == '\0' &&
               std::isfinite(band.low_db) && std::isfinite(band.high_db) && band.low_db < band.high_db;
    }
    if (!good) {
        throw QuorelError(
            format("\n Error: --band %s: expected LOW,HIGH in dB with LOW < HIGH, e.g. --band -3,6 \n", text.c_str()));
    }
    if (!valid_band(band)) {
        throw QuorelError(format("\n Error: --band %s: band edges must lie within -%g and +%g dB \n", text.c_str(),
                                 band_limit_db, band_limit_db));
    }
    return band;
}

std::string edge_label(double db) { return format("%+g dB", db); }

std::string band_label(const Band& band) { return format("%+g/%+g dB", band.low_db, band.high_db); }

std::optional<double> spec_at(const std::vector<SpecPoint>& spec, double f) {
    if (spec.empty() || !std::isfinite(f)) return std::nullopt;
    const SpecPoint& first = spec.front();
    const SpecPoint& last = spec.back();
    auto near = [](double end, double g) { return std::fabs(g - end) <= std::max(1e-4 * end, 5e-4); };
    if (f <= first.freq) return near(first.freq, f) ? std::optional<double>(first.accel) : std::nullopt;
    if (f >= last.freq) return near(last.freq, f) ? std::optional<double>(last.accel) : std::nullopt;

    // First point at or above f; first.freq < f < last.freq, so k >= 1.
    const auto above = std::lower_bound(spec.begin(), spec.end(), f,
                                        [](const SpecPoint& p, double g) { return p.freq < g; });
    if (above->freq == f) return above->accel;
    const SpecPoint& a = *(above - 1);
    const SpecPoint& b = *above;
    const double x = (std::log10(f) - std::log10(a.freq)) / (std::log10(b.freq) - std::log10(a.freq));
    return std::pow(10.0, std::log10(a.accel) + x * (std::log10(b.accel) - std::log10(a.accel)));
}

double margin_db(double response, double specification) { return 20.0 * std::log10(response / specification); }

bool inside(const Band& band, double margin) {
    return band.low_db - band_edge_tolerance_db <= margin && margin <= band.high_db + band_edge_tolerance_db;
}

Compliance assess(const std::vector<SpecPoint>& spec, const std::vector<SrsLine>& srs, const std::string& srs_name,
                  const std::vector<Band>& bands) {
    Compliance c;
    for (size_t k = 0; k < srs.size(); ++k) {
        const SrsLine& s = srs[k];
        const std::optional<double> a = spec_at(spec, s.freq);
        if (!a) {
            throw QuorelError(format("\n Error: %s line %zu: frequency %g Hz is outside the specification (%g to %g Hz) \n",
                                     srs_name.c_str(), k + 1, s.freq, spec.front().freq, spec.back().freq));
        }
        c.rows.push_back({s.freq, *a, s.positive, s.negative, margin_db(s.positive, *a), margin_db(s.negative, *a)});
    }
    for (const Band& band : bands) {
        BandResult r{band, 0, 2 * static_cast<long>(c.rows.size())};
        for (const ComplianceRow& row : c.rows) r.inside += inside(band, row.positive_db) + inside(band, row.negative_db);
        c.bands.push_back(r);
    }
    return c;
}

namespace {

// "ok" when both polarities are inside; otherwise "+hi", "-lo", "+hi -lo" ...:
// the polarity outside and the edge it crosses.
std::string band_cell(const Band& band, const ComplianceRow& row) {
    std::string cell;
    auto note = [&](const char* sign, double db) {
        if (inside(band, db)) return;
        if (!cell.empty()) cell += ' ';
        cell += sign;
        cell += db > band.high_db ? "hi" : "lo";
    };
    note("+", row.positive_db);
    note("-", row.negative_db);
    return cell.empty() ? "ok" : cell;
}

}  // namespace

std::string compliance_table(long trial, const std::string& spec_name, const std::string& accel_unit,
                             const Compliance& compliance) {
    const std::string unit = "(" + accel_unit + ")";
    std::string text = format("\n Trial %ld: SRS against %s, margin = 20 log10(SRS / spec) \n\n", trial, spec_name.c_str());
    text += format("   Freq(Hz) %13s %13s %13s   Pos(dB)   Neg(dB)", ("Spec" + unit).c_str(), ("Pos" + unit).c_str(),
                   ("Neg" + unit).c_str());
    for (const BandResult& b : compliance.bands) text += format(" %12s", band_label(b.band).c_str());
    text += "\n";
    for (const ComplianceRow& row : compliance.rows) {
        // A margin that rounds to zero prints as 0.000, not -0.000.
        auto shown = [](double db) { return std::fabs(db) < 5e-4 ? 0.0 : db; };
        text += format(" %10.3f %#13.4g %#13.4g %#13.4g %9.3f %9.3f", row.freq, row.spec, row.positive, row.negative,
                       shown(row.positive_db), shown(row.negative_db));
        for (const BandResult& b : compliance.bands) text += format(" %12s", band_cell(b.band, row).c_str());
        text += "\n";
    }
    text += "\n";
    for (const BandResult& b : compliance.bands) {
        text += format("   Band %-14s %4ld of %4ld points inside (%5.1f %%)   %s \n", band_label(b.band).c_str(), b.inside,
                       b.total, b.total > 0 ? 100.0 * static_cast<double>(b.inside) / static_cast<double>(b.total) : 0.0,
                       b.pass() ? "PASS" : "FAIL");
    }
    return text;
}

}  // namespace quorel::plot
