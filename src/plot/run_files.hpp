#pragma once
// The files of a finished run, parsed into records.  The parsers take the
// file's name (for the messages) and its whole text; they do no I/O.  Every
// check throws QuorelError with a message that names the file and the 1-based
// line, in the console style " Error: srs_3.out line 7: expected 3 numbers ".
#include <string>
#include <vector>

#include "base/envelope.hpp"
#include "acceptance/compliance.hpp"

namespace quorel::plot {

// A specification point as the run's reader read it, and a line of
// srs_<n>.out (grid frequency, positive peak, negative peak magnitude), are the
// compliance module's records.
using quorel::SpecPoint;
using quorel::SrsLine;

// One sample of accel_, velox_ or disp_<n>.out: time (sec), value.
using Sample = quorel::TimedValue;

// One wavelet of wavelet_<n>.out.
struct WaveletLine {
    long number = 0;
    double freq = 0.0;          // Hz, printed with one decimal
    char polarity = '+';
    long nhs = 0;               // half-sines
    double delay_msec = 0.0;
    double amplitude = 0.0;
};

// The unit system of the run, as the trial log names it.
struct RunUnits {
    std::string accel;          // "G" or "m/sec^2"
    std::string velocity;       // "in/sec" or "m/sec"
    std::string displacement;   // "in" or "mm"
};

// Everything of one optimum trial, checked for consistency.
struct TrialFiles {
    long trial = 0;
    std::vector<SrsLine> srs;
    std::vector<Sample> accel;
    std::vector<Sample> velocity;
    std::vector<Sample> displacement;
    std::vector<WaveletLine> wavelets;
};

// Frequencies above zero, ascending; two neighbours may be equal.
std::vector<SrsLine> parse_srs(const std::string& name, const std::string& text);
std::vector<Sample> parse_history(const std::string& name, const std::string& text);
// A heading line, then one line per grid frequency.
std::vector<WaveletLine> parse_wavelets(const std::string& name, const std::string& text);
// The trial log's unit line, "(G) (in/sec) (in)" and its two metric variants.
RunUnits parse_units(const std::string& name, const std::string& text);

// Cross-checks of one trial's files: the wavelet table has the SRS file's
// frequencies (to the one decimal it prints), the three histories share their
// times.  The names are those of the files in TrialFiles order.
struct TrialFileNames {
    std::string srs, accel, velocity, displacement, wavelets;
};
TrialFileNames trial_file_names(long trial);
void check_trial(const TrialFiles& files, const TrialFileNames& names);

}  // namespace quorel::plot
