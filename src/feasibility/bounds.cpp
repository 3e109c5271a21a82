#include "feasibility/bounds.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/format.hpp"
#include "base/numeric.hpp"
#include "wavelet/velocity_displacement.hpp"

namespace quorel {

namespace {

double pi() { return 0.5 * two_pi(); }

// |h(t)| = amplitude e^(-decay t) |sin(omega_d t + phase)|, phase in [0, pi):
// the kernel's zeros are the times t_n = (n pi - phase) / omega_d, n >= 1.
struct SineForm {
    double amplitude = 0.0;
    double phase = 0.0;
};

SineForm sine_form(const DampedKernel& h) {
    SineForm form{std::hypot(h.cos_part, h.sin_part), std::atan2(h.cos_part, h.sin_part)};
    if (form.phase < 0.0) form.phase += pi();
    if (form.phase >= pi()) form.phase -= pi();
    return form;
}

// 1 + r + ... + r^(count - 1) with r = e^(-lambda), lambda >= 0.
double geometric_sum(double lambda, double count) {
    if (count <= 0.0) return 0.0;
    if (lambda == 0.0) return count;
    return std::expm1(-count * lambda) / std::expm1(-lambda);
}

double undamped_sqrt(double zeta) { return std::sqrt(1.0 - zeta * zeta); }

// x rounded to three significant figures, printed without an exponent.
std::string three_figures(double x) {
    if (!(x > 0.0) || !std::isfinite(x)) return format("%g", x);
    int exponent = static_cast<int>(std::floor(std::log10(x)));
    if (std::round(x / std::pow(10.0, exponent - 2)) >= 1000.0) ++exponent;
    return format("%.*f", std::max(0, 2 - exponent), x);
}

void raise_to(PeakBound& bound, double value, float frequency) {
    if (value > bound.value) {
        bound.value = value;
        bound.frequency = frequency;
    }
}

struct PeakWords {
    BoundedPeak peak;
    const char* name;
    std::optional<float> limit;
    const char* unit;
};

std::vector<PeakWords> given_limits(const DriveLimits& limits, const RunSettings& settings) {
    std::vector<PeakWords> words;
    if (limits.acceleration) words.push_back({BoundedPeak::acceleration, "acceleration", limits.acceleration, unit_table(settings.units).accel});
    if (limits.velocity) words.push_back({BoundedPeak::velocity, "velocity", limits.velocity, unit_table(settings.units).velocity});
    if (limits.displacement) {
        words.push_back({BoundedPeak::displacement, "displacement", limits.displacement, unit_table(settings.units).displacement});
    }
    if (limits.force && limits.moving_mass) words.push_back({BoundedPeak::force, "force", limits.force, unit_table(settings.units).force});
    return words;
}

const PeakBound& bound_record(const FeasibilityBounds& bounds, BoundedPeak peak) {
    switch (peak) {
        case BoundedPeak::acceleration: return bounds.acceleration;
        case BoundedPeak::velocity: return bounds.velocity;
        case BoundedPeak::displacement: return *bounds.displacement;
        case BoundedPeak::force: break;
    }
    return *bounds.force;
}

// A duration in seconds that, truncated to samples of dt, gives `samples`:
// (samples + 1/2) dt rounded to a decimal place finer than dt / 4.
std::string duration_for_samples(int32_t samples, double dt) {
    const int decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(0.25 * dt))));
    return format("%.*f", decimals, (samples + 0.5) * dt);
}

}  // namespace

DampedKernel second_order_kernel(double omega, double zeta, double b1, double b0) {
    const double decay = zeta * omega;
    const double omega_d = omega * undamped_sqrt(zeta);
    return {decay, omega_d, b1, (b0 - b1 * decay) / omega_d};
}

DampedKernel acceleration_kernel(double omega, double zeta) {
    return second_order_kernel(omega, zeta, 2.0 * zeta * omega, omega * omega);
}

DampedKernel velocity_kernel(double omega, double zeta) {
    const double w2 = omega * omega;
    return second_order_kernel(omega, zeta, w2 * (1.0 - 4.0 * zeta * zeta), -2.0 * zeta * w2 * omega);
}

