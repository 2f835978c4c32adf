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
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(spec));
}

}  // namespace py
