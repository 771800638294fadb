// Built with only tests/native/other_onnx on the include path, so that
// "onnx/common/interned_strings.h" is the stand-in.
#include "other_onnx_side.h"

#include "onnx/common/interned_strings.h"

namespace other_onnx {

uint32_t idOf(const std::string& name) { return onnx::Symbol(name).id(); }

void raise(const std::string& msg) { throw onnx::assert_error(msg); }

bool catches(void (*raiser)()) {
  try {
    raiser();
  } catch (const onnx::assert_error&) {
    return true;
  } catch (...) {
    return false;
  }
  return false;
}

}  // namespace other_onnx