DampedKernel displacement_kernel(double omega, double zeta) {
    const double w2 = omega * omega;
    return second_order_kernel(omega, zeta, -4.0 * zeta * w2 * omega * (1.0 - 2.0 * zeta * zeta),
                               -w2 * w2 * (1.0 - 4.0 * zeta * zeta));
}

// With s = decay, w = omega_d, psi = w x + phase, the antiderivative
//   integral of e^(-s x) sin(psi) dx = -e^(-s x) (s sin psi + w cos psi) / (s^2 + w^2)
// gives each piece between zeros; a whole half-period from t_n to t_(n+1)
// contributes w (e^(-s t_n) + e^(-s t_(n+1))) / (s^2 + w^2), and these form a
// geometric series of ratio e^(-s pi / w).
double kernel_l1(const DampedKernel& h, double t) {
    if (!(t > 0.0)) return 0.0;
    const SineForm form = sine_form(h);
    const double s = h.decay;
    const double w = h.omega_d;
    const double scale = form.amplitude / (s * s + w * w);
    const double psi = w * t + form.phase;
    const double zeros = std::floor(psi / pi());   // zeros in (0, t]
    const double start = s * std::sin(form.phase) + w * std::cos(form.phase);
    if (zeros < 1.0) return scale * (start - std::exp(-s * t) * (s * std::sin(psi) + w * std::cos(psi)));

    const double first_zero = (pi() - form.phase) / w;
    const double first = start + w * std::exp(-s * first_zero);
    const double whole = w * (1.0 + std::exp(-s * pi() / w)) * std::exp(-s * first_zero) *
                         geometric_sum(s * pi() / w, zeros - 1.0);
    const double last_zero = (zeros * pi() - form.phase) / w;
    const double beyond = std::clamp(psi - zeros * pi(), 0.0, pi());   // psi past the last zero
    const double last = w * std::exp(-s * last_zero) - std::exp(-s * t) * (s * std::sin(beyond) + w * std::cos(beyond));
    return scale * (first + whole + last);
}

// G(u) = kernel_l1(u + t) - kernel_l1(u).  |h| shifted by half a period is
// e^(-s pi / w) times itself, so G(u + pi / w) <= G(u) and the largest G is in
// [0, pi / w]: at u = 0 or where G' = |h(u + t)| - |h(u)| = 0.  With
// x = w u + phase, r = e^(-s t), theta = w t that is
//   r |sin(x + theta)| = |sin x|,  tan x = e r sin theta / (1 - e r cos theta),  e = +-1,
// one solution x per sign in [phase, phase + pi).
double kernel_window_l1(const DampedKernel& h, double t) {
    if (!(t > 0.0)) return 0.0;
    const SineForm form = sine_form(h);
    const double r = std::exp(-h.decay * t);
    const double theta = h.omega_d * t;
    double best = kernel_l1(h, t);
    for (const double sign : {1.0, -1.0}) {
        double x = std::atan2(sign * r * std::sin(theta), 1.0 - sign * r * std::cos(theta));
        x += pi() * std::ceil((form.phase - x) / pi());
        const double u = (x - form.phase) / h.omega_d;
        best = std::max(best, kernel_l1(h, u + t) - kernel_l1(h, u));
    }
    return best;
}

BoundedSpectrum bounded_spectrum(const SrsSpec& spec, const RunSettings& settings, std::optional<float> moving_mass) {
    return {spec.freq.data(), spec.accel.data(), spec.count, static_cast<double>(settings.damping), settings.units,
            moving_mass};
}

