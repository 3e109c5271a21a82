#include "run/parameters.hpp"

#include "run/capacity.hpp"
#include "run/error.hpp"
#include "run/format.hpp"

namespace quorel {

void set_unit_labels(RunSettings& settings) {
    settings.displacement_unit = "mm";
    settings.velocity_unit = "m/sec";
    settings.accel_unit = "G";
    if (settings.units == 1) {
        settings.displacement_unit = "inch";
        settings.velocity_unit = "in/sec";
    }
    if (settings.units == 3) settings.accel_unit = "m/sec^2";
}

void enter_run_parameters(Console& console, RunSettings& settings, RandomGenerator& rng) {
    console.print("\n Enter damping format for SRS. \n 1= damping ratio   2= Q \n");
    settings.damping_format = console.read_int();
    if (settings.damping_format == 1) {
        console.print("\n Enter SRS damping ratio (typically 0.05) ");
        settings.damping = console.read_real();
    } else {
        console.print("\n Enter SRS amplification factor Q (typically 10) ");
        const float q = console.read_real();
        settings.damping = static_cast<float>(1.0 / (2.0 * static_cast<double>(q)));
    }
    if (settings.damping >= 1.0f) throw QuorelError("\n Error:  damping value must be < 1 \n");
    // A negative ratio (typed, or from a negative Q) makes every SRS filter unstable.
    if (settings.damping < 0.0f) throw QuorelError("\n Error:  damping value must be >= 0 \n");

    console.print("\n\n Enter the number of trials. \n");
    settings.trial_count = console.read_int();
    if (settings.trial_count > max_trials) {
        settings.trial_count = max_trials;
        console.print(format("\n Warning: number of trials reduced to %ld \n", static_cast<long>(max_trials)));
    }
    if (settings.trial_count < 1) throw QuorelError("\n Error: number of trials must be at least 1 \n");

    do {
        console.print("\n\n Enter units ");
        console.print("\n  1=English:  G,       in/sec, in   ");
        console.print("\n  2=metric:   G,       m/sec,  mm   ");
        console.print("\n  3=metric:   m/sec^2, m/sec,  mm  \n");
        settings.units = console.read_int();
    } while (settings.units < 1 || settings.units > 3);
    set_unit_labels(settings);

    console.print("\n\n Enter arbitrary integer (1 to 1000) \n");
    settings.seed = console.read_int();
    discard_draws(rng, settings.seed);
}

}  // namespace quorel
