// A short first-in first-out queue between producing a candidate and using
// it: the producer starts loading what the consumer will read (hash-set
// slots), so the cache misses of several candidates overlap. Order is kept.
#pragma once

#include <array>
#include <cstddef>

namespace vok {

template <class Item, std::size_t N = 8>
class Lookahead {
public:
    // Queues item; once N wait, the oldest goes to consume first.
    template <class Consume>
    void push(const Item& item, Consume&& consume) {
        if (count_ == N) {
            consume(items_[head_]);
            items_[head_] = item;
            head_ = (head_ + 1) % N;
            return;
        }
        items_[(head_ + count_) % N] = item;
        ++count_;
    }

    template <class Consume>
    void drain(Consume&& consume) {
        for (; count_ > 0; --count_) {
            consume(items_[head_]);
            head_ = (head_ + 1) % N;
        }
    }

private:
    std::array<Item, N> items_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

}  // namespace vok
