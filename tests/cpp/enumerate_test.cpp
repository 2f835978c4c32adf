// The enumeration against a plain enumerator kept here: every candidate built
// as a whole program, evaluated row by row, in the documented order, with
// the documented dedup rules. Random small settings, 1 to 3 workers, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "beam/search.hpp"
#include "enumeration/enumerate.hpp"
#include "enumeration/probe_points.hpp"
#include "test_values.hpp"

namespace vok::enumeration {
namespace {

using beam::search;
using beam::SearchConfig;
using vok::test::bits;

struct Plain {
    Expr expr;
    double sse = 0.0, scale = 1.0, offset = 0.0;
    std::uint64_t order = 0;
    bool valid = false;   // a value on every row: an operand of larger sizes
    bool fitted = false;  // and a finite fit: a member of the front
};

// The whole-program reading of the rules in enumerate.hpp.
struct PlainEnumerator {
    PlainEnumerator(const std::vector<Column>& x_, const std::vector<double>& y_,
                    const EnumerationSettings& s_)
        : x(x_), y(y_), s(s_) {}

    const std::vector<Column>& x;
    const std::vector<double>& y;
    const EnumerationSettings& s;
    std::vector<ProbeArray> var_probes = data_probes(x, y.size());
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    std::vector<std::vector<Plain>> kept;  // valid entries per size
    std::vector<FrontMember> front;
    std::vector<SizeReport> reports;

    bool seen_before(const Key128& k,
                     const std::set<std::pair<std::uint64_t, std::uint64_t>>& local) const {
        return seen.contains({k.lo, k.hi}) || local.contains({k.lo, k.hi});
    }

    bool probe(const Expr& e, ProbeArray& out) const {
        for (std::size_t k = 0; k < kProbePoints; ++k) {
            std::vector<double> row;
            for (const ProbeArray& p : var_probes) row.push_back(p[k]);
            const auto v = e.eval(row, {});
            if (!v) return false;
            out[k] = *v;
        }
        return true;
    }

    void score(Plain& p) const {
        const std::size_t n = y.size();
        std::vector<double> f(n);
        for (std::size_t i = 0; i < n; ++i) {
            std::vector<double> row;
            for (const Column& c : x) row.push_back(c[i]);
            const auto v = p.expr.eval(row, {});
            if (!v) return;
            f[i] = *v;
        }
        p.valid = true;
        if (!s.weights.empty()) return score_weighted(p, f);
        double sse = 0.0;
        if (!s.scaling) {
            for (std::size_t i = 0; i < n; ++i) sse += (f[i] - y[i]) * (f[i] - y[i]);
        } else {
            double sy = 0.0, sf = 0.0, sff = 0.0, sfy = 0.0, sf2 = 0.0;
            for (double v : y) sy += v;
            const double my = sy / static_cast<double>(n);
            for (double v : f) sf += v;
            const double mf = sf / static_cast<double>(n);
            for (std::size_t i = 0; i < n; ++i) {
                sff += (f[i] - mf) * (f[i] - mf);
                sfy += (f[i] - mf) * (y[i] - my);
                sf2 += f[i] * f[i];
            }
            p.scale = 0.0;
            p.offset = my;
            if (sff > 0.0 && !(sff <= 1e-24 * sf2)) {
                p.scale = sfy / sff;
                p.offset = my - p.scale * mf;
            }
            if (!std::isfinite(p.scale) || !std::isfinite(p.offset)) return;
            for (std::size_t i = 0; i < n; ++i) {
                const double r = y[i] - ((p.scale * f[i]) + p.offset);
                sse += r * r;
            }
        }
        if (!std::isfinite(sse)) return;
        p.sse = sse;
        p.fitted = true;
    }

