// Kernel benchmarks on fixed inputs.  Rates are frequency-steps per second
// (one filter advanced by one sample, or one wavelet sample summed).
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "base/random.hpp"
#include "base/run_settings.hpp"
#include "record/record_reader.hpp"
#include "specification/srs_spec.hpp"
#include "srs/filter_bank.hpp"
#include "srs/srs.hpp"
#include "wavelet/generation.hpp"
#include "wavelet/synthesis.hpp"

namespace {

using namespace quorel;

// A grid of n frequencies from 100 Hz at 1/6 octave, sampled at 100000/s.
struct Case {
    RunSettings settings;
    SrsSpec spec;
    SrsFilterBank bank;
    WaveletSet set;
    WaveletBasis basis;
    TimeHistory history;

    Case(int32_t n, int32_t nt, bool dense = false) {
        settings.algorithm = SrsAlgorithm::smallwood;
        settings.damping = 0.05f;
        settings.sample_rate = 100000.0f;
        settings.dt = static_cast<float>(1.0 / 100000.0);
        settings.nt = nt;
        settings.duration = static_cast<float>(nt * static_cast<double>(settings.dt));
        settings.trial_count = 1;
        settings.seed = 1;
        const double two_pi = 2.0 * std::atan2(0.0, -1.0);
        spec.count = n;
        for (int32_t i = 0; i < n; ++i) {
            spec.freq[i] = static_cast<float>(100.0 * std::pow(2.0, i / 6.0));
            spec.accel[i] = 1000.0f;
        }
        prepare_srs_filters(settings, spec, two_pi, bank);
        allocate_rows(set, n, 1);
        for (int32_t i = 0; i < n; ++i) {
            set.omega[i] = static_cast<float>(spec.freq[i] * two_pi);
            set.min_span[i] = static_cast<float>(1.5 / spec.freq[i]);
            set.base_amplitude[i] = spec.accel[i] * 0.0625f;
        }
        RandomGenerator rng;
        int32_t strategy = 6;   // independent delays spread over the record
        generate_trial(rng, spec, settings, 0, strategy, set);
        allocate_basis(basis, n, nt, dense);
        allocate_history(history, nt);
        synthesize_time_history(set, 0, true, spec, settings, basis, history);
    }
};

void srs_benchmark(benchmark::State& state, SrsKernel kernel) {
    const auto n = static_cast<int32_t>(state.range(0));
    const auto nt = static_cast<int32_t>(state.range(1));
    Case c(n, nt);
    SrsResult result;
    for (auto _ : state) {
        compute_srs(c.bank, c.history.samples.data(), nt, result, kernel);
        benchmark::DoNotOptimize(result);
    }
    state.counters["freq_steps/s"] =
        benchmark::Counter(static_cast<double>(n) * nt * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_SrsVectorised(benchmark::State& state) { srs_benchmark(state, SrsKernel::vectorised); }
void BM_SrsScalar(benchmark::State& state) { srs_benchmark(state, SrsKernel::scalar); }
BENCHMARK(BM_SrsVectorised)->Args({41, 20000})->Args({125, 20000})->Args({125, 99999})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SrsScalar)->Args({41, 20000})->Args({125, 20000})->Unit(benchmark::kMillisecond);

// Re-summing the basis with new amplitudes (every evaluation after the first).
void synthesis_benchmark(benchmark::State& state, bool dense) {
    const auto n = static_cast<int32_t>(state.range(0));
    const auto nt = static_cast<int32_t>(state.range(1));
    Case c(n, nt, dense);
    for (auto _ : state) {
        sum_wavelet_basis(c.set.amplitude_row(0), n, c.basis, c.history);
        benchmark::DoNotOptimize(c.history.samples.data());
    }
    state.counters["freq_steps/s"] =
        benchmark::Counter(static_cast<double>(n) * nt * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_SynthesisSparse(benchmark::State& state) { synthesis_benchmark(state, false); }
void BM_SynthesisDense(benchmark::State& state) { synthesis_benchmark(state, true); }
BENCHMARK(BM_SynthesisSparse)->Args({41, 20000})->Args({125, 99999})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SynthesisDense)->Args({41, 20000})->Args({125, 99999})->Unit(benchmark::kMillisecond);

// Rebuilding the unit-wavelet basis for a new row (first evaluation of a
// trial), with the vectorised sine or the C library's, on fresh rows of the
// benchmark case drawn as a run draws them.  values/s counts the basis values
// computed; fallbacks/value is the share of them the vectorised kernel
// recomputed with the C library's sin.
void basis_rebuild_benchmark(benchmark::State& state, SineKernel kernel) {
    const auto n = static_cast<int32_t>(state.range(0));
    const auto nt = static_cast<int32_t>(state.range(1));
    constexpr int32_t rows = 2000;
    Case c(n, nt);
    c.settings.trial_count = rows;
    allocate_rows(c.set, n, rows);
    c.basis.sine = kernel;
    RandomGenerator rng;
    int32_t strategy = 1, row = 0;
    int64_t values = 0;
    for (auto _ : state) {
        state.PauseTiming();
        generate_trial(rng, c.spec, c.settings, row, strategy, c.set);
        set_spans(c.set, row, c.spec, c.basis);
        state.ResumeTiming();
        build_wavelet_basis(c.set, row, c.settings, c.basis);
        benchmark::DoNotOptimize(c.basis.values.get());
        for (int32_t i = 0; i < n; ++i) values += c.basis.length[i];
        row = (row + 1) % rows;
    }
    state.counters["values/s"] = benchmark::Counter(static_cast<double>(values), benchmark::Counter::kIsRate);
    if (kernel == SineKernel::vectorised) {
        state.counters["values"] = static_cast<double>(c.basis.sine_values);
        state.counters["fallbacks"] = static_cast<double>(c.basis.sine_fallbacks);
        state.counters["fallbacks/value"] =
            static_cast<double>(c.basis.sine_fallbacks) / static_cast<double>(c.basis.sine_values);
    }
}

void BM_BasisRebuildVectorised(benchmark::State& state) { basis_rebuild_benchmark(state, SineKernel::vectorised); }
void BM_BasisRebuildLibrary(benchmark::State& state) { basis_rebuild_benchmark(state, SineKernel::library); }
BENCHMARK(BM_BasisRebuildVectorised)->Args({41, 20000})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BasisRebuildLibrary)->Args({41, 20000})->Unit(benchmark::kMillisecond);
// Ten times a run's most trials, for the share of recomputed values (about
// 2 x 10^9 values, some seconds).
BENCHMARK(BM_BasisRebuildVectorised)->Name("BM_BasisFallbacks")->Args({41, 20000})->Iterations(20000)
    ->Unit(benchmark::kMillisecond);

// Reading a measured record from memory: a header line, then 10^6 lines of a
// time at 1 MHz and `columns - 1` decaying-sine values, each "%.9g" as
// history_<n>.csv prints them.  Rate in bytes of text per second.
std::string record_text(int32_t lines, int32_t columns) {
    std::string text = "time (sec),acceleration (G),velocity (in/sec),displacement (in)\n";
    text.reserve(static_cast<size_t>(lines) * 16 * static_cast<size_t>(columns));
    char line[160];
    for (int32_t k = 0; k < lines; ++k) {
        const double t = k * 1e-6;
        char* at = std::to_chars(line, line + sizeof line, t, std::chars_format::general, 9).ptr;
        for (int32_t c = 1; c < columns; ++c) {
            const double value = 1000.0 / c * std::exp(-t * 3.0) * std::sin(6283.1853 * c * t);
            *at++ = ',';
            at = std::to_chars(at, line + sizeof line, value, std::chars_format::general, 9).ptr;
        }
        *at++ = '\n';
        text.append(line, at);
    }
    return text;
}

void BM_RecordRead(benchmark::State& state) {
    const std::string text = record_text(1000000, static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        Record record = parse_record(text, "record.csv", {});
        benchmark::DoNotOptimize(record.samples.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}
BENCHMARK(BM_RecordRead)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace
