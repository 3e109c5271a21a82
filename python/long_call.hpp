#pragma once
// A long call of the module: the work runs on a thread of its own while the
// calling thread, holding the GIL only between waits, passes Ctrl-C on as a
// stop request and hands the progress to the caller's callback.  Nothing on
// the work's thread touches a Python object.
#include <pybind11/pybind11.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/stop_request.hpp"

namespace quorel::python {

class LongCall {
public:
    // Its signal is set when the caller has given up (Ctrl-C, or a failing
    // callback): the work ends as soon as it sees it.
    StopRequest& stop() { return stop_; }

    // From the work's thread: `done` of `total` steps are finished.
    void post_progress(int64_t done, int64_t total) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.emplace_back(done, total);
        }
        wake_.notify_all();
    }

    // Runs work() to its end, calling progress(done, total) for every step
    // posted, in order, on the calling thread (none when progress is None).
    // Ctrl-C raises KeyboardInterrupt within a tenth of a second of the
    // work's stop; an exception of the callback is raised the same way.
    template <typename Work>
    void run(Work&& work, const pybind11::object& progress) {
        namespace py = pybind11;
        std::exception_ptr failure;
        std::thread worker([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                finished_ = true;
            }
            wake_.notify_all();
        });
        auto give_up = [&] {
            stop_.signal.store(SIGINT);
            py::gil_scoped_release release;
            worker.join();
        };
        try {
            for (;;) {
                std::vector<std::pair<int64_t, int64_t>> events;
                bool finished = false;
                {
                    py::gil_scoped_release release;
                    std::unique_lock<std::mutex> lock(mutex_);
                    wake_.wait_for(lock, std::chrono::milliseconds(100),
                                   [&] { return finished_ || !events_.empty(); });
                    events.swap(events_);
                    finished = finished_;
                }
                if (!progress.is_none()) {
                    for (const auto& [done, total] : events) progress(done, total);
                }
                if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                if (finished) break;
            }
        } catch (...) {
            give_up();
            throw;
        }
        {
            py::gil_scoped_release release;
            worker.join();
        }
        if (failure) std::rethrow_exception(failure);
    }

private:
    StopRequest stop_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::pair<int64_t, int64_t>> events_;
    bool finished_ = false;
};

}  // namespace quorel::python
