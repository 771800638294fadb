#pragma once
// The edge between Python and the catalogue, made safe against callers that
// are hostile and against memory running out. pybind11's defaults leave a
// few ways for a Python caller to end the process; each guard below closes
// one of them, in terms of pybind11's own registration and dispatch:
//
// - Every function of a bound class runs through `guardedDispatch`, so that
//   nothing the dispatcher throws reaches the interpreter as a C++ exception.
// - Instances are allocated by `newInstance`, which checks the allocation;
//   the class's own `__new__` also refuses the old pickle protocols.
// - `construct` builds the native object and hands it to its Python instance
//   in one step that either completes or leaves the instance as it was.
// - `seal` marks the class immutable once it is registered, so no instance
//   can have its `__class__` swapped for another bound class.
// - `initModule` refuses subinterpreters before pybind11 looks for its state.
// - Results are converted by casters that raise MemoryError when Python
//   cannot allocate them, and names by a caster that does the same.

#include <cxxabi.h>  // abi::__forced_unwind
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>  // the rendered names of the result types

#include <algorithm>    // std::max
#include <array>        // std::array
#include <cstdlib>      // std::malloc, std::free
#include <memory>       // std::make_unique
#include <new>          // std::bad_alloc
#include <set>          // std::set
#include <string>       // std::string
#include <string_view>  // std::string_view
#include <utility>      // std::forward
#include <vector>       // std::vector

namespace orvel::binding {

namespace py = pybind11;

// ---------------------------------------------------------------------------
// Threads and exceptions

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
  void* probe = std::malloc(kProbeBytes);     // NOLINT(cppcoreguidelines-no-malloc)
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

/// Sets the Python exception for the C++ exception being handled; for use
/// inside a `catch`. Always returns nullptr, the failed call's result.
inline PyObject* raiseHandledException() noexcept {
  try {
    throw;
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Dispatch

using Dispatcher = PyObject* (*)(PyObject*, PyObject*, PyObject*);

/// pybind11's dispatcher, which every bound function shares.
inline Dispatcher& pybind11Dispatcher() {
  static Dispatcher dispatcher = nullptr;
  return dispatcher;
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

/// The entry of every bound function. pybind11's dispatcher translates what
/// the call itself throws, but builds the overload-mismatch message and
/// finishes a constructor outside its own handler; a failed allocation there
/// would leave the process through the interpreter's C frames.
inline PyObject* guardedDispatch(PyObject* self, PyObject* args, PyObject* kwargs) {
  if (!prepareThread()) return nullptr;
  try {
    if (kwargs != nullptr && PyDict_Size(kwargs) != 0) {
      const auto* rec = static_cast<const py::detail::function_record*>(
          PyCapsule_GetPointer(self, py::detail::get_function_record_capsule_name()));
      const py::object positional = byPosition(*rec, args, kwargs);
      if (!positional.is_none()) return pybind11Dispatcher()(self, positional.ptr(), nullptr);
    }
    return pybind11Dispatcher()(self, args, kwargs);
  } catch (abi::__forced_unwind&) {
    throw;  // thread cancellation must unwind on
  } catch (...) {
    return raiseHandledException();
  }
}

/// Routes each bound function in `cls`'s dictionary (methods, constructors
/// and property getters) through `guardedDispatch`. A function of pybind11
/// is a builtin whose `self` is pybind11's function-record capsule; all the
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
    PyMethodDef* def = reinterpret_cast<PyCFunctionObject*>(function.ptr())->m_ml;
    const auto guarded =
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guardedDispatch));
    if (def->ml_meth == guarded) continue;
    pybind11Dispatcher() = reinterpret_cast<Dispatcher>(reinterpret_cast<void (*)()>(def->ml_meth));
    def->ml_meth = guarded;
  }
}

// ---------------------------------------------------------------------------
// Instances

/// Whether `inst`, to be used as an instance of the bound class `info`, holds
/// exactly one bound object, laid out as its current class says. pybind11
/// trusts an instance's current class to describe its storage; a class that
/// derives from two bound classes, or is given to an instance afterwards
/// through `__class__`, describes it wrongly, and such an instance is refused.
inline bool holdsOne(py::detail::instance* inst, const py::detail::type_info* info) {
  if (!inst->simple_layout) return false;
  return Py_TYPE(inst) == info->type || py::detail::all_type_info(Py_TYPE(inst)).size() == 1;
}

/// Frees an instance that `tp_alloc` made and nothing else touched: the
/// inverse of `PyType_GenericAlloc`, without the deallocator, which would
/// read the storage layout that was never set up.
inline void discardInstance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  if ((type->tp_flags & Py_TPFLAGS_HEAPTYPE) != 0) Py_DECREF(type);
}

/// `tp_new` of each bound class, and of the Python classes derived from it.
/// pybind11's own uses the new object without checking that it was
/// allocated. Being the class's own slot, it also gives the class its own
/// `__new__`, which makes pickling with protocols 0 and 1 refuse the class
/// (the standard library would otherwise call pybind11's common base with
/// the instance, which cannot make an object of no bound class).
inline PyObject* newInstance(PyTypeObject* type, PyObject* /*args*/, PyObject* /*kwargs*/) {
  if (!prepareThread()) return nullptr;
  try {
    // pybind11 caches a Python subclass's bound classes on first use, and
    // keeps a half-filled entry for good if that fails; filling it before
    // the object exists leaves nothing to undo, and a failed entry is
    // dropped so that the next use fills it again.
    (void)py::detail::all_type_info(type);
  } catch (...) {
    // Only a Python subclass can get here: a bound class's entry is made
    // when it is registered.
    py::detail::get_internals().registered_types_py.erase(type);
    return raiseHandledException();
  }
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  try {
    reinterpret_cast<py::detail::instance*>(self)->allocate_layout();
  } catch (...) {
    discardInstance(self);
    return raiseHandledException();
  }
  return self;
}

