#pragma once
// Writers of one evenly sampled acceleration channel in the formats the
// readers take: CSV text, WAV (32-bit float), MAT (v5), HDF5 and universal
// files (dataset 58, ASCII double), each by its format's writer
// (format_writers.hpp).
//
// Each file is written under its temporary name and takes its own only once
// complete (see base/output_file.hpp): a failure leaves no file under the
// name, and an earlier file of that name is untouched until the new one is
// whole.  A failure throws QuorelError naming the file and the reason.
#include <cstdint>
#include <span>
#include <string>

namespace quorel {

struct WrittenChannel {
    std::span<const float> times;     // sec, evenly spaced from 0 (the caller's time grid)
    std::span<const float> samples;   // acceleration, the unit of `unit`
    double sample_rate = 0.0;         // samples/sec
    std::string unit;                 // "G", "m/sec^2"
};

// "time (sec),acceleration (<unit>)", then per sample its time and value,
// each "%.9g": every float exactly.
void write_csv_record(const std::string& path, const WrittenChannel& channel);

// Mono, 32-bit float, sample k = float(a_k x volts_per_unit).  The rate must
// be a whole number of samples/sec (the header holds an integer).  Returns
// how many samples lie outside [-1, 1].
int64_t write_wav_record(const std::string& path, const WrittenChannel& channel, double volts_per_unit);

// Variables `time` and `acceleration` (column vectors of doubles),
// `sample_rate` (Hz) and `units` (text: the acceleration unit).
void write_mat_record(const std::string& path, const WrittenChannel& channel);

// The dataset /acceleration (doubles) with the attributes sample_rate (Hz),
// dt (sec), start_time (sec) and units (text).
void write_hdf5_record(const std::string& path, const WrittenChannel& channel);

// One dataset 58: a time response (function type 1), real double ordinates
// written 4E20.12 (every float exactly), even abscissa from 0 at the step
// 1 / rate to seven significant digits (the whole E13 field); ID line 1
// names `description`, line 5 the exact rate.
void write_uff58_record(const std::string& path, const WrittenChannel& channel, const std::string& description);

}  // namespace quorel
