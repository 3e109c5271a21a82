#include "srs/pseudo_velocity.hpp"

#include "base/numeric.hpp"
#include "srs/srs.hpp"

namespace quorel {

void design_pvss_filters(float zeta, float dt, const float* freq, int32_t count, double two_pi, bool residual,
                         SrsFilterBank& bank) {
    design_srs_filters(SrsAlgorithm::smallwood, zeta, dt, freq, count, two_pi, residual, bank, SrsResponse::pseudo_velocity);
}

void design_relative_velocity_filters(float zeta, float dt, const float* freq, int32_t count, double two_pi,
                                      bool residual, SrsFilterBank& bank) {
    design_srs_filters(SrsAlgorithm::smallwood, zeta, dt, freq, count, two_pi, residual, bank, SrsResponse::relative_velocity);
}

void compute_pvss_peaks(const SrsFilterBank& bank, const double* samples, int64_t nt, int32_t first, int32_t last,
                        double* positive, double* negative) {
    compute_srs_peaks(bank, samples, nt, first, last, positive, negative, SrsKernel::vectorised, SrsSignCheck::none);
}

double pvss_value(double peak, double velocity_factor) {
    return static_cast<double>(static_cast<float>(peak)) * velocity_factor;
}

std::vector<PvssLine> pseudo_velocity_spectrum(const std::vector<double>& samples, float dt, float zeta,
                                               const std::vector<float>& freq, bool residual, double velocity_factor) {
    const int32_t count = static_cast<int32_t>(freq.size());
    SrsFilterBank bank;
    design_pvss_filters(zeta, dt, freq.data(), count, two_pi(), residual, bank);
    std::vector<double> positive(freq.size()), negative(freq.size());
    compute_pvss_peaks(bank, samples.data(), static_cast<int64_t>(samples.size()), 0, count, positive.data(),
                       negative.data());
    std::vector<PvssLine> lines;
    for (size_t j = 0; j < freq.size(); ++j) {
        lines.push_back({static_cast<double>(freq[j]), pvss_value(positive[j], velocity_factor),
                         pvss_value(negative[j], velocity_factor)});
    }
    return lines;
}

}  // namespace quorel
