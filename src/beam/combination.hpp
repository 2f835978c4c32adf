// A level's candidate held as an operator over pool entries, and what can be
// computed from the entries' stored values without building its program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "beam/search_pool.hpp"

namespace vok::beam {

// op(pool[a]) for a unary op, op(pool[a], pool[b]) for a binary one.
struct Combination {
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    OpCode op = OpCode::Neg;
    std::uint32_t size = 0;  // token count
};

// The program of a combination: a's tokens, b's tokens, the operator.
[[nodiscard]] Expr combination_expr(const SearchPool& pool, const Combination& c,
                                    std::uint64_t n_vars);

// Values at the probe points; false when one has no value.
[[nodiscard]] bool combination_probes(const SearchPool& pool, const Combination& c,
                                      ProbeValues& out) noexcept;

// Values on rows [begin, begin + n), n <= kRowChunk, into a per-thread buffer;
// null when a row has no value. The buffer stays valid until the next call on
// the same thread.
[[nodiscard]] const double* combination_run(const SearchPool& pool, const Combination& c,
                                            std::size_t begin, std::size_t n);

// Values on every sample row into out (pool.row_count() doubles); false when
// a row has no value.
[[nodiscard]] bool combination_rows(const SearchPool& pool, const Combination& c, double* out);

}  // namespace vok::beam
