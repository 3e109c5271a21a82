#pragma once
// Runs gnuplot on a script, without a shell, in the run's folder:
//   cd <directory> && gnuplot -e "outfile='<output>'" <script>
// with standard input from /dev/null and gnuplot's standard error inherited.
// The output and script names are relative to that folder.
#include <string>

#include "plot/gnuplot_script.hpp"

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

// The error of a picture asked for without gnuplot.
inline constexpr const char* gnuplot_missing =
    "\n Error: gnuplot not found: install the gnuplot-nox package to draw the plots \n";

// Writes `script` as <names.script>.part in `directory`, runs gnuplot on it
// into <names.picture>.part, and gives both their own names once gnuplot has
// exited 0 and the picture is complete (it ends with the SVG's closing tag);
// otherwise neither is left.  Returns false when there is no gnuplot to run;
// a failed gnuplot run or an incomplete picture throws QuorelError naming the
// picture by its path and the reason.
bool draw_picture(const std::string& directory, const PictureNames& names, const std::string& script);

}  // namespace quorel::plot
