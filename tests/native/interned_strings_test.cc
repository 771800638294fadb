#include "onnx/common/interned_strings.h"

#include <gtest/gtest.h>

#include <climits>  // UINT32_MAX
#include <fstream>
#include <set>
#include <string>

#include "interned_strings_access.h"
#include "test_support.h"

namespace onnx {
namespace {

using Access = InternedStringsTestAccess;

Symbol symbolOfId(uint32_t id) { return Symbol(static_cast<BuiltinSymbol>(id)); }

// The line of `marker` in a source file of the project, counted from 1.
unsigned lineOf(const std::string& path, const std::string& marker) {
  std::ifstream in(std::string(QCAPS_SOURCE_DIR) + "/" + path);
  std::string line;
  for (unsigned number = 1; std::getline(in, line); ++number) {
    if (line.find(marker) != std::string::npos) {
      return number;
    }
  }
  return 0;
}

struct Builtin {
  BuiltinSymbol constant;
  uint32_t id;
  const char* name;
};

void PrintTo(const Builtin& b, std::ostream* os) { *os << b.name; }

class BuiltinSymbols : public ::testing::TestWithParam<Builtin> {};

TEST_P(BuiltinSymbols, ConstantIdAndNameAgree) {
  const Builtin& b = GetParam();
  EXPECT_EQ(static_cast<uint32_t>(b.constant), b.id);
  EXPECT_EQ(static_cast<uint32_t>(Symbol(std::string(b.name))), b.id);
  EXPECT_STREQ(Symbol(b.constant).toString(), b.name);
}

// Both ends of the list, names that differ only in case, the two spellings
// of transB, and the renamed double-underscore names.
INSTANTIATE_TEST_SUITE_P(
    EdgesAndTwins, BuiltinSymbols,
    ::testing::Values(Builtin{kspatial, 0, "spatial"}, Builtin{kDeformConv, 436, "DeformConv"},
                      Builtin{kBevPoolingV2, 435, "BevPoolingV2"}, Builtin{kConv, 48, "Conv"},
                      Builtin{kZtQuantize, 224, "ZtQuantize"}, Builtin{kadd, 9, "add"},
                      Builtin{kAdd, 10, "Add"}, Builtin{kSigmoid, 17, "Sigmoid"},
                      Builtin{ksigmoid, 26, "sigmoid"}, Builtin{ksplit, 42, "split"},
                      Builtin{kSplit, 293, "Split"}, Builtin{kshape, 76, "shape"},
                      Builtin{kShape, 303, "Shape"}, Builtin{ktransB, 81, "transB"},
                      Builtin{ktrasnB, 427, "trasnB"}, Builtin{kk, 165, "k"},
                      Builtin{kDunderAnd, 83, "__and__"}, Builtin{kDunderLshift, 84, "__lshift__"},
                      Builtin{kDunderOr, 85, "__or__"}, Builtin{kDunderRshift, 86, "__rshift__"},
                      Builtin{kDunderXor, 87, "__xor__"},
                      Builtin{kDunderControlInputs, 141, "__control_inputs"}));

TEST(BuiltinTable, EveryBuiltinRoundTripsAndNamesAreDistinct) {
  EXPECT_EQ(static_cast<uint32_t>(kBuiltinSymbolCount), 437u);
  std::set<std::string> names;
  int zt = 0;
  for (uint32_t id = 0; id < kBuiltinSymbolCount; ++id) {
    const std::string name = symbolOfId(id).toString();
    EXPECT_EQ(static_cast<uint32_t>(Symbol(name)), id) << name;
    names.insert(name);
    zt += name.rfind("Zt", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(names.size(), 437u);
  EXPECT_EQ(zt, 69);
}

TEST(BuiltinTable, BuiltinNamesAreStaticLiterals) {
  // The same pointer every time, whichever table asks.
  EXPECT_EQ(symbolOfId(48).toString(), symbolOfId(48).toString());
  InternedStrings other;
  EXPECT_EQ(other.string(kConv), globalStrings().string(kConv));
}

TEST(BuiltinTable, FirstDynamicIdIsNamedWithoutInterning) {
  constexpr Symbol first(kBuiltinSymbolCount);
  static_assert(static_cast<uint32_t>(first) == 437, "first dynamic id");
  static_assert(Symbol(kConv) < Symbol(kConvTranspose), "ordered by id");
  static_assert(Symbol(kConv) == kConv, "compares with a constant");
}

TEST(Interning, NewNamesGetStableDynamicIds) {
  const Symbol lower("conv");
  EXPECT_GE(static_cast<uint32_t>(lower), 437u);
  EXPECT_EQ(static_cast<uint32_t>(Symbol("conv")), static_cast<uint32_t>(lower));
  EXPECT_NE(static_cast<uint32_t>(lower), static_cast<uint32_t>(kConv));
  const char* name = lower.toString();
  EXPECT_STREQ(name, "conv");
  EXPECT_EQ(lower.toString(), name);  // same characters at the same address
  EXPECT_EQ(Symbol("conv").toString(), name);
}

TEST(Interning, EmptyNameIsAValidName) {
  const Symbol empty{std::string()};
  EXPECT_GE(static_cast<uint32_t>(empty), 437u);
  EXPECT_STREQ(empty.toString(), "");
  EXPECT_EQ(static_cast<uint32_t>(Symbol(std::string())), static_cast<uint32_t>(empty));
}

TEST(Interning, NamesWithNulAndHighBytesAreKeptWhole) {
  const std::string withNul("ab\0cd", 5);
  const Symbol a(withNul);
  const Symbol b(std::string("ab"));
  EXPECT_NE(static_cast<uint32_t>(a), static_cast<uint32_t>(b));
  EXPECT_STREQ(a.toString(), "ab");  // a C string ends at the first NUL
  const Symbol high(std::string("\xff\xfe"));
  EXPECT_STREQ(high.toString(), "\xff\xfe");
}

TEST(Interning, UnknownDynamicIdFailsTheCheck) {
  const unsigned line =
      lineOf("onnx/common/interned_strings.cc", "failCheck(__LINE__, \"customString\"");
  ASSERT_NE(line, 0u);
  const std::string expected = "onnx/common/interned_strings.cc:" + std::to_string(line) +
                               ": customString: Assertion `it != sym_to_string_.end()` failed.";
  EXPECT_THROW_MSG(symbolOfId(0xFFFFFFF0u).toString(), assert_error, expected);
  // The lock was released on the way out: the table is still usable.
  EXPECT_TRUE(Access::unlocked(globalStrings()));
  EXPECT_STREQ(Symbol("after-failure").toString(), "after-failure");
}

TEST(Interning, FreshTableHoldsExactlyTheBuiltins) {
  InternedStrings table;
  EXPECT_EQ(Access::nextSym(table), 437u);
  EXPECT_EQ(Access::stringToSym(table).size(), 437u);
  EXPECT_TRUE(Access::consistent(table));
  EXPECT_EQ(table.intern("Conv"), 48u);
  EXPECT_EQ(table.intern("a new name"), 437u);
  EXPECT_EQ(table.intern("another"), 438u);
  EXPECT_EQ(table.intern("a new name"), 437u);
  EXPECT_TRUE(Access::consistent(table));
}

TEST(Interning, ExhaustedIdSpaceRefusesNewNamesAndKeepsTheTable) {
  InternedStrings table;
  Access::nextSym(table) = UINT32_MAX;
  EXPECT_EQ(table.intern("last"), UINT32_MAX);  // the last id is still handed out
  EXPECT_EQ(Access::nextSym(table), 0u);        // the counter wrapped

  const std::size_t before = Access::stringToSym(table).size();
  EXPECT_THROW(table.intern("one too many"), assert_error);
  try {
    table.intern("one too many");
  } catch (const assert_error& e) {
    EXPECT_NE(std::string(e.what()).find("No symbol ids are left"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Access::stringToSym(table).size(), before);
  EXPECT_TRUE(Access::consistent(table));
  EXPECT_TRUE(Access::unlocked(table));
  // Known names, builtin or not, still resolve.
  EXPECT_EQ(table.intern("last"), UINT32_MAX);
  EXPECT_EQ(table.intern("spatial"), 0u);
  EXPECT_STREQ(table.string(symbolOfId(UINT32_MAX)), "last");
  EXPECT_STREQ(table.string(kspatial), "spatial");
}

TEST(Errors, HierarchyAndRaisingFunctions) {
  std::string msg = "shape mismatch";
  EXPECT_THROW_MSG(throw_assert_error(msg), assert_error, "shape mismatch");
  EXPECT_THROW_MSG(throw_tensor_error(msg), tensor_error, "shape mismatch");
  // A tensor_error is an assert_error is a runtime_error.
  EXPECT_THROW_MSG(throw_tensor_error(msg), assert_error, "shape mismatch");
  EXPECT_THROW_MSG(throw_assert_error(msg), std::runtime_error, "shape mismatch");
}

TEST(Barf, FormatsLikePrintf) {
  EXPECT_EQ(barf("%s:%u: %s", "file.cc", 12u, "fn"), "file.cc:12: fn");
  EXPECT_EQ(barf("plain"), "plain");
  EXPECT_EQ(barf("%d%%", -5), "-5%");
}

TEST(Barf, CutsOutputAt2047Characters) {
  const std::string exact(2047, 'a');
  EXPECT_EQ(barf("%s", exact.c_str()), exact);
  const std::string longer(3000, 'b');
  const std::string cut = barf("%s", longer.c_str());
  EXPECT_EQ(cut.size(), 2047u);
  EXPECT_EQ(cut, longer.substr(0, 2047));
  EXPECT_EQ(barf("%s!", exact.c_str()).size(), 2047u);
}

}  // namespace
}  // namespace onnx
