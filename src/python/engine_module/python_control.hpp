// Running engine work without the interpreter lock, while the calling thread
// still answers Ctrl-C and reports progress to Python about ten times a second.
#pragma once

#include <Python.h>

#include <chrono>
#include <optional>

#include "enumeration/enumerate.hpp"
#include "python/ref.hpp"

namespace engine {

// Runs f() without the interpreter lock, taken back before returning or
// unwinding. f must not touch Python objects.
template <class F>
void without_lock(F&& f) {
    struct Release {
        PyThreadState* state = PyEval_SaveThread();
        ~Release() { PyEval_RestoreThread(state); }
    } release;
    f();
}

class PythonControl {
public:
    // progress: a callable taking one dict, or null.
    explicit PythonControl(PyObject* progress) noexcept : progress_(progress) {}

    // Steering for the engine: polls signals and calls progress with the lock
    // taken back for the moment. A KeyboardInterrupt stops the run quietly
    // (interrupted() tells); any other exception stops it and is kept.
    vok::enumeration::EnumerationControl control();

    // Releases the lock for the duration of f(); takes it back before
    // returning or unwinding.
    template <class F>
    void run(F&& f) {
        struct Release {
            PythonControl& self;
            explicit Release(PythonControl& s) : self(s) { self.state_ = PyEval_SaveThread(); }
            ~Release() { PyEval_RestoreThread(self.state_); }
        } release(*this);
        f();
    }

    [[nodiscard]] bool interrupted() const noexcept { return interrupted_; }
    // Puts a kept exception back; true when there was one.
    bool restore_error() noexcept;

private:
    bool poll(const vok::enumeration::EnumerationProgress& progress);

    PyObject* progress_;
    PyThreadState* state_ = nullptr;
    std::optional<py::FetchedError> error_;
    bool interrupted_ = false;
    std::chrono::steady_clock::time_point last_report_{};
};

}  // namespace engine
