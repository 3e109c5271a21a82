#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "plot/compliance.hpp"
#include "plot/gnuplot_script.hpp"
#include "plot/pvss.hpp"
#include "plot/run_files.hpp"
#include "base/error.hpp"
#include "base/format.hpp"

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

TEST(PlotCompliance, MarginsAndBandEdges) {
    // 20 log10(2) = 6.0206 dB by hand; 20 log10(10) = 20 exactly.
    EXPECT_NEAR(margin_db(2.0, 1.0), 6.0206, 5e-5);
    EXPECT_NEAR(margin_db(37.5, 75.0), -6.0206, 5e-5);
    EXPECT_EQ(margin_db(10.0, 1.0), 20.0);

    const ToleranceBand three{-3.0, 3.0};
    const ToleranceBand six{-6.0, 6.0};
    // A response on an edge, 10^(dB/20) times the specification, is inside even
    // though its margin comes back only to within rounding (3.0000000000000004
    // and -6.000000000000001 here).
    for (const double edge : {-3.0, 3.0}) EXPECT_TRUE(inside(three, margin_db(75.0 * std::pow(10.0, edge / 20.0), 75.0)));
    EXPECT_TRUE(inside(six, margin_db(9.4 * std::pow(10.0, -0.3), 9.4)));
    EXPECT_FALSE(inside(three, 3.0 + 1e-6));
    EXPECT_FALSE(inside(three, -3.0 - 1e-6));
    // Twice the specification is outside +6 dB.
    EXPECT_FALSE(inside(six, margin_db(2.0, 1.0)));
    EXPECT_TRUE(inside(ToleranceBand{-1.5, 6.1}, margin_db(2.0, 1.0)));
    EXPECT_FALSE(inside(six, margin_db(0.0, 1.0)));   // no response at all

    // A --band holds on every point at every frequency.
    const ToleranceBand parsed = parse_band("-1.5,3");
    EXPECT_EQ(parsed.low_db, -1.5);
    EXPECT_EQ(parsed.high_db, 3.0);
    EXPECT_EQ(parsed.min_share, 1.0);
    EXPECT_FALSE(parsed.limited());
    for (const std::string bad : {"3,-3", "3,3", "abc", "-3", "-3,3x", ",3", "-3,inf"}) {
        EXPECT_NE(error_of([&] { parse_band(bad); }).find(" Error: --band " + bad + ": "), std::string::npos) << bad;
    }
    // Edges within ±60 dB: wider ones would put the plot's range beyond what a
    // double holds.
    EXPECT_EQ(parse_band("-60,60").high_db, 60.0);
    for (const std::string wide : {"-7000,7000", "-1e308,1e308", "-60.5,3"}) {
        EXPECT_EQ(error_of([&] { parse_band(wide); }),
                  "\n Error: --band " + wide + ": band edges must lie within -60 and +60 dB \n");
    }
}

TEST(PlotCompliance, SpecificationIsLogLogBetweenItsPoints) {
    // Constant slope 1 in log-log: 10 G at 100 Hz to 40 G at 400 Hz gives 20 G
    // at 200 Hz.
    const std::vector<SpecPoint> ramp{{100.0, 10.0}, {400.0, 40.0}};
    EXPECT_NEAR(*spec_at(ramp, 200.0), 20.0, 1e-12);
    // Between 10 Hz 9.4 G and 80 Hz 75 G the specification is the power law
    // a = 9.4 (f/10)^s, s = ln(75/9.4) / ln 8.
    const std::vector<SpecPoint> functional{{10.0, 9.4}, {80.0, 75.0}, {2000.0, 75.0}};
    const double s = std::log(75.0 / 9.4) / std::log(8.0);
    for (const double f : {12.599, 31.748, 63.496}) EXPECT_NEAR(*spec_at(functional, f), 9.4 * std::pow(f / 10.0, s), 1e-12 * 75);
    EXPECT_EQ(*spec_at(functional, 80.0), 75.0);
    EXPECT_NEAR(*spec_at(functional, 640.0), 75.0, 1e-12);

    // An SRS file prints 3 decimals: frequencies that close beyond an end take
    // the end value; further out there is none.
    EXPECT_EQ(*spec_at(functional, 10.0 * (1.0 - 5e-5)), 9.4);
    EXPECT_EQ(*spec_at(functional, 2000.0 * (1.0 + 5e-5)), 75.0);
    EXPECT_EQ(*spec_at({{0.1234567, 1.0}, {1.0, 2.0}}, 0.123), 1.0);
    EXPECT_FALSE(spec_at(functional, 10.0 * (1.0 - 1e-3)));
    EXPECT_FALSE(spec_at(functional, 2001.0));
}