FeasibilityBounds feasibility_bounds(const BoundedSpectrum& spectrum, double duration,
                                     std::optional<double> velocity_limit) {
    FeasibilityBounds bounds;
    bounds.duration = duration;
    const UnitTable& factors = unit_table(spectrum.units);
    const double zeta = spectrum.zeta;
    for (int32_t i = 0; i < spectrum.count; ++i) {
        const double level = spectrum.level[i];
        if (!(level > 0.0)) continue;
        const double omega = two_pi() * static_cast<double>(spectrum.freq[i]);
        const DampedKernel k = velocity_kernel(omega, zeta);
        // While the drive lasts, through the damper and k on [0, t]; after it, k alone.
        const double velocity_norm =
            std::max(2.0 * zeta * omega + kernel_l1(k, duration), kernel_window_l1(k, duration));
        raise_to(bounds.acceleration, level / kernel_window_l1(acceleration_kernel(omega, zeta), duration),
                 spectrum.freq[i]);
        raise_to(bounds.velocity, level * factors.velocity_factor / velocity_norm, spectrum.freq[i]);
    }
    if (zeta == 0.0 || velocity_limit) {
        bounds.displacement = displacement_bound(spectrum, duration, velocity_limit.value_or(0.0));
    }
    if (spectrum.moving_mass) {
        bounds.force = PeakBound{static_cast<double>(*spectrum.moving_mass) * bounds.acceleration.value *
                                     unit_table(spectrum.units).force_per_mass,
                                 bounds.acceleration.frequency};
    }
    return bounds;
}

DisplacementBound displacement_bound(const BoundedSpectrum& spectrum, double duration, double velocity) {
    DisplacementBound bound;
    const UnitTable& factors = unit_table(spectrum.units);
    const double zeta = spectrum.zeta;
    if (zeta > 0.0) bound.velocity = velocity;
    const double drive_velocity = velocity / factors.velocity_factor;   // the acceleration unit x sec
    for (int32_t i = 0; i < spectrum.count; ++i) {
        const double level = spectrum.level[i];
        if (!(level > 0.0)) continue;
        const double omega = two_pi() * static_cast<double>(spectrum.freq[i]);
        const DampedKernel r = displacement_kernel(omega, zeta);
        // While the drive lasts the damper passes 2 zeta w V of the level, the
        // spring w^2 (1 - 4 zeta^2) D and r on [0, t] the rest; after it, r alone.
        const double damper = 2.0 * zeta * omega * drive_velocity;
        const double spring = omega * omega * std::fabs(1.0 - 4.0 * zeta * zeta);
        const double lasting = std::max(0.0, level - damper) / (spring + kernel_l1(r, duration));
        const double after = level / kernel_window_l1(r, duration);
        raise_to(bound, std::min(lasting, after) * factors.displacement_factor, spectrum.freq[i]);
    }
    return bound;
}

double bound_of(const FeasibilityBounds& bounds, BoundedPeak peak) { return bound_record(bounds, peak).value; }

std::optional<int32_t> shortest_sample_count(const BoundedSpectrum& spectrum, BoundedPeak peak, double limit,
                                             double dt, int32_t from, int32_t most,
                                             std::optional<double> velocity_limit) {
    auto meets = [&](int32_t samples) {
        return bound_of(feasibility_bounds(spectrum, samples * dt, velocity_limit), peak) <= limit;
    };
    if (from > most || !meets(most)) return std::nullopt;
    int32_t above = from - 1;   // every count up to here misses the limit
    int32_t within = most;      // this one meets it
    while (within - above > 1) {
        const int32_t middle = above + (within - above) / 2;
        (meets(middle) ? within : above) = middle;
    }
    return within;
}

std::string bounds_line(const FeasibilityBounds& bounds, const RunSettings& settings) {
    const double zeta = settings.damping;
    const std::string damping = settings.damping_format == DampingFormat::q ? format("Q = %g", static_cast<double>(settings.q))
                                : zeta > 0.0                 ? format("Q = %.4g", 0.5 / zeta)
                                                             : std::string("no damping");
    std::string line = format("\n Least peaks any drive of %.4g sec can have for this SRS (%s): %s %s, %s %s",
                              bounds.duration, damping.c_str(), three_figures(bounds.acceleration.value).c_str(),
                              unit_table(settings.units).accel, three_figures(bounds.velocity.value).c_str(), unit_table(settings.units).velocity);
    if (bounds.displacement) {
        line += format(", %s %s", three_figures(bounds.displacement->value).c_str(), unit_table(settings.units).displacement);
        if (bounds.displacement->velocity) {
            line += format(" within %g %s", *bounds.displacement->velocity, unit_table(settings.units).velocity);
        }
    }
    if (bounds.force) line += format(", %s %s", three_figures(bounds.force->value).c_str(), unit_table(settings.units).force);
    if (!bounds.displacement) line += "; the least displacement depends on the drive's peak velocity";
    return line + " \n";
}

