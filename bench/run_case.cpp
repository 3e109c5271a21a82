// The program with its engine settings exposed, for benchmarks and
// comparisons: answers on standard input as for quorel itself.
//
//   quorel_run [--threads N] [--scalar-srs] [--dense-synthesis] [--baseline]
//
// --baseline is the straightforward engine: one thread, the plain SRS loop
// and the full-length synthesis.  Output is identical in every mode.
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "run/driver.hpp"

int main(int argc, char** argv) {
    quorel::RunOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            options.threads = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--scalar-srs") == 0) {
            options.kernels.srs = quorel::SrsKernel::scalar;
        } else if (std::strcmp(argv[i], "--dense-synthesis") == 0) {
            options.kernels.dense_synthesis = true;
        } else if (std::strcmp(argv[i], "--baseline") == 0) {
            options.threads = 1;
            options.kernels.srs = quorel::SrsKernel::scalar;
            options.kernels.dense_synthesis = true;
        } else {
            std::cerr << "usage: quorel_run [--threads N] [--scalar-srs] [--dense-synthesis] [--baseline]\n";
            return 2;
        }
    }
    std::ios::sync_with_stdio(false);
    return quorel::run_quorel(std::cin, std::cout, quorel::read_key_from_stdin, options);
}
