// Shared pieces of the module's heap types.
#include "lib/type_util.hpp"

namespace py {

std::string class_doc(const char* name, const char* signature, const char* body) {
    std::string doc;
    if (signature) {
        doc += name;
        doc += signature;
        doc += "\n--\n\n";
    }
    doc += body;
    return doc;
}

PyTypeObject* create_type(PyType_Spec* spec) noexcept {
    PyObject* type = PyType_FromSpec(spec);
    // CPython 3.11 can fail an allocation in here without setting an error;
    // a NULL return must carry one.
    if (!type && !PyErr_Occurred()) PyErr_NoMemory();
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace py
