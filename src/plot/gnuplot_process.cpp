#include "plot/gnuplot_process.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/part_files.hpp"
#include "plot/gnuplot_script.hpp"

extern char** environ;

namespace quorel::plot {

GnuplotRun run_gnuplot(const std::string& directory, const std::string& output, const std::string& script) {
    std::string program = "gnuplot";
    std::string option = "-e";
    std::string assignment = "outfile=" + gnuplot_string(output);
    // A script name starting with '-' would read as an option.
    std::string script_name = script.rfind('-', 0) == 0 ? "./" + script : script;
    std::vector<char*> argv = {program.data(), option.data(), assignment.data(), script_name.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The scripts name the run's files without a folder: gnuplot reads and
    // writes them from the run's folder, as `gnuplot srs_3.gp` run there does.
    int error = posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    pid_t pid = 0;
    if (error == 0) error = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
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

bool gnuplot_available() {
    std::string program = "gnuplot";
    std::string option = "--version";
    std::vector<char*> argv = {program.data(), option.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return false;
    int status = 0;
    pid_t waited = 0;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool draw_picture(const std::string& directory, const PictureNames& names, const std::string& script) {
    const std::string folder = directory.empty() ? "." : directory;
    auto path = [&](const std::string& name) { return folder == "." ? name : folder + "/" + name; };
    PartFiles parts;
    parts.write(path(names.script), script);
    parts.add(path(names.picture));
    const GnuplotRun run = run_gnuplot(folder, names.picture + ".part", names.script + ".part");
    if (!run.found) return false;
    if (!run.success) {
        throw QuorelError(format("\n Error: gnuplot failed on %s (%s): %s not drawn \n", path(names.script).c_str(),
                                 run.detail.c_str(), path(names.picture).c_str()));
    }
    parts.commit(path(names.picture));
    parts.commit(path(names.script));
    return true;
}

}  // namespace quorel::plot
