// Python module `qcaps`: the class "OperatorType" and its five queries. Each
// adapter copies the type text, interns the operator name, and makes exactly
// one catalogue call; all behaviour lives in the catalogue itself. The
// shared binding guard makes the edge safe against hostile callers and
// against memory running out.

#include <pybind11/pybind11.h>

#include "binding/convert.h"
#include "binding/guard.h"
#include "catalogue/operator_type.h"

namespace py = pybind11;

namespace orvel {

using binding::Integer;
using binding::Text;
using binding::TypeNames;
using Self = binding::Constructed<const OperatorType>;

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
          [](Self self, Text kind, Text qtype, Integer<int> idx) {
            return self.object->isInputSupport(Symbol(kind.value), qtype.value, idx.value);
          },
          py::arg("kind"), py::arg("qtype"), py::arg("idx") = 0)
      .def("is_output_support",
           [](Self self, Text kind, Text qtype) {
             return self.object->isOutputSupport(Symbol(kind.value), qtype.value);
           })
      .def(
          "input_support_types",
          [](Self self, Text kind, Integer<int> idx) {
            return TypeNames{self.object->inputSupportTypes(Symbol(kind.value), idx.value)};
          },
          py::arg("kind"), py::arg("idx") = 0)
      .def("output_support_types",
           [](Self self, Text kind) {
             return TypeNames{self.object->outputSupportTypes(Symbol(kind.value))};
           })
      .def("support_types", [](Self self, Text kind, Text qtype) {
        return TypeNames{self.object->supportTypes(Symbol(kind.value), qtype.value)};
      });
  binding::seal(cls);
}

}  // namespace orvel

namespace {
py::module_::module_def
    qcaps_module_def;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
}  // namespace

extern "C" PYBIND11_EXPORT PyObject* PyInit_qcaps() {
  return binding::initModule("qcaps", &qcaps_module_def, orvel::pybind11_init_qcaps);
}
