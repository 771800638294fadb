#pragma once
// Threads, interpreters, exceptions and the module entry.
//
// Invariants kept here:
// - No call runs in a subinterpreter: every entry asks `inMainInterpreter`
//   first, before pybind11 looks for its process state.
// - A thread has thrown a C++ exception once, from `prepareThread`, before
//   any of its calls can throw one; that first throw allocates the thread's
//   share of the C++ runtime, and the C library ends the process when that
//   allocation fails.
// - No C++ exception leaves an entry: `raiseHandledException` turns the one
//   being handled into a Python exception, as pybind11 translates it.

#include <pybind11/pybind11.h>

#include <cstdlib>    // std::malloc, std::free
#include <exception>  // std::current_exception

namespace binding {

namespace py = pybind11;

/// Makes sure the calling thread can throw a C++ exception; see above. False,
/// with MemoryError set, when a probe shows no memory to spare.
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
/// that the calling thread already holds.
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

/// Sets the Python exception for the C++ exception being handled, by
/// pybind11's own standard translation, compiled into this module: the same
/// types, messages and chaining. For use inside a `catch`. Always returns
/// nullptr, the failed call's result.
inline PyObject* raiseHandledException() noexcept {
  py::detail::translate_exception(std::current_exception());
  return nullptr;
}

/// The module entry: pybind11's standard one, with these changes. A
/// subinterpreter is refused before pybind11 first looks for its process
/// state. The file loaded a second time under another name is refused: the
/// interpreter keeps the module definition of the first load, which
/// pybind11 would write over. pybind11 finds its registry in `builtins`
/// under a name of this module's own; an object already there, which would
/// be taken for the registry or make pybind11 fail halfway, is refused
/// before pybind11 starts. pybind11 starts once per process: an import
/// that fails after that, in pybind11's start or in the interpreter's steps
/// after this entry, leaves a registry that cannot be built again, and
/// every later import of the module in the process is refused.
/// Every step after the version check runs inside pybind11's handler, which
/// turns failures into ImportError, and one more that does the same for
/// what is no `std::exception`.
inline PyObject* initModule(const char* name, PyModuleDef* def, void (*init)(py::module_&)) {
  PYBIND11_CHECK_PYTHON_VERSION
  static bool started = false;
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
                 "%s: its file is already loaded in this process under another name and cannot "
                 "be loaded again",
                 name);
    return nullptr;
  }
  if (started) {
    PyErr_Format(PyExc_ImportError,
                 "%s failed to import earlier in this process and cannot be imported again; "
                 "start a new interpreter",
                 name);
    return nullptr;
  }
  if (PyDict_GetItemString(PyEval_GetBuiltins(), PYBIND11_INTERNALS_ID) != nullptr) {
    PyErr_Format(PyExc_ImportError,
                 "%s keeps its pybind11 registry as builtins.%s, which is taken; delete it "
                 "and import again",
                 name, PYBIND11_INTERNALS_ID);
    return nullptr;
  }
  if (!prepareThread()) return nullptr;
  started = true;
  try {
    PYBIND11_ENSURE_INTERNALS_READY
    auto m = py::module_::create_extension_module(name, nullptr, def);
    init(m);
    return m.ptr();
  }
  PYBIND11_CATCH_INIT_EXCEPTIONS
  catch (...) {
    PyErr_SetString(PyExc_ImportError, "initialization failed: unknown C++ exception");
    return nullptr;
  }
}

}  // namespace binding