/// The type set-up of a bound class; see `newInstance`.
inline void setUpType(PyHeapTypeObject* heap_type) { heap_type->ht_type.tp_new = newInstance; }

/// The body of a bound `__init__`: builds a `T` from `args` and gives it to
/// the instance. Either the instance ends up holding and registering the new
/// object, or, when anything throws, it is left as it was and the object is
/// destroyed; pybind11's own constructor could leave an instance pointing at
/// an object that was freed, or one never destroyed.
template <typename T, typename... Args>
void construct(py::detail::value_and_holder& v_h, Args&&... args) {
  if (!holdsOne(v_h.inst, v_h.type)) {
    throw py::type_error(std::string(v_h.type->type->tp_name) +
                         " cannot be combined with another bound class in one object");
  }
  auto object = std::make_unique<T>(std::forward<Args>(args)...);
  v_h.value_ptr() = object.get();
  try {
    // Registers the instance, then moves the holder in; only the first step
    // can fail.
    v_h.type->init_instance(v_h.inst, &object);
  } catch (...) {
    v_h.value_ptr() = nullptr;
    throw;
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

// ---------------------------------------------------------------------------
// Module entry

/// The module entry: pybind11's standard one, with two changes. A
/// subinterpreter is refused before pybind11 first looks for its process
/// state, which from a subinterpreter waits forever for an interpreter lock
/// that the importing thread already holds; and every step after the version
/// check runs inside the handler that turns failures into ImportError.
inline PyObject* initModule(const char* name, PyModuleDef* def, void (*init)(py::module_&)) {
  PYBIND11_CHECK_PYTHON_VERSION
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_Format(PyExc_ImportError,
                 "%s cannot be imported in a subinterpreter; import it in the main interpreter",
                 name);
    return nullptr;
  }
  if (!prepareThread()) return nullptr;
  try {
    PYBIND11_ENSURE_INTERNALS_READY
    auto m = py::module_::create_extension_module(name, nullptr, def);
    init(m);
    return m.ptr();
  }
  PYBIND11_CATCH_INIT_EXCEPTIONS
}

// ---------------------------------------------------------------------------
// Conversions

/// Text from Python, as pybind11 converts `std::string` (a `str` as UTF-8,
/// or `bytes`), except that a failure to allocate the UTF-8 form raises
/// MemoryError instead of passing as an argument that does not convert.
struct Text {
  std::string value;
};

/// An answer of a set-valued query, given to Python as a new `set` of `str`.
struct TypeNames {
  std::set<std::string> values;
};

/// The Python string of a type name. The type names of the target tables
/// are made once and shared by every answer; any other text is decoded.
/// nullptr, with the Python error set, when that fails.
inline PyObject* typeNameObject(const std::string& text) {
  static constexpr std::array<std::string_view, 5> kTypeNames{"int8", "int16", "int32", "float16",
                                                              "float32"};
  // Kept for the life of the process, as the interned strings they are.
  static std::array<PyObject*, kTypeNames.size()> made{};
  for (std::size_t i = 0; i < kTypeNames.size(); ++i) {
    if (text != kTypeNames[i]) continue;
    if (made[i] == nullptr) {
      made[i] = PyUnicode_InternFromString(text.c_str());
      if (made[i] == nullptr) return nullptr;
    }
    Py_INCREF(made[i]);
    return made[i];
  }
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

}  // namespace orvel::binding

namespace pybind11::detail {

template <>
struct type_caster<orvel::binding::Text> {
  PYBIND11_TYPE_CASTER(orvel::binding::Text, make_caster<std::string>::name);

  bool load(handle src, bool convert) {
    if (PyUnicode_Check(src.ptr())) {
      Py_ssize_t size = 0;
      const char* utf8 = PyUnicode_AsUTF8AndSize(src.ptr(), &size);
      if (utf8 == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError) != 0) throw error_already_set();
        PyErr_Clear();  // lone surrogates: not text that converts
        return false;
      }
      value.value.assign(utf8, static_cast<std::size_t>(size));
      return true;
    }
    make_caster<std::string> bytes;
    if (!bytes.load(src, convert)) return false;
    value.value = cast_op<std::string&&>(std::move(bytes));
    return true;
  }
};

template <>
struct type_caster<orvel::binding::TypeNames> {
  PYBIND11_TYPE_CASTER(orvel::binding::TypeNames, make_caster<std::set<std::string>>::name);

  // Results only: nothing converts into this type.
  bool load(handle /*src*/, bool /*convert*/) { return false; }

  static handle cast(const orvel::binding::TypeNames& src, return_value_policy /*policy*/,
                     handle /*parent*/) {
    auto set = reinterpret_steal<object>(PySet_New(nullptr));
    if (!set) throw error_already_set();
    for (const std::string& text : src.values) {
      auto item = reinterpret_steal<object>(orvel::binding::typeNameObject(text));
      if (!item || PySet_Add(set.ptr(), item.ptr()) != 0) throw error_already_set();
    }
    return set.release();
  }
};

}  // namespace pybind11::detail
