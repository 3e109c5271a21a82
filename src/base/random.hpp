#pragma once
// The program's only random generator: a 15-bit linear congruential generator
// with a fixed starting state.  The user's "arbitrary integer" never seeds it; it
// only sets how many values are discarded, so identical answers and files give
// identical runs.
#include <cstdint>

namespace quorel {

struct RandomGenerator {
    uint32_t state = 1;
};

// state <- state * 214013 + 2531011 (mod 2^32); result = bits 16..30 of the state.
inline int next_random(RandomGenerator& rng) {
    rng.state = rng.state * 214013u + 2531011u;
    return static_cast<int>((rng.state >> 16) & 0x7FFFu);
}

// A value in [0, 1]; both ends occur.
inline double random_unit(RandomGenerator& rng) { return next_random(rng) / 32767.0; }

// Drops seed - 1 values (none for a seed of 1 or less), as seed - 1 calls of
// next_random would.  n steps of the recurrence are themselves an affine map
// x -> mul x + add (mod 2^32), composed here from the maps of 2^k steps in
// O(log n): a seed of two billion costs no more than one of ten, where stepping
// one by one would hold every trial for seconds.
inline void discard_draws(RandomGenerator& rng, int32_t seed) {
    if (seed <= 1) return;
    uint32_t steps = static_cast<uint32_t>(seed) - 1u;
    uint32_t mul = 1u, add = 0u;                         // the steps taken so far
    uint32_t block_mul = 214013u, block_add = 2531011u;  // 2^k steps
    while (steps != 0) {
        if ((steps & 1u) != 0) {
            mul *= block_mul;
            add = add * block_mul + block_add;
        }
        // The block twice: x -> m (m x + c) + c = m^2 x + c (m + 1).
        block_add *= block_mul + 1u;
        block_mul *= block_mul;
        steps >>= 1;
    }
    rng.state = rng.state * mul + add;
}

}  // namespace quorel
