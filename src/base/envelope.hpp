#pragma once
// A long series reduced for drawing.  The samples fall in order into equal
// groups; each group keeps its smallest and its largest value, in their time
// order, so a line through the kept points reaches every peak of the full
// series, and a picture a few thousand pixels wide looks the same.  Memory is
// bounded by the number of groups, whatever the length of the series.
#include <cstdint>
#include <vector>

namespace quorel {

struct TimedValue {
    double time = 0.0;   // sec
    double value = 0.0;
};

class Envelope {
public:
    // `count` samples will be added; at most 2 `groups` points are kept (every
    // sample when there are no more than that).
    Envelope(int64_t count, int64_t groups);

    // The next sample, in time order.
    void add(double time, double value);

    // The kept points, in time order (the last group's once it is complete or
    // the series has ended).
    std::vector<TimedValue> points() const;

private:
    void close_group();

    int64_t count_ = 0;
    int64_t groups_ = 1;
    int64_t added_ = 0;
    int64_t group_end_ = 0;   // samples before the end of the open group
    int64_t group_ = 0;
    bool open_ = false;
    TimedValue low_, high_;
    std::vector<TimedValue> kept_;
};

// The envelope of a whole series held in memory.
std::vector<TimedValue> envelope_of(const std::vector<TimedValue>& series, int64_t groups);

}  // namespace quorel
