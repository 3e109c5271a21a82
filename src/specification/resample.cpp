#include "specification/resample.hpp"

#include <array>
#include <cmath>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

namespace {

constexpr OctaveSpacing octave_spacings[] = {OctaveSpacing::third, OctaveSpacing::sixth, OctaveSpacing::twelfth,
                                             OctaveSpacing::twenty_fourth};

}  // namespace

float octave_fraction(OctaveSpacing spacing) {
    switch (spacing) {
        case OctaveSpacing::sixth: return static_cast<float>(1.0 / 6.0);
        case OctaveSpacing::twelfth: return static_cast<float>(1.0 / 12.0);
        case OctaveSpacing::twenty_fourth: return static_cast<float>(1.0 / 24.0);
        case OctaveSpacing::third: break;
    }
    return static_cast<float>(1.0 / 3.0);
}

OctaveSpacing octave_spacing_for_answer(int32_t answer) {
    if (answer == 2) return OctaveSpacing::sixth;
    if (answer == 3) return OctaveSpacing::twelfth;
    return OctaveSpacing::third;
}

const char* octave_spacing_name(OctaveSpacing spacing) {
    switch (spacing) {
        case OctaveSpacing::sixth: return "1/6";
        case OctaveSpacing::twelfth: return "1/12";
        case OctaveSpacing::twenty_fourth: return "1/24";
        case OctaveSpacing::third: break;
    }
    return "1/3";
}

std::optional<OctaveSpacing> octave_spacing_named(std::string_view name) {
    for (const OctaveSpacing spacing : octave_spacings) {
        if (name == octave_spacing_name(spacing)) return spacing;
    }
    return std::nullopt;
}

namespace {

// Walks the grid of the as-read points: f_0 = F[0], each further frequency
// the previous one times 2^fraction rounded to float, up to F[m-1], which
// closes the grid.  Calls append(f, a) for each point; append returns false to
// stop the walk.  slope receives the log-log slope of each input segment.
template <class Append>
void walk_octave_grid(const SrsSpec& spec, float octave_fraction, float* slope, Append append) {
    const int32_t m = spec.input_count;
    const auto& F = spec.input_freq;
    const auto& A = spec.input_accel;

    // Slope of segment k in log-log coordinates; numerator and denominator are
    // each rounded to float before the division.
    for (int32_t k = 0; k + 1 < m; ++k) {
        const float rise = static_cast<float>(std::log(static_cast<double>(A[k + 1])) - std::log(static_cast<double>(A[k])));
        const float run = static_cast<float>(std::log(static_cast<double>(F[k + 1])) - std::log(static_cast<double>(F[k])));
        slope[k] = static_cast<float>(static_cast<double>(rise) / static_cast<double>(run));
    }

    // The ratio belongs to the float fraction (0.33333334 octave, not 1/3).
    const double ratio = std::pow(2.0, static_cast<double>(octave_fraction));
    float last_grid = F[0];
    if (!append(F[0], A[0])) return;

    const float f_last = F[m - 1];
    float c = F[0];
    for (;;) {
        const float next = static_cast<float>(static_cast<double>(c) * ratio);
        // Among the subnormal floats (below 1.2e-38) a step can round back onto
        // the same frequency, and the grid would never reach the last one.
        if (!(next > c)) {
            throw QuorelError(format("\n Error: frequency %g Hz too low for the octave grid \n", static_cast<double>(c)));
        }
        c = next;
        if (c > f_last) break;
        // The log-log line of this walk is not spec_at's (interpolation.hpp):
        // the slope comes from natural logs, each step is rounded to float
        // (slope, exponent, value), and the grid values so rounded are what
        // every run's outputs are computed from, so they stay as they are.
        float value = 0.0f;
        for (int32_t k = 1; k < m; ++k) {
            if (c < F[k]) {
                const float w = static_cast<float>(
                    (std::log10(static_cast<double>(c)) - std::log10(static_cast<double>(F[k - 1]))) *
                        static_cast<double>(slope[k - 1]) +
                    std::log10(static_cast<double>(A[k - 1])));
                value = static_cast<float>(std::pow(10.0, static_cast<double>(w)));
                break;
            }
            if (c == F[k]) {
                value = A[k];
                break;
            }
        }
        last_grid = c;
        if (!append(c, value)) return;
    }
    if (spec.last_input_freq > last_grid) append(spec.last_input_freq, spec.last_input_accel);
}

}  // namespace

bool build_octave_grid(SrsSpec& spec, float octave_fraction) {
    spec.octave_fraction = octave_fraction;
    // Grid points past the capacity are counted but not stored.
    int32_t j = 0;
    walk_octave_grid(spec, octave_fraction, spec.slope.data(), [&](float f, float a) {
        if (j < max_frequencies) {
            spec.freq[j] = f;
            spec.accel[j] = a;
        }
        ++j;
        return true;
    });
    const bool reduced = j > max_frequencies;
    spec.count = reduced ? max_frequencies : j;
    return reduced;
}

OctaveGrid octave_grid(const SrsSpec& spec, float octave_fraction, int32_t limit) {
    OctaveGrid grid;
    std::array<float, max_frequencies> slope{};
    walk_octave_grid(spec, octave_fraction, slope.data(), [&](float f, float a) {
        if (grid.points >= limit) {
            grid.points = limit + 1;
            return false;
        }
        grid.freq.push_back(f);
        grid.accel.push_back(a);
        ++grid.points;
        return true;
    });
    return grid;
}

}  // namespace quorel