    // The weighted reading: each row's term times its weight, zero where that is.
    void score_weighted(Plain& p, const std::vector<double>& f) const {
        const std::vector<double>& w = s.weights;
        auto weigh = [&](std::size_t i, double v) { return w[i] > 0.0 ? w[i] * v : 0.0; };
        const std::size_t n = y.size();
        double sse = 0.0;
        if (!s.scaling) {
            for (std::size_t i = 0; i < n; ++i) sse += weigh(i, (f[i] - y[i]) * (f[i] - y[i]));
        } else {
            double sw = 0.0, sy = 0.0, sf = 0.0, sff = 0.0, sfy = 0.0, sf2 = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                sw += w[i];
                sy += weigh(i, y[i]);
            }
            const double my = sy / sw;
            for (std::size_t i = 0; i < n; ++i) sf += weigh(i, f[i]);
            const double mf = sf / sw;
            for (std::size_t i = 0; i < n; ++i) {
                sff += weigh(i, (f[i] - mf) * (f[i] - mf));
                sfy += weigh(i, (f[i] - mf) * (y[i] - my));
                sf2 += weigh(i, f[i] * f[i]);
            }
            p.scale = 0.0;
            p.offset = my;
            if (sff > 0.0 && !(sff <= 1e-24 * sf2)) {
                p.scale = sfy / sff;
                p.offset = my - p.scale * mf;
            }
            if (!std::isfinite(p.scale) || !std::isfinite(p.offset)) return;
            for (std::size_t i = 0; i < n; ++i) {
                const double r = y[i] - ((p.scale * f[i]) + p.offset);
                sse += weigh(i, r * r);
            }
        }
        if (!std::isfinite(sse)) return;
        p.sse = sse;
        p.fitted = true;
    }

    std::vector<Expr> candidates(std::uint32_t size, std::vector<std::uint64_t>& orders) const {
        std::vector<Expr> out;
        std::uint64_t slot = 0;
        auto join = [&](const Expr& a, const Expr* b, OpCode op) {
            Expr e;
            e.tokens = a.tokens;
            if (b) e.tokens.insert(e.tokens.end(), b->tokens.begin(), b->tokens.end());
            e.tokens.push_back(Token::oper(op));
            e.n_vars = x.size();
            out.push_back(std::move(e));
            orders.push_back(slot);
        };
        for (const Plain& a : kept[size - 1]) {
            for (OpCode op : s.unary) {
                join(a.expr, nullptr, op);
                ++slot;
            }
        }
        for (std::uint32_t sa = 1; sa + 2 <= size; ++sa) {
            const std::uint32_t sb = size - 1 - sa;
            for (std::size_t ia = 0; ia < kept[sa].size(); ++ia) {
                for (std::size_t ib = 0; ib < kept[sb].size(); ++ib) {
                    for (OpCode op : s.binary) {
                        const bool one_order = op == OpCode::Add || op == OpCode::Mul;
                        if (!one_order || sa < sb || (sa == sb && ia <= ib))
                            join(kept[sa][ia].expr, &kept[sb][ib].expr, op);
                        ++slot;
                    }
                }
            }
        }
        return out;
    }

