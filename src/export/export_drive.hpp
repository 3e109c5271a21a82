#pragma once
// A finished run's drive made again at a shaker controller's sample rate and
// written in a format the controller imports, with the check that the new
// samples keep the run's SRS.
//
// The drive is made from its own model, never interpolated from the run's
// samples: a wavelet optimum is summed again from its wavelet table
// (wavelets_<n>.csv: every value a float exactly) on the new time grid by the
// formula of the result files (file_history: each wavelet in double, the sum
// rounded once to float); the optimal drive is linear between its nodes, one
// every `node_spacing` samples of the run (summary.json), whose values are the
// samples of history_optimal.csv there.  Both are exact for the model at any
// rate.  The drive covers the run's duration; zeros may be added before and
// after it, and to a point count or a power-of-two frame.
//
// The new samples' SRS is computed on the run's grid by the run's algorithm
// and damping at the new rate, and set beside the run's srs_<n>.out and the
// specification: the largest difference, the margins, the verdict of the
// run's acceptance rules and the drive's peaks.
//
// Every argument is checked, the run folder read and the drive made before
// anything is written; the file is complete or absent.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acceptance/acceptance.hpp"
#include "base/units.hpp"

namespace quorel {

enum class ExportFormat : uint8_t { csv, wav, mat, hdf5, uff58 };

// "csv", "wav", "mat", "hdf5", "uff58"
const char* export_format_name(ExportFormat format);
std::optional<ExportFormat> export_format_named(std::string_view name);
// The format a file name implies (the record readers' extensions); CSV for
// any other.
ExportFormat export_format_for(const std::string& path);

// A difference from the run's SRS above this is a warning.
inline constexpr double export_srs_tolerance_db = 0.1;

// The most points an exported file may hold.
inline constexpr int64_t max_export_points = 100000000;

struct ExportRequest {
    std::string run_dir;
    std::optional<int32_t> trial;          // none and not optimal: the displacement optimum
    bool optimal = false;
    double rate = 0.0;                     // samples/sec
    std::optional<int64_t> points;         // exactly this many points
    bool frame_pow2 = false;               // zeros up to the next power of two
    std::optional<ExportFormat> format;    // none: by the output's extension
    double pad_before = 0.0, pad_after = 0.0;   // sec of zeros
    std::optional<double> scale;           // WAV: volts per acceleration unit (default 1)
    std::string output;
    // Messages name the options as the command line spells them ("--pad-before")
    // or as Python's keywords do ("pad_before").
    bool command_line = true;
};

struct ExportedDrive {
    std::string drive;          // "trial 16" or "the optimal drive"
    std::string run_dir;
    std::string srs_file;       // the run's SRS file of the drive, by name
    std::string file;
    ExportFormat format = ExportFormat::csv;
    UnitSystem units = UnitSystem::english;
    std::string algorithm;      // the run's SRS algorithm, by name
    double damping_ratio = 0.0;
    double rate = 0.0;
    int64_t points = 0;          // in the file
    int64_t before = 0;          // zeros before the drive
    int64_t drive_points = 0;    // the drive over the run's duration (after the zeros before)

    // On the run's grid: the specification, the run's SRS file and the new SRS.
    std::vector<double> freq, spec, run_positive, run_negative, positive, negative;
    double max_difference_db = 0.0;   // signed: new / run
    double difference_frequency = 0.0;
    bool difference_positive = true;  // of the positive peak
    double margin_low_db = 0.0, margin_high_db = 0.0;   // against the specification
    std::optional<AcceptanceRules> rules;
    std::optional<AcceptanceVerdict> verdict;

    // The exported samples' kinematics (linear between samples, from rest),
    // the reporting units.
    double peak_acceleration = 0.0, peak_velocity = 0.0, peak_displacement = 0.0;
    double end_velocity = 0.0, end_displacement = 0.0;

    double scale = 1.0;             // WAV volts per unit
    int64_t beyond_full_scale = 0;  // WAV samples outside ±1
    std::vector<std::string> warnings;   // console text, each a whole message
};

// Checks the request, reads the run, makes and checks the drive and writes
// the file.  Every fault throws QuorelError before anything is written.
ExportedDrive export_drive(const ExportRequest& request);

// The printed check:
//
//  Exported trial 16 of run/pyroshock to drive.csv (CSV): 10240 points at 51200 samples/sec
//  ...
std::string export_report(const ExportedDrive& exported);

}  // namespace quorel
