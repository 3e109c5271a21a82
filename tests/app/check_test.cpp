#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/format.hpp"
#include "base/output_file.hpp"
#include "record/format_writers.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using testing::check_relative_tolerance;
using testing::piecewise_linear;
using testing::residual_steps;
using testing::sdof_absolute_response;
using testing::CommandOutcome;
using testing::read_file;
using testing::run_command;
using testing::TempDir;
using testing::write_file;

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> list;
    for (std::string word; in >> word;) list.push_back(word);
    return list;
}

// A shock of decaying tones, one sample per line (no time column).
void write_record(const std::string& name, int samples = 4000) {
    std::string text;
    for (int k = 0; k < samples; ++k) {
        const double t = k / 10000.0;
        text += format("%.6f\n", 30.0 * std::exp(-t / 0.02) * std::sin(2 * M_PI * 180.0 * t) +
                                     12.0 * std::exp(-t / 0.01) * std::sin(2 * M_PI * 900.0 * t));
    }
    write_file(name, text);
}

// A gnuplot stand-in in bin/, whose drawing part is `draws` (sh, with the
// picture's temporary name in $outfile); --version succeeds.  PATH leads to
// it while the object lives.
class FakeGnuplot {
public:
    explicit FakeGnuplot(const std::string& draws) : saved_(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "") {
        fs::create_directories("bin");
        write_file("bin/gnuplot", "#!/bin/sh\n[ \"$1\" = --version ] && exit 0\neval \"$2\"\n" + draws);
        fs::permissions("bin/gnuplot", fs::perms::owner_all);
        setenv("PATH", ((fs::current_path() / "bin").string() + ":/usr/bin:/bin").c_str(), 1);
    }
    ~FakeGnuplot() { setenv("PATH", saved_.c_str(), 1); }

private:
    std::string saved_;
};
// A 1 ms half-sine of 100 G at 100 000 samples/sec, cut 0.5 ms after the
// pulse; the samples as written.
std::vector<float> write_short_pulse(const std::string& name) {
    std::vector<float> pulse(151, 0.0f);
    std::string text;
    for (size_t k = 0; k < pulse.size(); ++k) {
        if (k <= 100) pulse[k] = static_cast<float>(100.0 * std::sin(M_PI * static_cast<double>(k) / 100.0));
        text += format("%.9g\n", static_cast<double>(pulse[k]));
    }
    write_file(name, text);
    return pulse;
}

json check_json(const std::string& args) {
    const CommandOutcome o = run_command(words("check " + args + " --json"));
    EXPECT_EQ(o.status, 0) << o.err;
    return json::parse(o.out);
}

