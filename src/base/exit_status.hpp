#pragma once
// The exit statuses of quorel and quorel-plot, for scripts.

namespace quorel {

inline constexpr int exit_success = 0;
inline constexpr int exit_run_error = 1;     // the dialogue's checks, files, the run
inline constexpr int exit_usage_error = 2;   // the command line itself; nothing is touched
inline constexpr int exit_not_met = 3;       // no trial within the limits and the rules, or a FAIL with --require-pass

}  // namespace quorel
