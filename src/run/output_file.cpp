#include "run/output_file.hpp"

#include <cstdarg>

#include "run/error.hpp"
#include "run/format.hpp"

namespace quorel {

OutputFile::OutputFile(std::string name, OnAbandon on_abandon) : name_(std::move(name)), on_abandon_(on_abandon) {
    file_ = std::fopen(name_.c_str(), "w");
    if (file_ == nullptr) fail();
}

OutputFile::~OutputFile() { abandon(); }

void OutputFile::abandon() noexcept {
    if (file_ == nullptr) return;
    std::fclose(file_);
    file_ = nullptr;
    if (on_abandon_ == OnAbandon::remove) std::remove(name_.c_str());
}

void OutputFile::abandon_with(std::string_view message) noexcept {
    if (file_ != nullptr && on_abandon_ == OnAbandon::keep) std::fwrite(message.data(), 1, message.size(), file_);
    abandon();
}

QuorelError OutputFile::error() const { return QuorelError(format("\n Error: %s \n", name_.c_str())); }

void OutputFile::fail() {
    abandon();
    throw error();
}

void OutputFile::printf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::vfprintf(file_, fmt, args);
    va_end(args);
}

void OutputFile::write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), file_); }

void OutputFile::flush() {
    if (std::fflush(file_) != 0 || std::ferror(file_)) fail();
}

void OutputFile::close() {
    if (file_ == nullptr) return;
    const bool write_failed = std::ferror(file_) != 0;
    const bool close_failed = std::fclose(file_) != 0;
    file_ = nullptr;
    if (write_failed || close_failed) {
        if (on_abandon_ == OnAbandon::remove) std::remove(name_.c_str());
        throw error();
    }
}

}  // namespace quorel
