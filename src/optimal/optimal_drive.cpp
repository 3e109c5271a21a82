#include "optimal/optimal_drive.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <utility>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/stop_request.hpp"
#include "optimal/linear_program.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace quorel {

namespace {

// The linear program holds its SRS rows and caps this far (relative) inside
// the band edges and limits, so that the drive checked after rounding to
// floats keeps to them.
constexpr double edge_margin = 2e-5;
// A response above the program's upper edge by more than this (relative)
// gets a cut; smaller excesses are the solver's tolerance, which the final
// scaling absorbs.
constexpr double cut_slack = 1e-6;
// The elastic variable above this: the rows cannot all be met.
constexpr double elastic_tolerance = 1e-7;
// The factor above the lower edge the final scaling aims at.
constexpr double scale_margin = 1e-5;
// Bisection steps of a blend's weight.
constexpr int32_t blend_steps = 10;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double db(double ratio) { return 20.0 * std::log10(ratio); }

// Frequency j's response to a unit hat from sample 0 to 2m (1 at m), as long
// as the window of any node needs it, cut where it has decayed below 1e-15 of
// its peak for good (the envelope of a damped free vibration only falls).
std::vector<double> hat_response(const SrsFilterBank& bank, int32_t j, int32_t m, int64_t length,
                                 std::vector<double>& buffer) {
    std::vector<double> hat(static_cast<size_t>(2 * m + 1));
    for (int32_t i = 0; i <= 2 * m; ++i) hat[static_cast<size_t>(i)] = 1.0 - std::fabs(static_cast<double>(i - m)) / m;
    buffer.resize(static_cast<size_t>(length));
    srs_response(bank, j, hat.data(), static_cast<int64_t>(hat.size()), length, buffer.data());
    double peak = 0.0;
    for (int64_t k = 0; k < length; ++k) peak = std::max(peak, std::fabs(buffer[static_cast<size_t>(k)]));
    int64_t end = length;
    while (end > 2 * m + 1 && std::fabs(buffer[static_cast<size_t>(end - 1)]) <= 1e-15 * peak) --end;
    return std::vector<double>(buffer.begin(), buffer.begin() + end);
}

struct Caps {
    double acceleration = lp_infinity, velocity = lp_infinity, displacement = lp_infinity;   // reporting units
};

Caps limit_caps(const DriveLimits& limits, UnitSystem units) {
    Caps caps;
    if (limits.acceleration) caps.acceleration = *limits.acceleration;
    if (limits.force && limits.moving_mass) {
        caps.acceleration = std::min(caps.acceleration, static_cast<double>(*limits.force) /
                                                            (static_cast<double>(*limits.moving_mass) * unit_table(units).force_per_mass));
    }
    if (limits.velocity) caps.velocity = *limits.velocity;
    if (limits.displacement) caps.displacement = *limits.displacement;
    return caps;
}

// Every column gets finite bounds: a free column makes the dual simplex work
// with artificial bounds, which measured to stall it for minutes.  Where no
// limit is given, a box this many times the starting drive's peak, widened
// when the solution reaches it.
constexpr double box_factor = 4.0;

enum class Motion { acceleration, velocity, displacement };

// The program over the node values.  The drive is the nodes' piecewise-linear
// acceleration plus a fixed part (`fixed`, nt samples, or empty for none):
// every quantity is linear in the drive, so the fixed part's share of each
// row (its response, its motion) moves to the row's bounds.
class DriveProgram {
public:
    DriveProgram(const OptimalInputs& in, const NodeGrid& grid, const PeakTriple& start_peaks,
                 std::span<const double> fixed)
        : in_(in), m_(grid.spacing), M_(grid.nodes), fixed_(fixed) {
        const double h = m_ * static_cast<double>(in.settings.dt);
        const UnitTable& factors = unit_table(in.settings.units);
        velocity_unit_ = factors.velocity_factor * h / 2.0;
        displacement_unit_ = factors.displacement_factor * h * h / 6.0;
        if (!fixed_.empty()) drive_motion(fixed_, static_cast<double>(in.settings.dt), in.settings.units, fixed_motion_);
        hard_ = limit_caps(in.limits, in.settings.units);
        box_ = {std::min(hard_.acceleration, box_factor * start_peaks.acceleration),
                std::min(hard_.velocity, box_factor * start_peaks.velocity),
                std::min(hard_.displacement, box_factor * start_peaks.displacement)};
        build(start_peaks);
    }

    LinearProgram& program() { return lp_; }
    double elastic_value() const { return lp_.solution()[static_cast<size_t>(elastic_)]; }

    // Node values of the last solve (M, zero at both ends).
    void nodes(std::vector<double>& u) const {
        const std::span<const double> x = lp_.solution();
        u.assign(static_cast<size_t>(M_), 0.0);
        for (int32_t n = 1; n <= M_ - 2; ++n) u[static_cast<size_t>(n)] = x[static_cast<size_t>(column_u(n))];
    }

    const Caps& limits() const { return hard_; }

