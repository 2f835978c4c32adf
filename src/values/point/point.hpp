// The point record and its pulse maths: plain doubles, no Python.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vok {

struct Point {
    double x;
    double y;
};

// vok(x, y) = guarded_exp(x) - guarded_ln(y).
[[nodiscard]] double tension(const Point& p) noexcept;
// (x, y) -> (pulse_clamp(y), tension): the clamped y moves into x.
[[nodiscard]] Point mirror_pulse(const Point& p) noexcept;
// Like mirror_pulse, but the new x is floored by magnitude even for tiny or NaN y.
[[nodiscard]] Point frame_shift(const Point& p) noexcept;
// True when guarded_exp(x) is on its logarithmic branch.
[[nodiscard]] bool is_slipping(const Point& p) noexcept;
// The rounding residue of (ln next.y + (exp x - ln next.y)) - exp x is below tol;
// a non-finite exp x always conserves.
[[nodiscard]] bool conserves_tension(const Point& self, const Point& next, double tol) noexcept;

// "VOKPoint(x=1.000000, y=-2.500000)".
[[nodiscard]] std::string repr(const Point& p);
// "VOKPoint { x: 1.0, y: 2.0 }", the shortest round-trip form.
[[nodiscard]] std::string debug_form(const Point& p);

// One trajectory record: x, y and the tension of that point.
using PulseRecord = std::array<double, 3>;

// Records of 3 doubles must fit in 2^63 - 1 bytes.
inline constexpr std::uint64_t kMaxPulseRecords = 384307168202282325;

// Number of records for n_pulses steps, checked before anything is reserved:
// std::length_error("capacity overflow") past kMaxPulseRecords (or when n + 1
// wraps), std::bad_alloc when records * bytes_per_record exceeds physical memory,
// since a request the machine can never satisfy must fail as MemoryError rather
// than end the process.
[[nodiscard]] std::uint64_t pulse_record_count(std::uint64_t n_pulses,
                                               std::size_t bytes_per_record = sizeof(PulseRecord));

// The trajectory of n_pulses mirror pulses from (x0, y0): n_pulses + 1 records,
// storage reserved once.
[[nodiscard]] std::vector<PulseRecord> simulate_pulses(double x0, double y0,
                                                       std::uint64_t n_pulses);

}  // namespace vok
