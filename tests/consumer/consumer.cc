// Uses the installed headers and libraries as a quantizer's native code
// would, and exits non-zero on any wrong answer.
#include <cstdio>
#include <set>
#include <string>

#include "attrs/calibration_attrs.h"
#include "attrs/quantization_attrs.h"
#include "beside_onnx.h"
#include "catalogue/operator_type.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  failures += ok ? 0 : 1;
}

}  // namespace

int main() {
  const orvel::OperatorType corvel("corvel");
  check(corvel.inputSupportTypes(onnx::kConv, 1) == std::set<std::string>{"float32", "int8"},
        "corvel Conv input 1 is float32 or int8");
  check(corvel.isInputSupport(onnx::Symbol(std::string("Conv")), "int16", 0),
        "corvel Conv takes an int16 first input");
  check(corvel.inputSupportTypes("Conv", 1) == corvel.inputSupportTypes(onnx::kConv, 1),
        "queries take the operator by name");
  check(corvel.supportTypes(onnx::kReduceMean, "int8-?") == std::set<std::string>{"int16", "int8"},
        "corvel ReduceMean outputs for int8");
  check(corvel.isSupportedByLut(onnx::kSigmoid) && !corvel.isSupportedByLut(onnx::kRelu),
        "Sigmoid by look-up table, Relu not");
  check(orvel::OperatorType("m55").isSingleInt16Ops(onnx::kMatMul), "m55 MatMul single int16");
  check(std::string(onnx::Symbol(onnx::kDeformConv).toString()) == "DeformConv", "builtin name");

  tessar::QuantizationAttrs attrs;
  attrs.set_per_channel();
  check(attrs.get_value() == 0x2111, "flag word after set_per_channel");
  tessar::CalibrationAttrs calib;
  calib.set_kl();
  check(calib.number_of_methods() == 1, "one calibration method");
  failures += besideOnnxFailures();
  return failures == 0 ? 0 : 1;
}