    // Widens each box the last solution reached that is not a limit; false when none was reached.
    bool widen_reached_boxes() {
        const std::span<const double> x = lp_.solution();
        double a = 0.0, v = 0.0, d = 0.0;
        for (int32_t n = 1; n <= M_ - 2; ++n) {
            a = std::max(a, std::fabs(x[static_cast<size_t>(column_u(n))]));
            v = std::max(v, std::fabs(x[static_cast<size_t>(column_p(n))]) * velocity_unit_);
            d = std::max(d, std::fabs(x[static_cast<size_t>(column_q(n))]) * displacement_unit_);
        }
        bool widened = false;
        auto widen = [&](double reached, double& box, double hard) {
            if (box < hard && reached >= box * (1.0 - 1e-6)) {
                box = std::min(hard, box * box_factor);
                widened = true;
            }
        };
        widen(a, box_.acceleration, hard_.acceleration);
        widen(v, box_.velocity, hard_.velocity);
        widen(d, box_.displacement, hard_.displacement);
        if (widened) set_bounds();
        return widened;
    }

    double weight(MinimisedPeak peak) const { return weights_[static_cast<size_t>(peak)]; }
    void set_weight(MinimisedPeak peak, double weight) {
        weights_[static_cast<size_t>(peak)] = weight;
        const int32_t column = peak_columns_[static_cast<size_t>(peak)];
        if (column >= 0) lp_.set_cost(column, cost(peak));
    }

    // s x_j(t) >= L (lower) or <= U (upper), scaled by the edge.  Returns its nonzeros.
    int64_t add_response_row(int32_t j, int64_t t, double sign, double edge, bool lower) {
        const std::vector<double>& r = hats_[static_cast<size_t>(j)];
        columns_.clear();
        values_.clear();
        const int64_t last = std::min<int64_t>(M_ - 2, t / m_ + 1);
        for (int64_t n = 1; n <= last; ++n) {
            const int64_t k = t - (n - 1) * m_;
            if (k >= static_cast<int64_t>(r.size())) continue;
            columns_.push_back(column_u(static_cast<int32_t>(n)));
            values_.push_back(sign * r[static_cast<size_t>(k)] / edge);
        }
        columns_.push_back(elastic_);
        values_.push_back(lower ? 1.0 : -1.0);
        const double rest = 1.0 - sign * fixed_response(j, t) / edge;
        if (lower) {
            lp_.add_row(rest, lp_infinity, columns_, values_);
        } else {
            lp_.add_row(-lp_infinity, rest, columns_, values_);
        }
        return static_cast<int64_t>(columns_.size());
    }

    // Holds frequency j's positive polarity at its lower edge at sample `high`, the negative at `low`, in
    // place of any earlier times.  Returns whether either time moved.
    bool anchor(int32_t j, int64_t high, int64_t low) {
        bool moved = false;
        const int64_t times[2] = {high, low};
        for (size_t s = 0; s < 2; ++s) {
            const size_t i = 2 * static_cast<size_t>(j) + s;
            if (anchors_[i] == times[s]) continue;
            if (lower_rows_[i] >= 0) lp_.set_row_bounds(lower_rows_[i], -lp_infinity, lp_infinity);
            lower_rows_[i] = lp_.row_count();
            anchors_[i] = times[s];
            add_response_row(j, times[s], s == 0 ? 1.0 : -1.0, lower(j) * (1.0 + edge_margin), true);
            moved = true;
        }
        return moved;
    }

    // The larger |dual value| of frequency j's two lower rows in the last solution: what holding that
    // frequency where it is costs the objective.
    double lower_dual(int32_t j) const {
        const std::span<const double> duals = lp_.row_duals();
        double d = 0.0;
        for (size_t s = 0; s < 2; ++s) {
            const int32_t row = lower_rows_[2 * static_cast<size_t>(j) + s];
            if (row >= 0 && static_cast<size_t>(row) < duals.size()) d = std::max(d, std::fabs(duals[static_cast<size_t>(row)]));
        }
        return d;
    }

    // Nonzeros of upper rows a round may add: as many as the lower rows hold, at least a hundred full rows.
    int64_t cut_budget() const { return std::max<int64_t>(lower_nonzeros_, 100 * static_cast<int64_t>(M_)); }

    // |a|, |v| or |d| at sample s, between two nodes, within its limit.
    void add_motion_row(int64_t s, Motion motion) {
        const int32_t n = static_cast<int32_t>(s / m_);
        const double sigma = static_cast<double>(s - static_cast<int64_t>(n) * m_) / m_;
        columns_.clear();
        values_.clear();
        auto put = [&](int32_t column, double value) {
            if (column >= 0) {
                columns_.push_back(column);
                values_.push_back(value);
            }
        };
        double cap = 0.0;
        if (motion == Motion::displacement) {
            put(column_q(n), 1.0);
            put(column_p(n), 3.0 * sigma);
            put(column_u(n), 3.0 * sigma * sigma - sigma * sigma * sigma);
            put(column_u(n + 1), sigma * sigma * sigma);
            cap = hard_.displacement / displacement_unit_;
        } else if (motion == Motion::velocity) {
            put(column_p(n), 1.0);
            put(column_u(n), 2.0 * sigma - sigma * sigma);
            put(column_u(n + 1), sigma * sigma);
            cap = hard_.velocity / velocity_unit_;
        } else {
            put(column_u(n), 1.0 - sigma);
            put(column_u(n + 1), sigma);
            cap = hard_.acceleration;
        }
        cap *= 1.0 - edge_margin;
        const double offset = fixed_motion(motion, s);
        lp_.add_row(-cap - offset, cap - offset, columns_, values_);
    }

