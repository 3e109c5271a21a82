#include "record/events.hpp"

#include <algorithm>
#include <cmath>

namespace quorel {

namespace {

// Samples spanning `seconds`, rounded up; bounded so that the index
// arithmetic stays within int64.
int64_t samples_in(double seconds, double sample_rate) {
    const double span = std::ceil(seconds * sample_rate);
    return span < 4.0e18 ? static_cast<int64_t>(std::max(span, 0.0)) : int64_t{4000000000000000000};
}

}  // namespace

std::vector<EventSpan> find_events(std::span<const double> samples, double sample_rate, double level, double pre,
                                   double post) {
    const int64_t n = static_cast<int64_t>(samples.size());
    const int64_t before = samples_in(pre, sample_rate);
    const int64_t after = samples_in(post, sample_rate);
    // Quiet of `post` seconds between two samples at the level: their times
    // differ by at least post.
    const double quiet = post * sample_rate;
    std::vector<EventSpan> windows;
    int64_t start = -1, end = -1;
    auto close = [&] {
        const EventSpan w{std::max<int64_t>(0, start - before), std::min(n - 1, end + std::min(after, n))};
        if (!windows.empty() && w.first <= windows.back().last) {
            windows.back().last = std::max(windows.back().last, w.last);
        } else {
            windows.push_back(w);
        }
    };
    for (int64_t k = 0; k < n; ++k) {
        if (!(std::fabs(samples[static_cast<size_t>(k)]) >= level)) continue;
        if (start >= 0 && static_cast<double>(k - end) >= quiet) {
            close();
            start = -1;
        }
        if (start < 0) start = k;
        end = k;
    }
    if (start >= 0) close();
    return windows;
}

}  // namespace quorel
