#pragma once
// The gnuplot scripts of one trial, as text.  They read the run's own .out
// files by their relative names and carry the derived series (specification
// and band edges) inline, so that `gnuplot srs_3.gp` in the run's directory
// redraws the plot.  The output name comes from the variable `outfile` when
// it is set on the command line (gnuplot -e "outfile='x.svg'" srs_3.gp).
#include <string>
#include <vector>

#include "plot/compliance.hpp"
#include "plot/pvss.hpp"
#include "plot/run_files.hpp"

namespace quorel::plot {

struct PlotContext {
    long trial = 0;
    std::string spec_name;   // as given on the command line: shown in the title only
    RunUnits units;
    TrialFileNames files;
};

// srs_<n>.svg / srs_<n>.gp, history_<n>.svg / history_<n>.gp and
// pvss_<n>.svg / pvss_<n>.gp.
struct PlotNames {
    std::string srs_picture, srs_script, history_picture, history_script, pvss_picture, pvss_script;
};
PlotNames plot_names(long trial);

// Positive and negative SRS over the specification and the edges of the
// bands of compliance.rules, log-log.  The specification is drawn through its
// own points and the grid frequencies: a straight line in log-log between its
// points is exactly its interpolation, and so are the band edges, its
// multiples by 10^(dB/20).  A band with a frequency range has its edges drawn
// over that range only, from its ends.
std::string srs_script(const PlotContext& context, const std::vector<SpecPoint>& spec, const Compliance& compliance);

// Acceleration, velocity and displacement in three stacked panels.
std::string history_script(const PlotContext& context);

// The pseudo-velocity shock spectrum PV = SRS / (2 pi f) of both polarities
// and of the specification on tripartite axes: log frequency across, log
// pseudo velocity up, diagonals of constant displacement and acceleration.
// The pseudo velocities are computed here and carried inline, with the
// whole-decade ranges and the diagonals that depend on them.
std::string pvss_script(const PlotContext& context, const PvssUnits& units, const std::vector<SpecPoint>& spec,
                        const std::vector<SrsLine>& srs);

// A gnuplot single-quoted string literal holding `text`, each ' doubled.
// Inside single quotes gnuplot substitutes nothing (no `command`, no @macro,
// no backslash escape), so every text that comes from a file name, a file or
// the command line reaches a script only this way; comments carry none of it.
// Control characters, which would end or cut the line, become '?'.
std::string gnuplot_string(const std::string& text);

}  // namespace quorel::plot