// The specification is the record's own maximax SRS at each grid frequency
// moved by a chosen margin, so the margins are known by hand:
//   +0.5  +2.5  -4  +7  -7.5  +1 dB
// Against -3/+3 dB (at least 50 %): 0.5, 2.5 and 1 inside, 3 of 6, PASS.
// Against -6/+6 dB (every point): -4 joins them, 4 of 6, FAIL.
// At or above the specification (at least 50 %): 0.5, 2.5, 7, 1, 4 of 6, PASS.
TEST(CheckCommand, VerdictsCountedByHandAndTheirStatuses) {
    TempDir dir;
    write_record("rec.txt");
    const json measured = check_json("rec.txt --sample-rate 10000 --frequencies 100:300 --spacing 1/3");
    const json& srs = measured.at("records").at(0).at("srs");
    ASSERT_EQ(srs.size(), 6u);
    const double margins[] = {0.5, 2.5, -4.0, 7.0, -7.5, 1.0};
    std::string spec;
    for (size_t j = 0; j < 6; ++j) {
        EXPECT_TRUE(srs[j].at("spec").is_null());
        spec += format("%.9g %.9g\n", srs[j].at("frequency").get<double>(),
                       srs[j].at("maximax").get<double>() * std::pow(10.0, -margins[j] / 20.0));
    }
    write_file("spec.txt", spec);
    write_file("rules.toml",
               "srs = \"maximax\"\n[[band]]\nlow = -3\nhigh = 3\nmin_share = 0.5\n[[band]]\nlow = -6\nhigh = 6\n"
               "[above_nominal]\nmin_share = 0.5\n");
    const std::string args = "check rec.txt --sample-rate 10000 --spec spec.txt --spacing 1/3 --acceptance rules.toml";

    const CommandOutcome table = run_command(words(args));
    EXPECT_EQ(table.status, 0) << table.err;   // a FAIL is a result
    for (const char* line : {"   Band -3/+3 dB                     3 of    6 points inside  ( 50.0 %, at least  50.0 %)   PASS \n",
                             "   Band -6/+6 dB                     4 of    6 points inside  ( 66.7 %, at least 100.0 %)   FAIL \n",
                             "   Above nominal                     4 of    6 points         ( 66.7 %, at least  50.0 %)   PASS \n",
                             "   Acceptance (rules.toml, maximax): FAIL \n",
                             "\n Overall: FAIL, 1 of 1 record fails: rec.txt \n"}) {
        EXPECT_NE(table.out.find(line), std::string::npos) << line << table.out;
    }
    EXPECT_NE(table.out.find(" rec.txt: SRS against spec.txt, margin = 20 log10(SRS / spec) \n"), std::string::npos);
    EXPECT_EQ(run_command(words(args + " --require-pass")).status, 3);

    const json checked = check_json(args.substr(6) + " -o out");
    const json& record = checked.at("records").at(0);
    for (size_t j = 0; j < 6; ++j) {
        const json& row = record.at("srs")[j];
        const double worse = std::max(row.at("margin_positive_db").get<double>(), row.at("margin_negative_db").get<double>());
        EXPECT_NEAR(worse, margins[j], 1e-5) << j;
    }
    const json& verdict = record.at("verdict");
    EXPECT_FALSE(verdict.at("pass").get<bool>());
    EXPECT_EQ(verdict.at("bands")[0].at("inside"), 3);
    EXPECT_EQ(verdict.at("bands")[1].at("inside"), 4);
    EXPECT_EQ(verdict.at("above_nominal").at("inside"), 4);
    // The document's keys, in order.
    auto keys = [](const json& object) {
        std::string list;
        for (const auto& [key, value] : object.items()) list += key + " ";
        return list;
    };
    EXPECT_EQ(keys(record), "record settings units srs verdict ");
    EXPECT_EQ(keys(record.at("record")),
              "file samples sample_rate duration start_time header_lines peak_acceleration peak_time te t10 peak_velocity "
              "peak_displacement end_velocity end_displacement ");
    EXPECT_EQ(keys(record.at("settings")), "algorithm damping_ratio q spacing units residual spectra mean_removed scale conditioning ");
    EXPECT_EQ(keys(record.at("units")), "acceleration velocity displacement ");
    EXPECT_EQ(keys(record.at("srs")[0]),
              "frequency spec positive negative maximax pseudo_velocity margin_positive_db margin_negative_db ");
    // The files of -o: the record's own document, and its table.
    EXPECT_EQ(json::parse(read_file("out/rec.json")), record);
    const std::vector<std::vector<double>> csv = testing::read_csv("out/rec_srs.csv");
    ASSERT_EQ(csv.size(), 6u);
    // %.9g gives a float back exactly.
    EXPECT_EQ(static_cast<float>(csv[3][4]), static_cast<float>(record.at("srs")[3].at("maximax").get<double>()));
    EXPECT_NEAR(csv[3][6], record.at("srs")[3].at("margin_positive_db").get<double>(), 1e-8);
}

// A synthesized history_<n>.csv checked with the run's settings gives the SRS
// of the run's own srs_<n>.out.
TEST(CheckCommand, ASynthesizedHistoryAgreesWithItsRunsSrsFile) {
    TempDir dir;
    write_file("spec.txt", "100 10\n250 60\n500 60\n");
    const CommandOutcome run =
        run_command(words("-n 3 -u metric -q 12 --spacing 1/12 -r 8000 -p 4000 -o run --quiet spec.txt"));
    ASSERT_EQ(run.status, 0) << run.err;
    const long t = json::parse(read_file("run/summary.json")).at("optimum").at("displacement").at("trial").get<long>();
    const json checked = check_json(format("run/history_%ld.csv --spec spec.txt -u metric -q 12 --spacing 1/12", t));
    const json& record = checked.at("records").at(0);
    EXPECT_EQ(record.at("record").at("header_lines"), 1);
    EXPECT_EQ(record.at("record").at("samples"), 4000);
    const std::vector<std::vector<double>> srs = testing::read_table(format("run/srs_%ld.out", t));
    ASSERT_EQ(record.at("srs").size(), srs.size());
    for (size_t j = 0; j < srs.size(); ++j) {
        const json& row = record.at("srs")[j];
        EXPECT_NEAR(row.at("frequency").get<double>(), srs[j][0], 5e-4);
        EXPECT_NEAR(row.at("positive").get<double>(), srs[j][1], srs[j][1] * check_relative_tolerance) << j;
        EXPECT_NEAR(row.at("negative").get<double>(), srs[j][2], srs[j][2] * check_relative_tolerance) << j;
    }
}

