#pragma once
// The quorel-plot program: reads a finished run in the working directory,
// prints the compliance table of each trial and draws its plots with gnuplot.
#include <iosfwd>
#include <string>
#include <vector>

namespace quorel::plot {

// A finished run to draw and check.
struct PlotRequest {
    std::string spec_file;          // as given, relative to the working directory
    std::string directory = ".";    // the run's files; the plots are written there too
    std::vector<long> trials;       // empty: every trial with result files there
};

// Draws and checks the trials of a run (default bands).  Returns the exit
// status as run_plot_program does.
int draw_run(const PlotRequest& request, std::ostream& out, std::ostream& err);

// args: the command line without the program name.  Returns the exit status:
// 0 when every plot was drawn (whatever the compliance), 1 for bad arguments or
// input, a missing gnuplot or a failed gnuplot run.  Console text goes to out;
// gnuplot's own messages go to the process's standard error.
int run_plot_program(const std::vector<std::string>& args, std::ostream& out);

}  // namespace quorel::plot
