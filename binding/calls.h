#pragma once
// Calls of the bound functions.
//
// Invariants kept here:
// - Every function of a bound class (method, property getter, `__init__`)
//   enters through `call`; pybind11's dispatcher never runs. pybind11 keeps
//   the registration, the rendered signatures, the order of the overloads
//   and the conversion of each argument (`function_record::impl`).
// - `Arguments` holds a reference to every argument, keyword name and
//   keyword value, taken before any code of the caller's can run, until the
//   call ends. Nothing reads the caller's dictionary after that, so no
//   collection, finalizer, weakref callback or other thread can free what
//   the call uses.
// - Keyword names are matched by their text alone: no code of a name's own
//   (a `str` subclass's `__eq__` or `__hash__`) ever runs.
// - The message of a call that fits no overload shows no argument through
//   its own code, and its size is bounded by the number of arguments.

#include <pybind11/pybind11.h>

#if defined(__GLIBCXX__)
#include <cxxabi.h>  // abi::__forced_unwind
#endif

#include <algorithm>  // std::min
#include <string>     // std::string
#include <utility>    // std::move
#include <vector>     // std::vector

#include "binding/instances.h"
#include "binding/module.h"

namespace binding {

namespace py = pybind11;

/// The arguments of one call, owned: see above. Holding the tuple of
/// positional arguments holds them, as a tuple cannot change; each keyword's
/// name and value is held apart, since the dictionary can.
class Arguments {
 public:
  Arguments(PyObject* args, PyObject* kwargs)
      : args_(py::reinterpret_borrow<py::object>(args)), positional_(PyTuple_Size(args)) {
    if (kwargs == nullptr) return;
    // Reserved first, so that taking the references allocates nothing.
    keywords_.reserve(2 * static_cast<std::size_t>(PyDict_Size(kwargs)));
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value) != 0) {
      keywords_.push_back(py::reinterpret_borrow<py::object>(key));
      keywords_.push_back(py::reinterpret_borrow<py::object>(value));
    }
  }

  std::size_t positionalCount() const { return static_cast<std::size_t>(positional_); }
  PyObject* positional(std::size_t i) const {
    return PyTuple_GET_ITEM(args_.ptr(), static_cast<Py_ssize_t>(i));
  }
  std::size_t keywordCount() const { return keywords_.size() / 2; }
  PyObject* keywordName(std::size_t i) const { return keywords_[2 * i].ptr(); }
  PyObject* keywordValue(std::size_t i) const { return keywords_[2 * i + 1].ptr(); }

  /// The value of the first keyword whose name is the text `name`, or
  /// nullptr.
  PyObject* keyword(const char* name) const {
    for (std::size_t i = 0; i < keywordCount(); ++i) {
      PyObject* key = keywordName(i);
      if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, name) == 0) {
        return keywordValue(i);
      }
    }
    return nullptr;
  }

 private:
  py::object args_;
  Py_ssize_t positional_;
  std::vector<py::object> keywords_;
};

/// The function record behind a bound function's `self` capsule.
inline const py::detail::function_record* recordOf(PyObject* capsule) {
  return static_cast<const py::detail::function_record*>(
      PyCapsule_GetPointer(capsule, py::detail::get_function_record_capsule_name()));
}

/// Fills `call` with the arguments of the overload `rec`, matched as
/// pybind11 matches them: the positional arguments first, then each other
/// parameter from the keyword of its name or its default. False when the
/// call does not fit `rec`: too many or too few arguments, one given twice,
/// a keyword no parameter takes, or None where the parameter refuses it.
inline bool fit(const py::detail::function_record& rec, const Arguments& arguments,
                py::detail::function_call& call) {
  const std::size_t given = arguments.positionalCount();
  if (given > rec.nargs_pos || (given < rec.nargs_pos && rec.args.size() < rec.nargs_pos)) {
    return false;
  }
  std::size_t taken = 0;  // keywords
  for (std::size_t i = 0; i < rec.nargs; ++i) {
    const py::detail::argument_record* param = i < rec.args.size() ? &rec.args[i] : nullptr;
    PyObject* named =
        param != nullptr && param->name != nullptr ? arguments.keyword(param->name) : nullptr;
    PyObject* value = nullptr;
    if (i < given) {
      if (named != nullptr) return false;
      value = arguments.positional(i);
    } else if (named != nullptr && i >= rec.nargs_pos_only) {
      value = named;
      ++taken;
    } else if (param != nullptr) {
      value = param->value.ptr();
    }
    if (value == nullptr || (param != nullptr && !param->none && value == Py_None)) return false;
    call.args.emplace_back(value);
    call.args_convert.push_back(param != nullptr ? param->convert : true);
  }
  return taken == arguments.keywordCount();
}

/// Runs one overload, as pybind11's dispatcher runs it.
inline py::handle invoke(py::detail::function_call& call) {
  try {
    const py::detail::loader_life_support keepTemporaries{};
    return call.func.impl(call);
  } catch (py::reference_cast_error&) {
    return PYBIND11_TRY_NEXT_OVERLOAD;
  }
}

