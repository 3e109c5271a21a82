#pragma once
// The run sequence: banner and algorithm, specification, run parameters, time
// grid, filter bank, trial log, trials, final report, elapsed time, key wait.
#include <cstdint>
#include <functional>
#include <iosfwd>

#include "run/console.hpp"
#include "run/trial_loop.hpp"

namespace quorel {

struct RunOptions {
    int32_t threads = 0;                 // trial workers; 0 = every hardware thread
    KernelOptions kernels;
    std::function<double()> clock;       // calendar seconds; the system clock when empty
    bool stop_before_trials = false;     // end (status 0) once the trial log has its headers
};

// One whole run over the given streams.  Returns the process exit status: 1
// after a fatal check (its message printed), otherwise the key wait's status.
int run_quorel(std::istream& in, std::ostream& out, KeyReader key_reader, const RunOptions& options = {});

}  // namespace quorel
