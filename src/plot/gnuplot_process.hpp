#pragma once
// Runs gnuplot on a script, without a shell, in the run's folder:
//   cd <directory> && gnuplot -e "outfile='<output>'" <script>
// with standard input from /dev/null and gnuplot's standard error inherited.
// The output and script names are relative to that folder.
#include <string>

namespace quorel::plot {

struct GnuplotRun {
    bool found = true;     // false when no gnuplot is on PATH
    bool success = false;  // started and exited with status 0
    std::string detail;    // how it failed: "exit status 1", "signal 9", a system error
};

GnuplotRun run_gnuplot(const std::string& directory, const std::string& output, const std::string& script);

// Runs `gnuplot --version` (its output discarded): whether gnuplot is there
// and starts.
GnuplotRun try_gnuplot();

}  // namespace quorel::plot
