#pragma once
// The files a run writes.
//
// A result file (the optimum files, the score tables, rank_d.out, the CSV files,
// summary.json) is written under a temporary name beside its own,
// "<name>.part", and takes its name by rename only once it is complete and
// closed.  However a run ends early (a fatal check, a write error, a signal),
// no file under a result's name is ever a partial one.  The rename replaces
// whatever held the name, a symbolic link included, without writing through it.
//
// The trial log is written live under its own name, so that its lines can be
// followed as the trials finish.  It is locked (flock, never waiting) from its
// opening to its closing, and truncated only once the lock is held: a second
// run in the folder ends with "another run is using <path>" and leaves the log
// untouched.  A trial log that is a symbolic link is refused.  Given up before
// close(), it keeps the lines written, which stay true as far as they go, and
// ends with the message of the failure (abandon_with).
//
// A folder that `quorel check` writes into is locked the same way, by its
// own descriptor, for the whole run: a second run there ends with "<folder>
// is in use by another quorel run" before it computes anything.
//
// Failing to create a file, or any write error found when it is flushed or
// closed (disk full, I/O error), ends the run with
// "\n Error: <path>: <reason> \n", the reason being the system's text for the
// error of the failing call.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace quorel {

// "<final_name>.part"
std::string temporary_name(const std::string& final_name);

// A temporary name reserved beside a final one: the temporary file is removed
// when the object dies, unless commit() has given it the final name.
class PendingName {
public:
    explicit PendingName(std::string final_name);
    PendingName(const PendingName&) = delete;
    PendingName& operator=(const PendingName&) = delete;
    ~PendingName();

    const std::string& final_name() const { return final_name_; }
    const std::string& temporary() const { return temporary_; }

    // Creates the temporary file for writing, empty (a file or link left
    // there by an earlier run is removed first, never written through).
    // Returns its descriptor.
    int create();
    // Renames the temporary file to the final name.
    void commit();
    // Removes the temporary file now.  Never throws.
    void discard() noexcept;

private:
    std::string final_name_;
    std::string temporary_;
    bool pending_ = true;
};

class OutputFile {
public:
    enum class Kind { result, trial_log };

    explicit OutputFile(std::string path, Kind kind = Kind::result);
    // A file written under `target`'s temporary name, which close() completes
    // but leaves to `target`'s owner to commit.
    explicit OutputFile(PendingName& target);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    [[gnu::format(printf, 2, 3)]] void printf(const char* fmt, ...);
    void write(std::string_view text);
    void flush();
    // Completes the file: a result file then has its name.
    void close();

    // Gives the file up: a trial log gets `message` as its last text and is
    // closed; a result file is closed and its temporary file removed.  Never
    // throws; write errors here are ignored, as the run is failing already.
    void abandon_with(std::string_view message) noexcept;

    const std::string& name() const { return name_; }

private:
    [[noreturn]] void fail(int error_number);
    void note_error(int error_number);
    void abandon() noexcept;
    void open_temporary();
    void open_trial_log();

    std::string name_;
    Kind kind_;
    std::optional<PendingName> own_pending_;
    PendingName* pending_ = nullptr;   // result files: where the text goes until it is complete
    bool commit_on_close_ = true;
    std::FILE* file_ = nullptr;
    int error_number_ = 0;   // errno of the first failed write
};

// An output folder held for one run: created with its parents when missing,
// proved writable (a folder that is a file, unwritable or on a read-only file
// system is refused, naming it and the reason) and locked as the trial log
// is, never waiting.  The lock goes with the object.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock();

private:
    int fd_ = -1;
};

// "\n Error: <path>: <strerror(error_number)> \n"
QuorelError file_error(const std::string& path, int error_number);

}  // namespace quorel
