#include "engine/trial_loop.hpp"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/error.hpp"
#include "base/stop_request.hpp"
#include "base/worker_pool.hpp"
#include "report/trial_table.hpp"
#include "srs/spectrum_error.hpp"
#include "wavelet/generation.hpp"
#include "wavelet/kinematics.hpp"
#include "wavelet/scaling.hpp"
#include "wavelet/synthesis.hpp"
#include "wavelet/synthesis_failure.hpp"

namespace quorel {

void allocate_workspace(TrialWorkspace& workspace, int32_t n, int32_t nt, const KernelOptions& kernels) {
    allocate_basis(workspace.basis, n, nt, kernels.dense_synthesis);
    workspace.basis.sine = kernels.basis_sine;
    allocate_history(workspace.history, nt);
    workspace.srs = SrsResult{};
    workspace.state = TrialState{};
}

namespace {

bool evaluate(int32_t trial, double exponent, const TrialContext& context, WaveletSet& set, TrialWorkspace& workspace,
              TrialResult& result, const std::atomic<int32_t>* last_needed) {
    const int32_t n = set.count;
    TrialState& state = workspace.state;
    TimeHistory& history = workspace.history;
    float* amplitude = set.amplitude_row(trial);
    state.trial = trial;
    state.synth_trial = trial;
    state.scale_exponent = exponent;
    state.best_error = std::numeric_limits<float>::infinity();
    result.evaluations = 0;

    float best_total_error = 0.0f;
    int32_t best_evaluation = 0;
    state.iteration = 0;
    for (;;) {
        check_stop(context.stop);
        synthesize_time_history(set, trial, state.iteration == 0, context.spec, context.settings, workspace.basis,
                                history);
        compute_srs(context.bank, history.samples.data(), history.nt, workspace.srs, context.kernels.srs);
        const SpectrumError error = spectrum_error(workspace.srs, context.spec);
        ++result.evaluations;
        const float e = error.max_error;
        if (e < state.best_error) {
            state.best_error = e;
            best_total_error = error.total_error;
            best_evaluation = result.evaluations;
            for (int32_t i = 0; i < n; ++i) state.best_amplitude[i] = amplitude[i];
        }
        // From the tenth evaluation on, stop as soon as the error stops falling.
        if (state.iteration >= 9 && !(e < state.previous_error)) break;
        state.previous_error = e;
        scale_amplitudes(workspace.srs, context.spec, state.scale_exponent, amplitude);
        ++state.iteration;
        if (state.iteration == 60) break;
        if (last_needed != nullptr && trial > last_needed->load(std::memory_order_relaxed)) return false;
    }

    // The row keeps the best evaluation's amplitudes, and the trial is judged
    // by the history they give, the one the result files will hold.  When the
    // best evaluation was not the last, its history is summed again from the
    // same basis and amplitudes: the same samples, bit for bit.
    for (int32_t i = 0; i < n; ++i) amplitude[i] = state.best_amplitude[i];
    // (The correction after the 60th evaluation changes the amplitudes only,
    // not the history.)
    if (best_evaluation != result.evaluations) {
        synthesize_time_history(set, trial, false, context.spec, context.settings, workspace.basis, history);
    }
    peak_kinematics(context.settings, history);
    result.peak_accel = history.peak_accel;
    result.peak_velocity = history.peak_velocity;
    result.peak_displacement = history.peak_displacement;
    result.total_error = best_total_error;
    result.best_error = state.best_error;
    result.iterations = state.iteration;
    // The rules judge the SRS the trial's SRS file would hold: that of the
    // history its acceleration file would hold, each wavelet evaluated in
    // double (it differs from the synthesis in the last digits).
    result.passes = true;
    if (context.acceptance != nullptr) {
        file_history(set, trial, context.spec, context.settings, history, workspace.file_sum);
        compute_srs(context.bank, history.samples.data(), history.nt, workspace.srs, context.kernels.srs);
        result.passes =
            passes_acceptance(*context.acceptance, compare_with_spec(workspace.srs, context.spec, workspace.comparison));
    }
    return true;
}

}  // namespace

bool evaluate_trial(int32_t trial, double exponent, const TrialContext& context, WaveletSet& set,
                    TrialWorkspace& workspace, TrialResult& result, const std::atomic<int32_t>* last_needed) {
    try {
        return evaluate(trial, exponent, context, set, workspace, result, last_needed);
    } catch (const QuorelError& error) {
        if (error.check() == SynthesisCheck::none) throw;
        // The check's own message, and a line that explains it with this
        // trial's specification, SRS and history.  The workspace holds the SRS
        // of the history once an evaluation has completed.
        const SrsResult* reached = result.evaluations > 0 ? &workspace.srs : nullptr;
        throw QuorelError(error.what() + explain_synthesis_failure(error, context.spec, context.settings,
                                                                   set.amplitude_row(trial), reached,
                                                                   workspace.history));
    }
}

TrialLine trial_line(int32_t trial, const TrialResult& result) {
    TrialLine line;
    std::snprintf(line.text, sizeof line.text, " %ld %10.2f %12.3f %12.3f %11.2f %10.2f  %ld\n", static_cast<long>(trial),
                  static_cast<double>(result.peak_accel), static_cast<double>(result.peak_velocity),
                  static_cast<double>(result.peak_displacement), result.total_error * 20.0,
                  result.best_error * 20.0, static_cast<long>(result.iterations));
    return line;
}

namespace {

// The outcome of one trial's evaluation, filled by the worker that ran it.
struct TrialSlot {
    TrialResult result;
    std::string failure;            // a fatal check's message
    std::exception_ptr exception;   // anything else (out of memory)
    bool done = false;
};

void evaluate_into(int32_t t, double exponent, const TrialContext& context, WaveletSet& set,
                   TrialWorkspace& workspace, TrialSlot& slot, std::atomic<int32_t>& last_needed, bool& abandoned) {
    abandoned = false;
    try {
        abandoned = !evaluate_trial(t, exponent, context, set, workspace, slot.result, &last_needed);
    } catch (const QuorelError& error) {
        slot.failure = error.what();
    } catch (...) {
        slot.exception = std::current_exception();
    }
    if (!slot.failure.empty() || slot.exception) {
        // Trials after a failed one are never reported.
        int32_t current = last_needed.load();
        while (t < current && !last_needed.compare_exchange_weak(current, t)) {
        }
    }
}

// Worker threads taking trials in ascending order; joined on destruction, after
// telling them that no further trial is needed.
class TrialWorkers {
public:
    TrialWorkers(int32_t threads, int32_t trials, const TrialContext& context, WaveletSet& set,
                 const std::vector<double>& exponents, std::vector<TrialSlot>& slots)
        : trials_(trials), context_(context), set_(set), exponents_(exponents), slots_(slots) {
        workspaces_.resize(static_cast<size_t>(threads));
        for (auto& workspace : workspaces_) allocate_workspace(workspace, set.count, context.settings.nt, context.kernels);
        // The caller evaluates alone if no worker started.
        threads_.start(threads, [this](int32_t w) { work(workspaces_[static_cast<size_t>(w)]); });
    }

