#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/format.hpp"
#include "export/export_drive.hpp"
#include "record/record_formats.hpp"
#include "support/test_support.hpp"

namespace quorel {
namespace {

namespace fs = std::filesystem;
using testing::read_csv;
using testing::run_command;
using testing::TempDir;
using testing::write_file;

// A pyroshock: 100 Hz 100 G rising to a 1000 G plateau.  Its plateau ends at
// 2 kHz, not the example's 10 kHz: an SRS of samples sees the drive linear
// between them, which lowers a response at f by about 28.6 (f / rate)^2 dB,
// so the SRS of two rates agrees within 0.1 dB only where both give some
// 25 samples per cycle or more (the warning's test below takes the other side).
const char* const pyroshock = "100 100\n1000 1000\n2000 1000\n";

// A run of few trials at a rate far above the top frequency, in `dir`.
void run(const std::string& spec, const std::string& dir, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"-n", "4", "-r", "200000", "--quiet", "-o", dir};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(spec);
    const testing::CommandOutcome outcome = run_command(args);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
}

ExportRequest request(const std::string& dir, double rate, const std::string& output) {
    ExportRequest r;
    r.run_dir = dir;
    r.rate = rate;
    r.output = output;
    return r;
}

// The wavelet formula of the files, a(t) = sum p A sin(2 pi f tau / N) sin(2 pi f tau),
// evaluated from wavelets_<n>.csv in double: an independent sum.
double wavelet_sum(const std::vector<std::vector<double>>& wavelets, double t) {
    double a = 0.0;
    for (const std::vector<double>& w : wavelets) {
        const double tau = t - w[4];
        if (tau < 0.0 || tau > w[3] / (2.0 * w[1])) continue;
        const double phase = 2.0 * M_PI * w[1] * tau;
        a += w[2] * w[5] * std::sin(phase / w[3]) * std::sin(phase);
    }
    return a;
}

// The runs are made once, in one folder, for every test of the suite.
class ExportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<TempDir>();
        write_file("pyroshock.txt", pyroshock);
        const std::string functional = std::string(QUOREL_EXAMPLES_DIR) + "/functional.txt";
        run(functional, "functional");
        run("pyroshock.txt", "pyroshock");
        run(functional, "optimal", {"--spacing", "1/3", "--optimize"});
    }
    static void TearDownTestSuite() { folder.reset(); }
    static std::unique_ptr<TempDir> folder;
};
std::unique_ptr<TempDir> ExportTest::folder;

TEST_F(ExportTest, OptimaKeepTheirSrsAtControllerRates) {
    for (const char* folder : {"functional", "pyroshock"}) {
        for (const double rate : {51200.0, 204800.0}) {
            const ExportedDrive e = export_drive(request(folder, rate, "drive.csv"));
            EXPECT_LE(std::fabs(e.max_difference_db), export_srs_tolerance_db) << folder << " at " << rate;
            EXPECT_TRUE(e.warnings.empty());
            // Against the closed form at t = k / rate (the time rounded to float,
            // as the file holds it): the new samples are the model's, not an
            // interpolation of the run's.
            const auto wavelets = read_csv(std::string(folder) + "/wavelets_" + e.drive.substr(6) + ".csv");
            const auto rows = read_csv("drive.csv");
            ASSERT_EQ(static_cast<int64_t>(rows.size()), e.points);
            double peak = 0.0, worst = 0.0;
            for (const auto& row : rows) {
                peak = std::max(peak, std::fabs(row[1]));
                worst = std::max(worst, std::fabs(row[1] - wavelet_sum(wavelets, row[0])));
            }
            EXPECT_LE(worst, testing::synthesis_relative_tolerance * peak) << folder << " at " << rate;
            EXPECT_NEAR(rows[1][0], 1.0 / rate, 1e-7 / rate);
        }
    }
}

TEST_F(ExportTest, AtTheRunsOwnRateTheHistoryComesBackBitForBit) {
    const ExportedDrive e = export_drive(request("functional", 200000.0, "same.csv"));
    const auto exported = read_csv("same.csv");
    const auto history = read_csv("functional/history_" + e.drive.substr(6) + ".csv");
    ASSERT_EQ(exported.size(), history.size());
    for (size_t k = 0; k < history.size(); ++k) {
        ASSERT_EQ(exported[k][0], history[k][0]) << k;
        ASSERT_EQ(exported[k][1], history[k][1]) << k;
    }
    // The run's SRS file holds six significant digits.
    EXPECT_LE(std::fabs(e.max_difference_db), testing::report_db_tolerance);
}

