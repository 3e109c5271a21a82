#include "wavelet/wavelet_set.hpp"

#include "base/numeric.hpp"

namespace quorel {

void allocate_rows(WaveletSet& set, int32_t count, int32_t rows) {
    set.count = count;
    const size_t size = static_cast<size_t>(rows) * max_frequencies;
    set.amplitude.assign(size, 0.0f);
    set.nhs.assign(size, 0);
    set.delay.assign(size, 0.0f);
}

void set_wavelet_constants(const SrsSpec& spec, WaveletSet& set) {
    const double two_pi_value = two_pi();
    for (int32_t i = 0; i < spec.count; ++i) {
        set.omega[i] = static_cast<float>(spec.freq[i] * two_pi_value);
        set.min_span[i] = static_cast<float>(1.5 / static_cast<double>(spec.freq[i]));
        set.base_amplitude[i] = static_cast<float>(spec.accel[i] * 0.0625);
    }
}

void allocate_basis(WaveletBasis& basis, int32_t n, int32_t nt, bool dense) {
    basis.dense = dense;
    basis.capacity = static_cast<size_t>(n) * static_cast<size_t>(nt);
    // Deliberately not value-initialised: untouched pages cost no memory.
    basis.values.reset(new float[basis.capacity > 0 ? basis.capacity : 1]);
    basis.sum.reset(new double[nt > 0 ? nt : 1]);
}

void allocate_history(TimeHistory& history, int32_t nt) {
    history.nt = nt;
    history.samples.assign(static_cast<size_t>(nt) + 1, 0.0f);
    history.velocity.assign(static_cast<size_t>(nt) + 1, 0.0f);
    history.peak_accel = history.peak_velocity = history.peak_displacement = 0.0f;
}

}  // namespace quorel
