// This executable interns nothing before its one test, so it sees the
// process-wide table exactly as created.
#include <gtest/gtest.h>

#include <string>

#include "onnx/common/interned_strings.h"

namespace onnx {
namespace {

TEST(FreshSymbolTable, FirstNamesGetIdsFrom437InOrderOfFirstUse) {
  const Symbol first(kBuiltinSymbolCount);
  try {
    first.toString();
    ADD_FAILURE() << "id 437 has a name before anything was interned";
  } catch (const assert_error& e) {
    const std::string msg = e.what();
    EXPECT_EQ(msg.rfind("onnx/common/interned_strings.cc:", 0), 0u) << msg;
    EXPECT_NE(msg.find(": customString: Assertion `it != sym_to_string_.end()` failed."),
              std::string::npos)
        << msg;
  }

  EXPECT_EQ(static_cast<uint32_t>(Symbol(std::string("Conv"))), 48u);  // builtins take no id
  EXPECT_EQ(static_cast<uint32_t>(Symbol(std::string("conv"))), 437u);
  EXPECT_EQ(static_cast<uint32_t>(Symbol(std::string("MyCustomOp"))), 438u);
  EXPECT_EQ(static_cast<uint32_t>(Symbol(std::string("conv"))), 437u);
  EXPECT_EQ(static_cast<uint32_t>(Symbol(std::string("MyCustomOp"))), 438u);
  EXPECT_STREQ(first.toString(), "conv");
}

}  // namespace
}  // namespace onnx
