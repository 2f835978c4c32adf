// The rows of sin(c) and cos(c) from one library call. The unary operators
// run fastest over each operand, so both sit side by side among a size's
// entries, and an enumeration that walks the entries in order asks for them
// one after the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "enumeration/entry_table.hpp"
#include "enumeration/slot_layout.hpp"

namespace vok::enumeration {

class TrigPairRows {
public:
    explicit TrigPairRows(std::size_t rows) : values_(2 * rows), rows_(rows) {}

    // table.rows_of(id, buffers), bit for bit. When neither id nor id + 1 has
    // stored rows and they are sin and cos of the same operand, both are
    // computed, and id + 1's wait here for the next call. The rows returned
    // stay valid until the next call.
    [[nodiscard]] const double* rows_of(const EntryTable& table, std::uint32_t id,
                                        RowBuffers& buffers);

private:
    std::vector<double> values_;  // sin, then cos
    std::size_t rows_;
    std::uint32_t waiting_ = kNoOperand;
    const double* waiting_rows_ = nullptr;
};

}  // namespace vok::enumeration
