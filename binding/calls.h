#pragma once
// Calls of the bound functions: every one enters through the guard, keyword
// calls are passed on by position, and the message of a call that fits no
// overload is built without running the arguments' own code.

#include <pybind11/pybind11.h>

#if defined(__GLIBCXX__)
#include <cxxabi.h>  // abi::__forced_unwind
#endif

#include <algorithm>  // std::max
#include <cstring>    // std::strcmp
#include <string>     // std::string
#include <vector>     // std::vector

#include "binding/instances.h"
#include "binding/module.h"

namespace binding {

namespace py = pybind11;

using Dispatcher = PyObject* (*)(PyObject*, PyObject*, PyObject*);

/// pybind11's dispatcher, which every bound function shares.
inline Dispatcher& pybind11Dispatcher() {
  static Dispatcher dispatcher = nullptr;
  return dispatcher;
}

/// The function record behind a bound function's `self` capsule.
inline py::detail::function_record* recordOf(PyObject* capsule) {
  return static_cast<py::detail::function_record*>(
      PyCapsule_GetPointer(capsule, py::detail::get_function_record_capsule_name()));
}

/// The arguments of a call that passes some by keyword, all by position, or
/// None when the call does not fit `rec` exactly. pybind11's dispatcher
/// copies the keyword dictionary when it takes an argument from it, and uses
/// the copy without checking that it was made; a call passed by position
/// alone makes no copy. Only a function of one overload without `*args` or
/// `**kwargs` is rewritten; a call that does not fit goes to pybind11 as it
/// is, which raises its TypeError.
inline py::object byPosition(const py::detail::function_record& rec, PyObject* args,
                             PyObject* kwargs) {
  const auto given = static_cast<std::size_t>(PyTuple_Size(args));
  if (rec.next != nullptr || rec.has_args || rec.has_kwargs || rec.args.size() != rec.nargs ||
      given > rec.nargs) {
    return py::none();
  }
  std::vector<PyObject*> values(rec.nargs, nullptr);
  for (std::size_t i = 0; i < given; ++i)
    values[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(kwargs, &pos, &key, &value) != 0) {
    if (!PyUnicode_Check(key)) return py::none();
    std::size_t i = std::max<std::size_t>(given, rec.nargs_pos_only);
    while (i < rec.nargs && (rec.args[i].name == nullptr ||
                             PyUnicode_CompareWithASCIIString(key, rec.args[i].name) != 0)) {
      ++i;
    }
    if (i == rec.nargs || values[i] != nullptr) return py::none();
    values[i] = value;
  }
  for (std::size_t i = given; i < rec.nargs; ++i) {
    if (values[i] == nullptr) values[i] = rec.args[i].value.ptr();
    if (values[i] == nullptr) return py::none();  // missing, without a default
  }
  auto tuple = py::reinterpret_steal<py::object>(PyTuple_New(static_cast<Py_ssize_t>(rec.nargs)));
  if (!tuple) throw py::error_already_set();
  for (std::size_t i = 0; i < rec.nargs; ++i) {
    Py_INCREF(values[i]);
    PyTuple_SetItem(tuple.ptr(), static_cast<Py_ssize_t>(i), values[i]);  // steals; cannot fail
  }
  return tuple;
}

/// After a call made to describe an argument failed: clears what it raised,
/// unless that is MemoryError, which is thrown on; the argument is then
/// described by its type alone.
inline void fallBackToType() {
  if (PyErr_ExceptionMatches(PyExc_MemoryError) != 0) throw py::error_already_set();
  PyErr_Clear();
}

/// The `repr` of `value`, a built-in scalar whose text runs no code of the
/// caller's, or an empty string when it cannot be made (an `int` past the
/// interpreter's limit on digits).
inline std::string builtinRepr(PyObject* value) {
  auto text = py::reinterpret_steal<py::object>(PyObject_Repr(value));
  Py_ssize_t size = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.ptr(), &size) : nullptr;
  if (utf8 == nullptr) {
    fallBackToType();
    return std::string();
  }
  return std::string(utf8, static_cast<std::size_t>(size));
}

