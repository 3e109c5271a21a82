#pragma once
// The pseudo-velocity shock spectrum of a trial on tripartite axes.  No I/O.
//
// The pseudo velocity PV = 2 pi f D, D the peak relative displacement of the
// oscillator of natural frequency f (srs/pseudo_velocity.hpp), reads three
// ways on log-log axes of frequency and pseudo velocity: D = PV / (2 pi f),
// and for a lightly damped oscillator the peak acceleration A = 2 pi f PV
// nearly.  Lines of constant displacement rise with slope +1, lines of
// constant acceleration fall with slope -1.  This module computes the
// specification's pseudo velocities, the whole-decade ranges and the clipped,
// labelled diagonals; the gnuplot script only draws them.
#include <optional>
#include <string>
#include <vector>

#include "base/units.hpp"
#include "plot/run_files.hpp"

namespace quorel::plot {

// A run's unit system as the pseudo velocity needs it.
struct PvssUnits {
    std::string accel, velocity, displacement;   // as the trial log names them
    // Velocity unit per second in one acceleration unit: 386 in/sec^2 per G,
    // 9.81 m/sec^2 per G, 1 for m/sec^2 (the factors of the rest of the program).
    double accel_factor = 1.0;
    // Displacement unit in one velocity unit times one second: 1 in, 1000 mm.
    double displacement_factor = 1.0;
};

// english (G, in/sec, in), metric (G, m/sec, mm) or si (m/sec^2, m/sec, mm);
// nothing for any other unit line, whose conversion would be a guess.
std::optional<PvssUnits> pvss_units(const RunUnits& units);
// Those of a unit system.
PvssUnits pvss_units(UnitSystem units);

// The pseudo velocity an acceleration stands for on the chart (its diagonal):
// PV = A accel_factor / (2 pi f), in the velocity unit.
double pseudo_velocity(const PvssUnits& units, double accel, double freq);
// The acceleration and the displacement a pseudo velocity stands for at f:
// A = PV 2 pi f / accel_factor,  D = displacement_factor PV / (2 pi f).
double pv_acceleration(const PvssUnits& units, double pv, double freq);
double pv_displacement(const PvssUnits& units, double pv, double freq);

// The whole decades 10^low .. 10^high, low < high.
struct Decades {
    int low = 0;
    int high = 1;
    double from() const;
    double to() const;
    int count() const { return high - low; }
};

// The fewest whole decades holding every finite value above zero (values
// within rounding of a power of ten count as on it); at least one decade.
// Nothing when no value qualifies or a decade end is not a finite number
// above zero.
std::optional<Decades> decades_bracketing(const std::vector<double>& values);

// The plot area in pixels: a fixed width, and the height that makes a decade
// of pseudo velocity as tall as a decade of frequency is wide (so that the
// diagonals run at 45 degrees) within 0.6 to 1.4 times the width.
struct ChartFrame {
    Decades freq, velocity;
    double width_px = 560.0;
    double height_px = 560.0;
    double px_per_freq_decade() const { return width_px / freq.count(); }
    double px_per_velocity_decade() const { return height_px / velocity.count(); }
};
ChartFrame chart_frame(const Decades& freq, const Decades& velocity);

// One line of constant displacement (slope +1) or constant acceleration
// (slope -1), clipped to the chart: from (f0, v0) to (f1, v1), f0 < f1.
struct Diagonal {
    bool displacement = true;
    double value = 0.0;    // displacement or acceleration unit
    bool major = false;    // a power of ten: drawn darker, labelled where it has room
    double f0 = 0.0, v0 = 0.0, f1 = 0.0, v1 = 0.0;
};

// The label of a major diagonal, lying along it just off the line, near its
// lower end: displacement labels read up the line from its lower left,
// acceleration labels end near its lower right.
struct DiagonalLabel {
    std::string text;             // gnuplot enhanced text: "0.01 in", "10^{-5} mm", "1000 m/sec^2"
    double freq = 0.0, velocity = 0.0;   // anchor
    double angle_deg = 0.0;       // counterclockwise on the page
    bool right_justified = false;
    bool displacement = true;     // else acceleration
};

struct TripartiteGrid {
    std::vector<Diagonal> diagonals;
    std::vector<DiagonalLabel> labels;
};

// A point of a plotted curve: frequency (Hz), pseudo velocity.
struct ChartPoint {
    double freq = 0.0;
    double velocity = 0.0;
};
using Curve = std::vector<ChartPoint>;

// Diagonals at 1, 2 and 5 times each power of ten that crosses the chart (only
// the powers of ten when the chart spans more than eight decades in all, none
// beyond 24).  Each label goes where it fits clear of the other labels and of
// the curves: a plateau of the SRS lies along its own acceleration diagonal,
// and the curves would hide that label.
TripartiteGrid tripartite_grid(const PvssUnits& units, const ChartFrame& frame, const std::vector<Curve>& curves);

// "0.001", "20", "10^{-5}": a grid value in enhanced text.
std::string grid_value_text(double value);

}  // namespace quorel::plot
