#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/numeric.hpp"
#include "optimal/linear_program.hpp"
#include "optimal/node_drive.hpp"
#include "optimal/optimal_drive.hpp"
#include "optimal/tolerance.hpp"
#include "srs/filter_bank.hpp"
#include "srs/srs.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {
namespace {

// A small case: 3 frequencies, 600 samples at 4000 samples/sec, Q = 10,
// metric units, a node every 4 samples.
struct SmallCase {
    RunSettings settings;
    SrsSpec spec;
    SrsFilterBank bank;
    std::vector<float> start;
    std::vector<DbBand> bands;

    SmallCase() {
        settings.algorithm = SrsAlgorithm::smallwood;
        settings.damping = 0.05f;
        settings.units = UnitSystem::metric_g;
        settings.sample_rate = 4000.0f;
        settings.dt = static_cast<float>(1.0 / 4000.0);
        settings.nt = 600;
        const float freq[] = {40.0f, 80.0f, 160.0f};
        const float level[] = {10.0f, 20.0f, 20.0f};
        spec.count = 3;
        for (int32_t j = 0; j < 3; ++j) {
            spec.freq[j] = freq[j];
            spec.accel[j] = level[j];
        }
        design_srs_filters(settings.algorithm, settings.damping, settings.dt, spec.freq.data(), spec.count, two_pi(),
                           true, bank);
        // A starting drive: one burst per frequency, one after the other.
        start.assign(600, 0.0f);
        for (int32_t j = 0; j < 3; ++j) {
            const double f = freq[j];
            const double t0 = 0.02 + 0.04 * j;
            for (int32_t k = 0; k < 600; ++k) {
                const double tau = k * static_cast<double>(settings.dt) - t0;
                if (tau < 0.0 || tau > 5.0 / (2.0 * f)) continue;
                start[static_cast<size_t>(k)] +=
                    static_cast<float>(level[j] * 0.3 * std::sin(two_pi() * f * tau / 5.0) * std::sin(two_pi() * f * tau));
            }
        }
        // A narrow band, so that the upper edge binds and cuts are needed.
        bands.assign(3, DbBand{-0.2, 0.2});
    }

