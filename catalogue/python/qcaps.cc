// Python module `qcaps`: the class "OperatorType" and its five queries. Each
// adapter makes exactly one catalogue call, naming the operator by its text:
// the catalogue looks the name up without interning it, so names read from
// untrusted model files cost nothing that outlives the call. All behaviour
// lives in the catalogue itself. The
// shared binding guard makes the edge safe against hostile callers and
// against memory running out.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>  // the rendered name of the set answers

#include <array>        // std::array
#include <cstddef>      // std::size_t
#include <set>          // std::set
#include <string>       // std::string
#include <string_view>  // std::string_view

#include "binding/convert.h"
#include "binding/guard.h"
#include "catalogue/operator_type.h"

namespace py = pybind11;

namespace orvel {

/// The Python strings of the type names, made once and shared by every
/// answer, as interned strings kept for the life of the process; nullptr,
/// with the Python error set, when one cannot be made.
inline PyObject* typeNameObject(std::size_t code) {
  static std::array<PyObject*, kTypeNames.size()> made{};
  if (made[code] == nullptr) {
    made[code] = PyUnicode_InternFromString(kTypeNames[code].data());
    if (made[code] == nullptr) return nullptr;
  }
  Py_INCREF(made[code]);
  return made[code];
}

}  // namespace orvel

namespace pybind11::detail {

/// An answer of a set-valued query, given to Python as a new `set` of `str`
/// built from its mask.
template <>
struct type_caster<orvel::TypeSet> {
  PYBIND11_TYPE_CASTER(orvel::TypeSet, make_caster<std::set<std::string>>::name);

  // Results only: nothing converts into this type.
  bool load(handle /*src*/, bool /*convert*/) { return false; }

  static handle cast(const orvel::TypeSet& src, return_value_policy /*policy*/, handle /*parent*/) {
    auto set = reinterpret_steal<object>(PySet_New(nullptr));
    if (!set) throw error_already_set();
    for (std::size_t code = 0; code < orvel::kTypeNames.size(); ++code) {
      if (((src.mask >> code) & 1U) == 0) continue;
      auto item = reinterpret_steal<object>(orvel::typeNameObject(code));
      if (!item || PySet_Add(set.ptr(), item.ptr()) != 0) throw error_already_set();
    }
    for (const std::string& text : src.others) {
      auto item = reinterpret_steal<object>(
          PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
      if (!item || PySet_Add(set.ptr(), item.ptr()) != 0) throw error_already_set();
    }
    return set.release();
  }
};

}  // namespace pybind11::detail

namespace orvel {

using binding::Integer;
using binding::Text;
using Self = binding::Constructed<const OperatorType>;

void pybind11_init_qcaps(py::module_& m) {
  auto cls = binding::bindClass<OperatorType>(m, "OperatorType");
  cls.def(
         "__init__",
         [](binding::Unbuilt<OperatorType> self, Text target) {
           binding::construct(self, target.value);
         },
         py::detail::is_new_style_constructor())
      .def(
          "is_input_support",
          [](Self self, Text kind, Text qtype, Integer<int> idx) {
            return self.object->isInputSupport(std::string_view(kind.value), qtype.value,
                                               idx.value);
          },
          py::arg("kind"), py::arg("qtype"), py::arg("idx") = 0)
      .def("is_output_support",
           [](Self self, Text kind, Text qtype) {
             return self.object->isOutputSupport(std::string_view(kind.value), qtype.value);
           })
      .def(
          "input_support_types",
          [](Self self, Text kind, Integer<int> idx) {
            return self.object->inputSupportTypeSet(std::string_view(kind.value), idx.value);
          },
          py::arg("kind"), py::arg("idx") = 0)
      .def("output_support_types",
           [](Self self, Text kind) {
             return self.object->outputSupportTypeSet(std::string_view(kind.value));
           })
      .def("support_types", [](Self self, Text kind, Text qtype) {
        return self.object->supportTypeSet(std::string_view(kind.value), qtype.value);
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
