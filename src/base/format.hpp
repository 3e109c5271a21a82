#pragma once
// printf-style formatting into a std::string.  The console texts and file records
// of the program are printf formats; this keeps them byte for byte.
#include <string>

namespace quorel {

[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...);

}  // namespace quorel
