#include "report/ranking.hpp"

#include <utility>

#include "base/output_file.hpp"

namespace quorel {

void rank_metric(std::vector<float>& values, std::vector<int32_t>& order, std::vector<int32_t>& rank, int32_t n) {
    for (int32_t p = 0; p < n; ++p) order[p] = p;
    for (int32_t i = 0; i + 1 < n; ++i) {
        for (int32_t j = i + 1; j < n; ++j) {
            if (!(values[i] >= values[j])) {   // V[i] < V[j], or unordered
                std::swap(values[i], values[j]);
                std::swap(order[i], order[j]);
            }
        }
    }
    for (int32_t p = 0; p < n; ++p) rank[order[p]] = p;
}

void rank_trials(TrialTable& table) {
    const int32_t n = table.count;
    rank_metric(table.sort_peak_accel, table.order_peak_accel, table.rank_peak_accel, n);
    rank_metric(table.sort_peak_velocity, table.order_peak_velocity, table.rank_peak_velocity, n);
    rank_metric(table.sort_peak_displacement, table.order_peak_displacement, table.rank_peak_displacement, n);
    rank_metric(table.sort_total_error, table.order_total_error, table.rank_total_error, n);
    rank_metric(table.sort_max_error, table.order_max_error, table.rank_max_error, n);
}

void write_rank_file(const TrialTable& table, const OutputNames& names) {
    struct Metric {
        const std::vector<float>& values;
        const std::vector<int32_t>& order;
        const char* header;
        const char* line;
    };
    const Metric metrics[] = {
        {table.sort_peak_accel, table.order_peak_accel, "\n\n accel \n", "%ld %12.3f \n"},
        {table.sort_peak_velocity, table.order_peak_velocity, "\n\n vel \n", "%ld %12.3f \n"},
        {table.sort_peak_displacement, table.order_peak_displacement, "\n\n disp \n", "%ld %14.4g \n"},
        {table.sort_total_error, table.order_total_error, "\n\n error \n", "%ld %12.3f \n"},
        {table.sort_max_error, table.order_max_error, "\n\n irror \n", "%ld %12.3f \n"},
    };
    OutputFile file(names.path(names.rank_d));
    for (const Metric& metric : metrics) {
        file.write(metric.header);
        for (int32_t p = 0; p < table.count; ++p) {
            file.printf(metric.line, static_cast<long>(metric.order[static_cast<size_t>(p)]),
                        static_cast<double>(metric.values[static_cast<size_t>(p)]));
        }
    }
    file.close();
}

}  // namespace quorel
