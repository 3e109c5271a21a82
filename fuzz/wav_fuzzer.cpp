// The WAV record reader, from a file.
#include <cstddef>
#include <cstdint>

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorel::fuzz::fuzz_wav(data, size);
    return 0;
}
