#pragma once
// The values of a unit wavelet at its phases: v = float(sin(theta / N) sin(theta)),
// the product taken in double and rounded once to float, with the bits the C
// library's sin gives.
#include <cmath>
#include <cstdint>

#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Relative half-width of the interval around a vectorised product that must
// round to a single float for the product to be kept (see basis_values.cpp):
// 12 units of 2^-53.
inline constexpr double sine_product_margin = 12.0 * 0x1p-53;

// The reference value: the C library's sines.
inline float library_basis_value(double theta, double half_sines) {
    return static_cast<float>(std::sin(theta / half_sines) * std::sin(theta));
}

// out[k] = library_basis_value(theta[k], half_sines) for k < count, bit for bit.
// With the vectorised kernel the sines come from SLEEF, and a value whose
// product lies within `margin` |product| of a float rounding boundary is
// recomputed with the C library; `values` and `fallbacks` count them.  The
// margin is sine_product_margin; a wider one (a test's) only recomputes more.
void basis_values(const double* theta, int32_t count, double half_sines, SineKernel kernel, double margin, float* out,
                  int64_t& values, int64_t& fallbacks);

}  // namespace quorel
