#include "run/driver.hpp"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <istream>
#include <new>
#include <ostream>
#include <thread>

#include "report/final_report.hpp"
#include "run/error.hpp"
#include "run/format.hpp"
#include "run/numeric.hpp"
#include "run/output_file.hpp"
#include "run/parameters.hpp"
#include "run/random.hpp"
#include "spec/resample.hpp"
#include "spec/spec_reader.hpp"
#include "srs/filter_bank.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

namespace {

double system_clock_seconds() { return static_cast<double>(std::time(nullptr)); }

void report_elapsed_time(Console& console, double start_time, double now) {
    const double diff = now - start_time;
    if (!(diff > 0.0)) return;
    const long seconds_total = static_cast<long>(diff);
    const long hours = seconds_total / 3600;
    const long minutes = (seconds_total - 3600 * hours) / 60;
    const long seconds = seconds_total - 60 * minutes - 3600 * hours;
    console.print("\n\n Elapsed time (hr:min:sec)\n");
    console.print(format("      = %ld:%ld:%ld \n", hours, minutes, seconds));
}

// Sample rate, grid condition and points or duration.  Returns false when the
// duration is too short for the lowest frequency.
bool enter_time_grid(Console& console, const SrsSpec& spec, RunSettings& settings) {
    const float f_last = spec.input_freq[static_cast<size_t>(spec.input_count - 1)];
    settings.sample_rate = static_cast<float>(10.0 * f_last);
    console.print(format("\n\n Recommend sample rate >= %8.4g samples/sec\n", static_cast<double>(settings.sample_rate)));
    console.print("\n Enter sample rate \n");
    if (const auto rate = console.read_real_or_ignore()) settings.sample_rate = *rate;
    if (static_cast<double>(settings.sample_rate) < 4.0 * f_last) throw QuorelError("\n Error: sample rate is too low \n");

    settings.dt = static_cast<float>(1.0 / static_cast<double>(settings.sample_rate));
    settings.half_dt = static_cast<float>(settings.dt * 0.5);

    console.print("\n\n Select condition  ");
    console.print("\n 1=limit time history points   2=set duration \n");
    const int32_t condition = console.read_int();
    const double f0 = spec.freq[0];
    if (condition == 2) {
        console.print("\n\n Enter duration (sec) \n");
        console.print(format(" (Recommend %6.3lf or greater) \n", 2.0 / f0));
        settings.duration = console.read_real();
        const double quotient = static_cast<double>(settings.duration) / settings.dt;
        if (quotient >= max_samples + 1.0) {
            console.print("\n\n Warning: duration reduced. \n");
            settings.nt = max_samples;
            settings.duration = static_cast<float>(settings.nt * static_cast<double>(settings.dt));
        } else {
            settings.nt = truncate_to_int32(quotient);
        }
    } else {
        console.print("\n\n Enter the number of points \n");
        settings.nt = console.read_int();
        if (settings.nt > max_samples) {
            console.print("\n\n Warning: duration reduced. \n");
            settings.nt = max_samples;
        }
        settings.duration = static_cast<float>(settings.nt * static_cast<double>(settings.dt));
    }
    console.print(format("\n dt=%9.4g sec   dur=%8.4f sec  sr=%9.4g sample/sec  nt=%ld \n",
                         static_cast<double>(settings.dt), static_cast<double>(settings.duration),
                         static_cast<double>(settings.sample_rate), static_cast<long>(settings.nt)));

    // The lowest wavelet needs 1.5 / f_0 seconds for three half-sines and must
    // end strictly before the duration; at or below the float value that the
    // wavelet limits hold, no layout could ever be generated.
    const double shortest = 1.5 / f0;
    const double d = settings.duration;
    return !(d < shortest || d <= static_cast<float>(shortest));
}

const char* unit_header(int32_t units) {
    switch (units) {
        case 1: return "\n           (G)         (in/sec)     (in)       \n";
        case 2: return "\n           (G)         (m/sec)      (mm)       \n";
        default: return "\n           (m/sec^2)   (m/sec)      (mm)       \n";
    }
}

// Per-frequency constants of the wavelets.
void set_wavelet_constants(const SrsSpec& spec, double two_pi, WaveletSet& set) {
    for (int32_t i = 0; i < spec.count; ++i) {
        set.omega[i] = static_cast<float>(spec.freq[i] * two_pi);
        set.min_span[i] = static_cast<float>(1.5 / static_cast<double>(spec.freq[i]));
        set.base_amplitude[i] = static_cast<float>(spec.accel[i] * 0.0625);
    }
}

int run_sequence(Console& console, const RunOptions& options) {
    const std::function<double()> clock = options.clock ? options.clock : system_clock_seconds;
    const double two_pi = 2.0 * std::atan2(0.0, -1.0);
    RandomGenerator rng;
    RunSettings settings;
    SrsSpec spec;
    OutputNames names;

    console.print("\n quorel - SRS synthesis by wavelets \n");
    console.print("\n Select SRS algorithm:");
    console.print("\n 1=Kelly-Richman  2=Smallwood \n");
    settings.algorithm = console.read_int();

    read_spec_file(console, spec, names);
    resample_spec(console, spec);
    enter_run_parameters(console, settings, rng);

    settings.start_time = clock();
    // The two grid errors end through the elapsed time and the key wait, but a
    // failed run must not report success: status 1 whatever the key.
    auto end_run = [&](int status) {
        report_elapsed_time(console, settings.start_time, clock());
        console.print("\n\n Press any key to exit.\n");
        const int key = console.wait_key();
        return status != 0 ? status : key;
    };

    if (!enter_time_grid(console, spec, settings)) {
        console.print("\n\n Error: duration is too short.\n\n");
        return end_run(1);
    }

    SrsFilterBank bank;
    console.print("\n");
    prepare_srs_filters(settings, spec, two_pi, bank);

    OutputFile trial_log(names.trials, OutputFile::OnAbandon::keep);
    if (settings.nt >= max_samples) {
        console.print("\n\n Error: too many samples.\n\n");
        trial_log.close();
        return end_run(1);
    }

    const char* headers[] = {"\n           Peak        Peak         Peak         ",
                             "\n Trial     Accel       Vel          Disp      T.Error      I.Error",
                             unit_header(settings.units)};
    for (const char* header : headers) {
        console.print(header);
        trial_log.write(header);
    }
    trial_log.flush();
    if (options.stop_before_trials) {
        trial_log.close();
        return end_run(0);
    }

    WaveletSet set;
    allocate_rows(set, spec.count, settings.trial_count);
    set_wavelet_constants(spec, two_pi, set);

    const int32_t threads =
        options.threads > 0 ? options.threads : static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    const TrialContext context{settings, spec, bank, options.kernels};
    TrialTable table;
    try {
        run_trials(console, trial_log, context, rng, set, table, threads);
    } catch (const QuorelError& error) {
        // The log keeps the trials that ran and ends, like the console, with the
        // message that stopped the run: it cannot pass for a finished log.
        trial_log.abandon_with(error.what());
        throw;
    }
    trial_log.close();

    report_results(console, context, names, set, table);
    return end_run(0);
}

}  // namespace

int run_quorel(std::istream& in, std::ostream& out, KeyReader key_reader, const RunOptions& options) {
    Console console(in, out, std::move(key_reader));
    int status = 1;
    try {
        status = run_sequence(console, options);
    } catch (const QuorelError& error) {
        console.print(error.what());
        status = 1;
    } catch (const std::bad_alloc&) {
        console.print("\n Error: out of memory \n");
        status = 1;
    } catch (const std::exception& error) {
        console.print(format("\n Error: %s \n", error.what()));
        status = 1;
    }
    console.flush();
    // A console that could not be written to (standard output on a full disk)
    // makes the run a failure too.
    if (!out) status = 1;
    return status;
}

}  // namespace quorel
