// Quick stand-ins for the operators that call the math library (exp, ln,
// sin, cos and vok), over a run of rows. They only ever prove that a
// candidate cannot win before its exact values are paid for: a library call
// costs ten times a short polynomial, and on data no formula fits nearly
// every candidate needs its values on every row to be ruled out.
//
// Within the ranges they cover, each value is within
//     kApproxRelative * m + kApproxAbsolute
// of what the exact operator (op_apply.hpp, with the library's rounding)
// gives on that row, where m is the value's magnitude (for vok, the sum of its
// two terms' magnitudes). A test holds every operator to this over millions
// of arguments; the bound is ten times what those arguments reach.
#pragma once

#include <cstddef>

#include "core/token.hpp"

namespace vok::enumeration {

inline constexpr double kApproxRelative = 1e-7;
inline constexpr double kApproxAbsolute = 1e-17;

// True for the operators that have a stand-in.
[[nodiscard]] bool has_approx(OpCode op) noexcept;

// The stand-in of op over n rows into out (b is null for a unary operator).
// False when some row lies outside the covered range: the caller then
// computes exactly. Otherwise the exact operator has a value on every row,
// and error_norm bounds the Euclidean norm of (out - exact values).
[[nodiscard]] bool approx_rows(OpCode op, const double* a, const double* b, double* out,
                               std::size_t n, double& error_norm) noexcept;

// sin and cos of the same rows at once (they share their reduction), each as
// approx_rows gives it; errors[0] for sin, errors[1] for cos.
[[nodiscard]] bool approx_sin_cos(const double* a, double* sin_out, double* cos_out, std::size_t n,
                                  double (&errors)[2]) noexcept;

// vok in two steps, for a caller that keeps the first while a stays the same:
// the stand-in of its first term (exp of a), false when a row is outside
// exp's range; then vok from that and b, as approx_rows gives it.
[[nodiscard]] bool approx_vok_first(const double* a, double* grown, std::size_t n) noexcept;
[[nodiscard]] bool approx_vok_rest(const double* grown, const double* b, double* out, std::size_t n,
                                   double& error_norm) noexcept;
// The stand-in of vok's second term alone (ln of b, clamped), for a caller
// that keeps it per b; false when a row is outside ln's range. Then vok from
// both terms' stand-ins: the same values and bound as approx_vok_rest.
[[nodiscard]] bool approx_vok_second(const double* b, double* logged, std::size_t n) noexcept;
[[nodiscard]] bool approx_vok_terms(const double* grown, const double* logged, double* out,
                                    std::size_t n, double& error_norm) noexcept;

}  // namespace vok::enumeration
