#include <iostream>
#include <string>
#include <vector>

#include "plot/plot_program.hpp"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return quorel::plot::run_plot_program(args, std::cout, std::cerr);
}
