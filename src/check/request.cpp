#include "check/request.hpp"

#include <algorithm>
#include <cmath>
#include <thread>

#include "acceptance/compliance.hpp"
#include "base/error.hpp"
#include "base/format.hpp"
#include "base/run_settings.hpp"
#include "specification/resample.hpp"
#include "srs/filter_bank.hpp"

namespace quorel {

PreparedCheck prepare_check_settings(const CheckRequest& request) {
    PreparedCheck prepared;
    CheckSettings& settings = prepared.settings;
    settings.algorithm = request.algorithm;
    if (request.damping) {
        settings.damping = *request.damping;
        if (settings.damping > 0.0f) prepared.q = 0.5 / static_cast<double>(settings.damping);
    } else {
        RunSettings run;
        set_q(run, request.q.value_or(10.0f));
        settings.damping = run.damping;
        prepared.q = static_cast<double>(run.q);
    }
    settings.units = request.units;
    settings.residual = request.residual;
    settings.threads = request.threads > 0 ? request.threads
                                           : static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    return prepared;
}

PreparedCheck prepare_check(const CheckRequest& request) {
    PreparedCheck prepared = prepare_check_settings(request);
    CheckSettings& settings = prepared.settings;
    prepared.grid = check_grid(request.points, check_octave_fraction(request.spacing), request.spacing,
                               request.with_spec);
    settings.rules = request.rules ? *request.rules : band_rules({});
    if (!prepared.grid.spec.empty()) {
        const std::vector<double> freq(prepared.grid.freq.begin(), prepared.grid.freq.end());
        check_band_ranges(settings.rules, freq);
    }
    return prepared;
}

float check_octave_fraction(const std::string& spacing) {
    return octave_fraction(octave_spacing_named(spacing).value_or(OctaveSpacing::sixth));
}

CheckGrid check_grid(const SrsSpec& points, float fraction, const std::string& spacing, bool with_spec) {
    const OctaveGrid octave = octave_grid(points, fraction, max_check_frequencies);
    if (octave.points > max_check_frequencies) {
        throw QuorelError(format("\n Error: the grid from %g to %g Hz at %s octave holds more than %ld frequencies: "
                                 "take a coarser spacing or a narrower range \n",
                                 static_cast<double>(points.input_freq[0]), static_cast<double>(points.last_input_freq),
                                 spacing.c_str(), static_cast<long>(max_check_frequencies)));
    }
    CheckGrid grid;
    grid.freq = octave.freq;
    if (with_spec) grid.spec = octave.accel;
    return grid;
}

std::optional<double> check_grid_rate(const CheckGrid& grid, double sample_rate, const std::string& record_name) {
    std::optional<double> coarse;
    for (const float f : grid.freq) {
        const double freq = f;
        if (freq > sample_rate / 4.0) {
            throw QuorelError(format("\n Error: %s: grid frequency %g Hz is above a quarter of its sample rate "
                                     "(%g samples/sec): check it up to %g Hz, or record it faster \n",
                                     record_name.c_str(), freq, sample_rate, sample_rate / 4.0));
        }
        if (!coarse && freq > sample_rate / 10.0) coarse = freq;
    }
    return coarse;
}

void check_output_stem(const std::vector<std::string>& records, const std::vector<std::string>& stems, size_t r,
                       const std::string& output_dir) {
    for (size_t s = 0; s < r; ++s) {
        if (stems[s] == stems[r]) {
            throw QuorelError(format("\n Error: %s and %s would write the same files in %s (%s.*): check them "
                                     "into separate folders \n",
                                     records[s].c_str(), records[r].c_str(), output_dir.c_str(), stems[r].c_str()));
        }
    }
}

}  // namespace quorel
