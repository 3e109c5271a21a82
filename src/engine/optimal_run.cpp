#include "engine/optimal_run.hpp"

#include <span>
#include <vector>

#include "report/result_files.hpp"
#include "srs/spectrum_error.hpp"

namespace quorel {

OptimalReport run_optimal(const ReportContext& context, const RunReport& report, const WaveletSet& set,
                          const TrialTable& table, const OptimalRequest& request, const FeasibilityBounds& bounds,
                          const std::atomic<int>* stop, RunReporter& reporter) {
    const RunSettings& settings = context.settings;
    const SrsSpec& spec = context.spec;
    const Optima& optima = report.optima;
    OptimalReport result;
    result.minimised = request.options.minimise;
    result.bands = polarity_bands(std::span<const float>(spec.freq.data(), static_cast<size_t>(spec.count)),
                                  request.tolerance, context.acceptance);

    // The starting drive: the history its trial's files hold.
    std::vector<float> start;
    if (optima.chosen) {
        const OptimumHistory& optimum =
            request.options.minimise == MinimisedPeak::acceleration ? report.acceleration : report.displacement;
        result.start_trial = optimum.trial;
        start = optimum.acceleration;
    } else {
        result.start_trial = optima.closest;
        std::vector<double> history;
        file_acceleration_history(set, optima.closest, spec, settings, history);
        start.assign(history.begin(), history.end());
    }
    const size_t t = static_cast<size_t>(result.start_trial);
    result.start_peaks = {table.peak_accel[t], table.peak_velocity[t], table.peak_displacement[t]};
    const BoundedSpectrum spectrum = bounded_spectrum(spec, settings);
    result.least = least_peaks(bounds, spectrum, result.start_peaks.velocity);

    const DriveLimits no_limits;
    OptimalInputs inputs{settings, spec,  context.bank, result.bands, context.limits != nullptr ? *context.limits : no_limits,
                         result.least, start, request.options, stop, {}};
    inputs.start_wavelets = &set;
    inputs.start_row = result.start_trial;
    inputs.progress = [&reporter](const OptimalProgress& progress) { reporter.optimal_round(progress); };
    result.drive = optimal_drive(inputs);
    result.ratios = least_peak_ratios(
        bounds, spectrum,
        {result.drive.motion.peak_acceleration, result.drive.motion.peak_velocity, result.drive.motion.peak_displacement});
    if (context.acceptance != nullptr) {
        GridComparison comparison;
        result.verdict = judge_acceptance(*context.acceptance, compare_with_spec(result.drive.srs, spec, comparison));
    }
    return result;
}

}  // namespace quorel
