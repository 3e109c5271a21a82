#pragma once
// The SRS specification: the points as read from the file, and the grid of
// octave-spaced frequencies with their interpolated accelerations on which the
// whole run works.  Wavelet i, filter i and SRS entry i belong to freq[i].
#include <array>
#include <cstdint>
#include <string>

#include "base/capacity.hpp"

namespace quorel {

struct SrsSpec {
    // As read, in file order.
    std::array<float, max_frequencies> input_freq{};    // Hz
    std::array<float, max_frequencies> input_accel{};   // G (m/sec^2 in unit system 3)
    int32_t input_count = 0;
    float last_input_freq = 0.0f;
    float last_input_accel = 0.0f;

    // Resampled.
    std::array<float, max_frequencies> slope{};         // log-log slope of input segment k
    float octave_fraction = 0.0f;                       // 1/3, 1/6 or 1/12 as floats
    std::array<float, max_frequencies> freq{};          // Hz, ascending
    std::array<float, max_frequencies> accel{};         // specification acceleration at freq
    int32_t count = 0;                                  // grid points, 1..125
};

// Names of the output files.  Those without an extension are base names that
// the writers extend with "_<trial>.out".  Every file is created in
// `directory` (the working directory when empty); messages name the files
// by their names alone.
struct OutputNames {
    std::string directory;
    std::string trials = "trials.out";
    std::string wavelet = "wavelet";
    std::string accel = "accel";
    std::string srs = "srs";
    std::string rank_d = "rank_d.out";
    std::string velox = "velox";
    std::string disp = "disp";
    // Command-line runs only: lossless histories and wavelet tables of the
    // optima, and the summary of the run.
    std::string history_csv = "history";
    std::string wavelets_csv = "wavelets";
    std::string summary = "summary.json";

    // Where the file `name` is created.
    std::string path(const std::string& name) const {
        return directory.empty() ? name : directory + "/" + name;
    }
};

// base + "_<trial>" + extension
std::string trial_file_name(const std::string& base, int32_t trial, const char* extension = ".out");
// base + "_" + tag + extension: the files of a trial (tag "7") or of the
// optimal drive (tag "optimal").
std::string result_file_name(const std::string& base, const std::string& tag, const char* extension = ".out");
// The tag of trial `trial`'s files: "7".
std::string trial_tag(int32_t trial);

}  // namespace quorel
