#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "base/format.hpp"
#include "base/version.hpp"
#include "plot/plot_program.hpp"
#include "acceptance/acceptance.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

using testing::files_ending;
using testing::gnuplot_installed;
using testing::read_file;
using testing::run_script;
using testing::TempDir;
using testing::write_file;

struct Outcome {
    int status = -1;
    std::string out, err;
};

// quorel-plot in the working directory; `env` is put before the command.  Its
// output is caught in the test's own directory (tests run in parallel).
Outcome plot(const std::string& args, const std::string& env = "") {
    const std::string command = env + " '" QUOREL_PLOT_PROGRAM "' " + args + " >plot.stdout 2>plot.stderr";
    const int raw = std::system(command.c_str());
    Outcome o{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file("plot.stdout"), read_file("plot.stderr")};
    std::filesystem::remove("plot.stdout");
    std::filesystem::remove("plot.stderr");
    return o;
}

// `text` as one word of a shell command line.
std::string shell_word(const std::string& text) {
    std::string word = "'";
    for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// A finished run: 100 Hz 10 G rising to a 60 G plateau from 250 to 500 Hz, 1/3
// octave (8 grid frequencies), 3 trials, metric (G, m/sec, mm), 4000 points at
// 20000 samples/sec.  Returns the console text; the optimum trials' files are
// in the working directory.
std::string finished_run() {
    write_file("spec.txt", "100 10\n250 60\n500 60\n");
    const auto run = run_script("1 spec.txt 1 1 0.05 3 2 7 20000 1 4000\n");
    EXPECT_EQ(run.status, 0) << run.output;
    return run.output;
}

// The two optimum trials of the report, with their maximum errors (dB).
struct Optimum {
    long trial = -1;
    double max_error_db = -1.0;
};
std::vector<Optimum> optima(const std::string& console) {
    std::vector<Optimum> found;
    for (size_t at = console.find("Optimum case"); at != std::string::npos; at = console.find("Optimum case", at + 1)) {
        Optimum o;
        std::sscanf(console.c_str() + at,
                    "Optimum case for %*s = %ld Peak Accel = %*f %*s Peak Velox = %*f %*s Peak Disp = %*f %*s "
                    "Max Error = %lf",
                    &o.trial, &o.max_error_db);
        found.push_back(o);
    }
    EXPECT_EQ(found.size(), 2u) << console;
    return found;
}

TEST(PlotProgram, DrawsBothPlotsOfEachOptimumTrial) {
    REQUIRE_GNUPLOT();
    TempDir dir;
    const std::string console = finished_run();
    const Outcome o = plot("spec.txt");
    ASSERT_EQ(o.status, 0) << o.out;
    EXPECT_EQ(o.err, "");   // gnuplot said nothing: no warning, no error
    EXPECT_TRUE(files_ending({".part"}).empty());

    for (const auto& [t, max_error_db] : optima(console)) {
        const std::string srs = read_file(format("srs_%ld.svg", t));
        for (const char* series : {"<title>specification</title>", "<title>positive SRS</title>",
                                   "<title>negative SRS</title>", "<title>-3 dB</title>", "<title>+3 dB</title>",
                                   "<title>-6 dB</title>", "<title>+6 dB</title>", ">Natural frequency (Hz)<",
                                   ">Peak acceleration (G)<", "</svg>"}) {
            EXPECT_NE(srs.find(series), std::string::npos) << series << " in srs_" << t << ".svg";
        }
        EXPECT_FALSE(testing::file_exists(format("pvss_%ld.svg", t)));   // only with --pvss
        const std::string history = read_file(format("history_%ld.svg", t));
        for (const char* label : {">Acceleration (G)<", ">Velocity (m/sec)<", ">Displacement (mm)<", ">Time (sec)<",
                                  "</svg>"}) {
            EXPECT_NE(history.find(label), std::string::npos) << label << " in history_" << t << ".svg";
        }

        // The table against the run's own report: the largest margin of either
        // polarity is the optimum's maximum error.
        const size_t table = o.out.find(format("\n Trial %ld: ", t));
        ASSERT_NE(table, std::string::npos) << o.out;
        std::istringstream lines(o.out.substr(table));
        double worst = 0.0;
        int rows = 0;
        for (std::string line; std::getline(lines, line) && line.rfind("   Band", 0) != 0;) {
            double f, spec, pos, neg, pos_db, neg_db;
            if (std::sscanf(line.c_str(), "%lf %lf %lf %lf %lf %lf", &f, &spec, &pos, &neg, &pos_db, &neg_db) == 6) {
                worst = std::max({worst, std::fabs(pos_db), std::fabs(neg_db)});
                ++rows;
            }
        }
        EXPECT_EQ(rows, 8);
        EXPECT_NEAR(worst, max_error_db, testing::report_db_tolerance) << "trial " << t;
    }

    // The script alone redraws the plot in the run's directory.
    const long t = optima(console)[0].trial;
    std::filesystem::remove(format("srs_%ld.svg", t));
    EXPECT_EQ(std::system(format("gnuplot srs_%ld.gp 2>/dev/null", t).c_str()), 0);
    EXPECT_NE(read_file(format("srs_%ld.svg", t)).find("<title>positive SRS</title>"), std::string::npos);
}

// The pseudo velocities drawn for a trial: the data block `name` of its
// pvss_<n>.gp, frequency and value per line.
std::vector<std::pair<double, double>> pvss_block(const std::string& script, const std::string& name) {
    std::vector<std::pair<double, double>> points;
    const size_t block = script.find("$" + name + " << EOD\n");
    if (block == std::string::npos) return points;
    std::istringstream lines(script.substr(block + name.size() + 9));
    for (std::string line; std::getline(lines, line) && line != "EOD";) {
        double f = 0.0, pv = 0.0;
        if (std::sscanf(line.c_str(), "%lf %lf", &f, &pv) == 2) points.push_back({f, pv});
    }
    return points;
}

TEST(PlotProgram, DrawsThePseudoVelocitySpectrumOnRequest) {
    REQUIRE_GNUPLOT();
    TempDir dir;
    const long t = optima(finished_run())[0].trial;
    // The dialogue records no damping: it is given.
    const Outcome unknown = plot(format("spec.txt %ld --pvss", t));
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "\n Error: --pvss needs the run's damping: no summary.json here records it (the dialogue "
                           "writes none): give the run's --q Q or --damping RATIO \n");
    EXPECT_TRUE(files_ending({".svg", ".gp", ".part"}).empty());
    const Outcome o = plot(format("spec.txt %ld --pvss --damping 0.05", t));
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_NE(o.out.find(format("\n Plots: srs_%ld.svg  history_%ld.svg  pvss_%ld.svg \n", t, t, t)), std::string::npos)
        << o.out;
    const std::string svg = read_file(format("pvss_%ld.svg", t));
    for (const char* part : {"<title>specification</title>", "<title>positive PV</title>", "<title>negative PV</title>",
                             ">Pseudo velocity (m/sec)<", ">Natural frequency (Hz)<", ">constant displacement (mm)<",
                             ">constant acceleration (G)<", " mm<", " G<", "</svg>"}) {
        EXPECT_NE(svg.find(part), std::string::npos) << part;
    }
    // The specification's 10 G at 100 Hz (metric) is 9.81 x 10 / (2 pi 100) =
    // 0.156131 m/sec.  The ranges are whole decades around the curves.
    const std::string script = read_file(format("pvss_%ld.gp", t));
    const size_t block = script.find("$specification << EOD\n");
    ASSERT_NE(block, std::string::npos) << script;
    double f = 0.0, pv = 0.0;
    ASSERT_EQ(std::sscanf(script.c_str() + block + 22, "%lf %lf", &f, &pv), 2);
    EXPECT_EQ(f, 100.0);
    EXPECT_NEAR(pv, 0.156131, 5e-7);
    EXPECT_NE(script.find("set xrange [100:1000]\n"), std::string::npos);
    double low = 0.0, high = 0.0;
    const size_t yrange = script.find("set yrange [");
    ASSERT_NE(yrange, std::string::npos);
    ASSERT_EQ(std::sscanf(script.c_str() + yrange, "set yrange [%lf:%lf]", &low, &high), 2);
    EXPECT_EQ(std::log10(low), std::round(std::log10(low)));
    EXPECT_EQ(std::log10(high), std::round(std::log10(high)));
    // 0.156 m/sec at 100 Hz and 60 G at 250 Hz, 0.375 m/sec, within; at most
    // a decade on either side of them.
    EXPECT_TRUE(low <= 0.156 && low > 0.0156 && high >= 0.375 && high < 3.75) << low << " " << high;
    // Each polarity is 2 pi f max(-z), 2 pi f max(z) x 9.81 m/sec per G sec
    // of the relative displacement z of the oscillator driven by
    // accel_<n>.out, over the history and one period at rest, integrated
    // independently.
    std::vector<float> accel;
    for (const std::vector<double>& row : testing::read_table(format("accel_%ld.out", t))) {
        accel.push_back(static_cast<float>(row.at(1)));
    }
    ASSERT_EQ(accel.size(), 4000u);
    const float dt = static_cast<float>(1.0 / 20000.0);
    const auto positive = pvss_block(script, "positive"), negative = pvss_block(script, "negative");
    ASSERT_EQ(positive.size(), 8u);
    ASSERT_EQ(negative.size(), 8u);
    for (size_t j = 0; j < positive.size(); ++j) {
        const double f = positive[j].first;
        const int count = static_cast<int>(accel.size()) + testing::residual_steps(dt, static_cast<float>(f));
        const std::vector<double> z =
            testing::sdof_relative_displacement(testing::piecewise_linear(accel, dt), dt, count, f, 0.05, 16);
        const double scale = 2.0 * M_PI * f * 9.81;
        const double below = -scale * *std::min_element(z.begin(), z.end());
        const double above = scale * *std::max_element(z.begin(), z.end());
        EXPECT_NEAR(positive[j].second, below, testing::pseudo_velocity_relative_tolerance * below) << f;
        EXPECT_NEAR(negative[j].second, above, testing::pseudo_velocity_relative_tolerance * above) << f;
    }
    // The saved script redraws it in the run's folder.
    std::filesystem::remove(format("pvss_%ld.svg", t));
    EXPECT_EQ(std::system(format("gnuplot pvss_%ld.gp", t).c_str()), 0);
    EXPECT_NE(read_file(format("pvss_%ld.svg", t)).find("</svg>"), std::string::npos);
}

