#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/command_line.hpp"
#include "base/format.hpp"
#include "feasibility/bounds.hpp"
#include "base/stop_request.hpp"
#include "srs/srs.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::read_directory;
using testing::read_file;
using testing::read_lines;
using testing::read_table;
using testing::TempDir;
using testing::write_file;

using testing::CommandOutcome;
using testing::run_command;

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> list;
    for (std::string word; in >> word;) list.push_back(word);
    return list;
}

// The examples, with the command line that gives the answers of their answer
// files (written out by hand from the answers, not from the program).
struct Example {
    const char* name;
    const char* options;
};
const Example examples[] = {
    {"functional", "-a kelly-richman --spacing 1/3 --damping 0.05 -n 100 -u metric -s 7 -r 20000 -d 0.5"},
    {"metric", "-a smallwood --spacing 1/12 -q 10 -n 100 -u si -s 3 -r 50000 -d 0.15"},
    // Smallwood, 1/6 octave, Q 10, English units and seed 1 are the defaults.
    {"pyroshock", "-n 200 -r 100000 -p 20000"},
};

std::string example_file(const std::string& name) { return read_file(std::string(QUOREL_EXAMPLES_DIR) + "/" + name); }

double report_value(const std::string& console, const std::string& weighting, const std::string& label) {
    const size_t block = console.find("Optimum case for " + weighting);
    const size_t at = console.find(label + " = ", block);
    return std::stod(console.substr(at + label.size() + 3));
}

// Every example run through the dialogue and through the command line: the
// dialogue's files come out byte for byte alike.  Then the machine-readable
// results against the files they stand beside.
TEST(CommandLine, ExamplesWriteTheDialoguesFilesAndTheirSummaries) {
    for (const Example& example : examples) {
        SCOPED_TRACE(example.name);
        const std::string spec_name = std::string(example.name) + ".txt";
        TempDir dir;
        std::filesystem::create_directory("dialogue");
        std::filesystem::current_path("dialogue");
        write_file(spec_name, example_file(spec_name));
        const auto dialogue = testing::run_script(example_file(std::string(example.name) + ".answers"));
        ASSERT_EQ(dialogue.status, 0) << dialogue.output;
        const auto dialogue_files = read_directory();
        std::filesystem::current_path("..");

        write_file(spec_name, example_file(spec_name));
        std::vector<std::string> args = words(example.options);
        for (const char* extra : {"-o", "nested/out", "--quiet", spec_name.c_str()}) args.push_back(extra);
        const CommandOutcome command = run_command(args);
        ASSERT_EQ(command.status, 0) << command.err;
        EXPECT_EQ(command.err, "");
        EXPECT_EQ(command.out.find("\n 0 "), std::string::npos) << "--quiet leaves the trial lines out";
        if (std::string(example.name) == "functional") {
            // Roughly by hand, velocity: 9.4 G at 10 Hz over its 5 cycles in 0.5 sec, the integral of
            // |k| ~ w^2 |cos wt| e^(-zeta w t) about w^2 (2/pi)(1 - e^(-pi/2)) / (zeta w) = 634 /sec,
            // and 2 zeta w = 6.3 /sec, so 9.4 x 9.81 / 640.
            EXPECT_NE(command.out.find("\n Least peaks any drive of 0.5 sec can have for this SRS (Q = 10): "
                                       "5.86 G, 0.145 m/sec; the least displacement depends on the drive's peak "
                                       "velocity \n"),
                      std::string::npos)
                << command.out;
        }
        std::filesystem::current_path("nested/out");
        const auto command_files = read_directory();
        for (const auto& [name, content] : dialogue_files) {
            if (name == spec_name) continue;
            ASSERT_EQ(command_files.count(name), 1u) << name;
            EXPECT_TRUE(command_files.at(name) == content) << name << " differs";
        }

        // The summary holds exactly the numbers of the trial log: formatted as
        // the log formats them, they give its lines back.
        const auto summary = nlohmann::json::parse(command_files.at("summary.json"));
        const auto log = read_lines("trials.out");
        const auto& trials = summary.at("trials");
        ASSERT_EQ(log.size(), 4 + trials.size());
        for (size_t t = 0; t < trials.size(); ++t) {
            const auto& trial = trials[t];
            EXPECT_EQ(format(" %ld %10.2f %12.3f %12.3f %11.2f %10.2f  %ld", trial.at("trial").get<long>(),
                             trial.at("peak_acceleration").get<double>(), trial.at("peak_velocity").get<double>(),
                             trial.at("peak_displacement").get<double>(), trial.at("total_error_db").get<double>(),
                             trial.at("max_error_db").get<double>(), trial.at("iterations").get<long>()),
                      log[4 + t]);
        }
        EXPECT_EQ(summary.at("spec_file"), spec_name);
        EXPECT_EQ(summary.at("grid").size(), read_lines("srs_" + summary.at("optimum").at("displacement").at("trial").dump() + ".out").size());

        for (const char* weighting : {"displacement", "acceleration"}) {
            const auto& optimum = summary.at("optimum").at(weighting);
            const long t = optimum.at("trial").get<long>();
            for (const auto& file : optimum.at("files")) EXPECT_EQ(command_files.count(file.get<std::string>()), 1u) << file;
            EXPECT_EQ(report_value(dialogue.output, weighting, "Optimum case for " + std::string(weighting)), t);

            // The reported peak is that of the delivered history, the largest
            // magnitude of the acceleration file (which evaluates the wavelets
            // in double; the trials' synthesis rounds each phase to float).
            double file_peak = 0.0;
            for (const auto& line : read_table(format("accel_%ld.out", t))) file_peak = std::max(file_peak, std::fabs(line[1]));
            EXPECT_NEAR(report_value(dialogue.output, weighting, "Peak Accel"), file_peak,
                        0.0006 + testing::synthesis_relative_tolerance * file_peak)
                << "trial " << t;

            // The lossless history against its wavelets, by the formula of the
            // wavelet table: a(t) = polarity A sin(2 pi f tau / N) sin(2 pi f tau).
            const auto history = testing::read_csv(format("history_%ld.csv", t));
            const auto wavelets = testing::read_csv(format("wavelets_%ld.csv", t));
            ASSERT_EQ(history.size(), read_lines(format("accel_%ld.out", t)).size());
            ASSERT_EQ(wavelets.size(), summary.at("grid").size());
            double peak = 0.0, worst = 0.0;
            const double two_pi = 2.0 * std::acos(-1.0);
            for (size_t j = 0; j < history.size(); ++j) {
                const double time = history[j][0];
                double a = 0.0;
                for (size_t k = 0; k < wavelets.size(); ++k) {
                    const double f = wavelets[k][1], polarity = wavelets[k][2], n = wavelets[k][3];
                    const double tau = time - wavelets[k][4];
                    if (tau >= 0.0 && tau <= n / (2.0 * f)) {
                        a += polarity * wavelets[k][5] * std::sin(two_pi * f * tau / n) * std::sin(two_pi * f * tau);
                    }
                }
                peak = std::max(peak, std::fabs(history[j][1]));
                worst = std::max(worst, std::fabs(a - history[j][1]));
            }
            EXPECT_LE(worst, 1e-5 * peak) << "trial " << t;

            // The SRS file is the SRS of the delivered history: the lossless
            // CSV acceleration through the SRS gives the SRS file's lines again.
            const auto& run = summary.at("settings");
            std::vector<float> freqs, samples;
            for (const auto& point : summary.at("grid")) freqs.push_back(point.at("frequency").get<float>());
            for (const auto& row : history) samples.push_back(static_cast<float>(row[1]));
            const SrsFilterBank bank =
                testing::make_filter_bank(run.at("algorithm") == "kelly-richman" ? 1 : 2, run.at("damping_ratio").get<float>(),
                                          run.at("sample_rate").get<float>(), freqs);
            SrsResult srs;
            compute_srs(bank, samples.data(), static_cast<int32_t>(samples.size()), srs);
            const auto srs_lines = read_lines(format("srs_%ld.out", t));
            for (size_t j = 0; j < freqs.size(); ++j) {
                EXPECT_EQ(format("%12.3f \t %12.5e \t %12.5e", freqs[j], srs.xmax[j], srs.xmin[j]), srs_lines[j]) << j;
            }

            // The physics behind those lines: the continuous oscillator driven
            // by the same samples (linear between them), integrated
            // independently, at every grid frequency.  The ramp-invariant
            // filter is exact for that input.
            if (t == summary.at("optimum").at("displacement").at("trial").get<long>()) {
                const bool kelly = run.at("algorithm") == "kelly-richman";
                const double dt = bank.dt;
                for (size_t j = 0; j < freqs.size(); ++j) {
                    size_t count = samples.size();
                    while (static_cast<float>((count - samples.size() + 1) * dt) <= bank.period[j]) ++count;
                    const auto x = testing::sdof_absolute_response(testing::piecewise_linear(samples, dt), dt,
                                                                   static_cast<int>(count), freqs[j],
                                                                   run.at("damping_ratio").get<float>(), 8);
                    double hi = 0.0, lo = 0.0;
                    for (const double v : x) hi = std::max(hi, v), lo = std::max(lo, -v);
                    // Kelly-Richman's error grows as (w dt)^2: 3 % at a tenth of the
                    // sample rate, within 2e-4 from 500 samples per period on.
                    const double rate = run.at("sample_rate").get<double>();
                    const double tolerance = !kelly || 500.0 * freqs[j] <= rate ? 2e-4 : 0.04;
                    EXPECT_NEAR(srs.xmax[j], hi, tolerance * hi) << freqs[j] << " Hz, trial " << t;
                    EXPECT_NEAR(srs.xmin[j], lo, tolerance * lo) << freqs[j] << " Hz, trial " << t;
                }
            }

            // No drive undercuts the least peaks of its own SRS: the bounds of
            // the delivered SRS stay at or below the trial's own peaks, the
            // displacement's at the trial's own peak velocity.
            std::vector<float> levels;
            for (size_t j = 0; j < freqs.size(); ++j) levels.push_back(std::max(srs.xmax[j], srs.xmin[j]));
            const std::string units = run.at("units");
            const BoundedSpectrum own{freqs.data(), levels.data(), static_cast<int32_t>(freqs.size()),
                                      run.at("damping_ratio").get<float>(), *unit_system_named(units),
                                      std::nullopt};
            const FeasibilityBounds bounds =
                feasibility_bounds(own, static_cast<double>(samples.size()) * run.at("dt").get<float>());
            const double peak_velocity = optimum.at("peak_velocity");
            EXPECT_LE(bounds.acceleration.value, optimum.at("peak_acceleration").get<double>()) << "trial " << t;
            EXPECT_LE(bounds.velocity.value, peak_velocity) << "trial " << t;
            EXPECT_LE(displacement_bound(own, bounds.duration, peak_velocity).value,
                      optimum.at("peak_displacement").get<double>())
                << "trial " << t;
        }
        std::filesystem::current_path("../..");
    }
}

