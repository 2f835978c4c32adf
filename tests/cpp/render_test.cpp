// Formula text: leaf forms, operator templates, malformed programs, rewrites.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/expr.hpp"
#include "core/render.hpp"

namespace vok {
namespace {

using T = Token;
constexpr double kPi = std::bit_cast<double>(std::uint64_t{0x400921FB54442D18});
constexpr double kE = std::bit_cast<double>(std::uint64_t{0x4005BF0A8B145769});

std::string render(std::vector<Token> tokens) { return Expr{std::move(tokens), 0}.to_string(); }

struct LeafCase {
    Token token;
    const char* text;
};

class Leaf : public testing::TestWithParam<LeafCase> {};
TEST_P(Leaf, Text) { EXPECT_EQ(render({GetParam().token}), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(
    Render, Leaf,
    testing::Values(
        LeafCase{T::constant(2.5), "2.5000"}, LeafCase{T::constant(-1.0), "-1.0000"},
        LeafCase{T::constant(-0.0), "-0.0000"}, LeafCase{T::constant(-0.00001), "-0.0000"},
        LeafCase{T::constant(0.03125), "0.0312"}, LeafCase{T::constant(0.09375), "0.0938"},
        LeafCase{T::constant(0.00005), "0.0001"},
        LeafCase{T::constant(1e20), "100000000000000000000.0000"},
        LeafCase{T::constant(std::numeric_limits<double>::quiet_NaN()), "NaN"},
        LeafCase{T::constant(-std::numeric_limits<double>::infinity()), "-inf"},
        LeafCase{T::constant(kPi), "\u03C0"}, LeafCase{T::constant(kE), "e"},
        LeafCase{T::constant(std::nextafter(kPi, 4.0)), "3.1416"},
        LeafCase{T::constant(std::nextafter(kPi, 0.0)), "3.1416"},
        LeafCase{T::constant(std::nextafter(kE, 0.0)), "2.7183"},
        LeafCase{T::param(0, 1.0), "c0(1.0000)"}, LeafCase{T::param(17, -0.5), "c17(-0.5000)"},
        LeafCase{T::param(UINT64_MAX, kPi), "c18446744073709551615(3.1416)"},
        LeafCase{T::var(0), "x"}, LeafCase{T::var(1), "y"}, LeafCase{T::var(2), "z"},
        LeafCase{T::var(3), "{"}, LeafCase{T::var(6), "~"}, LeafCase{T::var(7), "\x7F"},
        LeafCase{T::var(8), "\u0080"}, LeafCase{T::var(135), "\u00FF"}, LeafCase{T::var(256), "x"},
        LeafCase{T::var(UINT64_MAX), "w"}));

TEST(Render, NulVariableIsOneCharacter) { EXPECT_EQ(render({T::var(136)}), std::string(1, '\0')); }

struct ProgramCase {
    std::vector<Token> tokens;
    const char* text;
};

class Program : public testing::TestWithParam<ProgramCase> {};
TEST_P(Program, Text) { EXPECT_EQ(render(GetParam().tokens), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(
    Render, Program,
    testing::Values(
        ProgramCase{
            {T::var(0), T::var(0), T::oper(OpCode::Mul), T::constant(1), T::oper(OpCode::Add)},
            "((x * x) + 1.0000)"},
        ProgramCase{{T::var(0), T::oper(OpCode::Exp), T::var(1), T::oper(OpCode::Vok)},
                    "vok(exp(x), y)"},
        ProgramCase{{T::var(0), T::oper(OpCode::Neg), T::oper(OpCode::Inv), T::oper(OpCode::Ln),
                     T::oper(OpCode::Sqrt), T::oper(OpCode::Sin), T::oper(OpCode::Cos),
                     T::oper(OpCode::Abs)},
                    "abs(cos(sin(sqrt(ln((1/(-x)))))))"},
        ProgramCase{{T::var(0), T::var(1), T::oper(OpCode::Sub), T::var(2), T::oper(OpCode::Div)},
                    "((x - y) / z)"},
        // Malformed: missing operands are empty, lower fragments are dropped.
        ProgramCase{{}, "?"}, ProgramCase{{T::constant(1), T::oper(OpCode::Add)}, "( + 1.0000)"},
        ProgramCase{{T::oper(OpCode::Vok)}, "vok(, )"}, ProgramCase{{T::oper(OpCode::Neg)}, "(-)"},
        ProgramCase{{T::var(0), T::var(1)}, "y"},
        ProgramCase{{T::var(0), T::var(1), T::var(2), T::oper(OpCode::Mul)}, "(y * z)"}));

struct RewriteCase {
    const char* formula;
    const char* latex;
    const char* python;  // without the "import math" prefix
};

class Rewrite : public testing::TestWithParam<RewriteCase> {};
TEST_P(Rewrite, LatexAndPython) {
    const auto& c = GetParam();
    EXPECT_EQ(to_latex(c.formula), c.latex);
    EXPECT_EQ(to_python(c.formula), std::string("import math\nf = lambda x: ") + c.python);
}
INSTANTIATE_TEST_SUITE_P(
    Render, Rewrite,
    testing::Values(RewriteCase{"sqrt((x + sqrt(y)))", "\\sqrt{(x + \\sqrt{y})}",
                                "math.sqrt((x + math.sqrt(y)))"},
                    RewriteCase{"sqrt(sqrt(c0(1.0000)))", "\\sqrt{\\sqrt{c0(1.0000)}}",
                                "math.sqrt(math.sqrt(c0(1.0000)))"},
                    RewriteCase{"(sqrt(x) * sqrt(y))", "(\\sqrt{x} * \\sqrt{y})",
                                "(math.sqrt(x) * math.sqrt(y))"},
                    RewriteCase{"sqrt(x", "\\sqrt{x", "math.sqrt(x"},
                    RewriteCase{"ln(x)", "\\ln(x)", "math.log(x)"},
                    RewriteCase{"exp(x)", "\\exp(x)", "math.exp(x)"},
                    RewriteCase{"sin(cos(x))", "\\sin(\\cos(x))", "math.sin(math.cos(x))"},
                    RewriteCase{"vok(x, y)", "\\mathrm{vok}(x, y)", "vok(x, y)"},
                    RewriteCase{"(\u03C0 * e)", "(\u03C0 * e)", "(\u03C0 * e)"},
                    RewriteCase{"pi + pipi", "\\pi + \\pi\\pi", "pi + pipi"},
                    RewriteCase{"abs((-(1/x)))", "abs((-(1/x)))", "abs((-(1/x)))"},
                    RewriteCase{"", "", ""}));

}  // namespace
}  // namespace vok
