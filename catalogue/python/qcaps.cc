// Python module `qcaps`: the class "OperatorType" and its five queries. Each
// adapter copies the type text, interns the operator name, and makes exactly
// one catalogue call; all behaviour lives in the catalogue itself.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>  // std::set<std::string> -> set

#include "catalogue/operator_type.h"

namespace py = pybind11;

namespace orvel {

PYBIND11_MODULE(qcaps, m) {
  py::class_<OperatorType>(m, "OperatorType")
      .def(py::init<const std::string&>())
      .def(
          "is_input_support",
          [](const OperatorType& self, std::string kind, std::string qtype, int idx) {
            return self.isInputSupport(Symbol(kind), qtype, idx);
          },
          py::arg("kind"), py::arg("qtype"), py::arg("idx") = 0)
      .def("is_output_support",
           [](const OperatorType& self, std::string kind, std::string qtype) {
             return self.isOutputSupport(Symbol(kind), qtype);
           })
      .def(
          "input_support_types",
          [](const OperatorType& self, std::string kind, int idx) {
            return self.inputSupportTypes(Symbol(kind), idx);
          },
          py::arg("kind"), py::arg("idx") = 0)
      .def("output_support_types",
           [](const OperatorType& self, std::string kind) {
             return self.outputSupportTypes(Symbol(kind));
           })
      .def("support_types", [](const OperatorType& self, std::string kind, std::string qtype) {
        return self.supportTypes(Symbol(kind), qtype);
      });
}

}  // namespace orvel
