// Operator lists and the caller's steering of a search.
#include "beam/search_steering.hpp"

#include "beam/fingerprint.hpp"

namespace vok::beam {
namespace {

// Candidates generated between two looks at the clock.
constexpr std::uint64_t kGenerationPollStride = 1024;

}  // namespace

OperatorLists operator_lists(const SearchConfig& config) {
    OperatorLists ops;
    ops.unary = config.use_trig
                    ? std::vector{OpCode::Neg,  OpCode::Inv, OpCode::Exp, OpCode::Ln,
                                  OpCode::Sqrt, OpCode::Sin, OpCode::Cos}
                    : std::vector{OpCode::Neg, OpCode::Inv, OpCode::Exp, OpCode::Ln, OpCode::Sqrt};
    ops.binary = config.use_vok
                     ? std::vector{OpCode::Add, OpCode::Sub, OpCode::Mul, OpCode::Div, OpCode::Vok}
                     : std::vector{OpCode::Add, OpCode::Sub, OpCode::Mul, OpCode::Div};
    return ops;
}

void start_workers() noexcept {
    (void)SeenSet::shard_count();
    try {
        (void)ThreadPool::global();
    } catch (...) {
        // Left to the first search, which raises the same refusal.
    }
}

SearchSteering::SearchSteering(SearchControl* control)
    : control_(control),
      workers_(control != nullptr && control->pool != nullptr ? *control->pool
                                                              : ThreadPool::global()),
      last_poll_(std::chrono::steady_clock::now()) {
    if (control != nullptr && control->keep_going) {
        batch_control_.cancel = &cancel_;
        // Forwarded, not copied: a stateful callback must see every poll.
        batch_control_.wait_hook = [control] { return control->keep_going(); };
        batch_control_.poll_period = control->poll_period;
    }
}

void SearchSteering::poll() {
    if (control_ == nullptr || !control_->keep_going) return;
    last_poll_ = std::chrono::steady_clock::now();
    if (!control_->keep_going()) throw SearchCancelled{};
}

void SearchSteering::generation_tick() {
    if (control_ == nullptr || !control_->keep_going) return;
    if (stats().generated % kGenerationPollStride != 0) return;
    if (std::chrono::steady_clock::now() - last_poll_ >= control_->poll_period) poll();
}

}  // namespace vok::beam
