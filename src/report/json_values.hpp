#pragma once
// JSON values shared by the documents of the report layer (summary.json and
// the check document), so that a verdict or a unit set reads alike in both.
#include <nlohmann/json.hpp>

#include <optional>

#include "base/units.hpp"
#include "acceptance/acceptance.hpp"

namespace quorel {

using Json = nlohmann::ordered_json;

// {"inside", "points", "share", "min_share", "pass"}
Json share_count_json(const ShareCount& count);
// {"pass", "bands": [share counts], "above_nominal": share count or null}; null without a verdict.
Json verdict_json(const std::optional<AcceptanceVerdict>& verdict);
// {"acceleration", "velocity", "displacement"}: the labels of the unit system.
Json units_json(UnitSystem units);

}  // namespace quorel
