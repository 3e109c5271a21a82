#pragma once
// A whole file read as bytes: the result files of a finished run, read back
// by quorel-plot and quorel export.
#include <string>

namespace quorel {

// Throws QuorelError naming the file when it does not exist, is not a
// regular file, or cannot be read.
std::string read_text_file(const std::string& name);

}  // namespace quorel
