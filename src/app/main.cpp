// quorel: with no argument the dialogue, with arguments the command line.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "app/dialogue.hpp"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    if (argc <= 1) return quorel::run_dialogue(std::cin, std::cout, quorel::read_key_from_stdin);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return quorel::run_command_line(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
