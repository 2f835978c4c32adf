// Stand-ins for exp, ln, sin and cos: a reduction of the argument followed by
// a short Taylor polynomial, written without branches so the row loops run in
// vector registers.
#include "enumeration/approx_ops.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/guarded_math.hpp"

namespace vok::enumeration {
namespace {

using Bits = std::uint64_t;

// Adding 1.5 * 2^52 rounds a double of magnitude below 2^51 to an integer,
// which the low bits of the sum then hold (two's complement).
constexpr double kRoundShift = 0x1.8p52;

// The ranges covered: exp's result stays normal and its square finite (the
// error bound sums squares), the sine's reduction keeps k * pi/2 exact, and
// ln needs a normal argument.
constexpr double kExpReach = 300.0;
constexpr double kTrigReach = 0x1p19;
constexpr double kSmallestNormal = 0x1p-1022;

// ln 2 in one part: for every k the ranges allow (|k| <= 1024), k times it
// is within 1e-13 of k ln 2, far inside the bound. pi/2 in two parts, the
// first with few enough bits that k times it is exact: a sine near one of its
// zeros is small, and so must its error be.
constexpr double kLog2e = 1.4426950408889634;
constexpr double kLn2 = 0.6931471805599453;
constexpr double kTwoOverPi = 6.36619772367581382433e-01;
constexpr double kHalfPiHi = 1.57079632673412561417e+00;
constexpr double kHalfPiLo = 6.07710050650619224932e-11;

constexpr double inverse_factorial(int n) {
    double f = 1.0;
    for (int i = 2; i <= n; ++i) f *= i;  // exact up to 18!
    return 1.0 / f;
}

// Polynomial terms, the highest power first as Horner's rule takes them: long
// enough for a relative error of about 1e-8 or better, a tenth of the stated
// bound; a pruning decision needs no more, and each term left out is a
// multiply and an add on every row.
// e^r for |r| <= ln2 / 2: the polynomial of degree 6 through e^r at the seven
// Chebyshev nodes of that interval (solved in 40-digit arithmetic, then
// rounded); its relative error is below 2.6e-9, where Taylor's series needs
// degree 7 for 1.1e-8.
constexpr std::array kExpTerms = {0.0013941108433972674,
                                  0.008375126398153335,
                                  0.04166635289677516,
                                  0.16666415514653277,
                                  0.5000000047117757,
                                  1.000000037716214,
                                  1.0};
// (sin r - r) / r^3 and (cos r - 1) / r^2 in powers of w = r^2 for
// |r| <= pi/4: for the sine, Taylor's terms to r^9 / 9! (below 3e-9 of sin r);
// for the cosine, the cubic through (cos r - 1) / r^2 at the four Chebyshev
// nodes of w's interval, computed as exp's (below 2.7e-10 of cos r, where
// Taylor's series needs a term more).
constexpr std::array kSinTerms = {inverse_factorial(9), -inverse_factorial(7), inverse_factorial(5),
                                  -inverse_factorial(3)};
constexpr std::array kCosTerms = {2.4463788293265746e-05, -0.0013887589155600576,
                                  0.04166665064451703, -0.49999999969119313};
// (atanh s - s) / s^3 in powers of w = s^2: the remainder after s^9 / 9 is
// below 3e-9 of atanh s for |s| <= 0.172.
constexpr std::array kAtanhTerms = {1.0 / 9.0, 1.0 / 7.0, 1.0 / 5.0, 1.0 / 3.0};

template <std::size_t N>
[[gnu::always_inline]] inline double horner(double x, const std::array<double, N>& terms) noexcept {
    double p = terms[0];
    for (std::size_t i = 1; i < N; ++i) p = p * x + terms[i];
    return p;
}

// e^x = 2^k e^r with r = x - k ln2; |x| <= kExpReach.
[[gnu::always_inline]] inline double exp_approx(double x) noexcept {
    const double shifted = x * kLog2e + kRoundShift;
    const Bits k_bits = std::bit_cast<Bits>(shifted);
    const double k = shifted - kRoundShift;
    const double r = x - k * kLn2;
    // The low bits of k_bits hold k + 2^51, whose low twelve bits are k's.
    const double two_k = std::bit_cast<double>((k_bits + 1023) << 52);
    return horner(r, kExpTerms) * two_k;
}

// ln x = k ln2 + ln z with z in [sqrt(1/2), sqrt(2)); ln z = 2 atanh(s) with
// s = (z - 1) / (z + 1), |s| <= 0.172. x is normal and positive.
[[gnu::always_inline]] inline double log_approx(double x) noexcept {
    constexpr Bits kMantissa = (Bits{1} << 52) - 1;
    constexpr Bits kOne = 0x3ff0000000000000ULL;
    constexpr Bits kTwoTo52 = 0x4330000000000000ULL;
    constexpr double kSqrt2 = 1.4142135623730951;
    const Bits bits = std::bit_cast<Bits>(x);
    // x = 2^e m with m in [1, 2); e comes out exactly through 2^52.
    const double m = std::bit_cast<double>((bits & kMantissa) | kOne);
    const double e = std::bit_cast<double>(kTwoTo52 | (bits >> 52)) - (0x1p52 + 1023.0);
    // Above sqrt(2), z = m / 2 by one less in the exponent (a product here
    // would be turned back into a branch).
    const Bits above = m > kSqrt2 ? 1 : 0;
    const double z = std::bit_cast<double>(std::bit_cast<Bits>(m) - (above << 52));
    const double k = e + (m > kSqrt2 ? 1.0 : 0.0);
    const double f = z - 1.0;
    const double s = f / (2.0 + f);
    const double w = s * s;
    const double p = horner(w, kAtanhTerms);
    const double two_s = s + s;
    const double log_z = two_s + two_s * (w * p);
    return k * kLn2 + log_z;
}

// sin or cos of x = k pi/2 + r (|r| <= pi/4) from those of r, by the quadrant
// k + quarter turns (0 for sin, 1 for cos).
[[gnu::always_inline]] inline double by_quadrant(Bits quadrant, double sin_r,
                                                 double cos_r) noexcept {
    // Odd quadrants take the cosine; the upper two negate.
    const Bits odd = Bits{0} - (quadrant & 1);
    const Bits chosen = (std::bit_cast<Bits>(cos_r) & odd) | (std::bit_cast<Bits>(sin_r) & ~odd);
    return std::bit_cast<double>(chosen ^ ((quadrant & 2) << 62));
}

// sin(x) and cos(x) for |x| <= kTrigReach: x = k pi/2 + r with |r| <= pi/4,
// then sin and cos of r, each placed by the quadrant.
[[gnu::always_inline]] inline void sin_cos_approx(double x, double& sin_x, double& cos_x) noexcept {
    const double shifted = x * kTwoOverPi + kRoundShift;
    const Bits quadrant = std::bit_cast<Bits>(shifted);
    const double k = shifted - kRoundShift;
    const double r = (x - k * kHalfPiHi) - k * kHalfPiLo;
    const double w = r * r;
    const double s = horner(w, kSinTerms);
    const double sin_r = r + r * (w * s);
    const double c = horner(w, kCosTerms);
    const double cos_r = 1.0 + w * c;
    sin_x = by_quadrant(quadrant, sin_r, cos_r);
    cos_x = by_quadrant(quadrant + 1, sin_r, cos_r);
}

// sin(x) (quarter turns 0) or cos(x) (quarter turns 1).
[[gnu::always_inline]] inline double sin_approx(double x, Bits quarter_turns) noexcept {
    double sin_x;
    double cos_x;
    sin_cos_approx(x, sin_x, cos_x);
    return quarter_turns == 0 ? sin_x : cos_x;
}

// The sum of squares in four lanes, so it runs in vector registers: it only
// feeds an error bound, whose factor covers any order's rounding.
[[gnu::always_inline]] inline double sum_squares(const double* v, std::size_t n) noexcept {
    using Lanes = double __attribute__((vector_size(32)));
    Lanes lanes = {0.0, 0.0, 0.0, 0.0};
    const std::size_t whole = n - n % 4;
    for (std::size_t i = 0; i < whole; i += 4) {
        Lanes x;
        std::memcpy(&x, v + i, sizeof x);
        lanes += x * x;
    }
    double sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    for (std::size_t i = whole; i < n; ++i) sum += v[i] * v[i];
    return sum;
}

// The sum of squares of n magnitudes of at most 1, as sines and cosines are:
// it bounds their errors without a pass over the values.
[[gnu::always_inline]] inline double unit_squares(std::size_t n) noexcept {
    return static_cast<double>(n);
}

// out[i] = f(a[i]), with the range test in(a[i]) on every row.
// The range test is counted in 64-bit lanes, the width of the values, so the
// loop stays in vector registers.
template <class In, class F>
[[gnu::always_inline]] inline bool map_rows(const double* a, double* out, std::size_t n, In in,
                                            F f) noexcept {
    Bits outside = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = a[i];
        outside |= in(v) ? 0 : 1;
        out[i] = f(v);
    }
    return outside == 0;
}

// vok's second term: the stand-in of ln of b clamped as pulse_clamp does;
// outside is set when the clamped value is not normal.
[[gnu::always_inline]] inline double vok_second(double y, Bits& outside) noexcept {
    // pulse_clamp, written as selects.
    const double floored = std::fabs(y) < LN_FLOOR ? LN_FLOOR : std::fabs(y);
    const double clamped = y <= 0.0 ? floored : y;
    outside |= clamped >= kSmallestNormal ? 0 : 1;
    return log_approx(clamped);
}

// vok from its first term's stand-in (grown, which may be out) and its second
// term's, second(i, outside); its magnitude is that of both terms, kept a run
// of rows at a time.
template <class Second>
[[gnu::always_inline]] inline bool vok_finish(const double* grown, Second second, double* out,
                                              std::size_t n, double& magnitude_squares) noexcept {
    constexpr std::size_t kRun = 64;
    double magnitude[kRun];
    Bits outside = 0;
    double squares = 0.0;
    for (std::size_t lo = 0; lo < n; lo += kRun) {
        const std::size_t len = std::min(kRun, n - lo);
        for (std::size_t i = 0; i < len; ++i) {
            const double logged = second(lo + i, outside);
            const double first = grown[lo + i];
            out[lo + i] = first - logged;
            magnitude[i] = std::fabs(first) + std::fabs(logged);
        }
        squares += sum_squares(magnitude, len);
    }
    magnitude_squares = squares;
    return outside == 0;
}

// The Euclidean norm of the rows' error bounds, from their magnitudes' squares.
bool bound_error(double magnitude_squares, std::size_t n, double& error_norm) noexcept {
    error_norm = kApproxRelative * std::sqrt(magnitude_squares) * (1.0 + 1e-9) +
                 kApproxAbsolute * std::sqrt(static_cast<double>(n));
    return std::isfinite(error_norm);
}

}  // namespace

