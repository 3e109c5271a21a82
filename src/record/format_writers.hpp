#pragma once
// The writer of each format the readers take, on the same well-kept libraries
// (libmatio, libsndfile, libhdf5) and, for universal files, the layout of a
// dataset 58 written out column by column.  The export's channel writers
// (record_writers.hpp), quorel-write-record and the tests' files all write
// through them.
//
// Each file is written under its temporary name and takes its own only once
// complete (see base/output_file.hpp): a failure leaves no file under the
// name, and an earlier file of that name is untouched until the new one is
// whole.  A failure throws QuorelError naming the file and the reason.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace quorel {

// A MAT variable: a rows x columns matrix of doubles (column-major, as
// MATLAB stores it), a 1x1 struct of fields, or a row of text.
struct MatVariable {
    std::string name;
    std::vector<double> values{};
    size_t rows = 0, columns = 0;
    bool single = false;                 // stored as single precision
    bool complex = false;                // stored with an imaginary part of zeros
    std::vector<MatVariable> fields{};   // non-empty: a 1x1 struct of these
    std::optional<std::string> text{};   // set: a 1 x length char array of this text
};
enum class MatVersion { v5, v5_compressed, v73 };
void write_mat(const std::string& path, const std::vector<MatVariable>& variables, MatVersion version);

// WAV: each channel's samples, all of one length.  Integer encodings take
// whole numbers in the encoding's own range (a 16-bit sample k is written as
// k); float ones the values as they are, beyond ±1 too.  The rate must be a
// whole number of samples/sec (the header holds an integer).
enum class WavEncoding { pcm16, pcm24, pcm32, float32, float64 };
void write_wav(const std::string& path, const std::vector<std::vector<double>>& channels, double sample_rate,
               WavEncoding encoding, bool rf64 = false);

// HDF5: datasets by path (groups made as needed), 1-D when columns is 0,
// each with real attributes, then text ones (fixed-length strings);
// attributes of groups by the group's path.
struct Hdf5Dataset {
    std::string path;
    std::vector<double> values{};        // row-major: rows x columns
    size_t rows = 0, columns = 0;
    bool integer = false;                // stored as 32-bit integers
    std::vector<std::pair<std::string, double>> attributes{};
    std::vector<std::pair<std::string, std::string>> text_attributes{};
};
struct Hdf5GroupAttribute {
    std::string group, name;
    double value = 0.0;
};
void write_hdf5(const std::string& path, const std::vector<Hdf5Dataset>& datasets,
                const std::vector<Hdf5GroupAttribute>& group_attributes = {});

// One time response as a dataset 58 (function type 1, real double,
// acceleration): ordinates 4E20.12, or with `binary` a 58b of raw
// little-endian doubles; the abscissa even from `start` at `step` seconds,
// the step to seven significant digits (the whole E13 field).
struct Uff58Header {
    std::string name;                            // ID line 1 (80 columns)
    std::string created = "01-Jan-70 00:00:00";  // ID line 3
    std::string note = "NONE";                   // ID line 5
    int direction = 0;                           // response direction: 0 scalar, 3 +Z
    double start = 0.0, step = 1.0;              // sec
    std::string unit = "G";                      // the ordinate's unit label (20 columns)
    bool binary = false;
};
std::string uff58_dataset(const Uff58Header& header, std::span<const double> samples);
void write_uff58(const std::string& path, const Uff58Header& header, std::span<const double> samples);

}  // namespace quorel