    double lower(int32_t j) const { return lower_[static_cast<size_t>(j)]; }
    double upper(int32_t j) const { return upper_[static_cast<size_t>(j)]; }
    // The program's own upper edge.
    double program_upper(int32_t j) const { return upper(j) * (1.0 - edge_margin); }

private:
    // Column of node n's value, velocity and displacement; -1 where fixed at 0.
    int32_t column_u(int32_t n) const { return n >= 1 && n <= M_ - 2 ? n - 1 : -1; }
    int32_t column_p(int32_t n) const { return n >= 1 && n <= M_ - 1 ? (M_ - 2) + n - 1 : -1; }
    int32_t column_q(int32_t n) const { return n >= 1 && n <= M_ - 1 ? (M_ - 2) + (M_ - 1) + n - 1 : -1; }

    // The fixed part's share at sample s, in the unit of the node columns (u, p or q).
    double fixed_motion(Motion motion, int64_t s) const {
        if (fixed_.empty() || s < 0 || s >= static_cast<int64_t>(fixed_.size())) return 0.0;
        const size_t k = static_cast<size_t>(s);
        switch (motion) {
            case Motion::velocity: return fixed_motion_.velocity[k] / velocity_unit_;
            case Motion::displacement: return fixed_motion_.displacement[k] / displacement_unit_;
            default: return fixed_[k];
        }
    }
    // Frequency j's response to the fixed part at sample t.
    double fixed_response(int32_t j, int64_t t) const {
        if (fixed_responses_.empty()) return 0.0;
        const std::vector<double>& x = fixed_responses_[static_cast<size_t>(j)];
        return t >= 0 && t < static_cast<int64_t>(x.size()) ? x[static_cast<size_t>(t)] : 0.0;
    }

    // A limit is held a margin inside; a box is not a limit.
    static double bound(double box, double hard) { return box < hard ? box : hard * (1.0 - edge_margin); }

    // A node column's bounds, in its unit: the box, and the limit less the fixed part's share there.
    void set_node_bounds(int32_t column, double box, double hard, double unit, double offset) {
        if (fixed_.empty()) {
            const double b = bound(box, hard) / unit;
            lp_.set_column_bounds(column, -b, b);
            return;
        }
        double low = -lp_infinity, high = lp_infinity;
        if (hard < lp_infinity) {
            const double cap = hard * (1.0 - edge_margin) / unit;
            low = -cap - offset;
            high = cap - offset;
        }
        if (box < hard) {
            low = std::max(low, -box / unit);
            high = std::min(high, box / unit);
        }
        // The fixed part alone beyond a limit: the nearest value, and the drive is reported as not meeting it.
        if (low > high) low = high = (low + high) / 2.0;
        lp_.set_column_bounds(column, low, high);
    }

    void set_bounds() {
        const double a = bound(box_.acceleration, hard_.acceleration);
        const double v = bound(box_.velocity, hard_.velocity) / velocity_unit_;
        const double d = bound(box_.displacement, hard_.displacement) / displacement_unit_;
        for (int32_t n = 1; n <= M_ - 2; ++n) {
            const int64_t s = static_cast<int64_t>(n) * m_;
            set_node_bounds(column_u(n), box_.acceleration, hard_.acceleration, 1.0, fixed_motion(Motion::acceleration, s));
            set_node_bounds(column_p(n), box_.velocity, hard_.velocity, velocity_unit_, fixed_motion(Motion::velocity, s));
            set_node_bounds(column_q(n), box_.displacement, hard_.displacement, displacement_unit_,
                            fixed_motion(Motion::displacement, s));
        }
        const double peak_bounds[3] = {d, v, a};
        for (size_t i = 0; i < 3; ++i) {
            if (peak_columns_[i] >= 0) lp_.set_column_bounds(peak_columns_[i], 0.0, peak_bounds[i]);
        }
    }

    // The objective's coefficient of a peak's column: weight / least, in the column's unit.
    double cost(MinimisedPeak peak) const {
        const PeakTriple& least = in_.least;
        switch (peak) {
            case MinimisedPeak::acceleration: return weight(peak) / least.acceleration;
            case MinimisedPeak::velocity: return weight(peak) * velocity_unit_ / least.velocity;
            default: return weight(peak) * displacement_unit_ / least.displacement;
        }
    }

