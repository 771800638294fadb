// This project's symbol table linked into one program with another library's
// `onnx::Symbol` and `onnx::assert_error` (the stand-in in other_onnx/, as
// ONNX's own would be): each side keeps its own table, ids and error type.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "../consumer/beside_onnx.h"
#include "onnx/common/interned_strings.h"
#include "other_onnx_side.h"

namespace {

uint32_t ourId(const std::string& name) { return onnx::Symbol(name); }

TEST(BesideAnotherOnnx, EachSideKeepsItsOwnIds) {
  EXPECT_EQ(ourId("MyCustomOp"), 437u);
  EXPECT_EQ(other_onnx::idOf("AnotherCustomOp"), 3u);
  EXPECT_EQ(other_onnx::idOf("MyCustomOp"), 4u);
  EXPECT_EQ(ourId("AnotherCustomOp"), 438u);
  EXPECT_EQ(other_onnx::idOf("Conv"), 1u);
  EXPECT_EQ(ourId("Conv"), 48u);
  EXPECT_STREQ(onnx::Symbol(onnx::kBuiltinSymbolCount).toString(), "MyCustomOp");
}

TEST(BesideAnotherOnnx, EachSideCatchesOnlyItsOwnAssertError) {
  bool caughtAsOurs = false;
  try {
    other_onnx::raise("theirs");
  } catch (const onnx::assert_error&) {
    caughtAsOurs = true;
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "theirs");
  }
  EXPECT_FALSE(caughtAsOurs);
  EXPECT_FALSE(other_onnx::catches([] {
    std::string msg = "ours";
    onnx::throw_assert_error(msg);
  }));
  EXPECT_TRUE(other_onnx::catches([] { other_onnx::raise("theirs"); }));
}

// tests/consumer/beside_onnx.cc: one file that includes both libraries'
// headers, built here against this tree and there against an installed one.
TEST(BesideAnotherOnnx, OneFileIncludesBothHeaders) { EXPECT_EQ(besideOnnxFailures(), 0); }

}  // namespace
