// The settings a caller names, in the order callers list them, each tied to
// its field of EnumerationSettings: front ends take their parameter lists,
// defaults (read from EnumerationSettings{}) and docs from here.
#pragma once

#include <array>
#include <cstdint>
#include <variant>
#include <vector>

#include "enumeration/enumerate.hpp"

namespace vok::enumeration {

template <class T>
using SettingMember = T EnumerationSettings::*;

// Where a setting goes. std::monostate marks the one that is not a field: the
// caller's progress report, which reaches the engine as EnumerationControl.
using SettingPlace =
    std::variant<std::monostate, SettingMember<std::uint32_t>, SettingMember<std::uint64_t>,
                 SettingMember<double>, SettingMember<bool>, SettingMember<std::vector<OpCode>>,
                 SettingMember<std::vector<double>>>;

struct SettingField {
    const char* name;
    SettingPlace place;
    const char* doc;
    int arity = 0;                  // operator lists: the arity of their operators
    std::uint64_t at_most = 0;      // counts above this are refused (0: none); those wider
                                    // than their field are clamped to it
    bool none_reads_empty = false;  // lists: None stands for the empty list
};

inline constexpr std::array kSettingFields{
    SettingField{"max_size", &EnumerationSettings::max_size,
                 "largest expression enumerated, in tokens"},
    SettingField{"unary", &EnumerationSettings::unary, "unary operators, in generation order", 1},
    SettingField{"binary", &EnumerationSettings::binary, "binary operators, in generation order",
                 2},
    SettingField{"constants", &EnumerationSettings::constants,
                 "constant leaves, in generation order"},
    SettingField{"scaling", &EnumerationSettings::scaling,
                 "fit y ~ scale * f + offset instead of f alone"},
    SettingField{"front_size", &EnumerationSettings::front_size, "best candidates kept per size"},
    SettingField{"beam_width", &EnumerationSettings::beam_width,
                 "operands kept per size once enumeration is incomplete"},
    SettingField{"max_evaluations", &EnumerationSettings::max_evaluations,
                 "candidates scored before stopping; 0: no limit"},
    SettingField{"time_limit", &EnumerationSettings::time_limit,
                 "seconds before stopping; 0: no limit"},
    SettingField{"memory_limit", &EnumerationSettings::memory_limit,
                 "bytes the search may hold; 0: a share of memory"},
    SettingField{"target_rmse", &EnumerationSettings::target_rmse,
                 "stop after a size whose best reaches this error"},
    SettingField{.name = "n_threads",
                 .place = &EnumerationSettings::n_threads,
                 .doc = "worker threads; 0: the configured pool size",
                 .at_most = 1024},
    SettingField{"progress", std::monostate{},
                 "called with a progress dict about ten times a second"},
    SettingField{"dedup_drop_bits", &EnumerationSettings::dedup_drop_bits,
                 "low bits ignored when comparing probe values"},
    SettingField{"max_rows", &EnumerationSettings::max_rows,
                 "rows searched on (evenly spread); 0: all"},
    SettingField{.name = "weights",
                 .place = &EnumerationSettings::weights,
                 .doc = "one weight per row for its squared error; empty or None: every row once",
                 .none_reads_empty = true},
};

}  // namespace vok::enumeration
