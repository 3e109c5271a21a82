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

#include "base/exit_status.hpp"
#include "base/stop_request.hpp"

namespace quorel {

// args: the command line without the program name.  The run's text goes to
// `out`, errors to `err`; the progress line is drawn on `err` when
// `err_is_terminal` (and --no-progress is absent).  A run stopped by `stop`
// (see catch_stop_signals) returns 128 + the signal number.
int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     bool err_is_terminal, StopRequest* stop = nullptr);

}  // namespace quorel
