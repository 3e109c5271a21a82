// The basis values with a vectorised sine and the C library's bits.
//
// A value is v = float(P), P = s(a) s(b) rounded to double, with b = theta,
// a = theta / N (both exact doubles, the same in either kernel) and s the C
// library's sin: that is the reference.  The C library's sin is not correctly
// rounded (glibc 2.36, measured on 2 x 10^7 arguments against sinl: about one
// result in 800 is the other neighbour of the true sine, up to 0.51 ULP away);
// it is taken to be within 1 ULP.  SLEEF's u10 sine S is documented to be
// within 1.0 ULP.  The two sines often differ in the last bit, so the
// vectorised product Q = S(a) S(b) rounded is kept only where it provably
// rounds to the same float as P.
//
// An error of at most 1 ULP in a normal result y is at most 2^-52 |y| = 2u |y|
// (u = 2^-53, as ulp(y) <= 2^-52 |y|).  With x = sin(a) and y = sin(b) exact,
//   P = x (1 + e1) y (1 + e2) (1 + r1),   |e1|, |e2| <= 2u,  |r1| <= u,
//   Q = x (1 + e3) y (1 + e4) (1 + r2),   |e3|, |e4| <= 2u,  |r2| <= u,
// so |P / Q - 1| <= (1 + 2u)^2 (1 + u) / ((1 - 2u)^2 (1 - u)) - 1 < 10.001 u:
// P lies within 10.001 u |Q| of Q.  The test takes m = 12 u |Q| (rounded:
// at least 12 u |Q| (1 - u)) and the ends lo = Q - m, hi = Q + m rounded to
// double, each moved towards Q by at most u |Q| (1 + 12 u); they stay at
// least (11 u - 24 u^2) |Q| > 10.001 u |Q| from Q, so lo <= P <= hi.  Rounding
// to float is monotone (ties to even included): when float(lo) == float(hi),
// every double between them rounds to that float, P and Q among them, and
// float(Q) is the reference's value.  Otherwise a float rounding boundary (a
// midpoint between neighbouring floats) lies within about 12 u |Q| of Q, which
// happens to a few values in 10^8, and the value is recomputed with the C
// library's sin.  (The margin would still hold for a C library sine up to
// 1.25 ULP off.)  |Q| >= FLT_MIN keeps every quantity at normal double
// magnitudes (|S(b)| <= 1 + 2^-52, so |S(a)| >= FLT_MIN / 2); smaller ones are
// recomputed too.  The one exception is theta = +0 (a wavelet starting on a
// sample): sin(+0) is +0 exactly (C's Annex F), so the value is +0.
//
// Any of SLEEF's variants (AVX-512, AVX2, SSE2, chosen by the build or at run
// time) meets the bound, so the native and the portable build give the same
// bits; only how many values are recomputed may differ.
#include "wavelet/basis_values.hpp"

#include <immintrin.h>
#include <sleef.h>

#include <cfloat>
#include <cstring>

namespace quorel {

namespace {

#if defined(__AVX512F__)
constexpr int lanes = 8;
using vdouble = __m512d;
inline vdouble vector_sin(vdouble x) { return Sleef_sind8_u10avx512f(x); }
#elif defined(__AVX2__) && defined(__FMA__)
constexpr int lanes = 4;
using vdouble = __m256d;
inline vdouble vector_sin(vdouble x) { return Sleef_sind4_u10avx2(x); }
#elif defined(__AVX__)
constexpr int lanes = 4;
using vdouble = __m256d;
inline vdouble vector_sin(vdouble x) { return Sleef_sind4_u10avx(x); }
#else
constexpr int lanes = 2;
using vdouble = __m128d;
// SLEEF chooses its SSE2, SSE4.1 or AVX2 variant for the processor.
inline vdouble vector_sin(vdouble x) { return Sleef_sind2_u10(x); }
#endif

typedef float vfloat __attribute__((vector_size(lanes * sizeof(float))));
typedef long long vmask __attribute__((vector_size(lanes * sizeof(double))));

// Rounded to float and back (exactly) to double.
inline vdouble through_float(vdouble x) {
    return __builtin_convertvector(__builtin_convertvector(x, vfloat), vdouble);
}

// The values of `lanes` phases into out[0..lanes); returns one bit per lane
// whose value must be recomputed with the C library's sin.
inline unsigned vector_values(vdouble theta, double half_sines, double margin, float* out) {
    const vmask start = theta == 0.0;
    const vdouble zero = {};
    const vdouble product = start ? zero : vector_sin(theta / half_sines) * vector_sin(theta);
    const vdouble size = (vdouble)((vmask)product & 0x7fffffffffffffffLL);
    const vdouble m = size * margin;
    const vmask kept = start | ((size >= FLT_MIN) & (through_float(product - m) == through_float(product + m)));
    const vfloat value = __builtin_convertvector(product, vfloat);
    std::memcpy(out, &value, sizeof value);
    unsigned redo = 0;
    for (int l = 0; l < lanes; ++l) redo |= static_cast<unsigned>(kept[l] == 0) << l;
    return redo;
}

}  // namespace

void basis_values(const double* theta, int32_t count, double half_sines, SineKernel kernel, double margin, float* out,
                  int64_t& values, int64_t& fallbacks) {
    if (kernel == SineKernel::library) {
        for (int32_t k = 0; k < count; ++k) out[k] = library_basis_value(theta[k], half_sines);
        return;
    }
    auto recompute = [&](int32_t k, unsigned redo) {
        for (int l = 0; l < lanes; ++l) {
            if ((redo >> l & 1u) == 0) continue;
            out[k + l] = library_basis_value(theta[k + l], half_sines);
            ++fallbacks;
        }
    };
    int32_t k = 0;
    for (; k + lanes <= count; k += lanes) {
        vdouble x;
        std::memcpy(&x, theta + k, sizeof x);
        const unsigned redo = vector_values(x, half_sines, margin, out + k);
        if (redo != 0) recompute(k, redo);
    }
    if (k < count) {
        // The last few phases, padded with zeros.
        const int32_t left = count - k;
        double x[lanes] = {};
        float v[lanes];
        std::memcpy(x, theta + k, static_cast<size_t>(left) * sizeof(double));
        vdouble xv;
        std::memcpy(&xv, x, sizeof xv);
        const unsigned redo = vector_values(xv, half_sines, margin, v) & ((1u << left) - 1u);
        std::memcpy(out + k, v, static_cast<size_t>(left) * sizeof(float));
        if (redo != 0) recompute(k, redo);
    }
    values += count;
}

}  // namespace quorel