bool has_approx(OpCode op) noexcept {
    switch (op) {
        case OpCode::Exp:
        case OpCode::Ln:
        case OpCode::Sin:
        case OpCode::Cos:
        case OpCode::Vok: return true;
        default: return false;
    }
}

// Compiled twice: for processors with 256-bit vectors, and for any other.
[[gnu::target_clones("avx2", "default")]] bool approx_rows(OpCode op, const double* a,
                                                           const double* b, double* out,
                                                           std::size_t n,
                                                           double& error_norm) noexcept {
    auto in_exp_reach = [](double v) { return std::fabs(v) <= kExpReach; };
    auto in_trig_reach = [](double v) { return std::fabs(v) <= kTrigReach; };
    double squares = 0.0;
    bool covered = false;
    switch (op) {
        case OpCode::Exp:
            covered = map_rows(a, out, n, in_exp_reach, [](double v) { return exp_approx(v); });
            break;
        case OpCode::Ln:
            // Rows out of range still go through the bit arithmetic, harmlessly.
            covered = map_rows(
                a, out, n, [](double v) { return v >= kSmallestNormal; },
                [](double v) { return log_approx(v); });
            break;
        case OpCode::Sin:
            covered = map_rows(a, out, n, in_trig_reach, [](double v) { return sin_approx(v, 0); });
            break;
        case OpCode::Cos:
            covered = map_rows(a, out, n, in_trig_reach, [](double v) { return sin_approx(v, 1); });
            break;
        case OpCode::Vok:
            // The two terms in two passes: the vectoriser takes each loop on its own.
            return map_rows(a, out, n, in_exp_reach, [](double v) { return exp_approx(v); }) &&
                   vok_finish(
                       out, [b](std::size_t i, Bits& outside) { return vok_second(b[i], outside); },
                       out, n, squares) &&
                   bound_error(squares, n, error_norm);
        default: return false;
    }
    const bool trig = op == OpCode::Sin || op == OpCode::Cos;
    return covered && bound_error(trig ? unit_squares(n) : sum_squares(out, n), n, error_norm);
}

