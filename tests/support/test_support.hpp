#pragma once
// Shared helpers of the tests: a temporary working directory, scripted runs of
// the whole program, small file utilities, and the tolerances.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/console.hpp"
#include "app/dialogue.hpp"
#include "srs/filter_bank.hpp"

namespace quorel::testing {

// Tolerances, in one place.  Comparisons where the arithmetic is exact use ==.
inline constexpr double physics_relative_tolerance = 2e-3;   // SRS against an independent SDOF integration
inline constexpr double integration_relative_tolerance = 1e-3;
// A cumulative trapezoid over a result file against the closed-form integrals,
// as a fraction of the history's peak: with 40 samples per period at the
// highest frequency the trapezoid's relative error (w dt)^2 / 12 is 0.2 %.
inline constexpr double trapezoid_relative_tolerance = 5e-3;
// Two values of one run printed in dB with 3 decimals, or recomputed from a file
// of 6 significant digits.
inline constexpr double report_db_tolerance = 1e-3;
// A float grid built by repeated multiplication (rounding accumulates over up to
// 125 steps) or a float log-log interpolation, against the exact closed form.
inline constexpr double float_grid_relative_tolerance = 1e-5;
// Filter coefficients stored as floats (magnitudes up to 2): sums of a few of
// them agree with their exact counterparts to a few float roundings.
inline constexpr double coefficient_tolerance = 1e-6;
// The ramp-invariant recursion against a fine integration of the oscillator
// driven by the same piecewise-linear input: exact but for the float
// coefficients, so only their rounding (amplified by the resonance) remains.
inline constexpr double ramp_invariant_relative_tolerance = 2e-5;
// A measured record's SRS (double coefficients and state) against an
// independent computation, and against the run's own srs_<n>.out printed to
// 6 significant digits.
inline constexpr double check_relative_tolerance = 1e-5;
// The pseudo-velocity spectrum (double coefficients and state, exact for the
// piecewise-linear input) against an independent integration of the relative
// displacement.
inline constexpr double pseudo_velocity_relative_tolerance = 1e-5;
// The Kelly-Richman weights are not ramp-invariant: at 50 or more samples per
// cycle their peaks differ from the continuous oscillator's by up to about half
// a percent.
inline constexpr double kelly_richman_relative_tolerance = 1e-2;
// A synthesized sample against the wavelet sum evaluated in double: the phase
// is rounded to float before the sines.
inline constexpr double synthesis_relative_tolerance = 1e-4;

bool gnuplot_installed();

// Skips the test when gnuplot is missing, or fails it where CI sets
// QUOREL_REQUIRE_GNUPLOT.
#define REQUIRE_GNUPLOT()                                                                       \
    if (!::quorel::testing::gnuplot_installed()) {                                              \
        if (std::getenv("QUOREL_REQUIRE_GNUPLOT") == nullptr) GTEST_SKIP() << "no gnuplot";     \
        FAIL() << "gnuplot is not installed but QUOREL_REQUIRE_GNUPLOT is set";                 \
    }

// Creates a fresh directory, makes it the working directory, and restores the
// previous one (removing the directory) on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

struct RunOutcome {
    int status = -1;
    std::string output;
};

// Runs the program in the current directory with `answers` as standard input
// (not a terminal: the key wait reads nothing) and a frozen clock.
RunOutcome run_script(const std::string& answers, RunOptions options = {});

// The command line (quorel ARGS...) run in-process, its output caught.
struct CommandOutcome {
    int status = -1;
    std::string out, err;
};
CommandOutcome run_command(const std::vector<std::string>& args, bool err_is_terminal = false);

// The built quorel started in the working directory with `args`, standard
// input from /dev/null, standard output to `stdout_fd` and standard error to
// the file `stderr_file`.  Returns its process id.
int start_program(const std::vector<std::string>& args, int stdout_fd, const std::string& stderr_file);
// How a started program ended: its exit status, or -1 and the signal that
// killed it.
struct ProgramEnd {
    int status = -1;
    int signal = 0;
};
// Waits at most `timeout_seconds`, then kills it (SIGKILL) and reports that.
ProgramEnd wait_program(int pid, double timeout_seconds = 30.0);
// A pipe that holds one page: a program writing more than that to its write
// end waits until the test reads it, so that it is certainly still running
// when a signal is sent.  Both ends close with the object.
class SmallPipe {
public:
    SmallPipe();
    ~SmallPipe();
    SmallPipe(const SmallPipe&) = delete;
    SmallPipe& operator=(const SmallPipe&) = delete;
    int write_end() const { return ends_[1]; }
    // Closes the test's write end (once the program holds its own), then
    // reads until every writer has closed; returns what was read.
    std::string drain();

private:
    int ends_[2] = {-1, -1};
};
// Waits until `path` exists, at most `timeout_seconds`; whether it does.
bool wait_for_path(const std::string& path, double timeout_seconds = 30.0);
// The names in `folder` ending in any of `suffixes`.
std::vector<std::string> files_ending(std::initializer_list<const char*> suffixes, const std::string& folder = ".");

// A console over a scripted answer text, with the printed text collected; the
// key wait reads nothing.  For driving one routine of the dialogue.
struct ScriptedConsole {
    explicit ScriptedConsole(const std::string& answers) : in(answers) {}
    std::istringstream in;
    std::ostringstream out;
    Console console{in, out, [] { return 0; }};
    std::string printed() const { return out.str(); }
};

void write_file(const std::string& name, const std::string& content);
// The message of the QuorelError `action` throws; empty when it throws none.
std::string error_of(const std::function<void()>& action);
// The low `bytes` bytes of `value`, least significant first: the fields of
// little-endian file headers (WAV, MAT) written by hand.
inline std::string le(uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
    return out;
}
std::string read_file(const std::string& name);
bool file_exists(const std::string& name);
std::vector<std::string> read_lines(const std::string& name);
// Whitespace-separated numbers of every line.
std::vector<std::vector<double>> read_table(const std::string& name);
// The comma-separated numbers of every line after the header row.
std::vector<std::vector<double>> read_csv(const std::string& name);
// The rank file's five sections (accel, vel, disp, error, irror), each as its
// (trial, value) lines in file order.
std::vector<std::vector<std::pair<long, double>>> read_rank_file(const std::string& name);
// Every regular file of the working directory: name -> content.
std::map<std::string, std::string> read_directory();

// Absolute acceleration response x of a base-excited single-degree-of-freedom
// oscillator (natural frequency freq Hz, damping ratio zeta) to the base
// acceleration y(t), by classical RK4 with `substeps` steps per dt:
//   z'' + 2 zeta w z' + w^2 z = -y(t),   x = y + z'' = -(2 zeta w z' + w^2 z).
// Starts at rest at t = -dt; returns x at t = k dt for k = 0..count-1.
std::vector<double> sdof_absolute_response(const std::function<double(double)>& y, double dt, int count,
                                           double freq, double zeta, int substeps = 64);
// The relative displacement z of the same oscillator, by the same integration.
std::vector<double> sdof_relative_displacement(const std::function<double(double)>& y, double dt, int count,
                                               double freq, double zeta, int substeps = 64);
// The relative velocity z' of the same oscillator, by the same integration.
std::vector<double> sdof_relative_velocity(const std::function<double(double)>& y, double dt, int count, double freq,
                                           double zeta, int substeps = 64);

// The base acceleration that a sampled history stands for between its samples:
// linear from 0 at t = -dt through samples[k] at t = k dt, back to 0 one step
// after the last sample, 0 outside.
std::function<double(double)> piecewise_linear(const std::vector<float>& samples, double dt);

// Steps of the residual phase at frequency freq: one period after the last
// sample, the k with k dt (rounded to float) <= 1/f (rounded to float).
int residual_steps(float dt, float freq);

// A filter bank for the given frequencies (ascending), damping ratio and
// sample rate, with dt = 1 / rate rounded to float as the run uses it; the
// algorithm as the dialogue's answer (1 Kelly-Richman, any other Smallwood).
SrsFilterBank make_filter_bank(int32_t algorithm, float damping, float sample_rate, const std::vector<float>& freqs);

}  // namespace quorel::testing
