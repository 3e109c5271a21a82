#include "app/dialogue.hpp"

#include <ctime>
#include <istream>
#include <new>
#include <ostream>

#include "base/capacity.hpp"
#include "base/error.hpp"
#include "base/format.hpp"
#include "engine/time_grid.hpp"
#include "specification/resample.hpp"
#include "specification/spec_reader.hpp"

namespace quorel {

namespace {

double system_clock_seconds() { return static_cast<double>(std::time(nullptr)); }

// The run's text on the console, every trial line as it comes.
class ConsoleReporter : public RunReporter {
public:
    explicit ConsoleReporter(Console& console) : console_(console) {}
    void print(std::string_view text) override { console_.print(text); }
    void trial_line(int32_t, int32_t, std::string_view line) override {
        console_.print(line);
        console_.flush();
    }
    void flush() override { console_.flush(); }

private:
    Console& console_;
};

void read_specification(Console& console, SrsSpec& spec) {
    console.print("\n\n\n The input SRS specification file must have two columns: \n\n"
                  "   natural frequency(Hz) and SRS accel(G) ");
    console.print("\n\n The format is free, but no header lines allowed.\n");
    console.print("\n\n Please enter the input filename. \n");
    const std::string file_name = console.read_file_name();
    load_spec_points(console, file_name, spec);

    console.print("\n\n Enter octave spacing. \n 1= 1/3   2= 1/6   3= 1/12 \n");
    const int32_t answer = console.read_int();
    if (build_octave_grid(spec, octave_fraction(octave_spacing_for_answer(answer)))) {
        console.print("\n Warning: number of specification points reduced.");
    }
}

// Sample rate, grid condition and points or duration.
void enter_time_grid(Console& console, const SrsSpec& spec, RunSettings& settings) {
    float rate = recommended_sample_rate(spec);
    console.print(format("\n\n Recommend sample rate >= %8.4g samples/sec\n", static_cast<double>(rate)));
    console.print("\n Enter sample rate \n");
    if (const auto answer = console.read_real_or_ignore()) rate = *answer;
    check_sample_rate(spec, rate);
    set_sample_rate(settings, rate);

    console.print("\n\n Select condition  ");
    console.print("\n 1=limit time history points   2=set duration \n");
    const int32_t condition = console.read_int();
    bool reduced = false;
    if (condition == 2) {
        console.print("\n\n Enter duration (sec) \n");
        console.print(format(" (Recommend %6.3lf or greater) \n", recommended_duration(spec)));
        reduced = set_duration(settings, console.read_real());
    } else {
        console.print("\n\n Enter the number of points \n");
        reduced = set_point_count(settings, console.read_int());
    }
    if (reduced) console.print(duration_reduced_warning);
    console.print(time_grid_line(settings));
}

int run_sequence(Console& console, const RunOptions& options) {
    const std::function<double()> clock = options.clock ? options.clock : system_clock_seconds;
    RunSettings settings;
    SrsSpec spec;

    console.print("\n quorel - SRS synthesis by wavelets \n");
    console.print("\n Select SRS algorithm:");
    console.print("\n 1=Kelly-Richman  2=Smallwood \n");
    settings.algorithm = srs_algorithm_for_answer(console.read_int());

    read_specification(console, spec);
    enter_run_parameters(console, settings);

    settings.start_time = clock();
    // A finished run and the duration check end through the elapsed time and
    // the key wait; the status is the run's, whatever the key.
    auto end_run = [&](int status) {
        console.print(elapsed_time_text(settings.start_time, clock()));
        console.print("\n\n Press any key to exit.\n");
        console.wait_key();
        return status;
    };

    enter_time_grid(console, spec, settings);
    if (const std::string error = duration_error(spec, settings); !error.empty()) {
        console.print(error);
        return end_run(1);
    }

    ConsoleReporter reporter(console);
    run_synthesis(settings, spec, OutputNames{}, options, reporter);
    return end_run(0);
}

}  // namespace

void enter_run_parameters(Console& console, RunSettings& settings) {
    console.print("\n Enter damping format for SRS. \n 1= damping ratio   2= Q \n");
    settings.damping_format = console.read_int() == 1 ? DampingFormat::ratio : DampingFormat::q;
    if (settings.damping_format == DampingFormat::ratio) {
        console.print("\n Enter SRS damping ratio (typically 0.05) ");
        settings.damping = console.read_real();
    } else {
        console.print("\n Enter SRS amplification factor Q (typically 10) ");
        const float q = console.read_real();
        // Q = 1 / (2 zeta): at or below 0.5 the ratio would be 1 or more (or
        // negative, or infinite).
        if (!q_in_range(q)) throw QuorelError("\n Error: Q must be above 0.5 \n");
        set_q(settings, q);
    }
    if (settings.damping >= 1.0f) throw QuorelError("\n Error:  damping value must be < 1 \n");
    // A negative ratio makes every SRS filter unstable.
    if (settings.damping < 0.0f) throw QuorelError("\n Error:  damping value must be >= 0 \n");

    console.print("\n\n Enter the number of trials. \n");
    settings.trial_count = console.read_int();
    if (settings.trial_count > max_trials) {
        settings.trial_count = max_trials;
        console.print(format("\n Warning: number of trials reduced to %ld \n", static_cast<long>(max_trials)));
    }
    if (settings.trial_count < 1) throw QuorelError("\n Error: number of trials must be at least 1 \n");

    int32_t units = 0;
    do {
        console.print("\n\n Enter units ");
        console.print("\n  1=English:  G,       in/sec, in   ");
        console.print("\n  2=metric:   G,       m/sec,  mm   ");
        console.print("\n  3=metric:   m/sec^2, m/sec,  mm  \n");
        units = console.read_int();
    } while (units < 1 || units > 3);
    settings.units = static_cast<UnitSystem>(units);   // the answer is the system's value

    // seed - 1 random draws are discarded at the start of the run and again
    // before every trial.
    console.print("\n\n Enter arbitrary integer (1 to 1000) \n");
    settings.seed = console.read_int();
}

int run_dialogue(std::istream& in, std::ostream& out, KeyReader key_reader, const RunOptions& options) {
    Console console(in, out, std::move(key_reader));
    std::string failure;
    int status = 1;
    try {
        status = run_sequence(console, options);
    } catch (const QuorelError& error) {
        failure = error.what();
    } catch (const std::bad_alloc&) {
        failure = "\n Error: out of memory \n";
    } catch (const std::exception& error) {
        failure = format("\n Error: %s \n", error.what());
    }
    // The message goes where the run's text went; when that is what failed
    // (standard output on a full disk, a closed pipe), to the errors stream.
    out << failure;
    out.flush();
    if (!out) {
        status = 1;
        if (options.errors != nullptr) *options.errors << failure << std::flush;
    }
    if (!failure.empty() && options.stop != nullptr && options.stop->signal.load() != 0) {
        status = interrupted_status(options.stop->signal.load());
    }
    return status;
}

}  // namespace quorel
