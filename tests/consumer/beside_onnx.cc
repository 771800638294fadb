// A file that includes this project's headers and another library's
// "onnx/common/interned_strings.h" (the stand-in of tests/native/other_onnx,
// first on the include path, as ONNX's own could be): this project's headers
// are named by their installed "qcaps/" spelling, and QCAPS_BESIDE_ONNX
// leaves `onnx::Symbol` to the other library.
#define QCAPS_BESIDE_ONNX
#include "beside_onnx.h"

#include <cstdio>
#include <string>

#include "onnx/common/interned_strings.h"
#include "qcaps/catalogue/operator_type.h"
#include "qcaps/onnx/common/interned_strings.h"

int besideOnnxFailures() {
  int failures = 0;
  const auto check = [&failures](bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    failures += ok ? 0 : 1;
  };
  const onnx::Symbol theirs(std::string("Conv"));
  const onnx::qcaps::Symbol ours(std::string("Conv"));
  check(theirs.id() == 1 && ours == onnx::qcaps::kConv, "each onnx::Symbol keeps its own ids");
  const orvel::OperatorType corvel("corvel");
  check(corvel.isInputSupport(ours, "int16", 0) && corvel.isInputSupport("Conv", "int16", 0),
        "the catalogue beside another onnx::Symbol");
  return failures;
}
