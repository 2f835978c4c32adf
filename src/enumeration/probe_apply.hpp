// An operator over its operands' probe values: what apply_rows gives for
// kProbePoints rows, without its run-length loops and dispatch, which cost
// more than the eight values themselves. Called once per candidate.
#pragma once

#include <array>
#include <utility>

#include "core/op_apply.hpp"
#include "enumeration/probe_points.hpp"

namespace vok::enumeration {
namespace probe_detail {

template <OpCode Op>
bool apply_each(const double* a, const double* b, double* out) noexcept {
    bool ok = true;
    for (std::size_t k = 0; k < kProbePoints; ++k) {
        if constexpr (arity(Op) == 1) {
            ok &= apply_unary(Op, a[k], out[k]);
        } else {
            ok &= apply_binary(Op, a[k], b[k], out[k]);
        }
    }
    return ok;
}

using Kernel = bool (*)(const double*, const double*, double*) noexcept;

template <std::size_t... I>
constexpr std::array<Kernel, sizeof...(I)> kernels(std::index_sequence<I...>) {
    return {apply_each<static_cast<OpCode>(I)>...};
}

inline constexpr auto kKernels = kernels(std::make_index_sequence<kOpCodeCount>{});

}  // namespace probe_detail

// b is null for a unary operator. False when some point has no value (out is
// then unspecified), exactly when apply_rows is false for the same values.
[[nodiscard]] inline bool apply_at_probes(OpCode op, const double* a, const double* b,
                                          double* out) noexcept {
    return probe_detail::kKernels[static_cast<std::size_t>(op)](a, b, out);
}

// vok's two terms at the probe points, for a caller that keeps them per
// operand: guarded_exp of the first operand's values, guarded_ln of the second's.
inline void vok_first_at_probes(const double* a, double* out) noexcept {
    for (std::size_t k = 0; k < kProbePoints; ++k) out[k] = guarded_exp(a[k]);
}
inline void vok_second_at_probes(const double* b, double* out) noexcept {
    for (std::size_t k = 0; k < kProbePoints; ++k) out[k] = guarded_ln(b[k]);
}

// vok at the probe points from its two terms there: what apply_at_probes
// gives for Vok.
[[nodiscard]] inline bool vok_at_probes(const double* exp_a, const double* ln_b,
                                        double* out) noexcept {
    bool ok = true;
    for (std::size_t k = 0; k < kProbePoints; ++k) {
        out[k] = exp_a[k] - ln_b[k];
        ok &= is_finite_value(out[k]);
    }
    return ok;
}

}  // namespace vok::enumeration
