// The calling thread's side of a run: signals and progress under the lock.
#include "python/engine_module/python_control.hpp"

namespace engine {
namespace {

constexpr std::chrono::milliseconds kReportPeriod{100};

py::Ref progress_dict(const vok::enumeration::EnumerationProgress& p) {
    return py::Ref::steal(Py_BuildValue("{s:I,s:K,s:K,s:d,s:d}", "size", p.size, "done",
                                        static_cast<unsigned long long>(p.done), "expected",
                                        static_cast<unsigned long long>(p.expected), "best_rmse",
                                        p.best_rmse, "elapsed", p.elapsed));
}

}  // namespace

vok::enumeration::EnumerationControl PythonControl::control() {
    vok::enumeration::EnumerationControl control;
    control.keep_going = [this](const vok::enumeration::EnumerationProgress& p) { return poll(p); };
    return control;
}

bool PythonControl::poll(const vok::enumeration::EnumerationProgress& progress) {
    PyEval_RestoreThread(state_);
    bool failed = PyErr_CheckSignals() < 0;
    const auto now = std::chrono::steady_clock::now();
    if (!failed && progress_ != nullptr && now - last_report_ >= kReportPeriod) {
        last_report_ = now;
        py::Ref info = progress_dict(progress);
        failed = !info || !py::Ref::steal(PyObject_CallOneArg(progress_, info.get()));
    }
    if (failed) {
        if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) {
            PyErr_Clear();
            interrupted_ = true;
        } else {
            error_.emplace();
        }
    }
    state_ = PyEval_SaveThread();
    return !failed;
}

bool PythonControl::restore_error() noexcept {
    if (!error_) return false;
    error_->restore();
    error_.reset();
    return true;
}

}  // namespace engine
