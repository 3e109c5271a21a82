#include "check/records.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "base/error.hpp"
#include "base/format.hpp"
#include "base/numeric.hpp"
#include "base/stop_request.hpp"
#include "base/worker_pool.hpp"
#include "srs/filter_bank.hpp"
#include "srs/pseudo_velocity.hpp"
#include "srs/srs.hpp"

namespace quorel {

RecordFigures record_figures(const CheckInput& input, UnitSystem units, int64_t envelope_groups,
                             HistoryEnvelopes* history) {
    const std::span<const double> a = input.samples;
    const int64_t n = static_cast<int64_t>(a.size());
    const double rate = input.sample_rate;
    auto time = [&](int64_t k) { return input.start_time + static_cast<double>(k) / rate; };
    RecordFigures f;
    f.samples = n;
    f.sample_rate = rate;
    f.duration = n > 1 ? static_cast<double>(n - 1) / rate : 0.0;
    if (n == 0) return f;

    int64_t peak_at = 0;
    for (int64_t k = 0; k < n; ++k) {
        if (std::fabs(a[k]) > f.peak_acceleration) {
            f.peak_acceleration = std::fabs(a[k]);
            peak_at = k;
        }
    }
    f.peak_time = time(peak_at);

    // The effective durations, and velocity and displacement by the
    // trapezoid from rest,
    //   v_k = v_(k-1) + (a_(k-1) + a_k) dt / 2,   d_k = d_(k-1) + (v_(k-1) + v_k) dt / 2,
    // in the acceleration unit times sec and sec^2, converted at the end.
    const double third = f.peak_acceleration / 3.0;
    const double tenth = f.peak_acceleration / 10.0;
    int64_t first3 = -1, last3 = -1, first10 = -1, last10 = -1;
    const UnitTable& factors = unit_table(units);
    const double half_dt = 0.5 / rate;
    const bool envelopes = history != nullptr && envelope_groups > 0;
    Envelope accel(n, envelope_groups), velocity(n, envelope_groups), displacement(n, envelope_groups);
    double v = 0.0, d = 0.0, v_peak = 0.0, d_peak = 0.0;
    for (int64_t k = 0; k < n; ++k) {
        const double magnitude = std::fabs(a[k]);
        if (f.peak_acceleration > 0.0 && magnitude >= third) {
            if (first3 < 0) first3 = k;
            last3 = k;
        }
        if (f.peak_acceleration > 0.0 && magnitude >= tenth) {
            if (first10 < 0) first10 = k;
            last10 = k;
        }
        if (k > 0) {
            const double v_before = v;
            v += (a[k - 1] + a[k]) * half_dt;
            d += (v_before + v) * half_dt;
        }
        v_peak = std::max(v_peak, std::fabs(v));
        d_peak = std::max(d_peak, std::fabs(d));
        if (envelopes) {
            const double t = time(k);
            accel.add(t, a[k]);
            velocity.add(t, v * factors.velocity_factor);
            displacement.add(t, d * factors.displacement_factor);
        }
    }
    if (first3 >= 0) f.te = static_cast<double>(last3 - first3) / rate;
    if (first10 >= 0) f.t10 = static_cast<double>(last10 - first10) / rate;
    f.peak_velocity = v_peak * factors.velocity_factor;
    f.peak_displacement = d_peak * factors.displacement_factor;
    f.end_velocity = v * factors.velocity_factor;
    f.end_displacement = d * factors.displacement_factor;
    if (envelopes) {
        history->accel = accel.points();
        history->velocity = velocity.points();
        history->displacement = displacement.points();
    }
    return f;
}

namespace {

// One piece of work: the figures of a record, or the SRS of a record over the
// grid frequencies [first, last).
struct Task {
    size_t record = 0;
    bool figures = false;
    int32_t first = 0, last = 0;
};

// The frequency ranges of one record's SRS: lane blocks of srs_lane_pad split
// into `pieces` ranges of nearly equal size.
std::vector<std::pair<int32_t, int32_t>> frequency_ranges(int32_t count, int32_t pieces) {
    const int32_t blocks = (count + srs_lane_pad - 1) / srs_lane_pad;
    pieces = std::clamp(pieces, 1, std::max(blocks, 1));
    std::vector<std::pair<int32_t, int32_t>> ranges;
    int32_t block = 0;
    for (int32_t p = 0; p < pieces; ++p) {
        const int32_t size = blocks / pieces + (p < blocks % pieces ? 1 : 0);
        const int32_t first = block * srs_lane_pad;
        block += size;
        ranges.push_back({first, std::min(block * srs_lane_pad, count)});
    }
    return ranges;
}

}  // namespace

std::vector<RecordCheck> check_records(const std::vector<CheckInput>& inputs, const CheckGrid& grid,
                                       const CheckSettings& settings) {
    for (const CheckInput& input : inputs) {
        if (std::all_of(input.samples.begin(), input.samples.end(), [](double a) { return a == 0.0; })) {
            throw QuorelError(format("\n Error: %s: every sample is zero: there is no shock to check \n",
                                     input.name.c_str()));
        }
    }
    const int32_t count = static_cast<int32_t>(grid.freq.size());
    std::vector<RecordCheck> checks(inputs.size());
    // Per record: the SRS filters and the pseudo-velocity filters, and the
    // peaks of each.
    std::vector<SrsFilterBank> banks(inputs.size()), pv_banks(inputs.size());
    std::vector<std::vector<double>> positive(inputs.size()), negative(inputs.size());
    std::vector<std::vector<double>> pv_positive(inputs.size()), pv_negative(inputs.size());
    // With the other spectra: the relative-velocity filters, their peaks, and
    // the absolute acceleration's peaks of each phase (primary, residual).
    std::vector<SrsFilterBank> rv_banks(inputs.size());
    std::vector<std::vector<double>> rv_positive(inputs.size()), rv_negative(inputs.size());
    std::vector<std::vector<double>> primary_positive(inputs.size()), primary_negative(inputs.size());
    std::vector<std::vector<double>> residual_positive(inputs.size()), residual_negative(inputs.size());
    const bool spectra = settings.spectra && settings.pseudo_velocity;

    // With fewer records than threads each record's grid is shared out in
    // frequency ranges as well, four per thread, so that the threads finish
    // together although the figures of a record are one task.  A range costs
    // its share of the passes over the samples and no more: the kernel runs
    // its lane groups one after the other either way.
    const int32_t threads = std::max(settings.threads, 1);
    const int32_t records = static_cast<int32_t>(std::max<size_t>(inputs.size(), 1));
    // A caller that may stop the work gets it in lane blocks, each a short pass
    // over the samples.
    const int32_t pieces = settings.stop != nullptr ? (count + srs_lane_pad - 1) / srs_lane_pad
                           : threads > 1            ? 4 * ((threads + records - 1) / records)
                                                    : 1;
    std::vector<Task> tasks;
    for (size_t r = 0; r < inputs.size(); ++r) {
        const float dt = static_cast<float>(1.0 / inputs[r].sample_rate);
        design_srs_filters(settings.algorithm, settings.damping, dt, grid.freq.data(), count, two_pi(),
                           settings.residual, banks[r]);
        if (settings.pseudo_velocity) {
            design_pvss_filters(settings.damping, dt, grid.freq.data(), count, two_pi(), settings.residual,
                                pv_banks[r]);
        }
        if (spectra) {
            design_relative_velocity_filters(settings.damping, dt, grid.freq.data(), count, two_pi(),
                                             settings.residual, rv_banks[r]);
        }
        for (auto* peaks : {&positive, &negative, &pv_positive, &pv_negative}) {
            (*peaks)[r].assign(static_cast<size_t>(count), 0.0);
        }
        for (auto* peaks : {&rv_positive, &rv_negative, &primary_positive, &primary_negative, &residual_positive,
                            &residual_negative}) {
            if (spectra) (*peaks)[r].assign(static_cast<size_t>(count), 0.0);
        }
        tasks.push_back({r, true, 0, 0});
        for (const auto& [first, last] : frequency_ranges(count, pieces)) tasks.push_back({r, false, first, last});
    }

    run_tasks(tasks.size(), threads, [&](size_t i) {
        check_stop(settings.stop);
        const Task& task = tasks[i];
        const size_t r = task.record;
        const CheckInput& input = inputs[r];
        if (task.figures) {
            RecordCheck& check = checks[r];
            check.figures = record_figures(input, settings.units, settings.envelope_groups, &check.history);
            return;
        }
        // A record is judged at every frequency: a polarity its response never
        // reaches has the peak 0.
        const int64_t n = static_cast<int64_t>(input.samples.size());
        SrsPhasePeaks phases;
        if (spectra) {
            phases = {primary_positive[r].data(), primary_negative[r].data(), residual_positive[r].data(),
                      residual_negative[r].data()};
        }
        compute_srs_peaks(banks[r], input.samples.data(), n, task.first, task.last, positive[r].data(),
                          negative[r].data(), SrsKernel::vectorised, SrsSignCheck::none, phases);
        if (!settings.pseudo_velocity) return;
        check_stop(settings.stop);
        compute_pvss_peaks(pv_banks[r], input.samples.data(), n, task.first, task.last, pv_positive[r].data(),
                           pv_negative[r].data());
        if (!spectra) return;
        check_stop(settings.stop);
        compute_pvss_peaks(rv_banks[r], input.samples.data(), n, task.first, task.last, rv_positive[r].data(),
                           rv_negative[r].data());
    });

    const double velocity_factor = unit_table(settings.units).velocity_factor;
    const double displacement_factor = unit_table(settings.units).displacement_factor;
    for (size_t r = 0; r < inputs.size(); ++r) {
        RecordCheck& check = checks[r];
        std::vector<ComplianceRow> rows;
        for (int32_t j = 0; j < count; ++j) {
            const size_t k = static_cast<size_t>(j);
            const double f = grid.freq[k];
            // The SRS value: each peak rounded to float once.
            const double pos = static_cast<float>(positive[r][k]);
            const double neg = static_cast<float>(negative[r][k]);
            check.srs.push_back({f, pos, neg});
            if (settings.pseudo_velocity) {
                check.pvss.push_back(
                    {f, pvss_value(pv_positive[r][k], velocity_factor), pvss_value(pv_negative[r][k], velocity_factor)});
            }
            if (spectra) {
                // max |z| = max(w |z|) / w; each peak is rounded to float once.
                const double pv = std::max(pv_positive[r][k], pv_negative[r][k]);
                const double w = two_pi() * f;
                check.spectra.push_back(
                    {f, static_cast<double>(static_cast<float>(pv / w)) * displacement_factor,
                     pvss_value(std::max(rv_positive[r][k], rv_negative[r][k]), velocity_factor),
                     pvss_value(pv, velocity_factor),
                     static_cast<float>(std::max(primary_positive[r][k], primary_negative[r][k])),
                     static_cast<float>(std::max(residual_positive[r][k], residual_negative[r][k]))});
            }
            if (!grid.spec.empty()) rows.push_back({f, static_cast<double>(grid.spec[k]), pos, neg});
        }
        if (!grid.spec.empty()) check.compliance = assess_rows(std::move(rows), settings.rules);
    }
    return checks;
}

}  // namespace quorel