// A run of the command line records its damping in summary.json: --pvss
// takes it from there, and a damping given must be the same.
TEST(PlotProgram, ThePseudoVelocityTakesTheRunsDampingFromItsSummary) {
    REQUIRE_GNUPLOT();
    TempDir dir;
    write_file("spec.txt", "100 10\n250 60\n500 60\n");
    const testing::CommandOutcome run = testing::run_command(
        {"-n", "2", "-u", "metric", "-q", "12", "--spacing", "1/3", "-r", "20000", "-p", "4000", "-o", ".", "--quiet", "spec.txt"});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(testing::file_exists("summary.json"));
    const long t = optima(run.out)[0].trial;
    ASSERT_EQ(plot(format("spec.txt %ld --pvss", t)).status, 0);
    const std::string from_summary = read_file(format("pvss_%ld.gp", t));
    ASSERT_EQ(plot(format("spec.txt %ld --pvss -q 12", t)).status, 0);
    EXPECT_EQ(read_file(format("pvss_%ld.gp", t)), from_summary);
    ASSERT_EQ(plot(format("spec.txt %ld --pvss --damping 0.0416666679", t)).status, 0);
    EXPECT_EQ(read_file(format("pvss_%ld.gp", t)), from_summary);
    // Another damping draws other values.
    std::filesystem::remove("summary.json");
    ASSERT_EQ(plot(format("spec.txt %ld --pvss -q 10", t)).status, 0);
    EXPECT_NE(pvss_block(read_file(format("pvss_%ld.gp", t)), "positive"), pvss_block(from_summary, "positive"));
    write_file("summary.json", "{\"settings\": {\"damping_ratio\": 0.0416666679084301}}");
    const Outcome other = plot(format("spec.txt %ld --pvss -q 10", t));
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.err, "\n Error: the damping ratio given, 0.05, is not the run's: summary.json records 0.0416667 \n");
    write_file("summary.json", "{\"settings\": {}}");
    const Outcome broken = plot(format("spec.txt %ld --pvss", t));
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err, "\n Error: summary.json: no number settings.damping_ratio: the run's damping is unknown \n");
}

