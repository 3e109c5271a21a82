#include "base/output_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

std::string temporary_name(const std::string& final_name) { return final_name + ".part"; }

PendingName::PendingName(std::string final_name)
    : final_name_(std::move(final_name)), temporary_(temporary_name(final_name_)) {}

PendingName::~PendingName() { discard(); }

int PendingName::create() {
    // The trial log's lock keeps other runs out of the folder, so a file of
    // this name is a leftover of a run that was killed.  Unlinking it first
    // and creating exclusively never follows a link planted there.
    if (::unlink(temporary_.c_str()) != 0 && errno != ENOENT) throw file_error(final_name_, errno);
    const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) throw file_error(final_name_, errno);
    pending_ = true;
    return fd;
}

void PendingName::commit() {
    if (std::rename(temporary_.c_str(), final_name_.c_str()) != 0) {
        const int error_number = errno;
        discard();
        throw file_error(final_name_, error_number);
    }
    pending_ = false;
}

void PendingName::discard() noexcept {
    if (!pending_) return;
    ::unlink(temporary_.c_str());
    pending_ = false;
}

OutputFile::OutputFile(std::string path, Kind kind) : name_(std::move(path)), kind_(kind) {
    if (kind_ == Kind::trial_log) {
        open_trial_log();
        return;
    }
    pending_ = &own_pending_.emplace(name_);
    open_temporary();
}

OutputFile::OutputFile(PendingName& target)
    : name_(target.final_name()), kind_(Kind::result), pending_(&target), commit_on_close_(false) {
    open_temporary();
}

void OutputFile::open_temporary() {
    const int fd = pending_->create();
    file_ = ::fdopen(fd, "w");
    if (file_ == nullptr) {
        const int error_number = errno;
        ::close(fd);
        fail(error_number);
    }
}

void OutputFile::open_trial_log() {
    // A link would make this run write, and lock, a file elsewhere.
    struct stat status {};
    if (::lstat(name_.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        throw QuorelError(format("\n Error: %s is a symbolic link: the trial log must be a file of its own \n",
                                 name_.c_str()));
    }
    // Truncating before the lock is held would wipe the log of the run that
    // holds it.  O_NOFOLLOW closes the gap between the check and the open.
    const int fd = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
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
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (pending_ != nullptr) pending_->discard();
    pending_ = nullptr;
}

void OutputFile::abandon_with(std::string_view message) noexcept {
    if (file_ != nullptr && kind_ == Kind::trial_log) std::fwrite(message.data(), 1, message.size(), file_);
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
    if (error_number_ != 0) fail(error_number_);
    if (pending_ != nullptr && commit_on_close_) pending_->commit();
    pending_ = nullptr;
}

}  // namespace quorel
