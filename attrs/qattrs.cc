// Python module `qattrs`. Every operation, the setters included, is a
// read-only property: reading `attrs.set_scale` applies the change and
// yields None.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>  // std::vector <-> list

#include "attrs/calibration_attrs.h"
#include "attrs/quantization_attrs.h"

namespace py = pybind11;

namespace tessar {

PYBIND11_MODULE(qattrs, m) {
  using QA = QuantizationAttrs;
  py::class_<QA>(m, "QuantizationAttrs")
      .def(py::init<>())
      .def(py::init<int64_t>())
      .def_property_readonly("get_value", &QA::get_value)
      .def_property_readonly("set_scale", &QA::set_scale)
      .def_property_readonly("set_shift", &QA::set_shift)
      .def_property_readonly("set_static", &QA::set_static)
      .def_property_readonly("set_dynamic", &QA::set_dynamic)
      .def_property_readonly("set_symmetric", &QA::set_symmetric)
      .def_property_readonly("set_asymmetric", &QA::set_asymmetric)
      .def_property_readonly("set_per_tensor", &QA::set_per_tensor)
      .def_property_readonly("set_per_channel", &QA::set_per_channel)
      .def_property_readonly("set_per_block", &QA::set_per_block)
      .def_property_readonly("set_feature", &QA::set_feature)
      .def_property_readonly("set_weight", &QA::set_weight)
      .def_property_readonly("is_scale", &QA::is_scale)
      .def_property_readonly("is_shift", &QA::is_shift)
      .def_property_readonly("is_symmetric", &QA::is_symmetric)
      .def_property_readonly("is_asymmetric", &QA::is_asymmetric)
      .def_property_readonly("is_static", &QA::is_static)
      .def_property_readonly("is_dynamic", &QA::is_dynamic)
      .def_property_readonly("is_per_tensor", &QA::is_per_tensor)
      .def_property_readonly("is_per_channel", &QA::is_per_channel)
      .def_property_readonly("is_per_block", &QA::is_per_block)
      .def_property_readonly("is_feature", &QA::is_feature)
      .def_property_readonly("is_weight", &QA::is_weight);

  using CA = CalibrationAttrs;
  py::class_<CA>(m, "CalibrationAttrs")
      .def(py::init<>())
      .def(py::init<const std::vector<int64_t>&>())
      .def_property_readonly("set_max", &CA::set_max)
      .def_property_readonly("set_kl", &CA::set_kl)
      .def_property_readonly("set_percentile", &CA::set_percentile)
      .def_property_readonly("set_min_max", &CA::set_min_max)
      .def_property_readonly("set_max_per_channel", &CA::set_max_per_channel)
      .def_property_readonly("set_percentile_per_channel", &CA::set_percentile_per_channel)
      .def_property_readonly("get_value", &CA::get_value)
      .def_property_readonly("number_of_methods", &CA::number_of_methods);
}

}  // namespace tessar