TEST(PlotProgram, WithoutGnuplotPrintsTheTableAndSaysSo) {
    TempDir dir;
    const long t = optima(finished_run())[0].trial;
    // A --band takes one value: the trial after it is a trial.
    const Outcome o = plot(format("spec.txt --band -1.5,3 %ld", t), "PATH=/nonexistent");
    EXPECT_EQ(o.status, 1);
    const std::string line = "\n Error: gnuplot not found: install the gnuplot-nox package to draw the plots \n";
    // The table on standard output, the one error line on standard error.
    EXPECT_NE(o.out.find(format(" Trial %ld: SRS against spec.txt", t)), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("   Band -1.5/+3 dB "), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find(" Error:"), std::string::npos) << o.out;
    EXPECT_EQ(o.err, line);   // the only error
    EXPECT_TRUE(files_ending({".svg", ".gp", ".part"}).empty());
}

// The plot reads the specification with the run's own reader: every form the
// run accepts gives the same table, and a file the run refuses is refused
// with the run's message.
TEST(PlotProgram, ReadsEverySpecificationTheRunReads) {
    TempDir dir;
    const long t = optima(finished_run())[0].trial;
    auto table_of = [&](const std::string& name) {
        const Outcome o = plot(format("%s %ld", name.c_str(), t), "PATH=/nonexistent");
        EXPECT_EQ(o.err, "\n Error: gnuplot not found: install the gnuplot-nox package to draw the plots \n") << name;
        std::string table = o.out;
        const std::string title = " SRS against " + name;
        const size_t at = table.find(title);
        if (at != std::string::npos) table.replace(at, title.size(), " SRS against SPEC");
        return table;
    };
    const std::string plain = table_of("spec.txt");
    ASSERT_NE(plain.find(format(" Trial %ld: SRS against SPEC", t)), std::string::npos) << plain;
    // 100 10, 250 60, 500 60 in every form the reader accepts.
    for (const std::string form :
         {"\xEF\xBB\xBF" "100 10\n250 60\n500 60\n", "100 10\r\n250 60\r\n500 60\r\n",
          "\xEF\xBB\xBF" "100 10\r\n250 60\r\n500 60\r\n", "100\t10\t250\t60\t500\t60",
          "100 10 250 60 500 60", "  100\n10\n\n250   60 500\r\n60", "\v100 10\f250 60\n500 60\n",
          "1e2 1.0E1\n2.5e2 60\n500 6e1\n", "0x64 10\n250 0x3c\n500 60\n"}) {
        write_file("form.txt", form);
        EXPECT_EQ(table_of("form.txt"), plain) << form;
    }
    const struct {
        const char* text;
        const char* message;
    } refused[] = {
        {"100 10\r\n250 60\r\n500 x\r\n", "\n Error: form.txt line 3: 'x' is not a number \n"},
        {"100 10\n250 60\n250 60\n", "\n Error: bad point 2 in form.txt: frequency 250 Hz is not above the one "
                                        "before it, 250 Hz \n"},
        {" \n", "\n Error: no points in form.txt \n"},
    };
    for (const auto& r : refused) {
        write_file("form.txt", r.text);
        const Outcome o = plot(format("form.txt %ld", t));
        EXPECT_EQ(o.status, 1) << r.text;
        EXPECT_EQ(o.err, r.message) << r.text;
        EXPECT_EQ(o.out, "") << r.text;
    }
}

