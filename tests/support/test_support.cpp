#include "support/test_support.hpp"

#include <atomic>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace quorel::testing {

TempDir::TempDir() : previous_(std::filesystem::current_path()) {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("quorel_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

RunOutcome run_script(const std::string& answers, RunOptions options) {
    std::istringstream in(answers);
    std::ostringstream out;
    if (!options.clock) options.clock = [] { return 1000.0; };
    RunOutcome outcome;
    outcome.status = run_quorel(in, out, [] { return 0; }, options);
    outcome.output = out.str();
    return outcome;
}

void write_file(const std::string& name, const std::string& content) {
    std::ofstream file(name, std::ios::binary);
    file << content;
}

std::string read_file(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool file_exists(const std::string& name) { return std::filesystem::exists(name); }

std::vector<std::string> read_lines(const std::string& name) {
    std::ifstream file(name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

std::vector<std::vector<double>> read_table(const std::string& name) {
    std::vector<std::vector<double>> rows;
    for (const std::string& line : read_lines(name)) {
        std::istringstream fields(line);
        std::vector<double> row;
        for (double value; fields >> value;) row.push_back(value);
        rows.push_back(row);
    }
    return rows;
}

}  // namespace quorel::testing
