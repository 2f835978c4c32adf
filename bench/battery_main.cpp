// search_battery: times the default search on every battery target and prints
// its counters and outcome, as a table or as TSV for scripts/compare_revisions.sh.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <time.h>

#include "battery.hpp"
#include "beam/search.hpp"

namespace {

struct Options {
    int repeats = 3;
    bool tsv = false;
    bool list = false;
    bool dump_json = false;
    bool poll = false;                 // a keep_going hook, as the Python entry installs
    std::vector<std::string> names;    // exact names; empty selects all
    std::vector<std::string> matches;  // substrings
};

constexpr const char* kUsage =
    "usage: search_battery [--repeats N] [--tsv] [--list] [--dump-json] [--poll]\n"
    "                      [--match SUBSTRING]... [NAME]...\n"
    "Runs the default search on each battery target (all, or those named or matched)\n"
    "and reports the best wall time of N repeats (default 3), the counters and the result.\n"
    "--poll installs a keep_going hook that always says yes, as find_formula does: the\n"
    "calling thread then waits instead of scoring beside the workers.\n";

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--repeats" && i + 1 < argc) {
            o.repeats = std::atoi(argv[++i]);
            if (o.repeats < 1) return false;
        } else if (a == "--match" && i + 1 < argc) {
            o.matches.emplace_back(argv[++i]);
        } else if (a == "--tsv") {
            o.tsv = true;
        } else if (a == "--list") {
            o.list = true;
        } else if (a == "--dump-json") {
            o.dump_json = true;
        } else if (a == "--poll") {
            o.poll = true;
        } else if (a.starts_with("-")) {
            return false;
        } else {
            o.names.emplace_back(a);
        }
    }
    return true;
}

bool selected(const Options& o, const std::string& name) {
    if (o.names.empty() && o.matches.empty()) return true;
    if (std::find(o.names.begin(), o.names.end(), name) != o.names.end()) return true;
    return std::any_of(o.matches.begin(), o.matches.end(),
                       [&](const std::string& m) { return name.find(m) != std::string::npos; });
}

// All threads of the process: on a shared machine this shows the work done
// even when wall time is stretched by other load.
double cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

struct Run {
    double best_ms = INFINITY;
    double best_cpu_ms = INFINITY;
    vok::beam::SearchStats stats;
    std::optional<vok::beam::SearchResult> result;
};

bool same_outcome(const std::optional<vok::beam::SearchResult>& a,
                  const std::optional<vok::beam::SearchResult>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    return a->formula == b->formula && a->complexity == b->complexity &&
           std::memcmp(&a->error, &b->error, sizeof(double)) == 0;
}

// Every repeat must give the same outcome: the search is deterministic.
bool time_target(const vok::battery::Target& t, const Options& o, Run& run) {
    bool stable = true;
    for (int r = 0; r < o.repeats; ++r) {
        vok::beam::SearchControl control;
        if (o.poll) control.keep_going = [] { return true; };
        const double cpu_start = cpu_ms();
        const auto start = std::chrono::steady_clock::now();
        std::optional<vok::beam::SearchResult> res =
            vok::beam::search(t.x_cols, t.y, t.x_cols.size(), vok::beam::SearchConfig{}, &control);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        run.best_ms = std::min(run.best_ms, took.count());
        run.best_cpu_ms = std::min(run.best_cpu_ms, cpu_ms() - cpu_start);
        if (r == 0) {
            run.stats = control.stats;
            run.result = std::move(res);
        } else if (!same_outcome(run.result, res)) {
            stable = false;
        }
    }
    return stable;
}

void print_json_string(const std::string& s) {
    std::putchar('"');
    for (const char c : s) {
        if (c == '"' || c == '\\') std::putchar('\\');
        std::putchar(c);
    }
    std::putchar('"');
}

void print_json_numbers(const std::vector<double>& v) {
    std::putchar('[');
    for (std::size_t i = 0; i < v.size(); ++i) std::printf(i ? ",%.17g" : "%.17g", v[i]);
    std::putchar(']');
}

// The data, with 17 significant digits so every double reads back bit for bit.
void dump_json(const std::vector<const vok::battery::Target*>& ts) {
    std::printf("[\n");
    for (std::size_t k = 0; k < ts.size(); ++k) {
        const vok::battery::Target& t = *ts[k];
        std::printf("{\"name\":");
        print_json_string(t.name);
        std::printf(",\"law\":");
        print_json_string(t.law);
        std::printf(",\"x_cols\":[");
        for (std::size_t v = 0; v < t.x_cols.size(); ++v) {
            if (v) std::putchar(',');
            print_json_numbers(t.x_cols[v]);
        }
        std::printf("],\"y\":");
        print_json_numbers(t.y);
        std::printf("}%s\n", k + 1 < ts.size() ? "," : "");
    }
    std::printf("]\n");
}

