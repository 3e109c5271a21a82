#include "srs/filter_bank.hpp"

#include <cmath>
#include <string>

#include "base/error.hpp"
#include "base/numeric.hpp"

namespace quorel {

namespace {

struct Coefficients {
    double a1, a2, b1, b2, b3;
};

// Every input is a float widened to double and nothing is rounded to float on
// the way: each expression is written out so that every build evaluates the
// same operations in the same order (no contraction, see the build flags).

// Kelly-Richman: K = wd dt, E = exp(-zeta w dt), h = zeta w dt.
Coefficients kelly_richman(double w, double wd, double zeta, double dt) {
    const double K = wd * dt;
    const double cosK = std::cos(K);
    const double sinK = std::sin(K);
    const double h = dt * zeta * w;
    const double E = std::exp(-h);
    Coefficients c{};
    c.a1 = 2.0 * E * cosK;
    c.a2 = -std::exp(-2.0 * h);
    c.b1 = 2.0 * h;
    c.b2 = w * dt * E * ((1.0 - 2.0 * (zeta * zeta)) * (w / wd) * sinK - 2.0 * zeta * cosK);
    c.b3 = 0.0;
    return c;
}

// Smallwood ramp-invariant filter for the absolute acceleration response.
Coefficients smallwood(double w, double wd, double zeta, double dt) {
    const double E = std::exp(-(dt * zeta * w));
    const double K = wd * dt;
    const double Ec = E * std::cos(K);
    const double Es = E * std::sin(K);
    const double Sp = Es / K;
    const double E2 = E * E;
    Coefficients c{};
    c.a1 = 2.0 * Ec;
    c.a2 = -E2;
    c.b1 = 1.0 - Sp;
    c.b2 = 2.0 * (Sp - Ec);
    c.b3 = E2 - Sp;
    return c;
}

// w^3 R(t) at u = w t, R being the ramp response of 1 / (s^2 + 2 zeta w s + w^2):
//   R'' + 2 zeta w R' + w^2 R = t,   R(0) = R'(0) = 0.
// In closed form, with beta = sqrt(1 - zeta^2),
//   w^3 R = u - 2 zeta + e^(-zeta u) (2 zeta cos(beta u) + (2 zeta^2 - 1) / beta sin(beta u)),
// whose terms of order 1 cancel down to u^3 / 6 for small u: below u = 1 the
// power series is summed instead,
//   w^3 R = sum e_n u^n,  e_2 = 0, e_3 = 1/6,
//   (n + 2)(n + 1) e_(n+2) = -2 zeta (n + 1) e_(n+1) - e_n,
// whose terms fall at least as fast as 2^n / n! (30 of them leave less than
// 1e-20 of the sum), with no cancellation beyond a factor of a few.
//
// With `slope`, w^2 R'(t) instead, the derivative in u (the step response):
//   w^2 R' = 1 - e^(-zeta u) (cos(beta u) + zeta / beta sin(beta u)) = sum n e_n u^(n-1).
double ramp_response(double u, double zeta, bool slope = false) {
    if (u > 1.0) {
        const double beta = std::sqrt(1.0 - zeta * zeta);
        const double decay = std::exp(-(zeta * u));
        if (slope) return 1.0 - decay * (std::cos(beta * u) + zeta / beta * std::sin(beta * u));
        return u - 2.0 * zeta +
               decay * (2.0 * zeta * std::cos(beta * u) + (2.0 * (zeta * zeta) - 1.0) / beta * std::sin(beta * u));
    }
    double before = 0.0, coefficient = 1.0 / 6.0, power = slope ? u * u : u * u * u;
    double sum = coefficient * power * (slope ? 3.0 : 1.0);
    for (int n = 3; n < 32; ++n) {
        // e_(n+1) from e_n and e_(n-1).
        const double next = -(2.0 * zeta * n * coefficient + before) / ((n + 1.0) * n);
        before = coefficient;
        coefficient = next;
        power *= u;
        sum += coefficient * power * (slope ? n + 1.0 : 1.0);
    }
    return sum;
}

// Ramp-invariant filter for the pseudo velocity -w z: the exact response at
// the samples to the input that is linear between them.  That input is the
// sum of the samples' triangles y_k L(t - k dt), L rising from 0 at -dt to 1
// at 0 and back to 0 at dt, and L = (R(t + dt) - 2 R(t) + R(t - dt)) / dt in
// ramps.  So the response at n dt to a unit sample at 0 is
//   g_n = (R((n + 1) dt) - 2 R(n dt) + R((n - 1) dt)) / dt   (R = 0 before 0),
// and the filter with the oscillator's poles a1, a2 that reproduces g_0, g_1,
// g_2 reproduces them all:
//   b1 = g0,  b2 = g1 - a1 g0,  b3 = g2 - a1 g1 - a2 g0,
// that is, with r_m = w^3 R(m dt) and the factor w of the pseudo velocity,
//   b1 = r_1 c,  b2 = (r_2 - (2 + a1) r_1) c,  b3 = (r_3 - (2 + a1) r_2 + (1 + 2 a1 - a2) r_1) c,
//   c = 1 / (w^2 dt).
// At w dt = 2 pi / 10^4 the three terms of b3 (27, 32 and 6 sixths of r_1)
// cancel to within a factor of 30, well inside the tolerance of a spectrum.
//
// The relative velocity -z' is the same with R' in place of w R (its second
// differences are those of the step response): r_m = w^2 R'(m dt), the same c.
Coefficients pseudo_velocity_filter(double w, double zeta, double dt, const Coefficients& poles, bool velocity) {
    const double u = w * dt;
    const double r1 = ramp_response(u, zeta, velocity);
    const double r2 = ramp_response(2.0 * u, zeta, velocity);
    const double r3 = ramp_response(3.0 * u, zeta, velocity);
    const double c = 1.0 / (w * w * dt);
    const double a1 = poles.a1, a2 = poles.a2;
    Coefficients f = poles;
    f.b1 = r1 * c;
    f.b2 = (r2 - (2.0 + a1) * r1) * c;
    f.b3 = (r3 - (2.0 + a1) * r2 + (1.0 + 2.0 * a1 - a2) * r1) * c;
    return f;
}

}  // namespace

void design_srs_filters(SrsAlgorithm algorithm, float zeta_f, float dt_f, const float* freq, int32_t count, double two_pi,
                        bool residual, SrsFilterBank& bank, SrsResponse response) {
    if (count < 0 || count > max_check_frequencies) {
        throw QuorelError(" Too many SRS frequencies: " + std::to_string(count) + " (at most " +
                          std::to_string(max_check_frequencies) + ") \n");
    }
    const int32_t n = count;
    const double zeta = zeta_f;
    const double dt = dt_f;
    bank.count = n;
    bank.dt = dt_f;
    bank.padded_count = (n + srs_lane_pad - 1) / srs_lane_pad * srs_lane_pad;
    const size_t p = static_cast<size_t>(bank.padded_count);
    for (std::vector<double>* v : {&bank.a1, &bank.a2, &bank.b1, &bank.b2, &bank.b3}) v->assign(p, 0.0);
    bank.period.assign(p, 0.0f);
    bank.freq.assign(p, 0.0f);
    for (int32_t j = 0; j < n; ++j) {
        const double w = two_pi * static_cast<double>(freq[j]);
        const double wd = w * std::sqrt(1.0 - zeta * zeta);
        const Coefficients c = response != SrsResponse::absolute_acceleration
                                   ? pseudo_velocity_filter(w, zeta, dt, smallwood(w, wd, zeta, dt),
                                                            response == SrsResponse::relative_velocity)
                               : algorithm == SrsAlgorithm::kelly_richman ? kelly_richman(w, wd, zeta, dt)
                                                : smallwood(w, wd, zeta, dt);
        bank.a1[j] = c.a1;
        bank.a2[j] = c.a2;
        bank.b1[j] = c.b1;
        bank.b2[j] = c.b2;
        bank.b3[j] = c.b3;
        bank.freq[j] = freq[j];
        bank.period[j] = static_cast<float>(1.0 / static_cast<double>(freq[j]));
    }
    bank.residual_steps = n > 0 && residual ? truncate_to_int32(1.2 / (static_cast<double>(freq[0]) * dt_f)) : 0;

    // The periods do not increase with j, so one downward sweep finds them all.
    bank.last_step.assign(p, 0);
    int32_t k = bank.residual_steps;
    for (int32_t j = 0; j < n; ++j) {
        while (k > 0 && static_cast<float>(static_cast<double>(k) * dt_f) > bank.period[j]) --k;
        bank.last_step[j] = k;
    }
}

void prepare_srs_filters(const RunSettings& settings, const SrsSpec& spec, double two_pi, SrsFilterBank& bank) {
    design_srs_filters(settings.algorithm, settings.damping, settings.dt, spec.freq.data(), spec.count, two_pi, true,
                       bank);
}

}  // namespace quorel
