// The binding guard's translation of native exceptions, in an embedded
// interpreter: each standard exception becomes the Python exception that
// pybind11's standard translation gives it, with its message.

#include <gtest/gtest.h>
#include <pybind11/embed.h>

#include <exception>   // std::throw_with_nested
#include <functional>  // std::function
#include <new>         // std::bad_alloc
#include <stdexcept>   // std::length_error ...
#include <string>      // std::string

#include "binding/module.h"
#include "onnx/common/interned_strings.h"

namespace {

namespace py = pybind11;

struct Translation {
  const char* name;
  std::function<void()> raise;
  PyObject* const* expected;  // the address of PyExc_*: set once Python starts
  const char* message;
};

// The Python exception that the guard sets for what `raise` throws, as
// "TypeName: message".
std::string translated(const std::function<void()>& raise) {
  try {
    raise();
  } catch (...) {
    EXPECT_EQ(binding::raiseHandledException(), nullptr);
  }
  if (PyErr_Occurred() == nullptr) return "nothing set";
  const py::error_already_set error;  // fetches and clears it
  return std::string(py::str(error.type().attr("__name__"))) + ": " +
         std::string(py::str(error.value()));
}

TEST(ExceptionTranslation, AsPybind11TranslatesEachStandardException) {
  const py::scoped_interpreter python;
  const Translation cases[] = {
      {"bad_alloc", [] { throw std::bad_alloc(); }, &PyExc_MemoryError, "std::bad_alloc"},
      {"domain_error", [] { throw std::domain_error("domain"); }, &PyExc_ValueError, "domain"},
      {"invalid_argument", [] { throw std::invalid_argument("arg"); }, &PyExc_ValueError, "arg"},
      {"length_error", [] { throw std::length_error("vector::reserve"); }, &PyExc_ValueError,
       "vector::reserve"},
      {"out_of_range", [] { throw std::out_of_range("at"); }, &PyExc_IndexError, "at"},
      {"range_error", [] { throw std::range_error("range"); }, &PyExc_ValueError, "range"},
      {"overflow_error", [] { throw std::overflow_error("big"); }, &PyExc_OverflowError, "big"},
      {"underflow_error", [] { throw std::underflow_error("small"); }, &PyExc_RuntimeError,
       "small"},
      {"assert_error", [] { throw onnx::assert_error("check"); }, &PyExc_RuntimeError, "check"},
      {"logic_error", [] { throw std::logic_error("logic"); }, &PyExc_RuntimeError, "logic"},
      {"type_error", [] { throw py::type_error("wrong"); }, &PyExc_TypeError, "wrong"},
      {"not a std::exception", [] { throw 7; }, &PyExc_RuntimeError,
       "Caught an unknown exception!"},
  };
  for (const Translation& c : cases) {
    const std::string expected =
        std::string(reinterpret_cast<PyTypeObject*>(*c.expected)->tp_name) + ": " + c.message;
    EXPECT_EQ(translated(c.raise), expected) << c.name;
  }
  // A Python error in flight is restored as it was.
  EXPECT_EQ(translated([] {
              PyErr_SetString(PyExc_KeyError, "key");
              throw py::error_already_set();
            }),
            "KeyError: 'key'");
}

TEST(ExceptionTranslation, AsPybind11ChainsAnErrorAlreadySet) {
  const py::scoped_interpreter python;
  try {
    PyErr_SetString(PyExc_KeyError, "set before");
    throw std::out_of_range("thrown after");
  } catch (...) {
    binding::raiseHandledException();
  }
  const py::error_already_set error;
  EXPECT_EQ(std::string(py::str(error.value())), "thrown after");
  const py::object cause = error.value().attr("__cause__");
  ASSERT_FALSE(cause.is_none());
  EXPECT_EQ(std::string(py::str(cause)), "'set before'");
  // A nested exception is raised first, as the cause of the outer one.
  try {
    try {
      throw std::invalid_argument("inner");
    } catch (...) {
      std::throw_with_nested(std::runtime_error("outer"));
    }
  } catch (...) {
    binding::raiseHandledException();
  }
  const py::error_already_set nested;
  EXPECT_EQ(std::string(py::str(nested.value())), "outer");
  EXPECT_EQ(std::string(py::str(nested.value().attr("__cause__"))), "inner");
}

}  // namespace
