#pragma once
// The question-and-answer front end: banner and algorithm, specification file,
// octave spacing, run parameters, sample rate and points or duration, then the
// run, the elapsed time and the key wait.
#include <functional>
#include <iosfwd>

#include "base/console.hpp"
#include "base/random.hpp"
#include "base/run_settings.hpp"
#include "engine/engine.hpp"

namespace quorel {

struct RunOptions : EngineOptions {
    std::function<double()> clock;   // calendar seconds; the system clock when empty
    // Where the message goes when `out` itself cannot be written (standard
    // error); none: it is lost.
    std::ostream* errors = nullptr;
};

// One whole dialogue over the given streams.  Returns the process exit status:
// 1 after a fatal check (its message printed), 0 after a finished run, 128 +
// the signal number after a run that options.stop stopped.
int run_dialogue(std::istream& in, std::ostream& out, KeyReader key_reader, const RunOptions& options = {});

// Asks for the damping (ratio or Q), the number of trials, the units and the
// "arbitrary integer", checks them and sets the unit labels.
void enter_run_parameters(Console& console, RunSettings& settings);

}  // namespace quorel
