// The search's pool of expressions, each kept with its values at the probe
// points and, within a memory bound, on every sample row. A sub-program's
// value does not depend on what surrounds it, so a combination of two entries
// is one operator applied to their stored values: the bits are those of
// evaluating the whole program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "beam/fingerprint.hpp"
#include "core/column_ops.hpp"
#include "core/expr.hpp"
#include "runtime/memory_budget.hpp"

namespace vok::beam {

struct PoolEntry {
    Expr expr;
    ProbeValues probes{};
    const double* rows = nullptr;  // one value per sample row; null when not stored
    bool no_value = false;         // some sample row has no value
    // How a combined entry was built: op over entries left (and right), all
    // earlier in the pool. Its values are that operator over theirs.
    bool combined = false;
    OpCode op = OpCode::Neg;
    std::uint32_t left = 0;
    std::uint32_t right = 0;
};

// One thread's buffers for SearchPool::rows_of: a run of rows per nesting
// depth, kept between calls so evaluation does not allocate once warm.
class RowScratch {
public:
    [[nodiscard]] double* at_depth(std::size_t depth);
    ColumnEvaluator eval;

private:
    std::vector<std::unique_ptr<double[]>> runs_;
};

class SearchPool {
public:
    // Row values are stored while they fit in row_store_bytes and in budget;
    // later entries are computed from the entries they were built from when
    // needed. The entries, their programs and stored rows are charged to budget.
    SearchPool(std::span<const Column> x_cols, std::size_t row_store_bytes, MemoryBudget& budget);
    ~SearchPool();
    SearchPool(const SearchPool&) = delete;
    SearchPool& operator=(const SearchPool&) = delete;

    [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }
    [[nodiscard]] const PoolEntry& operator[](std::size_t i) const noexcept { return entries_[i]; }
    [[nodiscard]] std::size_t row_count() const noexcept { return rows_; }
    [[nodiscard]] std::span<const Column> columns() const noexcept { return x_cols_; }

    // A level-one expression: a variable reads its column in place.
    void add_leaf(const Expr& leaf, const ProbeValues& probes);

    // Storage for one more entry's rows, or null past either bound.
    [[nodiscard]] double* take_row_storage();

    // Charges the programs of entries about to be built, `tokens` tokens in
    // `programs` separate arrays; held until the pool goes.
    void charge_programs(std::size_t tokens, std::size_t programs);

    // Appends an entry whose rows (if any) live in storage from take_row_storage
    // and whose program was charged by charge_programs.
    void add(PoolEntry entry) { entries_.push_back(std::move(entry)); }

    // Entry i's values on rows [begin, begin + n), n <= kRowChunk: the stored
    // values, or computed into scratch.at_depth(depth) from the entries it was
    // built from (whose smaller programs are likelier to be stored), deeper
    // depths serving as their buffers. Null when a row has no value.
    [[nodiscard]] const double* rows_of(std::size_t i, std::size_t begin, std::size_t n,
                                        RowScratch& scratch, std::size_t depth = 0) const;

private:
    std::span<const Column> x_cols_;
    std::size_t rows_;
    std::size_t budget_rows_;  // row values that may still be stored
    MemoryBudget& budget_;
    std::size_t charged_ = 0;  // stored rows and programs
    BudgetVector<PoolEntry> entries_;
    BudgetVector<std::unique_ptr<double[]>> storage_;
};

}  // namespace vok::beam