    void build(const PeakTriple& start_peaks) {
        const OptimalOptions& options = in_.options;
        const SrsFilterBank& bank = in_.bank;
        const int32_t F = in_.spec.count;
        const int64_t nt = in_.settings.nt;

        // Columns: u_1..u_(M-2), p_1..p_(M-1), q_1..q_(M-1) (the last of each fixed at 0: the drive ends at
        // rest), the peaks in the objective, the elastic variable.
        for (int32_t n = 1; n <= M_ - 2; ++n) lp_.add_column(0.0, 0.0, 0.0);
        for (int32_t k = 0; k < 2; ++k) {
            for (int32_t n = 1; n <= M_ - 1; ++n) lp_.add_column(0.0, 0.0, 0.0);
        }
        for (const MinimisedPeak peak : {MinimisedPeak::displacement, MinimisedPeak::velocity, MinimisedPeak::acceleration}) {
            const size_t i = static_cast<size_t>(peak);
            weights_[i] = peak == options.minimise ? 1.0 : options.other_weight;
            if (weights_[i] > 0.0) peak_columns_[i] = lp_.add_column(0.0, 0.0, cost(peak));
        }
        // Relaxing every SRS row by a fraction e of its edge lets the drive shrink by that fraction: the
        // objective falls by at most its own value times e, so a penalty well above the starting drive's
        // objective (with the weights at their highest) keeps e at 0 whenever the rows can be met.
        const double top_weight =
            std::max(1.0, options.other_weight * std::pow(3.0, std::max(options.weight_raises, 0)));
        const double start_objective = top_weight * (start_peaks.acceleration / in_.least.acceleration +
                                                     start_peaks.velocity / in_.least.velocity +
                                                     start_peaks.displacement / in_.least.displacement);
        elastic_ = lp_.add_column(0.0, 1.0, 100.0 * (1.0 + start_objective));
        set_bounds();
        if (!fixed_.empty()) {
            // At rest at the last sample: the nodes' velocity, constant after the last node, and their
            // displacement there (q grows by 3 p per node spacing) cancel the fixed part's.
            const int64_t last = nt - 1;
            const double extra = static_cast<double>(last - static_cast<int64_t>(M_ - 1) * m_) / m_;
            const double p_end = -fixed_motion(Motion::velocity, last);
            const double q_end = -fixed_motion(Motion::displacement, last) - 3.0 * p_end * extra;
            lp_.set_column_bounds(column_p(M_ - 1), p_end, p_end);
            lp_.set_column_bounds(column_q(M_ - 1), q_end, q_end);
            std::vector<double> x;
            fixed_responses_.resize(static_cast<size_t>(F));
            for (int32_t j = 0; j < F; ++j) {
                x.resize(static_cast<size_t>(srs_window(bank, j, nt)));
                srs_response(bank, j, fixed_.data(), nt, static_cast<int64_t>(x.size()), x.data());
                fixed_responses_[static_cast<size_t>(j)] = x;
            }
        }

        // The recurrences of velocity and displacement.
        auto put = [&](int32_t column, double value) {
            if (column >= 0) {
                columns_.push_back(column);
                values_.push_back(value);
            }
        };
        for (int32_t n = 1; n <= M_ - 1; ++n) {
            columns_.clear();
            values_.clear();
            put(column_u(n - 1), -1.0);
            put(column_u(n), -1.0);
            put(column_p(n - 1), -1.0);
            put(column_p(n), 1.0);
            lp_.add_row(0.0, 0.0, columns_, values_);
            columns_.clear();
            values_.clear();
            put(column_u(n - 1), -2.0);
            put(column_u(n), -1.0);
            put(column_p(n - 1), -3.0);
            put(column_q(n - 1), -1.0);
            put(column_q(n), 1.0);
            lp_.add_row(0.0, 0.0, columns_, values_);
        }
        // -P <= x_n <= P for each peak in the objective.
        auto peak_rows = [&](MinimisedPeak peak, int32_t (DriveProgram::*column)(int32_t) const, Motion motion) {
            const int32_t p = peak_columns_[static_cast<size_t>(peak)];
            if (p < 0) return;
            for (int32_t n = 1; n <= M_ - 2; ++n) {
                const int32_t c[2] = {(this->*column)(n), p};
                const double below[2] = {1.0, -1.0};
                const double above[2] = {1.0, 1.0};
                const double offset = fixed_motion(motion, static_cast<int64_t>(n) * m_);
                lp_.add_row(-lp_infinity, -offset, c, below);
                lp_.add_row(-offset, lp_infinity, c, above);
            }
        };
        peak_rows(MinimisedPeak::acceleration, &DriveProgram::column_u, Motion::acceleration);
        peak_rows(MinimisedPeak::velocity, &DriveProgram::column_p, Motion::velocity);
        peak_rows(MinimisedPeak::displacement, &DriveProgram::column_q, Motion::displacement);

        const int64_t sparse_nonzeros = lp_.nonzero_count();
        // Hat responses; the lower rows at the peak times of the starting drive.
        std::vector<double> buffer, start(in_.start.begin(), in_.start.end());
        hats_.resize(static_cast<size_t>(F));
        lower_rows_.assign(2 * static_cast<size_t>(F), -1);
        anchors_.assign(2 * static_cast<size_t>(F), -1);
        lower_.resize(static_cast<size_t>(F));
        upper_.resize(static_cast<size_t>(F));
        for (int32_t j = 0; j < F; ++j) {
            const size_t i = static_cast<size_t>(j);
            hats_[i] = hat_response(bank, j, m_, srs_window(bank, j, nt), buffer);
            const double spec = in_.spec.accel[i];
            lower_[i] = spec * std::pow(10.0, in_.bands[i].low_db / 20.0);
            upper_[i] = spec * std::pow(10.0, in_.bands[i].high_db / 20.0);
        }
        for (int32_t j = 0; j < F; ++j) {
            const int64_t window = srs_window(bank, j, nt);
            buffer.resize(static_cast<size_t>(window));
            srs_response(bank, j, start.data(), nt, window, buffer.data());
            anchor(j, std::max_element(buffer.begin(), buffer.end()) - buffer.begin(),
                   std::min_element(buffer.begin(), buffer.end()) - buffer.begin());
        }
        lower_nonzeros_ = lp_.nonzero_count() - sparse_nonzeros;
    }