// --no-residual judges the forced phase alone: on a pulse cut 0.5 ms after
// it ends, the peaks of the record's own samples (against the integrated
// oscillator), which differ from those with one period at rest after it.
TEST(CheckCommand, NoResidualIsTheForcedPhaseAlone) {
    TempDir dir;
    const std::vector<float> pulse = write_short_pulse("pulse.txt");
    const std::string args = "pulse.txt --sample-rate 100000 --frequencies 100:800 --spacing 1/3 -j 1";
    const json with = check_json(args).at("records").at(0).at("srs");
    const json without = check_json(args + " --no-residual").at("records").at(0).at("srs");
    ASSERT_EQ(with.size(), without.size());
    ASSERT_GE(with.size(), 10u);
    const double dt = static_cast<float>(1.0 / 100000.0);
    int changed = 0;
    for (size_t j = 0; j < with.size(); ++j) {
        const double f = without[j].at("frequency").get<double>();
        const std::vector<double> x = sdof_absolute_response(piecewise_linear(pulse, dt), dt, 151, f, 0.05, 16);
        const double highest = *std::max_element(x.begin(), x.end());
        const double lowest = -std::min(0.0, *std::min_element(x.begin(), x.end()));
        EXPECT_NEAR(without[j].at("positive").get<double>(), highest, highest * check_relative_tolerance) << f;
        EXPECT_NEAR(without[j].at("negative").get<double>(), lowest, lowest * check_relative_tolerance) << f;
        // Below 500 Hz the response turns negative only after the record.
        if (f < 500.0) changed += with[j].at("negative").get<double>() > 0.0 && lowest == 0.0;
    }
    EXPECT_EQ(changed, 7);
}

// A polarity the response never reaches has the peak 0: its margin is -inf
// in the table, null in the JSON document and the CSV file, and it is outside
// every band.  Without the residual phase the pulse's response stays positive
// up to 200 Hz (the grid from 100 to 200 Hz at 1/3 octave prints its closing
// frequency twice).
TEST(CheckCommand, APolarityNeverReachedHasMarginMinusInfinityAndFails) {
    TempDir dir;
    write_short_pulse("pulse.txt");
    write_file("spec.txt", "100 3\n200 6\n");
    write_file("rules.toml", "srs = \"each\"\n[[band]]\nlow = -60\nhigh = 60\n");
    const std::string args =
        "pulse.txt --sample-rate 100000 --spec spec.txt --spacing 1/3 --no-residual --acceptance rules.toml";
    const CommandOutcome table = run_command(words("check " + args));
    ASSERT_EQ(table.status, 0) << table.err;
    for (const char* row : {"\n    100.000 ", "\n    125.992 ", "\n    158.740 ", "\n    200.000 "}) {
        const size_t at = table.out.find(row);
        ASSERT_NE(at, std::string::npos) << row << table.out;
        const std::string line = table.out.substr(at + 1, table.out.find('\n', at + 1) - at - 1);
        EXPECT_NE(line.find("         0.000 "), std::string::npos) << line;
        EXPECT_EQ(line.substr(line.size() - 23), "      -inf          -lo") << line;
    }
    EXPECT_NE(table.out.find("   Band -60/+60 dB                   5 of   10 points inside  ( 50.0 %, at least 100.0 %)"
                             "   FAIL \n"),
              std::string::npos)
        << table.out;

    const json record = check_json(args + " -o out").at("records").at(0);
    const json& srs = record.at("srs");
    ASSERT_EQ(srs.size(), 5u);
    std::vector<std::vector<std::string>> csv;
    std::istringstream lines(read_file("out/pulse_srs.csv"));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
        csv.push_back(cells);
    }
    ASSERT_EQ(csv.size(), 5u);
    for (size_t j = 0; j < srs.size(); ++j) {
        EXPECT_EQ(srs[j].at("negative").get<double>(), 0.0);
        EXPECT_TRUE(srs[j].at("margin_negative_db").is_null()) << j;
        EXPECT_TRUE(srs[j].at("margin_positive_db").is_number()) << j;
        ASSERT_EQ(csv[j].size(), 8u);
        EXPECT_EQ(csv[j][7], "null") << j;
        EXPECT_NE(csv[j][6], "null") << j;
    }
    EXPECT_EQ(record.at("verdict").at("bands")[0].at("inside"), 5);
    EXPECT_FALSE(record.at("verdict").at("pass").get<bool>());
}

