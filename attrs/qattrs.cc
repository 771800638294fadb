// Python module `qattrs`. Every operation, the setters included, is a
// read-only property: reading `attrs.set_scale` applies the change and
// yields None. The shared binding guard makes the edge safe against hostile
// callers and against memory running out.

#include <pybind11/pybind11.h>

#include <type_traits>  // std::is_void_v
#include <utility>      // std::move

#include "attrs/calibration_attrs.h"
#include "attrs/quantization_attrs.h"
#include "binding/convert.h"
#include "binding/guard.h"

namespace py = pybind11;

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
  return [](binding::Constructed<Class> self) {
    if constexpr (std::is_void_v<decltype((self.object->*Method)())>) {
      (self.object->*Method)();
    } else {
      return binding::toPython((self.object->*Method)());
    }
  };
}

/// `__init__` overloads: a `T` made from the arguments, given as the
/// wrappers that convert them (see binding/convert.h).
template <typename T, typename... Args>
auto init() {
  return [](binding::Unbuilt<T> self, Args... args) {
    binding::construct(self, std::move(args.value)...);
  };
}

}  // namespace

void pybind11_init_qattrs(py::module_& m) {
  const auto constructor = py::detail::is_new_style_constructor();
  // The argument of the second `__init__` converts in pybind11's first pass
  // or not at all; a second, converting pass would run its code again.
  const auto once = py::arg().noconvert();
  using QA = QuantizationAttrs;
  auto quantization = binding::bindClass<QA>(m, "QuantizationAttrs");
  quantization.def("__init__", init<QA>(), constructor)
      .def("__init__", init<QA, binding::Integer<int64_t>>(), constructor, once)
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
  auto calibration = binding::bindClass<CA>(m, "CalibrationAttrs");
  calibration.def("__init__", init<CA>(), constructor)
      .def("__init__", init<CA, binding::IntegerList>(), constructor, once)
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
  return binding::initModule("qattrs", &qattrs_module_def, tessar::pybind11_init_qattrs);
}
