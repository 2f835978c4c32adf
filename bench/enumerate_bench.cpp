// Complete enumeration on a target no formula fits (seeded noise), so every
// size is finished: wall time, distinct functions per size, peak memory.
//
//   enumerate_bench [--vars V] [--rows N] [--max-size S] [--threads T]
//                   [--drop-bits B] [--plain] [--law] [--weighted] [--repeats R]
//
// --law replaces the noise by y = x0 * x1 / x2 ... (the variables' product)
// to show a search that finds its answer; --weighted gives the rows seeded
// weights in [0.5, 1.5), a tenth of them 0.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/render.hpp"
#include "enumeration/enumerate.hpp"

namespace {

long peak_rss_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t vars = 1;
    std::size_t rows = 200;
    unsigned max_size = 8;
    std::size_t threads = 0;
    unsigned drop_bits = vok::enumeration::EnumerationSettings{}.dedup_drop_bits;
    bool plain = false;
    bool law = false;
    bool weighted = false;
    int repeats = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--vars")
            vars = std::strtoul(next(), nullptr, 10);
        else if (arg == "--rows")
            rows = std::strtoul(next(), nullptr, 10);
        else if (arg == "--max-size")
            max_size = static_cast<unsigned>(std::strtoul(next(), nullptr, 10));
        else if (arg == "--threads")
            threads = std::strtoul(next(), nullptr, 10);
        else if (arg == "--drop-bits")
            drop_bits = static_cast<unsigned>(std::strtoul(next(), nullptr, 10));
        else if (arg == "--repeats")
            repeats = std::atoi(next());
        else if (arg == "--plain")
            plain = true;
        else if (arg == "--law")
            law = true;
        else if (arg == "--weighted")
            weighted = true;
        else {
            std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
            return 2;
        }
    }

    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> in_range(1.0, 5.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<vok::Column> x(vars, vok::Column(rows));
    std::vector<double> y(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        double product = 1.0;
        for (std::size_t v = 0; v < vars; ++v) {
            x[v][i] = in_range(rng);
            product *= x[v][i];
        }
        y[i] = law ? product : noise(rng);
    }

    vok::enumeration::EnumerationSettings settings;
    settings.max_size = max_size;
    settings.n_threads = threads;
    settings.dedup_drop_bits = drop_bits;
    settings.scaling = !plain;
    if (weighted) {
        std::uniform_real_distribution<double> weight(0.5, 1.5);
        settings.weights.resize(rows);
        for (std::size_t i = 0; i < rows; ++i)
            settings.weights[i] = i % 10 == 3 ? 0.0 : weight(rng);
    }
    for (int r = 0; r < repeats; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        const vok::enumeration::EnumerationResult result =
            vok::enumeration::enumerate_formulas(x, y, settings);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf(
            "vars=%zu rows=%zu max_size=%u threads=%zu drop_bits=%u %s%s: %.3f s, stopped=%s, "
            "evaluations=%llu, peak RSS %ld MiB\n",
            vars, rows, max_size, threads, drop_bits, plain ? "plain" : "scaled",
            weighted ? " weighted" : "", wall, vok::enumeration::stop_reason_name(result.stopped),
            static_cast<unsigned long long>(result.evaluations), peak_rss_mib());
        if (r + 1 < repeats) continue;
        std::printf("%4s %9s %12s %12s %12s %12s %12s %9s %9s\n", "size", "complete", "candidates",
                    "no value", "duplicates", "distinct", "pruned", "seconds", "M cand/s");
        for (const vok::enumeration::SizeReport& s : result.sizes) {
            std::printf("%4u %9s %12llu %12llu %12llu %12llu %12llu %9.3f %9.2f\n", s.size,
                        s.complete ? "yes" : "no", static_cast<unsigned long long>(s.candidates),
                        static_cast<unsigned long long>(s.no_value),
                        static_cast<unsigned long long>(s.duplicates),
                        static_cast<unsigned long long>(s.distinct),
                        static_cast<unsigned long long>(s.pruned), s.seconds,
                        s.seconds > 0 ? static_cast<double>(s.candidates) / s.seconds / 1e6 : 0.0);
        }
        for (const vok::enumeration::FrontMember& m : result.front) {
            std::printf("  size %2u  rmse %.6e  %.17g * %s + %.17g\n", m.size, m.rmse, m.scale,
                        m.expr.to_string().c_str(), m.offset);
        }
    }
    return 0;
}
