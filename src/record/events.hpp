#pragma once
// Shock events in one long recording.  A shock starts at a sample where |a|
// reaches the level after at least `post` seconds of quiet (|a| below the
// level), or at the first sample to reach it; it lasts to its last sample at
// or above the level before the next such quiet.  Its window runs from `pre`
// seconds before its start to `post` seconds after its end, within the
// record; windows that overlap merge into one.
#include <cstdint>
#include <span>
#include <vector>

namespace quorel {

struct EventSpan {
    int64_t first = 0, last = 0;   // the window's samples, inclusive
};

// The windows in time order; none when no sample reaches the level.
std::vector<EventSpan> find_events(std::span<const double> samples, double sample_rate, double level, double pre,
                                   double post);

}  // namespace quorel
