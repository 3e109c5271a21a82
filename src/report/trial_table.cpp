#include "report/trial_table.hpp"

#include <cstddef>

namespace quorel {

void allocate_trial_table(TrialTable& table, int32_t trials) {
    const size_t size = trials > 0 ? static_cast<size_t>(trials) : 0;
    for (auto* list : {&table.peak_accel, &table.peak_velocity, &table.peak_displacement, &table.total_error,
                       &table.max_error, &table.sort_peak_accel, &table.sort_peak_velocity,
                       &table.sort_peak_displacement, &table.sort_total_error, &table.sort_max_error}) {
        list->assign(size, 0.0f);
    }
    for (auto* list : {&table.iterations, &table.order_peak_accel, &table.order_peak_velocity,
                       &table.order_peak_displacement, &table.order_total_error, &table.order_max_error,
                       &table.rank_peak_accel, &table.rank_peak_velocity, &table.rank_peak_displacement,
                       &table.rank_total_error, &table.rank_max_error}) {
        list->assign(size, 0);
    }
    table.within_limits.assign(size, 1);
    table.passes.assign(size, 1);
    table.count = 0;
}

}  // namespace quorel
