#pragma once
// Instances of the bound classes: how they are allocated, filled, checked
// and freed, against callers that change classes and their hierarchies.

#include <pybind11/pybind11.h>

#include <memory>         // std::make_unique
#include <string>         // std::string
#include <type_traits>    // std::remove_const_t
#include <unordered_map>  // std::unordered_map
#include <utility>        // std::forward
#include <vector>         // std::vector

#include "binding/module.h"

namespace binding {

namespace py = pybind11;

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

/// The instances of Python subclasses of the bound classes that are alive
/// now, each with the bound class whose storage it was given.
/// pybind11 drops its own record of a class when a weak reference to the
/// class reports it unreachable, which the collector does before it frees
/// the instances of a class that dies with them; the record it then makes
/// anew follows the class's bases as they are now, and would free the
/// storage as another class's. An entry lives exactly as long as its
/// instance, so the map holds no more entries than there are such
/// instances, however many classes a program makes and drops.
inline std::unordered_map<PyObject*, py::detail::type_info*>& subclassInstances() {
  // Holds no references, so it may outlive the interpreter at exit.
  static std::unordered_map<PyObject*, py::detail::type_info*> laidOut;
  return laidOut;
}

/// `tp_dealloc` of each bound class, reached from its Python subclasses
/// too. pybind11's own frees the native object as its record of the
/// instance's class describes it; for a subclass's instance, that record is
/// made to say again what it said when the instance was made (see
/// `subclassInstances`).
inline void deallocInstance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  if (type->tp_dealloc == deallocInstance) {
    py::detail::pybind11_object_dealloc(self);  // a bound class: its record never changes
    return;
  }
  auto& instances = subclassInstances();
  const auto layout = instances.find(self);
  if (layout == instances.end()) {
    py::detail::pybind11_object_dealloc(self);
    return;
  }
  py::detail::type_info* const info = layout->second;
  instances.erase(layout);
  auto& records = py::detail::get_internals().registered_types_py;
  const auto record = records.find(type);
  if (record != records.end() && record->second.size() == 1 && record->second[0] == info) {
    py::detail::pybind11_object_dealloc(self);
    return;
  }
  // Every allocation comes before the record changes: with no memory to
  // describe the storage, leaving the object allocated is safe, freeing it
  // as another class is not.
  const bool hadRecord = record != records.end();
  std::vector<py::detail::type_info*> laidOut;
  try {
    laidOut.push_back(info);
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
  py::detail::type_info* subclassOf = nullptr;  // a Python subclass's bound class
  try {
    // The storage is laid out from that record: a class whose bases have
    // changed since would get storage for a class it no longer derives from.
    const auto& bound = py::detail::all_type_info(type);
    if (bound.size() == 1 && bound[0]->type != type) {
      if (boundClassInMro(type) != bound[0]->type) {
        throw py::type_error(std::string(type->tp_name) + " no longer derives from " +
                             bound[0]->type->tp_name + " alone, as it did when first used");
      }
      subclassOf = bound[0];
    }
  } catch (...) {
    return raiseHandledException();
  }
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  auto* inst = reinterpret_cast<py::detail::instance*>(self);
  try {
    inst->allocate_layout();
  } catch (...) {
    discardInstance(self);
    return raiseHandledException();
  }
  if (subclassOf != nullptr) {
    try {
      subclassInstances().insert_or_assign(self, subclassOf);
    } catch (...) {
      inst->deallocate_layout();
      discardInstance(self);
      return raiseHandledException();
    }
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
