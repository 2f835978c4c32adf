// Text forms of doubles, one routine per format, shared by the engine and the
// value classes so every repr rounds the same way.
#pragma once

#include <string>

namespace vok {

// Fixed notation with `decimals` digits after the point, rounded from the
// exact binary value (ties to even), never an exponent. The sign of negative
// zero and of negatives that round to zero is kept; "NaN", "inf", "-inf".
[[nodiscard]] std::string fixed_text(double v, int decimals);
// Same text appended to out, without a temporary string.
void append_fixed_text(std::string& out, double v, int decimals);

// Two digits after the point and a bare exponent: 1.23e-4, 1.23e4, -0.00e0.
[[nodiscard]] std::string scientific2_text(double v);

// Shortest digits that read back as the same double; positional with at
// least one fractional digit, scientific (1e-5, 1.5e16) below 1e-4 or from
// 1e16 on.
[[nodiscard]] std::string debug_text(double v);

}  // namespace vok