void print_row(const vok::battery::Target& t, const Run& run, bool tsv) {
    const vok::beam::SearchStats& s = run.stats;
    const auto rows = static_cast<unsigned long long>(t.y.size());
    const auto vars = static_cast<unsigned long long>(t.x_cols.size());
    char error_hex[40] = "-";
    char error_sci[40] = "-";
    std::string formula = "-";
    unsigned long long complexity = 0;
    if (run.result) {
        std::snprintf(error_hex, sizeof error_hex, "%a", run.result->error);
        std::snprintf(error_sci, sizeof error_sci, "%.3e", run.result->error);
        formula = run.result->formula;
        complexity = run.result->complexity;
    }
    if (tsv) {
        std::printf(
            "%s\t%llu\t%llu\t%.3f\t%.3f\t%llu\t%llu\t%llu\t%llu\t%llu\t%llu\t%llu\t%s\t%s\t%s\n",
            t.name.c_str(), rows, vars, run.best_ms, run.best_cpu_ms,
            static_cast<unsigned long long>(s.generated),
            static_cast<unsigned long long>(s.no_fingerprint),
            static_cast<unsigned long long>(s.duplicates),
            static_cast<unsigned long long>(s.scored), static_cast<unsigned long long>(s.results),
            static_cast<unsigned long long>(s.levels), complexity, error_hex, error_sci,
            formula.c_str());
    } else {
        std::printf(
            "%-18s %5llu %4llu %9.2f %9.2f %9llu %10llu %9llu %6llu %4llu  %-24s %10s  %s\n",
            t.name.c_str(), rows, vars, run.best_ms, run.best_cpu_ms,
            static_cast<unsigned long long>(s.generated),
            static_cast<unsigned long long>(s.duplicates),
            static_cast<unsigned long long>(s.scored), static_cast<unsigned long long>(s.levels),
            complexity, error_hex, error_sci, formula.c_str());
    }
    std::fflush(stdout);
}

int run_battery(const Options& o) {
    std::vector<vok::battery::Target> all = vok::battery::targets();
    std::vector<const vok::battery::Target*> chosen;
    for (const auto& t : all)
        if (selected(o, t.name)) chosen.push_back(&t);
    if (chosen.empty()) {
        std::fprintf(stderr, "search_battery: no target selected (--list shows the names)\n");
        return 2;
    }
    if (o.list) {
        for (const auto* t : chosen)
            std::printf("%-18s %5zu rows %zu vars  %s\n", t->name.c_str(), t->y.size(),
                        t->x_cols.size(), t->law.c_str());
        return 0;
    }
    if (o.dump_json) {
        dump_json(chosen);
        return 0;
    }
    if (o.tsv) {
        std::printf(
            "name\trows\tvars\tms\tcpu_ms\tgenerated\tno_fingerprint\tduplicates\tscored\tresults"
            "\tlevels\tcomplexity\terror_hex\terror\tformula\n");
    } else {
        std::printf("%-18s %5s %4s %9s %9s %9s %10s %9s %6s %4s  %-24s %10s  %s\n", "target",
                    "rows", "vars", "wall ms", "cpu ms", "generated", "duplicate", "scored",
                    "levels", "cx", "error (hex)", "error", "formula");
    }
    // The worker pool starts with the first search: keep that out of the times.
    vok::beam::SearchConfig leaves_only;
    leaves_only.max_complexity = 1;
    (void)vok::beam::search(chosen[0]->x_cols, chosen[0]->y, chosen[0]->x_cols.size(), leaves_only);

    bool all_stable = true;
    double log_sum = 0.0;
    double log_cpu_sum = 0.0;
    for (const auto* t : chosen) {
        Run run;
        if (!time_target(*t, o, run)) {
            std::fprintf(stderr, "search_battery: %s gave different outcomes across repeats\n",
                         t->name.c_str());
            all_stable = false;
        }
        print_row(*t, run, o.tsv);
        log_sum += std::log(run.best_ms);
        log_cpu_sum += std::log(run.best_cpu_ms);
    }
    const double n = static_cast<double>(chosen.size());
    const double geomean = std::exp(log_sum / n);
    const double geomean_cpu = std::exp(log_cpu_sum / n);
    if (o.tsv)
        std::printf("#geomean_ms\t%.3f\t%.3f\n", geomean, geomean_cpu);
    else
        std::printf(
            "geometric mean of best times over %zu targets (%d repeats): "
            "%.2f ms wall, %.2f ms cpu\n",
            chosen.size(), o.repeats, geomean, geomean_cpu);
    return all_stable ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        return run_battery(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "search_battery: %s\n", e.what());
        return 1;
    }
}