/// After a description of an argument failed: clears what it raised, unless
/// that is MemoryError, which is thrown on; the argument is then described
/// by its type alone.
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

/// Texts and type names in the message are cut after this many characters.
constexpr Py_ssize_t kShownChars = 80;

/// `<Type object>`, the type's name cut after `kShownChars` characters and
/// marked "..." when it is longer.
inline std::string describeType(PyObject* value) {
  const char* name = Py_TYPE(value)->tp_name;
  std::size_t end = 0;
  for (Py_ssize_t chars = 0; name[end] != '\0'; ++end) {
    // A character starts at every byte that does not continue UTF-8.
    if ((static_cast<unsigned char>(name[end]) & 0xC0U) != 0x80U && chars++ == kShownChars) break;
  }
  return "<" + std::string(name, end) + (name[end] != '\0' ? "..." : "") + " object>";
}

/// How an argument is shown in that message. The built-in scalar types are
/// shown by value, as pybind11 shows them: their text runs no code of the
/// caller's. An `int` whose text would pass `kShownChars` characters is
/// shown by its type, its text never made. Texts past `kShownChars`
/// characters are cut there and marked "...", and an exact `list` or
/// `tuple` shows its first `kShownItems` items the same way, one level
/// deep. Anything else, and a value whose text cannot be made, is shown by
/// its type (`describeType`). `value` is owned by the caller of this
/// function.
inline std::string describeArgument(PyObject* value, bool nested = false) {
  constexpr Py_ssize_t kShownItems = 8;
  if (PyLong_CheckExact(value)) {
    // 266 bits hold every integer of up to 80 digits and none of more than
    // 81: the text of a longer one is never made.
    constexpr std::size_t kShownBits = 266;
    const std::size_t bits = _PyLong_NumBits(value);
    if (bits == static_cast<std::size_t>(-1)) PyErr_Clear();  // too large to count
    std::string text = bits <= kShownBits ? builtinRepr(value) : std::string();
    return text.empty() || text.size() > static_cast<std::size_t>(kShownChars) ? describeType(value)
                                                                               : text;
  }
  if (value == Py_None || PyBool_Check(value) || PyFloat_CheckExact(value)) {
    std::string text = builtinRepr(value);
    return text.empty() ? describeType(value) : text;
  }
  if (PyUnicode_CheckExact(value) || PyBytes_CheckExact(value)) {
    const Py_ssize_t length = PyObject_Length(value);  // no code of the caller's
    if (length <= kShownChars) {
      std::string text = builtinRepr(value);
      return text.empty() ? describeType(value) : text;
    }
    auto head = py::reinterpret_steal<py::object>(PySequence_GetSlice(value, 0, kShownChars));
    std::string text = head ? builtinRepr(head.ptr()) : std::string();
    if (!head) fallBackToType();
    return text.empty() ? describeType(value) : text + "...";
  }
  const bool list = PyList_CheckExact(value);
  if (nested || (!list && !PyTuple_CheckExact(value))) return describeType(value);
  // Describing an item may start a collection, whose callbacks may change
  // the list: each item is owned before it is described, and the size is
  // read anew each time.
  std::string text(1, list ? '[' : '(');
  for (Py_ssize_t i = 0; i < kShownItems && i < PySequence_Fast_GET_SIZE(value); ++i) {
    const auto item = py::reinterpret_borrow<py::object>(PySequence_Fast_GET_ITEM(value, i));
    if (i > 0) text += ", ";
    text += describeArgument(item.ptr(), true);
  }
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(value);
  if (size > kShownItems) text += ", ...";
  if (!list && size == 1) text += ',';
  return text + (list ? ']' : ')');
}

/// A keyword's name as shown in that message, cut as texts are: as written
/// when every character shown is printable, else quoted in the escaped form
/// of `str.__repr__`, which shows NULs and lone surrogates. A `str`
/// subclass's own code is never run.
inline std::string describeKeyword(PyObject* key) {
  if (!PyUnicode_Check(key)) return describeArgument(key);
  const Py_ssize_t length = PyUnicode_GET_LENGTH(key);
  // An exact `str`, for a subclass too.
  auto head =
      py::reinterpret_steal<py::object>(PyUnicode_Substring(key, 0, std::min(length, kShownChars)));
  bool printable = static_cast<bool>(head);
  for (Py_ssize_t i = 0; printable && i < PyUnicode_GET_LENGTH(head.ptr()); ++i) {
    printable = Py_UNICODE_ISPRINTABLE(PyUnicode_READ_CHAR(head.ptr(), i)) != 0;
  }
  auto text =
      printable || !head ? head : py::reinterpret_steal<py::object>(PyObject_Repr(head.ptr()));
  Py_ssize_t size = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.ptr(), &size) : nullptr;
  if (utf8 == nullptr) {
    fallBackToType();
    return "<str object>";
  }
  return std::string(utf8, static_cast<std::size_t>(size)) + (length > kShownChars ? "..." : "");
}

