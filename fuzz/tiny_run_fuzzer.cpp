// A complete tiny run (few trials, few samples) driven by answers mapped from
// the input.
#include <cstddef>
#include <cstdint>

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorel::fuzz::fuzz_tiny_run(data, size);
    return 0;
}