TEST(PlotProgram, FailedGnuplotLeavesNoPicture) {
    TempDir dir;
    const long t = optima(finished_run())[0].trial;
    // A stand-in that starts the picture it was asked for, then fails.
    std::filesystem::create_directory("bin");
    write_file("bin/gnuplot", "#!/bin/sh\neval \"$2\"\necho '<svg' > \"$outfile\"\nexit 3\n");
    std::filesystem::permissions("bin/gnuplot", std::filesystem::perms::owner_all);
    const Outcome o = plot(format("spec.txt %ld", t), "PATH=\"$PWD/bin:/usr/bin:/bin\"");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find(format(" Error: gnuplot failed on srs_%ld.gp (exit status 3): srs_%ld.svg not drawn ", t, t)),
              std::string::npos)
        << o.err;
    EXPECT_TRUE(files_ending({".svg", ".gp", ".part"}).empty());
}

// gnuplot exits 0 when its writes fail: a picture that ends before its closing
// tag (a full disk) is named with the reason, and neither it nor its script
// is left, while the complete picture before it keeps its name.
TEST(PlotProgram, APictureCutShortIsNamedAndRemoved) {
    TempDir dir;
    const long t = optima(finished_run())[0].trial;
    std::filesystem::create_directory("bin");
    write_file("bin/gnuplot", "#!/bin/sh\neval \"$2\"\ncase \"$outfile\" in\n"
                              "  history_*) head -c 24576 /dev/zero > \"$outfile\" ;;\n"
                              "  *) printf '<svg>\\n</svg>  \\n' > \"$outfile\" ;;\nesac\n");
    std::filesystem::permissions("bin/gnuplot", std::filesystem::perms::owner_all);
    const Outcome o = plot(format("spec.txt %ld", t), "PATH=\"$PWD/bin:/usr/bin:/bin\"");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, format("\n Error: history_%ld.svg not drawn: gnuplot's file of 24576 bytes ends before the "
                            "closing </svg> (a full disk?) \n",
                            t));
    EXPECT_EQ(read_file(format("srs_%ld.svg", t)), "<svg>\n</svg>  \n");
    EXPECT_EQ(files_ending({".svg", ".gp"}).size(), 2u);   // srs_<t>.svg and .gp
    EXPECT_TRUE(files_ending({".part"}).empty());
}

