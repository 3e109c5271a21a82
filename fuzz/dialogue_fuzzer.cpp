// The whole console dialogue up to the start of the trials, the input being
// the answer stream.
#include <cstddef>
#include <cstdint>

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorel::fuzz::fuzz_dialogue(data, size);
    return 0;
}
