// Values and exact-bit comparison shared by the C++ tests.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace vok::test {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// The bit pattern, so that -0.0 and 0.0, and NaN payloads, compare as different.
inline std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

}  // namespace vok::test
