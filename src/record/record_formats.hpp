#pragma once
// Measured records as acquisition systems write them: text (see
// record_reader.hpp), MATLAB files (v5 and v7.3), WAV (PCM and float, RF64
// too), HDF5, and universal files (dataset 58 and 58b).  A file may hold
// several channels; each channel read is its own record, called
// "file:channel".
//
// The format is known by the file's extension and checked against its first
// bytes; a mismatch is refused naming both.  Every refusal throws QuorelError
// naming the file, the channel (variable, dataset) where there is one, and what
// is wrong.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record/record_reader.hpp"

namespace quorel {

enum class RecordFormat : uint8_t { text, mat, wav, hdf5, uff58 };

// "text", "MAT", "WAV", "HDF5", "universal file".
const char* record_format_name(RecordFormat format);

enum class TimeUnit : uint8_t { s, ms, us };

// What to read from each file.
struct RecordRequest {
    // The text reader's options: --column, --sample-rate (the rate of records
    // that carry none of their own, MAT and HDF5 included).
    RecordOptions text;
    // --channel values, in order: "all", a 1-based number in the file's own
    // order of channels (for text, the column number), or a name.  Empty: the
    // format's default (the text reader's column; every channel of a WAV or
    // universal file; the one variable or dataset of a MAT or HDF5 file).
    std::vector<std::string> channels;
    std::optional<std::string> rate_variable;    // MAT: a scalar variable holding the rate (Hz)
    std::optional<std::string> rate_attribute;   // HDF5: an attribute of the dataset or a group above it
    std::optional<double> scale;                  // every sample times this, before anything else
    TimeUnit time_unit = TimeUnit::s;             // of a text record's time column
};

// One channel of a file, read.
struct ChannelRecord {
    std::string name;      // "file", or "file:channel" when a channel was chosen or the file holds channels
    std::string channel;   // the channel part of the name (empty for "file")
    RecordFormat format = RecordFormat::text;
    Record record;         // record.file: the file as named
    // Integer samples read as fractions of full scale (WAV PCM): "16-bit PCM",
    // else empty.
    std::string full_scale;
};

// The format a file name implies by its extension (any case): .mat; .wav,
// .wave, .rf64, .bwf; .h5, .hdf5, .hdf, .he5; .uff, .unv, .uf; anything else
// is text.
RecordFormat format_by_name(std::string_view path);

// What the first bytes of a file show it to be, told as a message would
// ("a MAT file (v7.3)"), and its format; nothing recognised reads as text.
struct ContentFormat {
    RecordFormat format = RecordFormat::text;
    std::string shown;
};
ContentFormat format_by_content(std::string_view head);

// The file an argument names and the channel it selects: "shock.h5:/run/a"
// is shock.h5 restricted to /run/a when shock.h5 exists and the whole does not.
struct RecordArgument {
    std::string file;
    std::string selector;   // empty: the whole file
};
RecordArgument split_record_argument(const std::string& argument);

// Every record one argument stands for, in the file's order of channels
// (text: in the order asked), each scaled by request.scale.
std::vector<ChannelRecord> read_records(const std::string& argument, const RecordRequest& request);

// The warning of a record of integer samples read as fractions of full scale
// without a scale ("Warning: NAME: ..."); empty for any other.
std::string full_scale_warning(const ChannelRecord& channel, const RecordRequest& request);

}  // namespace quorel
