#pragma once
// The one error type of the program.  A fatal check anywhere throws it with the
// exact console text of its message; the entry point prints that text, flushes
// standard output and ends the process with status 1.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace quorel {

// The checks of the synthesis, each about one wavelet of the grid.  The
// kernels that make them know the index alone; a failed one says which check
// and which wavelet, and the trial loop, which holds the specification and the
// history, adds a line in the user's terms.
enum class SynthesisCheck : int32_t {
    none,         // not a synthesis check
    half_sines,   // fewer than 3 half-sines
    frequency,    // 2 pi f not above 3 rad/sec
    amplitude,    // |A_i| below 1e-20
    span,         // N_i / (2 f_i) below 1e-20 sec
    rms,          // the whole history below 1e-20 root-mean-square
    scale,        // amplitude correction factor not a number or outside [1e-20, 1e20]
    srs,          // a forced-phase SRS peak not above 1e-20 in magnitude
};

class QuorelError : public std::runtime_error {
public:
    explicit QuorelError(const std::string& message) : std::runtime_error(message) {}
    QuorelError(const std::string& message, SynthesisCheck check, int32_t wavelet)
        : std::runtime_error(message), check_(check), wavelet_(wavelet) {}

    SynthesisCheck check() const { return check_; }
    int32_t wavelet() const { return wavelet_; }   // grid index, -1 when the check is about no one wavelet

private:
    SynthesisCheck check_ = SynthesisCheck::none;
    int32_t wavelet_ = -1;
};

}  // namespace quorel