// Every record, the specification and the rules are read before anything is
// written: a fault in any of them exits 1 with nothing printed or written.
TEST(CheckCommand, BadInputExitsOneAndWritesNothing) {
    TempDir dir;
    write_record("good.txt");
    write_file("bad.txt", "1.5\n2.5\nx\n");
    write_file("spec.txt", "100 10\n400 40\n");
    write_file("wide.toml", "[[band]]\nlow = -3\nhigh = 3\nfrom_hz = 5000\n");
    write_file("typo.toml", "[[band]]\nlow = -3\nhihg = 3\n");
    fs::create_directories("a");
    fs::create_directories("b");
    write_record("a/x.txt");
    write_record("b/x.txt");
    struct Case {
        const char* args;
        const char* message;
    };
    const Case cases[] = {
        {"good.txt bad.txt --spec spec.txt", "bad.txt line 3"},
        {"good.txt --spec missing.txt", "missing.txt"},
        {"good.txt --spec spec.txt --acceptance typo.toml", "typo.toml"},
        {"good.txt --spec spec.txt --acceptance wide.toml", "wide.toml"},
        {"good.txt --frequencies 100:4000", "grid frequency 2539.84 Hz is above a quarter of its sample rate"},
        {"a/x.txt b/x.txt --spec spec.txt", "a/x.txt and b/x.txt would write the same files"},
        {"good.txt --spec spec.txt --pretrigger 2", "--pretrigger 2 sec is longer than the record"},
    };
    for (const Case& c : cases) {
        const CommandOutcome o = run_command(words(std::string("check --sample-rate 10000 -o out ") + c.args));
        EXPECT_EQ(o.status, 1) << c.args;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << c.args << o.err;
        EXPECT_EQ(o.out, "") << c.args;
        EXPECT_FALSE(fs::exists("out")) << c.args;
    }
}

// A one-column record written with decimal commas is refused as such, not
// judged on its whole-number parts; with --decimal-comma it is the same
// record as with points.
TEST(CheckCommand, ADecimalCommaRecordIsReadWholeOrRefused) {
    TempDir dir;
    write_record("dot.txt");
    std::string text = read_file("dot.txt");
    std::replace(text.begin(), text.end(), '.', ',');
    write_file("comma.txt", text);
    const std::string args = " --sample-rate 10000 --frequencies 100:1000";
    const CommandOutcome refused = run_command(words("check comma.txt" + args));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("comma.txt line 1: holds 2 fields ('0', '000000') that look like numbers written with "
                               "a decimal comma: give --decimal-comma"),
              std::string::npos)
        << refused.err;
    const json comma = check_json("comma.txt --decimal-comma" + args).at("records").at(0);
    const json dot = check_json("dot.txt" + args).at("records").at(0);
    EXPECT_EQ(comma.at("srs"), dot.at("srs"));
    EXPECT_EQ(comma.at("record").at("peak_acceleration"), dot.at("record").at("peak_acceleration"));
}

// --pretrigger may reach the record's last sample, at its duration (n - 1) / rate, and no further.
TEST(CheckCommand, APretriggerUpToTheRecordsDurationIsAccepted) {
    TempDir dir;
    write_record("r.txt", 4000);   // 0.3999 sec at 10 000 samples/sec
    const std::string args = "check r.txt --sample-rate 10000 --frequencies 100:1000 --pretrigger ";
    const CommandOutcome whole = run_command(words(args + "0.3999"));
    EXPECT_EQ(whole.status, 0) << whole.err;
    const CommandOutcome longer = run_command(words(args + "0.4"));
    EXPECT_EQ(longer.status, 1);
    EXPECT_NE(longer.err.find("r.txt: --pretrigger 0.4 sec is longer than the record (4000 samples, 0.3999 sec)"),
              std::string::npos)
        << longer.err;
}

