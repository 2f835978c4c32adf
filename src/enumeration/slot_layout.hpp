// The slots of one size: every (operator, operands) position in generation
// order, numbered so that any range of them can be visited on its own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "core/token.hpp"

namespace vok::enumeration {

inline constexpr std::uint32_t kNoOperand = UINT32_MAX;

// Operands of a size: entry ids per smaller size (index 0 unused).
using OperandLists = std::vector<std::vector<std::uint32_t>>;

class SlotLayout {
public:
    // Slots of size `size` over the given operands; the lists must outlive it.
    SlotLayout(std::uint32_t size, const OperandLists& operands, std::span<const OpCode> unary,
               std::span<const OpCode> binary);

    [[nodiscard]] std::uint64_t slots() const noexcept { return total_; }

    // f(slot, op, a, b) for every slot in [lo, hi) that names a candidate, in
    // slot order; b is kNoOperand for a unary operator.
    template <class F>
    void visit(std::uint64_t lo, std::uint64_t hi, F&& f) const;

private:
    struct Block {
        std::uint64_t begin = 0;
        std::uint64_t count = 0;
        const std::vector<std::uint32_t>* a = nullptr;
        const std::vector<std::uint32_t>* b = nullptr;  // null: unary block
        std::uint32_t sa = 0;
        std::uint32_t sb = 0;
    };
    std::vector<Block> blocks_;
    std::span<const OpCode> unary_;
    std::span<const OpCode> binary_;
    std::vector<bool> commutative_;
    std::uint64_t total_ = 0;
};

template <class F>
void SlotLayout::visit(std::uint64_t lo, std::uint64_t hi, F&& f) const {
    hi = std::min(hi, total_);
    auto block = std::upper_bound(blocks_.begin(), blocks_.end(), lo,
                                  [](std::uint64_t s, const Block& b) { return s < b.begin; });
    if (block == blocks_.begin()) return;
    --block;
    for (std::uint64_t slot = lo; slot < hi && block != blocks_.end(); ++block) {
        const std::uint64_t end = std::min(hi, block->begin + block->count);
        const std::uint64_t j = slot - block->begin;
        if (block->b == nullptr) {
            const std::uint64_t nu = unary_.size();
            std::uint64_t pos = j / nu;
            std::uint64_t k = j % nu;
            const std::uint32_t* a = block->a->data();
            for (; slot < end; ++slot) {
                f(slot, unary_[k], a[pos], kNoOperand);
                if (++k == nu) {
                    k = 0;
                    ++pos;
                }
            }
        } else {
            const std::uint64_t nb = binary_.size();
            const std::uint64_t len_b = block->b->size();
            std::uint64_t ia = j / (len_b * nb);
            const std::uint64_t rest = j % (len_b * nb);
            std::uint64_t ib = rest / nb;
            std::uint64_t k = rest % nb;
            const std::uint32_t* a = block->a->data();
            const std::uint32_t* b = block->b->data();
            const bool a_after_b = block->sa > block->sb;
            const bool same_size = block->sa == block->sb;
            for (; slot < end; ++slot) {
                // Add and Mul take one order of each pair.
                if (!commutative_[k] || !(a_after_b || (same_size && ib < ia)))
                    f(slot, binary_[k], a[ia], b[ib]);
                if (++k == nb) {
                    k = 0;
                    if (++ib == len_b) {
                        ib = 0;
                        ++ia;
                    }
                }
            }
        }
    }
}

}  // namespace vok::enumeration
