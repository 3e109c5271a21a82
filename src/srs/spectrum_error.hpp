#pragma once
// Logarithmic distance of an SRS from the specification, in log10 units
// (x 20 for decibels).  A peak twice the specification and one half of it weigh
// the same.
#include <cstdint>
#include <string>

#include "spec/srs_spec.hpp"
#include "srs/srs.hpp"

namespace quorel {

struct SpectrumError {
    float max_error = 0.0f;     // largest |log10(peak / spec)|, both polarities
    float total_error = 0.0f;   // sum of |log10(xmax / spec)| + |log10(xmin / spec)|
};

SpectrumError spectrum_error(const SrsResult& srs, const SrsSpec& spec);

// The warning printed by every error evaluation for each specification value
// below 1e-20 (empty when there is none).
std::string low_spec_warnings(const SrsSpec& spec);

}  // namespace quorel
