#include "base/output_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

QuorelError file_error(const std::string& path, int error_number) {
    return QuorelError(format("\n Error: %s: %s \n", path.c_str(), std::strerror(error_number)));
}

std::string temporary_name(const std::string& final_name) { return final_name + ".part"; }

namespace {

// The lock of a trial log and of a checked folder: exclusive and never
// waiting.  0 once held, else the errno (EWOULDBLOCK: another run holds it).
int lock_without_waiting(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno; }

// Whether a file can be created in the folder open as `fd`: 0, or the errno
// of the failed creation (EACCES, EROFS).  An unnamed file leaves nothing behind
// whatever happens; where the file system has none, a named one is made and
// removed at once (the folder's lock keeps other runs off its name).
int creation_error(int fd) {
    const int unnamed = ::openat(fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        ::close(unnamed);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    const char* const probe = ".quorel-write-test.part";
    ::unlinkat(fd, probe, 0);
    const int named = ::openat(fd, probe, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (named < 0) return errno;
    ::close(named);
    ::unlinkat(fd, probe, 0);
    return 0;
}

}  // namespace

PendingName::PendingName(std::string final_name)
    : final_name_(std::move(final_name)), temporary_(temporary_name(final_name_)) {}

PendingName::~PendingName() { discard(); }

int PendingName::create() {
    // The trial log's lock (a checked folder's own lock) keeps other runs out
    // of the folder, so a file of this name is a leftover of a run that was
    // killed.  Unlinking it first and creating exclusively never follows a
    // link planted there.
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
    if (const int error_number = lock_without_waiting(fd); error_number != 0) {
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

FolderLock::FolderLock(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(fs::symlink_status(folder, error)) && !fs::is_directory(folder, error)) {
        throw QuorelError(format("\n Error: the output folder %s is a file, not a folder \n", folder.c_str()));
    }
    fs::create_directories(folder, error);
    if (error) {
        throw QuorelError(format("\n Error: cannot create the output folder %s: %s \n", folder.c_str(),
                                 error.message().c_str()));
    }
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error_number = fd_ < 0 ? errno : lock_without_waiting(fd_);
    const bool in_use = error_number == EWOULDBLOCK;
    if (error_number == 0) error_number = creation_error(fd_);
    if (error_number == 0) return;
    if (fd_ >= 0) ::close(fd_);
    if (in_use) throw QuorelError(format("\n Error: %s is in use by another quorel run \n", folder.c_str()));
    throw QuorelError(format("\n Error: cannot write in the output folder %s: %s \n", folder.c_str(),
                             std::strerror(error_number)));
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace quorel