    const OptimalInputs& in_;
    int32_t m_, M_;
    std::span<const double> fixed_;
    DriveMotion fixed_motion_;
    std::vector<std::vector<double>> fixed_responses_;   // per frequency, over its window
    double velocity_unit_ = 1.0, displacement_unit_ = 1.0;
    Caps hard_, box_;
    // Indexed by MinimisedPeak.
    double weights_[3] = {0.0, 0.0, 0.0};
    int32_t peak_columns_[3] = {-1, -1, -1};
    int32_t elastic_ = -1;
    LinearProgram lp_;
    std::vector<std::vector<double>> hats_;
    std::vector<double> lower_, upper_;
    // Per frequency and polarity (2 j, 2 j + 1): the lower row in force and its sample.
    std::vector<int32_t> lower_rows_;
    std::vector<int64_t> anchors_;
    int64_t lower_nonzeros_ = 0;
    std::vector<int32_t> columns_;
    std::vector<double> values_;
};

// Local maxima of |x| above `level`, largest first, at most `count`, each as
// (sample, sign) not yet in `taken`.
void excess_peaks(std::span<const double> x, double level, size_t count, const std::set<int64_t>& taken,
                  std::vector<std::pair<double, int64_t>>& found) {
    found.clear();
    const size_t n = x.size();
    for (size_t k = 0; k < n; ++k) {
        const double a = std::fabs(x[k]);
        if (!(a > level)) continue;
        if (k > 0 && std::fabs(x[k - 1]) > a) continue;
        if (k + 1 < n && std::fabs(x[k + 1]) > a) continue;
        const int64_t key = static_cast<int64_t>(k) * 2 + (x[k] < 0.0 ? 1 : 0);
        if (taken.count(key) != 0) continue;
        found.emplace_back(a, key);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.first > b.first || (a.first == b.first && a.second < b.second);
    });
    if (found.size() > count) found.resize(count);
}

}  // namespace

const char* minimised_peak_name(MinimisedPeak peak) {
    switch (peak) {
        case MinimisedPeak::velocity: return "velocity";
        case MinimisedPeak::acceleration: return "acceleration";
        default: return "displacement";
    }
}

std::vector<SrsViolation> srs_violations(const SrsSpec& spec, std::span<const DbBand> bands, const SrsResult& srs) {
    std::vector<SrsViolation> violations;
    for (int32_t j = 0; j < spec.count; ++j) {
        const size_t i = static_cast<size_t>(j);
        const ToleranceBand band{bands[i].low_db, bands[i].high_db};
        for (const bool positive : {true, false}) {
            const double peak = positive ? srs.xmax[i] : srs.xmin[i];
            const double margin = margin_db(peak, spec.accel[i]);
            if (!inside(band, margin)) violations.push_back({j, spec.freq[i], positive, margin, bands[i]});
        }
    }
    return violations;
}

std::string violation_lines(const std::vector<SrsViolation>& violations) {
    std::string text;
    for (const SrsViolation& v : violations) {
        text += format("   %10.3f Hz %s %8.3f dB (band %+g/%+g dB) \n", static_cast<double>(v.freq),
                       v.positive ? "positive" : "negative", v.margin_db, v.band.low_db, v.band.high_db);
    }
    return text;
}

