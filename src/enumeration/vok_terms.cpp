// The second terms of vok over the smallest entries, computed once.
#include "enumeration/vok_terms.hpp"

#include <algorithm>

#include "enumeration/approx_ops.hpp"
#include "enumeration/probe_apply.hpp"

namespace vok::enumeration {
namespace {

// The entries of the smallest sizes, whole sizes only, at most max_entries
// (ids come in size order).
std::uint32_t whole_sizes_within(const EntryTable& table, std::size_t max_entries) {
    const std::size_t limit = std::min(table.size(), max_entries);
    std::uint32_t end = 0;
    for (std::uint32_t id = 0; id < limit; ++id) {
        // Entries without probe values are never a binary operand.
        if (!table.has_probes(id)) break;
        const bool last_of_its_size =
            id + 1 == table.size() || table.expr_size(id + 1) != table.expr_size(id);
        if (last_of_its_size) end = id + 1;
    }
    return end;
}

}  // namespace

VokSecondTerms::VokSecondTerms(const EntryTable& table, std::size_t budget_bytes)
    : rows_(table.row_count()) {
    const std::size_t row_bytes = std::max<std::size_t>(1, rows_) * sizeof(double);
    count_ = whole_sizes_within(table, budget_bytes / row_bytes);
    probes_.resize(std::size_t{count_} * kProbePoints);
    stand_ins_.resize(std::size_t{count_} * rows_);
    covered_.assign(count_, false);
    RowBuffers buffers(rows_);
    for (std::uint32_t id = 0; id < count_; ++id) {
        vok_second_at_probes(table.probes(id), probes_.data() + std::size_t{id} * kProbePoints);
        if (const double* rows = table.rows_of(id, buffers))
            covered_[id] =
                approx_vok_second(rows, stand_ins_.data() + std::size_t{id} * rows_, rows_);
    }
}

}  // namespace vok::enumeration
