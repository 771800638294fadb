// Python module `qattrs`. Every operation, the setters included, is a
// read-only property: reading `attrs.set_scale` applies the change and
// yields None. `binding_support.h` makes the edge safe against hostile
// callers and against memory running out.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>  // std::vector <-> list

#include <type_traits>  // std::is_void_v
#include <utility>      // std::move
#include <vector>       // std::vector

#include "attrs/binding_support.h"
#include "attrs/calibration_attrs.h"
#include "attrs/quantization_attrs.h"

namespace py = pybind11;

namespace tessar {

/// The native object of a Python instance whose `__init__` has run. pybind11
/// would hand a property of an instance made by `__new__` alone raw,
/// unconstructed storage; this argument converts only constructed instances,
/// so such a read raises TypeError like any argument that does not convert.
template <typename T>
struct Constructed {
  T* object;
};

}  // namespace tessar

namespace pybind11::detail {

template <typename T>
struct type_caster<tessar::Constructed<T>> {
  // Rendered as the class itself, like a plain `T&`.
  PYBIND11_TYPE_CASTER(tessar::Constructed<T>, make_caster<T>::name);

  bool load(handle src, bool /*convert*/) {
    // The class's registration, looked up once.
    static const type_info* const info = get_type_info(typeid(T));
    if (!PyObject_TypeCheck(src.ptr(), info->type)) return false;
    auto* inst = reinterpret_cast<instance*>(src.ptr());
    if (!tessar::binding::holdsOne(inst, info) || !inst->simple_holder_constructed) return false;
    value.object = static_cast<T*>(inst->simple_value_holder[0]);
    return true;
  }
};

}  // namespace pybind11::detail

namespace tessar {
namespace {

template <typename Method>
struct ClassOf;
template <typename C, typename R>
struct ClassOf<R (C::*)()> {
  using type = C;
};
template <typename C, typename R>
struct ClassOf<R (C::*)() const> {
  using type = C;
};

/// The getter of a property that performs `Method` on a constructed object.
template <auto Method>
auto perform() {
  using Class = typename ClassOf<decltype(Method)>::type;
  return [](Constructed<Class> self) {
    if constexpr (std::is_void_v<decltype((self.object->*Method)())>) {
      (self.object->*Method)();
    } else {
      return binding::toPython((self.object->*Method)());
    }
  };
}

/// `__init__` overloads: a `T` made from the arguments.
template <typename T, typename... Args>
auto init() {
  return [](py::detail::value_and_holder& v_h, Args... args) {
    binding::construct<T>(v_h, std::move(args)...);
  };
}

}  // namespace

void pybind11_init_qattrs(py::module_& m) {
  const auto constructor = py::detail::is_new_style_constructor();
  using QA = QuantizationAttrs;
  py::class_<QA> quantization(m, "QuantizationAttrs", py::custom_type_setup(binding::setUpType));
  quantization.def("__init__", init<QA>(), constructor)
      .def("__init__", init<QA, int64_t>(), constructor)
      .def_property_readonly("get_value", perform<&QA::get_value>())
      .def_property_readonly("set_scale", perform<&QA::set_scale>())
      .def_property_readonly("set_shift", perform<&QA::set_shift>())
      .def_property_readonly("set_static", perform<&QA::set_static>())
      .def_property_readonly("set_dynamic", perform<&QA::set_dynamic>())
      .def_property_readonly("set_symmetric", perform<&QA::set_symmetric>())
      .def_property_readonly("set_asymmetric", perform<&QA::set_asymmetric>())
      .def_property_readonly("set_per_tensor", perform<&QA::set_per_tensor>())
      .def_property_readonly("set_per_channel", perform<&QA::set_per_channel>())
      .def_property_readonly("set_per_block", perform<&QA::set_per_block>())
      .def_property_readonly("set_feature", perform<&QA::set_feature>())
      .def_property_readonly("set_weight", perform<&QA::set_weight>())
      .def_property_readonly("is_scale", perform<&QA::is_scale>())
      .def_property_readonly("is_shift", perform<&QA::is_shift>())
      .def_property_readonly("is_symmetric", perform<&QA::is_symmetric>())
      .def_property_readonly("is_asymmetric", perform<&QA::is_asymmetric>())
      .def_property_readonly("is_static", perform<&QA::is_static>())
      .def_property_readonly("is_dynamic", perform<&QA::is_dynamic>())
      .def_property_readonly("is_per_tensor", perform<&QA::is_per_tensor>())
      .def_property_readonly("is_per_channel", perform<&QA::is_per_channel>())
      .def_property_readonly("is_per_block", perform<&QA::is_per_block>())
      .def_property_readonly("is_feature", perform<&QA::is_feature>())
      .def_property_readonly("is_weight", perform<&QA::is_weight>());

  binding::seal(quantization);

  using CA = CalibrationAttrs;
  py::class_<CA> calibration(m, "CalibrationAttrs", py::custom_type_setup(binding::setUpType));
  calibration.def("__init__", init<CA>(), constructor)
      .def("__init__", init<CA, std::vector<int64_t>>(), constructor)
      .def_property_readonly("set_max", perform<&CA::set_max>())
      .def_property_readonly("set_kl", perform<&CA::set_kl>())
      .def_property_readonly("set_percentile", perform<&CA::set_percentile>())
      .def_property_readonly("set_min_max", perform<&CA::set_min_max>())
      .def_property_readonly("set_max_per_channel", perform<&CA::set_max_per_channel>())
      .def_property_readonly("set_percentile_per_channel",
                             perform<&CA::set_percentile_per_channel>())
      .def_property_readonly("get_value", perform<&CA::get_value>())
      .def_property_readonly("number_of_methods", perform<&CA::number_of_methods>());
  binding::seal(calibration);
}

}  // namespace tessar

namespace {
py::module_::module_def
    qattrs_module_def;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
}  // namespace

extern "C" PYBIND11_EXPORT PyObject* PyInit_qattrs() {
  return tessar::binding::initModule("qattrs", &qattrs_module_def, tessar::pybind11_init_qattrs);
}
