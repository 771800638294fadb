#pragma once
// Threads, interpreters, exceptions and the module entry. Each thread is
// readied for C++ exceptions before its first call runs; nothing runs in a
// subinterpreter; every C++ exception leaves as a Python exception, by this
// module's own translator; and the module entry refuses what pybind11's own
// would get wrong.

#include <pybind11/pybind11.h>

#include <cstdlib>    // std::malloc, std::free
#include <new>        // std::bad_alloc
#include <stdexcept>  // std::domain_error, std::out_of_range ...

namespace binding {

namespace py = pybind11;

/// Makes sure the calling thread can throw a C++ exception. A thread's first
/// exception allocates the thread's share of the C++ runtime's thread-local
/// state, and the C library ends the process when that allocation fails; so
/// the thread's first exception is thrown here, once a probe shows memory to
/// spare. False, with MemoryError set, when there is none.
inline bool prepareThread() noexcept {
  // Initial-exec: the flag itself sits in static thread-local storage, which
  // needs no allocation to reach from any thread.
  static thread_local bool prepared __attribute__((tls_model("initial-exec"))) = false;
  if (prepared) return true;
  constexpr std::size_t kProbeBytes = 16384;  // below malloc's mmap threshold
  // Held in a volatile: clang removes an allocation that is only tested
  // and freed, and with it the probe.
  void* volatile probe = std::malloc(kProbeBytes);  // NOLINT(cppcoreguidelines-no-malloc)
  if (probe == nullptr) {
    PyErr_NoMemory();
    return false;
  }
  std::free(probe);  // NOLINT(cppcoreguidelines-no-malloc)
  try {
    throw prepared;
  } catch (bool) {
    prepared = true;
  }
  return true;
}

/// Whether the calling thread runs in the main interpreter. pybind11 keeps
/// the main interpreter's thread state from the first import, and from a
/// subinterpreter some of its paths wait forever for an interpreter lock
/// that the calling thread already holds; so nothing of a module runs there.
inline bool inMainInterpreter() noexcept {
  static PyInterpreterState* const main = PyInterpreterState_Main();
  return PyInterpreterState_Get() == main;
}

/// Raises the refusal of a subinterpreter for the class `type`; returns
/// nullptr, the failed call's result.
inline PyObject* refuseSubinterpreter(PyTypeObject* type) noexcept {
  PyErr_Format(PyExc_RuntimeError,
               "%s cannot be used in a subinterpreter; use it in the main interpreter",
               type != nullptr ? type->tp_name : "this module");
  return nullptr;
}

/// The Python exception type for a standard exception other than
/// `std::bad_alloc`, as pybind11's standard translation chooses it.
inline PyObject* pythonErrorFor(const std::exception& e) noexcept {
  if (dynamic_cast<const std::out_of_range*>(&e) != nullptr) return PyExc_IndexError;
  if (dynamic_cast<const std::overflow_error*>(&e) != nullptr) return PyExc_OverflowError;
  if (dynamic_cast<const std::domain_error*>(&e) != nullptr ||
      dynamic_cast<const std::invalid_argument*>(&e) != nullptr ||
      dynamic_cast<const std::length_error*>(&e) != nullptr ||
      dynamic_cast<const std::range_error*>(&e) != nullptr) {
    return PyExc_ValueError;
  }
  return PyExc_RuntimeError;
}

/// Sets the Python exception for the C++ exception being handled, as
/// pybind11's standard translation does: MemoryError for `std::bad_alloc`,
/// ValueError for `std::domain_error`, `std::invalid_argument`,
/// `std::length_error` and `std::range_error`, IndexError for
/// `std::out_of_range`, OverflowError for `std::overflow_error`, and
/// RuntimeError for any other `std::exception`. For use inside a `catch`.
/// Always returns nullptr, the failed call's result.
inline PyObject* raiseHandledException() noexcept {
  try {
    throw;
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (const py::builtin_exception& e) {
    e.set_error();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(pythonErrorFor(e), e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
  }
  return nullptr;
}

/// The module's own exception translator. pybind11 keeps one list of
/// translators for every module that shares its internals and tries them
/// newest first; a module that carries its own C++ runtime must not have
/// its exceptions rethrown by another module's code. This one handles every
/// exception, so the shared list is never consulted for this module.
inline void translateLocally(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (...) {
    raiseHandledException();
  }
}

/// The module entry: pybind11's standard one, with these changes. A
/// subinterpreter is refused before pybind11 first looks for its process
/// state, which from a subinterpreter waits forever for an interpreter lock
/// that the importing thread already holds. The file loaded a second time
/// under another name is refused: the interpreter keeps the module
/// definition of the first load, which pybind11 would write over. The
/// module's own exception translator is registered. Every step after the
/// version check runs inside the handler that turns failures into
/// ImportError.
inline PyObject* initModule(const char* name, PyModuleDef* def, void (*init)(py::module_&)) {
  PYBIND11_CHECK_PYTHON_VERSION
  if (!inMainInterpreter()) {
    PyErr_Format(PyExc_ImportError,
                 "%s cannot be imported in a subinterpreter; import it in the main interpreter",
                 name);
    return nullptr;
  }
  // The interpreter keeps a copy of the module's namespace in its definition
  // once a load has completed.
  if (def->m_base.m_copy != nullptr) {
    PyErr_Format(PyExc_ImportError,
                 "%s is already loaded in this process and cannot be loaded again under "
                 "another name",
                 name);
    return nullptr;
  }
  if (!prepareThread()) return nullptr;
  try {
    PYBIND11_ENSURE_INTERNALS_READY
    auto m = py::module_::create_extension_module(name, nullptr, def);
    py::register_local_exception_translator(translateLocally);
    init(m);
    return m.ptr();
  }
  PYBIND11_CATCH_INIT_EXCEPTIONS
}

}  // namespace binding
