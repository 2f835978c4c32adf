// Operator names, indexed by op code.
#include "python/engine_module/op_names.hpp"

#include <array>

namespace engine {
namespace {

constexpr std::array<const char*, vok::kOpCodeCount> kNames{
    "neg", "inv", "exp", "ln", "sqrt", "sin", "cos", "abs", "vok", "add", "sub", "mul", "div"};

}  // namespace

const char* op_name(vok::OpCode op) noexcept { return kNames[static_cast<std::size_t>(op)]; }

std::optional<vok::OpCode> op_from_name(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (name == kNames[i]) return static_cast<vok::OpCode>(i);
    }
    return std::nullopt;
}

}  // namespace engine
