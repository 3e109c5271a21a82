// The SRS recursion with the frequencies in SIMD lanes.
//
// The filters of different frequencies are independent, so a group of lane
// blocks runs through the whole history with its state (x1, x2 and the peaks)
// held in registers; the input terms b1 y + b2 y1 + b3 y2 use the same samples
// in every lane.  Each lane computes exactly what the scalar loop computes:
//
//   x = (((a2 x2 + a1 x1) + b1 y) + b2 y1) + b3 y2   in double, left to right,
//   then x rounded to float (kept in the lane as the double of that float).
//
// This file is compiled with -ffp-contract=fast, so the compiler may fuse each
// product with the following addition.  That cannot change a result: every
// product is of two floats (a coefficient and a float response or sample),
// which is exact in double, so the fused multiply-add rounds once exactly as the
// separate addition does.  No other floating-point product appears here.

// GCC 12's AVX-512 conversion intrinsics start from an "undefined" register
// and trip its own uninitialised-value warning.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include <algorithm>
#include <cmath>

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
typedef float vfloat __attribute__((vector_size(lanes * sizeof(float))));

inline vdouble load(const double* p) {
    vdouble v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

inline void store(double* p, vdouble v) { __builtin_memcpy(p, &v, sizeof v); }

// Rounding every lane to float, and widening back.  (The generic vector
// conversion splits the widening into halves; the intrinsics do not.)
inline vfloat narrow(vdouble x) {
#if defined(__AVX512F__)
    return _mm512_cvtpd_ps(x);
#elif defined(__AVX__)
    return _mm256_cvtpd_ps(x);
#else
    vfloat f;
    const __m128 wide = _mm_cvtpd_ps(x);
    __builtin_memcpy(&f, &wide, sizeof f);
    return f;
#endif
}

inline vdouble widen(vfloat x) {
#if defined(__AVX512F__)
    return _mm512_cvtps_pd(x);
#elif defined(__AVX__)
    return _mm256_cvtps_pd(x);
#else
    __m128 wide = _mm_setzero_ps();
    __builtin_memcpy(&wide, &x, sizeof x);
    return _mm_cvtps_pd(wide);
#endif
}

inline vdouble to_float(vdouble x) { return widen(narrow(x)); }

inline vdouble select(vmask mask, vdouble yes, vdouble no) { return mask ? yes : no; }

// Runs `G` lane blocks starting at lane `j0` through the forced and the
// residual phase.  forced_max / forced_min receive the forced-phase peaks (for
// the check), peak_max / peak_min the peaks of both phases.
template <int G>
void run_group(const SrsFilterBank& bank, int32_t j0, const float* y, int32_t nt, const int32_t* last_step,
               double* forced_max, double* forced_min, double* peak_max, double* peak_min) {
    const size_t p = static_cast<size_t>(bank.padded_count);
    const double* w = bank.wide.data();
    vdouble a1[G], a2[G], b1[G], b2[G], b3[G], x1[G], x2[G];
    for (int g = 0; g < G; ++g) {
        const size_t j = static_cast<size_t>(j0 + g * lanes);
        a1[g] = load(w + 0 * p + j);
        a2[g] = load(w + 1 * p + j);
        b1[g] = load(w + 2 * p + j);
        b2[g] = load(w + 3 * p + j);
        b3[g] = load(w + 4 * p + j);
        x1[g] = x2[g] = vdouble{};
    }

    // The forced-phase peaks are kept as floats: half-width comparisons.
    vfloat fhi[G], flo[G];
    for (int g = 0; g < G; ++g) fhi[g] = flo[g] = vfloat{};
    double y1 = 0.0, y2 = 0.0;
    for (int32_t i = 0; i < nt; ++i) {
        const double yi = y[i];
        for (int g = 0; g < G; ++g) {
            vdouble t = a2[g] * x2[g];
            t = t + a1[g] * x1[g];
            t = t + b1[g] * yi;
            t = t + b2[g] * y1;
            t = t + b3[g] * y2;
            const vfloat xf = narrow(t);
            fhi[g] = xf > fhi[g] ? xf : fhi[g];
            flo[g] = xf < flo[g] ? xf : flo[g];
            x2[g] = x1[g];
            x1[g] = widen(xf);
        }
        y2 = y1;
        y1 = yi;
    }
    vdouble hi[G], lo[G];
    for (int g = 0; g < G; ++g) {
        hi[g] = widen(fhi[g]);
        lo[g] = widen(flo[g]);
        store(forced_max + j0 + g * lanes, hi[g]);
        store(forced_min + j0 + g * lanes, lo[g]);
    }

    // Residual phase: lane j advances in steps 1 .. last_step[j] (one period of
    // its frequency).  The frequencies ascend, so these are the steps of the
    // scalar loop, which ends each step at the first frequency whose period has
    // passed.  The input is zero; y1 and y2 hold the last two samples at first.
    // A lane past its last step keeps its state and never uses y1, y2 again.
    int32_t group_steps = 0;
    for (int32_t j = j0; j < j0 + G * lanes; ++j) group_steps = std::max(group_steps, last_step[j]);
    vdouble limit[G];
    for (int g = 0; g < G; ++g) {
        for (int l = 0; l < lanes; ++l) limit[g][l] = last_step[j0 + g * lanes + l];
    }
    for (int32_t k = 1; k <= group_steps; ++k) {
        const double step = k;
        for (int g = 0; g < G; ++g) {
            vdouble t = a2[g] * x2[g];
            t = t + a1[g] * x1[g];
            t = t + b2[g] * y1;
            t = t + b3[g] * y2;
            const vdouble x = to_float(t);
            const vmask active = step <= limit[g];
            hi[g] = select(active & (x > hi[g]), x, hi[g]);
            lo[g] = select(active & (x < lo[g]), x, lo[g]);
            x2[g] = select(active, x1[g], x2[g]);
            x1[g] = select(active, x, x1[g]);
        }
        y2 = y1;
        y1 = 0.0;
    }
    for (int g = 0; g < G; ++g) {
        store(peak_max + j0 + g * lanes, hi[g]);
        store(peak_min + j0 + g * lanes, lo[g]);
    }
}

// Lane blocks per group: enough independent recursions to cover the latency
// of one step (about 26 cycles: four dependent multiply-adds and the two
// conversions) with room to spare; 8 measured fastest with AVX-512 (6 and 10
// within a few percent, 4 or 5 clearly slower).
constexpr int max_group_blocks = 8;

using GroupRunner = void (*)(const SrsFilterBank&, int32_t, const float*, int32_t, const int32_t*, double*, double*,
                             double*, double*);
constexpr GroupRunner group_runners[max_group_blocks + 1] = {nullptr, run_group<1>, run_group<2>, run_group<3>, run_group<4>, run_group<5>, run_group<6>, run_group<7>, run_group<8>};

}  // namespace