TEST(PlotProgram, BadInputNamesTheFileAndLeavesNothing) {
    TempDir dir;
    const long t = optima(finished_run())[0].trial;
    const std::string srs = format("srs_%ld.out", t);
    const std::string velox = format("velox_%ld.out", t);
    const std::string srs_text = read_file(srs);
    const std::string velox_text = read_file(velox);

    auto expect_refused = [&](const std::string& args, const std::string& message) {
        const Outcome o = plot(args);
        EXPECT_EQ(o.status, 1) << args;
        EXPECT_NE(o.err.find(message), std::string::npos) << args << "\n" << o.err;
        EXPECT_EQ(o.out.find("Trial"), std::string::npos) << args;   // no table of unchecked files
        EXPECT_TRUE(files_ending({".svg", ".gp", ".part"}).empty()) << args;
    };

    // Line 3 of the SRS file with a word for its positive peak.
    std::istringstream lines(srs_text);
    std::string corrupt;
    int n = 0;
    for (std::string line; std::getline(lines, line); ++n) corrupt += (n == 2 ? "158.740 abc 12.0" : line) + "\n";
    write_file(srs, corrupt);
    expect_refused(format("spec.txt %ld", t), format(" Error: %s line 3: 'abc' is not a finite number ", srs.c_str()));
    write_file(srs, srs_text);

    std::filesystem::remove(velox);
    expect_refused(format("spec.txt %ld", t), format(" Error: cannot open %s: no such file ", velox.c_str()));
    write_file(velox, velox_text);

    // A specification that starts above the run's grid.
    write_file("narrow.txt", "150 10\n500 60\n");
    expect_refused(format("narrow.txt %ld", t),
                   format(" Error: %s line 1: frequency 100 Hz is outside the specification (150 to 500 Hz) ", srs.c_str()));
    // A unit line of no known system: the pseudo velocity would be a guess.
    const std::string log = read_file("trials.out");
    const auto log_time = std::filesystem::last_write_time("trials.out");
    std::string odd = log;
    write_file("trials.out", odd.replace(odd.find("(mm)"), 4, "(in)"));
    std::filesystem::last_write_time("trials.out", log_time);
    expect_refused(format("spec.txt %ld --pvss", t),
                   "\n Error: trials.out: units (G) (m/sec) (in) are none of the run's unit systems: no pseudo-velocity "
                   "spectrum can be drawn \n");
    write_file("trials.out", log);
    std::filesystem::last_write_time("trials.out", log_time);
    expect_refused("missing.txt", " Failed to open file: missing.txt (No such file or directory) \n");

    // Acceptance rules: a faulty file, bands beside one (from the command line
    // or from quorel --plot), a band whose range holds none of 100 to 500 Hz.
    write_file("bad.toml", "[[band]]\nlow = 3\nhigh = 3\n");
    expect_refused(format("spec.txt %ld --acceptance bad.toml", t),
                   "\n Error: bad.toml line 3: band[1].high: must be above low (low = 3, high = 3) \n");
    write_file("rules.toml", "[[band]]\nlow = -3\nhigh = 3\n");
    const std::string together = "\n Error: --band and --acceptance together: put the bands in the acceptance file \n";
    expect_refused(format("spec.txt %ld --band -3,3 --acceptance rules.toml", t), together);
    // Every refused argument is named in plain words, and the message ends
    // with the pointer to --help.
    struct Wrong {
        std::string args;
        const char* message;
    };
    const Wrong wrongs[] = {
        {"spec.txt --acceptance rules.toml --acceptance rules.toml", "--acceptance is given more than once"},
        {"spec.txt --acceptance ''", "--acceptance needs the name of an acceptance file"},
        {"spec.txt --band", "--band needs LOW,HIGH in dB"},
        {"spec.txt --bogus", "unknown option --bogus"},
        {"--pvss", "the specification file (SPECFILE) is missing"},
        {"spec.txt --pvss=abc", "--pvss takes no value"},
        {"spec.txt --damping 0.05", "--damping needs --pvss as well"},
        {"spec.txt --pvss -q 10 --damping 0.05", "--q and --damping cannot be given together"},
        {"spec.txt --pvss -q 0.5", "--q 0.5 is out of range: above 0.5"},
        {"spec.txt --pvss --damping -0.01", "--damping -0.01 is out of range: at least 0 and below 1"},
        {"spec.txt --pvss --damping 1", "--damping 1 is out of range: at least 0 and below 1"},
        {"spec.txt 3x", "'3x' is neither a trial number nor an option"},
        {format("spec.txt %ld --band 3,-3", t), "--band 3,-3: expected LOW,HIGH in dB with LOW < HIGH, e.g. --band -3,6"},
        {format("spec.txt %ld --band -3,3 --acceptance rules.toml", t),
         "--band and --acceptance together: put the bands in the acceptance file"},
    };
    for (const Wrong& wrong : wrongs) {
        const Outcome o = plot(wrong.args);
        EXPECT_EQ(o.status, 1) << wrong.args;
        EXPECT_EQ(o.err, std::string("\n Error: ") + wrong.message + " \n Run 'quorel-plot --help' for usage. \n");
        EXPECT_EQ(o.out, "") << wrong.args;
    }
    std::ostringstream out, err;
    plot::PlotRequest request{"spec.txt", ".", {t}, {{-3.0, 3.0}}};
    request.acceptance = read_acceptance_file("rules.toml");
    EXPECT_EQ(plot::draw_run(request, out, err), 1);
    EXPECT_EQ(err.str(), together);
    write_file("far.toml", "[[band]]\nlow = -3\nhigh = 3\nfrom_hz = 1000\n");
    expect_refused(format("spec.txt %ld --acceptance far.toml", t),
                   "\n Error: far.toml: band[1] (from 1000 Hz) holds no frequency of the SRS (100 to 500 Hz) \n");
}

// The plot program is released with the run program: one version.
TEST(PlotProgram, VersionIsTheRunProgramsVersion) {
    TempDir dir;
    const Outcome o = plot("--version");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, std::string("quorel-plot ") + quorel_version + "\n");
    EXPECT_EQ(o.err, "");
}

TEST(PlotProgram, RequirePassMakesAFailStatus3) {
    REQUIRE_GNUPLOT();
    TempDir dir;
    const Optimum optimum = optima(finished_run())[0];
    const long t = optimum.trial;
    // The run's report gives the trial's largest margin of either polarity: a
    // band of half that on each polarity leaves that point out, one of every
    // point holds them all.
    ASSERT_GT(optimum.max_error_db, 0.01);
    write_file("fail.toml", format("srs = \"each\"\n[[band]]\nlow = %g\nhigh = %g\n", -optimum.max_error_db / 2,
                                   optimum.max_error_db / 2));
    write_file("pass.toml", "[[band]]\nlow = -60\nhigh = 60\n");

    const Outcome failed = plot(format("spec.txt %ld --acceptance fail.toml --require-pass", t));
    EXPECT_EQ(failed.status, 3) << failed.err;
    EXPECT_NE(failed.out.find("\n   Acceptance (fail.toml, each polarity): FAIL \n"), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find(format("\n Plots: srs_%ld.svg  history_%ld.svg \n", t, t)), std::string::npos);   // drawn
    EXPECT_EQ(plot(format("spec.txt %ld --acceptance fail.toml", t)).status, 0);   // a result, not an error
    const Outcome passed = plot(format("spec.txt %ld --require-pass --acceptance=pass.toml", t));
    EXPECT_EQ(passed.status, 0) << passed.err;
    EXPECT_NE(passed.out.find("\n   Acceptance (pass.toml, maximax): PASS \n"), std::string::npos) << passed.out;
}

