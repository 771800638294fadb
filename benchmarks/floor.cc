// The binding floor: a class with the same constructor and methods as
// qcaps.OperatorType, taking the same arguments through the same
// conversions, that returns a prebuilt copy of an answer without consulting
// any catalogue. `prime` sets the answers before timing.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <set>
#include <string>

namespace py = pybind11;

namespace {

struct Floor {
  explicit Floor(const std::string& /*target*/) {}
  std::set<std::string> types;
  bool flag = false;
};

}  // namespace

PYBIND11_MODULE(qcaps_floor, m) {
  py::class_<Floor>(m, "OperatorType")
      .def(py::init<const std::string&>())
      .def("prime",
           [](Floor& self, std::set<std::string> types, bool flag) {
             self.types = std::move(types);
             self.flag = flag;
           })
      .def(
          "is_input_support",
          [](const Floor& self, std::string kind, std::string qtype, int idx) {
            (void)kind, (void)qtype, (void)idx;
            return self.flag;
          },
          py::arg("kind"), py::arg("qtype"), py::arg("idx") = 0)
      .def("is_output_support",
           [](const Floor& self, std::string kind, std::string qtype) {
             (void)kind, (void)qtype;
             return self.flag;
           })
      .def(
          "input_support_types",
          [](const Floor& self, std::string kind, int idx) {
            (void)kind, (void)idx;
            return self.types;
          },
          py::arg("kind"), py::arg("idx") = 0)
      .def("output_support_types",
           [](const Floor& self, std::string kind) {
             (void)kind;
             return self.types;
           })
      .def("support_types", [](const Floor& self, std::string kind, std::string qtype) {
        (void)kind, (void)qtype;
        return self.types;
      });
}