TEST_F(ExportTest, TheOptimalDriveIsRemadeFromItsNodes) {
    ExportRequest r = request("optimal", 200000.0, "optimal.csv");
    r.optimal = true;
    // At the run's own rate: its history, to the rounding of the times.
    const ExportedDrive same = export_drive(r);
    EXPECT_EQ(same.drive, "the optimal drive");
    const auto exported = read_csv("optimal.csv");
    const auto history = read_csv("optimal/history_optimal.csv");
    ASSERT_EQ(exported.size(), history.size());
    double peak = 0.0, worst = 0.0;
    for (size_t k = 0; k < history.size(); ++k) {
        peak = std::max(peak, std::fabs(history[k][1]));
        worst = std::max(worst, std::fabs(exported[k][1] - history[k][1]));
    }
    EXPECT_LE(worst, 1e-6 * peak);
    EXPECT_LE(std::fabs(same.max_difference_db), 1e-3);
    for (const double rate : {51200.0, 204800.0}) {
        r.rate = rate;
        EXPECT_LE(std::fabs(export_drive(r).max_difference_db), export_srs_tolerance_db) << rate;
    }
}

// An optimal drive that carries its top frequencies in wavelets on top of
// its nodes is not linear between them: remade from the nodes it would lose
// those frequencies, so it goes out at the run's own rate only, as its history.
TEST_F(ExportTest, AnOptimalDriveWithWaveletsOnItsNodesGoesOutAtTheRunsRateOnly) {
    fs::copy("optimal", "kept", fs::copy_options::recursive);
    nlohmann::json summary = nlohmann::json::parse(testing::read_file("kept/summary.json"));
    summary["optimal"]["solver"]["kept_wavelets"] = 2;
    summary["optimal"]["solver"]["kept_from_hz"] = 8000.0;
    write_file("kept/summary.json", summary.dump());
    ExportRequest r = request("kept", 51200.0, "kept.csv");
    r.optimal = true;
    try {
        export_drive(r);
        ADD_FAILURE() << "exported at another rate";
    } catch (const QuorelError& e) {
        EXPECT_NE(std::string(e.what()).find("(from 8000 Hz) in wavelets on top of its nodes: it can be exported at the "
                                             "run's rate only, 200000 samples/sec"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(fs::exists("kept.csv"));
    r.rate = 200000.0;
    export_drive(r);
    const auto exported = read_csv("kept.csv");
    const auto history = read_csv("kept/history_optimal.csv");
    ASSERT_EQ(exported.size(), history.size());
    for (size_t k = 0; k < history.size(); ++k) ASSERT_EQ(static_cast<float>(exported[k][1]), static_cast<float>(history[k][1])) << k;
}

TEST_F(ExportTest, EveryFormatReadsBackAsWritten) {
    const ExportedDrive csv = export_drive(request("pyroshock", 51200.0, "drive.csv"));
    const auto rows = read_csv("drive.csv");
    for (const char* file : {"drive.wav", "drive.mat", "drive.h5", "drive.uff"}) {
        const ExportedDrive e = export_drive(request("pyroshock", 51200.0, file));
        EXPECT_EQ(e.format, export_format_for(file));
        RecordRequest read;
        if (e.format == ExportFormat::mat) {
            read.channels = {"acceleration"};
            read.rate_variable = "sample_rate";
        }
        if (e.format == ExportFormat::hdf5) read.rate_attribute = "sample_rate";
        const std::vector<ChannelRecord> records = read_records(file, read);
        ASSERT_EQ(records.size(), 1u) << file;
        const Record& r = records[0].record;
        ASSERT_EQ(r.samples.size(), rows.size()) << file;
        // The universal file keeps the step to seven digits.
        EXPECT_NEAR(r.sample_rate, 51200.0, 51200.0 * 1e-6) << file;
        // "%.9g" text (and the universal file's 13 digits) reads back as the
        // float it was printed from; the binary formats hold that float's value.
        const bool text = e.format == ExportFormat::uff58;
        for (size_t k = 0; k < rows.size(); ++k) {
            const double value = text ? static_cast<float>(r.samples[k]) : r.samples[k];
            ASSERT_EQ(value, static_cast<double>(static_cast<float>(rows[k][1]))) << file << " sample " << k;
        }
    }
    const std::vector<ChannelRecord> text = read_records("drive.csv", RecordRequest{});
    EXPECT_NEAR(text[0].record.sample_rate, 51200.0, 51200.0 * 1e-6);
    ASSERT_EQ(csv.points, static_cast<int64_t>(text[0].record.samples.size()));
    for (size_t k = 0; k < rows.size(); ++k) {
        ASSERT_EQ(static_cast<float>(text[0].record.samples[k]), static_cast<float>(rows[k][1])) << k;
    }
}

TEST_F(ExportTest, ZerosPointsAndFrames) {
    ExportRequest r = request("functional", 51200.0, "padded.csv");
    r.pad_before = 0.01;
    r.pad_after = 0.02;
    const ExportedDrive padded = export_drive(r);
    EXPECT_EQ(padded.before, 512);
    EXPECT_EQ(padded.points, 512 + padded.drive_points + 1024);
    const auto rows = read_csv("padded.csv");
    for (int k = 0; k < 512; ++k) ASSERT_EQ(rows[static_cast<size_t>(k)][1], 0.0);
    // Zeros before the drive shift it without changing its SRS.
    const ExportedDrive plain = export_drive(request("functional", 51200.0, "plain.csv"));
    EXPECT_EQ(padded.positive, plain.positive);
    EXPECT_EQ(padded.negative, plain.negative);

    r.frame_pow2 = true;
    EXPECT_EQ(export_drive(r).points, 16384);
    r.frame_pow2 = false;
    r.points = 20000;
    EXPECT_EQ(export_drive(r).points, 20000);
    EXPECT_EQ(read_csv("padded.csv").size(), 20000u);

    // A WAV's volts are the acceleration times the scale, beyond ±1 counted.
    ExportRequest w = request("functional", 51200.0, "drive.wav");
    w.scale = 0.5;
    const ExportedDrive wav = export_drive(w);
    const Record volts = read_records("drive.wav", RecordRequest{})[0].record;
    const auto acceleration = read_csv("plain.csv");
    ASSERT_EQ(volts.samples.size(), acceleration.size());
    int64_t beyond = 0;
    for (size_t k = 0; k < acceleration.size(); ++k) {
        ASSERT_EQ(volts.samples[k], static_cast<float>(static_cast<float>(acceleration[k][1]) * 0.5)) << k;
        beyond += std::fabs(volts.samples[k]) > 1.0;
    }
    EXPECT_EQ(wav.beyond_full_scale, beyond);
    EXPECT_GT(beyond, 0);
    EXPECT_EQ(wav.warnings.size(), 1u);
}

TEST_F(ExportTest, BadArgumentsAreRefusedBeforeAnyFileIsWritten) {
    const auto refused = [](ExportRequest r) {
        std::string message;
        try {
            export_drive(r);
        } catch (const QuorelError& e) {
            message = e.what();
        }
        EXPECT_FALSE(fs::exists(r.output)) << message;
        EXPECT_FALSE(fs::exists(r.output + ".part")) << message;
        return message;
    };
    ExportRequest r = request("functional", 0.0, "bad.csv");
    EXPECT_NE(refused(r).find("--rate 0: the sample rate must be above 0"), std::string::npos);
    r.rate = 4000.0;
    EXPECT_NE(refused(r).find("at least 8000 samples/sec"), std::string::npos);
    r.rate = 51200.0;
    r.points = 100;
    EXPECT_NE(refused(r).find("--points 100 is too few"), std::string::npos);
    r.points.reset();
    r.pad_after = -1.0;
    EXPECT_NE(refused(r).find("--pad-after -1"), std::string::npos);
    r.pad_after = 0.0;
    r.scale = 2.0;
    EXPECT_NE(refused(r).find("--scale is for WAV files"), std::string::npos);
    r.scale.reset();
    r.output = "bad.wav";
    r.rate = 51200.5;
    EXPECT_NE(refused(r).find("whole number of samples/sec"), std::string::npos);
    r.rate = 51200.0;
    r.trial = 999;
    const std::string missing = refused(r);
    EXPECT_NE(missing.find("functional holds no trial 999 to export: it holds trial"), std::string::npos) << missing;
    r.trial.reset();
    r.optimal = true;
    EXPECT_NE(refused(r).find("holds no optimal drive's files"), std::string::npos);
}

TEST_F(ExportTest, ARateTooLowForTheTopFrequencyIsAWarningNamingIt) {
    const ExportedDrive e = export_drive(request("pyroshock", 8000.0, "coarse.csv"));
    ASSERT_EQ(e.warnings.size(), 1u);
    EXPECT_GT(std::fabs(e.max_difference_db), export_srs_tolerance_db);
    EXPECT_NE(e.warnings[0].find(format("at %.3f Hz", e.difference_frequency)), std::string::npos) << e.warnings[0];
    EXPECT_GT(e.difference_frequency, 1000.0);
    EXPECT_TRUE(fs::exists("coarse.csv"));
}

TEST_F(ExportTest, TheCommandLineRefusesBadOptionsWithStatus2AndWritesNothing) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"export", "functional", "-o", "x.csv"},
          {"export", "functional", "--rate", "51200", "--frame", "pow3", "-o", "x.csv"},
          {"export", "functional", "--rate", "51200", "--points", "10", "--frame", "pow2", "-o", "x.csv"},
          {"export", "functional", "--rate", "51200", "--trial", "1", "--optimal", "-o", "x.csv"}}) {
        const testing::CommandOutcome outcome = run_command(args);
        EXPECT_EQ(outcome.status, 2) << outcome.err;
        EXPECT_NE(outcome.err.find("quorel export: "), std::string::npos) << outcome.err;
    }
    const testing::CommandOutcome missing = run_command({"export", "functional", "--rate", "51200", "--trial", "7", "-o", "x.csv"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("it holds trial"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists("x.csv"));
}

}  // namespace
}  // namespace quorel
