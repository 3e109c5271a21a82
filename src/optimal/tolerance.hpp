#pragma once
// The band each polarity of the optimal drive's SRS must stay in at every
// grid frequency, in dB about the specification.
//
// Without acceptance rules it is the tolerance, -1.5/+3 dB unless given.
// With rules it is, at each frequency, the tightest of the rules' bands that
// cover it (and at least the specification when the rules ask for a share
// at or above it), narrowed further by a tolerance given: a drive whose every
// polarity lies inside it passes the rules whatever their shares, judged on
// the maximax SRS or on each polarity.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "acceptance/acceptance.hpp"

namespace quorel {

struct DbBand {
    double low_db = -1.5;
    double high_db = 3.0;
};

inline constexpr DbBand default_tolerance{-1.5, 3.0};

// "LOW:HIGH" in dB, e.g. "-1.5:3": LOW < HIGH, both within band_limit_db.
// Throws QuorelError naming --tolerance.
DbBand parse_tolerance(const std::string& text);

// The band of every frequency of `freq` (Hz).  Throws QuorelError naming the
// frequency when the bands that cover it leave nothing between them.
std::vector<DbBand> polarity_bands(std::span<const float> freq, const std::optional<DbBand>& tolerance,
                                   const AcceptanceRules* rules);

}  // namespace quorel
