#pragma once
// Instances of the bound classes: how their storage is made, filled, read
// and freed.
//
// Invariants kept here:
// - Each bound class lays its instances out as a `Storage`: pybind11's
//   instance, then `madeFor`. Being larger than pybind11's common base, each
//   bound class is a layout of its own to CPython, which then refuses every
//   class that derives from two of them and every `__class__`, `__bases__`
//   or `mro()` change that would give an instance another bound class's
//   layout.
// - `madeFor` is the bound class an instance's storage was made for. The
//   class's `tp_new` writes it once, and nothing changes it after.
// - An instance's object is built only through `Unbuilt<T>` and `construct`,
//   read only through `Constructed<T>`, and destroyed only by the bound
//   class's `tp_dealloc`; each checks `madeFor` against `T` first. The
//   storage owns the object: `simple_value_holder[0]` points to it once
//   `simple_holder_constructed` is set, which `construct` does once.
// - pybind11's records of classes are neither read to find an instance's
//   storage nor changed; what Python code sees during a deallocation is
//   what it sees at any other time.
// - This module's pybind11 metaclass makes, changes and frees classes
//   through this header's slots or `type`'s own, never pybind11's.

#include <pybind11/pybind11.h>

#include <memory>       // std::unique_ptr, std::make_unique
#include <string>       // std::string
#include <type_traits>  // std::remove_const_t
#include <utility>      // std::forward

#include "binding/module.h"

namespace binding {

namespace py = pybind11;

/// The storage of every instance of a bound class.
struct Storage {
  py::detail::instance instance;  // pybind11's part: the flags and weak references
  PyTypeObject* madeFor;          // the bound class the storage was made for
};

inline Storage* storageOf(PyObject* self) { return reinterpret_cast<Storage*>(self); }

/// The Python class bound to `T`, once it is registered.
template <typename T>
PyTypeObject*& boundClass() {
  static PyTypeObject* type = nullptr;
  return type;
}

/// The bound class on `type`'s chain of layout bases, or nullptr. Every
/// bound class of this module derives directly from its pybind11 common
/// base. Unlike its bases and its method resolution order, CPython changes
/// that chain only for one with the same layout.
inline PyTypeObject* boundLayoutOf(PyTypeObject* type) {
  const auto* base = reinterpret_cast<PyTypeObject*>(py::detail::get_internals().instance_base);
  for (; type != nullptr; type = type->tp_base) {
    if (type->tp_base == base) return type;
  }
  return nullptr;
}

/// The storage of `self` as an instance whose object `__init__` of the bound
/// class `bound` is to build. Throws TypeError when `self` is not laid out
/// for that class or its object is built already.
inline Storage* unbuiltStorage(PyObject* self, PyTypeObject* bound) {
  if (self == nullptr || bound == nullptr || boundLayoutOf(Py_TYPE(self)) != bound ||
      storageOf(self)->madeFor != bound) {
    throw py::type_error("__init__(self, ...) called with invalid `self` argument");
  }
  if (storageOf(self)->instance.simple_holder_constructed) {
    throw py::type_error(std::string(bound->tp_name) +
                         " object is already initialised; __init__ cannot build it again");
  }
  return storageOf(self);
}

/// The object of `self` as a `T`, or nullptr unless `self`'s storage was
/// made for `T`'s class and its object is built.
template <typename T>
T* builtObject(PyObject* self) {
  PyTypeObject* const bound = boundClass<std::remove_const_t<T>>();
  // The bound class itself, or a class whose layout chain leads to it.
  if (Py_TYPE(self) != bound && boundLayoutOf(Py_TYPE(self)) != bound) return nullptr;
  const Storage* storage = storageOf(self);
  if (storage->madeFor != bound || !storage->instance.simple_holder_constructed) return nullptr;
  return static_cast<T*>(storage->instance.simple_value_holder[0]);
}

/// `tp_new` of the class bound to `T`, inherited by the Python classes
/// derived from it: storage made for `T`'s class, with no object yet.
template <typename T>
PyObject* newInstance(PyTypeObject* type, PyObject* /*args*/, PyObject* /*kwargs*/) {
  if (!inMainInterpreter()) return refuseSubinterpreter(type);
  if (!prepareThread()) return nullptr;
  PyTypeObject* const bound = boundClass<T>();
  if (boundLayoutOf(type) != bound) {
    PyErr_Format(PyExc_TypeError, "%s is not laid out as %s", type->tp_name, bound->tp_name);
    return nullptr;
  }
  PyObject* self = type->tp_alloc(type, 0);  // zeroed: no object, no flags
  if (self == nullptr) return nullptr;
  Storage* storage = storageOf(self);
  storage->instance.owned = true;
  storage->instance.simple_layout = true;
  storage->madeFor = bound;
  return self;
}

/// `tp_dealloc` of the class bound to `T`, reached from its Python
/// subclasses too: destroys the object that the storage owns, then frees
/// the instance as pybind11's own deallocator does.
template <typename T>
void deallocInstance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  if (PyType_HasFeature(type, Py_TPFLAGS_HAVE_GC) != 0) PyObject_GC_UnTrack(self);
  Storage* storage = storageOf(self);
  py::detail::instance& inst = storage->instance;
  if (inst.simple_holder_constructed) {
    void* object = inst.simple_value_holder[0];
    inst.simple_holder_constructed = false;
    inst.simple_value_holder[0] = nullptr;
    // Storage made for another class cannot reach this deallocator; were it
    // to, its object would be left allocated rather than freed as a `T`.
    if (storage->madeFor == boundClass<T>()) {
      const std::unique_ptr<T> owned(static_cast<T*>(object));
    }
  }
  if (inst.weakrefs != nullptr) PyObject_ClearWeakRefs(self);
  type->tp_free(self);
  Py_DECREF(type);  // a heap type, which each instance holds
}

