// The battery's targets: exact laws the operator set can reach, and noisy or
// unreachable ones that make the search run every level.
#include <cmath>
#include <utility>

#include "battery.hpp"

namespace vok::battery {
namespace {

struct Range {
    double lo;
    double hi;
};

struct Spec {
    const char* name;
    const char* law;
    std::uint64_t seed;
    std::size_t rows;
    std::vector<Range> ranges;  // one per variable
    double (*f)(const double* x);
    double noise;  // amplitude of the added deterministic noise, 0 for an exact law
};

Target make(const Spec& s) {
    SplitMix64 rng(s.seed);
    Target t{s.name, s.law, std::vector<Column>(s.ranges.size()), {}};
    for (Column& c : t.x_cols) c.reserve(s.rows);
    t.y.reserve(s.rows);
    double row[3] = {0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < s.rows; ++i) {
        for (std::size_t v = 0; v < s.ranges.size(); ++v) {
            row[v] = rng.uniform(s.ranges[v].lo, s.ranges[v].hi);
            t.x_cols[v].push_back(row[v]);
        }
        double y = s.f(row);
        if (s.noise != 0.0) y += s.noise * rng.uniform(-1.0, 1.0);
        t.y.push_back(y);
    }
    return t;
}

}  // namespace

std::vector<Target> targets() {
    const Range pos{0.5, 4.0};
    const Range wide{-3.0, 3.0};
    const Spec specs[] = {
        // Exact laws, reachable with the operator set.
        {"lin_2x_plus_1",
         "2*x+1",
         1,
         50,
         {wide},
         [](const double* x) { return 2.0 * x[0] + 1.0; },
         0},
        {"ln_x_plus_1",
         "ln(x)+1",
         2,
         100,
         {pos},
         [](const double* x) { return std::log(x[0]) + 1.0; },
         0},
        {"sin_x_times_x",
         "sin(x)*x",
         3,
         200,
         {wide},
         [](const double* x) { return std::sin(x[0]) * x[0]; },
         0},
        {"x2_over_y",
         "x*x/y",
         4,
         200,
         {pos, pos},
         [](const double* x) { return x[0] * x[0] / x[1]; },
         0},
        {"exp_negx_times_y",
         "exp(-x)*y",
         5,
         300,
         {wide, pos},
         [](const double* x) { return std::exp(-x[0]) * x[1]; },
         0},
        {"sqrt_x_plus_y",
         "sqrt(x)+y",
         6,
         300,
         {pos, wide},
         [](const double* x) { return std::sqrt(x[0]) + x[1]; },
         0},
        {"vok_xy",
         "exp(x)-ln(y)",
         7,
         100,
         {wide, pos},
         [](const double* x) { return std::exp(x[0]) - std::log(x[1]); },
         0},
        {"xy_plus_z",
         "x*y+z",
         8,
         500,
         {wide, wide, wide},
         [](const double* x) { return x[0] * x[1] + x[2]; },
         0},
        {"hypot_xy",
         "sqrt(x*x+y*y)",
         9,
         400,
         {wide, wide},
         [](const double* x) { return std::sqrt(x[0] * x[0] + x[1] * x[1]); },
         0},
        {"inv_1_plus_x2",
         "1/(1+x*x)",
         10,
         20,
         {wide},
         [](const double* x) { return 1.0 / (1.0 + x[0] * x[0]); },
         0},
        // Laws plus small noise, or laws the operator set cannot build exactly.
        {"noisy_quadratic",
         "x*x+1 + 1e-3 noise",
         11,
         1000,
         {wide},
         [](const double* x) { return x[0] * x[0] + 1.0; },
         1e-3},
        {"pow_x_2_37",
         "x^2.37",
         12,
         500,
         {pos},
         [](const double* x) { return std::pow(x[0], 2.37); },
         0},
        {"noisy_gauss",
         "exp(-x*x) + 1e-2 noise",
         13,
         400,
         {wide},
         [](const double* x) { return std::exp(-x[0] * x[0]); },
         1e-2},
        {"noisy_xy_over_z",
         "x*y/z + 1e-3 noise",
         14,
         600,
         {pos, pos, pos},
         [](const double* x) { return x[0] * x[1] / x[2]; },
         1e-3},
        {"tanh_like",
         "x/(1+|x|)",
         15,
         250,
         {wide},
         [](const double* x) { return x[0] / (1.0 + std::fabs(x[0])); },
         0},
        {"damped_wave",
         "exp(-x/4)*cos(3y) + 1e-3 noise",
         16,
         800,
         {pos, wide},
         [](const double* x) { return std::exp(-x[0] / 4.0) * std::cos(3.0 * x[1]); },
         1e-3},
    };
    std::vector<Target> out;
    out.reserve(std::size(specs));
    for (const Spec& s : specs) out.push_back(make(s));
    return out;
}

}  // namespace vok::battery
