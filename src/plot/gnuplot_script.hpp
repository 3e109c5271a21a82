#pragma once
// gnuplot scripts as text, drawn from data: spectra, the specification and its
// tolerance bands, histories.  Every series is carried inline, so that
// `gnuplot srs_3.gp` redraws its picture wherever the script lies.  The output
// name comes from the variable `outfile` when it is set on the command line
// (gnuplot -e "outfile='x.svg'" srs_3.gp), else the picture's own name.
//
// Text from outside the program (file names, unit labels, titles) reaches a
// script only inside gnuplot_string literals; the comment lines of a script
// carry none of it.
#include <string>
#include <vector>

#include "base/envelope.hpp"
#include "plot/pvss.hpp"
#include "acceptance/compliance.hpp"
#include "srs/pseudo_velocity.hpp"

namespace quorel::plot {

// A picture and its script, by their names in the folder gnuplot runs in.
// A name as a title or a label may show it: each control character, which
// would end or cut a script line, becomes '?'.
std::string printable(const std::string& text);

struct PictureNames {
    std::string picture, script;
};

// srs_<n>, history_<n> and pvss_<n> .svg / .gp of a trial.
struct PlotNames {
    PictureNames srs, history, pvss;
};
PlotNames plot_names(long trial);

// Points drawn of a history panel at most: a picture 900 pixels wide shows
// no more.
inline constexpr int64_t history_envelope_groups = 2000;

// Positive and negative SRS over the specification and the edges of the
// bands, log-log.  The specification is drawn through its own points and the
// SRS frequencies: a straight line in log-log between its points is exactly
// its interpolation, and so are the band edges, its multiples by 10^(dB/20).
// A band with a frequency range has its edges drawn over that range only, from
// its ends.  Without a specification only the SRS is drawn.
struct SrsPicture {
    PictureNames names;
    std::string description;   // the script's leading comment lines, "# ..." each (program text only)
    std::string title;
    std::string accel_unit;
    std::vector<SpecPoint> spec;
    std::vector<ToleranceBand> bands;
    std::vector<SrsLine> srs;
};
std::string srs_script(const SrsPicture& picture);

// Acceleration, velocity and displacement in three stacked panels.  Each
// series is drawn as given: a long one reduced by an Envelope first.
struct HistoryPicture {
    PictureNames names;
    std::string description;
    std::string title;
    std::string accel_unit, velocity_unit, displacement_unit;
    std::vector<TimedValue> accel, velocity, displacement;
};
std::string history_script(const HistoryPicture& picture);

// The other spectra of a measured record in three stacked log-log panels:
// the absolute acceleration (maximax, primary, residual), the velocities
// (relative, pseudo) and the relative displacement.  A value a log axis
// cannot show (0) is left out of its curve.
struct SpectraPicture {
    PictureNames names;
    std::string description;
    std::string title;
    std::string accel_unit, velocity_unit, displacement_unit;
    std::vector<double> freq, maximax, primary, residual, relative_velocity, pseudo_velocity, relative_displacement;
};
std::string spectra_script(const SpectraPicture& picture);

// The pseudo-velocity shock spectrum w max|z| of both polarities, and the
// specification (when there is one) at the pseudo velocity of its
// acceleration, A / (2 pi f), on tripartite axes: log frequency across, log
// pseudo velocity up, diagonals of constant displacement and acceleration.
// The values are carried inline, with the whole-decade ranges and the
// diagonals that depend on them.
struct PvssPicture {
    PictureNames names;
    std::string description;
    std::string title;
    PvssUnits units;
    std::vector<SpecPoint> spec;
    std::vector<PvssLine> pvss;   // in units.velocity
};
std::string pvss_script(const PvssPicture& picture);

// A gnuplot single-quoted string literal holding `text`, each ' doubled.
// Inside single quotes gnuplot substitutes nothing (no `command`, no @macro,
// no backslash escape), so every text that comes from a file name, a file or
// the command line reaches a script only this way; comments carry none of it.
// Control characters, which would end or cut the line, become '?'.
std::string gnuplot_string(const std::string& text);

}  // namespace quorel::plot
