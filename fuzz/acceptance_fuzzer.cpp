// The acceptance-file parser (TOML) and the judgement of the rules it gives.
#include <cstddef>
#include <cstdint>

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quorel::fuzz::fuzz_acceptance(data, size);
    return 0;
}