    ~TrialWorkers() {
        last_needed_.store(-1);
        threads_.join();
    }

    bool started() const { return threads_.started() > 0; }

    TrialSlot& wait_for(int32_t t) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return slots_[static_cast<size_t>(t)].done; });
        return slots_[static_cast<size_t>(t)];
    }

private:
    void work(TrialWorkspace& workspace) {
        for (;;) {
            const int32_t t = next_.fetch_add(1);
            if (t >= trials_ || t > last_needed_.load()) return;
            TrialSlot slot;
            bool abandoned = false;
            evaluate_into(t, exponents_[static_cast<size_t>(t)], context_, set_, workspace, slot, last_needed_,
                          abandoned);
            if (abandoned) return;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slots_[static_cast<size_t>(t)] = std::move(slot);
                slots_[static_cast<size_t>(t)].done = true;
            }
            ready_.notify_all();
        }
    }

    const int32_t trials_;
    const TrialContext& context_;
    WaveletSet& set_;
    const std::vector<double>& exponents_;
    std::vector<TrialSlot>& slots_;
    std::vector<TrialWorkspace> workspaces_;
    WorkerThreads threads_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::atomic<int32_t> next_{0};
    std::atomic<int32_t> last_needed_{std::numeric_limits<int32_t>::max()};
};

}  // namespace