TEST(PlotProgram, NamesAndUnitsReachGnuplotAsTextOnly) {
    REQUIRE_GNUPLOT();
    namespace fs = std::filesystem;
    TempDir dir;
    const long t = optima(finished_run())[0].trial;
    // gnuplot runs a `command` in double quotes: each would create a file.
    const std::string name = "x`touch NAME_RAN`'\"@$;.txt";
    fs::copy_file("spec.txt", name);
    std::string log = read_file("trials.out");
    const std::string own_log = log;
    const auto log_time = fs::last_write_time("trials.out");
    write_file("trials.out", log.replace(log.find("(G)"), 3, "(G`touch${IFS}UNIT_RAN`)"));
    fs::last_write_time("trials.out", log_time);   // the result files stay as new as the log

    const Outcome o = plot(format("%s %ld", shell_word(name).c_str(), t));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(read_file(format("srs_%ld.svg", t)).find(" against " + name), std::string::npos);
    EXPECT_FALSE(testing::file_exists("NAME_RAN") || testing::file_exists("UNIT_RAN"));
    // Nor when the saved scripts run again.
    EXPECT_EQ(std::system(format("gnuplot srs_%ld.gp && gnuplot history_%ld.gp", t, t).c_str()), 0);
    EXPECT_FALSE(testing::file_exists("NAME_RAN") || testing::file_exists("UNIT_RAN"));

    // The pseudo-velocity script names the specification in its title; it
    // draws only runs of a known unit system, so the log's own units return.
    write_file("trials.out", own_log);
    fs::last_write_time("trials.out", log_time);
    const Outcome pvss = plot(format("%s %ld --pvss --damping 0.05", shell_word(name).c_str(), t));
    EXPECT_EQ(pvss.status, 0) << pvss.err;
    EXPECT_NE(read_file(format("pvss_%ld.svg", t)).find(" against " + name), std::string::npos);
    EXPECT_EQ(std::system(format("gnuplot pvss_%ld.gp", t).c_str()), 0);
    EXPECT_FALSE(testing::file_exists("NAME_RAN"));

    // A control character would end a script line: such a name is refused.
    for (const auto& picture : files_ending({".svg", ".gp"})) fs::remove(picture);
    fs::copy_file("spec.txt", "tab\there.txt");
    const Outcome refused = plot("'tab\there.txt'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "\n Error: the specification file name 'tab?here.txt' holds a control character (byte 0x09): "
                           "rename it \n");
    EXPECT_TRUE(files_ending({".svg", ".gp", ".part"}).empty());
}

