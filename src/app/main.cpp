// quorel: with no argument the dialogue, with arguments the command line.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "app/dialogue.hpp"
#include "base/stop_request.hpp"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    // Static: a signal may come while the process ends.
    static quorel::StopRequest stop;
    quorel::catch_stop_signals(stop);
    if (argc <= 1) {
        quorel::RunOptions options;
        options.stop = &stop;
        options.errors = &std::cerr;
        return quorel::run_dialogue(std::cin, std::cout, quorel::read_key_from_stdin, options);
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    return quorel::run_command_line(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0, &stop);
}
