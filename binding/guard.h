#pragma once
// The edge between Python and a module's bound classes, made safe against
// callers that are hostile and against memory running out. Both extension
// modules compile this header into themselves; they share no object code and
// exchange nothing at run time. pybind11's defaults leave a few ways for a
// Python caller to end the process or get a wrong answer; each guard below
// closes one of them, in terms of pybind11's own registration and dispatch:
//
// - Every function of a bound class runs through `guardedDispatch`, so that
//   nothing the dispatcher throws reaches the interpreter as a C++ exception,
//   no call runs in a subinterpreter, and the message of a call that fits no
//   overload is built without running the arguments' own code.
// - Instances are allocated by `newInstance`, which checks the allocation and
//   the class's bound base; the class's own `__new__` also refuses the old
//   pickle protocols.
// - `construct` builds the native object and hands it to its Python instance
//   in one step that either completes or leaves the instance as it was, and
//   never fills an instance twice.
// - `holdsOne` checks, from the class hierarchy as it is now, that an
//   instance's storage is that of the class asked for.
// - `seal` marks the class immutable once it is registered, so no instance
//   can have its `__class__` swapped for another bound class.
// - `initModule` refuses subinterpreters before pybind11 looks for its state,
//   and a second load of the same file under another name.

#include <pybind11/pybind11.h>

#if defined(__GLIBCXX__)
#include <cxxabi.h>  // abi::__forced_unwind
#endif

#include <algorithm>      // std::max
#include <cstdlib>        // std::malloc, std::free
#include <cstring>        // std::strcmp
#include <memory>         // std::make_unique
#include <new>            // std::bad_alloc
#include <string>         // std::string
#include <type_traits>    // std::remove_const_t
#include <unordered_map>  // std::unordered_map
#include <utility>        // std::forward
#include <vector>         // std::vector

namespace binding {

namespace py = pybind11;

// ---------------------------------------------------------------------------
// Threads, interpreters and exceptions

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

/// Sets the Python exception for the C++ exception being handled; for use
/// inside a `catch`. Always returns nullptr, the failed call's result.
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
    PyErr_SetString(PyExc_RuntimeError, e.what());
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

// ---------------------------------------------------------------------------
// Instances

/// The one bound class among the bases of `type` as its method resolution
/// order says now, or nullptr when there is none or there are several.
/// pybind11's own record of a Python subclass's bound bases is made once and
/// never refreshed, while `__bases__` and a metaclass's `mro()` can change
/// which bound class the methods come from.
inline PyTypeObject* boundClassInMro(PyTypeObject* type) {
  const auto& registered = py::detail::get_internals().registered_types_py;
  PyTypeObject* found = nullptr;
  PyObject* mro = type->tp_mro;
  if (mro == nullptr || !PyTuple_Check(mro)) return nullptr;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
    auto* base = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
    const auto entry = registered.find(base);
    // A bound class is registered as itself; a Python subclass's entry
    // names the bound classes it derives from.
    if (entry == registered.end() || entry->second.size() != 1 || entry->second[0]->type != base) {
      continue;
    }
    if (found != nullptr) return nullptr;
    found = base;
  }
  return found;
}

/// Whether `inst`, to be used as an instance of the bound class `info`, holds
/// exactly one bound object, laid out for `info`. pybind11 trusts an
/// instance's current class to describe its storage; a class that derives
/// from two bound classes, one given to an instance afterwards through
/// `__class__`, or one whose bases changed since its first instance was made,
/// describes it wrongly, and such an instance is refused.
inline bool holdsOne(py::detail::instance* inst, const py::detail::type_info* info) {
  if (!inst->simple_layout) return false;
  PyTypeObject* type = Py_TYPE(inst);
  if (type == info->type) return true;  // a bound class's bases never change
  // The storage was laid out from pybind11's record of the class, made
  // before its first instance (see `newInstance`).
  const auto& bound = py::detail::all_type_info(type);
  return bound.size() == 1 && bound[0] == info && boundClassInMro(type) == info->type;
}

/// Throws TypeError unless `holdsOne(inst, info)`.
inline void requireOne(py::detail::instance* inst, const py::detail::type_info* info) {
  if (holdsOne(inst, info)) return;
  throw py::type_error(std::string(info->type->tp_name) +
                       " cannot be combined with another bound class in one object, nor "
                       "used by an object whose class no longer derives from it alone");
}

