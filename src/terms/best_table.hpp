// The best few combinations of each (term count, summed size), kept in a total
// order so that what is kept does not depend on the order combinations arrive in.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "terms/term_search.hpp"

namespace vok::terms {

// By sse, then by term indices: no two distinct combinations tie.
[[nodiscard]] inline bool ranks_before(const Combination& a, const Combination& b) noexcept {
    if (a.sse != b.sse) return a.sse < b.sse;
    return std::lexicographical_compare(a.terms.begin(), a.terms.begin() + a.count, b.terms.begin(),
                                        b.terms.begin() + b.count);
}

// The best `keep` combinations of each (count, size).
class BestTable {
public:
    BestTable(std::uint32_t max_terms, std::uint32_t max_size, std::uint32_t keep)
        : sizes_(max_size + 1),
          keep_(keep),
          slots_((max_terms - 1) * sizes_ * keep),
          filled_((max_terms - 1) * sizes_, 0) {}

    void offer(const Combination& c) {
        const std::size_t bucket = (c.count - 2) * sizes_ + c.size;
        Combination* first = slots_.data() + bucket * keep_;
        std::uint32_t& n = filled_[bucket];
        if (n == keep_ && !ranks_before(c, first[n - 1])) return;
        std::uint32_t at = n < keep_ ? n++ : n - 1;
        while (at > 0 && ranks_before(c, first[at - 1])) {
            first[at] = first[at - 1];
            --at;
        }
        first[at] = c;
    }

    void merge_into(BestTable& other) const {
        for (std::size_t b = 0; b < filled_.size(); ++b)
            for (std::uint32_t i = 0; i < filled_[b]; ++i) other.offer(slots_[b * keep_ + i]);
    }

    [[nodiscard]] std::vector<Combination> ranked() const {
        std::vector<Combination> out;
        for (std::size_t b = 0; b < filled_.size(); ++b)
            out.insert(out.end(), slots_.begin() + static_cast<std::ptrdiff_t>(b * keep_),
                       slots_.begin() + static_cast<std::ptrdiff_t>(b * keep_ + filled_[b]));
        return out;  // buckets run by (count, size), each by rank
    }

private:
    std::size_t sizes_;
    std::uint32_t keep_;
    std::vector<Combination> slots_;
    std::vector<std::uint32_t> filled_;
};

}  // namespace vok::terms
