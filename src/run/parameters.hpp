#pragma once
#include "run/console.hpp"
#include "run/random.hpp"
#include "run/run_settings.hpp"

namespace quorel {

// Asks for the damping (ratio or Q), the number of trials, the units and the
// "arbitrary integer", checks them, sets the unit labels and discards seed - 1
// random draws.
void enter_run_parameters(Console& console, RunSettings& settings, RandomGenerator& rng);

// Unit labels of a unit system (1, 2 or 3).
void set_unit_labels(RunSettings& settings);

}  // namespace quorel