TEST(CheckCommand, UsageErrorsExitTwo) {
    TempDir dir;
    write_record("r.txt");
    write_file("s.txt", "100 10\n400 40\n");
    write_file("rules.toml", "[[band]]\nlow = -3\nhigh = 3\n");
    for (const char* line :
         {"check", "check r.txt", "check r.txt --spec s.txt --frequencies 1:2", "check r.txt --frequencies 2:1",
          "check r.txt --frequencies 10", "check r.txt --spec s.txt --plot", "check r.txt --spec s.txt --pvss",
          "check r.txt --frequencies 10:100 --acceptance rules.toml", "check r.txt --frequencies 10:100 --require-pass",
          "check r.txt --spec s.txt --remove-mean --pretrigger 0.1", "check r.txt --spec s.txt --spacing 1/5",
          "check r.txt --spec s.txt -j 0", "check r.txt --spec s.txt --column 0", "check r.txt --spec s.txt -q 0.4",
          "check r.txt --spec s.txt --sample-rate -5", "check r.txt --spec s.txt --pretrigger 0",
          "-n 2 check r.txt --spec s.txt", "check r.txt --spec s.txt --bogus"}) {
        const CommandOutcome o = run_command(words(line));
        EXPECT_EQ(o.status, 2) << line;
        EXPECT_EQ(o.out, "") << line;
        EXPECT_NE(o.err.find("Run 'quorel check --help' for usage."), std::string::npos) << line << o.err;
    }
    const CommandOutcome empty_folder = run_command({"check", "r.txt", "--spec", "s.txt", "-o", ""});
    EXPECT_EQ(empty_folder.status, 2);
    // The word check is the command: a specification of that name is ./check.
    write_file("check", "100 10\n400 40\n");
    EXPECT_EQ(run_command(words("-n 1 -p 400 -r 4000 --quiet -o run ./check")).status, 0);
    EXPECT_TRUE(fs::exists("run/summary.json"));
    const CommandOutcome help = run_command({"--help"});
    EXPECT_NE(help.out.find("./check"), std::string::npos);
}

TEST(CheckCommand, PlotsQuoteHostileNamesAndLeaveOnlyCompleteFiles) {
    REQUIRE_GNUPLOT();
    TempDir dir;
    // gnuplot runs a `command` in double quotes: each would create a file.
    const std::string stem = "x`touch RAN`'\"@$;";
    write_record(stem + ".txt");
    write_file("spec.txt", "100 10\n400 40\n");
    const CommandOutcome o =
        run_command({"check", stem + ".txt", "--sample-rate", "10000", "--spec", "spec.txt", "-o", "out", "--plot", "--pvss"});
    ASSERT_EQ(o.status, 0) << o.err;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("out")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected;
    for (const char* suffix : {".json", "_history.gp", "_history.svg", "_pvss.gp", "_pvss.svg", "_srs.csv", "_srs.gp",
                               "_srs.svg"}) {
        expected.push_back(stem + suffix);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);   // no .part left
    EXPECT_NE(read_file("out/" + stem + "_srs.svg").find("SRS of x"), std::string::npos);
    EXPECT_FALSE(fs::exists("RAN") || fs::exists("out/RAN"));
    // Nor when the saved scripts run again.
    for (const char* picture : {"_srs", "_history", "_pvss"}) {
        std::string word = "'";   // the script's name as one shell word
        for (const char c : stem + picture + ".gp") word += c == '\'' ? std::string("'\\''") : std::string(1, c);
        EXPECT_EQ(std::system(("cd out && gnuplot -e \"outfile='again.svg'\" " + word + "'").c_str()), 0) << picture;
    }
    EXPECT_FALSE(fs::exists("RAN") || fs::exists("out/RAN"));
}

// gnuplot exits 0 even when its writes fail: a picture cut short (a full disk)
// is refused by its missing closing tag, named with the reason, and leaves
// neither it nor its script; the pictures before it are whole.
TEST(CheckCommand, APictureCutShortIsNamedAndRemoved) {
    TempDir dir;
    write_record("rec.txt");
    write_file("spec.txt", "100 10\n400 40\n");
    const FakeGnuplot gnuplot("case \"$outfile\" in\n"
                              "  *_history.svg.part) printf '<svg>\\n<path d=\"M 0 1' > \"$outfile\" ;;\n"
                              "  *) printf '<svg>\\n</svg>\\n\\n' > \"$outfile\" ;;\n"
                              "esac\n");
    const CommandOutcome o =
        run_command(words("check rec.txt --sample-rate 10000 --spec spec.txt -o out --plot --pvss"));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err.substr(o.err.find("\n Error:")),
              "\n Error: out/rec_history.svg not drawn: gnuplot's file of 20 bytes ends before the closing </svg> "
              "(a full disk?) \n");
    EXPECT_EQ(read_file("out/rec_srs.svg"), "<svg>\n</svg>\n\n");
    for (const char* name : {"rec_history.svg", "rec_history.gp", "rec_pvss.svg"}) {
        EXPECT_FALSE(fs::exists(fs::path("out") / name)) << name;
    }
    EXPECT_TRUE(testing::files_ending({".part"}, "out").empty());
}

