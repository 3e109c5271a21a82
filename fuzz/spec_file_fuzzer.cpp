// The specification-file reader with the octave resampling of every spacing.
#include <cstddef>
#include <cstdint>

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorel::fuzz::fuzz_spec_file(data, size);
    return 0;
}
