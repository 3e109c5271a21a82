#include "srs/filter_bank.hpp"

#include <cmath>

#include "base/numeric.hpp"

namespace quorel {

namespace {

struct Coefficients {
    double a1, a2, b1, b2, b3;
};

// Kelly-Richman: K = wd dt, E = exp(-zeta w dt), h = zeta w dt.
Coefficients kelly_richman(float omega, float omega_d, float zeta, float dt) {
    const double K = static_cast<double>(omega_d) * dt;
    const float cosK = static_cast<float>(std::cos(K));
    const float sinK = static_cast<float>(std::sin(K));
    const double zeta_omega_dt = static_cast<double>(dt) * zeta * omega;
    const float h = static_cast<float>(zeta_omega_dt);
    const double E = std::exp(-zeta_omega_dt);
    const double zeta2 = std::pow(static_cast<double>(zeta), 2.0);
    Coefficients c{};
    c.a1 = 2.0 * E * cosK;
    c.a2 = -std::exp(-2.0 * h);
    c.b1 = 2.0 * h;
    c.b2 = static_cast<double>(omega) * dt * E *
           ((1.0 - 2.0 * zeta2) * (static_cast<double>(omega) / omega_d) * sinK - 2.0 * zeta * cosK);
    c.b3 = 0.0;
    return c;
}

// Smallwood ramp-invariant filter for the absolute acceleration response.
Coefficients smallwood(float omega, float omega_d, float zeta, float dt) {
    const double E = std::exp(-(static_cast<double>(dt) * zeta * omega));
    const double K = static_cast<double>(omega_d) * dt;
    const double Ec = E * std::cos(K);
    const double Es = E * std::sin(K);
    const double Sp = Es / K;
    const double E2 = std::pow(E, 2.0);
    Coefficients c{};
    c.a1 = 2.0 * Ec;
    c.a2 = -E2;
    c.b1 = 1.0 - Sp;
    c.b2 = 2.0 * (Sp - Ec);
    c.b3 = E2 - Sp;
    return c;
}

}  // namespace

void prepare_srs_filters(const RunSettings& settings, const SrsSpec& spec, double two_pi, SrsFilterBank& bank) {
    const int32_t n = spec.count;
    const float zeta = settings.damping;
    const float dt = settings.dt;
    bank.count = n;
    bank.dt = dt;
    for (int32_t j = 0; j < n; ++j) {
        const float omega = static_cast<float>(two_pi * spec.freq[j]);
        const float omega_d = static_cast<float>(omega * std::sqrt(1.0 - std::pow(static_cast<double>(zeta), 2.0)));
        const Coefficients c = settings.algorithm == 1 ? kelly_richman(omega, omega_d, zeta, dt)
                                                       : smallwood(omega, omega_d, zeta, dt);
        bank.a1[j] = static_cast<float>(c.a1);
        bank.a2[j] = static_cast<float>(c.a2);
        bank.b1[j] = static_cast<float>(c.b1);
        bank.b2[j] = static_cast<float>(c.b2);
        bank.b3[j] = static_cast<float>(c.b3);
        bank.freq[j] = spec.freq[j];
    }
    for (int32_t j = 0; j < n; ++j) bank.period[j] = static_cast<float>(1.0 / static_cast<double>(spec.freq[j]));
    bank.residual_steps = n > 0 ? truncate_to_int32(1.2 / (static_cast<double>(spec.freq[0]) * dt)) : 0;

    bank.padded_count = (n + srs_lane_pad - 1) / srs_lane_pad * srs_lane_pad;
    const size_t p = static_cast<size_t>(bank.padded_count);
    bank.wide.assign(5 * p, 0.0);
    for (int32_t j = 0; j < n; ++j) {
        bank.wide[0 * p + j] = bank.a1[j];
        bank.wide[1 * p + j] = bank.a2[j];
        bank.wide[2 * p + j] = bank.b1[j];
        bank.wide[3 * p + j] = bank.b2[j];
        bank.wide[4 * p + j] = bank.b3[j];
    }
    // The periods do not increase with j, so one downward sweep finds them all.
    bank.last_step.assign(p, 0);
    int32_t k = bank.residual_steps;
    for (int32_t j = 0; j < n; ++j) {
        while (k > 0 && static_cast<float>(static_cast<double>(k) * dt) > bank.period[j]) --k;
        bank.last_step[j] = k;
    }
}

}  // namespace quorel