void run_trials(RunReporter& reporter, OutputFile* trial_log, const TrialContext& context, RandomGenerator& rng,
                WaveletSet& set, TrialTable& table, int32_t threads) {
    const RunSettings& settings = context.settings;
    const int32_t count = settings.trial_count;
    allocate_trial_table(table, count);

    // Every row first, in trial order: discards, exponent, generator.
    std::vector<double> exponents(static_cast<size_t>(count > 0 ? count : 0), 0.5);
    int32_t generated = 0;
    std::string generation_failure;
    int32_t strategy = 1;
    for (; generated < count; ++generated) {
        try {
            exponents[static_cast<size_t>(generated)] =
                generate_trial(rng, context.spec, settings, generated, strategy, set);
        } catch (const QuorelError& error) {
            generation_failure = error.what();
            break;
        }
    }

    const std::string warnings = low_spec_warnings(context.spec);
    std::vector<TrialSlot> slots(static_cast<size_t>(generated));

    // The console and the log see the trials in order, exactly as a one-by-one
    // run would show them.
    auto emit = [&](int32_t t, const TrialSlot& slot) {
        for (int32_t e = 0; e < slot.result.evaluations && !warnings.empty(); ++e) reporter.print(warnings);
        if (slot.exception) std::rethrow_exception(slot.exception);
        if (!slot.failure.empty()) throw QuorelError(slot.failure);
        const TrialLine line = trial_line(t, slot.result);
        reporter.trial_line(t, count, line.view());
        if (trial_log != nullptr) {
            trial_log->write(line.view());
            trial_log->flush();
        }
        const size_t i = static_cast<size_t>(t);
        table.peak_accel[i] = std::fabs(slot.result.peak_accel);
        table.peak_velocity[i] = std::fabs(slot.result.peak_velocity);
        table.peak_displacement[i] = std::fabs(slot.result.peak_displacement);
        table.total_error[i] = std::fabs(slot.result.total_error);
        table.max_error[i] = std::fabs(slot.result.best_error);
        table.iterations[i] = slot.result.iterations;
        table.passes[i] = slot.result.passes;
    };

    auto evaluate_alone = [&] {
        TrialWorkspace workspace;
        allocate_workspace(workspace, set.count, settings.nt, context.kernels);
        std::atomic<int32_t> last_needed{std::numeric_limits<int32_t>::max()};
        for (int32_t t = 0; t < generated; ++t) {
            TrialSlot& slot = slots[static_cast<size_t>(t)];
            bool abandoned = false;
            evaluate_into(t, exponents[static_cast<size_t>(t)], context, set, workspace, slot, last_needed, abandoned);
            emit(t, slot);
        }
    };
    const int32_t workers = std::min(threads < 1 ? 1 : threads, generated);
    if (workers <= 1) {
        evaluate_alone();
    } else {
        TrialWorkers pool(workers, generated, context, set, exponents, slots);
        if (pool.started()) {
            for (int32_t t = 0; t < generated; ++t) emit(t, pool.wait_for(t));
        } else {
            evaluate_alone();
        }
    }
    if (generated < count) throw QuorelError(generation_failure);

    table.sort_peak_accel = table.peak_accel;
    table.sort_peak_velocity = table.peak_velocity;
    table.sort_peak_displacement = table.peak_displacement;
    table.sort_total_error = table.total_error;
    table.sort_max_error = table.max_error;
    table.count = count;
}

}  // namespace quorel
