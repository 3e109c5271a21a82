#pragma once
// Butterworth high-pass and low-pass filters of a sampled record: the analog
// prototype of order N mapped to z by the bilinear transform, its corner
// prewarped so that the digital filter's magnitude at the corner is exactly
// that of the prototype, 1/sqrt(2):
//
//   |H(f)|^2 = 1 / (1 + (tan(pi f / fs) / tan(pi fc / fs))^(2N))    low-pass
//   |H(f)|^2 = 1 / (1 + (tan(pi fc / fs) / tan(pi f / fs))^(2N))    high-pass
//
// as a cascade of second-order sections (one first-order section for odd N).
// Run forward and then backward the phase cancels and the magnitude is
// squared: -6.02 dB at the corner, the roll-off of order 2N.
#include <cstdint>
#include <span>
#include <vector>

namespace quorel {

// y_k = b0 x_k + b1 x_(k-1) + b2 x_(k-2) - a1 y_(k-1) - a2 y_(k-2)
struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

enum class FilterKind : uint8_t { lowpass, highpass };

struct ButterworthFilter {
    std::vector<Biquad> sections;
};

// The filter of `order` (1 or more) with its corner at `corner` Hz, for
// samples at `sample_rate`; the corner lies strictly between 0 and
// sample_rate / 2 (the caller checks).
ButterworthFilter design_butterworth(FilterKind kind, int32_t order, double corner, double sample_rate);

// One pass in place, each section in direct form II transposed, starting in
// the steady state of a constant input equal to the first sample (no start-up
// transient from an offset).
void filter_forward(const ButterworthFilter& filter, std::span<double> samples);

// Forward, then backward over the result: zero phase, the magnitude squared.
void filter_zero_phase(const ButterworthFilter& filter, std::span<double> samples);

}  // namespace quorel
