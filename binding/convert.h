#pragma once
// Conversions between Python objects and the native values of the bound
// functions. Where pybind11's standard casters do the wrong thing for a
// hostile or unlucky caller, these take their place: they run an argument's
// own code once per call, let through what that code raises unless it means
// "does not convert", refuse numbers that are not integral, and raise
// MemoryError when Python cannot allocate a result.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>  // the rendered names of the result types

#include <cstdint>      // int64_t, uint64_t
#include <limits>       // std::numeric_limits
#include <new>          // std::bad_alloc
#include <string>       // std::string
#include <type_traits>  // std::is_integral_v, std::is_same_v
#include <utility>      // std::move
#include <vector>       // std::vector

namespace binding {

namespace py = pybind11;

/// Text from Python, as pybind11 converts `std::string` (a `str` as UTF-8,
/// or `bytes`), except that a failure to allocate the UTF-8 form raises
/// MemoryError instead of passing as an argument that does not convert.
struct Text {
  std::string value;
};

/// An integer argument of type `T`, rendered as `int`.
template <typename T>
struct Integer {
  T value;
};

/// A list of integer arguments, from any sequence but `str` and `bytes`.
struct IntegerList {
  std::vector<int64_t> value;
};

/// After a Python call made for an argument's conversion failed: true when
/// its exception means only "does not convert" and has been cleared; false,
/// with the exception left set, for one that must reach the caller: a limit
/// of the interpreter's (MemoryError, RecursionError) and those that are no
/// `Exception`, such as KeyboardInterrupt and SystemExit.
inline bool doesNotConvert() {
  if (PyErr_ExceptionMatches(PyExc_Exception) == 0 ||
      PyErr_ExceptionMatches(PyExc_MemoryError) != 0 ||
      PyErr_ExceptionMatches(PyExc_RecursionError) != 0) {
    return false;
  }
  PyErr_Clear();
  return true;
}

/// Reads `src` as a signed 64-bit integer: an `int`, an object with
/// `__index__`, or a number whose `int()` equals it (`Decimal(7)`, but
/// neither `Decimal('1.9')` nor a float). Each of the object's hooks runs at
/// most once. False when the value does not convert; throws when the
/// object's own code raised what must reach the caller.
inline bool loadInteger(PyObject* src, int64_t& out) {
  if (PyFloat_Check(src)) return false;
  py::object integer;
  if (PyLong_Check(src)) {
    integer = py::reinterpret_borrow<py::object>(src);
  } else if (PyIndex_Check(src)) {
    integer = py::reinterpret_steal<py::object>(PyNumber_Index(src));
  } else if (PyNumber_Check(src)) {
    // A number that also reads as a float may have a fraction, which int()
    // drops; it converts only when it equals its integer. Whether it reads
    // as a float is asked before int() runs its code, which may change its
    // class, even to one without number slots.
    const bool readsAsFloat = Py_TYPE(src)->tp_as_number->nb_float != nullptr;
    integer = py::reinterpret_steal<py::object>(PyNumber_Long(src));
    if (integer && readsAsFloat) {
      const int equal = PyObject_RichCompareBool(integer.ptr(), src, Py_EQ);
      if (equal == 0) return false;
      if (equal < 0) integer = py::object();
    }
  } else {
    return false;
  }
  if (!integer) {
    if (doesNotConvert()) return false;
    throw py::error_already_set();
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(integer.ptr(), &overflow);
  if (overflow != 0) return false;
  if (value == -1 && PyErr_Occurred() != nullptr) {
    if (doesNotConvert()) return false;
    throw py::error_already_set();
  }
  out = value;
  return true;
}

/// An integer result, given to Python as an `int`.
template <typename T>
struct Int {
  T value;
};

/// A list of integers, given to Python as a new `list` of `int`.
struct IntList {
  std::vector<int64_t> values;
};

/// `result` as it is given to Python: integers and lists of them through the
/// casters below, anything else as it is.
template <typename R>
auto toPython(R result) {
  if constexpr (std::is_integral_v<R> && !std::is_same_v<R, bool>) {
    return Int<R>{result};
  } else if constexpr (std::is_same_v<R, std::vector<int64_t>>) {
    return IntList{std::move(result)};
  } else {
    return result;
  }
}

/// A new Python int, or nullptr with the Python error set.
inline PyObject* intObject(int64_t value) { return PyLong_FromLongLong(value); }
inline PyObject* intObject(uint64_t value) { return PyLong_FromUnsignedLongLong(value); }

}  // namespace binding

namespace pybind11::detail {

template <>
struct type_caster<binding::Text> {
  PYBIND11_TYPE_CASTER(binding::Text, make_caster<std::string>::name);

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

template <typename T>
struct type_caster<binding::Integer<T>> {
  PYBIND11_TYPE_CASTER(binding::Integer<T>, make_caster<T>::name);

