#pragma once
// A linear program solved by COIN-OR Clp's primal simplex:
//
//   minimise c x  subject to  row_lower <= A x <= row_upper,  col_lower <= x <= col_upper
//
// Columns are declared first; rows come in batches.  The first solve starts
// from the slack basis, every later one from the last basis, so that a round
// of cutting planes or a new weighting costs a fraction of a fresh solve.
// The solver is single-threaded and deterministic.
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

namespace quorel {

inline constexpr double lp_infinity = std::numeric_limits<double>::infinity();

enum class LpStatus {
    optimal,
    infeasible,   // no point meets every row and bound
    stopped,      // the stop request was seen during the solve
    failed,       // unbounded, or the solver gave up (numerical trouble)
    limit,        // the solve's iteration limit was reached
};

class LinearProgram {
public:
    LinearProgram();
    ~LinearProgram();
    LinearProgram(const LinearProgram&) = delete;
    LinearProgram& operator=(const LinearProgram&) = delete;

    // Before the first row.  Returns the column's index.
    int32_t add_column(double lower, double upper, double cost);
    // At any time; the next solve starts from the last basis.
    void set_column_bounds(int32_t column, double lower, double upper);
    void set_cost(int32_t column, double cost);
    // A row already added (infinite sides: no bound, the row drops out).
    void set_row_bounds(int32_t row, double lower, double upper);
    // lower <= sum_i values[i] x[columns[i]] <= upper; an infinite side is
    // no bound.  Zero values are left out.  Returns the row's index.
    int32_t add_row(double lower, double upper, std::span<const int32_t> columns, std::span<const double> values);

    // Solves, seeing `stop` (a StopRequest's signal, or null) at every
    // iteration, in at most `max_iterations` simplex iterations when that is
    // above 0.
    LpStatus solve(const std::atomic<int>* stop, int64_t max_iterations = 0);

    // Of the last optimal solve.
    std::span<const double> solution() const;
    std::span<const double> row_duals() const;
    double objective() const;

    int32_t column_count() const;
    int32_t row_count() const;
    int64_t nonzero_count() const;
    int64_t iterations() const;   // simplex iterations of every solve so far

private:
    struct Solver;
    void flush_rows();

    std::unique_ptr<Solver> solver_;
    std::vector<double> column_lower_, column_upper_, cost_;
    // Rows not yet handed to the solver, row-major.
    std::vector<double> pending_lower_, pending_upper_, pending_values_;
    std::vector<int32_t> pending_columns_;
    std::vector<int64_t> pending_starts_{0};
    int32_t rows_ = 0;
    int64_t nonzeros_ = 0;
    int64_t iterations_ = 0;
    bool loaded_ = false;
};

}  // namespace quorel
