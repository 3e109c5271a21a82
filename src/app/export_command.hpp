#pragma once
// quorel export: a finished run's drive at a shaker controller's sample rate,
// in the controller's file format, with the check that it keeps the run's SRS.
//
//   quorel export RUN_DIR [--trial N | --optimal] --rate R [--points N | --frame pow2]
//                 [--format csv|wav|mat|hdf5|uff58] [--pad-before S] [--pad-after S] [--scale V] -o FILE
//
// Exit status: 0 written, 1 a bad run folder or a file that cannot be
// written (nothing written), 2 a wrong command line.
#include <CLI/CLI.hpp>

#include <iosfwd>
#include <string>

namespace quorel {

struct ExportCommand {
    std::string run_dir;
    std::string trial;
    bool optimal = false;
    std::string rate;
    std::string points;
    std::string frame;
    std::string format;
    std::string pad_before, pad_after;
    std::string scale;
    std::string output;
};

class OptionWords;

// The `export` subcommand of `app`, its options read into `c`.
CLI::App* add_export_command(CLI::App& app, ExportCommand& c, OptionWords& words);

// Runs a parsed export command; returns the exit status.  The check goes to
// `out`, warnings and errors to `err`.
int run_export(const ExportCommand& c, std::ostream& out, std::ostream& err);

}  // namespace quorel
