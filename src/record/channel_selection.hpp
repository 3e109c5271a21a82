#pragma once
// Choosing the channels of a file that become records, shared by the readers
// of files that hold several (MAT variables, WAV channels, HDF5 datasets,
// universal-file datasets).
//
// A reader lists its channels in file order.  A channel belongs to a group:
// a matrix variable or a 2-D dataset is one group whose columns are channels
// "NAME:1", "NAME:2", ...; any other channel is a group of its own.  Things
// that are not records (a scalar, text, a complex array) are listed apart with
// the reason, so that asking for one by name says why it cannot be a record.
#include <cstddef>
#include <string>
#include <vector>

namespace quorel {

struct ChannelEntry {
    std::string name;    // as the record is called after the file: "accel", "data:2", "/run/a"
    std::string group;   // the variable or dataset it comes from: "accel", "data", "/run/a"
};

struct NotARecord {
    std::string name;
    std::string why;     // "is a scalar", "holds text"
};

struct ChannelListing {
    const char* kind = "channel";   // "variable", "dataset", "channel": how the file's channels are called
    std::vector<ChannelEntry> channels;
    std::vector<NotARecord> others;
};

enum class DefaultChannels {
    every,       // no --channel: every channel
    one_group,   // no --channel: the channels of the only group, else a refusal listing the groups
};

// The indices into listing.channels that `selector` (from the record's
// argument, "" for none) and `requested` (--channel values) choose, each once,
// in file order.  The selector keeps the channels named so, those of the group
// named so, and those below it ("NAME/..." or "NAME. ..."); the requests then
// choose among those kept: "all", a 1-based number in their order, a channel's
// name, or a group's name (all its columns).  Refusals name `file`.
std::vector<size_t> select_channels(const std::string& file, const ChannelListing& listing, const std::string& selector,
                                    const std::vector<std::string>& requested, DefaultChannels by_default);

// Throws QuorelError "\n Error: FILE WHAT \n".
[[noreturn]] void refuse_record(const std::string& file, const std::string& what);

// A name for a message: its first 60 bytes, control bytes shown as '?'.
std::string shown_name(const std::string& name);

}  // namespace quorel