[[gnu::target_clones("avx2", "default")]] bool approx_sin_cos(const double* a, double* sin_out,
                                                              double* cos_out, std::size_t n,
                                                              double (&errors)[2]) noexcept {
    Bits outside = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = a[i];
        outside |= std::fabs(v) <= kTrigReach ? 0 : 1;
        sin_cos_approx(v, sin_out[i], cos_out[i]);
    }
    return outside == 0 && bound_error(unit_squares(n), n, errors[0]) &&
           bound_error(unit_squares(n), n, errors[1]);
}

[[gnu::target_clones("avx2", "default")]] bool approx_vok_first(const double* a, double* grown,
                                                                std::size_t n) noexcept {
    return map_rows(
        a, grown, n, [](double v) { return std::fabs(v) <= kExpReach; },
        [](double v) { return exp_approx(v); });
}

[[gnu::target_clones("avx2", "default")]] bool approx_vok_rest(const double* grown, const double* b,
                                                               double* out, std::size_t n,
                                                               double& error_norm) noexcept {
    double squares = 0.0;
    return vok_finish(
               grown, [b](std::size_t i, Bits& outside) { return vok_second(b[i], outside); }, out,
               n, squares) &&
           bound_error(squares, n, error_norm);
}

[[gnu::target_clones("avx2", "default")]] bool approx_vok_second(const double* b, double* logged,
                                                                 std::size_t n) noexcept {
    Bits outside = 0;
    for (std::size_t i = 0; i < n; ++i) logged[i] = vok_second(b[i], outside);
    return outside == 0;
}

[[gnu::target_clones("avx2", "default")]] bool approx_vok_terms(const double* grown,
                                                                const double* logged, double* out,
                                                                std::size_t n,
                                                                double& error_norm) noexcept {
    double squares = 0.0;
    return vok_finish(
               grown, [logged](std::size_t i, Bits&) { return logged[i]; }, out, n, squares) &&
           bound_error(squares, n, error_norm);
}

}  // namespace vok::enumeration
