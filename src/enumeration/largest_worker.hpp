// What one worker keeps while it scores a segment of the largest size: b runs
// fastest over its operand list, once for each a, so a's values, and the
// terms and stand-ins computed from them, are kept for as long as a stays.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/candidate_fit.hpp"
#include "enumeration/approx_ops.hpp"
#include "enumeration/entry_table.hpp"
#include "enumeration/probe_apply.hpp"
#include "enumeration/trig_pair_rows.hpp"
#include "enumeration/vok_terms.hpp"

namespace vok::enumeration {

// An operand's probe values (the size below the largest stores none), and
// vok's at the probes from its terms: exp of a's kept while a stays.
struct OperandProbes {
    const double* of_a(const EntryTable& table, std::uint32_t a) {
        if (a != a_of) {
            a_values = table.probes_of(a, a_buffer.data());
            a_of = a;
        }
        return a_values;
    }

    // Into `values`, for the a of_a was last asked for. False when some point has no value.
    bool vok(const EntryTable& table, const VokSecondTerms& terms, std::uint32_t a,
             std::uint32_t b) {
        if (a != exp_a_of) {
            vok_first_at_probes(a_values, exp_a.data());
            exp_a_of = a;
        }
        const double* ln_b = ln_b_buffer.data();
        if (terms.holds(b)) {
            ln_b = terms.at_probes(b);
        } else {
            vok_second_at_probes(table.probes(b), ln_b_buffer.data());
        }
        return vok_at_probes(exp_a.data(), ln_b, values.data());
    }

    ProbeArray a_buffer{};
    const double* a_values = nullptr;
    std::uint32_t a_of = kNoOperand;
    ProbeArray exp_a{};
    std::uint32_t exp_a_of = kNoOperand;
    ProbeArray ln_b_buffer{};
    ProbeArray values{};
};

// A few spread rows of each candidate first, kept up while they stop enough
// candidates.
struct ScreenRows {
    // Judged on the first candidates of a segment, then kept or dropped for it.
    static constexpr std::uint64_t kTrial = 512;

    explicit ScreenRows(std::size_t m) : a_few(m), b_few(m), f(std::max<std::size_t>(m, 1)) {}

    [[nodiscard]] bool pays() const noexcept { return screened < kTrial || hits * 4 >= screened; }

    RowBuffers a_few;
    RowBuffers b_few;
    std::vector<double> f;
    const double* a = nullptr;
    std::uint32_t a_of = kNoOperand;
    std::uint64_t screened = 0;
    std::uint64_t hits = 0;
};

// An operand's rows, computed again only when it changes.
struct OperandRows {
    explicit OperandRows(std::size_t rows) : buffers(rows), trig(rows) {}

    const double* of(const EntryTable& table, std::uint32_t id) {
        if (id != of_id) {
            rows = trig.rows_of(table, id, buffers);
            of_id = id;
        }
        return rows;
    }

    RowBuffers buffers;
    TrigPairRows trig;
    const double* rows = nullptr;
    std::uint32_t of_id = kNoOperand;
};

// What the stand-ins keep per a: vok's first term, and both sin and cos.
struct StandIns {
    explicit StandIns(std::size_t rows)
        : n(rows),
          vok_first(std::max<std::size_t>(rows, 1)),
          trig(2 * std::max<std::size_t>(rows, 1)) {}

    // vok's stand-in into out; false when it does not cover the rows.
    bool vok(const VokSecondTerms& terms, std::uint32_t a, std::uint32_t b, const double* a_rows,
             const double* b_rows, double* out, double& error) {
        if (a != vok_first_of) {
            vok_first_covered = approx_vok_first(a_rows, vok_first.data(), n);
            vok_first_of = a;
        }
        if (!terms.holds(b))
            return vok_first_covered && approx_vok_rest(vok_first.data(), b_rows, out, n, error);
        const double* second = terms.stand_in(b);
        return second != nullptr && vok_first_covered &&
               approx_vok_terms(vok_first.data(), second, out, n, error);
    }

    // Both from one reduction: the other is kept for a's next candidate.
    bool sin_cos(OpCode op, std::uint32_t a, const double* a_rows, const double*& out,
                 double& error) {
        if (a != trig_of) {
            trig_covered = approx_sin_cos(a_rows, trig.data(), trig.data() + n, n, trig_error);
            trig_of = a;
        }
        const std::size_t at = op == OpCode::Sin ? 0 : 1;
        out = trig.data() + at * n;
        error = trig_error[at];
        return trig_covered;
    }

    std::size_t n;
    std::vector<double> vok_first;
    std::uint32_t vok_first_of = kNoOperand;
    bool vok_first_covered = false;
    std::vector<double> trig;  // sin, then cos
    double trig_error[2] = {0.0, 0.0};
    std::uint32_t trig_of = kNoOperand;
    bool trig_covered = false;
};

}  // namespace vok::enumeration
