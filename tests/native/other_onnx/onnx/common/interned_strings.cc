// The stand-in's table. Its definitions are weak, as inline functions of a
// header-only library are: a program that also links a definition under the
// same link name uses that one instead, without a word from the linker. Only
// distinct link names keep the two apart.
#include "onnx/common/interned_strings.h"

#include <vector>

namespace onnx {
namespace {

// Its names in id order: "Undefined", "Conv" and "Relu" first.
std::vector<std::string>& names() {
  static std::vector<std::string> table{"Undefined", "Conv", "Relu"};
  return table;
}

}  // namespace

__attribute__((weak)) Symbol::Symbol(const std::string& name) : value_(0) {
  std::vector<std::string>& table = names();
  while (value_ < table.size() && table[value_] != name) ++value_;
  if (value_ == table.size()) table.push_back(name);
}

__attribute__((weak)) const char* Symbol::toString() const {
  if (value_ >= names().size()) throw assert_error("no such symbol");
  return names()[value_].c_str();
}

}  // namespace onnx
