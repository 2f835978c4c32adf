// The distinct expressions of an enumeration, each as the operator that built
// it from earlier entries, with its probe values and, within a memory bound,
// its values on every sample row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/expr.hpp"
#include "enumeration/probe_points.hpp"
#include "runtime/large_array.hpp"

namespace vok::enumeration {

enum class NodeKind : std::uint8_t { Const, Var, Op };

// Trivial, so that a table grows without writing its new nodes twice; make
// one with Node{...}.
struct Node {
    NodeKind kind;
    OpCode op;
    // No variable below: the same value on every row (set by EntryTable).
    bool constant;
    std::uint32_t left;   // Const: index into the constants; Var: the variable
    std::uint32_t right;  // binary operators only
};

// One thread's buffers for computing rows that are not stored, one full
// column per nesting depth, kept between calls.
class RowBuffers {
public:
    explicit RowBuffers(std::size_t rows) : rows_(rows) {}
    [[nodiscard]] double* at(std::size_t depth);

private:
    std::size_t rows_;
    std::vector<std::unique_ptr<double[]>> buffers_;
};

class EntryTable {
public:
    EntryTable(std::span<const Column> x_cols, std::span<const double> constants, std::size_t rows,
               std::size_t row_budget_bytes);

    // Appends an entry with its probe values (ids are dense, from 0). Leaves
    // get their rows at once.
    std::uint32_t add(const Node& node, const double* probes, std::uint32_t size,
                      std::uint64_t order);
    // Appends count operator entries at once (returns the first id); each is
    // then set once with set_op, from any thread, after its operands. Without
    // room for probe values (entries that are never a binary operand), their
    // probe values are computed from the operands' when asked for, they never
    // store rows, and no entry may be added after them.
    std::uint32_t extend(std::size_t count, bool with_probes = true);
    void set_op(std::uint32_t id, const Node& node, std::uint32_t size,
                std::uint64_t order) noexcept;
    [[nodiscard]] double* probes_to_fill(std::uint32_t id) noexcept {
        return probes_.data() + std::size_t{id} * kProbePoints;
    }
    void reserve(std::size_t n);

    [[nodiscard]] std::size_t size() const noexcept { return nodes_.size(); }
    [[nodiscard]] const Node& node(std::uint32_t id) const noexcept { return nodes_[id]; }
    [[nodiscard]] bool constant(std::uint32_t id) const noexcept { return nodes_[id].constant; }
    // Stored probe values (has_probes(id) must hold).
    [[nodiscard]] const double* probes(std::uint32_t id) const noexcept {
        return probes_.data() + std::size_t{id} * kProbePoints;
    }
    [[nodiscard]] bool has_probes(std::uint32_t id) const noexcept {
        return std::size_t{id} * kProbePoints < probes_.size();
    }
    // An entry's probe values: stored, or computed into out from its
    // operands' (stored ones).
    const double* probes_of(std::uint32_t id, double* out) const noexcept;
    [[nodiscard]] std::uint32_t expr_size(std::uint32_t id) const noexcept { return sizes_[id]; }
    [[nodiscard]] std::uint64_t order(std::uint32_t id) const noexcept { return orders_[id]; }
    [[nodiscard]] std::size_t row_count() const noexcept { return rows_; }

    // A place for the entry's rows while the bound allows (null past it);
    // the caller fills it with compute_into before anything reads it.
    [[nodiscard]] double* take_place(std::uint32_t id);

    // The entry's operator over its operands' rows, into out. False when some
    // row has no value.
    [[nodiscard]] bool compute_into(std::uint32_t id, double* out, RowBuffers& buffers) const;

    // The rows of an entry's operands (b null for a unary operator): stored,
    // or computed into buffers past `depth`. False when one has no value.
    [[nodiscard]] bool operand_rows(std::uint32_t id, RowBuffers& buffers, const double*& a,
                                    const double*& b, std::size_t depth = 0) const;

    [[nodiscard]] bool has_stored_rows(std::uint32_t id) const noexcept {
        return stored_of(id) != nullptr;
    }

    // The entry's values on every row: stored, or computed into buffers from
    // the entries it was built from. Null when some row has no value.
    [[nodiscard]] const double* rows_of(std::uint32_t id, RowBuffers& buffers,
                                        std::size_t depth = 0) const;

    // The entry's values on a few rows only (indexes in increasing order),
    // computed into buffers (each holding rows.size() values) from stored
    // values or from its operands'. Null when one of them has no value.
    [[nodiscard]] const double* values_at(std::uint32_t id, std::span<const std::uint32_t> rows,
                                          RowBuffers& buffers, std::size_t depth = 0) const;

    // The postfix program of an entry.
    [[nodiscard]] Expr expr(std::uint32_t id) const;
    void append_tokens(std::uint32_t id, std::vector<Token>& out) const;

    // Bytes one more entry takes, rows excepted (for planning).
    static constexpr std::size_t kEntryBytes = sizeof(Node) + sizeof(double) * kProbePoints +
                                               sizeof(std::uint32_t) + sizeof(std::uint64_t) +
                                               sizeof(const double*);
    [[nodiscard]] std::size_t bytes() const noexcept;

private:
    bool apply_node(std::uint32_t id, double* out, RowBuffers& buffers, std::size_t depth) const;
    // Entries appended without probe values have no place in stored_ either.
    [[nodiscard]] const double* stored_of(std::uint32_t id) const noexcept {
        return id < stored_.size() ? stored_[id] : nullptr;
    }
    [[nodiscard]] bool operands_constant(const Node& node) const noexcept {
        return nodes_[node.left].constant && (arity(node.op) == 1 || nodes_[node.right].constant);
    }

    std::span<const Column> x_cols_;
    std::vector<double> constants_;
    std::size_t rows_;
    std::size_t budget_rows_;  // row values that may still be stored
    RawVector<Node> nodes_;
    RawVector<double> probes_;
    RawVector<std::uint32_t> sizes_;
    RawVector<std::uint64_t> orders_;
    RawVector<const double*> stored_;
    std::vector<std::unique_ptr<double[]>> blocks_;
    double* block_next_ = nullptr;  // free places of the newest block
    double* block_end_ = nullptr;
    std::size_t stored_bytes_ = 0;
};

}  // namespace vok::enumeration
