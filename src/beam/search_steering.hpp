// What both search drivers share: the operator lists of a configuration, and
// the caller's steering of a running search (polling, cancelling, counters).
#pragma once

#include <atomic>
#include <chrono>
#include <vector>

#include "beam/search.hpp"

namespace vok::beam {

struct OperatorLists {
    std::vector<OpCode> unary;   // Neg, Inv, Exp, Ln, Sqrt, then Sin, Cos with use_trig
    std::vector<OpCode> binary;  // Add, Sub, Mul, Div, then Vok with use_vok
};

[[nodiscard]] OperatorLists operator_lists(const SearchConfig& config);

class SearchSteering {
public:
    explicit SearchSteering(SearchControl* control);
    SearchSteering(const SearchSteering&) = delete;
    SearchSteering& operator=(const SearchSteering&) = delete;

    // Asks keep_going now; SearchCancelled when it says stop.
    void poll();
    // During generation: asks at most every poll_period, checking the clock
    // once per stride of generated candidates.
    void generation_tick();

    [[nodiscard]] ThreadPool& workers() const noexcept { return workers_; }
    [[nodiscard]] const BatchControl* batch_control() const noexcept {
        return batch_control_.wait_hook ? &batch_control_ : nullptr;
    }
    [[nodiscard]] SearchStats& stats() noexcept {
        return control_ != nullptr ? control_->stats : local_stats_;
    }

private:
    SearchControl* control_;
    ThreadPool& workers_;
    std::atomic<bool> cancel_{false};
    BatchControl batch_control_;
    SearchStats local_stats_;
    std::chrono::steady_clock::time_point last_poll_;
};

}  // namespace vok::beam