    void run() {
        kept.resize(1);
        for (std::uint32_t size = 1; size <= s.max_size; ++size) {
            std::vector<Expr> exprs;
            std::vector<std::uint64_t> orders;
            if (size == 1) {
                for (std::size_t i = 0; i < s.constants.size() + x.size(); ++i) {
                    Expr e;
                    e.tokens.push_back(i < s.constants.size() ? Token::constant(s.constants[i])
                                                              : Token::var(i - s.constants.size()));
                    e.n_vars = x.size();
                    exprs.push_back(e);
                    orders.push_back(i);
                }
            } else {
                exprs = candidates(size, orders);
            }
            SizeReport report;
            report.size = size;
            std::vector<Plain> distinct;
            std::set<std::pair<std::uint64_t, std::uint64_t>> local;
            std::uint64_t segment = 0;
            std::set<std::pair<std::uint64_t, std::uint64_t>> added;
            for (std::size_t i = 0; i < exprs.size(); ++i) {
                ++report.candidates;
                ProbeArray values;
                if (!probe(exprs[i], values)) {
                    ++report.no_value;
                    continue;
                }
                const Key128 key = probe_key(values.data(), s.dedup_drop_bits);
                const bool largest = size == s.max_size;
                if (largest && orders[i] / kSegmentSlots != segment) {
                    segment = orders[i] / kSegmentSlots;
                    local.clear();
                }
                if (seen_before(key, largest ? local : added)) {
                    ++report.duplicates;
                    continue;
                }
                (largest ? local : added).insert({key.lo, key.hi});
                distinct.push_back(Plain{exprs[i], 0.0, 1.0, 0.0, orders[i]});
            }
            seen.insert(added.begin(), added.end());
            report.distinct = distinct.size();
            std::vector<Plain> valid;
            std::vector<Plain> ranked;
            for (Plain& p : distinct) {
                score(p);
                if (p.valid) valid.push_back(p);
                if (p.fitted) ranked.push_back(p);
            }
            std::stable_sort(ranked.begin(), ranked.end(), [](const Plain& a, const Plain& b) {
                return a.sse < b.sse || (a.sse == b.sse && a.order < b.order);
            });
            ranked.resize(std::min<std::size_t>(ranked.size(), s.front_size));
            for (const Plain& p : ranked)
                front.push_back(FrontMember{size, p.expr, p.sse, 0.0, p.scale, p.offset, p.order});
            kept.push_back(std::move(valid));
            reports.push_back(report);
        }
    }
};

std::string describe(const EnumerationSettings& s, std::size_t vars, std::size_t rows) {
    std::ostringstream o;
    o << "vars " << vars << " rows " << rows << " max_size " << s.max_size << " unary "
      << s.unary.size() << " binary " << s.binary.size() << " constants " << s.constants.size()
      << " scaling " << s.scaling << " front " << s.front_size << " drop " << s.dedup_drop_bits;
    return o.str();
}

void expect_same_front(const std::vector<FrontMember>& got, const std::vector<FrontMember>& want,
                       const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].size, want[i].size) << what;
        EXPECT_EQ(got[i].expr.to_string(), want[i].expr.to_string()) << what << " member " << i;
        EXPECT_EQ(bits(got[i].sse), bits(want[i].sse)) << what << " member " << i;
        EXPECT_EQ(bits(got[i].scale), bits(want[i].scale)) << what;
        EXPECT_EQ(bits(got[i].offset), bits(want[i].offset)) << what;
        EXPECT_EQ(got[i].order, want[i].order) << what;
    }
}

struct Data {
    std::vector<Column> x;
    std::vector<double> y;
};

Data random_data(std::mt19937_64& rng, std::size_t vars, std::size_t rows) {
    std::uniform_real_distribution<double> value(-3.0, 4.0);
    Data d{std::vector<Column>(vars, Column(rows)), std::vector<double>(rows)};
    for (std::size_t i = 0; i < rows; ++i) {
        for (auto& c : d.x) c[i] = value(rng);
        d.y[i] = (i % 3 == 0) ? value(rng) : d.x[0][i] * d.x[0][i] + 0.5;
    }
    return d;
}

TEST(Enumerate, MatchesThePlainEnumeratorBitForBit) {
    std::mt19937_64 rng(2026);
    const std::vector<OpCode> unary_all{OpCode::Neg,  OpCode::Inv, OpCode::Exp, OpCode::Ln,
                                        OpCode::Sqrt, OpCode::Sin, OpCode::Cos, OpCode::Abs};
    const std::vector<OpCode> binary_all{OpCode::Add, OpCode::Sub, OpCode::Mul, OpCode::Div,
                                         OpCode::Vok};
    for (int trial = 0; trial < 24; ++trial) {
        const std::size_t vars = 1 + rng() % 2;
        const std::size_t rows = trial % 6 == 0 ? 130 : 2 + rng() % 20;
        Data d = random_data(rng, vars, rows);
        EnumerationSettings s;
        s.max_size = 3 + static_cast<std::uint32_t>(rng() % 2);
        s.unary.clear();
        s.binary.clear();
        for (OpCode op : unary_all) {
            if (rng() % 2) s.unary.push_back(op);
        }
        for (OpCode op : binary_all) {
            if (rng() % 3) s.binary.push_back(op);
        }
        s.constants =
            trial % 2 ? std::vector<double>{0.0, 1.0} : std::vector<double>{2.0, 1.0, 2.0};
        s.scaling = rng() % 2;
        s.front_size = 1 + static_cast<std::uint32_t>(rng() % 3);
        s.dedup_drop_bits = trial % 4 == 0 ? 20 : 0;
        PlainEnumerator plain{d.x, d.y, s};
        plain.run();
        for (std::size_t threads : {1, 2, 3}) {
            s.n_threads = threads;
            const EnumerationResult got = enumerate_formulas(d.x, d.y, s);
            const std::string what =
                describe(s, vars, rows) + " threads " + std::to_string(threads);
            EXPECT_EQ(got.stopped, StopReason::Complete) << what;
            expect_same_front(got.front, plain.front, what);
            ASSERT_EQ(got.sizes.size(), plain.reports.size()) << what;
            for (std::size_t i = 0; i < got.sizes.size(); ++i) {
                EXPECT_EQ(got.sizes[i].candidates, plain.reports[i].candidates) << what;
                EXPECT_EQ(got.sizes[i].no_value, plain.reports[i].no_value) << what;
                EXPECT_EQ(got.sizes[i].distinct, plain.reports[i].distinct)
                    << what << " size " << i + 1;
            }
        }
    }
}

