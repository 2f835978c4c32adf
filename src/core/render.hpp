// The written forms of a formula: infix text (Expr::to_string, declared in
// expr.hpp) and the LaTeX and Python rewritings of that text.
#pragma once

#include <string>
#include <string_view>

namespace vok {

// Substring rewriting of a rendered formula; they never see the expression.
[[nodiscard]] std::string to_latex(std::string_view formula);
[[nodiscard]] std::string to_python(std::string_view formula);

}  // namespace vok