TEST(PlotCompliance, FractionsPerBandCountBothPolarities) {
    const std::vector<SpecPoint> ramp{{100.0, 10.0}, {400.0, 40.0}};
    // 100 Hz: on the +3 dB edge and exact; 200 Hz: twice the 20 G (+6.02 dB)
    // and exact; 400 Hz: half the 40 G (-6.02 dB) and exact.
    const std::vector<SrsLine> srs{{100.0, 10.0 * std::pow(10.0, 0.15), 10.0}, {200.0, 40.0, 20.0}, {400.0, 20.0, 40.0}};
    const Compliance c = assess(ramp, srs, "srs_5.out", band_rules({{-3.0, 3.0}, {-6.0, 6.0}, {-6.1, 6.1}}));
    ASSERT_EQ(c.rows.size(), 3u);
    EXPECT_NEAR(c.rows[1].spec, 20.0, 1e-12);
    EXPECT_NEAR(c.rows[1].positive_db, 6.0206, 5e-5);
    EXPECT_NEAR(c.rows[2].positive_db, -6.0206, 5e-5);
    ASSERT_EQ(c.verdict.bands.size(), 3u);
    EXPECT_EQ(c.verdict.bands[0].inside, 4);
    EXPECT_EQ(c.verdict.bands[1].inside, 4);
    EXPECT_EQ(c.verdict.bands[2].inside, 6);
    for (const ShareCount& b : c.verdict.bands) EXPECT_EQ(b.total, 6);
    EXPECT_FALSE(c.verdict.bands[0].pass());
    EXPECT_FALSE(c.verdict.bands[1].pass());
    EXPECT_TRUE(c.verdict.bands[2].pass());
    EXPECT_FALSE(c.verdict.pass);

    // The summary lines are quorel's verdict lines (label padded to 30, counts
    // to 4 places), here with the counts above: 4 of 6 is 66.7 %.
    const std::string table = compliance_table(5, "spec.txt", "G", c);
    EXPECT_NE(table.find("\n\n   Band -3/+3 dB                     4 of    6 points inside  ( 66.7 %, at least 100.0 %)   "
                         "FAIL \n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("   Band -6.1/+6.1 dB                 6 of    6 points inside  (100.0 %, at least 100.0 %)   PASS \n"
                         "   Acceptance (--band, each polarity): FAIL \n"),
              std::string::npos);
    // 200 Hz: the positive SRS is above +3 and +6 dB; 400 Hz below -3 and -6 dB.
    EXPECT_NE(table.find("    200.000         20.00         40.00         20.00     6.021     0.000          +hi          +hi"
                         "           ok\n"),
              std::string::npos);
    EXPECT_NE(table.find("          +lo          +lo           ok\n"), std::string::npos);

    const std::vector<SrsLine> below{{100.0, 1.0, 1.0}, {99.0, 1.0, 1.0}};
    EXPECT_EQ(error_of([&] { assess(ramp, below, "srs_5.out", band_rules({})); }),
              "\n Error: srs_5.out line 2: frequency 99 Hz is outside the specification (100 to 400 Hz) \n");
}

// A flat 10 G specification and four frequencies, margins by hand:
//   100 Hz: +10 G  0 dB,      -9 G  -0.915 dB
//   200 Hz: +12 G +1.584 dB,  -8 G  -1.938 dB
//   400 Hz: +20 G +6.021 dB, -10 G   0 dB
//   800 Hz:  +7 G -3.098 dB,  -9 G  -0.915 dB
// Against -1/+2 dB each polarity has 2 + 1 + 1 + 1 = 5 of 8 points inside;
// the maximax points 10, 12, 20, 9 G have 3 of 4 (400 Hz above).
const std::vector<SpecPoint> flat_spec{{100.0, 10.0}, {800.0, 10.0}};
Compliance flat_case(SrsPoints points, const ToleranceBand& band, std::optional<double> above_nominal = {}) {
    return assess(flat_spec, {{100.0, 10.0, 9.0}, {200.0, 12.0, 8.0}, {400.0, 20.0, 10.0}, {800.0, 7.0, 9.0}},
                  "srs_5.out", {"rules.toml", points, {band}, above_nominal});
}

