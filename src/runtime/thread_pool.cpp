// Worker pool: batches of indexed tasks, first error rethrown on the caller,
// cooperative cancellation, and a fresh pool in a forked child.
#include "runtime/thread_pool.hpp"

#include <pthread.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>

namespace vok {
namespace {

// The pool whose task the current thread is running, to serialise nested batches.
thread_local const ThreadPool* tl_running_pool = nullptr;

struct RunningGuard {
    explicit RunningGuard(const ThreadPool* p) noexcept : saved(tl_running_pool) {
        tl_running_pool = p;
    }
    ~RunningGuard() { tl_running_pool = saved; }
    const ThreadPool* saved;
};

// A decimal integer, optionally with a leading plus sign, and nothing else.
std::optional<std::uint64_t> parse_count(const char* text) noexcept {
    if (text == nullptr) return std::nullopt;
    std::string_view s(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    std::uint64_t n = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    return n;
}

// The child of a fork has none of the parent's workers: its handler only bumps
// this generation, and the next global() builds a new pool for the child.
std::atomic<std::uint64_t> g_fork_generation{0};

struct GlobalSlot {
    ThreadPool* pool;
    std::uint64_t generation;
};
std::atomic<GlobalSlot*> g_slot{nullptr};

void on_fork_child() noexcept { g_fork_generation.fetch_add(1, std::memory_order_relaxed); }

[[maybe_unused]] const int g_atfork_registered = pthread_atfork(nullptr, nullptr, &on_fork_child);

}  // namespace

struct ThreadPool::Batch {
    Batch(const std::function<void(std::size_t)>* b, std::size_t n, const std::atomic<bool>* c)
        : body(b), n_tasks(n), cancel(c) {}
    const std::function<void(std::size_t)>* body;
    std::size_t n_tasks;
    const std::atomic<bool>* cancel;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> abort{false};
    std::atomic<bool> failed{false};
    std::exception_ptr error;  // written once, by whoever set failed first
};

ThreadPool::ThreadPool(std::size_t n_workers) {
    n_workers = std::max<std::size_t>(n_workers, 1);
    try {
        for (std::size_t i = 0; i < n_workers; ++i)
            workers_.emplace_back([this] { worker_loop(); });
    } catch (...) {
        if (workers_.empty()) throw;  // not a single thread: nothing to run on
    }
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    work_cv_.notify_all();
    for (std::thread& t : workers_) t.join();
}

std::size_t ThreadPool::size_from(const char* num_threads, const char* num_cpus,
                                  std::size_t hardware) noexcept {
    hardware = std::max<std::size_t>(hardware, 1);
    if (const auto n = parse_count(num_threads))
        return *n > 0 ? static_cast<std::size_t>(*n) : hardware;
    if (const auto n = parse_count(num_cpus); n && *n > 0) return static_cast<std::size_t>(*n);
    return hardware;
}

std::size_t ThreadPool::configured_size() {
    static const std::size_t size =
        size_from(std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"),
                  std::thread::hardware_concurrency());
    return size;
}

ThreadPool& ThreadPool::global() {
    for (;;) {
        const std::uint64_t generation = g_fork_generation.load(std::memory_order_acquire);
        GlobalSlot* current = g_slot.load(std::memory_order_acquire);
        if (current != nullptr && current->generation == generation) return *current->pool;
        auto pool = std::make_unique<ThreadPool>(configured_size());
        auto slot = std::make_unique<GlobalSlot>(GlobalSlot{pool.get(), generation});
        if (g_slot.compare_exchange_strong(current, slot.get(), std::memory_order_acq_rel)) {
            // The replaced slot (a parent's, after fork) is abandoned: its
            // threads do not exist here and its locks may be held forever.
            pool.release();
            return *slot.release()->pool;
        }
        // Another thread installed one first; ours is joined and freed.
    }
}

void ThreadPool::run_tasks(Batch& batch) noexcept {
    for (;;) {
        if (batch.abort.load(std::memory_order_relaxed)) return;
        if (batch.cancel != nullptr && batch.cancel->load(std::memory_order_relaxed)) return;
        const std::size_t task = batch.next.fetch_add(1, std::memory_order_relaxed);
        if (task >= batch.n_tasks) return;
        try {
            (*batch.body)(task);
        } catch (...) {
            if (!batch.failed.exchange(true)) batch.error = std::current_exception();
            batch.abort.store(true, std::memory_order_relaxed);
        }
    }
}

void ThreadPool::worker_loop() {
    const RunningGuard running(this);
    std::uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        work_cv_.wait(lock, [&] { return stop_ || epoch_ != seen; });
        if (stop_) return;
        seen = epoch_;
        Batch* batch = batch_;
        lock.unlock();
        run_tasks(*batch);
        lock.lock();
        if (--pending_ == 0) done_cv_.notify_all();
    }
}

bool ThreadPool::parallel_for(std::size_t n_tasks, const std::function<void(std::size_t)>& body,
                              const BatchControl* control) {
    std::atomic<bool>* cancel = control != nullptr ? control->cancel : nullptr;
    const bool has_hook = control != nullptr && control->wait_hook;
    auto cancelled = [&] { return cancel != nullptr && cancel->load(); };
    if (n_tasks == 0) return !cancelled();

    if (tl_running_pool == this) {
        // Waiting on our own workers from one of them would deadlock.
        for (std::size_t task = 0; task < n_tasks && !cancelled(); ++task) body(task);
        return !cancelled();
    }

    std::lock_guard serial(run_mutex_);
    // A wait hook may run Python code (a signal handler) that starts another
    // batch on this thread: it must run serially, not lock run_mutex_ again.
    const RunningGuard running(this);
    Batch batch(&body, n_tasks, cancel);
    {
        std::lock_guard lock(mutex_);
        batch_ = &batch;
        pending_ = workers_.size();
        ++epoch_;
    }
    work_cv_.notify_all();

    bool hook_cancelled = false;
    std::exception_ptr hook_error;
    {
        std::unique_lock lock(mutex_);
        auto done = [&] { return pending_ == 0; };
        if (has_hook) {
            while (!done_cv_.wait_for(lock, control->poll_period, done)) {
                if (hook_cancelled) continue;
                lock.unlock();
                bool keep_going = false;
                try {
                    keep_going = control->wait_hook();
                } catch (...) {
                    hook_error = std::current_exception();
                }
                if (!keep_going) {
                    hook_cancelled = true;
                    batch.abort.store(true);
                    if (cancel != nullptr) cancel->store(true);
                }
                lock.lock();
            }
        } else {
            done_cv_.wait(lock, done);
        }
        batch_ = nullptr;
    }
    // Every worker has left the batch: its stack frame may now go.
    if (batch.error) std::rethrow_exception(batch.error);
    if (hook_error) std::rethrow_exception(hook_error);
    return !hook_cancelled && !cancelled();
}

}  // namespace vok
