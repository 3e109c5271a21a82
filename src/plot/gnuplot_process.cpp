#include "plot/gnuplot_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/output_file.hpp"
#include "plot/gnuplot_script.hpp"

extern char** environ;

namespace quorel::plot {

namespace {

// Runs gnuplot with `args` (after the program name), standard input from
// /dev/null, standard output to /dev/null when `quiet`, in `directory` unless
// it is empty, and waits for it.
GnuplotRun spawn_gnuplot(std::vector<std::string> args, const std::string& directory, bool quiet) {
    std::string program = "gnuplot";
    std::vector<char*> argv = {program.data()};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (quiet) posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // The scripts name the run's files without a folder: gnuplot reads and
    // writes them from the run's folder, as `gnuplot srs_3.gp` run there does.
    int error = directory.empty() ? 0 : posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    // An ignored SIGPIPE would be inherited: gnuplot gets the usual one.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    if (error == 0) error = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);

    GnuplotRun run;
    if (error != 0) {
        run.found = error != ENOENT;
        run.detail = std::strerror(error);
        return run;
    }
    int status = 0;
    pid_t waited = 0;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        run.detail = std::strerror(errno);
    } else if (WIFEXITED(status)) {
        run.success = WEXITSTATUS(status) == 0;
        run.detail = format("exit status %d", WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        run.detail = format("signal %d", WTERMSIG(status));
    }
    return run;
}

// Why the SVG picture `path` is incomplete, or nothing when it ends with the
// closing tag (blanks may follow).  gnuplot exits 0 even when its writes fail,
// so a picture cut short by a full disk is known only by its end.
std::optional<std::string> incomplete_svg(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return format("gnuplot wrote no picture (%s)", std::strerror(errno));
    struct stat info {};
    char tail[256] = {};
    ssize_t got = -1;
    if (::fstat(fd, &info) == 0) {
        const off_t start = info.st_size > static_cast<off_t>(sizeof tail) ? info.st_size - static_cast<off_t>(sizeof tail) : 0;
        got = ::pread(fd, tail, sizeof tail, start);
    }
    const int error_number = errno;
    ::close(fd);
    if (got < 0) return format("it cannot be read back (%s)", std::strerror(error_number));
    std::string_view text(tail, static_cast<size_t>(got));
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    constexpr std::string_view closing = "</svg>";
    if (text.size() >= closing.size() && text.substr(text.size() - closing.size()) == closing) return std::nullopt;
    return format("gnuplot's file of %lld bytes ends before the closing </svg> (a full disk?)",
                  static_cast<long long>(info.st_size));
}

}  // namespace

GnuplotRun run_gnuplot(const std::string& directory, const std::string& output, const std::string& script) {
    // A script name starting with '-' would read as an option.
    return spawn_gnuplot({"-e", "outfile=" + gnuplot_string(output), script.rfind('-', 0) == 0 ? "./" + script : script},
                         directory, false);
}

GnuplotRun try_gnuplot() { return spawn_gnuplot({"--version"}, "", true); }

bool draw_picture(const std::string& directory, const PictureNames& names, const std::string& script) {
    const std::string folder = directory.empty() ? "." : directory;
    auto path = [&](const std::string& name) { return folder == "." ? name : folder + "/" + name; };
    PendingName script_file(path(names.script));
    PendingName picture_file(path(names.picture));
    {
        OutputFile file(script_file);
        file.write(script);
        file.close();
    }
    const GnuplotRun run = run_gnuplot(folder, temporary_name(names.picture), temporary_name(names.script));
    if (!run.found) return false;
    if (!run.success) {
        throw QuorelError(format("\n Error: gnuplot failed on %s (%s): %s not drawn \n", path(names.script).c_str(),
                                 run.detail.c_str(), path(names.picture).c_str()));
    }
    if (const std::optional<std::string> fault = incomplete_svg(picture_file.temporary())) {
        throw QuorelError(format("\n Error: %s not drawn: %s \n", path(names.picture).c_str(), fault->c_str()));
    }
    picture_file.commit();
    script_file.commit();
    return true;
}

}  // namespace quorel::plot
