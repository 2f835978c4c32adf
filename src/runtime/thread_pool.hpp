// The worker threads that score a level: one process-wide pool, fork-safe,
// carrying worker exceptions back to the caller and cancellable while it waits.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vok {

// How a waiting caller stays responsive. wait_hook runs on the calling thread
// every poll_period while the batch is in flight; false cancels the batch.
struct BatchControl {
    // Raised on cancellation (by the hook, or by the caller from anywhere);
    // workers skip the tasks they have not started yet. Optional.
    std::atomic<bool>* cancel = nullptr;
    std::function<bool()> wait_hook;
    std::chrono::milliseconds poll_period{50};
};

class ThreadPool {
public:
    // Starts n_workers threads (at least one). If the system refuses some of
    // them the pool runs with those it got; if it refuses all, this throws.
    explicit ThreadPool(std::size_t n_workers);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // The process-wide pool, created on first use. After fork() the child's
    // first call builds a fresh pool; the parent's is abandoned untouched.
    static ThreadPool& global();

    // Worker count of the process-wide pool, from the environment, read once.
    static std::size_t configured_size();

    // The sizing rule, from the two variables' texts (null when unset).
    [[nodiscard]] static std::size_t size_from(const char* num_threads, const char* num_cpus,
                                               std::size_t hardware) noexcept;

    [[nodiscard]] std::size_t size() const noexcept { return workers_.size(); }

    // Runs body(task) for every task in [0, n_tasks) and returns once none is
    // running. The first exception a task throws is rethrown here, after the
    // batch, and the tasks not yet started are skipped. Returns false when the
    // batch was cancelled (some tasks may not have run). The calling thread
    // only waits, so a pool of N keeps N threads busy. Called from inside one of this
    // pool's tasks, it runs the inner batch serially on that thread.
    bool parallel_for(std::size_t n_tasks, const std::function<void(std::size_t)>& body,
                      const BatchControl* control = nullptr);

private:
    struct Batch;
    void worker_loop();
    static void run_tasks(Batch& batch) noexcept;

    std::mutex run_mutex_;  // one batch at a time
    std::mutex mutex_;
    std::condition_variable work_cv_;
    std::condition_variable done_cv_;
    Batch* batch_ = nullptr;
    std::uint64_t epoch_ = 0;
    std::size_t pending_ = 0;  // workers still inside the current batch
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace vok
