#pragma once
// The drive of least peak displacement (or velocity, or acceleration) that
// meets the specification, by linear programming.
//
// With the time and the sign at which each oscillator peaks held fixed,
// everything that matters is linear in the drive:
//  - the drive is linear between nodes every m samples (node_drive.hpp), zero
//    at both ends: the node values u are the unknowns;
//  - velocity and displacement on the nodes follow exactly from u by sparse
//    recurrences (scaled so that their coefficients are small integers):
//      p_n = p_(n-1) + u_(n-1) + u_n                     v = p h / 2
//      q_n = q_(n-1) + 3 p_(n-1) + 2 u_(n-1) + u_n        d = q h^2 / 6
//    (h = m dt), both zero at the last node: the drive ends at rest;
//  - the response of the oscillator at grid frequency f at sample t is a row:
//    the product's own SRS filter run over one node's hat function, shifted,
//    x_f(t) = sum_n r_f(t - (n - 1) m) u_n, exact to rounding;
//  - each polarity reaches its band's lower edge L_f at the time of that
//    polarity's peak in the starting drive: s x_f(t_s) >= L_f, s = +1, -1;
//  - |x_f(t)| <= U_f, the upper edge, at every sample: added as cutting planes
//    where the exact response of the current drive exceeds it (its largest
//    local maxima), the solve warm-started from the last basis;
//  - the shaker's limits bound u, v and d (between nodes by cutting planes on
//    the samples);
//  - objective: the minimised peak / its least possible value, plus a smaller
//    weight on each of the two others (raised while one ends above the
//    starting drive's), plus a penalty on one elastic variable that relaxes
//    every SRS row alike, so that a problem without a solution still yields
//    the closest drive.
// The drive is finally scaled by the least factor that brings every polarity
// to its lower edge (the SRS is linear in the drive) and checked, rounded to
// the floats it is stored as, by the product's SRS: every constraint holds
// exactly on the drive returned, or it is reported as not met with its
// violations.
//
// A round's drive that still exceeds some upper edge is blended with the best
// drive that meets every constraint (at first the starting drive scaled to its
// lower edges): the blend of largest weight that meets them, by bisection.
// On the largest runs the nodes are fewer and the top grid frequencies keep
// the starting drive's wavelets (OptimalOptions::max_nodes), and an iteration
// budget ends the search with the best drive so far.
//
// Cost: the rows of the response are dense, up to M = nt / m entries each,
// 2 per frequency plus the cuts; the sparse part is about 6 M rows.  Memory
// and solver time grow with frequencies x nodes.  Single-threaded and
// deterministic.
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/run_settings.hpp"
#include "optimal/least_peaks.hpp"
#include "optimal/node_drive.hpp"
#include "optimal/tolerance.hpp"
#include "feasibility/drive_limits.hpp"
#include "specification/srs_spec.hpp"
#include "srs/filter_bank.hpp"
#include "srs/srs.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

enum class MinimisedPeak { displacement, velocity, acceleration };

// "displacement", "velocity", "acceleration"
const char* minimised_peak_name(MinimisedPeak peak);

struct OptimalOptions {
    MinimisedPeak minimise = MinimisedPeak::displacement;
    // Weight of each of the two other peaks, against 1 for the minimised one
    // (each peak normalised by its least possible value); 0 leaves them out of
    // the objective.
    double other_weight = 0.1;
    // Raise the weight of another peak (threefold, up to `weight_raises`
    // times) while it ends above the starting drive's and the last raise
    // lowered it.
    int32_t weight_raises = 4;
    // Times the lower rows of some frequencies move to the drive's own peak times (while that
    // lowers the minimised peak by 0.5 %).
    int32_t anchorings = 3;
    // Frequencies moved each time: those whose lower rows have the largest
    // dual values; 0: an eighth of the grid, at least one.
    int32_t moved_frequencies = 0;
    int32_t node_spacing = 0;          // samples between nodes; 0: default_node_spacing
    // More nodes than `max_nodes` at the default spacing (when `start_wavelets`
    // is given): the nodes are spaced to give at most `coarse_nodes`, and the
    // grid frequencies too high for that spacing keep the starting drive's
    // wavelets; max_nodes 0: no such limit.  On the largest case (125
    // frequencies, 99 999 samples) 16 667 nodes took hours and 3000 failed in
    // their seventh round after 5 minutes; 1000 met every band in 4 rounds.
    int32_t max_nodes = 6000;
    int32_t coarse_nodes = 1000;
    int32_t max_rounds = 40;           // solves
    // Simplex iterations the search may take in all, per row and column of the
    // program first built (the first solve is never cut short): beyond them
    // the search ends with the best drive so far.  The examples take 0.3 to
    // 0.7; on the largest case a box-widening solve after the cuts took 20 000
    // iterations and minutes, and more followed.
    double iterations_per_size = 2.0;
    int32_t cuts_per_frequency = 40;   // upper SRS rows added per frequency and round, at most
};

