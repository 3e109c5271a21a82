#pragma once
// Logarithmic distance of an SRS from the specification, in log10 units
// (x 20 for decibels).  A peak twice the specification and one half of it weigh
// the same.
#include <array>
#include <cstdint>
#include <string>

#include "base/capacity.hpp"
#include "acceptance/acceptance.hpp"
#include "specification/srs_spec.hpp"
#include "srs/srs.hpp"

namespace quorel {

struct SpectrumError {
    float max_error = 0.0f;     // largest |log10(peak / spec)|, both polarities
    float total_error = 0.0f;   // sum of |log10(xmax / spec)| + |log10(xmin / spec)|
};

SpectrumError spectrum_error(const SrsResult& srs, const SrsSpec& spec);

// An SRS beside the specification on the grid, in double, as the acceptance
// rules read it.  Fixed arrays: judging a trial allocates nothing.
struct GridComparison {
    std::array<double, max_frequencies> freq{}, spec{}, positive{}, negative{};
};

// Copies the grid, the specification and both peaks of `srs` into `c` and
// returns the comparison over the spec.count grid frequencies.
SrsComparison compare_with_spec(const SrsResult& srs, const SrsSpec& spec, GridComparison& c);

// The warning printed by every error evaluation for each specification value
// below 1e-20 (empty when there is none).
std::string low_spec_warnings(const SrsSpec& spec);

}  // namespace quorel
