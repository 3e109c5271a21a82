#include "base/output_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

QuorelError file_error(const std::string& path, int error_number) {
    return QuorelError(format("\n Error: %s: %s \n", path.c_str(), std::strerror(error_number)));
}

OutputFile::OutputFile(std::string path, OnAbandon on_abandon, Lock lock)
    : name_(std::move(path)), on_abandon_(on_abandon) {
    if (lock == Lock::exclusive) {
        open_locked();
        return;
    }
    file_ = std::fopen(name_.c_str(), "w");
    if (file_ == nullptr) fail(errno);
}

void OutputFile::open_locked() {
    // Truncating before the lock is held would wipe the file of the run that
    // holds it.
    const int fd = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) fail(errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error_number = errno;
        ::close(fd);
        if (error_number == EWOULDBLOCK) {
            throw QuorelError(format("\n Error: another run is using %s \n", name_.c_str()));
        }
        fail(error_number);
    }
    if (::ftruncate(fd, 0) != 0) {
        const int error_number = errno;
        ::close(fd);
        fail(error_number);
    }
    file_ = ::fdopen(fd, "w");
    if (file_ == nullptr) {
        const int error_number = errno;
        ::close(fd);
        fail(error_number);
    }
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

void OutputFile::note_error(int error_number) {
    if (error_number_ == 0) error_number_ = error_number != 0 ? error_number : EIO;
}

void OutputFile::fail(int error_number) {
    abandon();
    throw file_error(name_, error_number != 0 ? error_number : EIO);
}

void OutputFile::printf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    if (std::vfprintf(file_, fmt, args) < 0) note_error(errno);
    va_end(args);
}

void OutputFile::write(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) note_error(errno);
}

void OutputFile::flush() {
    if (std::fflush(file_) != 0) note_error(errno);
    if (std::ferror(file_)) fail(error_number_);
}

void OutputFile::close() {
    if (file_ == nullptr) return;
    if (std::ferror(file_)) note_error(0);
    if (std::fclose(file_) != 0) note_error(errno);
    file_ = nullptr;
    if (error_number_ != 0) {
        if (on_abandon_ == OnAbandon::remove) std::remove(name_.c_str());
        throw file_error(name_, error_number_);
    }
}

}  // namespace quorel
