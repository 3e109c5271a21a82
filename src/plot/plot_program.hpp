#pragma once
// The quorel-plot program: reads a finished run, prints the compliance table of
// each trial and draws its plots with gnuplot.
#include <atomic>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "acceptance/compliance.hpp"
#include "acceptance/acceptance.hpp"

namespace quorel::plot {

// A finished run to draw and check.
struct PlotRequest {
    std::string spec_file;          // as given, relative to the working directory
    std::string directory = ".";    // the run's files are read from here; the .gp/.svg are written here
    std::vector<long> trials;       // empty: every trial with fresh result files there
    std::vector<ToleranceBand> bands;   // --band: each on every point of both polarities; with no bands and no
                                        // acceptance rules, ±3 dB and ±6 dB
    bool pvss = false;              // also the pseudo-velocity shock spectrum, pvss_<n>.svg
    // The run's damping ratio for the pseudo velocity (--q, --damping); none:
    // the one summary.json records.
    std::optional<float> damping = std::nullopt;
    std::optional<AcceptanceRules> acceptance = std::nullopt;   // rules of an acceptance file, instead of bands (not with them)
    bool require_pass = false;      // a drawn trial that FAILs the rules makes the status exit_not_met
    // Checked before each plot: once nonzero (a StopRequest's signal), drawing
    // ends as a failure.
    const std::atomic<int>* stop = nullptr;
};

// Draws and checks the trials of a run.  Returns the exit status:
// exit_success when every plot was drawn (whatever the compliance, unless
// require_pass), exit_not_met when every plot was drawn, require_pass is set
// and a trial FAILs the rules, exit_run_error (1) for bad input, a band range
// holding no SRS frequency, bands given with acceptance rules, a missing
// gnuplot or a failed gnuplot run.  The compliance tables and the names of the
// plots go to out; warnings and errors go to err, gnuplot's own messages to the
// process's standard error.  gnuplot runs in `directory`.
//
// By default the trials are those whose five result files are not older than
// the run's trials.out; older ones are left from an earlier run and are
// skipped with a warning.  A trial asked for whose files are older is an error.
//
// The pseudo-velocity spectrum is that of accel_<n>.out, at the frequencies
// of srs_<n>.out, with the run's damping: request.damping, or the
// damping_ratio of the run's summary.json (a run from the command line writes
// one, the dialogue does not).  Neither, or the two different, is an error.
int draw_run(const PlotRequest& request, std::ostream& out, std::ostream& err);

// Throws QuorelError unless gnuplot is found and starts: a run that is to be
// plotted checks it before writing anything.
void check_gnuplot_runs();

// args: the command line without the program name; the run is in the working
// directory.  Returns the exit status as draw_run does, 1 for bad arguments
// or a faulty acceptance file.
int run_plot_program(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quorel::plot
