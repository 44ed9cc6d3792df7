// The module's exceptions: tarvik.Error for everything the programs and the
// command line refuse (their own messages), tarvik.InputError (also a
// ValueError) for values a caller passed that cannot be worked with.
#include "bindings.h"

#include <new>

namespace tarvikpy {

void bindErrors(py::module_& m)
{
    // Created once with the module and kept for the translator below.
    static PyObject* error = PyErr_NewExceptionWithDoc(
        "tarvik.Error",
        "A spectrum, file or setting the corrections refuse.  The message is the one the\n"
        "programs and the command line `tarvik` give for the same case.",
        PyExc_Exception, nullptr);
    static PyObject* inputError = [] {
        py::tuple bases = py::make_tuple(py::handle(error), py::handle(PyExc_ValueError));
        return PyErr_NewExceptionWithDoc(
            "tarvik.InputError",
            "Values passed to a function that cannot be worked with: counts that are not\n"
            "numbers or negative, the wrong number of channels, an unknown method or kind.",
            bases.ptr(), nullptr);
    }();
    m.add_object("Error", py::handle(error));
    m.add_object("InputError", py::handle(inputError));

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const py::error_already_set&) {
            throw;
        } catch (const py::builtin_exception&) {
            throw;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const tarvikcli::InputError& e) {
            PyErr_SetString(inputError, e.what());
        } catch (const std::exception& e) {
            PyErr_SetString(error, e.what());
        }
    });
}

} // namespace tarvikpy
