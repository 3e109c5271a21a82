#pragma once
// Writers of records in the formats quorel reads, by the same well-kept
// libraries (libmatio, libsndfile, libhdf5) and, for universal files, by the
// layout of dataset 58 written out column by column.  They make the example
// files, the benchmark's records and the files of the tests; a failure throws
// std::runtime_error.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quorel::tools {

// A MAT variable: a rows x columns matrix of doubles (column-major, as
// MATLAB stores it), a 1x1 struct of fields, or a scalar.
struct MatVariable {
    std::string name;
    std::vector<double> values;
    size_t rows = 0, columns = 0;
    bool single = false;                 // stored as single precision
    bool complex = false;                // stored with an imaginary part of zeros
    std::vector<MatVariable> fields;     // non-empty: a 1x1 struct of these
};
enum class MatVersion { v5, v5_compressed, v73 };
void write_mat(const std::string& path, const std::vector<MatVariable>& variables, MatVersion version);

// WAV: each channel's samples.  Integer encodings take whole numbers in the
// encoding's own range (a 16-bit sample k is written as k).
enum class WavEncoding { pcm16, pcm24, pcm32, float32, float64 };
void write_wav(const std::string& path, const std::vector<std::vector<double>>& channels, int sample_rate,
               WavEncoding encoding, bool rf64 = false);

// HDF5: datasets by path (groups made as needed), 1-D when columns is 0,
// each with real attributes; attributes of groups by the group's path.
struct Hdf5Dataset {
    std::string path;
    std::vector<double> values;          // row-major: rows x columns
    size_t rows = 0, columns = 0;
    bool integer = false;                // stored as 32-bit integers
    std::vector<std::pair<std::string, double>> attributes;
};
struct Hdf5GroupAttribute {
    std::string group, name;
    double value = 0.0;
};
void write_hdf5(const std::string& path, const std::vector<Hdf5Dataset>& datasets,
                const std::vector<Hdf5GroupAttribute>& group_attributes = {});

// One time response as a dataset 58: ASCII real double (4E20.12, or 58b with
// raw little-endian doubles when `binary`), evenly spaced from `start` at
// `step` seconds, acceleration in G, ID line 1 `name`.
std::string uff58_dataset(const std::string& name, const std::vector<double>& samples, double start, double step,
                          bool binary = false);

}  // namespace quorel::tools