/// Python subclasses of the bound classes, each with the bound class its
/// instances are laid out for, recorded when its first instance is made.
/// pybind11 drops its own record of a class when a weak reference to the
/// class reports it unreachable, which the collector does before it frees
/// the instances of a class that dies with them; the record it then makes
/// anew follows the class's bases as they are now. Each entry's weak
/// reference tells whether its class is still the one at that address.
struct SubclassLayout {
  PyObject* alive;  // a weak reference to the class
  py::detail::type_info* info;
};

inline std::unordered_map<PyTypeObject*, SubclassLayout>& subclassLayouts() {
  // Holds no strong references, so it may outlive the interpreter at exit.
  static std::unordered_map<PyTypeObject*, SubclassLayout> layouts;
  return layouts;
}

/// Records that the instances of the Python subclass `type` are laid out
/// for `info`, unless that is already recorded for this class.
inline void recordLayout(PyTypeObject* type, py::detail::type_info* info) {
  auto& layouts = subclassLayouts();
  const auto found = layouts.find(type);
  if (found != layouts.end() &&
      PyWeakref_GetObject(found->second.alive) == reinterpret_cast<PyObject*>(type)) {
    return;
  }
  PyObject* alive = PyWeakref_NewRef(reinterpret_cast<PyObject*>(type), nullptr);
  if (alive == nullptr) throw py::error_already_set();
  if (found != layouts.end()) {
    Py_DECREF(found->second.alive);  // a class that died at the same address
    found->second = {alive, info};
    return;
  }
  try {
    layouts.emplace(type, SubclassLayout{alive, info});
  } catch (...) {
    Py_DECREF(alive);
    throw;
  }
}

