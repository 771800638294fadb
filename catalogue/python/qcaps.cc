// Python module `qcaps`: the class "OperatorType" and its five queries. Each
// adapter copies the type text, interns the operator name, and makes exactly
// one catalogue call; all behaviour lives in the catalogue itself.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>  // std::set<std::string> -> set

#include "catalogue/operator_type.h"

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
    value_and_holder vh = reinterpret_cast<instance*>(src.ptr())->get_value_and_holder(info);
    if (!vh.holder_constructed()) return false;
    value.catalogue = vh.value_ptr<orvel::OperatorType>();
    return true;
  }
};

}  // namespace pybind11::detail

namespace orvel {

PYBIND11_MODULE(qcaps, m) {
  py::class_<OperatorType>(m, "OperatorType")
      .def(py::init<const std::string&>())
      .def(
          "is_input_support",
          [](Constructed self, std::string kind, std::string qtype, int idx) {
            return self.catalogue->isInputSupport(Symbol(kind), qtype, idx);
          },
          py::arg("kind"), py::arg("qtype"), py::arg("idx") = 0)
      .def("is_output_support",
           [](Constructed self, std::string kind, std::string qtype) {
             return self.catalogue->isOutputSupport(Symbol(kind), qtype);
           })
      .def(
          "input_support_types",
          [](Constructed self, std::string kind, int idx) {
            return self.catalogue->inputSupportTypes(Symbol(kind), idx);
          },
          py::arg("kind"), py::arg("idx") = 0)
      .def("output_support_types",
           [](Constructed self, std::string kind) {
             return self.catalogue->outputSupportTypes(Symbol(kind));
           })
      .def("support_types", [](Constructed self, std::string kind, std::string qtype) {
        return self.catalogue->supportTypes(Symbol(kind), qtype);
      });
}

}  // namespace orvel
