#pragma once
#include "base/run_settings.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// Peak |a|, and peak |v| and |d| from running sums with the trapezoid end
// weights of the whole record: w_0 = w_nt = dt/2, every other w_k = dt, so
//   V_j = sum_{k<=j} w_k a_k,   D_j = sum_{k<=j} w_k v_k  (v_k = V_k as float),
// for j = 0..nt with a_nt = 0.  Velocity and displacement peaks are converted
// to the reporting units (in/sec and in, or m/sec and mm); acceleration never.
void peak_kinematics(const RunSettings& settings, TimeHistory& history);

}  // namespace quorel