std::string impossible_limit_warnings(const FeasibilityBounds& bounds, const DriveLimits& limits,
                                      const BoundedSpectrum& spectrum, const RunSettings& settings, int32_t most) {
    std::string text;
    const double dt = settings.dt;
    const std::optional<double> velocity_limit =
        limits.velocity ? std::optional<double>(*limits.velocity) : std::nullopt;
    for (const PeakWords& words : given_limits(limits, settings)) {
        if (words.peak == BoundedPeak::force && !bounds.force) continue;
        if (words.peak == BoundedPeak::displacement && !bounds.displacement) continue;
        const PeakBound& bound = bound_record(bounds, words.peak);
        const double limit = static_cast<double>(*words.limit);
        if (!(bound.value > limit)) continue;
        const std::string within = words.peak == BoundedPeak::displacement && bounds.displacement->velocity
                                       ? format(" within %g %s", *bounds.displacement->velocity, unit_table(settings.units).velocity)
                                       : std::string();
        text += format("\n Warning: no drive of %.4g sec can keep its peak %s within %g %s: the least possible is "
                       "%s %s%s (set at %g Hz). \n",
                       bounds.duration, words.name, limit, words.unit, three_figures(bound.value).c_str(), words.unit,
                       within.c_str(), static_cast<double>(bound.frequency));
        const auto samples =
            shortest_sample_count(spectrum, words.peak, limit, dt, settings.nt + 1, most, velocity_limit);
        if (samples) {
            text += format(" The least possible falls to the limit at %ld samples: a duration of %s sec at this "
                           "sample rate. \n",
                           static_cast<long>(*samples), duration_for_samples(*samples, dt).c_str());
        } else {
            text += format(" No duration up to %ld samples (%.4g sec) brings it down to the limit. \n",
                           static_cast<long>(most), most * dt);
        }
    }
    return text;
}

BoundRatios bound_ratios(const FeasibilityBounds& bounds, const BoundedSpectrum& spectrum, double peak_accel,
                         double peak_velocity, double peak_displacement) {
    BoundRatios ratios{peak_accel / bounds.acceleration.value, peak_velocity / bounds.velocity.value, std::nullopt};
    const double least = displacement_bound(spectrum, bounds.duration, peak_velocity).value;
    if (least > 0.0) ratios.displacement = peak_displacement / least;
    return ratios;
}

std::string bound_ratios_text(const BoundRatios& ratios) {
    std::string text = format("Peaks / least possible = %.2f accel, %.2f velox", ratios.acceleration, ratios.velocity);
    if (ratios.displacement) return text + format(", %.2f disp", *ratios.displacement);
    return text + " (no least displacement at this peak velocity)";
}

std::string limit_and_bound_lines(const FeasibilityBounds& bounds, const BoundedSpectrum& spectrum,
                                  const DriveLimits& limits, double peak_accel, double peak_velocity,
                                  double peak_displacement) {
    const LimitRatios to_limits = limit_ratios(limits, spectrum.units, peak_accel, peak_velocity, peak_displacement);
    const BoundRatios to_bounds = bound_ratios(bounds, spectrum, peak_accel, peak_velocity, peak_displacement);
    std::string text;
    auto add = [&](const char* name, const std::optional<double>& to_limit, const std::optional<double>& to_bound) {
        if (!to_limit) return;
        text += format("   %s %.2f x the limit, ", name, *to_limit);
        text += to_bound ? format("%.1f x the least possible \n", *to_bound)
                         : std::string("no least possible at its peak velocity \n");
    };
    add("acceleration", to_limits.acceleration, to_bounds.acceleration);
    add("velocity", to_limits.velocity, to_bounds.velocity);
    add("displacement", to_limits.displacement, to_bounds.displacement);
    // The force bound is M x the acceleration bound x the same factor.
    add("force", to_limits.force, to_bounds.acceleration);
    return text;
}

}  // namespace quorel
