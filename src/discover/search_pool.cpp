// Pool entries and their stored values.
#include "discover/search_pool.hpp"

#include <algorithm>

namespace vok {

SearchPool::SearchPool(std::span<const Column> x_cols, std::size_t budget_bytes)
    : x_cols_(x_cols), rows_(x_cols.front().size()), budget_rows_(budget_bytes / sizeof(double)) {}

double* SearchPool::take_row_storage() {
    if (rows_ == 0 || rows_ > budget_rows_) return nullptr;
    budget_rows_ -= rows_;
    storage_.push_back(std::make_unique_for_overwrite<double[]>(rows_));
    return storage_.back().get();
}

void SearchPool::add_leaf(const Expr& leaf, const ProbeValues& probes) {
    PoolEntry entry{leaf, probes};
    const Token& t = leaf.tokens.front();
    if (t.kind == TokenKind::Var) {
        // Leaves are not tested for finiteness: the column is the value. A
        // variable without a column has no value on any row.
        if (t.index < x_cols_.size())
            entry.rows = x_cols_[t.index].data();
        else
            entry.no_value = rows_ > 0;
    } else if (double* rows = take_row_storage()) {
        std::fill(rows, rows + rows_, t.value);
        entry.rows = rows;
    }
    entries_.push_back(std::move(entry));
}

const double* SearchPool::rows_of(std::size_t i, std::size_t begin, std::size_t n, double* buf,
                                  ColumnEvaluator& eval) const {
    const PoolEntry& e = entries_[i];
    if (e.no_value) return nullptr;
    if (e.rows != nullptr) return e.rows + begin;
    return eval.run(e.expr.tokens, x_cols_, {}, begin, n, buf) ? buf : nullptr;
}

}  // namespace vok