// The operators taken on request, on data that passes asin's and acos's domain
// on some rows or probe points only: the same fronts and counts.
TEST(Enumerate, OperatorsOnRequestMatchThePlainEnumerator) {
    std::mt19937_64 rng(2323);
    const std::vector<OpCode> unary_all{OpCode::Square, OpCode::Cube, OpCode::Tanh, OpCode::Asin,
                                        OpCode::Acos,   OpCode::Atan, OpCode::Neg,  OpCode::Sqrt};
    const std::vector<OpCode> binary_all{OpCode::Add, OpCode::Sub, OpCode::Mul, OpCode::Div};
    std::uint64_t past_domain = 0;  // candidates without a value that asin or acos left
    for (int trial = 0; trial < 16; ++trial) {
        const std::size_t vars = 1 + rng() % 2;
        const std::size_t rows = trial % 4 == 0 ? 130 : 2 + rng() % 20;
        const double reach = trial % 3 == 0 ? 1.3 : 1.0;
        std::uniform_real_distribution<double> value(-reach, reach);
        Data d{std::vector<Column>(vars, Column(rows)), std::vector<double>(rows)};
        for (std::size_t i = 0; i < rows; ++i) {
            for (auto& c : d.x) c[i] = value(rng);
            d.y[i] = (i % 4 == 0) ? value(rng) : d.x[0][i] * d.x[0][i] + 0.25 * d.x[0][i];
        }
        EnumerationSettings s;
        s.max_size = 3 + static_cast<std::uint32_t>(rng() % 2);
        s.unary.clear();
        s.binary.clear();
        for (OpCode op : unary_all) {
            if (rng() % 2) s.unary.push_back(op);
        }
        for (OpCode op : binary_all) {
            if (rng() % 2) s.binary.push_back(op);
        }
        s.constants = trial % 2 ? std::vector<double>{1.0} : std::vector<double>{0.5, 1.0};
        s.scaling = rng() % 2;
        s.front_size = 1 + static_cast<std::uint32_t>(rng() % 3);
        s.dedup_drop_bits = trial % 4 == 1 ? 20 : 0;
        PlainEnumerator plain{d.x, d.y, s};
        plain.run();
        auto has = [](const std::vector<OpCode>& ops, OpCode op) {
            return std::find(ops.begin(), ops.end(), op) != ops.end();
        };
        if (!has(s.unary, OpCode::Sqrt) && !has(s.binary, OpCode::Div)) {
            for (const SizeReport& r : plain.reports) past_domain += r.no_value;
        }
        for (std::size_t threads : {1, 2}) {
            s.n_threads = threads;
            const EnumerationResult got = enumerate_formulas(d.x, d.y, s);
            const std::string what =
                describe(s, vars, rows) + " threads " + std::to_string(threads);
            EXPECT_EQ(got.stopped, StopReason::Complete) << what;
            expect_same_front(got.front, plain.front, what);
            ASSERT_EQ(got.sizes.size(), plain.reports.size()) << what;
            for (std::size_t i = 0; i < got.sizes.size(); ++i) {
                EXPECT_EQ(got.sizes[i].no_value, plain.reports[i].no_value) << what;
                EXPECT_EQ(got.sizes[i].distinct, plain.reports[i].distinct) << what;
            }
        }
    }
    EXPECT_GT(past_domain, 0u);
}

