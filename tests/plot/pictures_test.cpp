#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "base/envelope.hpp"
#include "base/error.hpp"
#include "plot/gnuplot_script.hpp"
#include "plot/pvss.hpp"
#include "plot/run_files.hpp"

namespace quorel::plot {
namespace {

std::string error_of(const auto& call) {
    try {
        call();
    } catch (const QuorelError& error) {
        return error.what();
    }
    return "";
}

const std::vector<SpecPoint> flat_spec{{100.0, 10.0}, {800.0, 10.0}};

TEST(PlotScripts, TheSrsPlotDrawsARangedBandOverItsRangeOnly) {
    SrsPicture picture;
    picture.names = plot_names(5).srs;
    picture.title = "SRS of trial 5 against spec.txt";
    picture.accel_unit = "G";
    picture.spec = flat_spec;
    picture.bands = {{-1.0, 2.0, 0.7, 150.0, 500.0}};
    picture.srs = {{100.0, 10.0, 9.0}, {200.0, 12.0, 8.0}, {400.0, 20.0, 10.0}, {800.0, 7.0, 9.0}};
    const std::string script = srs_script(picture);
    // By hand, 10 G x 10^(-1/20) = 8.9125094 and x 10^(2/20) = 12.589254.  The
    // range's ends join the frequencies, the edges start and stop there; NaN
    // (no line) outside.
    EXPECT_NE(script.find("$bands << EOD\n100 10 NaN NaN\n150 10 8.9125094 12.589254\n200 10 8.9125094 12.589254\n"
                          "400 10 8.9125094 12.589254\n500 10 8.9125094 12.589254\n800 10 NaN NaN\nEOD\n"),
              std::string::npos)
        << script;
    EXPECT_NE(script.find("title '-1 dB 150-500 Hz'"), std::string::npos);
    // The SRS itself is inline too: the script redraws without the run's files.
    EXPECT_NE(script.find("$srs << EOD\n100 10 9\n200 12 8\n400 20 10\n800 7 9\nEOD\n"), std::string::npos);
}

TEST(PlotScripts, AnEnvelopeKeepsEveryGroupsExtremesInTimeOrder) {
    // 10 samples in 2 groups of 5: the first group peaks at t = 1 (9) after
    // its low at t = 0 (-4); the second has its low at t = 8 (-7) after its
    // high at t = 6 (5).
    const std::vector<double> values{-4, 9, 0, 1, 2, 3, 5, 0, -7, 1};
    std::vector<TimedValue> series;
    for (size_t k = 0; k < values.size(); ++k) series.push_back({static_cast<double>(k), values[k]});
    const std::vector<TimedValue> kept = envelope_of(series, 2);
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_EQ(kept[0].time, 0.0);
    EXPECT_EQ(kept[1].time, 1.0);
    EXPECT_EQ(kept[2].time, 6.0);
    EXPECT_EQ(kept[3].time, 8.0);
    EXPECT_EQ(kept[3].value, -7.0);
    // A series short enough is kept whole.
    EXPECT_EQ(envelope_of(series, 5).size(), 10u);
}

// A polarity never reached (peak 0 at every frequency) has no point a log
// axis can show: its series is left out of the script, which gnuplot would
// warn about; the other is drawn as given.
TEST(PlotPvss, APolarityNeverReachedIsLeftOut) {
    PvssPicture picture;
    picture.names = plot_names(2).pvss;
    picture.title = "PVSS of pulse.txt";
    picture.units = *pvss_units({"G", "in/sec", "in"});
    picture.pvss = {{100.0, 13.5, 0.0}, {200.0, 21.0, 0.0}};
    const std::string script = pvss_script(picture);
    EXPECT_NE(script.find("$positive << EOD\n100 13.5\n200 21\nEOD\n"), std::string::npos) << script;
    EXPECT_EQ(script.find("$negative"), std::string::npos) << script;
    EXPECT_NE(script.find("\nplot $positive using 1:2"), std::string::npos) << script;
}

TEST(PlotPvss, PseudoVelocityInEachUnitSystem) {
    const PvssUnits english = *pvss_units({"G", "in/sec", "in"});
    const PvssUnits metric = *pvss_units({"G", "m/sec", "mm"});
    const PvssUnits si = *pvss_units({"m/sec^2", "m/sec", "mm"});
    // By hand, 2 pi 100 = 628.3185:
    //   english 10 G:        386 x 10 / 628.3185 = 6.14338 in/sec,  / 628.3185 = 0.00977749 in
    //   metric 10 G:        9.81 x 10 / 628.3185 = 0.156131 m/sec,  x 1000 / 628.3185 = 0.248490 mm
    //   si 100 m/sec^2:           100 / 628.3185 = 0.159155 m/sec,  x 1000 / 628.3185 = 0.253303 mm
    EXPECT_NEAR(pseudo_velocity(english, 10.0, 100.0), 6.14338, 5e-6);
    EXPECT_NEAR(pv_displacement(english, 6.14338, 100.0), 0.00977749, 5e-9);
    EXPECT_NEAR(pseudo_velocity(metric, 10.0, 100.0), 0.156131, 5e-7);
    EXPECT_NEAR(pv_displacement(metric, 0.156131, 100.0), 0.248490, 5e-7);
    EXPECT_NEAR(pseudo_velocity(si, 100.0, 100.0), 0.159155, 5e-7);
    EXPECT_NEAR(pv_displacement(si, 0.159155, 100.0), 0.253303, 5e-7);
    EXPECT_NEAR(pv_acceleration(metric, 0.156131, 100.0), 10.0, 5e-6);
    // A unit line of no known system has no conversion to guess at.
    EXPECT_FALSE(pvss_units({"G", "m/sec", "in"}));
    EXPECT_FALSE(pvss_units({"g", "in/sec", "in"}));
}

TEST(PlotPvss, RangesAreWholeDecadesAroundTheCurves) {
    const Decades d = *decades_bracketing({6.14, 61.4, 0.0});
    EXPECT_EQ(d.low, 0);
    EXPECT_EQ(d.high, 2);
    // 10 kHz printed as 10000.000 and recomputed closes the range, it does not
    // open another decade.
    EXPECT_EQ(decades_bracketing({100.0, 10000.0 * (1.0 + 1e-9)})->high, 4);
    EXPECT_EQ(decades_bracketing({100.0, 10000.0 * (1.0 + 1e-9)})->low, 2);
    EXPECT_EQ(decades_bracketing({5.0})->count(), 1);
    EXPECT_FALSE(decades_bracketing({0.0, HUGE_VAL}));
}

TEST(PlotPvss, DiagonalsAndTheirLabelsMatchHandComputedPoints) {
    const PvssUnits english = *pvss_units({"G", "in/sec", "in"});
    const ChartFrame frame = chart_frame({2, 4}, {0, 2});   // 100 Hz to 10 kHz, 1 to 100 in/sec
    // The pyroshock plateau, 1000 G from 1 to 10 kHz, lies along its own diagonal.
    const Curve plateau{{1000.0, pseudo_velocity(english, 1000.0, 1000.0)},
                        {10000.0, pseudo_velocity(english, 1000.0, 10000.0)}};
    const TripartiteGrid grid = tripartite_grid(english, frame, {plateau});

    auto diagonal = [&](bool displacement, double value) {
        for (const Diagonal& d : grid.diagonals) {
            if (d.displacement == displacement && std::fabs(d.value / value - 1.0) < 1e-12) return d;
        }
        ADD_FAILURE() << value;
        return Diagonal{};
    };
    // 100 G through 100 Hz at 386 x 100 / 628.3185 = 61.434 in/sec: v f = 6143.4.
    const Diagonal g100 = diagonal(false, 100.0);
    EXPECT_NEAR(g100.v0 * g100.f0, 6143.4, 0.05);
    EXPECT_NEAR(g100.v1 * g100.f1, 6143.4, 0.05);
    // 0.01 in through 100 Hz at 628.3185 x 0.01 = 6.2832 in/sec: v / f = 0.062832.
    const Diagonal in001 = diagonal(true, 0.01);
    EXPECT_NEAR(in001.v0 / in001.f0, 0.062832, 5e-7);
    EXPECT_NEAR(in001.v1 / in001.f1, 0.062832, 5e-7);

    // Each label lies just off its own line, on the side of its glyphs: the
    // value read at its anchor is a little above the one it names.
    auto label = [&](const std::string& text) {
        for (const DiagonalLabel& l : grid.labels) {
            if (l.text == text) return l;
        }
        ADD_FAILURE() << text;
        return DiagonalLabel{};
    };
    const DiagonalLabel g100_label = label("100 G");
    EXPECT_GT(pv_acceleration(english, g100_label.velocity, g100_label.freq), 100.0);
    EXPECT_LT(pv_acceleration(english, g100_label.velocity, g100_label.freq), 115.0);
    const DiagonalLabel in001_label = label("0.01 in");
    EXPECT_GT(pv_displacement(english, in001_label.velocity, in001_label.freq), 0.01);
    EXPECT_LT(pv_displacement(english, in001_label.velocity, in001_label.freq), 0.0115);
    // The 1000 G label is not under the plateau: it sits where the line runs on
    // above the curve, below 1 kHz.
    EXPECT_LT(label("1000 G").freq, 1000.0);

    EXPECT_EQ(grid_value_text(0.001), "0.001");
    EXPECT_EQ(grid_value_text(1e-5), "10^{-5}");
    EXPECT_EQ(grid_value_text(1e6), "10^{6}");
}

TEST(PlotRunFiles, MalformedLinesAreNamed) {
    EXPECT_EQ(error_of([&] { parse_srs("srs_3.out", "10 1 2\n20 1\n"); }),
              "\n Error: srs_3.out line 2: expected 3 numbers \n");
    EXPECT_EQ(error_of([&] { parse_srs("srs_3.out", ""); }), "\n Error: srs_3.out is empty \n");
    EXPECT_EQ(error_of([&] { parse_history("velox_3.out", "0 0\n\n"); }),
              "\n Error: velox_3.out line 2: expected 2 numbers \n");
    EXPECT_EQ(error_of([&] { parse_wavelets("wavelet_3.out", " No. Freq\n0 10.0 + 3 1.5 2.0\n1 12.6 x 3 1.5 2.0\n"); }),
              "\n Error: wavelet_3.out line 3: expected number, frequency, polarity (+ or -), NHS, delay and amplitude \n");

    // One trial's files must agree: the wavelet table's frequencies to its one
    // decimal, the histories' times.
    TrialFiles files;
    files.srs = {{10.0, 1.0, 1.0}, {12.599, 1.0, 1.0}};
    files.wavelets = {{0, 10.0, '+', 3, 0.0, 1.0}, {1, 12.6, '-', 3, 0.0, 1.0}};
    files.accel = files.velocity = files.displacement = {{0.0, 0.0}, {5e-5, 1.0}};
    const TrialFileNames names = trial_file_names(3);
    EXPECT_EQ(error_of([&] { check_trial(files, names); }), "");
    files.wavelets[1].freq = 12.7;
    EXPECT_EQ(error_of([&] { check_trial(files, names); }),
              "\n Error: wavelet_3.out line 3: frequency 12.7 differs from 12.599 in srs_3.out line 2 \n");
    files.wavelets[1].freq = 12.6;
    files.displacement[1].time = 1e-4;
    EXPECT_EQ(error_of([&] { check_trial(files, names); }),
              "\n Error: disp_3.out line 2: time 0.0001 differs from 5e-05 in accel_3.out \n");
    files.displacement.pop_back();
    EXPECT_EQ(error_of([&] { check_trial(files, names); }), "\n Error: disp_3.out has 1 lines, accel_3.out has 2 \n");
}

TEST(PlotRunFiles, TheGridsLastTwoFrequenciesMayPrintAlike) {
    // 100 to 6400 Hz at 1/3 octave: the last grid frequency and the closing
    // point both print as 6400.000.
    EXPECT_EQ(error_of([&] { EXPECT_EQ(parse_srs("srs_1.out", "5079.683 54 54\n6400.000 60 57\n6400.000 60 57\n").size(), 3u); }), "");
    EXPECT_EQ(error_of([&] { parse_srs("srs_1.out", "6400 1 1\n5079.683 1 1\n"); }),
              "\n Error: srs_1.out line 2: frequencies must ascend \n");
}

}  // namespace
}  // namespace quorel::plot
