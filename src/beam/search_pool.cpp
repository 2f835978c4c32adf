// Pool entries and their stored values.
#include "beam/search_pool.hpp"

#include <algorithm>
#include <cstdint>

namespace vok::beam {

namespace {

// What the allocator holds for a block of `bytes`: its header, rounded up.
constexpr std::size_t kBlockOverhead = 16;

}  // namespace

SearchPool::SearchPool(std::span<const Column> x_cols, std::size_t row_store_bytes,
                       MemoryBudget& budget)
    : x_cols_(x_cols),
      rows_(x_cols.front().size()),
      budget_rows_(row_store_bytes / sizeof(double)),
      budget_(budget),
      entries_(BudgetAllocator<PoolEntry>(&budget)),
      storage_(BudgetAllocator<std::unique_ptr<double[]>>(&budget)) {}

SearchPool::~SearchPool() { budget_.give_back(charged_); }

// Stored rows only save time: past the budget, entries are computed instead.
double* SearchPool::take_row_storage() {
    if (rows_ == 0 || rows_ > budget_rows_) return nullptr;
    const std::size_t bytes = rows_ * sizeof(double) + kBlockOverhead;
    if (!budget_.try_take(bytes)) return nullptr;
    charged_ += bytes;
    budget_rows_ -= rows_;
    storage_.push_back(std::make_unique_for_overwrite<double[]>(rows_));
    return storage_.back().get();
}

void SearchPool::charge_programs(std::size_t tokens, std::size_t programs) {
    const std::size_t token_bytes = bytes_for(tokens, sizeof(Token));
    const std::size_t overhead = bytes_for(programs, kBlockOverhead);
    if (token_bytes > SIZE_MAX - overhead) throw MemoryLimitExceeded();
    budget_.take(token_bytes + overhead);
    charged_ += token_bytes + overhead;
}

void SearchPool::add_leaf(const Expr& leaf, const ProbeValues& probes) {
    charge_programs(leaf.tokens.size(), 1);
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
    while (runs_.size() <= depth)
        runs_.push_back(std::make_unique_for_overwrite<double[]>(kRowChunk));
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

}  // namespace vok::beam
