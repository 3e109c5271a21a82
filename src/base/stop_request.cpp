#include "base/stop_request.hpp"

#include <signal.h>

#include <cerrno>

#include "base/error.hpp"

namespace quorel {

namespace {

// The one piece of process-wide state a signal handler needs: where to report.
std::atomic<StopRequest*> stop_target{nullptr};

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

void set_disposition(int signal_number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Reads and writes go on after the handler: the run notices the request
    // at its next check, not by a failing system call.
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

// Only async-signal-safe work: sigaction, lock-free atomics and raise.
void on_stop_signal(int signal_number) {
    const int saved_errno = errno;
    for (const int s : stop_signals) {
        struct sigaction current {};
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == on_stop_signal) set_disposition(s, SIG_DFL);
    }
    StopRequest* request = stop_target.load();
    if (request != nullptr && request->catching.load()) {
        request->signal.store(signal_number);
    } else {
        // Blocked until the handler returns, then delivered with its default
        // effect.
        raise(signal_number);
    }
    errno = saved_errno;
}

}  // namespace

void catch_stop_signals(StopRequest& request) {
    stop_target.store(&request);
    for (const int s : stop_signals) {
        // A signal ignored from the start (nohup, a background job) stays ignored.
        struct sigaction current {};
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        set_disposition(s, on_stop_signal);
    }
    set_disposition(SIGPIPE, SIG_IGN);
}

CatchingStops::CatchingStops(StopRequest* request) : request_(request) {
    if (request_ != nullptr) request_->catching.store(true);
}

CatchingStops::~CatchingStops() {
    if (request_ != nullptr) request_->catching.store(false);
}

void check_stop(const std::atomic<int>* stop) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed) != 0) throw QuorelError(interrupted_message);
}

}  // namespace quorel