// SIGINT, SIGTERM and SIGHUP end a check as a failed run: status 128 + the
// signal, "Interrupted." and no temporary file, whether it is computing,
// printing (here held by a full pipe) or drawing (held by a gnuplot that waits
// for the test).
TEST(CheckCommand, ASignalEndsTheCheckWithItsStatusAndNoTemporaryFile) {
    TempDir dir;
    write_record("rec.txt");
    const FakeGnuplot gnuplot("printf '<svg>\\n</svg>\\n' > \"$outfile\"\n"
                              ": > ../drawing\n"
                              "while [ ! -e ../go ]; do sleep 0.01; done\n");
    const std::vector<std::string> args = words("check rec.txt --sample-rate 10000 --frequencies 10:2500 --spacing 1/24 -o out");
    const int null_out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(null_out, 0);
    for (const bool plot : {false, true}) {
        for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE(format("%s, signal %d", plot ? "drawing" : "printing", signal_number));
            fs::remove_all("out");
            fs::remove("drawing");
            fs::remove("go");
            std::vector<std::string> line = args;
            if (plot) line.push_back("--plot");
            testing::SmallPipe pipe;
            const int pid = testing::start_program(line, plot ? null_out : pipe.write_end(), "err.txt");
            ASSERT_GT(pid, 0);
            // The folder is locked once the run catches signals; its table
            // is longer than the pipe holds.
            ASSERT_TRUE(testing::wait_for_path(plot ? "drawing" : "out"));
            ::kill(pid, signal_number);
            write_file("go", "");
            pipe.drain();
            const testing::ProgramEnd end = testing::wait_program(pid);
            EXPECT_EQ(end.signal, 0);
            EXPECT_EQ(end.status, 128 + signal_number);
            const std::string err = read_file("err.txt");
            EXPECT_EQ(err.substr(err.find("\n Interrupted.")), "\n Interrupted. \n");
            EXPECT_TRUE(testing::files_ending({".part"}, "out").empty());
            if (!plot) {
                EXPECT_TRUE(fs::is_empty("out"));
            }
        }
    }
    ::close(null_out);
}

// -o that names a file, or a folder nothing can be created in, is refused
// before anything is computed or printed.
TEST(CheckCommand, AnOutputFolderThatCannotBeWrittenIsRefusedFirst) {
    TempDir dir;
    write_record("rec.txt");
    write_file("afile", "keep\n");
    // A folder this process cannot write in, whoever runs the tests.
    std::string locked = "/proc/self";
    if (::geteuid() != 0) {
        fs::create_directory("locked");
        fs::permissions("locked", fs::perms::owner_read | fs::perms::owner_exec);
        locked = "locked";
    }
    struct Case {
        std::string folder, message;
    };
    for (const Case& c : {Case{"afile", "\n Error: the output folder afile is a file, not a folder \n"},
                          Case{"afile/out", "\n Error: cannot create the output folder afile/out: Not a directory \n"},
                          Case{locked, "\n Error: cannot write in the output folder " + locked + ": "}}) {
        const CommandOutcome o = run_command(words("check rec.txt --sample-rate 10000 --frequencies 100:300 -o " + c.folder));
        EXPECT_EQ(o.status, 1) << c.folder;
        EXPECT_EQ(o.err.substr(0, c.message.size()), c.message) << o.err;
        EXPECT_EQ(o.out, "") << c.folder;
    }
    EXPECT_EQ(read_file("afile"), "keep\n");
}

// A second run into a folder that a run is writing is refused, before it
// computes, prints or writes anything.
TEST(CheckCommand, ASecondRunIntoAFolderInUseIsRefused) {
    TempDir dir;
    write_record("rec.txt");
    const std::string args = "check rec.txt --sample-rate 10000 --frequencies 100:300 -o out";
    {
        const FolderLock first("out");
        const CommandOutcome second = run_command(words(args));
        EXPECT_EQ(second.status, 1);
        EXPECT_EQ(second.err, "\n Error: out is in use by another quorel run \n");
        EXPECT_EQ(second.out, "");
        EXPECT_TRUE(fs::is_empty("out"));
    }
    EXPECT_EQ(run_command(words(args)).status, 0);   // free again
    EXPECT_TRUE(fs::exists("out/rec.json"));
}