// Weighted least squares against the reference, where pruning by unweighted
// sums would go wrong: the rows of weight 0 hold large noise (and the
// screening rows some of them), the weights span e^-4 .. e^4. Long data, so
// the screen, the stand-ins and the estimates all take part.
TEST(Enumerate, WeightedMatchesThePlainEnumeratorBitForBit) {
    std::mt19937_64 rng(4242);
    std::uniform_real_distribution<double> spread(-4.0, 4.0);
    std::normal_distribution<double> noise(0.0, 300.0);
    const std::vector<OpCode> unary_all{OpCode::Neg,  OpCode::Inv, OpCode::Exp, OpCode::Ln,
                                        OpCode::Sqrt, OpCode::Sin, OpCode::Cos};
    const std::vector<OpCode> binary_all{OpCode::Add, OpCode::Sub, OpCode::Mul, OpCode::Div,
                                         OpCode::Vok};
    for (int trial = 0; trial < 16; ++trial) {
        const std::size_t vars = 1 + rng() % 2;
        const std::size_t rows = trial % 5 == 4 ? 3 + rng() % 20 : 130 + rng() % 140;
        Data d = random_data(rng, vars, rows);
        EnumerationSettings s;
        s.weights.resize(rows);
        for (std::size_t i = 0; i < rows; ++i) {
            const bool zero = rng() % 4 == 0;
            s.weights[i] = zero ? 0.0 : std::exp(spread(rng));
            if (zero) d.y[i] += noise(rng);
        }
        s.weights[rng() % rows] = 1.0;  // not all zero
        s.max_size = trial < 8 ? 5 : (trial < 12 ? 4 : 3);
        s.unary.clear();
        s.binary.clear();
        for (OpCode op : unary_all) {
            if (rng() % 3) s.unary.push_back(op);
        }
        for (OpCode op : binary_all) {
            if (rng() % 3) s.binary.push_back(op);
        }
        s.scaling = trial % 3 != 1;
        s.front_size = 1 + static_cast<std::uint32_t>(rng() % 3);
        PlainEnumerator plain{d.x, d.y, s};
        plain.run();
        double total = 0.0;
        for (double w : s.weights) total += w;
        for (std::size_t threads : {1, 2}) {
            s.n_threads = threads;
            const EnumerationResult got = enumerate_formulas(d.x, d.y, s);
            const std::string what =
                describe(s, vars, rows) + " threads " + std::to_string(threads);
            expect_same_front(got.front, plain.front, what);
            for (const FrontMember& m : got.front)
                EXPECT_EQ(bits(m.rmse), bits(std::sqrt(m.sse / total))) << what;
        }
    }
}

// Enough slots at the largest size for several segments, so its per-segment
// rule and the split into slices are both exercised.
struct Wide {
    Data d;
    EnumerationSettings s;
    Wide() {
        std::mt19937_64 rng(7);
        d = random_data(rng, 2, 40);
        s.max_size = 6;
        s.front_size = 3;
    }
};

TEST(Enumerate, LargestSizeDedupsPerSegmentLikeThePlainEnumerator) {
    Wide w;
    PlainEnumerator plain{w.d.x, w.d.y, w.s};
    plain.run();
    w.s.n_threads = 2;
    const EnumerationResult got = enumerate_formulas(w.d.x, w.d.y, w.s);
    expect_same_front(got.front, plain.front, "wide");
    EXPECT_EQ(got.sizes.back().distinct, plain.reports.back().distinct);
}

