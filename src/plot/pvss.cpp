#include "plot/pvss.hpp"

#include <algorithm>
#include <cmath>

#include "base/format.hpp"

namespace quorel::plot {

namespace {

constexpr double two_pi = 6.283185307179586;

// A value within this many decades of a power of ten counts as on it: the run
// prints its frequencies and peaks to 6 or 7 significant digits.
constexpr double decade_rounding = 1e-6;

// Label text: Sans at 10 points.  Width per character (digits are the widest,
// 0.64 em), height of the glyphs above the baseline, gap to the line.
constexpr double label_char_px = 6.4;
constexpr double label_height_px = 9.0;
constexpr double label_gap_px = 2.0;
// Labels closer than this (between their centre lines) would touch.
constexpr double label_clearance_px = label_height_px + 4.0;

struct Point {
    double x = 0.0, y = 0.0;
};
Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
Point operator*(double s, Point a) { return {s * a.x, s * a.y}; }
double dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }

double distance_to_segment(Point p, Point a, Point b) {
    const Point ab = b - a;
    const double length2 = dot(ab, ab);
    const double t = length2 > 0.0 ? std::clamp(dot(p - a, ab) / length2, 0.0, 1.0) : 0.0;
    const Point d = p - (a + t * ab);
    return std::sqrt(dot(d, d));
}

// Distance between two segments that do not cross; crossing ones are at 0.
double segment_distance(Point a, Point b, Point c, Point d) {
    auto side = [](Point p, Point q, Point r) { return (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x); };
    const double s1 = side(a, b, c), s2 = side(a, b, d), s3 = side(c, d, a), s4 = side(c, d, b);
    if (((s1 > 0) != (s2 > 0)) && ((s3 > 0) != (s4 > 0))) return 0.0;
    return std::min({distance_to_segment(a, c, d), distance_to_segment(b, c, d), distance_to_segment(c, a, b),
                     distance_to_segment(d, a, b)});
}

// The characters a label shows: enhanced-text markup takes no room.
size_t shown_length(const std::string& text) {
    size_t count = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c != '^' && c != '{' && c != '}' && (byte & 0xC0) != 0x80) ++count;
    }
    return count;
}

// Positions on the page, in pixels from the plot's lower left corner.
class Page {
public:
    explicit Page(const ChartFrame& frame) : frame_(frame) {}
    Point at(double f, double v) const {
        return {(std::log10(f) - frame_.freq.low) * frame_.px_per_freq_decade(),
                (std::log10(v) - frame_.velocity.low) * frame_.px_per_velocity_decade()};
    }
    double freq(Point p) const { return std::pow(10.0, frame_.freq.low + p.x / frame_.px_per_freq_decade()); }
    double velocity(Point p) const {
        return std::pow(10.0, frame_.velocity.low + p.y / frame_.px_per_velocity_decade());
    }
    bool inside(Point p) const {
        return p.x >= 1.0 && p.x <= frame_.width_px - 1.0 && p.y >= 1.0 && p.y <= frame_.height_px - 1.0;
    }

private:
    const ChartFrame& frame_;
};

// A label's place on the page, the centre line of its text, or a segment of a
// curve.
struct Placed {
    Point a, b;
};

}  // namespace

PvssUnits pvss_units(UnitSystem units) {
    const UnitTable& t = unit_table(units);
    return PvssUnits{t.accel, t.velocity, t.log_displacement, t.velocity_factor, t.displacement_per_velocity};
}

std::optional<PvssUnits> pvss_units(const RunUnits& units) {
    for (const UnitTable& t : unit_tables) {
        if (units.accel == t.accel && units.velocity == t.velocity && units.displacement == t.log_displacement) {
            return pvss_units(*unit_system_named(t.name));
        }
    }
    return std::nullopt;
}

double pseudo_velocity(const PvssUnits& units, double accel, double freq) {
    return accel * units.accel_factor / (two_pi * freq);
}

double pv_acceleration(const PvssUnits& units, double pv, double freq) {
    return pv * two_pi * freq / units.accel_factor;
}

double pv_displacement(const PvssUnits& units, double pv, double freq) {
    return units.displacement_factor * pv / (two_pi * freq);
}

double Decades::from() const { return std::pow(10.0, low); }
double Decades::to() const { return std::pow(10.0, high); }

std::optional<Decades> decades_bracketing(const std::vector<double>& values) {
    double least = HUGE_VAL;
    double most = 0.0;
    for (const double v : values) {
        if (v > 0.0 && std::isfinite(v)) {
            least = std::min(least, v);
            most = std::max(most, v);
        }
    }
    if (!(most > 0.0)) return std::nullopt;
    Decades d{static_cast<int>(std::floor(std::log10(least) + decade_rounding)),
              static_cast<int>(std::ceil(std::log10(most) - decade_rounding))};
    if (d.high <= d.low) d.high = d.low + 1;
    if (!(d.from() > 0.0) || !std::isfinite(d.to())) return std::nullopt;
    return d;
}

ChartFrame chart_frame(const Decades& freq, const Decades& velocity) {
    ChartFrame frame{freq, velocity};
    const double ratio = std::clamp(static_cast<double>(velocity.count()) / freq.count(), 0.6, 1.4);
    frame.height_px = std::round(frame.width_px * ratio);
    return frame;
}

std::string grid_value_text(double value) {
    const int exponent = static_cast<int>(std::floor(std::log10(value) + decade_rounding));
    if (exponent >= -4 && exponent <= 5) return format("%g", value);
    const double mantissa = value / std::pow(10.0, exponent);
    if (std::fabs(mantissa - 1.0) < 1e-9) return format("10^{%d}", exponent);
    return format("%g×10^{%d}", mantissa, exponent);
}