/// Raises the TypeError of a call that fits none of `rec`'s overloads, as
/// pybind11 words it: the supported signatures, then the arguments.
inline PyObject* raiseMismatch(const py::detail::function_record& rec, const Arguments& arguments) {
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
  const std::size_t first = rec.is_constructor ? 1 : 0;
  for (std::size_t i = first; i < arguments.positionalCount(); ++i) {
    if (i > first) msg += ", ";
    msg += describeArgument(arguments.positional(i));
  }
  for (std::size_t i = 0; i < arguments.keywordCount(); ++i) {
    if (i == 0) msg += arguments.positionalCount() > first ? "; kwargs: " : "kwargs: ";
    if (i > 0) msg += ", ";
    msg += describeKeyword(arguments.keywordName(i)) + "=" +
           describeArgument(arguments.keywordValue(i));
  }
  // Every part above is valid UTF-8 without NULs; decoding checks anyway.
  auto text = py::reinterpret_steal<py::object>(
      PyUnicode_DecodeUTF8(msg.data(), static_cast<Py_ssize_t>(msg.size()), "replace"));
  if (!text) throw py::error_already_set();
  PyErr_SetObject(PyExc_TypeError, text.ptr());
  return nullptr;
}

/// The result of an overload that ran, as pybind11's dispatcher gives it.
inline PyObject* finish(py::handle result, const py::detail::function_record& rec) {
  if (result) return result.ptr();
  const std::string msg =
      "Unable to convert function return value to a Python type! The signature was\n\t" +
      std::string(rec.signature);
  if (PyErr_Occurred() != nullptr) {
    py::raise_from(PyExc_TypeError, msg.c_str());
  } else {
    PyErr_SetString(PyExc_TypeError, msg.c_str());
  }
  return nullptr;
}

/// Answers a call with the first overload of `rec` that takes its
/// arguments. Like pybind11, overloaded functions are first tried without
/// implicit conversions, then with them.
inline PyObject* dispatch(const py::detail::function_record& rec, const Arguments& arguments) {
  PyObject* self = arguments.positionalCount() > 0 ? arguments.positional(0) : nullptr;
  // `__init__` checks its instance first, whatever its other arguments.
  if (rec.is_constructor)
    (void)unbuiltStorage(self, reinterpret_cast<PyTypeObject*>(rec.scope.ptr()));
  const bool overloaded = rec.next != nullptr;
  std::vector<py::detail::function_call> secondPass;
  for (const py::detail::function_record* it = &rec; it != nullptr; it = it->next) {
    py::detail::function_call call(*it, self);
    if (!fit(*it, arguments, call)) continue;
    std::vector<bool> converting;
    if (overloaded) {
      converting.assign(it->nargs, false);
      call.args_convert.swap(converting);
    }
    const py::handle result = invoke(call);
    if (result.ptr() != PYBIND11_TRY_NEXT_OVERLOAD) return finish(result, *it);
    for (std::size_t i = it->is_method ? 1 : 0; overloaded && i < it->nargs_pos; ++i) {
      if (converting[i]) {
        call.args_convert.swap(converting);
        secondPass.push_back(std::move(call));
        break;
      }
    }
  }
  for (py::detail::function_call& call : secondPass) {
    const py::handle result = invoke(call);
    if (result.ptr() != PYBIND11_TRY_NEXT_OVERLOAD) return finish(result, call.func);
  }
  return raiseMismatch(rec, arguments);
}

/// The entry of every bound function; see above.
inline PyObject* call(PyObject* capsule, PyObject* args, PyObject* kwargs) {
  const py::detail::function_record* rec = recordOf(capsule);
  if (!inMainInterpreter()) {
    return refuseSubinterpreter(reinterpret_cast<PyTypeObject*>(rec->scope.ptr()));
  }
  if (!prepareThread()) return nullptr;
  try {
    const Arguments arguments(args, kwargs);
    return dispatch(*rec, arguments);
#if defined(__GLIBCXX__)
  } catch (abi::__forced_unwind&) {
    throw;  // thread cancellation must unwind on
#endif
  } catch (...) {
    return raiseHandledException();
  }
}

/// Routes each bound function in `cls`'s dictionary (methods, constructors
/// and property getters) through `call`. A function of pybind11 is a
/// builtin whose `self` is pybind11's function-record capsule; all the
/// overloads of a name share one method definition.
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
    for (const auto* rec = recordOf(record.ptr()); rec != nullptr; rec = rec->next) {
      // `fit` matches parameters one by one; it takes no `*args` or `**kwargs`.
      if (rec->has_args || rec->has_kwargs) py::pybind11_fail("guarded functions take no *args");
    }
    reinterpret_cast<PyCFunctionObject*>(function.ptr())->m_ml->ml_meth =
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(call));
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
