#include <iostream>

#include "run/driver.hpp"

int main() {
    std::ios::sync_with_stdio(false);
    return quorel::run_quorel(std::cin, std::cout, quorel::read_key_from_stdin);
}
