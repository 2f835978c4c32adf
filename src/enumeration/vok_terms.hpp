// vok(a, b) = exp(a) - ln(b) takes one term from each operand. At the largest
// size b runs fastest, over every kept entry of its size, once for each a;
// where b's size has few entries, b's term is worth keeping per entry: its
// stand-in on every row and its exact value at every probe point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "enumeration/entry_table.hpp"

namespace vok::enumeration {

class VokSecondTerms {
public:
    VokSecondTerms() = default;
    // The terms of the entries of the smallest sizes, whole sizes only, whose
    // rows take at most budget_bytes.
    VokSecondTerms(const EntryTable& table, std::size_t budget_bytes);

    [[nodiscard]] bool holds(std::uint32_t id) const noexcept { return id < count_; }
    // guarded_ln of the entry's probe values.
    [[nodiscard]] const double* at_probes(std::uint32_t id) const noexcept {
        return probes_.data() + std::size_t{id} * kProbePoints;
    }
    // The stand-in on every row (approx_vok_second); null where it does not
    // cover the rows, or the entry has no value on some row.
    [[nodiscard]] const double* stand_in(std::uint32_t id) const noexcept {
        return covered_[id] ? stand_ins_.data() + std::size_t{id} * rows_ : nullptr;
    }

private:
    std::size_t rows_ = 0;
    std::uint32_t count_ = 0;
    std::vector<double> probes_;
    std::vector<double> stand_ins_;
    std::vector<bool> covered_;
};

}  // namespace vok::enumeration
