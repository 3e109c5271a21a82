#pragma once
// Stopping a run early: SIGINT, SIGTERM and SIGHUP.
//
// While a run is catching them (from the moment it holds its trial log to its
// end), the first of these signals only records its number.  The trials see
// it within one evaluation and the run ends as a failed one does: no result
// file gets its name, the trial log ends with interrupted_message, and the
// process exits with 128 + the signal number.  The handler restores every
// default disposition at once, so a second signal during that cleanup takes
// its default effect.  Outside a run (at a question of the dialogue, while
// reading the inputs) a signal takes its default effect: nothing is being
// written then.
#include <atomic>

namespace quorel {

struct StopRequest {
    std::atomic<int> signal{0};           // the signal that asked the run to stop; 0 while none has
    std::atomic<bool> catching{false};    // signals stop the run rather than the process
};

inline constexpr const char* interrupted_message = "\n Interrupted. \n";

// Routes SIGINT, SIGTERM and SIGHUP to `request`, which must live as long as
// the process; ignores SIGPIPE, so that writing to a closed pipe is a write
// error of the run rather than the end of the process.
void catch_stop_signals(StopRequest& request);

// Makes signals stop the run while it is alive (nothing when `request` is
// null).
class CatchingStops {
public:
    explicit CatchingStops(StopRequest* request);
    CatchingStops(const CatchingStops&) = delete;
    CatchingStops& operator=(const CatchingStops&) = delete;
    ~CatchingStops();

private:
    StopRequest* request_;
};

// Throws QuorelError(interrupted_message) once a stop is requested (`stop`:
// a StopRequest's signal, or null).
void check_stop(const std::atomic<int>* stop);

// The exit status of a run stopped by `signal_number`: 128 + the number.
inline int interrupted_status(int signal_number) { return 128 + signal_number; }

}  // namespace quorel
