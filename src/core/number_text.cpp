// Float text built on std::to_chars, which converts exactly (fixed and
// scientific with a precision round the exact binary value, ties to even).
#include "core/number_text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace vok {
namespace {

// Sign, 309 integer digits of 1e308, the point, and room to spare.
constexpr int kIntegerRoom = 320;
constexpr int kStackDecimals = 64;

// NaN and the infinities, or false for finite values.
bool append_special(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
        return true;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-inf" : "inf";
        return true;
    }
    return false;
}

// Appends "e" and the exponent without "+" and without leading zeros.
void append_exponent(std::string& out, int exponent) {
    std::array<char, 8> buf;
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), exponent);
    out += 'e';
    out.append(buf.data(), r.ptr);
}

// Splits "d.ddde±XX" into the mantissa text and the exponent.
int split_scientific(std::string_view text, std::string_view& mantissa) {
    const auto e = text.find('e');
    mantissa = text.substr(0, e);
    int exponent = 0;
    const char* first = text.data() + e + 1;
    if (*first == '+') ++first;
    std::from_chars(first, text.data() + text.size(), exponent);
    return exponent;
}

}  // namespace

void append_fixed_text(std::string& out, double v, int decimals) {
    if (append_special(out, v)) return;
    if (decimals < 0) decimals = 0;
    if (decimals <= kStackDecimals) {
        std::array<char, kIntegerRoom + kStackDecimals> buf;
        const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v,
                                     std::chars_format::fixed, decimals);
        out.append(buf.data(), r.ptr);
        return;
    }
    const std::size_t start = out.size();
    out.resize(start + kIntegerRoom + static_cast<std::size_t>(decimals));
    const auto r = std::to_chars(out.data() + start, out.data() + out.size(), v,
                                 std::chars_format::fixed, decimals);
    out.resize(static_cast<std::size_t>(r.ptr - out.data()));
}

std::string fixed_text(double v, int decimals) {
    std::string out;
    append_fixed_text(out, v, decimals);
    return out;
}

std::string scientific2_text(double v) {
    std::string out;
    if (append_special(out, v)) return out;
    std::array<char, 32> buf;
    const auto r =
        std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::scientific, 2);
    std::string_view mantissa;
    const int exponent = split_scientific({buf.data(), r.ptr}, mantissa);
    out += mantissa;
    append_exponent(out, exponent);
    return out;
}

std::string debug_text(double v) {
    std::string out;
    if (append_special(out, v)) return out;
    std::array<char, 40> buf;
    const auto r =
        std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::scientific);
    std::string_view mantissa;
    const int exponent = split_scientific({buf.data(), r.ptr}, mantissa);
    if (mantissa.front() == '-') {
        out += '-';
        mantissa.remove_prefix(1);
    }
    const double magnitude = std::fabs(v);
    if ((magnitude != 0.0 && magnitude < 1e-4) || magnitude >= 1e16) {
        out += mantissa;
        append_exponent(out, exponent);
        return out;
    }
    // Positional: lay the significant digits around the point.
    std::string digits;
    digits += mantissa.front();
    if (mantissa.size() > 2) digits.append(mantissa.substr(2));
    const int count = static_cast<int>(digits.size());
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    } else if (exponent + 1 >= count) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent + 1 - count), '0');
        out += ".0";
    } else {
        out.append(digits, 0, static_cast<std::size_t>(exponent + 1));
        out += '.';
        out.append(digits, static_cast<std::size_t>(exponent + 1));
    }
    return out;
}

}  // namespace vok