// The band cells of the table's four rows, blanks collapsed, each ended by |.
std::string flat_cells(const std::string& table) {
    std::string cells;
    for (const double f : {100.0, 200.0, 400.0, 800.0}) {
        const size_t at = table.find(format("\n %10.3f ", f)) + 74;   // past the six numbers
        std::istringstream row(table.substr(at, table.find('\n', at) - at));
        for (std::string word; row >> word;) cells += (cells.empty() || cells.back() == '|' ? "" : " ") + word;
        cells += "|";
    }
    return cells;
}

TEST(PlotCompliance, MaximaxJudgesTheLargerPeakEachPolarityBoth) {
    const Compliance each = flat_case(SrsPoints::each, {-1.0, 2.0, 0.7});
    const Compliance maximax = flat_case(SrsPoints::maximax, {-1.0, 2.0, 0.7});
    const std::string each_table = compliance_table(5, "spec.txt", "G", each);
    const std::string maximax_table = compliance_table(5, "spec.txt", "G", maximax);
    EXPECT_EQ(flat_cells(each_table), "ok|-lo|+hi|+lo|");
    EXPECT_EQ(flat_cells(maximax_table), "ok|ok|hi|ok|");   // -8 G and +7 G hide behind the larger peak
    // 5 of 8 is below the 70 % asked, 3 of 4 above it.
    EXPECT_NE(each_table.find("   Band -1/+2 dB                     5 of    8 points inside  ( 62.5 %, at least  70.0 %)   "
                              "FAIL \n   Acceptance (rules.toml, each polarity): FAIL \n"),
              std::string::npos)
        << each_table;
    EXPECT_NE(maximax_table.find("   Band -1/+2 dB                     3 of    4 points inside  ( 75.0 %, at least  70.0 %)"
                                 "   PASS \n   Acceptance (rules.toml, maximax): PASS \n"),
              std::string::npos);
}

TEST(PlotCompliance, ABandJudgesOnlyTheFrequenciesOfItsRange) {
    // 150 to 500 Hz leaves out 100 Hz (2 points inside) and 800 Hz (1 inside):
    // 1 at 200 Hz and 1 at 400 Hz remain, 2 of 4.
    const std::string table = compliance_table(5, "spec.txt", "G", flat_case(SrsPoints::each, {-1.0, 2.0, 0.7, 150.0, 500.0}));
    EXPECT_NE(table.find("   Pos(dB)   Neg(dB) -1/+2 dB 150-500 Hz\n"), std::string::npos) << table;
    EXPECT_EQ(flat_cells(table), "--|-lo|+hi|--|");
    EXPECT_NE(table.find("   Band -1/+2 dB 150-500 Hz          2 of    4 points inside  ( 50.0 %, at least  70.0 %)   "
                         "FAIL \n"),
              std::string::npos);
}

TEST(PlotCompliance, TheAboveNominalRuleHasItsOwnLine) {
    // At or above 10 G: +10 (on it) at 100 Hz, +12 at 200, +20 and -10 at
    // 400 Hz: 4 of 8.  Every point is within ±6.1 dB.
    EXPECT_NE(compliance_table(5, "spec.txt", "G", flat_case(SrsPoints::each, {-6.1, 6.1}, 0.5))
                  .find("   Above nominal                     4 of    8 points         ( 50.0 %, at least  50.0 %)   PASS \n"
                        "   Acceptance (rules.toml, each polarity): PASS \n"),
              std::string::npos);
}

TEST(PlotCompliance, TheSrsPlotDrawsARangedBandOverItsRangeOnly) {
    const Compliance c = flat_case(SrsPoints::each, {-1.0, 2.0, 0.7, 150.0, 500.0});
    const std::string script = srs_script({5, "spec.txt", {"G", "in/sec", "in"}, trial_file_names(5)}, flat_spec, c);
    // By hand, 10 G x 10^(-1/20) = 8.9125094 and x 10^(2/20) = 12.589254.  The
    // range's ends join the frequencies, the edges start and stop there; NaN
    // (no line) outside.
    EXPECT_NE(script.find("$bands << EOD\n100 10 NaN NaN\n150 10 8.9125094 12.589254\n200 10 8.9125094 12.589254\n"
                          "400 10 8.9125094 12.589254\n500 10 8.9125094 12.589254\n800 10 NaN NaN\nEOD\n"),
              std::string::npos)
        << script;
    EXPECT_NE(script.find("title '-1 dB 150-500 Hz'"), std::string::npos);
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
