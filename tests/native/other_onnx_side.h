#pragma once

// The other library's side of beside_other_onnx_test, in a file that sees
// only that library's `onnx::Symbol` (the stand-in in other_onnx/).

#include <cstdint>
#include <string>

namespace other_onnx {

/// The id its `onnx::Symbol` gives `name`.
uint32_t idOf(const std::string& name);
/// Throws its `onnx::assert_error`.
[[noreturn]] void raise(const std::string& msg);
/// Whether its `catch (const onnx::assert_error&)` catches what `raiser` throws.
bool catches(void (*raiser)());

}  // namespace other_onnx
