// Entries, their stored rows, and rows computed from the entries' operands.
#include "enumeration/entry_table.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "core/column_ops.hpp"
#include "enumeration/probe_apply.hpp"

namespace vok::enumeration {
namespace {

// Stored rows are carved out of blocks of about this size.
constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

}  // namespace

double* RowBuffers::at(std::size_t depth) {
    while (buffers_.size() <= depth)
        buffers_.push_back(
            std::make_unique_for_overwrite<double[]>(std::max<std::size_t>(rows_, 1)));
    return buffers_[depth].get();
}

EntryTable::EntryTable(std::span<const Column> x_cols, std::span<const double> constants,
                       std::size_t rows, std::size_t row_budget_bytes)
    : x_cols_(x_cols),
      constants_(constants.begin(), constants.end()),
      rows_(rows),
      budget_rows_(row_budget_bytes / sizeof(double)) {}

void EntryTable::reserve(std::size_t n) {
    nodes_.reserve(n);
    probes_.reserve(n * kProbePoints);
    sizes_.reserve(n);
    orders_.reserve(n);
    stored_.reserve(n);
}

std::uint32_t EntryTable::add(const Node& node, const double* probes, std::uint32_t size,
                              std::uint64_t order) {
    const auto id = static_cast<std::uint32_t>(nodes_.size());
    if (probes_.size() != std::size_t{id} * kProbePoints)
        throw std::logic_error("an entry added after entries without probe values");
    nodes_.push_back(node);
    nodes_.back().constant =
        node.kind == NodeKind::Const || (node.kind == NodeKind::Op && operands_constant(node));
    probes_.insert(probes_.end(), probes, probes + kProbePoints);
    sizes_.push_back(size);
    orders_.push_back(order);
    stored_.push_back(nullptr);
    if (node.kind == NodeKind::Var) {
        stored_.back() = x_cols_[node.left].data();
    } else if (node.kind == NodeKind::Const) {
        // Leaves are few: their rows are always kept, whatever the bound.
        auto values = std::make_unique_for_overwrite<double[]>(std::max<std::size_t>(rows_, 1));
        std::fill(values.get(), values.get() + rows_, constants_[node.left]);
        stored_.back() = values.get();
        blocks_.push_back(std::move(values));
        stored_bytes_ += rows_ * sizeof(double);
    }
    return id;
}

std::uint32_t EntryTable::extend(std::size_t count, bool with_probes) {
    const auto first = static_cast<std::uint32_t>(nodes_.size());
    const std::size_t n = nodes_.size() + count;
    nodes_.resize(n);
    sizes_.resize(n);
    orders_.resize(n);
    if (with_probes) {
        probes_.resize(n * kProbePoints);
        stored_.resize(n, nullptr);
    }
    return first;
}

void EntryTable::set_op(std::uint32_t id, const Node& node, std::uint32_t size,
                        std::uint64_t order) noexcept {
    nodes_[id] = node;
    nodes_[id].constant = operands_constant(node);
    sizes_[id] = size;
    orders_[id] = order;
}

const double* EntryTable::probes_of(std::uint32_t id, double* out) const noexcept {
    if (has_probes(id)) return probes(id);
    const Node& n = nodes_[id];
    // It was entered with a value at every point, so this has one too.
    (void)apply_at_probes(n.op, probes(n.left), arity(n.op) == 2 ? probes(n.right) : nullptr, out);
    return out;
}

double* EntryTable::take_place(std::uint32_t id) {
    if (rows_ == 0 || rows_ > budget_rows_ || id >= stored_.size()) return nullptr;
    if (block_next_ == block_end_) {
        const std::size_t per_block =
            std::max<std::size_t>(1, kBlockBytes / (rows_ * sizeof(double)));
        const std::size_t places = std::min(per_block, budget_rows_ / rows_);
        blocks_.push_back(std::make_unique_for_overwrite<double[]>(places * rows_));
        stored_bytes_ += places * rows_ * sizeof(double);
        block_next_ = blocks_.back().get();
        block_end_ = block_next_ + places * rows_;
    }
    double* place = block_next_;
    stored_[id] = place;
    block_next_ += rows_;
    budget_rows_ -= rows_;
    return place;
}

bool EntryTable::operand_rows(std::uint32_t id, RowBuffers& buffers, const double*& a,
                              const double*& b, std::size_t depth) const {
    const Node& n = nodes_[id];
    // The left operand's temporaries are dead once it is computed, so the
    // right one may reuse every depth past the left's own.
    a = rows_of(n.left, buffers, depth + 1);
    b = nullptr;
    if (a == nullptr) return false;
    if (arity(n.op) == 1) return true;
    b = rows_of(n.right, buffers, depth + 2);
    return b != nullptr;
}

bool EntryTable::apply_node(std::uint32_t id, double* out, RowBuffers& buffers,
                            std::size_t depth) const {
    const double* a = nullptr;
    const double* b = nullptr;
    if (!operand_rows(id, buffers, a, b, depth)) return false;
    return apply_rows(nodes_[id].op, a, b, out, rows_);
}

bool EntryTable::compute_into(std::uint32_t id, double* out, RowBuffers& buffers) const {
    return apply_node(id, out, buffers, 0);
}

const double* EntryTable::rows_of(std::uint32_t id, RowBuffers& buffers, std::size_t depth) const {
    if (const double* stored = stored_of(id)) return stored;
    double* out = buffers.at(depth);
    return apply_node(id, out, buffers, depth) ? out : nullptr;
}

const double* EntryTable::values_at(std::uint32_t id, std::span<const std::uint32_t> rows,
                                    RowBuffers& buffers, std::size_t depth) const {
    double* out = buffers.at(depth);
    if (const double* stored = stored_of(id)) {
        for (std::size_t i = 0; i < rows.size(); ++i) out[i] = stored[rows[i]];
        return out;
    }
    const Node& n = nodes_[id];
    const double* a = values_at(n.left, rows, buffers, depth + 1);
    if (a == nullptr) return nullptr;
    if (arity(n.op) == 1) return apply_unary_rows(n.op, a, out, rows.size()) ? out : nullptr;
    const double* b = values_at(n.right, rows, buffers, depth + 2);
    if (b == nullptr) return nullptr;
    return apply_binary_rows(n.op, a, b, out, rows.size()) ? out : nullptr;
}

void EntryTable::append_tokens(std::uint32_t id, std::vector<Token>& out) const {
    const Node& n = nodes_[id];
    switch (n.kind) {
        case NodeKind::Const: out.push_back(Token::constant(constants_[n.left])); return;
        case NodeKind::Var: out.push_back(Token::var(n.left)); return;
        case NodeKind::Op:
            append_tokens(n.left, out);
            if (arity(n.op) == 2) append_tokens(n.right, out);
            out.push_back(Token::oper(n.op));
            return;
    }
}

Expr EntryTable::expr(std::uint32_t id) const {
    Expr e;
    e.tokens.reserve(sizes_[id]);
    append_tokens(id, e.tokens);
    e.n_vars = x_cols_.size();
    return e;
}

std::size_t EntryTable::bytes() const noexcept {
    return nodes_.capacity() * sizeof(Node) + probes_.capacity() * sizeof(double) +
           sizes_.capacity() * sizeof(std::uint32_t) + orders_.capacity() * sizeof(std::uint64_t) +
           stored_.capacity() * sizeof(const double*) + stored_bytes_;
}

}  // namespace vok::enumeration