void compute_srs_vectorised(const SrsFilterBank& bank, const float* samples, int32_t nt, SrsResult& result) {
    const int32_t n = bank.count;
    const int32_t padded = bank.padded_count;
    alignas(64) double forced_max[max_frequencies + srs_lane_pad], forced_min[max_frequencies + srs_lane_pad];
    alignas(64) double peak_max[max_frequencies + srs_lane_pad], peak_min[max_frequencies + srs_lane_pad];
    const int32_t* last_step = bank.last_step.data();

    // Split the lane blocks into as few groups as possible, of nearly equal size.
    const int32_t blocks = padded / lanes;
    const int32_t groups = (blocks + max_group_blocks - 1) / max_group_blocks;
    int32_t j0 = 0;
    for (int32_t g = 0; g < groups; ++g) {
        const int32_t size = blocks / groups + (g < blocks % groups ? 1 : 0);
        group_runners[size](bank, j0, samples, nt, last_step, forced_max, forced_min, peak_max, peak_min);
        j0 += size * lanes;
    }

    for (int32_t j = 0; j < n; ++j) {
        if (!(std::fabs(forced_max[j]) > 1e-20) || !(std::fabs(forced_min[j]) > 1e-20)) {
            throw_srs_failure(bank, j, static_cast<float>(forced_max[j]), static_cast<float>(forced_min[j]));
        }
    }
    result.xmax.fill(0.0f);
    result.xmin.fill(0.0f);
    for (int32_t j = 0; j < n; ++j) {
        result.xmax[j] = static_cast<float>(peak_max[j]);
        result.xmin[j] = static_cast<float>(std::fabs(peak_min[j]));
    }
}

}  // namespace quorel
