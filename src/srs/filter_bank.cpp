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

}  // namespace

void design_srs_filters(int32_t algorithm, float zeta_f, float dt_f, const float* freq, int32_t count, double two_pi,
                        bool residual, SrsFilterBank& bank) {
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
        const Coefficients c = algorithm == 1 ? kelly_richman(w, wd, zeta, dt) : smallwood(w, wd, zeta, dt);
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
