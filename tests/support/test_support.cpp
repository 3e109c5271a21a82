#include "support/test_support.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/command_line.hpp"
#include "base/error.hpp"

extern char** environ;

namespace quorel::testing {

bool gnuplot_installed() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

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
    outcome.status = run_dialogue(in, out, [] { return 0; }, options);
    outcome.output = out.str();
    return outcome;
}

CommandOutcome run_command(const std::vector<std::string>& args, bool err_is_terminal) {
    std::ostringstream out, err;
    CommandOutcome outcome;
    outcome.status = run_command_line(args, out, err, err_is_terminal);
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

int start_program(const std::vector<std::string>& args, int stdout_fd, const std::string& stderr_file) {
    std::string program = QUOREL_PROGRAM;
    std::vector<std::string> words = args;
    std::vector<char*> argv = {program.data()};
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

ProgramEnd wait_program(int pid, double timeout_seconds) {
    int raw = 0;
    ProgramEnd end;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
    pid_t waited = 0;
    while ((waited = waitpid(pid, &raw, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (waited == 0) {
        kill(pid, SIGKILL);
        waited = waitpid(pid, &raw, 0);
    }
    if (waited != pid) return end;
    if (WIFEXITED(raw)) end.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) end.signal = WTERMSIG(raw);
    return end;
}

SmallPipe::SmallPipe() {
    if (::pipe2(ends_, O_CLOEXEC) == 0) ::fcntl(ends_[1], F_SETPIPE_SZ, 4096);
}

SmallPipe::~SmallPipe() {
    for (int& end : ends_) {
        if (end >= 0) ::close(end);
        end = -1;
    }
}

std::string SmallPipe::drain() {
    if (ends_[1] >= 0) ::close(ends_[1]);
    ends_[1] = -1;
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(ends_[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

bool wait_for_path(const std::string& path, double timeout_seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<std::string> files_ending(std::initializer_list<const char*> suffixes, const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        for (const std::string suffix : suffixes) {
            if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                found.push_back(name);
            }
        }
    }
    return found;
}

std::string error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const QuorelError& error) {
        return error.what();
    }
    return "";
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

std::vector<std::vector<double>> read_csv(const std::string& name) {
    std::vector<std::vector<double>> rows;
    const auto lines = read_lines(name);
    for (size_t k = 1; k < lines.size(); ++k) {
        std::istringstream fields(lines[k]);
        std::vector<double> row;
        for (std::string field; std::getline(fields, field, ',');) row.push_back(std::stod(field));
        rows.push_back(row);
    }
    return rows;
}

namespace {

// The oscillator z'' + 2 zeta w z' + w^2 z = -y(t) by classical RK4 with
// `substeps` steps per dt, at rest at t = -dt; out(z, z') at t = k dt for
// k = 0..count-1.
std::vector<double> sdof_response(const std::function<double(double)>& y, double dt, int count, double freq,
                                  double zeta, int substeps, const std::function<double(double, double)>& out) {
    const double w = 2.0 * std::acos(-1.0) * freq;
    const double h = dt / substeps;
    // State (z, z'); z'' = -y - 2 zeta w z' - w^2 z.
    auto accel = [&](double t, double z, double v) { return -y(t) - 2.0 * zeta * w * v - w * w * z; };
    double z = 0.0, v = 0.0;
    std::vector<double> x;
    x.reserve(static_cast<size_t>(count));
    for (int k = -1; k < count - 1; ++k) {
        for (int m = 0; m < substeps; ++m) {
            const double t = k * dt + m * h;
            const double k1z = v, k1v = accel(t, z, v);
            const double k2z = v + 0.5 * h * k1v, k2v = accel(t + 0.5 * h, z + 0.5 * h * k1z, v + 0.5 * h * k1v);
            const double k3z = v + 0.5 * h * k2v, k3v = accel(t + 0.5 * h, z + 0.5 * h * k2z, v + 0.5 * h * k2v);
            const double k4z = v + h * k3v, k4v = accel(t + h, z + h * k3z, v + h * k3v);
            z += h / 6.0 * (k1z + 2.0 * k2z + 2.0 * k3z + k4z);
            v += h / 6.0 * (k1v + 2.0 * k2v + 2.0 * k3v + k4v);
        }
        x.push_back(out(z, v));
    }
    return x;
}

}  // namespace

std::vector<double> sdof_absolute_response(const std::function<double(double)>& y, double dt, int count,
                                           double freq, double zeta, int substeps) {
    const double w = 2.0 * std::acos(-1.0) * freq;
    return sdof_response(y, dt, count, freq, zeta, substeps,
                         [&](double z, double v) { return -(2.0 * zeta * w * v + w * w * z); });
}

std::vector<double> sdof_relative_displacement(const std::function<double(double)>& y, double dt, int count,
                                               double freq, double zeta, int substeps) {
    return sdof_response(y, dt, count, freq, zeta, substeps, [](double z, double) { return z; });
}

std::vector<double> sdof_relative_velocity(const std::function<double(double)>& y, double dt, int count, double freq,
                                           double zeta, int substeps) {
    return sdof_response(y, dt, count, freq, zeta, substeps, [](double, double v) { return v; });
}

std::function<double(double)> piecewise_linear(const std::vector<float>& samples, double dt) {
    return [samples, dt](double t) {
        const double position = t / dt;
        const double k = std::floor(position);
        const double fraction = position - k;
        auto at = [&](double index) {
            return index < 0.0 || index >= static_cast<double>(samples.size())
                       ? 0.0
                       : static_cast<double>(samples[static_cast<size_t>(index)]);
        };
        return (1.0 - fraction) * at(k) + fraction * at(k + 1.0);
    };
}

int residual_steps(float dt, float freq) {
    const float period = static_cast<float>(1.0 / static_cast<double>(freq));
    int k = 0;
    while (static_cast<float>((k + 1) * static_cast<double>(dt)) <= period) ++k;
    return k;
}

SrsFilterBank make_filter_bank(int32_t algorithm, float damping, float sample_rate, const std::vector<float>& freqs) {
    RunSettings settings;
    settings.algorithm = srs_algorithm_for_answer(algorithm);
    settings.damping = damping;
    settings.sample_rate = sample_rate;
    settings.dt = static_cast<float>(1.0 / static_cast<double>(sample_rate));
    settings.half_dt = static_cast<float>(settings.dt * 0.5);
    SrsSpec spec;
    spec.count = static_cast<int32_t>(freqs.size());
    for (size_t j = 0; j < freqs.size(); ++j) {
        spec.freq[j] = freqs[j];
        spec.accel[j] = 1.0f;
    }
    SrsFilterBank bank;
    prepare_srs_filters(settings, spec, 2.0 * std::atan2(0.0, -1.0), bank);
    return bank;
}

std::vector<std::vector<std::pair<long, double>>> read_rank_file(const std::string& name) {
    std::vector<std::vector<std::pair<long, double>>> sections;
    for (const std::string& line : read_lines(name)) {
        std::istringstream fields(line);
        long trial = 0;
        double value = 0.0;
        if (fields >> trial >> value) {
            if (!sections.empty()) sections.back().emplace_back(trial, value);
        } else if (!line.empty()) {
            sections.emplace_back();   // a section label
        }
    }
    return sections;
}

std::map<std::string, std::string> read_directory() {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::current_path())) {
        if (entry.is_regular_file()) files[entry.path().filename().string()] = read_file(entry.path().string());
    }
    return files;
}

}  // namespace quorel::testing
