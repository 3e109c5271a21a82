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

// Drops seed - 1 values (none for a seed of 1 or less).
inline void discard_draws(RandomGenerator& rng, int32_t seed) {
    for (int32_t counter = 1; counter < seed; ++counter) (void)random_unit(rng);
}

}  // namespace quorel
