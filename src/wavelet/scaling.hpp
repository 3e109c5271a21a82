#pragma once
#include <cstdint>

#include "specification/srs_spec.hpp"
#include "srs/srs.hpp"

namespace quorel {

// Moves each wavelet's amplitude towards the specification at its own
// frequency:  A_i <- A_i (spec_i / ave_i)^e,  ave_i = (|xmin_i| + |xmax_i|) / 2.
// In logarithms a fraction e of the gap is closed per iteration.  Ends the run
// when a factor is not a number or outside [1e-20, 1e20].
void scale_amplitudes(const SrsResult& srs, const SrsSpec& spec, double exponent, float* amplitudes);

}  // namespace quorel
