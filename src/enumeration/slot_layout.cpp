// Slot blocks of a size: the unary block, then one block per split of the
// remaining tokens between two operands.
#include "enumeration/slot_layout.hpp"

#include <limits>
#include <stdexcept>

#include "core/op_table.hpp"

namespace vok::enumeration {
namespace {

std::uint64_t checked_product(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
        throw std::length_error("slot count overflows 64 bits");
    return a * b;
}

}  // namespace

SlotLayout::SlotLayout(std::uint32_t size, const OperandLists& operands,
                       std::span<const OpCode> unary, std::span<const OpCode> binary)
    : unary_(unary), binary_(binary) {
    for (OpCode op : binary) commutative_.push_back(op_info(op).commutative);
    auto add_block = [&](Block block) {
        if (block.count == 0) return;
        block.begin = total_;
        if (total_ > std::numeric_limits<std::uint64_t>::max() - block.count)
            throw std::length_error("slot count overflows 64 bits");
        total_ += block.count;
        blocks_.push_back(block);
    };
    if (size < 2) return;
    if (!unary.empty() && size - 1 < operands.size()) {
        const auto& a = operands[size - 1];
        add_block({0, checked_product(a.size(), unary.size()), &a, nullptr, size - 1, 0});
    }
    if (binary.empty()) return;
    for (std::uint32_t sa = 1; sa + 2 <= size; ++sa) {
        const std::uint32_t sb = size - 1 - sa;
        if (sa >= operands.size() || sb >= operands.size()) continue;
        const auto& a = operands[sa];
        const auto& b = operands[sb];
        add_block({0, checked_product(checked_product(a.size(), b.size()), binary.size()), &a, &b,
                   sa, sb});
    }
}

}  // namespace vok::enumeration
