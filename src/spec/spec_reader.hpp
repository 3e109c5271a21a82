#pragma once
#include <string>

#include "run/console.hpp"
#include "spec/srs_spec.hpp"

namespace quorel {

// Asks for the specification file name, reads its frequency/acceleration pairs
// and sets the output file names.
void read_spec_file(Console& console, SrsSpec& spec, OutputNames& names);

// Reads the pairs of an open-able file into the as-read part of the
// specification and checks them: 1..125 points, every value finite and above
// zero, frequencies strictly ascending.  Prints " File: <name> opened." once the
// file is open.
void load_spec_points(Console& console, const std::string& file_name, SrsSpec& spec);

}  // namespace quorel
