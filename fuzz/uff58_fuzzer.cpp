// The universal-file (dataset 58) reader, from a file and in memory.
#include <cstddef>
#include <cstdint>

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorel::fuzz::fuzz_uff58(data, size);
    return 0;
}