namespace {

// The diagonals of constant displacement and of constant acceleration that
// cross the chart: each decade, and its 2 and 5 on a chart of few decades.
std::vector<Diagonal> grid_diagonals(const PvssUnits& units, const ChartFrame& frame,
                                     const std::vector<double>& mantissas) {
    std::vector<Diagonal> diagonals;
    const double fa = frame.freq.from(), fb = frame.freq.to();
    const double va = frame.velocity.from(), vb = frame.velocity.to();
    for (const bool displacement : {true, false}) {
        // The values met in the chart: the smallest at one corner, the largest
        // at the opposite one.
        const double least = displacement ? pv_displacement(units, va, fb) : pv_acceleration(units, va, fa);
        const double most = displacement ? pv_displacement(units, vb, fa) : pv_acceleration(units, vb, fb);
        if (!(least > 0.0) || !std::isfinite(most)) continue;
        const int first = static_cast<int>(std::floor(std::log10(least) + decade_rounding));
        const int last = static_cast<int>(std::ceil(std::log10(most) - decade_rounding));
        for (int exponent = first; exponent <= last; ++exponent) {
            for (const double m : mantissas) {
                const double value = m * std::pow(10.0, exponent);
                Diagonal d{displacement, value, m == 1.0};
                // v = c f (constant displacement) or v = c / f (constant acceleration).
                if (displacement) {
                    const double c = two_pi * value / units.displacement_factor;
                    d.f0 = std::max(fa, va / c);
                    d.f1 = std::min(fb, vb / c);
                    d.v0 = c * d.f0;
                    d.v1 = c * d.f1;
                } else {
                    const double c = value * units.accel_factor / two_pi;
                    d.f0 = std::max(fa, c / vb);
                    d.f1 = std::min(fb, c / va);
                    d.v0 = c / d.f0;
                    d.v1 = c / d.f1;
                }
                // A line through a corner only touches the chart.
                if (d.f1 > d.f0 * (1.0 + 1e-9)) diagonals.push_back(d);
            }
        }
    }
    return diagonals;
}

// The curves' segments on the page.
std::vector<Placed> curve_segments(const Page& page, const std::vector<Curve>& curves) {
    std::vector<Placed> segments;
    for (const Curve& curve : curves) {
        for (size_t k = 0; k < curve.size(); ++k) {
            const Point p = page.at(curve[k].freq, curve[k].velocity);
            const Point q = k + 1 < curve.size() ? page.at(curve[k + 1].freq, curve[k + 1].velocity) : p;
            segments.push_back({p, q});
        }
    }
    return segments;
}

// Labels of the decade diagonals: slid up their line from its lower end, 10
// px at a time, until they lie inside the chart clear of everything `taken`
// (the curves, and the labels already placed).  A line with no such place
// keeps no label.
std::vector<DiagonalLabel> diagonal_labels(const PvssUnits& units, const ChartFrame& frame,
                                           const std::vector<Diagonal>& diagonals, std::vector<Placed> taken) {
    std::vector<DiagonalLabel> labels;
    const Page page(frame);
    const double px = frame.px_per_freq_decade();
    const double py = frame.px_per_velocity_decade();
    const double norm = std::hypot(px, py);
    const double angle = std::atan2(py, px) * 180.0 / std::acos(-1.0);
    for (const Diagonal& d : diagonals) {
        if (!d.major) continue;
        const std::string text =
            grid_value_text(d.value) + " " + (d.displacement ? units.displacement : units.accel);
        const double length = label_char_px * static_cast<double>(shown_length(text));
        // Up the line from its lower end; the glyphs on the side that turns
        // left of the reading direction.
        const Point start = d.displacement ? page.at(d.f0, d.v0) : page.at(d.f1, d.v1);
        const Point end = d.displacement ? page.at(d.f1, d.v1) : page.at(d.f0, d.v0);
        const Point up = d.displacement ? Point{px / norm, py / norm} : Point{-px / norm, py / norm};
        const Point glyph_side = d.displacement ? Point{-up.y, up.x} : Point{up.y, -up.x};
        const double visible = std::sqrt(dot(end - start, end - start));
        for (double along = 12.0; along + length + 6.0 <= visible; along += 10.0) {
            // gnuplot centres a label's text on its anchor.
            const Point anchor = start + along * up + (label_gap_px + 0.5 * label_height_px) * glyph_side;
            const Point tail = anchor + length * up;
            const Point half = 0.5 * label_height_px * glyph_side;
            if (!page.inside(anchor - half) || !page.inside(tail - half) || !page.inside(anchor + half) ||
                !page.inside(tail + half)) {
                continue;
            }
            const Placed here{anchor, tail};
            const bool clear = std::all_of(taken.begin(), taken.end(), [&](const Placed& other) {
                return segment_distance(here.a, here.b, other.a, other.b) >= label_clearance_px;
            });
            if (!clear) continue;
            taken.push_back(here);
            labels.push_back({text, page.freq(anchor), page.velocity(anchor), d.displacement ? angle : -angle,
                              !d.displacement, d.displacement});
            break;
        }
    }
    return labels;
}

}  // namespace

TripartiteGrid tripartite_grid(const PvssUnits& units, const ChartFrame& frame, const std::vector<Curve>& curves) {
    TripartiteGrid grid;
    const int decades = frame.freq.count() + frame.velocity.count();
    if (decades > 24) return grid;
    const std::vector<double> mantissas = decades > 8 ? std::vector<double>{1.0} : std::vector<double>{1.0, 2.0, 5.0};
    grid.diagonals = grid_diagonals(units, frame, mantissas);
    // The curves keep labels off them as the labels keep off each other.
    grid.labels = diagonal_labels(units, frame, grid.diagonals, curve_segments(Page(frame), curves));
    return grid;
}

}  // namespace quorel::plot
