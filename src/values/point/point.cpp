// Point maths: the pulse map and its guards, exactly in the stated order.
#include "values/point/point.hpp"

#include <cmath>
#include <new>
#include <stdexcept>

#include "core/guarded_math.hpp"
#include "core/number_text.hpp"
#include "core/system_memory.hpp"

namespace vok {

double tension(const Point& p) noexcept { return tension(p.x, p.y); }

Point mirror_pulse(const Point& p) noexcept {
    const double x = pulse_clamp(p.y);
    return {x, guarded_exp(p.x) - std::log(x)};
}

Point frame_shift(const Point& p) noexcept {
    // fmax drops a NaN operand, so a NaN y floors to LN_FLOOR.
    const double x = std::fmax(std::fabs(p.y), LN_FLOOR);
    return {x, guarded_exp(p.x) - std::log(x)};
}

bool is_slipping(const Point& p) noexcept { return p.x > SLIP_THRESHOLD; }

bool conserves_tension(const Point& self, const Point& next, double tol) noexcept {
    const double a = guarded_exp(self.x);
    if (!std::isfinite(a)) return true;
    const double b = guarded_ln(next.y);
    const double t = a - b;
    const double r = std::fabs((b + t) - a);
    return r < tol;
}

std::string repr(const Point& p) {
    std::string out = "VOKPoint(x=";
    append_fixed_text(out, p.x, 6);
    out += ", y=";
    append_fixed_text(out, p.y, 6);
    out += ')';
    return out;
}

std::string debug_form(const Point& p) {
    return "VOKPoint { x: " + debug_text(p.x) + ", y: " + debug_text(p.y) + " }";
}

std::uint64_t pulse_record_count(std::uint64_t n_pulses, std::size_t bytes_per_record) {
    if (n_pulses >= kMaxPulseRecords) throw std::length_error("capacity overflow");
    const std::uint64_t records = n_pulses + 1;
    // Under a sanitizer a huge operator new aborts instead of throwing: refuse first.
    const std::size_t physical = physical_memory_bytes();  // 0: unknown, no ceiling
    if (bytes_per_record != 0 && physical != 0 && records > physical / bytes_per_record)
        throw std::bad_alloc();
    return records;
}

std::vector<PulseRecord> simulate_pulses(double x0, double y0, std::uint64_t n_pulses) {
    const std::uint64_t records = pulse_record_count(n_pulses);
    std::vector<PulseRecord> out;
    out.reserve(static_cast<std::size_t>(records));
    double x = x0, y = y0, t = tension(x0, y0);
    out.push_back({x, y, t});
    for (std::uint64_t k = 0; k < n_pulses; ++k) {
        // The pulse's new y is the same expression as the tension just taken
        // (guarded_ln(y) is ln(pulse_clamp(y))), so reuse its bits.
        x = pulse_clamp(y);
        y = t;
        t = tension(x, y);
        out.push_back({x, y, t});
    }
    return out;
}

}  // namespace vok
