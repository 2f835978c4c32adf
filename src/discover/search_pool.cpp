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

double* RowScratch::at_depth(std::size_t depth) {
    while (runs_.size() <= depth) runs_.push_back(std::make_unique_for_overwrite<double[]>(kRowChunk));
    return runs_[depth].get();
}

const double* SearchPool::rows_of(std::size_t i, std::size_t begin, std::size_t n,
                                  RowScratch& scratch, std::size_t depth) const {
    const PoolEntry& e = entries_[i];
    if (e.no_value) return nullptr;
    if (e.rows != nullptr) return e.rows + begin;
    double* out = scratch.at_depth(depth);
    if (!e.combined)
        return scratch.eval.run(e.expr.tokens, x_cols_, {}, begin, n, out) ? out : nullptr;
    // The left operand's temporaries are dead once it is computed, so the
    // right one may reuse every depth past the left's own.
    const double* a = rows_of(e.left, begin, n, scratch, depth + 1);
    if (a == nullptr) return nullptr;
    if (arity(e.op) == 1) return apply_unary_rows(e.op, a, out, n) ? out : nullptr;
    const double* b = rows_of(e.right, begin, n, scratch, depth + 2);
    if (b == nullptr) return nullptr;
    return apply_binary_rows(e.op, a, b, out, n) ? out : nullptr;
}

}  // namespace vok
