// Rendering of postfix programs as fully parenthesised infix text, and the
// fixed rewrite tables that turn that text into LaTeX or Python.
#include "core/render.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <vector>

#include "core/expr.hpp"
#include "core/number_text.hpp"

namespace vok {
namespace {

constexpr std::uint64_t kPiBits = 0x400921FB54442D18;
constexpr std::uint64_t kEBits = 0x4005BF0A8B145769;
constexpr int kConstDecimals = 4;

void append_unsigned(std::string& out, std::uint64_t n) {
    std::array<char, 24> buf;
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), n);
    out.append(buf.data(), r.ptr);
}

void append_leaf(std::string& out, const Token& t) {
    switch (t.kind) {
        case TokenKind::Const: {
            const auto bits = std::bit_cast<std::uint64_t>(t.value);
            if (bits == kPiBits) {
                out += "\u03C0";
            } else if (bits == kEBits) {
                out += 'e';
            } else {
                append_fixed_text(out, t.value, kConstDecimals);
            }
            break;
        }
        case TokenKind::Param:
            out += 'c';
            append_unsigned(out, t.index);
            out += '(';
            append_fixed_text(out, t.value, kConstDecimals);
            out += ')';
            break;
        case TokenKind::Var: {
            // Unsigned wrap-around keeps the residue right: 256 divides 2^64.
            const auto code = static_cast<unsigned>((120 + t.index) % 256);
            if (code < 0x80) {
                out += static_cast<char>(code);
            } else {
                out += static_cast<char>(0xC0 | (code >> 6));
                out += static_cast<char>(0x80 | (code & 0x3F));
            }
            break;
        }
        case TokenKind::Op: break;
    }
}

struct Template {
    std::string_view open, middle, close;
};

constexpr std::array<Template, kOpCodeCount> kTemplates{{
    {"(-", "", ")"},      // Neg
    {"(1/", "", ")"},     // Inv
    {"exp(", "", ")"},    // Exp
    {"ln(", "", ")"},     // Ln
    {"sqrt(", "", ")"},   // Sqrt
    {"sin(", "", ")"},    // Sin
    {"cos(", "", ")"},    // Cos
    {"abs(", "", ")"},    // Abs
    {"vok(", ", ", ")"},  // Vok
    {"(", " + ", ")"},    // Add
    {"(", " - ", ")"},    // Sub
    {"(", " * ", ")"},    // Mul
    {"(", " / ", ")"},    // Div
    // Never in find_formula's programs, whose rewrite tables below do not know them.
    {"square(", "", ")"},  // Square
    {"cube(", "", ")"},    // Cube
    {"tanh(", "", ")"},    // Tanh
    {"asin(", "", ")"},    // Asin
    {"acos(", "", ")"},    // Acos
    {"atan(", "", ")"},    // Atan
}};

// Takes the top fragment, or the empty text when the stack is exhausted.
std::string pop_or_empty(std::vector<std::string>& stack) {
    if (stack.empty()) return {};
    std::string s = std::move(stack.back());
    stack.pop_back();
    return s;
}

// One left-to-right pass replacing every non-overlapping occurrence.
std::string replace_all(std::string_view text, std::string_view find, std::string_view with) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    std::size_t pos = 0;
    for (auto hit = text.find(find); hit != std::string_view::npos; hit = text.find(find, pos)) {
        out.append(text, pos, hit - pos);
        out += with;
        pos = hit + find.size();
    }
    out.append(text, pos);
    return out;
}

// "sqrt(" becomes "\sqrt{" and the parenthesis matching its "(" becomes "}".
std::string latex_sqrt(std::string_view text) {
    constexpr std::string_view kFind = "sqrt(";
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    std::vector<bool> opened_by_sqrt;
    for (std::size_t i = 0; i < text.size();) {
        if (text.substr(i, kFind.size()) == kFind) {
            out += "\\sqrt{";
            opened_by_sqrt.push_back(true);
            i += kFind.size();
            continue;
        }
        const char c = text[i++];
        if (c == '(') {
            opened_by_sqrt.push_back(false);
        } else if (c == ')' && !opened_by_sqrt.empty()) {
            const bool braces = opened_by_sqrt.back();
            opened_by_sqrt.pop_back();
            if (braces) {
                out += '}';
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace

std::string Expr::to_string() const {
    std::vector<std::string> stack;
    stack.reserve(tokens.size());
    for (const Token& t : tokens) {
        if (t.kind != TokenKind::Op) {
            std::string leaf;
            append_leaf(leaf, t);
            stack.push_back(std::move(leaf));
            continue;
        }
        const Template& tp = kTemplates[static_cast<std::size_t>(t.op)];
        std::string b = arity(t.op) == 2 ? pop_or_empty(stack) : std::string();
        // The result grows in the first operand's buffer: one allocation at most.
        std::string a = pop_or_empty(stack);
        a.reserve(tp.open.size() + a.size() + tp.middle.size() + b.size() + tp.close.size());
        a.insert(0, tp.open);
        a += tp.middle;
        a += b;
        a += tp.close;
        stack.push_back(std::move(a));
    }
    if (stack.empty()) return "?";
    return std::move(stack.back());
}

std::string to_latex(std::string_view formula) {
    std::string s = replace_all(formula, "exp(", "\\exp(");
    s = replace_all(s, "ln(", "\\ln(");
    s = latex_sqrt(s);
    s = replace_all(s, "sin(", "\\sin(");
    s = replace_all(s, "cos(", "\\cos(");
    s = replace_all(s, "vok(", "\\mathrm{vok}(");
    return replace_all(s, "pi", "\\pi");
}

std::string to_python(std::string_view formula) {
    std::string s = replace_all(formula, "exp(", "math.exp(");
    s = replace_all(s, "ln(", "math.log(");
    s = replace_all(s, "sqrt(", "math.sqrt(");
    s = replace_all(s, "sin(", "math.sin(");
    s = replace_all(s, "cos(", "math.cos(");
    return "import math\nf = lambda x: " + s;
}

}  // namespace vok
