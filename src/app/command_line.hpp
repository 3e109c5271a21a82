#pragma once
// The command-line front end, for scripted and batch runs:
//
//   quorel [OPTIONS] SPECFILE
//
// The options give every answer of the dialogue (or take its default); the run
// is the same, and the same files are written, in the output folder, plus
// summary.json and lossless CSV copies of the optima.
#include <iosfwd>
#include <string>
#include <vector>

namespace quorel {

// Exit statuses of the command line.
inline constexpr int exit_success = 0;
inline constexpr int exit_run_error = 1;     // the dialogue's checks, files, the run
inline constexpr int exit_usage_error = 2;   // the command line itself; nothing is touched

// args: the command line without the program name.  The run's text goes to
// `out`, errors to `err`; the progress line is drawn on `err` when
// `err_is_terminal` (and --no-progress is absent).
int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     bool err_is_terminal);

}  // namespace quorel
