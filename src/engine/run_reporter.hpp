#pragma once
// How a run tells its front end what happens: the console text of the run
// (trial-log headers, warnings, the report of the optima) and each finished
// trial.  The dialogue prints everything; the command line may leave the trial
// lines out and show progress instead.
#include <cstdint>
#include <string_view>

#include "base/console.hpp"
#include "optimal/optimal_drive.hpp"

namespace quorel {

class RunReporter : public TextOutput {
public:
    // The heading lines of the trial table (those of the trial log).
    virtual void table_heading(std::string_view text) { print(text); }
    // Trial `trial` of `count` has finished (trials arrive in order); `line` is
    // its line as the trial log holds it.
    virtual void trial_line(int32_t trial, int32_t count, std::string_view line) = 0;
    // The optimal drive's linear program: round 0 once it is built, then
    // each solve.
    virtual void optimal_round(const OptimalProgress&) {}
    // Hands the text so far on; a front end that cannot write it ends the run.
    virtual void flush() {}
};

}  // namespace quorel
