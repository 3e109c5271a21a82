#include "engine/run_request.hpp"

#include "base/error.hpp"
#include "engine/time_grid.hpp"
#include "feasibility/bounds.hpp"
#include "specification/resample.hpp"
#include "specification/spec_reader.hpp"

namespace quorel {

PreparedRun prepare_run(const RunRequest& request, TextOutput& out) {
    PreparedRun run;
    RunSettings& settings = run.settings;
    settings.algorithm = request.algorithm;
    if (request.damping) {
        settings.damping_format = DampingFormat::ratio;
        settings.damping = *request.damping;
    } else {
        settings.damping_format = DampingFormat::q;
        set_q(settings, request.q.value_or(10.0f));
    }
    settings.trial_count = request.trials;
    settings.units = request.units;
    settings.seed = request.seed;

    SrsSpec& spec = run.spec;
    if (request.spec_given) {
        set_spec_points(request.spec_name, request.spec_freq.data(), request.spec_accel.data(),
                        static_cast<int32_t>(request.spec_freq.size()), spec);
    } else {
        DiscardText quiet_reader;
        load_spec_points(quiet_reader, request.spec_file, spec);
    }
    if (build_octave_grid(spec, octave_fraction(request.spacing))) {
        out.print("\n Warning: number of specification points reduced.");
    }

    const float rate = request.sample_rate.value_or(recommended_sample_rate(spec));
    check_sample_rate(spec, rate, request.sample_rate_text);
    set_sample_rate(settings, rate);
    bool reduced = false;
    if (request.points) {
        reduced = set_point_count(settings, *request.points);
    } else {
        reduced = set_duration(settings, request.duration.value_or(static_cast<float>(recommended_duration(spec))));
    }
    if (reduced) out.print(duration_reduced_warning);
    out.print(time_grid_line(settings));
    if (const std::string error = duration_error(spec, settings); !error.empty()) throw QuorelError(error);

    // What no drive of this duration can do, before any trial tries.
    const BoundedSpectrum bounded = bounded_spectrum(spec, settings, request.limits.moving_mass);
    const std::optional<double> velocity_limit =
        request.limits.velocity ? std::optional<double>(*request.limits.velocity) : std::nullopt;
    const FeasibilityBounds bounds = feasibility_bounds(
        bounded, static_cast<double>(settings.nt) * static_cast<double>(settings.dt), velocity_limit);
    out.print(bounds_line(bounds, settings));
    out.print(impossible_limit_warnings(bounds, request.limits, bounded, settings, max_history_samples));

    if (request.output_dir && *request.output_dir != ".") run.names.directory = *request.output_dir;

    EngineOptions& options = run.options;
    options.threads = request.threads;
    options.write_files = request.output_dir.has_value();
    options.machine_readable = true;
    options.spec_file = request.spec_given ? std::string() : request.spec_file;
    options.limits = request.limits;
    options.acceptance = request.acceptance;
    options.bounds = bounds;
    options.optimal = request.optimal;
    return run;
}

}  // namespace quorel