/// How an argument is shown in the message of a call that fits no overload.
/// The built-in scalar types are shown by value, as pybind11 shows them:
/// their text runs no code of the caller's. Texts past `kShownChars` are cut
/// there and marked with "...", and an exact `list` or `tuple` shows its
/// first `kShownItems` items the same way, one level deep. Anything else,
/// and a value whose text cannot be made, is shown by its type's name.
inline std::string describeArgument(PyObject* value, bool nested = false) {
  constexpr Py_ssize_t kShownChars = 80;
  constexpr Py_ssize_t kShownItems = 8;
  const auto byType = [value] { return std::string("<") + Py_TYPE(value)->tp_name + " object>"; };
  if (value == Py_None || PyLong_CheckExact(value) || PyBool_Check(value) ||
      PyFloat_CheckExact(value)) {
    std::string text = builtinRepr(value);
    return text.empty() ? byType() : text;
  }
  if (PyUnicode_CheckExact(value) || PyBytes_CheckExact(value)) {
    const Py_ssize_t length = PyObject_Length(value);  // no code of the caller's
    if (length <= kShownChars) {
      std::string text = builtinRepr(value);
      return text.empty() ? byType() : text;
    }
    auto head = py::reinterpret_steal<py::object>(PySequence_GetSlice(value, 0, kShownChars));
    std::string text = head ? builtinRepr(head.ptr()) : std::string();
    if (!head) fallBackToType();
    return text.empty() ? byType() : text + "...";
  }
  const bool list = PyList_CheckExact(value);
  if (!nested && (list || PyTuple_CheckExact(value))) {
    // Describing a plain item runs no Python code, so the size cannot change.
    const Py_ssize_t size = list ? PyList_GET_SIZE(value) : PyTuple_GET_SIZE(value);
    std::string text(1, list ? '[' : '(');
    for (Py_ssize_t i = 0; i < size && i < kShownItems; ++i) {
      if (i > 0) text += ", ";
      text += describeArgument(list ? PyList_GET_ITEM(value, i) : PyTuple_GET_ITEM(value, i), true);
    }
    if (size > kShownItems) text += ", ...";
    if (!list && size == 1) text += ',';
    return text + (list ? ']' : ')');
  }
  return byType();
}

/// A keyword's name as shown in that message: as written when every
/// character of it is printable, else quoted in the escaped form of
/// `str.__repr__`, which shows NULs and lone surrogates. A `str`
/// subclass's own code is never run.
inline std::string describeKeyword(PyObject* key) {
  if (!PyUnicode_Check(key)) return describeArgument(key);
  bool printable = true;
  for (Py_ssize_t i = 0; printable && i < PyUnicode_GET_LENGTH(key); ++i) {
    printable = Py_UNICODE_ISPRINTABLE(PyUnicode_READ_CHAR(key, i)) != 0;
  }
  if (printable) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
    if (utf8 != nullptr) return std::string(utf8, static_cast<std::size_t>(size));
    fallBackToType();
  }
  auto text = py::reinterpret_steal<py::object>(PyUnicode_Type.tp_repr(key));
  Py_ssize_t size = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.ptr(), &size) : nullptr;
  if (utf8 == nullptr) {
    fallBackToType();
    return "<str object>";
  }
  return std::string(utf8, static_cast<std::size_t>(size));  // quoted, with escapes
}

/// Raises the TypeError of a call that fits none of `rec`'s overloads, as
/// pybind11 words it: the supported signatures, then the arguments.
inline void raiseMismatch(const py::detail::function_record& rec, PyObject* args,
                          PyObject* kwargs) {
  std::string msg = std::string(rec.name) + "(): incompatible " +
                    (rec.is_constructor ? "constructor" : "function") +
                    " arguments. The following argument types are supported:\n";
  int count = 0;
  for (const py::detail::function_record* it = &rec; it != nullptr; it = it->next) {
    msg += "    " + std::to_string(++count) + ". ";
    std::string sig = it->signature;
    if (rec.is_constructor) {
      // `(self: Class, arg0: int) -> None` reads `Class(arg0: int)`.
      const std::size_t start = sig.find('(') + 7;  // past "(self: "
      std::size_t end = sig.find(", ");
      std::size_t next = end + 2;
      const std::size_t ret = sig.rfind(" -> ");
      if (end >= sig.size()) next = end = sig.find(')');
      if (start < end && next < sig.size()) {
        sig = sig.substr(start, end - start) + '(' + sig.substr(next, ret - next);
      }
    }
    msg += sig + '\n';
  }
  msg += "\nInvoked with: ";
  const Py_ssize_t first = rec.is_constructor ? 1 : 0;
  for (Py_ssize_t i = first; i < PyTuple_Size(args); ++i) {
    if (i > first) msg += ", ";
    msg += describeArgument(PyTuple_GET_ITEM(args, i));
  }
  if (kwargs != nullptr && PyDict_Size(kwargs) != 0) {
    msg += PyTuple_Size(args) > first ? "; kwargs: " : "kwargs: ";
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    bool firstKeyword = true;
    while (PyDict_Next(kwargs, &pos, &key, &value) != 0) {
      if (!firstKeyword) msg += ", ";
      firstKeyword = false;
      msg += describeKeyword(key) + "=" + describeArgument(value);
    }
  }
  // Every part above is valid UTF-8 without NULs; decoding checks anyway.
  auto text = py::reinterpret_steal<py::object>(
      PyUnicode_DecodeUTF8(msg.data(), static_cast<Py_ssize_t>(msg.size()), "replace"));
  if (!text) throw py::error_already_set();
  PyErr_SetObject(PyExc_TypeError, text.ptr());
}

