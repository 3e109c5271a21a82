#pragma once
// The quorel-plot program: reads a finished run, prints the compliance table of
// each trial and draws its plots with gnuplot.
#include <iosfwd>
#include <string>
#include <vector>

#include "plot/compliance.hpp"

namespace quorel::plot {

// A finished run to draw and check.
struct PlotRequest {
    std::string spec_file;          // as given, relative to the working directory
    std::string directory = ".";    // the run's files are read from here; the .gp/.svg are written here
    std::vector<long> trials;       // empty: every trial with fresh result files there
    std::vector<Band> bands;        // empty: the default bands, ±3 dB and ±6 dB
    bool pvss = false;              // also the pseudo-velocity shock spectrum, pvss_<n>.svg
};

// Draws and checks the trials of a run.  Returns the exit status: 0 when every
// plot was drawn (whatever the compliance), 1 for bad input, a missing gnuplot
// or a failed gnuplot run.  The compliance tables and the names of the plots
// go to out; warnings and errors go to err, gnuplot's own messages to the
// process's standard error.  gnuplot runs in `directory`.
//
// By default the trials are those whose five result files are not older than
// the run's trials.out; older ones are left from an earlier run and are
// skipped with a warning.  A trial asked for whose files are older is an error.
int draw_run(const PlotRequest& request, std::ostream& out, std::ostream& err);

// args: the command line without the program name; the run is in the working
// directory.  Returns the exit status as draw_run does, 1 for bad arguments.
int run_plot_program(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quorel::plot