/// `tp_dealloc` of each bound class, reached from its Python subclasses
/// too. pybind11's own frees the native object as its record of the
/// instance's class describes it; for a subclass, that record is made to say
/// again what it said when the instance was made (see `SubclassLayout`).
inline void deallocInstance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  if (type->tp_dealloc == deallocInstance) {
    py::detail::pybind11_object_dealloc(self);  // a bound class: its record never changes
    return;
  }
  auto& layouts = subclassLayouts();
  const auto layout = layouts.find(type);
  auto& records = py::detail::get_internals().registered_types_py;
  const auto record = records.find(type);
  if (layout == layouts.end() || (record != records.end() && record->second.size() == 1 &&
                                  record->second[0] == layout->second.info)) {
    py::detail::pybind11_object_dealloc(self);
    return;
  }
  // Every allocation comes before the record changes: with no memory to
  // describe the storage, leaving the object allocated is safe, freeing it
  // as another class is not.
  const bool hadRecord = record != records.end();
  std::vector<py::detail::type_info*> laidOut;
  try {
    laidOut.push_back(layout->second.info);
    if (!hadRecord) records.emplace(type, std::move(laidOut));
  } catch (...) {
    return;
  }
  if (hadRecord) record->second.swap(laidOut);  // laidOut now keeps the current record
  py::detail::pybind11_object_dealloc(self);
  // The deallocation may run Python code that changes the records.
  const auto after = records.find(type);
  if (after == records.end()) return;
  if (hadRecord) {
    after->second.swap(laidOut);
  } else {
    records.erase(after);
  }
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
  if (!inMainInterpreter()) return refuseSubinterpreter(type);
  if (!prepareThread()) return nullptr;
  try {
    // pybind11 caches a Python subclass's bound classes on first use, and
    // keeps a half-filled entry for good if that fails; filling it before
    // the object exists leaves nothing to undo, and a failed entry is
    // dropped so that the next use fills it again. Only a Python subclass
    // can fail here: a bound class's entry is made when it is registered.
    (void)py::detail::all_type_info(type);
  } catch (...) {
    py::detail::get_internals().registered_types_py.erase(type);
    return raiseHandledException();
  }
  try {
    // The storage is laid out from that record: a class whose bases have
    // changed since would get storage for a class it no longer derives from.
    const auto& bound = py::detail::all_type_info(type);
    if (bound.size() == 1 && bound[0]->type != type) {
      if (boundClassInMro(type) != bound[0]->type) {
        throw py::type_error(std::string(type->tp_name) + " no longer derives from " +
                             bound[0]->type->tp_name + " alone, as it did when first used");
      }
      recordLayout(type, bound[0]);
    }
  } catch (...) {
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

/// The type set-up of a bound class; see `newInstance` and `deallocInstance`.
inline void setUpType(PyHeapTypeObject* heap_type) {
  heap_type->ht_type.tp_new = newInstance;
  heap_type->ht_type.tp_dealloc = deallocInstance;
}

/// The body of a bound `__init__`: builds a `T` from `args` and gives it to
/// the instance. Either the instance ends up holding and registering the new
/// object, or, when anything throws, it is left as it was and the object is
/// destroyed; pybind11's own constructor could leave an instance pointing at
/// an object that was freed, or one never destroyed. The arguments' own code
/// may have run `__init__` on the same instance meanwhile (pybind11 checks
/// before converting them); that first object stays, and this call raises.
template <typename T, typename... Args>
void construct(py::detail::value_and_holder& v_h, Args&&... args) {
  requireOne(v_h.inst, v_h.type);
  if (v_h.holder_constructed() || v_h.instance_registered()) {
    throw py::type_error(std::string(v_h.type->type->tp_name) +
                         " object was initialised while its __init__ converted its arguments");
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

/// The object of a Python instance whose `__init__` has run, as a bound
/// function's `self`. pybind11 would hand a method of an instance made by
/// `__new__` alone raw, unconstructed storage, and trusts the instance's
/// class; this argument converts only constructed instances that `holdsOne`
/// accepts, so any other raises TypeError like an argument that does not
/// convert.
template <typename T>
struct Constructed {
  T* object;
};

// ---------------------------------------------------------------------------
// Dispatch

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

/// How an argument is shown in the message of a call that fits no overload:
/// the value itself for the built-in scalar types, whose text runs no code
/// of the caller's, and the type's name for anything else.
inline std::string describeArgument(PyObject* value) {
  if (value == Py_None || PyLong_CheckExact(value) || PyBool_Check(value) ||
      PyFloat_CheckExact(value) || PyUnicode_CheckExact(value) || PyBytes_CheckExact(value)) {
    auto text = py::reinterpret_steal<py::str>(PyObject_Repr(value));
    if (!text) throw py::error_already_set();
    return std::string(text);
  }
  return std::string("<") + Py_TYPE(value)->tp_name + " object>";
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
      msg += (PyUnicode_Check(key) ? std::string(py::str(key)) : describeArgument(key)) + "=" +
             describeArgument(value);
    }
  }
  PyErr_SetString(PyExc_TypeError, msg.c_str());
}

/// Calls pybind11's dispatcher. A call that fits no overload comes back as
/// NotImplemented (see `guardFunctions`), and its TypeError is raised here.
inline PyObject* dispatch(PyObject* self, PyObject* args, PyObject* kwargs) {
  if (kwargs != nullptr && PyDict_Size(kwargs) != 0) {
    const py::object positional = byPosition(*recordOf(self), args, kwargs);
    if (!positional.is_none()) return dispatch(self, positional.ptr(), nullptr);
  }
  PyObject* result = pybind11Dispatcher()(self, args, kwargs);
  if (result != Py_NotImplemented) return result;
  Py_DECREF(result);
  raiseMismatch(*recordOf(self), args, kwargs);
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
/// record is stale; the instance is checked first.
inline PyObject* guardedInit(PyObject* self, PyObject* args, PyObject* kwargs) {
  if (!inMainInterpreter() || PyTuple_Size(args) < 1) return guardedDispatch(self, args, kwargs);
  PyObject* object = PyTuple_GET_ITEM(args, 0);
  auto* scope = reinterpret_cast<PyTypeObject*>(recordOf(self)->scope.ptr());
  if (Py_TYPE(object) != scope && PyObject_TypeCheck(object, scope)) {
    if (!prepareThread()) return nullptr;
    try {
      requireOne(reinterpret_cast<py::detail::instance*>(object), py::detail::get_type_info(scope));
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

// ---------------------------------------------------------------------------
// Module entry

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

namespace pybind11::detail {

template <typename T>
struct type_caster<binding::Constructed<T>> {
  // Rendered as the class itself, like a plain `T&`.
  PYBIND11_TYPE_CASTER(binding::Constructed<T>, make_caster<T>::name);

  bool load(handle src, bool /*convert*/) {
    // The class's registration, looked up once.
    static const type_info* const info = get_type_info(typeid(std::remove_const_t<T>));
    if (!PyObject_TypeCheck(src.ptr(), info->type)) return false;
    auto* inst = reinterpret_cast<instance*>(src.ptr());
    if (!binding::holdsOne(inst, info) || !inst->simple_holder_constructed) return false;
    value.object = static_cast<T*>(inst->simple_value_holder[0]);
    return true;
  }
};

}  // namespace pybind11::detail
