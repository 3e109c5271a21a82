#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "specification/srs_spec.hpp"

namespace quorel {

// The octave spacings of a grid: the synthesis offers the first three, the
// check all four.
enum class OctaveSpacing { third, sixth, twelfth, twenty_fourth };

// The spacing as a fraction of an octave, held as a float.
float octave_fraction(OctaveSpacing spacing);
// The dialogue's menu: 2 -> 1/6, 3 -> 1/12, any other answer 1/3.
OctaveSpacing octave_spacing_for_answer(int32_t answer);
// The name of a spacing: "1/3", "1/6", "1/12" or "1/24".
const char* octave_spacing_name(OctaveSpacing spacing);
// The spacing of a name; nothing for another.
std::optional<OctaveSpacing> octave_spacing_named(std::string_view name);

// Builds the grid from the as-read points: f_0 = first input frequency, each
// further frequency the previous one times 2^fraction (rounded to float, so the
// rounding accumulates), up to the last input frequency, which closes the grid
// if not already on it.  Accelerations by straight lines in log-log coordinates.
// Returns true when the grid had more than 125 points and was cut to the
// first 125.  A frequency so small (subnormal) that a step does not advance it
// ends the run (QuorelError).
bool build_octave_grid(SrsSpec& spec, float octave_fraction);

// The same grid of any length: every point while there are at most `limit`,
// else the first `limit` and points = limit + 1 (the walk stops there).
struct OctaveGrid {
    std::vector<float> freq;    // Hz, ascending
    std::vector<float> accel;   // specification acceleration at freq
    int32_t points = 0;
};
OctaveGrid octave_grid(const SrsSpec& spec, float octave_fraction, int32_t limit);

}  // namespace quorel
