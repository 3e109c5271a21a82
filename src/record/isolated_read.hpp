#pragma once
// Reading a file through a library that may fail on a damaged file by more
// than an error code: libmatio and libhdf5 trust sizes and offsets of the
// file in places, and a crafted or damaged file can make them read out of
// bounds.  The read runs in a child process; the records come back through a
// pipe.  A refusal there is a refusal here; a child that dies (a signal, an
// abort) is a file the library could not read, refused naming it, and the
// program goes on.
#include <functional>
#include <string>
#include <vector>

#include "record/record_formats.hpp"

namespace quorel {

std::vector<ChannelRecord> read_isolated(const std::string& file, const char* library,
                                         const std::function<std::vector<ChannelRecord>()>& read);

}  // namespace quorel
