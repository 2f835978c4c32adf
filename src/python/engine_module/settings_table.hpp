// The search settings as Python parameters: names, reading, defaults and the
// text of signatures, all from the engine's one list (settings_fields.hpp).
#pragma once

#include <Python.h>

#include <array>
#include <optional>
#include <span>
#include <string>

#include "enumeration/settings_fields.hpp"
#include "python/ref.hpp"

namespace engine {

inline constexpr std::size_t kSettingCount = vok::enumeration::kSettingFields.size();

inline constexpr auto kSettingNames = [] {
    std::array<const char*, kSettingCount> names{};
    for (std::size_t i = 0; i < kSettingCount; ++i)
        names[i] = vok::enumeration::kSettingFields[i].name;
    return names;
}();

// Reads the settings' slots, one per field in the table's order (nullptr: the
// default); the progress callable, if given, goes to *progress. False with an
// error set.
bool read_settings(std::span<PyObject* const> slots, vok::enumeration::EnumerationSettings& out,
                   PyObject** progress);

// {name: default} for every setting, as EnumerationSettings{} holds them.
py::Ref settings_defaults();

// "max_size=8, unary=('neg', ...), ..." from defaults' reprs, for a text
// signature; nothing with an error set.
std::optional<std::string> settings_signature(PyObject* defaults);

// One line per setting, "  name: doc", for a docstring.
std::string settings_doc();

}  // namespace engine
