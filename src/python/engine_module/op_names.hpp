// The Python names of the engine's operators.
#pragma once

#include <optional>
#include <string_view>

#include "core/token.hpp"

namespace engine {

[[nodiscard]] const char* op_name(vok::OpCode op) noexcept;
[[nodiscard]] std::optional<vok::OpCode> op_from_name(std::string_view name) noexcept;

}  // namespace engine
