#pragma once
#include <string>

#include "base/console.hpp"
#include "specification/srs_spec.hpp"

namespace quorel {

// A specification token longer than this is refused as not a number: no
// number needs it, and a runaway token (a binary file) is not kept in memory.
inline constexpr size_t max_spec_token_length = 4096;

// Reads the points of the specification file into the as-read part of the
// specification and checks them.  The file is whitespace-separated tokens
// (blank, tab, CR, LF, VT, FF), after an optional UTF-8 byte order mark;
// every token must be a whole number as strtof reads it, and the numbers pair
// up as frequency (Hz), acceleration.  Then: 1..125 points, every value finite
// and above zero, frequencies strictly ascending, and a lowest frequency the
// synthesis can run (2 pi f_0 above 3 rad/sec).  Each failure ends the run with
// a message naming the file (and the line of a token that is not a number).
// Prints " File: <name> opened. \n" to `out` once the file is open.
void load_spec_points(TextOutput& out, const std::string& file_name, SrsSpec& spec);

// The points of a specification given as numbers, `name` standing for them in
// the messages, with the checks of the file's points.
void set_spec_points(const std::string& name, const float* freq, const float* accel, int32_t count, SrsSpec& spec);

}  // namespace quorel
