#pragma once
// Shared helpers of the tests: a temporary working directory, scripted runs of
// the whole program, small file utilities, and the tolerances.
#include <filesystem>
#include <string>
#include <vector>

#include "run/driver.hpp"

namespace quorel::testing {

// Tolerances, in one place.  Comparisons where the arithmetic is exact use ==.
inline constexpr double physics_relative_tolerance = 2e-3;   // SRS against an independent SDOF integration
inline constexpr double integration_relative_tolerance = 1e-3;

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

void write_file(const std::string& name, const std::string& content);
std::string read_file(const std::string& name);
bool file_exists(const std::string& name);
std::vector<std::string> read_lines(const std::string& name);
// Whitespace-separated numbers of every line.
std::vector<std::vector<double>> read_table(const std::string& name);

}  // namespace quorel::testing
