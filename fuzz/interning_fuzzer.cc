// Arbitrary byte strings, NULs and invalid UTF-8 included, interned twice
// must give the same id and read back up to their first NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "onnx/common/interned_strings.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  const onnx::Symbol first(name);
  const onnx::Symbol second(name);
  require(static_cast<uint32_t>(first) == static_cast<uint32_t>(second));

  const char* text = first.toString();
  require(std::strcmp(text, name.c_str()) == 0);  // equal up to the first NUL
  require(first.toString() == text);              // stored once, at one address

  // Builtin ids only for builtin names, which hold no NUL.
  if (static_cast<uint32_t>(first) < onnx::kBuiltinSymbolCount) {
    require(name.find('\0') == std::string::npos && name == text);
  }
  // A name with a NUL is distinct from its prefix.
  if (name.find('\0') != std::string::npos) {
    require(static_cast<uint32_t>(onnx::Symbol(std::string(text))) != static_cast<uint32_t>(first));
  }
  return 0;
}