// Each channel of a file is its own record, "file:channel" in the tables and
// the JSON and "<stem>_<channel>" in the file names; the channel of a WAV
// file judges as the same samples in a text file do.  Integer samples without
// --scale get a warning; the scale is stated.
TEST(CheckCommand, EveryChannelIsARecordNamedByItsFile) {
    TempDir dir;
    write_record("rec.txt");
    std::vector<double> a;
    for (const std::vector<double>& line : testing::read_table("rec.txt")) a.push_back(line[0]);
    std::vector<double> b(a.size());
    for (size_t k = 0; k < a.size(); ++k) b[k] = -0.5 * a[k];
    write_wav("two.wav", {a, b}, 10000, WavEncoding::float64);
    write_wav("pcm.wav", {{0, 1000, -3000, 2000, 0}}, 10000, WavEncoding::pcm16);

    const json text = check_json("rec.txt --sample-rate 10000 --frequencies 100:1000");
    const CommandOutcome o = run_command(words("check two.wav --frequencies 100:1000 --json -o out"));
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const json wav = json::parse(o.out);
    ASSERT_EQ(wav["records"].size(), 2u);
    EXPECT_EQ(wav["records"][0]["record"]["file"], "two.wav:1");
    EXPECT_EQ(wav["records"][1]["record"]["file"], "two.wav:2");
    EXPECT_EQ(wav["records"][0]["srs"], text["records"][0]["srs"]);
    EXPECT_EQ(wav["records"][0]["settings"]["scale"], nullptr);
    const json& half = wav["records"][1]["srs"][3];
    EXPECT_NEAR(half["positive"].get<double>(), 0.5 * text["records"][0]["srs"][3]["negative"].get<double>(), 1e-5);
    for (const char* name : {"out/two_1.json", "out/two_1_srs.csv", "out/two_2.json", "out/two_2_srs.csv"}) {
        EXPECT_TRUE(fs::exists(name)) << name;
    }

    const CommandOutcome pcm = run_command(words("check pcm.wav --frequencies 100:1000"));
    EXPECT_NE(pcm.err.find("Warning: pcm.wav:1: 16-bit PCM samples are read as fractions of full scale"), std::string::npos);
    EXPECT_NE(pcm.out.find("Record pcm.wav:1: 5 samples"), std::string::npos);
    const CommandOutcome scaled = run_command(words("check pcm.wav --frequencies 100:1000 --scale 1/0.01 --json"));
    EXPECT_EQ(scaled.err, "");
    EXPECT_EQ(json::parse(scaled.out)["records"][0]["settings"]["scale"], 100.0);
    EXPECT_DOUBLE_EQ(json::parse(scaled.out)["records"][0]["record"]["peak_acceleration"].get<double>(), 100.0 * 3000 / 32768);
}

