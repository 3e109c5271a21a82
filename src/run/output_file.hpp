#pragma once
// A text output file in the working directory, created or truncated.  Failing to
// create it, or any write error found when it is flushed or closed (disk full,
// I/O error), ends the run with "\n Error: <name> \n": a run never reports success
// after leaving an incomplete file.  The file is closed when the object dies.
//
// A file given up before close() (a fatal check while it was being written, or
// one of its own write errors) cannot pass for a complete one: a result file is
// removed, and the trial log, whose lines stay true as far as they go, is kept
// and ends with the fatal message (see abandon_with).
#include <cstdio>
#include <string>
#include <string_view>

#include "run/error.hpp"

namespace quorel {

class OutputFile {
public:
    enum class OnAbandon { remove, keep };

    explicit OutputFile(std::string name, OnAbandon on_abandon = OnAbandon::remove);
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
    QuorelError error() const;   // "\n Error: <name> \n"
    [[noreturn]] void fail();
    void abandon() noexcept;

    std::string name_;
    OnAbandon on_abandon_;
    std::FILE* file_ = nullptr;
};

}  // namespace quorel
