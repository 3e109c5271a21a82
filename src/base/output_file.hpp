#pragma once
// A text output file, created or truncated.  Failing to create it, or any
// write error found when it is flushed or closed (disk full, I/O error), ends
// the run with "\n Error: <path>: <reason> \n", the reason being the system's
// text for the error of the failing call: a run never reports success after
// leaving an incomplete file.  The file is closed when the object dies.
//
// A file given up before close() (a fatal check while it was being written, or
// one of its own write errors) cannot pass for a complete one: a result file is
// removed, and the trial log, whose lines stay true as far as they go, is kept
// and ends with the fatal message (see abandon_with).
#include <cstdio>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace quorel {

class OutputFile {
public:
    enum class OnAbandon { remove, keep };
    // exclusive: the file is opened without truncating it, locked (flock,
    // never waiting) and only then truncated, and the lock is held until the
    // file is closed.  A file locked by another process ends the run with
    // "another run is using <path>" and is left untouched.
    enum class Lock { none, exclusive };

    explicit OutputFile(std::string path, OnAbandon on_abandon = OnAbandon::remove, Lock lock = Lock::none);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    [[gnu::format(printf, 2, 3)]] void printf(const char* fmt, ...);
    void write(std::string_view text);
    void flush();
    void close();

    // Gives the file up: a kept file gets `message` as its last text, then
    // either kind is closed (a removed file disappears).  Never throws; write
    // errors here are ignored, as the run is failing already.
    void abandon_with(std::string_view message) noexcept;

    const std::string& name() const { return name_; }

private:
    [[noreturn]] void fail(int error_number);
    void note_error(int error_number);
    void abandon() noexcept;
    void open_locked();

    std::string name_;
    OnAbandon on_abandon_;
    std::FILE* file_ = nullptr;
    int error_number_ = 0;   // errno of the first failed write
};

// "\n Error: <path>: <strerror(error_number)> \n"
QuorelError file_error(const std::string& path, int error_number);

}  // namespace quorel