OptimalDrive optimal_drive(const OptimalInputs& in) {
    const auto started = Clock::now();
    const RunSettings& settings = in.settings;
    const SrsFilterBank& bank = in.bank;
    const int32_t F = in.spec.count;
    const int32_t nt = settings.nt;
    const double dt = settings.dt;
    if (static_cast<int32_t>(in.start.size()) != nt || static_cast<int32_t>(in.bands.size()) != F) {
        throw QuorelError("\n Error: the optimal drive's inputs do not match the run \n");
    }
    int32_t spacing = in.options.node_spacing > 0
                          ? in.options.node_spacing
                          : default_node_spacing(settings.sample_rate, in.spec.freq[static_cast<size_t>(F - 1)]);
    OptimalDrive result;
    // Too many nodes for the solver: nodes spaced for at most max_nodes, and the grid frequencies above what
    // they carry (2.5 nodes a period) keep the starting drive's wavelets, summed as its files hold them.  A
    // high-frequency wavelet barely moves a low oscillator, and the program still holds every frequency's
    // rows, the fixed part's share moved to their bounds.
    std::vector<double> fixed;
    const int32_t max_nodes = in.options.max_nodes;
    const int32_t coarse_nodes = std::max(3, in.options.coarse_nodes);
    if (in.options.node_spacing <= 0 && max_nodes > 0 && in.start_wavelets != nullptr &&
        node_grid(nt, spacing).nodes > max_nodes) {
        spacing = std::max(spacing, (nt - 1 + coarse_nodes - 2) / (coarse_nodes - 1));
        for (int32_t j = 0; j < F; ++j) {
            const float f = in.spec.freq[static_cast<size_t>(j)];
            if (default_node_spacing(settings.sample_rate, f) >= spacing) continue;
            if (fixed.empty()) {
                fixed.assign(static_cast<size_t>(nt), 0.0);
                result.kept_from = f;
            }
            add_file_wavelet(*in.start_wavelets, in.start_row, in.spec, settings, j, fixed.data());
            ++result.kept_wavelets;
        }
    }
    const NodeGrid grid = node_grid(nt, spacing);
    result.node_spacing = grid.spacing;
    result.nodes = grid.nodes;
    DriveMotion motion;
    drive_motion(in.start, dt, settings.units, motion);
    const PeakTriple start_peaks{motion.peak_acceleration, motion.peak_velocity, motion.peak_displacement};
    result.start_peaks = start_peaks;

    check_stop(in.stop);
    DriveProgram program(in, grid, start_peaks, fixed);
    LinearProgram& lp = program.program();
    const int64_t iteration_budget =
        static_cast<int64_t>(in.options.iterations_per_size * (lp.row_count() + lp.column_count()));
    const Caps& limits = program.limits();

    std::vector<double> u, a(static_cast<size_t>(nt)), x;
    int64_t longest = 0;
    for (int32_t j = 0; j < F; ++j) longest = std::max(longest, srs_window(bank, j, nt));
    x.resize(static_cast<size_t>(longest));
    std::vector<std::set<int64_t>> taken(static_cast<size_t>(F));
    std::set<int64_t> taken_acceleration, taken_velocity, taken_displacement;
    std::vector<std::pair<double, int64_t>> found;
    struct Cut {
        double excess;       // response / the program's upper edge
        int32_t frequency;
        int64_t key;         // sample x 2 + (1 for the negative polarity)
    };
    std::vector<Cut> cuts;
    std::vector<float> drive(static_cast<size_t>(nt));
    OptimalDrive candidate;
    std::vector<int64_t> peak_times(2 * static_cast<size_t>(F));   // of each polarity, in the last drive
    struct Standing {
        bool meets = false, others_below = false;
        double minimised = lp_infinity;
        PeakTriple peaks;
        bool better_than(const Standing& other) const {
            if (meets != other.meets) return meets;
            if (others_below != other.others_below) return others_below;
            return minimised < other.minimised;
        }
    };
    Standing best;
    bool kept = false;
    const MinimisedPeak minimised = in.options.minimise;
    auto minimised_value = [&](const PeakTriple& p) {
        return minimised == MinimisedPeak::acceleration ? p.acceleration
               : minimised == MinimisedPeak::velocity   ? p.velocity
                                                        : p.displacement;
    };
    // The other peaks in the objective no higher than the starting drive's.
    auto others_below = [&](const PeakTriple& p) {
        auto below = [&](MinimisedPeak peak, double value, double start) {
            return peak == minimised || program.weight(peak) <= 0.0 || value <= start;
        };
        return below(MinimisedPeak::acceleration, p.acceleration, start_peaks.acceleration) &&
               below(MinimisedPeak::velocity, p.velocity, start_peaks.velocity) &&
               below(MinimisedPeak::displacement, p.displacement, start_peaks.displacement);
    };
    // `samples` scaled by `scale` and rounded to the floats it is stored as, checked by the product's SRS
    // (into `candidate`), and kept when it is the best so far: one that meets every constraint before one
    // that does not, then one whose other peaks are no higher than the starting drive's, then the lower
    // minimised peak.
    auto check_drive = [&](std::span<const double> samples, double scale, bool fits) {
        for (int32_t k = 0; k < nt; ++k) drive[static_cast<size_t>(k)] = static_cast<float>(samples[static_cast<size_t>(k)] * scale);
        compute_srs(bank, drive.data(), nt, candidate.srs);
        candidate.violations = srs_violations(in.spec, in.bands, candidate.srs);
        drive_motion(std::span<const float>(drive), dt, settings.units, candidate.motion);
        candidate.limit_ratios = limit_ratios(in.limits, settings.units, candidate.motion.peak_acceleration,
                                              candidate.motion.peak_velocity, candidate.motion.peak_displacement);
        candidate.meets = fits && candidate.violations.empty() && candidate.limit_ratios.within();
        const PeakTriple peaks{candidate.motion.peak_acceleration, candidate.motion.peak_velocity,
                               candidate.motion.peak_displacement};
        const Standing standing{candidate.meets, others_below(peaks), minimised_value(peaks), peaks};
        if (!kept || standing.better_than(best)) {
            kept = true;
            best = standing;
            std::swap(result.srs, candidate.srs);
            std::swap(result.violations, candidate.violations);
            std::swap(result.motion, candidate.motion);
            result.limit_ratios = candidate.limit_ratios;
            result.meets = candidate.meets;
            result.acceleration.assign(drive.begin(), drive.end());
        }
        return standing;
    };
    // The same, scaled by the least factor that brings every polarity to its lower edge (by the SRS of the
    // samples as floats; the margin covers the rounding), when that keeps every upper edge.
    SrsResult unscaled;
    auto check_scaled = [&](std::span<const double> samples) {
        for (int32_t k = 0; k < nt; ++k) drive[static_cast<size_t>(k)] = static_cast<float>(samples[static_cast<size_t>(k)]);
        compute_srs(bank, drive.data(), nt, unscaled);
        double lower_scale = 0.0, upper_scale = lp_infinity;
        for (int32_t j = 0; j < F; ++j) {
            const size_t i = static_cast<size_t>(j);
            const double high = unscaled.xmax[i], low = unscaled.xmin[i];
            const double weaker = std::min(high, low), stronger = std::max(high, low);
            lower_scale = std::max(lower_scale, weaker > 0.0 ? program.lower(j) / weaker : lp_infinity);
            upper_scale = std::min(upper_scale, stronger > 0.0 ? program.upper(j) / stronger : lp_infinity);
        }
        const double scale = lower_scale * (1.0 + 4.0 * scale_margin);
        if (!(scale < lp_infinity)) return Standing{};
        return check_drive(samples, scale, scale * (1.0 + scale_margin) <= upper_scale);
    };
    std::vector<double> feasible(static_cast<size_t>(nt)), mix(static_cast<size_t>(nt));
    auto blend_with_best = [&](std::span<const double> samples) {
        for (int32_t k = 0; k < nt; ++k) feasible[static_cast<size_t>(k)] = result.acceleration[static_cast<size_t>(k)];
        double meeting = 0.0, failing = 1.0;
        for (int32_t step = 0; step < blend_steps; ++step) {
            const double w = 0.5 * (meeting + failing);
            for (int32_t k = 0; k < nt; ++k) {
                const size_t i = static_cast<size_t>(k);
                mix[i] = (1.0 - w) * feasible[i] + w * samples[i];
            }
            if (check_scaled(mix).meets) {
                meeting = w;
            } else {
                failing = w;
            }
        }
    };
    // The starting drive, scaled to the lower edges, is the first drive that may meet them all.
    {
        std::vector<double> samples(in.start.begin(), in.start.end());
        check_scaled(samples);
        if (!best.meets) {
            kept = false;
            best = Standing{};
        }
    }
    int32_t anchorings = 0;
    std::vector<std::pair<double, int32_t>> worth;   // (-dual value, frequency) of the lower rows
    worth.reserve(static_cast<size_t>(F));
    double anchored = lp_infinity;
    // Per peak (indexed by MinimisedPeak): the raises of its weight, and its value when last raised.
    int32_t raises[3] = {0, 0, 0};
    double raised_from[3] = {lp_infinity, lp_infinity, lp_infinity};
    if (in.progress) in.progress({0, start_peaks, 0.0, lp.row_count(), 0, seconds_since(started)});

    for (int32_t round = 1; round <= in.options.max_rounds; ++round) {
        const auto solve_started = Clock::now();
        // Once a drive is kept, the search may take so many simplex iterations in all; then it ends with the
        // best drive so far.
        const bool budgeted = kept && round > 1;
        if (budgeted && lp.iterations() >= iteration_budget) {
            result.limit_round = round;
            break;
        }
        const LpStatus status = lp.solve(in.stop, budgeted ? iteration_budget - lp.iterations() : 0);
        result.solve_seconds += seconds_since(solve_started);
        result.rounds = round;
        if (status == LpStatus::stopped) throw QuorelError(interrupted_message);
        if (status == LpStatus::limit) {
            result.limit_round = round;
            break;
        }
        // A later round that fails (on the largest programs the simplex may give up after cuts, or call the
        // program infeasible, which its elastic variable rules out but for rounding) ends the search with
        // the best drive so far, each of them checked by the exact SRS.
        if ((status == LpStatus::failed || status == LpStatus::infeasible) && kept) {
            result.failed_round = round;
            break;
        }
        if (status != LpStatus::optimal) {
            throw QuorelError(format("\n Error: the linear program of the optimal drive failed in round %ld (%s) \n",
                                     static_cast<long>(round),
                                     status == LpStatus::infeasible ? "no solution" : "the solver gave up"));
        }
        // The rows cannot all be met: the drive is the closest, every SRS row relaxed by the same fraction
        // (within the boxes, which then stay as they are).
        const double relaxed = program.elastic_value();
        const bool elastic = relaxed > elastic_tolerance;
        if (!elastic && program.widen_reached_boxes()) continue;
        program.nodes(u);
        drive_samples(grid, u, a);
        for (size_t k = 0; k < fixed.size(); ++k) a[k] += fixed[k];

        // The exact responses: their peaks, and cuts where they exceed the upper edge.
        double lower_scale = 0.0;
        double upper_scale = lp_infinity;
        double worst = 0.0;
        int32_t added = 0;
        for (int32_t j = 0; j < F; ++j) {
            const size_t i = static_cast<size_t>(j);
            const int64_t window = srs_window(bank, j, nt);
            srs_response(bank, j, a.data(), nt, window, x.data());
            const std::span<const double> response(x.data(), static_cast<size_t>(window));
            const auto highest = std::max_element(response.begin(), response.end());
            const auto lowest = std::min_element(response.begin(), response.end());
            peak_times[2 * i] = highest - response.begin();
            peak_times[2 * i + 1] = lowest - response.begin();
            const double high = std::max(0.0, *highest);
            const double low = std::max(0.0, -*lowest);
            const double weaker = std::min(high, low);
            const double stronger = std::max(high, low);
            lower_scale = std::max(lower_scale, weaker > 0.0 ? program.lower(j) / weaker : lp_infinity);
            upper_scale = std::min(upper_scale, stronger > 0.0 ? program.upper(j) / stronger : lp_infinity);
            worst = std::max(worst, stronger / program.upper(j));
            const double level = program.program_upper(j) * (1.0 + relaxed);
            excess_peaks(response, level * (1.0 + cut_slack), static_cast<size_t>(in.options.cuts_per_frequency),
                         taken[i], found);
            for (const auto& [value, key] : found) cuts.push_back({value / level, j, key});
        }
        // The largest excesses first, up to a round's budget of nonzeros: the rows are dense.
        std::sort(cuts.begin(), cuts.end(), [](const Cut& a, const Cut& b) {
            if (a.excess != b.excess) return a.excess > b.excess;
            return a.frequency != b.frequency ? a.frequency < b.frequency : a.key < b.key;
        });
        int64_t budget = program.cut_budget();
        for (const Cut& cut : cuts) {
            if (budget <= 0) break;
            taken[static_cast<size_t>(cut.frequency)].insert(cut.key);
            budget -= program.add_response_row(cut.frequency, cut.key / 2, cut.key % 2 == 0 ? 1.0 : -1.0,
                                               program.program_upper(cut.frequency), false);
            ++added;
        }
        cuts.clear();
        // The limits between the nodes (the nodes are bounded already): every excess, its rows being sparse.
        drive_motion(std::span<const double>(a), dt, settings.units, motion);
        auto motion_cuts = [&](std::span<const double> values, double cap, Motion kind, std::set<int64_t>& done) {
            if (!(cap < lp_infinity)) return;
            excess_peaks(values, cap * (1.0 - edge_margin) * (1.0 + cut_slack), values.size(), done, found);
            for (const auto& [value, key] : found) {
                done.insert(key);
                if ((key / 2) % grid.spacing == 0) continue;
                program.add_motion_row(key / 2, kind);
                ++added;
            }
        };
        // Linear between the nodes, the acceleration peaks on them; not so with a fixed part.
        if (!fixed.empty()) motion_cuts(a, limits.acceleration, Motion::acceleration, taken_acceleration);
        motion_cuts(motion.velocity, limits.velocity, Motion::velocity, taken_velocity);
        motion_cuts(motion.displacement, limits.displacement, Motion::displacement, taken_displacement);
        if (in.progress) {
            in.progress({round, {motion.peak_acceleration, motion.peak_velocity, motion.peak_displacement},
                         worst > 1.0 ? db(worst) : 0.0, lp.row_count(), lp.iterations(), seconds_since(started)});
        }
        check_stop(in.stop);

        // The least scale that brings every polarity to its lower edge, if it keeps every upper edge; the
        // drive checked as it is stored.
        const double scale = elastic ? 1.0 : lower_scale * (1.0 + scale_margin);
        const bool fits = !elastic && scale * (1.0 + scale_margin) <= upper_scale;
        const Standing standing = check_drive(a, scale, fits);
        const PeakTriple peaks = standing.peaks;
        // Short of every upper edge, the round's drive still points the way: blends of it with the best drive
        // that meets them all, (1 - w) best + w drive, meet the lower rows as both do, and their responses and
        // peaks are at most the same blend of the two's.  The largest w whose blend, scaled to the lower
        // edges, still meets every constraint is found by bisection on the product's SRS.
        if (!candidate.meets && best.meets && !elastic && added > 0) blend_with_best(a);
        if (added > 0) continue;
        if (!candidate.meets) break;
        // A peak not minimised above the starting drive's: weigh it more, as long as that lowers it (a limit
        // may hold it up).
        bool raised = false;
        auto raise = [&](MinimisedPeak peak, double value, double start) {
            const size_t i = static_cast<size_t>(peak);
            if (peak == in.options.minimise || program.weight(peak) <= 0.0 || !(value > start)) return;
            if (raises[i] >= in.options.weight_raises || !(value < raised_from[i] * 0.99)) return;
            raised_from[i] = value;
            ++raises[i];
            program.set_weight(peak, program.weight(peak) * 3.0);
            raised = true;
        };
        raise(MinimisedPeak::acceleration, peaks.acceleration, start_peaks.acceleration);
        raise(MinimisedPeak::velocity, peaks.velocity, start_peaks.velocity);
        raise(MinimisedPeak::displacement, peaks.displacement, start_peaks.displacement);
        if (raised) continue;
        // Lower rows moved to the drive's own peak times: the drive meets them, so the next solution is no
        // worse, and usually better.  Again while that lowers the minimised peak by 0.5 %.
        if (anchorings >= in.options.anchorings || !(standing.minimised < anchored * 0.995)) break;
        anchored = standing.minimised;
        ++anchorings;
        // Only the frequencies whose lower rows cost the objective most (the largest dual values) move:
        // moving every row at once made each later solve several times longer for a gain of 1 or 2 %.
        bool moved = false;
        worth.clear();
        for (int32_t j = 0; j < F; ++j) worth.emplace_back(-program.lower_dual(j), j);
        std::sort(worth.begin(), worth.end());   // ties by frequency: the same moves for any thread count
        const size_t moving = static_cast<size_t>(
            in.options.moved_frequencies > 0 ? in.options.moved_frequencies : std::max<int32_t>(1, F / 8));
        for (size_t i = 0; i < std::min(moving, worth.size()); ++i) {
            const int32_t j = worth[i].second;
            moved = program.anchor(j, peak_times[2 * static_cast<size_t>(j)], peak_times[2 * static_cast<size_t>(j) + 1]) || moved;
        }
        if (!moved) break;
    }
    result.weights = {program.weight(MinimisedPeak::acceleration), program.weight(MinimisedPeak::velocity),
                      program.weight(MinimisedPeak::displacement)};
    result.rows = lp.row_count();
    result.columns = lp.column_count();
    result.nonzeros = lp.nonzero_count();
    result.iterations = lp.iterations();
    result.seconds = seconds_since(started);
    return result;
}

}  // namespace quorel
