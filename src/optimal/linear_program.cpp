#include "optimal/linear_program.hpp"

#include <coin/ClpEventHandler.hpp>
#include <coin/ClpSimplex.hpp>
#include <coin/CoinPackedMatrix.hpp>

#include <cmath>
#include <limits>
#include <string>

#include "base/error.hpp"

namespace quorel {

namespace {

double solver_bound(double value) {
    if (value == lp_infinity) return COIN_DBL_MAX;
    if (value == -lp_infinity) return -COIN_DBL_MAX;
    return value;
}

// Ends the simplex at the next iteration once a stop is requested, or once
// the solve has taken `limit` iterations (when above 0; `*reached` is then
// set).  The model keeps a copy of the handler: the flag lives outside it.
class StopWatcher : public ClpEventHandler {
public:
    explicit StopWatcher(const std::atomic<int>* stop, int64_t limit = 0, bool* reached = nullptr)
        : stop_(stop), limit_(limit), reached_(reached) {}
    StopWatcher(const StopWatcher&) = default;
    ClpEventHandler* clone() const override { return new StopWatcher(*this); }
    int event(Event which) override {
        if (which != endOfIteration) return -1;
        if (stop_ != nullptr && stop_->load() != 0) return 0;
        if (limit_ > 0 && model_ != nullptr && model_->numberIterations() >= limit_) {
            *reached_ = true;
            return 0;
        }
        return -1;
    }

private:
    const std::atomic<int>* stop_;
    int64_t limit_;
    bool* reached_;
};

}  // namespace

struct LinearProgram::Solver {
    ClpSimplex model;
};

LinearProgram::LinearProgram() : solver_(std::make_unique<Solver>()) {
    solver_->model.setLogLevel(0);
}

LinearProgram::~LinearProgram() = default;

int32_t LinearProgram::add_column(double lower, double upper, double cost) {
    if (loaded_ || rows_ > 0 || pending_lower_.size() > 0) {
        throw QuorelError("\n Error: a column of the linear program after its rows \n");
    }
    column_lower_.push_back(lower);
    column_upper_.push_back(upper);
    cost_.push_back(cost);
    return static_cast<int32_t>(cost_.size() - 1);
}

void LinearProgram::set_column_bounds(int32_t column, double lower, double upper) {
    column_lower_[static_cast<size_t>(column)] = lower;
    column_upper_[static_cast<size_t>(column)] = upper;
    if (loaded_) solver_->model.setColumnBounds(column, solver_bound(lower), solver_bound(upper));
}

void LinearProgram::set_cost(int32_t column, double cost) {
    cost_[static_cast<size_t>(column)] = cost;
    if (loaded_) solver_->model.setObjectiveCoefficient(column, cost);
}

void LinearProgram::set_row_bounds(int32_t row, double lower, double upper) {
    const int32_t loaded_rows = rows_ - static_cast<int32_t>(pending_lower_.size());
    if (row < loaded_rows) {
        solver_->model.setRowBounds(row, solver_bound(lower), solver_bound(upper));
    } else {
        pending_lower_[static_cast<size_t>(row - loaded_rows)] = solver_bound(lower);
        pending_upper_[static_cast<size_t>(row - loaded_rows)] = solver_bound(upper);
    }
}

int32_t LinearProgram::add_row(double lower, double upper, std::span<const int32_t> columns,
                               std::span<const double> values) {
    for (size_t i = 0; i < columns.size(); ++i) {
        if (values[i] == 0.0) continue;
        pending_columns_.push_back(columns[i]);
        pending_values_.push_back(values[i]);
    }
    pending_lower_.push_back(solver_bound(lower));
    pending_upper_.push_back(solver_bound(upper));
    pending_starts_.push_back(static_cast<int64_t>(pending_values_.size()));
    return rows_++;
}

void LinearProgram::flush_rows() {
    const int32_t count = static_cast<int32_t>(pending_lower_.size());
    const int64_t elements = pending_starts_.back();
    if (elements > std::numeric_limits<CoinBigIndex>::max() - nonzeros_) {
        throw QuorelError("\n Error: the linear program has too many nonzeros for the solver \n");
    }
    std::vector<CoinBigIndex> starts(pending_starts_.begin(), pending_starts_.end());
    ClpSimplex& model = solver_->model;
    if (!loaded_) {
        std::vector<double> lower(column_lower_.size()), upper(column_upper_.size());
        for (size_t i = 0; i < lower.size(); ++i) {
            lower[i] = solver_bound(column_lower_[i]);
            upper[i] = solver_bound(column_upper_[i]);
        }
        const CoinPackedMatrix matrix(false, static_cast<int>(cost_.size()), count, static_cast<CoinBigIndex>(elements),
                                      pending_values_.data(), pending_columns_.data(), starts.data(), nullptr);
        model.loadProblem(matrix, lower.data(), upper.data(), cost_.data(), pending_lower_.data(),
                          pending_upper_.data());
        loaded_ = true;
    } else if (count > 0) {
        model.addRows(count, pending_lower_.data(), pending_upper_.data(), starts.data(), pending_columns_.data(),
                      pending_values_.data());
    }
    nonzeros_ += elements;
    pending_lower_.clear();
    pending_upper_.clear();
    pending_values_.clear();
    pending_columns_.clear();
    pending_starts_.assign(1, 0);
}

LpStatus LinearProgram::solve(const std::atomic<int>* stop, int64_t max_iterations) {
    flush_rows();
    ClpSimplex& model = solver_->model;
    bool reached = false;
    const StopWatcher watcher(stop, max_iterations, &reached);
    model.passInEventHandler(&watcher);
    // The primal simplex throughout: from the slack basis it measured several
    // times faster here than the dual, and after cuts its iterations, though
    // more, cost a fraction of the dual's on these dense rows.
    model.primal();
    iterations_ += model.numberIterations();
    // On the largest programs the primal simplex can stop on numerical
    // trouble after cuts (status 4); the dual simplex, from the basis where
    // it stopped, finished such a round (245 126 iterations after 6 866).
    const bool stopping = stop != nullptr && stop->load() != 0;
    if (!stopping && !reached && model.status() != 0 && model.status() != 1 && model.status() != 5) {
        model.dual();
        iterations_ += model.numberIterations();
    }
    // The model keeps a copy of the handler: give it one that never stops.
    const StopWatcher idle(nullptr);
    model.passInEventHandler(&idle);
    if (stop != nullptr && stop->load() != 0) return LpStatus::stopped;
    if (reached) return LpStatus::limit;
    switch (model.status()) {
        case 0: return LpStatus::optimal;
        case 1: return LpStatus::infeasible;
        case 5: return LpStatus::stopped;
        default: return LpStatus::failed;
    }
}

std::span<const double> LinearProgram::solution() const {
    return {solver_->model.getColSolution(), cost_.size()};
}

std::span<const double> LinearProgram::row_duals() const {
    return {solver_->model.getRowPrice(), static_cast<size_t>(solver_->model.getNumRows())};
}

double LinearProgram::objective() const { return solver_->model.objectiveValue(); }
int32_t LinearProgram::column_count() const { return static_cast<int32_t>(cost_.size()); }
int32_t LinearProgram::row_count() const { return rows_; }
int64_t LinearProgram::nonzero_count() const { return nonzeros_ + pending_starts_.back(); }
int64_t LinearProgram::iterations() const { return iterations_; }

}  // namespace quorel
