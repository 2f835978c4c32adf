// sin and cos rows of one operand, paired.
#include "enumeration/trig_pair_rows.hpp"

#include "core/column_ops.hpp"

namespace vok::enumeration {
namespace {

bool is_trig(const Node& n) noexcept {
    return n.kind == NodeKind::Op && (n.op == OpCode::Sin || n.op == OpCode::Cos);
}

}  // namespace

const double* TrigPairRows::rows_of(const EntryTable& table, std::uint32_t id,
                                    RowBuffers& buffers) {
    if (id == waiting_) {
        waiting_ = kNoOperand;
        return waiting_rows_;
    }
    waiting_ = kNoOperand;
    const Node& node = table.node(id);
    const std::uint32_t next_id = id + 1;
    if (!is_trig(node) || next_id >= table.size() || table.has_stored_rows(id) ||
        table.has_stored_rows(next_id)) {
        return table.rows_of(id, buffers);
    }
    const Node& next = table.node(next_id);
    if (!is_trig(next) || next.op == node.op || next.left != node.left)
        return table.rows_of(id, buffers);
    const double* operand = nullptr;
    const double* unused = nullptr;
    // Without the operand's rows neither has any.
    if (!table.operand_rows(id, buffers, operand, unused)) return nullptr;
    double* sin_rows = values_.data();
    double* cos_rows = values_.data() + rows_;
    apply_sin_cos_rows(operand, sin_rows, cos_rows, rows_);
    waiting_ = next_id;
    waiting_rows_ = next.op == OpCode::Sin ? sin_rows : cos_rows;
    return node.op == OpCode::Sin ? sin_rows : cos_rows;
}

}  // namespace vok::enumeration
