#pragma once

// A second, independent `onnx::Symbol` and `onnx::assert_error`, standing in
// for another library's (ONNX's own C++ library has both, under this same
// path), written for the tests: a table of its own with three builtins, so
// that its ids differ from this project's.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace onnx {

class assert_error : public std::runtime_error {
 public:
  explicit assert_error(const std::string& msg) : std::runtime_error(msg) {}
};

class Symbol {
 public:
  explicit Symbol(const std::string& name);
  uint32_t id() const { return value_; }
  const char* toString() const;

 private:
  uint32_t value_;
};

}  // namespace onnx
