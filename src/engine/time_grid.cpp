#include "engine/time_grid.hpp"

#include "base/capacity.hpp"
#include "base/error.hpp"
#include "base/format.hpp"
#include "base/numeric.hpp"

namespace quorel {

float top_grid_frequency(const SrsSpec& spec) { return spec.freq[static_cast<size_t>(spec.count - 1)]; }

float recommended_sample_rate(const SrsSpec& spec) {
    return static_cast<float>(10.0 * top_grid_frequency(spec));
}

void check_sample_rate(const SrsSpec& spec, float sample_rate, const std::string& given) {
    const double top = top_grid_frequency(spec);
    if (static_cast<double>(sample_rate) >= 4.0 * top) return;
    if (given.empty()) throw QuorelError("\n Error: sample rate is too low \n");
    throw QuorelError(format("\n Error: sample rate is too low: %s is below the minimum of %.9g "
                             "samples/sec (4 x the top grid frequency, %.9g Hz) \n",
                             given.c_str(), 4.0 * top, top));
}

bool set_point_count(RunSettings& settings, int32_t points) {
    const bool reduced = points > max_history_samples;
    settings.nt = reduced ? max_history_samples : points;
    settings.duration = static_cast<float>(settings.nt * static_cast<double>(settings.dt));
    return reduced;
}

bool set_duration(RunSettings& settings, float duration) {
    settings.duration = duration;
    const double quotient = static_cast<double>(duration) / settings.dt;
    if (quotient >= max_samples) {
        settings.nt = max_history_samples;
        settings.duration = static_cast<float>(settings.nt * static_cast<double>(settings.dt));
        return true;
    }
    settings.nt = truncate_to_int32(quotient);
    return false;
}

double recommended_duration(const SrsSpec& spec) { return 2.0 / static_cast<double>(spec.freq[0]); }

std::string time_grid_line(const RunSettings& settings) {
    return format("\n dt=%9.4g sec   dur=%8.4f sec  sr=%9.4g sample/sec  nt=%ld \n", static_cast<double>(settings.dt),
                  static_cast<double>(settings.duration), static_cast<double>(settings.sample_rate),
                  static_cast<long>(settings.nt));
}

std::string duration_error(const SrsSpec& spec, const RunSettings& settings) {
    // At or below the float value that the wavelet limits hold, no layout could
    // ever be generated.
    const double f0 = spec.freq[0];
    const double shortest = 1.5 / f0;
    const double d = settings.duration;
    if (!(d < shortest || d <= static_cast<float>(shortest))) return {};
    return format("\n\n Error: duration is too short: %g sec; %g Hz needs more than %g sec.\n\n", d, f0, shortest);
}

}  // namespace quorel
