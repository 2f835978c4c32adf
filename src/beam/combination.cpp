// Combinations evaluated from their operands' stored values.
#include "beam/combination.hpp"

#include <algorithm>

#include "core/op_apply.hpp"

namespace vok::beam {
namespace {

// Per-thread buffers: evaluating a combination allocates nothing once they exist.
struct Workspace {
    RowScratch scratch;
    double out[kRowChunk];
};

Workspace& workspace() {
    thread_local Workspace ws;
    return ws;
}

}  // namespace

Expr combination_expr(const SearchPool& pool, const Combination& c, std::uint64_t n_vars) {
    Expr e;
    e.n_vars = n_vars;
    e.tokens.reserve(c.size);
    const auto& a = pool[c.a].expr.tokens;
    e.tokens.assign(a.begin(), a.end());
    if (arity(c.op) == 2) {
        const auto& b = pool[c.b].expr.tokens;
        e.tokens.insert(e.tokens.end(), b.begin(), b.end());
    }
    e.tokens.push_back(Token::oper(c.op));
    return e;
}

bool combination_probes(const SearchPool& pool, const Combination& c, ProbeValues& out) noexcept {
    const ProbeValues& a = pool[c.a].probes;
    if (arity(c.op) == 1) {
        for (std::size_t k = 0; k < kProbeCount; ++k)
            if (!apply_unary(c.op, a[k], out[k])) return false;
        return true;
    }
    const ProbeValues& b = pool[c.b].probes;
    for (std::size_t k = 0; k < kProbeCount; ++k)
        if (!apply_binary(c.op, a[k], b[k], out[k])) return false;
    return true;
}

const double* combination_run(const SearchPool& pool, const Combination& c, std::size_t begin,
                              std::size_t n) {
    Workspace& ws = workspace();
    const double* a = pool.rows_of(c.a, begin, n, ws.scratch, 0);
    if (a == nullptr) return nullptr;
    if (arity(c.op) == 1) return apply_unary_rows(c.op, a, ws.out, n) ? ws.out : nullptr;
    const double* b = pool.rows_of(c.b, begin, n, ws.scratch, 1);
    if (b == nullptr) return nullptr;
    return apply_binary_rows(c.op, a, b, ws.out, n) ? ws.out : nullptr;
}

bool combination_rows(const SearchPool& pool, const Combination& c, double* out) {
    const std::size_t rows = pool.row_count();
    for (std::size_t begin = 0; begin < rows; begin += kRowChunk) {
        const std::size_t len = std::min(kRowChunk, rows - begin);
        const double* values = combination_run(pool, c, begin, len);
        if (values == nullptr) return false;
        std::copy(values, values + len, out + begin);
    }
    return true;
}

}  // namespace vok::beam
