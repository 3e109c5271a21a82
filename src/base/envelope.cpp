#include "base/envelope.hpp"

#include <algorithm>

namespace quorel {

Envelope::Envelope(int64_t count, int64_t groups) : count_(std::max<int64_t>(count, 0)), groups_(std::max<int64_t>(groups, 1)) {
    kept_.reserve(static_cast<size_t>(std::min(count_, 2 * groups_)));
}

void Envelope::add(double time, double value) {
    const int64_t k = added_++;
    if (count_ <= 2 * groups_) {
        kept_.push_back({time, value});
        return;
    }
    if (!open_) {
        // Group g holds the samples [g count / groups, (g + 1) count / groups).
        group_end_ = (group_ + 1) * count_ / groups_;
        low_ = high_ = {time, value};
        open_ = true;
    } else {
        if (value < low_.value) low_ = {time, value};
        if (value > high_.value) high_ = {time, value};
    }
    if (k + 1 >= group_end_) close_group();
}

void Envelope::close_group() {
    if (!open_) return;
    if (low_.time == high_.time) {
        kept_.push_back(low_);
    } else if (low_.time < high_.time) {
        kept_.push_back(low_);
        kept_.push_back(high_);
    } else {
        kept_.push_back(high_);
        kept_.push_back(low_);
    }
    open_ = false;
    ++group_;
}

std::vector<TimedValue> Envelope::points() const {
    if (!open_) return kept_;
    // A series cut short: its open group as it stands.
    Envelope rest = *this;
    rest.close_group();
    return rest.kept_;
}

std::vector<TimedValue> envelope_of(const std::vector<TimedValue>& series, int64_t groups) {
    Envelope envelope(static_cast<int64_t>(series.size()), groups);
    for (const TimedValue& s : series) envelope.add(s.time, s.value);
    return envelope.points();
}

}  // namespace quorel
