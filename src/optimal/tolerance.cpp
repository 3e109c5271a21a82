#include "optimal/tolerance.hpp"

#include <algorithm>

#include "base/error.hpp"
#include "base/format.hpp"
#include "acceptance/compliance.hpp"

namespace quorel {

DbBand parse_tolerance(const std::string& text) {
    const std::optional<ToleranceBand> band = parse_band_text(text, ':');
    if (!band) {
        throw QuorelError(format(
            "\n Error: --tolerance %s: expected LOW:HIGH in dB with LOW < HIGH, e.g. --tolerance -1.5:3 \n",
            text.c_str()));
    }
    if (!valid_band(band->low_db, band->high_db)) {
        throw QuorelError(format("\n Error: --tolerance %s: band edges must lie within -%g and +%g dB \n",
                                 text.c_str(), band_limit_db, band_limit_db));
    }
    return {band->low_db, band->high_db};
}

std::vector<DbBand> polarity_bands(std::span<const float> freq, const std::optional<DbBand>& tolerance,
                                   const AcceptanceRules* rules) {
    std::vector<DbBand> bands(freq.size(), tolerance.value_or(default_tolerance));
    if (rules == nullptr) return bands;
    for (size_t j = 0; j < freq.size(); ++j) {
        const double f = freq[j];
        DbBand& b = bands[j];
        if (!tolerance) b = {-band_limit_db, band_limit_db};
        for (const ToleranceBand& rule : rules->bands) {
            if (!rule.covers(f)) continue;
            b.low_db = std::max(b.low_db, rule.low_db);
            b.high_db = std::min(b.high_db, rule.high_db);
        }
        if (rules->above_nominal_share) b.low_db = std::max(b.low_db, 0.0);
        if (!(b.low_db < b.high_db)) {
            throw QuorelError(format("\n Error: at %g Hz the tolerance and the bands of %s leave no room: %+g/%+g dB \n",
                                     f, rules->name.c_str(), b.low_db, b.high_db));
        }
    }
    return bands;
}

}  // namespace quorel