// Once the program is built (round 0, the starting drive's peaks), then
// after each solve.
struct OptimalProgress {
    int32_t round = 0;
    PeakTriple peaks;              // of the round's drive before its final scaling
    double worst_excess_db = 0.0;  // the largest excess of a response over its upper edge, dB (0: none)
    int32_t rows = 0;
    int64_t iterations = 0;        // simplex iterations so far
    double seconds = 0.0;
};

struct OptimalInputs {
    const RunSettings& settings;
    const SrsSpec& spec;
    const SrsFilterBank& bank;
    std::span<const DbBand> bands;     // per grid frequency, each polarity
    DriveLimits limits;                // the shaker's, as given
    PeakTriple least;                  // the least peaks any drive needs: the objective's scales
    std::span<const float> start;      // nt samples: the drive whose peak times are held
    OptimalOptions options;
    const std::atomic<int>* stop = nullptr;   // a StopRequest's signal, or null
    std::function<void(const OptimalProgress&)> progress;
    // The starting drive's wavelets, row `start_row` of the set, or null (then
    // the nodes keep the default spacing, however many).
    const WaveletSet* start_wavelets = nullptr;
    int32_t start_row = -1;
};

// A polarity outside its band.
struct SrsViolation {
    int32_t index = 0;       // grid index
    float freq = 0.0f;       // Hz
    bool positive = true;
    double margin_db = 0.0;  // 20 log10(peak / spec)
    DbBand band;
};

struct OptimalDrive {
    bool meets = false;                  // every constraint holds on `acceleration`
    std::vector<float> acceleration;     // nt samples, the run's acceleration unit
    DriveMotion motion;                  // of `acceleration`, reporting units
    SrsResult srs;                       // of `acceleration`, by the product's SRS
    std::vector<SrsViolation> violations;   // when it does not meet them: the polarities outside
    LimitRatios limit_ratios;            // peak / limit, each limit given
    PeakTriple start_peaks;              // the starting drive's, measured as the drive's
    // The solver's figures.
    int32_t rounds = 0;
    // The round whose solve failed (the solver gave up), 0 when none did:
    // the drive is then the best of the rounds before it.
    int32_t failed_round = 0;
    // The round at which the search reached its iteration budget (the drive
    // is the best found before it), 0 when it did not.
    int32_t limit_round = 0;
    int32_t rows = 0, columns = 0;
    int64_t nonzeros = 0, iterations = 0;
    int32_t node_spacing = 0, nodes = 0;
    // Grid frequencies whose starting wavelets the drive keeps on top of its
    // nodes (the highest ones, above what the nodes carry; the program does
    // not weigh them, only the final scaling scales them), and the lowest of
    // them, Hz; 0 when the drive is linear between its nodes.
    int32_t kept_wavelets = 0;
    float kept_from = 0.0f;
    PeakTriple weights;                  // of the objective, in the end
    double solve_seconds = 0.0, seconds = 0.0;
};

// Throws QuorelError (interrupted_message) when stopped, and for a solver failure.
OptimalDrive optimal_drive(const OptimalInputs& inputs);

// Every polarity of `srs` (positive and negative peaks, in order of the grid)
// against its band, judged as the acceptance rules judge a point.
std::vector<SrsViolation> srs_violations(const SrsSpec& spec, std::span<const DbBand> bands, const SrsResult& srs);

// "   62.996 Hz positive  -2.134 dB (band -1.5/+3 dB) \n" per violation.
std::string violation_lines(const std::vector<SrsViolation>& violations);

}  // namespace quorel