    OptimalInputs inputs(const PeakTriple& least) const {
        OptimalInputs in{settings, spec, bank, bands, {}, least, start, {}, nullptr, {}};
        in.options.node_spacing = 4;
        in.options.weight_raises = 0;
        in.options.anchorings = 0;   // the peak times held where the starting drive has them, as the dense program does
        return in;
    }
};

const PeakTriple small_least{1.0, 0.01, 0.1};

// The same linear program, built densely and independently: every node's hat
// function run through the SRS filter as samples, its velocity and
// displacement on the nodes by summing the exact integrals over the samples,
// and the upper edge at every sample of every window from the start.
double dense_objective(const SmallCase& c, const PeakTriple& least, double other_weight) {
    const int32_t m = 4, nt = c.settings.nt;
    const int32_t M = (nt - 1) / m + 1;
    const int32_t free_nodes = M - 2;
    const double dt = c.settings.dt;
    const double velocity_factor = 9.81, displacement_factor = 9810.0;   // metric: m/sec and mm per G sec, G sec^2
    // Per free node n (1..M-2): its samples, responses, node velocities and displacements.
    std::vector<std::vector<std::vector<double>>> response(3, std::vector<std::vector<double>>(free_nodes));
    std::vector<std::vector<double>> velocity(free_nodes), displacement(free_nodes);
    for (int32_t n = 1; n <= M - 2; ++n) {
        std::vector<double> a(static_cast<size_t>(nt), 0.0);
        for (int32_t k = 0; k < nt; ++k) a[k] = std::max(0.0, 1.0 - std::fabs(static_cast<double>(k - n * m)) / m);
        for (int32_t j = 0; j < 3; ++j) {
            std::vector<double>& x = response[j][n - 1];
            x.resize(static_cast<size_t>(srs_window(c.bank, j, nt)));
            srs_response(c.bank, j, a.data(), nt, static_cast<int64_t>(x.size()), x.data());
        }
        double v = 0.0, d = 0.0;
        for (int32_t k = 1; k < nt; ++k) {
            d += dt * v + dt * dt * (a[k - 1] / 3.0 + a[k] / 6.0);
            v += dt * 0.5 * (a[k - 1] + a[k]);
            if (k % m == 0) {
                velocity[n - 1].push_back(v * velocity_factor);
                displacement[n - 1].push_back(d * displacement_factor);
            }
        }
    }
    LinearProgram lp;
    for (int32_t n = 0; n < free_nodes; ++n) lp.add_column(-1e4, 1e4, 0.0);
    const int32_t A = lp.add_column(0.0, 1e4, other_weight / least.acceleration);
    const int32_t V = lp.add_column(0.0, 1e4, other_weight / least.velocity);
    const int32_t D = lp.add_column(0.0, 1e4, 1.0 / least.displacement);
    std::vector<int32_t> columns(static_cast<size_t>(free_nodes) + 1);
    std::vector<double> values(columns.size());
    for (int32_t n = 0; n < free_nodes; ++n) columns[n] = n;
    // Node peaks, and the drive at rest at the last node.
    for (int32_t node = 0; node < M - 1; ++node) {
        for (int32_t what = 0; what < 3; ++what) {
            for (int32_t n = 0; n < free_nodes; ++n) {
                values[n] = what == 0 ? (n == node - 1 ? 1.0 : 0.0)
                                      : (what == 1 ? velocity[n][node] : displacement[n][node]);
            }
            if (node == M - 2 && what > 0) {
                lp.add_row(0.0, 0.0, std::span(columns).first(free_nodes), std::span(values).first(free_nodes));
                continue;
            }
            columns.back() = what == 0 ? A : (what == 1 ? V : D);
            values.back() = -1.0;
            lp.add_row(-lp_infinity, 0.0, columns, values);
            values.back() = 1.0;
            lp.add_row(0.0, lp_infinity, columns, values);
        }
    }
    // Every sample of every window within the band; each polarity at its edge at the starting drive's peak time.
    std::vector<double> start(c.start.begin(), c.start.end());
    for (int32_t j = 0; j < 3; ++j) {
        const double spec = c.spec.accel[j];
        const double low = spec * std::pow(10.0, c.bands[j].low_db / 20.0);
        const double high = spec * std::pow(10.0, c.bands[j].high_db / 20.0);
        std::vector<double> x(static_cast<size_t>(srs_window(c.bank, j, nt)));
        srs_response(c.bank, j, start.data(), nt, static_cast<int64_t>(x.size()), x.data());
        const int64_t t_high = std::max_element(x.begin(), x.end()) - x.begin();
        const int64_t t_low = std::min_element(x.begin(), x.end()) - x.begin();
        for (size_t t = 0; t < x.size(); ++t) {
            for (int32_t n = 0; n < free_nodes; ++n) values[n] = response[j][n][t];
            const auto row = std::span(values).first(free_nodes);
            lp.add_row(-high, high, std::span(columns).first(free_nodes), row);
            if (static_cast<int64_t>(t) == t_high) lp.add_row(low, lp_infinity, std::span(columns).first(free_nodes), row);
            if (static_cast<int64_t>(t) == t_low) lp.add_row(-lp_infinity, -low, std::span(columns).first(free_nodes), row);
        }
    }
    EXPECT_EQ(lp.solve(nullptr), LpStatus::optimal);
    return lp.objective();
}

// The optimal drive's objective from its own samples on the nodes.
double drive_objective(const OptimalDrive& drive, const PeakTriple& least, double other_weight) {
    double a = 0.0, v = 0.0, d = 0.0;
    for (size_t k = 0; k < drive.acceleration.size(); k += 4) {
        a = std::max(a, std::fabs(static_cast<double>(drive.acceleration[k])));
        v = std::max(v, std::fabs(drive.motion.velocity[k]));
        d = std::max(d, std::fabs(drive.motion.displacement[k]));
    }
    return d / least.displacement + other_weight * (v / least.velocity + a / least.acceleration);
}

TEST(OptimalDrive, SmallCaseMatchesADenseSolveOfTheSameProgram) {
    const SmallCase c;
    const OptimalDrive drive = optimal_drive(c.inputs(small_least));
    ASSERT_TRUE(drive.meets);
    // The upper edge bound somewhere: the cutting planes were needed.
    EXPECT_GE(drive.rounds, 2);
    const double dense = dense_objective(c, small_least, 0.1);
    EXPECT_NEAR(drive_objective(drive, small_least, 0.1) / dense, 1.0, 2e-4);
}

// Moving the peak times keeps the best drive found: never a higher minimised
// peak than the drive held at the starting drive's peak times.
TEST(OptimalDrive, MovingThePeakTimesNeverLosesTheBestDrive) {
    const SmallCase c;
    const OptimalDrive held = optimal_drive(c.inputs(small_least));
    OptimalInputs in = c.inputs(small_least);
    in.options.anchorings = 3;
    in.options.moved_frequencies = 3;
    const OptimalDrive moved = optimal_drive(in);
    ASSERT_TRUE(held.meets);
    ASSERT_TRUE(moved.meets);
    EXPECT_LE(moved.motion.peak_displacement, held.motion.peak_displacement);
}

// The small case's start made of wavelets, one per frequency, as a trial's
// history is summed.
struct WaveletStart {
    WaveletSet set;
    explicit WaveletStart(SmallCase& c) {
        allocate_rows(set, c.spec.count, 1);
        set_wavelet_constants(c.spec, set);
        const float amplitude[] = {3.0f, -6.0f, 6.0f}, delay[] = {0.02f, 0.06f, 0.1f};
        for (int32_t j = 0; j < 3; ++j) {
            set.amplitude_row(0)[j] = amplitude[j];
            set.nhs_row(0)[j] = 5;
            set.delay_row(0)[j] = delay[j];
        }
        TimeHistory history;
        allocate_history(history, c.settings.nt);
        std::vector<double> sum;
        file_history(set, 0, c.spec, c.settings, history, sum);
        c.start.assign(history.samples.begin(), history.samples.begin() + c.settings.nt);
    }
};

// Every polarity of `drive` within `band` by the product's SRS.
void expect_within(const SmallCase& c, const std::vector<float>& drive, DbBand band) {
    SrsResult srs;
    compute_srs(c.bank, drive.data(), c.settings.nt, srs);
    for (int32_t j = 0; j < 3; ++j) {
        for (const float peak : {srs.xmax[static_cast<size_t>(j)], srs.xmin[static_cast<size_t>(j)]}) {
            const double db = 20.0 * std::log10(peak / c.spec.accel[static_cast<size_t>(j)]);
            EXPECT_GE(db, band.low_db - 1e-9);
            EXPECT_LE(db, band.high_db + 1e-9);
        }
    }
}

// Beyond max_nodes the nodes are spaced wider and the grid frequencies above
// what they carry keep the starting drive's wavelets: the drive still meets
// every band by the product's SRS, ends at rest, and needs no more
// displacement than its start.
TEST(OptimalDrive, WiderNodesKeepTheTopWaveletsAndStillMeetEveryBand) {
    SmallCase c;
    const WaveletStart wavelets(c);
    c.bands.assign(3, DbBand{-1.5, 3.0});
    OptimalInputs in = c.inputs(small_least);
    in.options.node_spacing = 0;   // 10 at 4000 samples/sec below 160 Hz: 60 nodes
    in.options.max_nodes = 50;
    in.options.coarse_nodes = 30;   // a node every 21 samples, which carries 40 Hz but not 80 or 160
    in.start_wavelets = &wavelets.set;
    in.start_row = 0;
    const OptimalDrive drive = optimal_drive(in);
    EXPECT_EQ(drive.node_spacing, 21);
    EXPECT_EQ(drive.kept_wavelets, 2);
    EXPECT_EQ(drive.kept_from, 80.0f);
    ASSERT_TRUE(drive.meets);
    expect_within(c, drive.acceleration, c.bands[0]);
    DriveMotion start, motion;
    drive_motion(std::span<const float>(c.start), c.settings.dt, c.settings.units, start);
    drive_motion(std::span<const float>(drive.acceleration), c.settings.dt, c.settings.units, motion);
    EXPECT_NEAR(motion.velocity.back(), 0.0, 1e-5 * motion.peak_velocity);
    EXPECT_NEAR(motion.displacement.back(), 0.0, 1e-5 * motion.peak_displacement);
    EXPECT_LE(motion.peak_displacement, start.peak_displacement);
}

}  // namespace
}  // namespace quorel