/// Calls pybind11's dispatcher. A call that fits no overload comes back as
/// NotImplemented (see `guardFunctions`), and its TypeError is raised here.
inline PyObject* dispatch(PyObject* self, PyObject* args, PyObject* kwargs) {
  py::object positional;
  if (kwargs != nullptr && PyDict_Size(kwargs) != 0) {
    positional = byPosition(*recordOf(self), args, kwargs);
  }
  const bool rewritten = positional && !positional.is_none();
  PyObject* result = rewritten ? pybind11Dispatcher()(self, positional.ptr(), nullptr)
                               : pybind11Dispatcher()(self, args, kwargs);
  if (result != Py_NotImplemented) return result;
  Py_DECREF(result);
  raiseMismatch(*recordOf(self), args, kwargs);  // the call as the caller wrote it
  return nullptr;
}

/// The entry of every bound function. pybind11's dispatcher translates what
/// the call itself throws, but builds the overload-mismatch message and
/// finishes a constructor outside its own handler; a failed allocation there
/// would leave the process through the interpreter's C frames.
inline PyObject* guardedDispatch(PyObject* self, PyObject* args, PyObject* kwargs) {
  if (!inMainInterpreter()) {
    return refuseSubinterpreter(reinterpret_cast<PyTypeObject*>(recordOf(self)->scope.ptr()));
  }
  if (!prepareThread()) return nullptr;
  try {
    return dispatch(self, args, kwargs);
#if defined(__GLIBCXX__)
  } catch (abi::__forced_unwind&) {
    throw;  // thread cancellation must unwind on
#endif
  } catch (...) {
    return raiseHandledException();
  }
}

/// The entry of a bound `__init__`. pybind11 finds the storage of the class
/// being initialised before it converts the arguments, trusting pybind11's
/// record of the instance's class, and fails with RuntimeError where that
/// record is stale; and it returns None, doing nothing, for an instance that
/// is already built. The instance is checked first: `__init__` of a built
/// object raises TypeError, whatever its arguments.
inline PyObject* guardedInit(PyObject* self, PyObject* args, PyObject* kwargs) {
  if (!inMainInterpreter() || PyTuple_Size(args) < 1) return guardedDispatch(self, args, kwargs);
  PyObject* object = PyTuple_GET_ITEM(args, 0);
  auto* scope = reinterpret_cast<PyTypeObject*>(recordOf(self)->scope.ptr());
  if (PyObject_TypeCheck(object, scope)) {
    if (!prepareThread()) return nullptr;
    try {
      auto* inst = reinterpret_cast<py::detail::instance*>(object);
      const py::detail::type_info* info = py::detail::get_type_info(scope);
      requireOne(inst, info);
      if (inst->simple_holder_constructed) {
        throw py::type_error(std::string(scope->tp_name) +
                             " object is already initialised; __init__ cannot build it again");
      }
    } catch (...) {
      return raiseHandledException();
    }
  }
  return guardedDispatch(self, args, kwargs);
}

/// Routes each bound function in `cls`'s dictionary (methods, constructors
/// and property getters) through the guard, and has pybind11 answer a call
/// that fits no overload with NotImplemented instead of building its own
/// message, which shows each argument's `repr` and swallows whatever that
/// raises. A function of pybind11 is a builtin whose `self` is pybind11's
/// function-record capsule; all the overloads of a name share one method
/// definition.
inline void guardFunctions(py::handle cls) {
  PyObject* dict = reinterpret_cast<PyTypeObject*>(cls.ptr())->tp_dict;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(dict, &pos, &key, &value) != 0) {
    py::object function = py::reinterpret_borrow<py::object>(value);
    if (PyInstanceMethod_Check(value)) {
      function = py::reinterpret_borrow<py::object>(PyInstanceMethod_Function(value));
    } else if (PyObject_TypeCheck(value, &PyProperty_Type)) {
      function = py::getattr(value, "fget");
    }
    if (!PyCFunction_Check(function.ptr())) continue;
    py::handle record = PyCFunction_GetSelf(function.ptr());
    if (!record || !PyCapsule_CheckExact(record.ptr()) ||
        !py::detail::is_function_record_capsule(py::reinterpret_borrow<py::capsule>(record))) {
      continue;  // not pybind11's, such as the type's own __new__
    }
    PyMethodDef* def = reinterpret_cast<PyCFunctionObject*>(function.ptr())->m_ml;
    const auto guarded = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
        std::strcmp(def->ml_name, "__init__") == 0 ? guardedInit : guardedDispatch));
    if (def->ml_meth == guarded) continue;
    pybind11Dispatcher() = reinterpret_cast<Dispatcher>(reinterpret_cast<void (*)()>(def->ml_meth));
    def->ml_meth = guarded;
    for (py::detail::function_record* rec = recordOf(record.ptr()); rec != nullptr;
         rec = rec->next) {
      rec->is_operator = true;
    }
  }
}

/// Finishes a registered class: routes its functions through the guard,
/// drops pybind11's interop hook, which is no member of the class, and marks
/// the type immutable, which refuses `__class__` assignment from and to it
/// and the setting of attributes on the class.
inline void seal(py::handle cls) {
  if (py::hasattr(cls, "_pybind11_conduit_v1_")) py::delattr(cls, "_pybind11_conduit_v1_");
  guardFunctions(cls);
  auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
  type->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
  PyType_Modified(type);
}

}  // namespace binding
