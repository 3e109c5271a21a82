// The SRS recursion with the frequencies in SIMD lanes.
//
// The filters of different frequencies are independent, so a group of lane
// blocks runs through the whole history with its state (x1, x2 and the peaks)
// held in registers; every lane uses the same samples.  Each lane computes
// exactly what the scalar loop computes,
//
//   x = fma(a1, x1, fma(a2, x2, fma(b3, y2, fma(b2, y1, b1 * y)))),
//
// with the hardware's fused multiply-add where there is one (it rounds once,
// as std::fma does, so the bits are the same) and std::fma per lane where
// there is none.  Only x1 -> x is loop-carried: the three input terms and the
// a2 x2 term do not depend on the previous step, so a step costs one
// multiply-add of latency and five of throughput per lane.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "srs/srs.hpp"

namespace quorel {

namespace {

#if defined(__AVX512F__)
constexpr int lanes = 8;
#elif defined(__AVX__)
constexpr int lanes = 4;
#else
constexpr int lanes = 2;
#endif
static_assert(srs_lane_pad % lanes == 0, "the bank is padded to a multiple of the lane count");

typedef double vdouble __attribute__((vector_size(lanes * sizeof(double))));
typedef long long vmask __attribute__((vector_size(lanes * sizeof(double))));

inline vdouble load(const double* p) {
    vdouble v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

inline void store(double* p, vdouble v) { __builtin_memcpy(p, &v, sizeof v); }

inline vdouble broadcast(double v) { return vdouble{} + v; }

// a b + c rounded once, in every lane.
inline vdouble fused(vdouble a, vdouble b, vdouble c) {
#if defined(__AVX512F__)
    return _mm512_fmadd_pd(a, b, c);
#elif defined(__AVX__) && defined(__FMA__)
    return _mm256_fmadd_pd(a, b, c);
#else
    vdouble r;
    for (int l = 0; l < lanes; ++l) r[l] = std::fma(a[l], b[l], c[l]);
    return r;
#endif
}

inline vdouble select(vmask mask, vdouble yes, vdouble no) { return mask ? yes : no; }

// Runs `G` lane blocks starting at lane `j0` through the forced and the
// residual phase.  forced_max / forced_min receive the forced-phase peaks (for
// the check), residual_max / residual_min those of the residual phase alone,
// peak_max / peak_min the peaks of both phases, from lane j0 on.
template <int G, typename Sample>
void run_group(const SrsFilterBank& bank, int32_t j0, const Sample* y, int64_t nt, double* forced_max,
               double* forced_min, double* residual_max, double* residual_min, double* peak_max, double* peak_min) {
    vdouble a1[G], a2[G], b1[G], b2[G], b3[G], x1[G], x2[G], hi[G], lo[G], rhi[G], rlo[G];
    for (int g = 0; g < G; ++g) {
        const size_t j = static_cast<size_t>(j0 + g * lanes);
        a1[g] = load(bank.a1.data() + j);
        a2[g] = load(bank.a2.data() + j);
        b1[g] = load(bank.b1.data() + j);
        b2[g] = load(bank.b2.data() + j);
        b3[g] = load(bank.b3.data() + j);
        x1[g] = x2[g] = hi[g] = lo[g] = vdouble{};
    }

    vdouble y1 = vdouble{}, y2 = vdouble{};
    for (int64_t i = 0; i < nt; ++i) {
        const vdouble yi = broadcast(static_cast<double>(y[i]));
        for (int g = 0; g < G; ++g) {
            const vdouble u = fused(a2[g], x2[g], fused(b3[g], y2, fused(b2[g], y1, b1[g] * yi)));
            const vdouble x = fused(a1[g], x1[g], u);
            hi[g] = x > hi[g] ? x : hi[g];
            lo[g] = x < lo[g] ? x : lo[g];
            x2[g] = x1[g];
            x1[g] = x;
        }
        y2 = y1;
        y1 = yi;
    }
    for (int g = 0; g < G; ++g) {
        store(forced_max + g * lanes, hi[g]);
        store(forced_min + g * lanes, lo[g]);
    }

    // Residual phase: lane j advances in steps 1 .. last_step[j] (one period of
    // its frequency).  The frequencies ascend, so these are the steps of the
    // scalar loop, which ends each step at the first frequency whose period has
    // passed.  The input is zero; y1 and y2 hold the last two samples at first.
    // A lane past its last step keeps its state and never uses y1, y2 again.
    const int32_t* last_step = bank.last_step.data();
    int32_t group_steps = 0;
    for (int32_t j = j0; j < j0 + G * lanes; ++j) group_steps = std::max(group_steps, last_step[j]);
    vdouble limit[G];
    for (int g = 0; g < G; ++g) {
        for (int l = 0; l < lanes; ++l) limit[g][l] = last_step[j0 + g * lanes + l];
    }
    const vdouble zero = vdouble{};
    for (int g = 0; g < G; ++g) rhi[g] = rlo[g] = zero;
    for (int32_t k = 1; k <= group_steps; ++k) {
        const double step = k;
        for (int g = 0; g < G; ++g) {
            const vdouble x = fused(a1[g], x1[g], fused(a2[g], x2[g], fused(b3[g], y2, fused(b2[g], y1, b1[g] * zero))));
            const vmask active = step <= limit[g];
            hi[g] = select(active & (x > hi[g]), x, hi[g]);
            lo[g] = select(active & (x < lo[g]), x, lo[g]);
            rhi[g] = select(active & (x > rhi[g]), x, rhi[g]);
            rlo[g] = select(active & (x < rlo[g]), x, rlo[g]);
            x2[g] = select(active, x1[g], x2[g]);
            x1[g] = select(active, x, x1[g]);
        }
        y2 = y1;
        y1 = zero;
    }
    for (int g = 0; g < G; ++g) {
        store(peak_max + g * lanes, hi[g]);
        store(peak_min + g * lanes, lo[g]);
        store(residual_max + g * lanes, rhi[g]);
        store(residual_min + g * lanes, rlo[g]);
    }
}

// Lane blocks per group: enough independent recursions to keep both
// multiply-add pipes busy behind the one-multiply-add dependence of a step,
// and few enough to keep coefficients and state in registers.
#ifndef QUOREL_SRS_GROUP
#define QUOREL_SRS_GROUP 2
#endif
constexpr int max_group_blocks = QUOREL_SRS_GROUP;

template <typename Sample>
using GroupRunner = void (*)(const SrsFilterBank&, int32_t, const Sample*, int64_t, double*, double*, double*,
                             double*, double*, double*);

template <typename Sample, int... G>
constexpr auto make_runners(std::integer_sequence<int, G...>) {
    return std::array<GroupRunner<Sample>, sizeof...(G) + 1>{nullptr, run_group<G + 1, Sample>...};
}

}  // namespace

template <typename Sample>
void srs_peaks_vectorised(const SrsFilterBank& bank, const Sample* samples, int64_t nt, int32_t first, int32_t last,
                          double* positive, double* negative, SrsSignCheck check, const SrsPhasePeaks& phases) {
    static constexpr auto runners = make_runners<Sample>(std::make_integer_sequence<int, max_group_blocks>{});
    constexpr int32_t span = max_group_blocks * lanes;
    alignas(64) double forced_max[span], forced_min[span], residual_max[span], residual_min[span], peak_max[span],
        peak_min[span];

    // Lane blocks first/lanes .. ceil(last/lanes), in groups of nearly equal
    // size, as few as possible.
    const int32_t block0 = first / lanes;
    const int32_t blocks = (last + lanes - 1) / lanes - block0;
    const int32_t groups = (blocks + max_group_blocks - 1) / max_group_blocks;
    int32_t b = block0;
    for (int32_t g = 0; g < groups; ++g) {
        const int32_t size = blocks / groups + (g < blocks % groups ? 1 : 0);
        const int32_t j0 = b * lanes;
        runners[size](bank, j0, samples, nt, forced_max, forced_min, residual_max, residual_min, peak_max, peak_min);
        const int32_t j1 = std::min(last, j0 + size * lanes);
        for (int32_t j = std::max(first, j0); j < j1 && check == SrsSignCheck::forced_phase; ++j) {
            if (!(std::fabs(forced_max[j - j0]) > 1e-20) || !(std::fabs(forced_min[j - j0]) > 1e-20)) {
                throw_srs_failure(bank, j, forced_max[j - j0], forced_min[j - j0]);
            }
        }
        for (int32_t j = std::max(first, j0); j < j1; ++j) {
            positive[j] = peak_max[j - j0];
            negative[j] = std::fabs(peak_min[j - j0]);
            if (phases.primary_positive != nullptr) phases.primary_positive[j] = forced_max[j - j0];
            if (phases.primary_negative != nullptr) phases.primary_negative[j] = std::fabs(forced_min[j - j0]);
            if (phases.residual_positive != nullptr) phases.residual_positive[j] = residual_max[j - j0];
            if (phases.residual_negative != nullptr) phases.residual_negative[j] = std::fabs(residual_min[j - j0]);
        }
        b += size;
    }
}

template void srs_peaks_vectorised<float>(const SrsFilterBank&, const float*, int64_t, int32_t, int32_t, double*,
                                          double*, SrsSignCheck, const SrsPhasePeaks&);
template void srs_peaks_vectorised<double>(const SrsFilterBank&, const double*, int64_t, int32_t, int32_t, double*,
                                           double*, SrsSignCheck, const SrsPhasePeaks&);

}  // namespace quorel
