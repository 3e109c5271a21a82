#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

namespace quorel {

// Truncation toward zero, clamped to the int32 range (NaN gives 0): an
// out-of-range double is never converted to an integer.
inline int32_t truncate_to_int32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

}  // namespace quorel

namespace quorel {

// 2 pi in double, as twice atan2(0, -1).
inline double two_pi() { return 2.0 * std::atan2(0.0, -1.0); }

}  // namespace quorel