/// `tp_call` of this module's pybind11 metaclass: makes an instance as
/// `type` does, then refuses one of a bound class whose `__init__` did not
/// build its object, as pybind11's own does, but from the instance's
/// storage. pybind11's own reads its record of the class, which it makes on
/// first use without checking its own allocations, and reads any object
/// that a `__new__` returns as one of its instances.
inline PyObject* makeInstance(PyObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* self = PyType_Type.tp_call(type, args, kwargs);
  if (self == nullptr) return nullptr;
  PyTypeObject* bound = boundLayoutOf(Py_TYPE(self));
  if (bound != nullptr && !storageOf(self)->instance.simple_holder_constructed) {
    PyErr_Format(PyExc_TypeError, "%.200s.__init__() must be called when overriding __init__",
                 bound->tp_name);
    Py_DECREF(self);
    return nullptr;
  }
  return self;
}

/// `tp_new` of this module's pybind11 common base, which has no object to
/// build: pybind11's own ends the process with an uncaught C++ exception.
inline PyObject* refuseCommonBase(PyTypeObject* type, PyObject* /*args*/, PyObject* /*kwargs*/) {
  PyErr_Format(PyExc_TypeError, "%s: No constructor defined!", type->tp_name);
  return nullptr;
}

/// `tp_dealloc` of this module's pybind11 metaclass: pybind11's own, which
/// frees a class without releasing the class's reference to its metaclass.
/// That reference is the class's own when the metaclass derives from this
/// one, and CPython leaves its release to this slot; without it, every
/// metaclass derived from this one would live for ever.
inline void freeClass(PyObject* cls) {
  PyTypeObject* meta = Py_TYPE(cls);  // a heap type, as is this metaclass
  py::detail::pybind11_meta_dealloc(cls);
  Py_DECREF(meta);
}

/// Points the slot wrapper `name` in `type`'s dictionary, which keeps the
/// slot the type had when it was made, at `slot`: a derived metaclass reaches
/// the slot through it (`super().__call__`, `type(cls).__setattr__`).
inline void retargetWrapper(PyTypeObject* type, const char* name, void* slot) {
  PyObject* wrapper = PyDict_GetItemString(type->tp_dict, name);  // borrowed
  if (wrapper != nullptr && Py_TYPE(wrapper) == &PyWrapperDescr_Type) {
    reinterpret_cast<PyWrapperDescrObject*>(wrapper)->d_wrapped = slot;
  }
}