// Enough segments at the largest size for later ones to be bounded by the
// fronts of earlier ones: what is ruled out, and so every count, is the same
// with any worker count.
TEST(Enumerate, LargestSizeCountsDoNotDependOnTheWorkerCount) {
    std::mt19937_64 rng(5);
    Data d = random_data(rng, 2, 24);
    EnumerationSettings s;
    s.max_size = 8;
    s.n_threads = 1;
    const EnumerationResult one = enumerate_formulas(d.x, d.y, s);
    ASSERT_GT(one.sizes.back().candidates, std::uint64_t{64} * kSegmentSlots);
    ASSERT_GT(one.sizes.back().pruned, 0u);
    for (std::size_t threads : {2, 3}) {
        s.n_threads = threads;
        const EnumerationResult got = enumerate_formulas(d.x, d.y, s);
        expect_same_front(got.front, one.front, "threads " + std::to_string(threads));
        const SizeReport& a = got.sizes.back();
        const SizeReport& b = one.sizes.back();
        EXPECT_EQ(std::tie(a.distinct, a.scored, a.valid, a.pruned),
                  std::tie(b.distinct, b.scored, b.valid, b.pruned))
            << threads;
    }
}

TEST(Enumerate, SlicesMergeToTheWholeFront) {
    Wide w;
    const EnumerationResult whole = enumerate_formulas(w.d.x, w.d.y, w.s);
    SplitPlan plan;
    const EnumerationResult below = enumerate_below_largest(w.d.x, w.d.y, w.s, plan);
    ASSERT_GT(plan.slots, plan.segment);
    std::vector<FrontMember> merged = below.front;
    std::vector<FrontMember> last;
    for (std::uint64_t begin = 0; begin < plan.slots; begin += plan.segment) {
        const EnumerationResult part =
            enumerate_slice(w.d.x, w.d.y, w.s, plan.state, begin, begin + plan.segment);
        last.insert(last.end(), part.front.begin(), part.front.end());
    }
    std::stable_sort(last.begin(), last.end(), ranks_before);
    last.resize(std::min<std::size_t>(last.size(), w.s.front_size));
    merged.insert(merged.end(), last.begin(), last.end());
    expect_same_front(merged, whole.front, "sliced");

    std::vector<std::uint8_t> bad = plan.state;
    bad[bad.size() / 2] ^= 0x5a;
    EXPECT_THROW((void)enumerate_slice(w.d.x, w.d.y, w.s, bad, 0, plan.segment),
                 std::invalid_argument);
    EXPECT_THROW((void)enumerate_slice(w.d.x, w.d.y, w.s, std::span(plan.state).first(20), 0, 1),
                 std::invalid_argument);
    w.d.y[0] += 1.0;
    EXPECT_THROW((void)enumerate_slice(w.d.x, w.d.y, w.s, plan.state, 0, plan.segment),
                 std::invalid_argument);
}

TEST(Enumerate, IndependentProbesTellProductsOfFarVariablesApart) {
    // With probes proportional across variables x0 * x3 shares its values
    // with other products; here it is the exact answer of size 3.
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> value(1.0, 5.0);
    std::vector<Column> x(4, Column(60));
    std::vector<double> y(60);
    for (std::size_t i = 0; i < 60; ++i) {
        for (auto& c : x) c[i] = value(rng);
        y[i] = x[0][i] * x[3][i];
    }
    EnumerationSettings s;
    s.max_size = 3;
    s.scaling = false;
    const EnumerationResult r = enumerate_formulas(x, y, s);
    ASSERT_EQ(r.front.back().size, 3u);
    EXPECT_EQ(r.front.back().expr.to_string(), "(x * {)");
    EXPECT_EQ(r.front.back().sse, 0.0);
    const auto beam = search(x, y, 4, SearchConfig{});
    ASSERT_TRUE(beam.has_value());
    EXPECT_GT(beam->complexity, 3u);
}

