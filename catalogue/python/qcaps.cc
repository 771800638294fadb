// Python module `qcaps`: the class "OperatorType" and its five queries. Each
// adapter copies the type text, interns the operator name, and makes exactly
// one catalogue call; all behaviour lives in the catalogue itself.
// `binding_support.h` makes the edge safe against hostile callers and
// against memory running out.

#include <pybind11/pybind11.h>

#include "catalogue/operator_type.h"
#include "catalogue/python/binding_support.h"

namespace py = pybind11;

namespace orvel {

/// The catalogue of a Python instance whose `__init__` has run. pybind11
/// would hand a method of an instance made by `OperatorType.__new__` alone
/// raw, unconstructed storage; this argument converts only constructed
/// instances, so such a call raises TypeError like any argument that does
/// not convert.
struct Constructed {
  const OperatorType* catalogue;
};

}  // namespace orvel

namespace pybind11::detail {

template <>
struct type_caster<orvel::Constructed> {
  // Rendered as the class itself, like a plain `const OperatorType&`.
  PYBIND11_TYPE_CASTER(orvel::Constructed, make_caster<orvel::OperatorType>::name);

  bool load(handle src, bool /*convert*/) {
    // The class's registration, looked up once.
    static const type_info* const info = get_type_info(typeid(orvel::OperatorType));
    if (!PyObject_TypeCheck(src.ptr(), info->type)) return false;
    auto* inst = reinterpret_cast<instance*>(src.ptr());
    if (!orvel::binding::holdsOne(inst, info) || !inst->simple_holder_constructed) return false;
    value.catalogue = static_cast<const orvel::OperatorType*>(inst->simple_value_holder[0]);
    return true;
  }
};

}  // namespace pybind11::detail

namespace orvel {

using binding::Text;
using binding::TypeNames;

void pybind11_init_qcaps(py::module_& m) {
  py::class_<OperatorType> cls(m, "OperatorType", py::custom_type_setup(binding::setUpType));
  cls.def(
         "__init__",
         [](py::detail::value_and_holder& v_h, Text target) {
           binding::construct<OperatorType>(v_h, target.value);
         },
         py::detail::is_new_style_constructor())
      .def(
          "is_input_support",
          [](Constructed self, Text kind, Text qtype, int idx) {
            return self.catalogue->isInputSupport(Symbol(kind.value), qtype.value, idx);
          },
          py::arg("kind"), py::arg("qtype"), py::arg("idx") = 0)
      .def("is_output_support",
           [](Constructed self, Text kind, Text qtype) {
             return self.catalogue->isOutputSupport(Symbol(kind.value), qtype.value);
           })
      .def(
          "input_support_types",
          [](Constructed self, Text kind, int idx) {
            return TypeNames{self.catalogue->inputSupportTypes(Symbol(kind.value), idx)};
          },
          py::arg("kind"), py::arg("idx") = 0)
      .def("output_support_types",
           [](Constructed self, Text kind) {
             return TypeNames{self.catalogue->outputSupportTypes(Symbol(kind.value))};
           })
      .def("support_types", [](Constructed self, Text kind, Text qtype) {
        return TypeNames{self.catalogue->supportTypes(Symbol(kind.value), qtype.value)};
      });
  binding::seal(cls);
}

}  // namespace orvel

namespace {
py::module_::module_def
    qcaps_module_def;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
}  // namespace

extern "C" PYBIND11_EXPORT PyObject* PyInit_qcaps() {
  return orvel::binding::initModule("qcaps", &qcaps_module_def, orvel::pybind11_init_qcaps);
}
