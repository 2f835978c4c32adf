// A split search put back together: the sizes below the largest
// (enumerate_below_largest) and the largest size's slices (enumerate_slice).
#pragma once

#include <cstdint>
#include <span>

#include "enumeration/enumerate.hpp"

namespace vok::enumeration {

// local's sizes, then one report of `size`: the slices' counts summed,
// complete when `complete` and every slice's report is, taking `seconds`.
// Its front is the first front_size of every slice's front ranked by
// (sse, order), ties kept in slice order: exactly enumerate_formulas' front
// once every slot has run. Stopped is Complete when `complete`, else
// Interrupted; evaluations and elapsed add the slices' scored and seconds.
// Each slice's first size report is the one read (enumerate_slice gives no
// other). Throws std::invalid_argument without a slice or a slice's report.
[[nodiscard]] EnumerationResult merge_slices(EnumerationResult local, std::uint32_t size,
                                             std::span<const EnumerationResult> slices,
                                             std::uint32_t front_size, double seconds,
                                             bool complete);

}  // namespace vok::enumeration