TEST(Enumerate, BudgetsStopWithTheFrontSoFar) {
    Wide w;
    w.s.max_evaluations = 5000;
    w.s.n_threads = 1;
    const EnumerationResult one = enumerate_formulas(w.d.x, w.d.y, w.s);
    w.s.n_threads = 3;
    const EnumerationResult three = enumerate_formulas(w.d.x, w.d.y, w.s);
    EXPECT_EQ(one.stopped, StopReason::Evaluations);
    EXPECT_EQ(one.evaluations, three.evaluations);
    expect_same_front(three.front, one.front, "evaluation budget");

    EnumerationControl control;
    control.keep_going = [&](const EnumerationProgress& p) { return p.size < 4; };
    control.poll_period = std::chrono::milliseconds(1);
    w.s.max_evaluations = 0;
    w.s.max_size = 9;
    const EnumerationResult stopped = enumerate_formulas(w.d.x, w.d.y, w.s, &control);
    EXPECT_EQ(stopped.stopped, StopReason::Interrupted);
    ASSERT_FALSE(stopped.front.empty());
    EXPECT_EQ(stopped.front.back().size, 3u);

    // Far too little: the last size that fits is scored without being kept,
    // then a beam, then a stop.
    w.s.memory_limit = 1 << 20;
    const EnumerationResult small = enumerate_formulas(w.d.x, w.d.y, w.s);
    EXPECT_FALSE(small.front.empty());
    EXPECT_TRUE(small.stopped == StopReason::Memory || !small.sizes.back().complete);
    EXPECT_LT(small.sizes.size(), w.s.max_size);
}

TEST(Enumerate, ASizeTooLargeToKeepIsScoredAsTheLargest) {
    Wide w;
    w.s.memory_limit = 96 << 20;  // room to keep sizes up to 6, not 7
    w.s.max_size = 7;
    const EnumerationResult last = enumerate_formulas(w.d.x, w.d.y, w.s);
    ASSERT_EQ(last.sizes.size(), 7u);
    w.s.max_size = 9;
    const EnumerationResult further = enumerate_formulas(w.d.x, w.d.y, w.s);
    EXPECT_EQ(further.stopped, StopReason::Complete);
    ASSERT_EQ(further.sizes.size(), 9u);
    EXPECT_FALSE(further.sizes[7].complete);  // a beam over sizes 1 to 6
    EXPECT_GT(further.sizes[8].distinct, 0u);
    for (std::size_t i = 0; i < 7; ++i) {
        const SizeReport& a = further.sizes[i];
        const SizeReport& b = last.sizes[i];
        EXPECT_TRUE(a.complete) << a.size;
        EXPECT_EQ(std::tie(a.candidates, a.distinct, a.scored, a.valid),
                  std::tie(b.candidates, b.distinct, b.scored, b.valid))
            << a.size;
    }
    std::vector<FrontMember> up_to_seven;
    for (const FrontMember& m : further.front)
        if (m.size <= 7) up_to_seven.push_back(m);
    expect_same_front(up_to_seven, last.front, "sizes up to 7");
}

TEST(Enumerate, RefusesBadInputBeforeAnyWork) {
    const std::vector<Column> x{{1.0, 2.0, 3.0}};
    const std::vector<double> y{1.0, 2.0, 3.0};
    auto refuses = [&](auto change) {
        std::vector<Column> xx = x;
        std::vector<double> yy = y;
        EnumerationSettings s;
        change(xx, yy, s);
        EXPECT_THROW((void)enumerate_formulas(xx, yy, s), std::invalid_argument);
    };
    refuses([](auto&, auto& y, auto&) { y.resize(1); });
    refuses([](auto& x, auto&, auto&) { x[0].pop_back(); });
    refuses([](auto& x, auto&, auto&) { x.clear(); });
    refuses([](auto& x, auto&, auto&) { x[0][1] = std::nan(""); });
    refuses([](auto&, auto& y, auto&) { y[2] = -test::kInf; });
    refuses([](auto&, auto&, auto& s) { s.max_size = 0; });
    refuses([](auto&, auto&, auto& s) { s.max_size = 1000; });
    refuses([](auto&, auto&, auto& s) { s.unary.push_back(OpCode::Add); });
    refuses([](auto&, auto&, auto& s) { s.binary.push_back(OpCode::Add); });
    refuses([](auto&, auto&, auto& s) { s.time_limit = -1.0; });
    refuses([](auto&, auto&, auto& s) { s.front_size = 0; });
}

}  // namespace
}  // namespace vok::enumeration