// Each wrong command line: status 2, a message in plain words naming the
// option and what it takes, the pointer to --help on standard error, and
// nothing written (not even the output folder).
TEST(CommandLine, UsageErrorsExitTwoAndTouchNothing) {
    TempDir dir;
    write_file("spec.txt", "10 1\n40 4\n");
    struct Case {
        const char* line;
        const char* message;
    };
    const Case cases[] = {
        {"--bogus spec.txt", "unknown option --bogus"},
        {"-n 0 spec.txt", "--trials 0 is out of range: 1 to 2000"},
        {"-n 2001 spec.txt", "--trials 2001 is out of range: 1 to 2000"},
        {"--trials 99999999999999999999 spec.txt", "--trials 99999999999999999999 is out of range: 1 to 2000"},
        {"-n 0x10 spec.txt", "--trials needs a whole number from 1 to 2000, not '0x10'"},
        {"spec.txt -n", "--trials needs a whole number from 1 to 2000"},
        {"-n 5 -n 6 spec.txt", "--trials is given more than once"},
        {"-q 0.5 spec.txt", "--q 0.5 is out of range: above 0.5"},
        {"spec.txt --q", "--q needs a value above 0.5"},
        {"-q abc spec.txt", "--q needs a value above 0.5, not 'abc'"},
        {"--damping 1 spec.txt", "--damping 1 is out of range: at least 0 and below 1"},
        {"-q 10 --damping 0.05 spec.txt", "--q and --damping cannot be given together"},
        {"-p 100 -d 1 spec.txt", "--points and --duration cannot be given together"},
        {"-p 100000 spec.txt", "--points 100000 is out of range: 1 to 99999"},
        {"-a fast spec.txt", "--algorithm needs smallwood or kelly-richman, not 'fast'"},
        {"--spacing 1/4 spec.txt", "--spacing needs 1/3, 1/6 or 1/12, not '1/4'"},
        {"-s 0 spec.txt", "--seed 0 is out of range: 1 to 2147483647"},
        {"-u imperial spec.txt", "--units needs english, metric or si, not 'imperial'"},
        {"-r 0 spec.txt", "--sample-rate 0 is out of range: above 0"},
        {"-r 1e40 spec.txt", "--sample-rate 1e40 is out of range: beyond the largest number, 3.40282e+38"},
        {"spec.txt -r", "--sample-rate needs a rate in samples/sec, at least 4 x the top grid frequency"},
        {"-d nan spec.txt", "--duration needs a duration in sec above 0, not 'nan'"},
        {"-j 0 spec.txt", "--threads 0 is out of range: 1 to 1024"},
        {"spec.txt -o", "--output-dir needs the name of a folder"},
        {"-o out", "the specification file (SPECFILE) is missing"},
        {"-o out spec.txt extra.txt", "unexpected argument 'extra.txt'"},
        {"--max-force 100 spec.txt", "--max-force needs --moving-mass as well"},
        {"--moving-mass 10 spec.txt", "--moving-mass needs --max-force as well"},
        {"--max-velocity 0 spec.txt", "--max-velocity 0 is out of range: above 0"},
        {"--max-displacement x spec.txt", "--max-displacement needs a peak displacement above 0, not 'x'"},
        {"spec.txt --acceptance", "--acceptance needs the name of an acceptance file"},
        {"--quiet=abc spec.txt", "--quiet takes no value"},
        {"--minimize velocity spec.txt", "--minimize needs --optimize as well"},
        {"--optimize --minimize stroke spec.txt", "--minimize needs displacement, velocity or acceleration, not 'stroke'"},
        {"--optimize --tolerance 3:-1.5 spec.txt",
         "--tolerance needs a band LOW:HIGH in dB with LOW < HIGH, e.g. -1.5:3, not '3:-1.5'"},
        {"--optimize --tolerance -70:3 spec.txt", "--tolerance -70:3 is out of range: LOW < HIGH, both within -60 and +60 dB"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = words(c.line);
        if (std::find(args.begin(), args.end(), "-o") == args.end()) args.insert(args.begin(), {"-o", "out"});
        const CommandOutcome outcome = run_command(args);
        EXPECT_EQ(outcome.status, 2) << c.line;
        EXPECT_EQ(outcome.out, "") << c.line;
        EXPECT_EQ(outcome.err, std::string("quorel: ") + c.message + "\nRun 'quorel --help' for usage.\n") << c.line;
        EXPECT_EQ(read_directory().size(), 1u) << c.line;
        EXPECT_FALSE(std::filesystem::exists("out")) << c.line;
    }
    const CommandOutcome no_folder = run_command({"-o", "", "spec.txt"});
    EXPECT_EQ(no_folder.status, 2);
    EXPECT_NE(no_folder.err.find("Run 'quorel --help' for usage."), std::string::npos) << no_folder.err;
    EXPECT_EQ(read_directory().size(), 1u);
    // A check of the run itself keeps the dialogue's message and status 1, and
    // says what the rate must reach.
    const CommandOutcome low_rate = run_command({"-r", "159", "spec.txt"});
    EXPECT_EQ(low_rate.status, 1);
    EXPECT_EQ(low_rate.err, "\n Error: sample rate is too low: --sample-rate 159 is below the minimum of 160 "
                            "samples/sec (4 x the top grid frequency, 40 Hz) \n");
}

TEST(CommandLine, HelpDocumentsEveryOptionAndVersionNamesTheProgram) {
    const CommandOutcome help = run_command({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"SPECFILE", "--algorithm", "--spacing", "--q", "--damping", "--trials", "--units", "--seed",
                               "--sample-rate", "--points", "--duration", "--output-dir", "--threads", "--quiet",
                               "--no-progress", "--plot", "--help", "--version", "summary.json", "Exit status", "--max-acceleration",
                               "--max-velocity", "--max-displacement", "--max-force", "--moving-mass", "--acceptance",
                               "min_share", "--optimize", "--minimize", "--tolerance", "accel_optimal.out"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(help.out.find("--baseline"), std::string::npos) << "engine switches stay hidden";
    const CommandOutcome version = run_command({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("quorel ", 0), 0u);
    EXPECT_EQ(run_command({"check", "--version"}).out, version.out);
    // What an option needs or excludes stands on a line of its own, below its
    // description, never glued to the option's name.
    const CommandOutcome check_help = run_command({"check", "--help"});
    for (const std::string& text : {help.out, check_help.out}) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            for (const char* label : {"Needs:", "Excludes:"}) {
                const size_t at = line.find(label);
                if (at != std::string::npos) {
                    EXPECT_EQ(line.find_first_not_of(' '), at) << line;
                }
            }
        }
    }
    EXPECT_NE(check_help.out.find("first\n                              Excludes: --pretrigger\n"), std::string::npos)
        << check_help.out;
}

// A help or a version that cannot be written fails, as any output does.
TEST(CommandLine, HelpAndVersionIntoAFullOutputFail) {
    TempDir dir;
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"--version"}, {"check", "--help"}, {"check", "--version"}}) {
        const testing::ProgramEnd end = testing::wait_program(testing::start_program(args, full, "err.txt"));
        EXPECT_EQ(end.status, 1) << args.back();
        EXPECT_EQ(read_file("err.txt"), "\n Error: cannot write to standard output: No space left on device \n");
    }
    ::close(full);
}

