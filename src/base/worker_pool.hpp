#pragma once
// Worker threads: the one way work is spread over threads.  WorkerThreads
// starts workers and joins them; run_tasks runs a list of independent tasks on
// them and on the calling thread.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

namespace quorel {

// Threads each running body(w), joined by join() or on destruction.
class WorkerThreads {
public:
    WorkerThreads() = default;
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;
    ~WorkerThreads() { join(); }

    // Starts up to `count` workers, body(0) .. body(count - 1).  A thread the
    // system refuses is left out: results may not depend on the number of
    // workers, so the work carries on with those that started.
    void start(int32_t count, const std::function<void(int32_t)>& body) {
        for (int32_t w = 0; w < count; ++w) {
            try {
                threads_.emplace_back(body, w);
            } catch (const std::system_error&) {
                break;
            }
        }
    }
    int32_t started() const { return static_cast<int32_t>(threads_.size()); }
    void join() {
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }

private:
    std::vector<std::thread> threads_;
};

// Runs body(i) for i < count on `threads` threads (the calling thread one of
// them), each task once; the first failure in task order is rethrown on the
// calling thread after every thread has ended.
template <class Body>
void run_tasks(size_t count, int32_t threads, const Body& body) {
    std::vector<std::exception_ptr> failures(count);
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i = next++; i < count; i = next++) {
            try {
                body(i);
            } catch (...) {
                failures[i] = std::current_exception();
            }
        }
    };
    const size_t workers = std::min(count, static_cast<size_t>(std::max(threads, 1)));
    {
        WorkerThreads pool;
        pool.start(static_cast<int32_t>(workers > 0 ? workers - 1 : 0), [&](int32_t) { worker(); });
        worker();
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}

}  // namespace quorel
