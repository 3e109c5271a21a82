#include "wavelet/synthesis_failure.hpp"

#include <cmath>

#include "base/format.hpp"

namespace quorel {

namespace {

double freq_at(const SrsSpec& spec, int32_t i) { return spec.freq[static_cast<size_t>(i)]; }

std::string value_text(double value, const RunSettings& settings) {
    return format("%.4g %s", value, unit_table(settings.units).accel);
}

// "the wavelet at 2000 Hz, where the specification is 10 G"
std::string wavelet_at(const SrsSpec& spec, const RunSettings& settings, int32_t i) {
    return format("the wavelet at %g Hz, where the specification is %s", freq_at(spec, i),
                  value_text(spec.accel[static_cast<size_t>(i)], settings).c_str());
}

double peak_of(const TimeHistory& history) {
    double peak = 0.0;
    for (int32_t j = 0; j < history.nt; ++j) peak = std::fmax(peak, std::fabs(history.samples[static_cast<size_t>(j)]));
    return peak;
}

// Why the SRS at wavelet i stays far from the specification however its own
// amplitude is corrected, and what to change.  An oscillator tuned above the
// history's content follows the base, so its SRS tends to the peak
// acceleration; at any frequency the neighbouring wavelets, each a few of its
// own cycles long, excite it too.  A specification that changes too steeply
// falls below either floor, and the correction then drives the wavelet towards
// zero without reaching it.
std::string why_and_what_to_change(const SrsSpec& spec, int32_t i, double reached, double peak) {
    const double target = spec.accel[static_cast<size_t>(i)];
    bool rises_after = false;
    for (int32_t j = i + 1; j < spec.count; ++j) rises_after = rises_after || spec.accel[static_cast<size_t>(j)] > target;
    std::string text;
    if (!std::isfinite(reached) || !std::isfinite(peak)) {
        return " The history overflowed the float range: the specification is too large for the synthesis. Give it "
               "in smaller values.";
    }
    if (!(reached > target)) {
        text = " The wavelet alone cannot raise the SRS there to the specification.";
    } else if (reached >= 0.5 * peak && !rises_after) {
        text = " An SRS at a high natural frequency can never be much below the history's peak acceleration.";
    } else {
        text = " An SRS can never be much below what the neighbouring wavelets give there.";
    }
    const double f = freq_at(spec, i);
    const bool upper_half = 2 * i >= spec.count;
    text += format(" Make the specification's slope gentler near %g Hz, or %s the frequency range %s %g Hz.", f,
                   upper_half ? "end" : "start", upper_half ? "below" : "above", f);
    return text;
}

}  // namespace

std::string explain_synthesis_failure(const QuorelError& error, const SrsSpec& spec, const RunSettings& settings,
                                      const float* amplitudes, const SrsResult* reached, const TimeHistory& history) {
    const int32_t i = error.wavelet();
    const bool one_wavelet = i >= 0 && i < spec.count;
    std::string text;
    switch (error.check()) {
        case SynthesisCheck::none:
            return {};
        case SynthesisCheck::amplitude:
        case SynthesisCheck::scale: {
            if (!one_wavelet) return {};
            const bool scale = error.check() == SynthesisCheck::scale;
            if (reached == nullptr) {
                text = format("Error: %s, starts with an amplitude below 1e-20: the specification is too small for "
                              "the synthesis. Give it in larger values.",
                              wavelet_at(spec, settings, i).c_str());
                break;
            }
            const size_t k = static_cast<size_t>(i);
            const double ave =
                (std::fabs(static_cast<double>(reached->xmin[k])) + std::fabs(static_cast<double>(reached->xmax[k]))) * 0.5;
            const double peak = peak_of(history);
            text = format(scale ? "Error: the amplitude correction of the wavelet at %g Hz is out of range"
                                : "Error: the amplitude correction drove the wavelet at %g Hz to zero",
                          freq_at(spec, i));
            text += format(": the specification there is %s, but the history's SRS there reached %s, and its peak "
                           "acceleration is %s.",
                           value_text(spec.accel[k], settings).c_str(), value_text(ave, settings).c_str(),
                           value_text(peak, settings).c_str());
            text += why_and_what_to_change(spec, i, ave, peak);
            break;
        }
        case SynthesisCheck::rms: {
            int32_t largest = -1;
            for (int32_t j = 0; j < spec.count; ++j) {
                if (largest < 0 || std::fabs(amplitudes[j]) > std::fabs(amplitudes[largest])) largest = j;
            }
            text = "Error: the history is silent (its root-mean-square is below 1e-20)";
            if (largest < 0) {
                text += ": the grid holds no wavelet.";
                break;
            }
            text += format(": its largest wavelet, at %g Hz, where the specification is %s, has an amplitude of %s. "
                           "The specification is too small for the synthesis: give it in larger values.",
                           freq_at(spec, largest), value_text(spec.accel[static_cast<size_t>(largest)], settings).c_str(),
                           value_text(amplitudes[largest], settings).c_str());
            break;
        }
        case SynthesisCheck::srs:
            if (!one_wavelet) return {};
            text = format("Error: the SRS at %g Hz, where the specification is %s, never left zero in one direction "
                          "during the history: the history is too short or too weak to excite that natural frequency. "
                          "Lengthen the history, or give the specification in larger values.",
                          freq_at(spec, i), value_text(spec.accel[static_cast<size_t>(i)], settings).c_str());
            break;
        case SynthesisCheck::half_sines:
            if (!one_wavelet) return {};
            text = format("Error: %s, has fewer than 3 half-sines.", wavelet_at(spec, settings, i).c_str());
            break;
        case SynthesisCheck::span:
            if (!one_wavelet) return {};
            text = format("Error: %s, lasts less than 1e-20 sec: the frequency is too high for the synthesis.",
                          wavelet_at(spec, settings, i).c_str());
            break;
        case SynthesisCheck::frequency:
            if (!one_wavelet) return {};
            text = format("Error: %s, is below the 0.48 Hz that the synthesis supports.",
                          wavelet_at(spec, settings, i).c_str());
            break;
    }
    return text + "\n";
}

}  // namespace quorel