// --plot draws the two optima in the output folder after the run, their
// compliance tables (by the run's acceptance rules) after the run's own text.
TEST(CommandLine, PlotDrawsTheOptimaInTheOutputFolder) {
    REQUIRE_GNUPLOT();
    TempDir dir;
    write_file("spec.txt", "100 10\n400 40\n");
    write_file("rules.toml", "[[band]]\nlow = -20\nhigh = 20\n");
    const CommandOutcome outcome = run_command(
        {"-n", "4", "-p", "2000", "-r", "8000", "-o", "run", "--plot", "--acceptance", "rules.toml", "--quiet", "spec.txt"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto summary = nlohmann::json::parse(read_file("run/summary.json"));
    for (const char* weighting : {"displacement", "acceleration"}) {
        const long t = summary.at("optimum").at(weighting).at("trial").get<long>();
        EXPECT_TRUE(std::filesystem::exists(format("run/srs_%ld.svg", t))) << t;
        EXPECT_TRUE(std::filesystem::exists(format("run/history_%ld.gp", t))) << t;
        EXPECT_NE(outcome.out.find(format(" Trial %ld: SRS against spec.txt", t)), std::string::npos) << outcome.out;
    }
    // The tables judge by the run's own rules.
    EXPECT_NE(outcome.out.find("Band -20/+20 dB", outcome.out.find(" Trial ")), std::string::npos) << outcome.out;
    EXPECT_LT(outcome.out.find("Optimum case for acceleration"), outcome.out.find(" Trial "));
}

// --plot without a gnuplot that runs fails before anything is written, not
// after the trials.
TEST(CommandLine, PlotWithoutAWorkingGnuplotFailsBeforeTheRun) {
    TempDir dir;
    write_file("spec.txt", "100 10\n400 40\n");
    std::filesystem::create_directory("bin");
    write_file("bin/gnuplot", "#!/bin/sh\nexit 1\n");
    std::filesystem::permissions("bin/gnuplot", std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    const std::string saved = path != nullptr ? path : "";
    struct Case {
        std::string path, message;
    };
    for (const Case& c :
         {Case{(dir.path() / "empty").string(),
               "\n Error: gnuplot not found: install the gnuplot-nox package to draw the plots \n"},
          Case{(dir.path() / "bin").string(),
               "\n Error: gnuplot does not run (exit status 1): no plot can be drawn \n"}}) {
        setenv("PATH", c.path.c_str(), 1);
        const CommandOutcome outcome =
            run_command({"-n", "2", "-p", "2000", "-r", "8000", "-o", "run", "--plot", "--quiet", "spec.txt"});
        setenv("PATH", saved.c_str(), 1);
        EXPECT_EQ(outcome.status, 1) << c.path;
        EXPECT_EQ(outcome.err, c.message);
        EXPECT_FALSE(std::filesystem::exists("run")) << c.path;
    }
}

// A signal during the trials stops them within about an evaluation, and the
// run ends as a failed one: status 128 + the signal, the trial log ending
// with the interruption, no summary (an earlier one removed) and no
// temporary file.
TEST(CommandLine, ASignalStopsTheRunLeavingNoFileThatPassesForComplete) {
    TempDir dir;
    write_file("pyroshock.txt", example_file("pyroshock.txt"));
    std::filesystem::create_directory("run");
    const int null_out = ::open("/dev/null", O_WRONLY);
    ASSERT_GE(null_out, 0);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        write_file("run/summary.json", "{}\n");
        std::filesystem::remove("run/trials.out");
        // Hundreds of seconds of trials.
        const int pid = testing::start_program(
            {"--quiet", "-n", "2000", "--spacing", "1/12", "-p", "99999", "-j", "2", "-o", "run", "pyroshock.txt"},
            null_out, "err.txt");
        ASSERT_GT(pid, 0);
        // The trial log has its headers once the run catches signals.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (read_lines("run/trials.out").size() < 4 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(pid, signal_number);
        const testing::ProgramEnd end = testing::wait_program(pid, 10.0);
        EXPECT_EQ(end.signal, 0);
        EXPECT_EQ(end.status, 128 + signal_number);
        const std::string interrupted = "\n Interrupted. \n";
        const std::string log = read_file("run/trials.out");
        ASSERT_GE(log.size(), interrupted.size());
        EXPECT_EQ(log.substr(log.size() - interrupted.size()), interrupted);
        EXPECT_EQ(read_file("err.txt"), interrupted);
        EXPECT_FALSE(std::filesystem::exists("run/summary.json"));
        EXPECT_TRUE(testing::files_ending({".part"}, "run").empty());
    }
    ::close(null_out);
}

// A run started with SIGHUP ignored (nohup) keeps it ignored: a hangup while
// it runs (here while it waits for the test to read its trial lines) changes
// nothing, and the run finishes with every file.
TEST(CommandLine, ARunUnderNohupFinishesThroughAHangup) {
    TempDir dir;
    write_file("spec.txt", "100 10\n400 40\n");
    testing::SmallPipe pipe;
    struct sigaction ignore {}, saved {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGHUP, &ignore, &saved);
    const int pid =
        testing::start_program({"-n", "200", "-p", "2000", "-r", "8000", "-o", "run", "spec.txt"}, pipe.write_end(), "err.txt");
    ::sigaction(SIGHUP, &saved, nullptr);
    ASSERT_GT(pid, 0);
    // Once the trial log has its headers the run has set its signals up, and
    // its 200 trial lines are more than the pipe holds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (read_lines("run/trials.out").size() < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGHUP);
    const std::string out = pipe.drain();
    const testing::ProgramEnd end = testing::wait_program(pid);
    EXPECT_EQ(end.signal, 0);
    EXPECT_EQ(end.status, 0) << read_file("err.txt");
    EXPECT_NE(out.find("Optimum case for acceleration"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists("run/summary.json"));
}

// A signal during the optimal drive's linear program stops it as it stops the
// trials: 128 + the signal, the log ending with the message, no summary, no
// file of the optimal drive.
TEST(CommandLine, ASignalStopsTheOptimalDrive) {
    TempDir dir;
    write_file("pyroshock.txt", example_file("pyroshock.txt"));
    const int null_out = ::open("/dev/null", O_WRONLY);
    ASSERT_GE(null_out, 0);
    // Two trials, then tens of seconds of linear programming.
    const int pid = testing::start_program({"--quiet", "-n", "2", "-j", "1", "-p", "20000", "-r", "100000", "--optimize",
                                            "-o", "run", "pyroshock.txt"},
                                           null_out, "err.txt");
    ASSERT_GT(pid, 0);
    // The log has both trials' lines (after its four heading lines) once the trials are done.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (read_lines("run/trials.out").size() < 6 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(pid, SIGINT);
    const testing::ProgramEnd end = testing::wait_program(pid, 10.0);
    ::close(null_out);
    EXPECT_EQ(end.signal, 0);
    EXPECT_EQ(end.status, 128 + SIGINT);
    const std::string log = read_file("run/trials.out");
    EXPECT_EQ(log.substr(log.size() - std::string(interrupted_message).size()), interrupted_message);
    EXPECT_FALSE(std::filesystem::exists("run/summary.json"));
    EXPECT_TRUE(testing::files_ending({"_optimal.out", "_optimal.csv", ".part"}, "run").empty());
}

// Standard output that cannot be written (a closed pipe, a full disk) fails
// the run like any other write error, with the same cleanup: status 1, not
// death by SIGPIPE, the reason on standard error and at the end of the log,
// and no summary.
TEST(CommandLine, AStandardOutputThatFailsFailsTheRun) {
    TempDir dir;
    write_file("spec.txt", "100 10\n400 40\n");
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ::close(pipe_ends[0]);
    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    struct Case {
        int out;
        bool quiet;
        std::string reason;
    };
    for (const Case& c : {Case{pipe_ends[1], false, "Broken pipe"}, Case{full, false, "No space left on device"},
                          Case{full, true, "No space left on device"}}) {
        SCOPED_TRACE(c.reason + (c.quiet ? " quiet" : ""));
        std::vector<std::string> args{"-n", "3", "-p", "2000", "-r", "8000", "-o", "run", "spec.txt"};
        if (c.quiet) args.insert(args.begin(), "--quiet");
        const testing::ProgramEnd end = testing::wait_program(testing::start_program(args, c.out, "err.txt"));
        EXPECT_EQ(end.signal, 0);
        EXPECT_EQ(end.status, 1);
        const std::string message = "\n Error: cannot write to standard output: " + c.reason + " \n";
        EXPECT_EQ(read_file("err.txt"), message);
        const std::string log = read_file("run/trials.out");
        ASSERT_GE(log.size(), message.size());
        EXPECT_EQ(log.substr(log.size() - message.size()), message);
        EXPECT_FALSE(std::filesystem::exists("run/summary.json"));
        EXPECT_TRUE(testing::files_ending({".part"}, "run").empty());
        std::filesystem::remove_all("run");
    }
    ::close(pipe_ends[1]);
    ::close(full);
}

// The trial the score table `name` ranks first among those `qualifies`
// accepts (ties keep the lower trial).
template <typename Qualifies>
long best_scoring(const std::string& name, Qualifies qualifies) {
    long best = -1;
    double best_score = -1.0;
    for (const auto& row : read_table(name)) {
        if (qualifies(static_cast<size_t>(row[0])) && row[1] > best_score) best = static_cast<long>(row[0]), best_score = row[1];
    }
    return best;
}

// A displacement limit below both of today's optima: the optima move to the
// best-scoring trials within it.  Limits no trial meets: status 3, the closest
// trial named, the tables and the summary written, no optimum files.
TEST(CommandLine, LimitsChooseAmongTheTrialsWithinThemAndExitThreeWhenNone) {
    TempDir dir;
    write_file("spec.txt", example_file("functional.txt"));
    const std::vector<std::string> common{"-n", "40", "--quiet", "spec.txt"};
    auto run_with = [&](std::vector<std::string> extra) {
        extra.insert(extra.end(), common.begin(), common.end());
        return run_command(extra);
    };
    ASSERT_EQ(run_with({"-o", "free"}).status, 0);
    const auto free = nlohmann::json::parse(read_file("free/summary.json"));
    std::vector<double> displacement, velocity;
    for (const auto& trial : free.at("trials")) {
        displacement.push_back(trial.at("peak_displacement").get<double>());
        velocity.push_back(trial.at("peak_velocity").get<double>());
    }
    const double lowest = *std::min_element(displacement.begin(), displacement.end());
    double optima_lowest = 1e30;
    for (const char* w : {"displacement", "acceleration"}) {
        optima_lowest = std::min(optima_lowest, free.at("optimum").at(w).at("peak_displacement").get<double>());
    }
    ASSERT_LT(lowest, optima_lowest) << "the case needs a trial below today's optima";
    const std::string limit = format("%.6g", (lowest + optima_lowest) / 2.0);
    const double limit_value = std::stod(limit);
    auto within = [&](size_t t) { return displacement[t] <= limit_value; };
    const long count = std::count_if(displacement.begin(), displacement.end(), [&](double d) { return d <= limit_value; });

    const CommandOutcome limited = run_with({"-o", "limited", "--max-displacement", limit});
    ASSERT_EQ(limited.status, 0) << limited.err;
    EXPECT_NE(limited.out.find(format("\n\n Trials within the limits: %ld of 40 \n", count)), std::string::npos) << limited.out;
    const auto summary = nlohmann::json::parse(read_file("limited/summary.json"));
    EXPECT_EQ(summary.at("limits").at("displacement").get<double>(), static_cast<double>(std::stof(limit)));
    for (size_t t = 0; t < displacement.size(); ++t) EXPECT_EQ(summary.at("trials")[t].at("within_limits"), within(t)) << t;
    EXPECT_EQ(summary.at("optimum").at("displacement").at("trial").get<long>(), best_scoring("limited/disp_rank", within));
    EXPECT_EQ(summary.at("optimum").at("acceleration").at("trial").get<long>(), best_scoring("limited/accel_rank", within));

    // No trial is within 0.9 x the lowest displacement and the lowest velocity.
    const double top_velocity = *std::min_element(velocity.begin(), velocity.end());
    const CommandOutcome none = run_with(
        {"-o", "none", "--max-displacement", format("%.6g", 0.9 * lowest), "--max-velocity", format("%.6g", top_velocity)});
    EXPECT_EQ(none.status, 3) << none.err;
    size_t closest = 0;
    double nearest = 1e30;
    for (size_t t = 0; t < displacement.size(); ++t) {
        const double r = std::max(displacement[t] / (0.9 * lowest), velocity[t] / top_velocity);
        if (r < nearest) nearest = r, closest = t;
    }
    EXPECT_NE(none.out.find(format(" No trial is within the limits. \n Closest: trial %zu, at ", closest)), std::string::npos)
        << none.out;
    const auto written = [&] {
        std::filesystem::current_path("none");
        const auto files = read_directory();
        std::filesystem::current_path("..");
        return files;
    }();
    std::vector<std::string> written_names;
    for (const auto& [name, content] : written) written_names.push_back(name);
    EXPECT_EQ(written_names, (std::vector<std::string>{"accel_rank", "disp_rank", "rank_d.out", "summary.json", "trials.out"}));
    const auto failed = nlohmann::json::parse(written.at("summary.json"));
    EXPECT_TRUE(failed.at("optimum").is_null());
    EXPECT_EQ(failed.at("closest").at("trial").get<size_t>(), closest);
    EXPECT_EQ(failed.at("qualifying_trials").get<long>(), 0);
    // Its ratios are its own peaks over the limits, each against its own limit.
    const auto& ratios = failed.at("closest").at("limit_ratios");
    const auto& peaks = failed.at("trials")[closest];
    EXPECT_DOUBLE_EQ(ratios.at("velocity").get<double>(),
                     peaks.at("peak_velocity").get<double>() / std::stof(format("%.6g", top_velocity)));
    EXPECT_DOUBLE_EQ(ratios.at("displacement").get<double>(),
                     peaks.at("peak_displacement").get<double>() / std::stof(format("%.6g", 0.9 * lowest)));
    EXPECT_TRUE(ratios.at("acceleration").is_null());
    EXPECT_TRUE(ratios.at("force").is_null());
}

// A specification the wavelets cannot follow: 1000 G at 20 Hz falling to 10 G
// at 2 kHz.  The SRS at 2 kHz stays near the history's peak acceleration, far
// above 10 G, and the correction drives that wavelet to zero.  The check's
// line is followed by one that says so and what to change, on standard error
// and at the end of the trial log alike.
TEST(CommandLine, ASpecificationTheSynthesisCannotFollowSaysWhy) {
    TempDir dir;
    write_file("spec.txt", "20 1000\n2000 10\n");
    const CommandOutcome failed = run_command({"-n", "2", "--quiet", "-o", "run", "spec.txt"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err.rfind("gt error: i=40  amp=", 0), 0u) << failed.err;
    const size_t line = failed.err.find("\nError: the amplitude correction drove the wavelet at 2000 Hz to zero: the "
                                        "specification there is 10 G, but the history's SRS there reached ");
    ASSERT_NE(line, std::string::npos) << failed.err;
    double reached = 0.0, peak = 0.0;
    ASSERT_EQ(std::sscanf(failed.err.c_str() + line, "\nError: the amplitude correction drove the wavelet at 2000 Hz "
                          "to zero: the specification there is 10 G, but the history's SRS there reached %lf G, and its "
                          "peak acceleration is %lf G.", &reached, &peak), 2);
    EXPECT_GT(reached, 10.0 * 10.0);
    EXPECT_GE(reached, 0.5 * peak);
    const std::string advice = " Make the specification's slope gentler near 2000 Hz, or end the frequency range below "
                               "2000 Hz.\n";
    ASSERT_GE(failed.err.size(), advice.size());
    EXPECT_EQ(failed.err.substr(failed.err.size() - advice.size()), advice);
    EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 2) << failed.err;
    const std::string log = read_file("run/trials.out");
    ASSERT_GE(log.size(), failed.err.size());
    EXPECT_EQ(log.substr(log.size() - failed.err.size()), failed.err);
}

// A velocity limit below the least peak any drive of the run's duration
// needs: a warning before the trials naming the bound and the fewest samples
// that bring it down to the limit, then status 3 with the closest trial's
// peak against the limit and against the bound.  A history of that many
// samples (given as the printed duration) has its bound within the limit, one
// sample fewer has not; a limit below the bound of the longest history
// leaves no duration.
TEST(CommandLine, ImpossibleLimitsAreWarnedAndMeasuredAgainstTheLeastPeaks) {
    TempDir dir;
    write_file("spec.txt", "100 10\n400 40\n");
    auto run_with = [&](const std::string& folder, std::vector<std::string> extra) {
        extra.insert(extra.end(), {"-n", "3", "-r", "8000", "--quiet", "-o", folder, "spec.txt"});
        return run_command(extra);
    };
    ASSERT_EQ(run_with("free", {"-p", "400"}).status, 0);
    const double least = nlohmann::json::parse(read_file("free/summary.json")).at("bounds").at("velocity").at("value");
    const std::string limit = format("%.4g", 0.9 * least);

    const CommandOutcome tight = run_with("tight", {"-p", "400", "--max-velocity", limit});
    EXPECT_EQ(tight.status, 3) << tight.err;
    const std::string warning = "\n Warning: no drive of 0.05 sec can keep its peak velocity within " + limit + " in/sec";
    const size_t warned = tight.out.find(warning);
    ASSERT_NE(warned, std::string::npos) << tight.out;
    EXPECT_LT(warned, tight.out.find("Trials within the limits"));
    const std::string falls = " falls to the limit at ";
    const size_t at = tight.out.find(falls, warned);
    ASSERT_NE(at, std::string::npos) << tight.out;
    const long samples = std::stol(tight.out.substr(at + falls.size()));
    const std::string sec = "a duration of ";
    const std::string duration = words(tight.out.substr(tight.out.find(sec, at) + sec.size()))[0];

    const auto summary = nlohmann::json::parse(read_file("tight/summary.json"));
    const auto& closest = summary.at("closest");
    const double peak = summary.at("trials")[closest.at("trial").get<size_t>()].at("peak_velocity");
    EXPECT_DOUBLE_EQ(closest.at("bound_ratios").at("velocity").get<double>(), peak / least);
    EXPECT_NE(tight.out.find(format("\n   velocity %.2f x the limit, %.1f x the least possible \n",
                                    peak / std::stof(limit), peak / least)),
              std::string::npos)
        << tight.out;

    const CommandOutcome enough = run_with("enough", {"-d", duration, "--max-velocity", limit});
    EXPECT_NE(enough.out.find(format(" nt=%ld \n", samples)), std::string::npos) << enough.out;
    EXPECT_LE(nlohmann::json::parse(read_file("enough/summary.json")).at("bounds").at("velocity").at("value").get<double>(),
              std::stof(limit));
    EXPECT_EQ(enough.out.find("Warning"), std::string::npos) << enough.out;
    const CommandOutcome short_of =
        run_with("short", {"-p", std::to_string(samples - 1), "--max-velocity", limit});
    EXPECT_NE(short_of.out.find(" falls to the limit at " + std::to_string(samples) + " samples"), std::string::npos)
        << short_of.out;

    const CommandOutcome never = run_with("never", {"-p", "400", "--max-velocity", format("%.4g", 0.01 * least)});
    EXPECT_NE(never.out.find(" No duration up to 99999 samples (12.5 sec) brings it down to the limit."),
              std::string::npos)
        << never.out;
}

// Heavy damping passes the base velocity through the damper straight into the
// absolute acceleration, so a drive of small displacement can meet the SRS.
// No trial is below the velocity bound of the SRS it delivers (at least the
// specification less the trial's largest error), nor below the displacement
// bound at its own peak velocity, and each optimum is measured against the
// latter.  No displacement bound holds for every drive: the line before the
// trials says so, the displacement limit is not called impossible, and
// summary.json has none.  Within a velocity limit one holds, and is given.
TEST(CommandLine, HeavyDampingBoundsHoldForEveryTrial) {
    TempDir dir;
    write_file("s.txt", "10 5\n100 50\n2000 50\n");
    auto run_with = [&](const std::string& folder, std::vector<std::string> extra) {
        extra.insert(extra.end(), {"--damping", "0.5", "-r", "20000", "-p", "4000", "--max-displacement", "0.12",
                                   "--quiet", "-o", folder, "s.txt"});
        return run_command(extra);
    };
    const CommandOutcome free = run_with("free", {"-n", "40"});
    ASSERT_EQ(free.status, 0) << free.err;
    EXPECT_NE(free.out.find(" (Q = 1): 29.2 G, 12.9 in/sec; the least displacement depends on the drive's peak "
                            "velocity \n"),
              std::string::npos)
        << free.out;
    EXPECT_EQ(free.out.find("Warning"), std::string::npos) << free.out;

    const auto summary = nlohmann::json::parse(read_file("free/summary.json"));
    EXPECT_TRUE(summary.at("bounds").at("displacement").is_null());
    const double duration = summary.at("bounds").at("duration");
    std::vector<float> freqs, spec, levels;
    for (const auto& point : summary.at("grid")) {
        freqs.push_back(point.at("frequency").get<float>());
        spec.push_back(point.at("spec").get<float>());
    }
    const auto count = static_cast<int32_t>(freqs.size());
    for (const auto& trial : summary.at("trials")) {
        const double below = std::pow(10.0, -trial.at("max_error_db").get<double>() / 20.0) * (1.0 - 1e-6);
        levels.clear();
        for (const float level : spec) levels.push_back(static_cast<float>(level * below));
        const BoundedSpectrum delivered{freqs.data(), levels.data(), count, 0.5, UnitSystem::english, std::nullopt};
        const double velocity = trial.at("peak_velocity");
        EXPECT_LE(feasibility_bounds(delivered, duration).velocity.value, velocity) << trial.at("trial");
        EXPECT_LE(displacement_bound(delivered, duration, velocity).value, trial.at("peak_displacement").get<double>())
            << trial.at("trial");
    }
    const BoundedSpectrum specified{freqs.data(), spec.data(), count, 0.5, UnitSystem::english, std::nullopt};
    for (const char* weighting : {"displacement", "acceleration"}) {
        const auto& optimum = summary.at("optimum").at(weighting);
        const double least = displacement_bound(specified, duration, optimum.at("peak_velocity")).value;
        const auto& ratio = optimum.at("bound_ratios").at("displacement");
        if (least > 0.0) {
            EXPECT_DOUBLE_EQ(ratio.get<double>(), optimum.at("peak_displacement").get<double>() / least) << weighting;
        } else {
            EXPECT_TRUE(ratio.is_null()) << weighting;
        }
    }

    const CommandOutcome within = run_with("within", {"-n", "2", "--max-velocity", "20"});
    const auto limited = nlohmann::json::parse(read_file("within/summary.json"));
    const auto& bound = limited.at("bounds").at("displacement");
    EXPECT_EQ(bound.at("peak_velocity").get<double>(), 20.0);
    const double least = displacement_bound(specified, duration, 20.0).value;
    EXPECT_EQ(bound.at("value").get<double>(), least);
    EXPECT_GT(least, 0.12);
    EXPECT_NE(within.out.find(" in/sec, " + format("%.3f", least) + " inch within 20 in/sec \n"), std::string::npos)
        << within.out;
    EXPECT_NE(within.out.find("keep its peak displacement within 0.12 inch: the least possible is " +
                              format("%.3f", least) + " inch within 20 in/sec (set at"),
              std::string::npos)
        << within.out;
}

// Acceptance rules judge every trial on the SRS it delivers: each optimum's
// verdict, made again from the SRS its files hold, agrees with the trial's,
// and a trial that fails is never an optimum.  Rules nobody meets: status 3.
TEST(CommandLine, AcceptanceRulesJudgeTheSrsEachTrialDelivers) {
    TempDir dir;
    write_file("spec.txt", example_file("functional.txt"));
    write_file("rules.toml", "srs = 'each'\n[[band]]\nlow = -1.5\nhigh = 1.5\nmin_share = 0.8\n"
                             "[above_nominal]\nmin_share = 0.4\n");
    const CommandOutcome judged = run_command({"-n", "40", "--quiet", "-o", "run", "--acceptance", "rules.toml", "spec.txt"});
    ASSERT_EQ(judged.status, 0) << judged.err;
    const auto summary = nlohmann::json::parse(read_file("run/summary.json"));
    long passing = 0;
    for (const auto& trial : summary.at("trials")) passing += trial.at("passes").get<bool>();
    ASSERT_GT(passing, 0);
    ASSERT_LT(passing, 40) << "the rules should divide the trials";
    EXPECT_NE(judged.out.find(format("Trials passing the acceptance rules: %ld of 40", passing)), std::string::npos);
    for (const char* w : {"displacement", "acceleration"}) {
        const auto& optimum = summary.at("optimum").at(w);
        const long t = optimum.at("trial").get<long>();
        EXPECT_TRUE(summary.at("trials")[static_cast<size_t>(t)].at("passes").get<bool>()) << t;
        // The verdict again, by hand from the srs file (frequency, positive,
        // negative) against the grid: each polarity is a point.
        const auto srs = read_table(format("run/srs_%ld.out", t));
        const auto& grid = summary.at("grid");
        ASSERT_EQ(srs.size(), grid.size());
        long inside = 0, above = 0;
        for (size_t j = 0; j < srs.size(); ++j) {
            const double a = grid[j].at("spec").get<double>();
            for (const double response : {srs[j][1], srs[j][2]}) {
                const double db = 20.0 * std::log10(response / a);
                inside += std::fabs(db) <= 1.5;
                above += response >= a;
            }
        }
        const auto& verdict = optimum.at("acceptance");
        EXPECT_EQ(verdict.at("bands")[0].at("inside").get<long>(), inside) << t;
        EXPECT_EQ(verdict.at("bands")[0].at("points").get<size_t>(), 2 * srs.size());
        EXPECT_EQ(verdict.at("above_nominal").at("inside").get<long>(), above) << t;
        EXPECT_TRUE(verdict.at("pass").get<bool>());
    }

    write_file("strict.toml", "[[band]]\nlow = -0.01\nhigh = 0.01\n");
    const CommandOutcome none = run_command({"-n", "5", "--quiet", "-o", "strict", "--acceptance", "strict.toml", "spec.txt"});
    EXPECT_EQ(none.status, 3);
    EXPECT_NE(none.out.find(" No trial is passing the acceptance rules. \n Closest: trial "), std::string::npos) << none.out;
    EXPECT_NE(none.out.find("Acceptance (strict.toml, maximax): FAIL"), std::string::npos);

    // A faulty file stops the run before anything is written.
    write_file("bad.toml", "[[band]]\nlow = 2\nhigh = 1\n");
    const CommandOutcome bad = run_command({"-o", "bad", "--acceptance", "bad.toml", "spec.txt"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("bad.toml line 3: band[1].high: must be above low"), std::string::npos) << bad.err;
    EXPECT_FALSE(std::filesystem::exists("bad"));
    // So does a band whose range holds no grid frequency.
    write_file("far.toml", "[[band]]\nlow = -3\nhigh = 3\nfrom_hz = 50000\nto_hz = 60000\n");
    const CommandOutcome far = run_command({"-o", "far", "--acceptance", "far.toml", "spec.txt"});
    EXPECT_EQ(far.status, 1);
    EXPECT_NE(far.err.find("holds no frequency"), std::string::npos) << far.err;
    EXPECT_FALSE(std::filesystem::exists("far"));
}

// A progress line only on a terminal's standard error, erased at the end.
// The optimal drive's case: 50 Hz to 400 Hz at 1/3 octave, 0.1 sec at 4000
// samples/sec (a linear program of 100 nodes).
const char* const optimal_spec = "50 5\n100 20\n400 20\n";
std::vector<std::string> optimal_run(const std::string& folder, std::vector<std::string> extra) {
    std::vector<std::string> args{"-n", "10", "--spacing", "1/3", "-u", "metric", "-r", "4000", "-d", "0.1",
                                  "--optimize", "--quiet", "-o", folder};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("spec.txt");
    return args;
}

// The record document of `quorel check` on a file, by the rules in rules.toml.
nlohmann::json checked(const std::string& record) {
    const CommandOutcome check = run_command({"check", record, "--spec", "spec.txt", "--spacing", "1/3", "-u", "metric",
                                             "--acceptance", "rules.toml", "--json"});
    EXPECT_EQ(check.status, 0) << check.err;
    return nlohmann::json::parse(check.out).at("records").at(0);
}

// The optimal drive meets every constraint as quorel check sees its
// history_optimal.csv: each polarity within -1.5/+3 dB at every grid
// frequency, at rest at both ends, within the limit given; it is never above
// the wavelet optimum it starts from in the minimised peak; and it is the same
// for any thread count.
TEST(CommandLine, OptimizeMeetsEveryConstraintAsTheCheckSeesIt) {
    TempDir dir;
    write_file("spec.txt", optimal_spec);
    write_file("rules.toml", "srs = \"each\"\n[[band]]\nlow = -1.5\nhigh = 3\n");
    for (const char* threads : {"1", "2"}) {
        const CommandOutcome run = run_command(optimal_run(std::string("free") + threads, {"-j", threads}));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(" Optimal drive for displacement (from trial "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("Peaks / least possible = "), std::string::npos);
    }
    EXPECT_EQ(read_file("free1/history_optimal.csv"), read_file("free2/history_optimal.csv"));
    const auto free = nlohmann::json::parse(read_file("free1/summary.json"));
    const auto& optimal = free.at("optimal");
    ASSERT_TRUE(optimal.at("meets").get<bool>());
    const auto& start = free.at("optimum").at("displacement");
    EXPECT_EQ(optimal.at("start_trial"), start.at("trial"));
    EXPECT_LE(optimal.at("peak_displacement").get<double>(), start.at("peak_displacement").get<double>());
    for (const std::string file : {"accel_optimal.out", "velox_optimal.out", "disp_optimal.out", "srs_optimal.out",
                                   "history_optimal.csv"}) {
        EXPECT_TRUE(std::filesystem::exists("free1/" + file)) << file;
    }
    const auto free_check = checked("free1/history_optimal.csv");
    EXPECT_TRUE(free_check.at("verdict").at("pass").get<bool>()) << free_check.dump();

    // A velocity limit below the unlimited drive's: the drive keeps to it between the nodes too.
    const double velocity = optimal.at("peak_velocity").get<double>();
    const std::string limit = format("%.4g", 0.8 * velocity);
    const CommandOutcome limited = run_command(optimal_run("limited", {"--max-velocity", limit}));
    ASSERT_EQ(limited.status, 0) << limited.err;
    const auto check = checked("limited/history_optimal.csv");
    EXPECT_TRUE(check.at("verdict").at("pass").get<bool>()) << check.dump();
    const auto& record = check.at("record");
    EXPECT_LE(record.at("peak_velocity").get<double>(), std::stof(limit));
    // At rest at both ends: no acceleration at the first and the last sample, and
    // velocity and displacement back at zero but for the rounding of floats.
    const auto history = testing::read_csv("limited/history_optimal.csv");
    EXPECT_EQ(history.front()[1], 0.0);
    EXPECT_EQ(history.back()[1], 0.0);
    EXPECT_LT(std::fabs(record.at("end_velocity").get<double>()), 1e-5 * record.at("peak_velocity").get<double>());
    EXPECT_LT(std::fabs(record.at("end_displacement").get<double>()),
              1e-5 * record.at("peak_displacement").get<double>());
    EXPECT_EQ(nlohmann::json::parse(read_file("limited/summary.json")).at("optimal").at("limit_ratios").at("velocity") <= 1.0,
              true);
}

// A limit no drive can keep: status 3, the closest drive (within the limit)
// with its polarities outside the band named by frequency and dB, and none of
// the optimal drive's files.
TEST(CommandLine, OptimizeWithoutASolutionExitsThreeNamingTheViolations) {
    TempDir dir;
    write_file("spec.txt", optimal_spec);
    const CommandOutcome run = run_command(optimal_run("out", {"--max-displacement", "0.03"}));
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.out.find("(from trial "), std::string::npos);
    EXPECT_NE(run.out.find("): no drive meets every constraint \n Closest drive: \n"), std::string::npos) << run.out;
    const size_t outside = run.out.find("   Outside the band: \n");
    ASSERT_NE(outside, std::string::npos) << run.out;
    const std::string line = run.out.substr(outside + 22, run.out.find('\n', outside + 22) - outside - 22);
    EXPECT_NE(line.find(" Hz "), std::string::npos) << line;
    EXPECT_NE(line.find(" dB (band -1.5/+3 dB)"), std::string::npos) << line;
    const auto summary = nlohmann::json::parse(read_file("out/summary.json"));
    const auto& optimal = summary.at("optimal");
    EXPECT_FALSE(optimal.at("meets").get<bool>());
    EXPECT_TRUE(optimal.at("files").is_null());
    ASSERT_FALSE(optimal.at("violations").empty());
    // The limit holds; the specification gives way.
    EXPECT_LE(optimal.at("peak_displacement").get<double>(), static_cast<double>(0.03f));
    EXPECT_TRUE(testing::files_ending({"_optimal.out", "_optimal.csv", ".part"}, "out").empty());
}

TEST(CommandLine, ProgressLineOnlyOnATerminal) {
    TempDir dir;
    write_file("spec.txt", "100 10\n400 40\n");
    const std::vector<std::string> args{"-n", "3", "-p", "2000", "-r", "8000", "-j", "1", "spec.txt"};
    EXPECT_EQ(run_command(args, false).err, "");
    const CommandOutcome shown = run_command(args, true);
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.err.find("\r trial 3 of 3"), std::string::npos) << shown.err;
    EXPECT_EQ(shown.err.back(), '\r');
    EXPECT_EQ(run_command({"--no-progress", "-n", "3", "-p", "2000", "-r", "8000", "spec.txt"}, true).err, "");
}

}  // namespace
}  // namespace quorel
