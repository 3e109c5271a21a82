#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/command_line.hpp"
#include "base/format.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::read_directory;
using testing::read_file;
using testing::read_lines;
using testing::read_table;
using testing::TempDir;
using testing::write_file;

struct CommandOutcome {
    int status = -1;
    std::string out, err;
};

CommandOutcome run_command(const std::vector<std::string>& args, bool err_is_terminal = false) {
    std::ostringstream out, err;
    CommandOutcome outcome;
    outcome.status = run_command_line(args, out, err, err_is_terminal);
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

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
        EXPECT_EQ(command.out.find(" 0 "), std::string::npos) << "--quiet leaves the trial lines out";
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
        }
        std::filesystem::current_path("../..");
    }
}

// Each wrong command line: status 2, the parser's message and the pointer to
// --help on standard error, and nothing written (not even the output folder).
TEST(CommandLine, UsageErrorsExitTwoAndTouchNothing) {
    TempDir dir;
    write_file("spec.txt", "10 1\n40 4\n");
    for (const char* line :
         {"--bogus spec.txt", "-n 0 spec.txt", "-n 2001 spec.txt", "-n 0x10 spec.txt", "-q 0.5 spec.txt",
          "--damping 1 spec.txt", "-q 10 --damping 0.05 spec.txt", "-p 100 -d 1 spec.txt", "-p 100000 spec.txt",
          "-a fast spec.txt", "--spacing 1/4 spec.txt", "-s 0 spec.txt", "-u imperial spec.txt", "-r 0 spec.txt",
          "-d nan spec.txt", "-j 0 spec.txt", "-o out", "-o out spec.txt extra.txt"}) {
        std::vector<std::string> args = words(line);
        if (std::find(args.begin(), args.end(), "-o") == args.end()) args.insert(args.begin(), {"-o", "out"});
        const CommandOutcome outcome = run_command(args);
        EXPECT_EQ(outcome.status, 2) << line;
        EXPECT_EQ(outcome.out, "") << line;
        EXPECT_NE(outcome.err.find("Run 'quorel --help' for usage."), std::string::npos) << line << outcome.err;
        EXPECT_EQ(read_directory().size(), 1u) << line;
        EXPECT_FALSE(std::filesystem::exists("out")) << line;
    }
    // A check of the run itself keeps the dialogue's message and status 1.
    const CommandOutcome low_rate = run_command({"-r", "159", "spec.txt"});
    EXPECT_EQ(low_rate.status, 1);
    EXPECT_EQ(low_rate.err, "\n Error: sample rate is too low \n");
}

TEST(CommandLine, HelpDocumentsEveryOptionAndVersionNamesTheProgram) {
    const CommandOutcome help = run_command({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"SPECFILE", "--algorithm", "--spacing", "--q", "--damping", "--trials", "--units", "--seed",
                               "--sample-rate", "--points", "--duration", "--output-dir", "--threads", "--quiet",
                               "--no-progress", "--plot", "--help", "--version", "summary.json", "Exit status"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(help.out.find("--baseline"), std::string::npos) << "engine switches stay hidden";
    const CommandOutcome version = run_command({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("quorel ", 0), 0u);
}

// --plot draws the two optima in the output folder after the run, their
// compliance tables after the run's own text.
TEST(CommandLine, PlotDrawsTheOptimaInTheOutputFolder) {
    REQUIRE_GNUPLOT();
    TempDir dir;
    write_file("spec.txt", "100 10\n400 40\n");
    const CommandOutcome outcome =
        run_command({"-n", "4", "-p", "2000", "-r", "8000", "-o", "run", "--plot", "--quiet", "spec.txt"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto summary = nlohmann::json::parse(read_file("run/summary.json"));
    for (const char* weighting : {"displacement", "acceleration"}) {
        const long t = summary.at("optimum").at(weighting).at("trial").get<long>();
        EXPECT_TRUE(std::filesystem::exists(format("run/srs_%ld.svg", t))) << t;
        EXPECT_TRUE(std::filesystem::exists(format("run/history_%ld.gp", t))) << t;
        EXPECT_NE(outcome.out.find(format(" Trial %ld: SRS against spec.txt", t)), std::string::npos) << outcome.out;
    }
    EXPECT_LT(outcome.out.find("Optimum case for acceleration"), outcome.out.find(" Trial "));
}

// A progress line only on a terminal's standard error, erased at the end.
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
