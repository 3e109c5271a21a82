#pragma once
// A text output file in the working directory, created or truncated.  Failing to
// create it, or any write error found when it is flushed or closed (disk full,
// I/O error), ends the run with "\n Error: <name> \n": a run never reports success
// after leaving an incomplete file.  The file is closed when the object dies.
#include <cstdio>
#include <string>
#include <string_view>

namespace quorel {

class OutputFile {
public:
    explicit OutputFile(std::string name);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    [[gnu::format(printf, 2, 3)]] void printf(const char* fmt, ...);
    void write(std::string_view text);
    void flush();
    void close();

    const std::string& name() const { return name_; }

private:
    [[noreturn]] void fail() const;

    std::string name_;
    std::FILE* file_ = nullptr;
};

}  // namespace quorel