TEST(PlotProgram, AxesAreBoundedAtTheWidestBands) {
    REQUIRE_GNUPLOT();
    TempDir dir;
    const long t = optima(finished_run())[0].trial;
    // ±60 dB over a specification near the largest float, the largest value
    // the run's reader takes, beside an SRS of some 60 G: the axes span about
    // 40 decades.  The timeout stops an unbounded tic loop.
    write_file("huge.txt", "100 3e38\n500 3e38\n");
    // The pseudo velocities span as many decades: the tripartite grid is
    // bounded too.
    const Outcome o = plot(format("huge.txt %ld --band -60,60 --pvss --damping 0.05", t), "timeout 10");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(read_file(format("srs_%ld.svg", t)).find("</svg>"), std::string::npos);
    EXPECT_NE(read_file(format("pvss_%ld.svg", t)).find("</svg>"), std::string::npos);
}

TEST(PlotProgram, FilesOlderThanTheTrialLogAreLeftOut) {
    REQUIRE_GNUPLOT();
    namespace fs = std::filesystem;
    TempDir dir;
    const long t = optima(finished_run())[0].trial;
    // Trial 99 left from an earlier run: its files are older than trials.out.
    for (const char* base : {"srs", "accel", "velox", "disp", "wavelet"}) {
        const std::string name = format("%s_99.out", base);
        fs::copy_file(format("%s_%ld.out", base, t), name);
        fs::last_write_time(name, fs::last_write_time("trials.out") - std::chrono::hours(1));
    }
    const Outcome o = plot("spec.txt");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "\n Warning: trial 99 skipped: result files older than trials.out, left from an earlier run \n");
    EXPECT_TRUE(testing::file_exists(format("srs_%ld.svg", t)));

    const Outcome named = plot("spec.txt 99");
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.err, "\n Error: trial 99: srs_99.out, accel_99.out, velox_99.out, disp_99.out, wavelet_99.out are "
                         "older than trials.out, left from an earlier run \n");
    EXPECT_FALSE(testing::file_exists("srs_99.svg"));
}

TEST(PlotProgram, DrawsARunInAnotherFolder) {
    REQUIRE_GNUPLOT();
    namespace fs = std::filesystem;
    TempDir dir;
    const long t = optima(finished_run())[0].trial;
    fs::create_directory("run");
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(".")) {
        if (entry.is_regular_file()) files.push_back(entry.path().filename());
    }
    for (const fs::path& file : files) fs::rename(file, "run" / file);   // keeps their times

    std::ostringstream out, err;
    EXPECT_EQ(plot::draw_run({"run/spec.txt", "run", {}, {}}, out, err), 0) << err.str();
    EXPECT_EQ(err.str(), "");
    EXPECT_NE(out.str().find(format("\n Plots: run/srs_%ld.svg  run/history_%ld.svg \n", t, t)), std::string::npos);
    EXPECT_TRUE(files_ending({".svg", ".gp", ".part"}).empty());   // nothing outside the run's folder
    // The script redraws from inside the folder (its series are inline).
    fs::remove(format("run/srs_%ld.svg", t));
    EXPECT_EQ(std::system(format("cd run && gnuplot srs_%ld.gp", t).c_str()), 0);
    EXPECT_TRUE(testing::file_exists(format("run/srs_%ld.svg", t)));
}

}  // namespace
}  // namespace quorel