/// Gives this module's pybind11 metaclass and common base the slots above.
/// Both belong to this module alone. The metaclass sets and deletes class
/// attributes as `type` does: pybind11's own asks the attribute it replaces
/// whether it is a static property, through that object's own `__class__`,
/// while holding it borrowed, and no class here has static properties.
inline void guardCommonTypes() {
  const auto& internals = py::detail::get_internals();
  auto* base = reinterpret_cast<PyTypeObject*>(internals.instance_base);
  PyTypeObject* meta = internals.default_metaclass;
  if (meta->tp_call == makeInstance) return;
  base->tp_new = refuseCommonBase;
  meta->tp_call = makeInstance;
  meta->tp_setattro = PyType_Type.tp_setattro;
  meta->tp_dealloc = freeClass;
  retargetWrapper(meta, "__call__", reinterpret_cast<void*>(makeInstance));
  retargetWrapper(meta, "__setattr__", reinterpret_cast<void*>(PyType_Type.tp_setattro));
  retargetWrapper(meta, "__delattr__", reinterpret_cast<void*>(PyType_Type.tp_setattro));
  PyType_Modified(base);
  PyType_Modified(meta);
}

/// The type set-up of the class bound to `T`; see `Storage`.
template <typename T>
void setUpType(PyHeapTypeObject* heap) {
  PyTypeObject& type = heap->ht_type;
  type.tp_basicsize = static_cast<Py_ssize_t>(sizeof(Storage));
  type.tp_new = newInstance<T>;
  type.tp_dealloc = deallocInstance<T>;
  boundClass<T>() = &type;
}

/// Registers the class bound to `T` in `m`. Its instances own their object
/// themselves (see `Storage`), so it declares no holder.
template <typename T>
py::class_<T> bindClass(py::module_& m, const char* name) {
  py::class_<T> cls(m, name, py::custom_type_setup(setUpType<T>));
  guardCommonTypes();
  return cls;
}

/// `self` of a bound `__init__`: an instance of `T`'s class whose object is
/// not built yet (see `unbuiltStorage`).
template <typename T>
struct Unbuilt {
  Storage* storage;
};

/// The body of a bound `__init__`: builds a `T` from `args` and gives it to
/// the instance. The arguments' own code may have run `__init__` on the same
/// instance meanwhile; that first object stays, and this call raises.
template <typename T, typename... Args>
void construct(Unbuilt<T> self, Args&&... args) {
  auto object = std::make_unique<T>(std::forward<Args>(args)...);
  py::detail::instance& inst = self.storage->instance;
  if (inst.simple_holder_constructed) {
    throw py::type_error(std::string(boundClass<T>()->tp_name) +
                         " object was initialised while its __init__ converted its arguments");
  }
  inst.simple_value_holder[0] = object.release();
  inst.simple_holder_constructed = true;
}

/// `self` of a bound method or property: an instance of `T`'s class whose
/// object is built. Any other argument does not convert, and the call
/// raises TypeError like one with an argument of the wrong type.
template <typename T>
struct Constructed {
  T* object;
};

}  // namespace binding

namespace pybind11::detail {

template <typename T>
struct type_caster<binding::Unbuilt<T>> {
  // Rendered as the class itself, like a plain `T&`.
  PYBIND11_TYPE_CASTER(binding::Unbuilt<T>, make_caster<T>::name);

  bool load(handle src, bool /*convert*/) {
    value.storage = binding::unbuiltStorage(src.ptr(), binding::boundClass<T>());
    return true;
  }
};

template <typename T>
struct type_caster<binding::Constructed<T>> {
  PYBIND11_TYPE_CASTER(binding::Constructed<T>, make_caster<T>::name);

  bool load(handle src, bool /*convert*/) {
    value.object = binding::builtObject<T>(src.ptr());
    return value.object != nullptr;
  }
};

}  // namespace pybind11::detail
