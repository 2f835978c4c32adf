// Paired sin and cos rows are the table's own rows bit for bit, whatever the
// order they are asked for in.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "enumeration/entry_table.hpp"
#include "enumeration/trig_pair_rows.hpp"

namespace vok::enumeration {
namespace {

TEST(TrigPairRows, GiveTheTablesRowsInAnyOrderOfAsking) {
    constexpr std::size_t kRows = 37;
    std::vector<Column> x{Column(kRows)};
    for (std::size_t i = 0; i < kRows; ++i)
        x[0][i] = static_cast<double>(i) * (i % 3 ? 0.37 : 4.1e15);
    const std::vector<double> constants{1.0};
    EntryTable table(x, constants, kRows, 0);
    const double probes[kProbePoints] = {0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5};
    const std::uint32_t var =
        table.add(Node{NodeKind::Var, OpCode::Neg, false, 0, 0}, probes, 1, 0);
    const std::uint32_t root =
        table.add(Node{NodeKind::Op, OpCode::Sqrt, false, var, 0}, probes, 2, 1);
    // Pairs in both orders, a lone sin, and a sin beside another operand's cos.
    const Node tail[] = {
        {NodeKind::Op, OpCode::Sin, false, root, 0}, {NodeKind::Op, OpCode::Cos, false, root, 0},
        {NodeKind::Op, OpCode::Cos, false, var, 0},  {NodeKind::Op, OpCode::Sin, false, var, 0},
        {NodeKind::Op, OpCode::Sin, false, root, 0}, {NodeKind::Op, OpCode::Cos, false, var, 0}};
    const std::uint32_t first = table.extend(std::size(tail), false);
    for (std::uint32_t i = 0; i < std::size(tail); ++i) table.set_op(first + i, tail[i], 3, 2 + i);

    TrigPairRows paired(kRows);
    RowBuffers buffers(kRows);
    RowBuffers own(kRows);
    const std::uint32_t asked[] = {0, 1, 2, 3, 4, 5, 6, 7, 2, 4, 3, 5, 7, 6, 1, 2, 3};
    for (const std::uint32_t offset : asked) {
        const std::uint32_t id = offset == 0 ? var : offset == 1 ? root : first + offset - 2;
        const double* got = paired.rows_of(table, id, buffers);
        const double* want = table.rows_of(id, own);
        ASSERT_NE(got, nullptr);
        ASSERT_NE(want, nullptr);
        EXPECT_EQ(std::memcmp(got, want, kRows * sizeof(double)), 0) << "entry " << id;
    }
}

}  // namespace
}  // namespace vok::enumeration