// The conditioning is stated in the JSON settings in the order it is done,
// and each shock of a recording is its own record "file#k", "<stem>_event<k>".
TEST(CheckCommand, ConditioningIsStatedAndShocksBecomeRecords) {
    TempDir dir;
    // Two copies of the shock 0.6 sec apart in 1.2 sec of 0.2 G offset.
    write_record("one.txt");
    std::vector<double> shock;
    for (const std::vector<double>& line : testing::read_table("one.txt")) shock.push_back(line[0]);
    std::string text;
    for (int k = 0; k < 12000; ++k) {
        const int at = k < 6000 ? k - 1000 : k - 7000;
        text += format("%.6f\n", 0.2 + (at >= 0 && at < static_cast<int>(shock.size()) ? shock[static_cast<size_t>(at)] : 0.0));
    }
    write_file("long.txt", text);
    const CommandOutcome o = run_command(words("check long.txt --sample-rate 10000 --frequencies 100:1000 --json -o out "
                                               "--trim 0.05: --remove-mean --highpass 5 --filter-order 2 --events 20% "
                                               "--window 0.02:0.1"));
    ASSERT_EQ(o.status, 0) << o.err;
    const json records = json::parse(o.out)["records"];
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["record"]["file"], "long.txt#2");
    std::string steps;
    for (const json& step : records[1]["settings"]["conditioning"]) steps += step["step"].get<std::string>() + " ";
    EXPECT_EQ(steps, "trim remove_mean highpass event ");
    const json& event = records[1]["settings"]["conditioning"][3];
    EXPECT_NEAR(event["from"].get<double>(), 0.68, 1e-3);
    EXPECT_DOUBLE_EQ(records[1]["record"]["start_time"].get<double>(), event["from"].get<double>());
    EXPECT_TRUE(fs::exists("out/long_event1.json"));
    EXPECT_TRUE(fs::exists("out/long_event2_srs.csv"));
    // Both shocks are the same: so are their spectra, to the filter's reach.
    for (size_t j = 0; j < records[0]["srs"].size(); ++j) {
        EXPECT_NEAR(records[0]["srs"][j]["positive"].get<double>() / records[1]["srs"][j]["positive"].get<double>(), 1.0,
                    1e-3);
    }

    const CommandOutcome bad = run_command(words("check long.txt --sample-rate 10000 --frequencies 100:1000 --highpass 50 "
                                                 "--lowpass 40"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("--highpass 50 Hz is not below --lowpass 40 Hz"), std::string::npos);
    EXPECT_EQ(run_command(words("check long.txt --sample-rate 10000 --frequencies 100:1000 --events 20%")).status, 2);
}

// --spectra adds the other spectra of the same oscillators to every row of
// the JSON and the CSV, and with --plot their picture: both phases together
// are the SRS, the pseudo velocity is the one already there, and the relative
// displacement is it over w (each rounded to float once).  Without the
// residual phase the primary is the SRS and the residual is null.
TEST(CheckCommand, SpectraAreTheSameOscillatorsOtherPeaks) {
    TempDir dir;
    write_record("rec.txt");
    const std::string args = "rec.txt --sample-rate 10000 --frequencies 20:1000 --spacing 1/3 --spectra";
    const json doc = check_json(args + " -o out").at("records").at(0);
    EXPECT_EQ(doc.at("settings").at("spectra"), true);
    const json& srs = doc.at("srs");
    ASSERT_GE(srs.size(), 10u);
    for (const json& row : srs) {
        const double f = row.at("frequency").get<double>();
        const double maximax = row.at("maximax").get<double>();
        EXPECT_EQ(std::max(row.at("primary").get<double>(), row.at("residual").get<double>()), maximax) << f;
        const double pv = row.at("pseudo_velocity").get<double>();
        EXPECT_NEAR(row.at("relative_displacement").get<double>(), pv / (2.0 * M_PI * f), 1e-6 * pv / f) << f;
        EXPECT_GT(row.at("relative_velocity").get<double>(), 0.0) << f;
    }
    // The CSV without a specification has empty cells: its fields as text.
    std::vector<std::vector<std::string>> csv;
    for (const std::string& line : testing::read_lines("out/rec_srs.csv")) {
        csv.emplace_back();
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) csv.back().push_back(field);
    }
    ASSERT_EQ(csv.size(), srs.size() + 1);
    EXPECT_EQ(csv[0][10], "primary (G)");
    ASSERT_EQ(csv[4].size(), 12u);
    EXPECT_NEAR(std::stod(csv[4][10]), srs[3].at("primary").get<double>(), 1e-8 * std::stod(csv[4][10]));
    EXPECT_EQ(check_json(args.substr(0, args.size() - 10)).at("records").at(0).at("srs").at(0).size(), 8u);

    const json forced = check_json(args + " --no-residual").at("records").at(0).at("srs");
    for (const json& row : forced) {
        EXPECT_EQ(row.at("primary").get<double>(), row.at("maximax").get<double>());
        EXPECT_TRUE(row.at("residual").is_null());
    }
}

TEST(CheckCommand, SpectraArePlottedWithPlot) {
    REQUIRE_GNUPLOT();
    TempDir dir;
    write_record("rec.txt");
    const CommandOutcome o =
        run_command(words("check rec.txt --sample-rate 10000 --frequencies 20:1000 --spectra -o out --plot"));
    ASSERT_EQ(o.status, 0) << o.err;
    for (const char* name : {"out/rec_spectra.svg", "out/rec_spectra.gp", "out/rec_srs.svg"}) {
        EXPECT_TRUE(fs::exists(name)) << name;
    }
    EXPECT_FALSE(fs::exists("out/rec_pvss.svg"));
}

}  // namespace
}  // namespace quorel
