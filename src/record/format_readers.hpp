#pragma once
// The reader of each format of record_formats.hpp.  Each reads the channels
// of `file` that `selector` (from the argument, "" for none) and
// request.channels choose (see channel_selection.hpp), samples as stored
// (unscaled), and names each record "file:channel".
#include <string>
#include <string_view>
#include <vector>

#include "record/record_formats.hpp"

namespace quorel {

// A numeric vector or matrix variable (a matrix: each column a channel
// "NAME:k", the rows its samples), or a field of a struct by "VAR.FIELD"; the
// rate from --sample-rate or the scalar variable --rate-variable.
std::vector<ChannelRecord> read_mat_records(const std::string& file, const std::string& selector,
                                            const RecordRequest& request);

// Each channel a record, "file:1", "file:2", ...; integer PCM as fractions of
// full scale.  The rate is the file's (--sample-rate, if given, must agree).
std::vector<ChannelRecord> read_wav_records(const std::string& file, const std::string& selector,
                                            const RecordRequest& request);

// A 1-D dataset, or the columns of a 2-D one ("/g/d:k", the rows its
// samples), by path; the rate from --sample-rate or the attribute
// --rate-attribute of the dataset or of a group above it.
std::vector<ChannelRecord> read_hdf5_records(const std::string& file, const std::string& selector,
                                             const RecordRequest& request);

// Every time-response dataset 58 or 58b of the file, named by its ID lines.
std::vector<ChannelRecord> read_uff58_records(const std::string& file, const std::string& selector,
                                              const RecordRequest& request);
std::vector<ChannelRecord> parse_uff58_records(std::string_view bytes, const std::string& file,
                                               const std::string& selector, const RecordRequest& request);

// Refuses a channel of fewer than 2 samples or with a sample that is not a
// finite number, naming the file, the channel and the first such sample.
void check_channel_samples(const std::string& file, const std::string& what, const std::vector<double>& samples);

// The rate given by --sample-rate for a record that carries none of its own,
// validated; refused naming `what` when there is none and `alternative` (the
// option that would give it) is not empty.
double given_sample_rate(const std::string& file, const std::string& what, const RecordRequest& request,
                         const char* alternative);

// A rate the file carries, checked against --sample-rate: the given rate
// replaces it when they agree to 1e-5 (a rate written with few digits), and
// is refused when they do not.
double carried_sample_rate(const std::string& file, const std::string& what, double carried,
                           const RecordRequest& request);

}  // namespace quorel