  // Converts in either of pybind11's passes: the functions that take one
  // have a single overload that takes arguments, and the conversion is the
  // same in both.
  bool load(handle src, bool /*convert*/) {
    int64_t wide = 0;
    if (!binding::loadInteger(src.ptr(), wide)) return false;
    if (wide < std::numeric_limits<T>::min() || wide > std::numeric_limits<T>::max()) return false;
    value.value = static_cast<T>(wide);
    return true;
  }
};

template <>
struct type_caster<binding::IntegerList> {
  PYBIND11_TYPE_CASTER(binding::IntegerList, make_caster<std::vector<int64_t>>::name);

  // Reads the sequence as `list()` does: sized from its length, or from its
  // length hint where it has no length, then iterated, which takes linear
  // time for every built-in sequence. A length that can never be held
  // raises MemoryError before anything is read; a sequence that yields
  // fewer items than it claims gives what it yields, and what the
  // iteration raises reaches the caller. Signals are checked
  // between items, so a handler's exception ends a long read. An item that
  // does not convert refuses the whole argument.
  bool load(handle src, bool /*convert*/) {
    PyObject* sequence = src.ptr();
    if (PySequence_Check(sequence) == 0 || PyUnicode_Check(sequence) || PyBytes_Check(sequence)) {
      return false;
    }
    const Py_ssize_t size = PyObject_LengthHint(sequence, 0);
    if (size < 0) throw error_already_set();
    std::vector<int64_t> values;
    if (static_cast<std::size_t>(size) > values.max_size()) throw std::bad_alloc();
    values.reserve(static_cast<std::size_t>(size));
    auto items = reinterpret_steal<object>(PyObject_GetIter(sequence));
    if (!items) throw error_already_set();
    while (true) {
      if (PyErr_CheckSignals() != 0) throw error_already_set();
      auto item = reinterpret_steal<object>(PyIter_Next(items.ptr()));
      if (!item) {
        if (PyErr_Occurred() != nullptr) throw error_already_set();
        break;
      }
      int64_t code = 0;
      if (!binding::loadInteger(item.ptr(), code)) return false;
      values.push_back(code);
    }
    value.value = std::move(values);
    return true;
  }
};

template <typename T>
struct type_caster<binding::Int<T>> {
  PYBIND11_TYPE_CASTER(binding::Int<T>, make_caster<T>::name);

  // Results only: nothing converts into this type.
  bool load(handle /*src*/, bool /*convert*/) { return false; }

  static handle cast(const binding::Int<T>& src, return_value_policy /*policy*/,
                     handle /*parent*/) {
    PyObject* result = binding::intObject(src.value);
    if (result == nullptr) throw error_already_set();
    return result;
  }
};

template <>
struct type_caster<binding::IntList> {
  PYBIND11_TYPE_CASTER(binding::IntList, make_caster<std::vector<int64_t>>::name);

  // Results only: nothing converts into this type.
  bool load(handle /*src*/, bool /*convert*/) { return false; }

  static handle cast(const binding::IntList& src, return_value_policy /*policy*/,
                     handle /*parent*/) {
    auto list = reinterpret_steal<object>(PyList_New(static_cast<Py_ssize_t>(src.values.size())));
    if (!list) throw error_already_set();
    Py_ssize_t index = 0;
    for (const int64_t code : src.values) {
      PyObject* item = binding::intObject(code);
      if (item == nullptr) throw error_already_set();
      PyList_SetItem(list.ptr(), index++, item);  // steals item; cannot fail here
    }
    return list.release();
  }
};

}  // namespace pybind11::detail
