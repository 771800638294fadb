#include "onnx/common/interned_strings.h"

#include <gtest/gtest.h>

#include <algorithm>  // std::min
#include <array>
#include <chrono>   // std::chrono::steady_clock
#include <climits>  // UINT32_MAX
#include <cstring>  // std::memcpy
#include <fstream>
#include <functional>  // std::hash
#include <optional>
#include <string>
#include <vector>

#include "documented_builtin_names.h"
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

TEST(BuiltinTable, EveryBuiltinHasItsDocumentedNameAndId) {
  EXPECT_EQ(static_cast<uint32_t>(kBuiltinSymbolCount), kDocumentedBuiltinNames.size());
  int zt = 0;
  for (uint32_t id = 0; id < kBuiltinSymbolCount; ++id) {
    const std::string name = kDocumentedBuiltinNames[id];
    EXPECT_EQ(symbolOfId(id).toString(), name) << "id " << id;
    EXPECT_EQ(static_cast<uint32_t>(Symbol(name)), id) << name;
    zt += name.rfind("Zt", 0) == 0 ? 1 : 0;
  }
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

TEST(BuiltinTable, AnswersForEveryBuiltinWithoutTheMaps) {
  // The maps hold the builtins too; emptied, every answer about a builtin
  // must come from the builtin table, and nothing may be added for one.
  InternedStrings table;
  Access::clearMaps(table);
  for (uint32_t id = 0; id < kBuiltinSymbolCount; ++id) {
    const std::string name = kDocumentedBuiltinNames[id];
    EXPECT_EQ(table.find(name), std::optional<uint32_t>(id)) << name;
    EXPECT_EQ(table.intern(name), id) << name;
    EXPECT_STREQ(table.string(symbolOfId(id)), name.c_str());
  }
  EXPECT_TRUE(Access::stringToSym(table).empty());
  // Near misses of builtin names are not builtins.
  for (const std::string& name :
       {std::string("conv"), std::string("Conv "), std::string("Con"), std::string("Conv\0", 5),
        std::string(), std::string("DeformConvX")}) {
    EXPECT_EQ(table.find(name), std::nullopt) << name;
  }
  EXPECT_EQ(table.intern("conv"), 437u);
}

// SipHash-1-3 under the key 00 01 .. 0f, of the bytes 00 01 .. (n - 1) for
// every n from 0 to 15 (each length of the last, partial word) and of 1000
// bytes i & 0xff. The values come from a separate implementation written in
// Python from the published algorithm (Aumasson and Bernstein, 2012) with
// the round counts as parameters: with 2 and 4 rounds it gives the paper's
// published SipHash-2-4 values for this key (0x726fdb47dd0e0e31 for no
// bytes, 0xa129ca6149be45e5 for 15), and with 1 and 3 rounds and a zero key
// it gives what CPython 3.11's own SipHash-1-3 gives for `hash(bytes)` under
// PYTHONHASHSEED=0, for lengths 1 to 15, 64 and 1000.
struct KnownHash {
  std::size_t length;
  uint64_t value;
};

void PrintTo(const KnownHash& k, std::ostream* os) { *os << k.length << " bytes"; }

class SipHash13 : public ::testing::TestWithParam<KnownHash> {};

TEST_P(SipHash13, MatchesTheReferenceValue) {
  const KnownHash& known = GetParam();
  std::string bytes;
  for (std::size_t i = 0; i < known.length; ++i) bytes.push_back(static_cast<char>(i & 0xff));
  constexpr std::array<uint64_t, 2> kKey{0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL};
  EXPECT_EQ(Access::hash(kKey, bytes), known.value);
}

INSTANTIATE_TEST_SUITE_P(
    EveryTailLength, SipHash13,
    ::testing::Values(KnownHash{0, 0xabac0158050fc4dcULL}, KnownHash{1, 0xc9f49bf37d57ca93ULL},
                      KnownHash{2, 0x82cb9b024dc7d44dULL}, KnownHash{3, 0x8bf80ab8e7ddf7fbULL},
                      KnownHash{4, 0xcf75576088d38328ULL}, KnownHash{5, 0xdef9d52f49533b67ULL},
                      KnownHash{6, 0xc50d2b50c59f22a7ULL}, KnownHash{7, 0xd3927d989bb11140ULL},
                      KnownHash{8, 0x369095118d299a8eULL}, KnownHash{9, 0x25a48eb36c063de4ULL},
                      KnownHash{10, 0x79de85ee92ff097fULL}, KnownHash{11, 0x70c118c1f94dc352ULL},
                      KnownHash{12, 0x78a384b157b4d9a2ULL}, KnownHash{13, 0x306f760c1229ffa7ULL},
                      KnownHash{14, 0x605aa111c0f95d34ULL}, KnownHash{15, 0xd320d86d2a519956ULL},
                      KnownHash{1000, 0x2cf8d9d4f270cadfULL}));

TEST(SipHash13, ZeroKeyMatchesCPython) {
  // CPython 3.11 or later: PYTHONHASHSEED=0 python3 -c 'print(hash(b"Conv") % 2**64)'
  EXPECT_EQ(Access::hash({0, 0}, "Conv"), 0xd9f5537266743215ULL);
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
  const unsigned line = lineOf("onnx/common/interned_strings.cc", "failCheck(__LINE__, \"intern\"");
  ASSERT_NE(line, 0u);
  EXPECT_THROW_MSG(table.intern("one too many"), assert_error,
                   "onnx/common/interned_strings.cc:" + std::to_string(line) +
                       ": intern: Assertion `next_sym_ >= kBuiltinSymbolCount` failed. No symbol "
                       "ids are left to intern a new name.");
  EXPECT_EQ(Access::stringToSym(table).size(), before);
  EXPECT_TRUE(Access::consistent(table));
  EXPECT_TRUE(Access::unlocked(table));
  // Known names, builtin or not, still resolve.
  EXPECT_EQ(table.intern("last"), UINT32_MAX);
  EXPECT_EQ(table.intern("spatial"), 0u);
  EXPECT_STREQ(table.string(symbolOfId(UINT32_MAX)), "last");
  EXPECT_STREQ(table.string(kspatial), "spatial");
}

TEST(Interning, FindingANameNeverAddsIt) {
  InternedStrings table;
  EXPECT_EQ(table.find("Conv"), std::optional<uint32_t>(48));
  EXPECT_EQ(table.find("conv"), std::nullopt);
  EXPECT_EQ(table.find(std::string_view("Conv\0", 5)), std::nullopt);
  EXPECT_EQ(Access::stringToSym(table).size(), 437u);
  const uint32_t id = table.intern("conv");
  EXPECT_EQ(table.find("conv"), std::optional<uint32_t>(id));
  EXPECT_TRUE(Access::consistent(table));
  EXPECT_TRUE(Access::unlocked(table));

  const std::size_t size = Access::stringToSym(globalStrings()).size();
  EXPECT_EQ(Symbol::find("never interned anywhere"), std::nullopt);
  EXPECT_EQ(Access::stringToSym(globalStrings()).size(), size);
  EXPECT_EQ(Symbol::find("ZtQuantize"), std::optional<Symbol>(kZtQuantize));
  const Symbol dynamic("interned by a native caller");
  EXPECT_EQ(Symbol::find("interned by a native caller"), std::optional<Symbol>(dynamic));
}

#if defined(__GLIBCXX__)
// 16-byte names that libstdc++'s std::hash<std::string> maps to one value:
// its mixing of each 8-byte word is invertible, so the second word of each
// name can be chosen to bring the running hash to a fixed state.
std::vector<std::string> collidingNames(std::size_t count, char tag) {
  constexpr uint64_t kMul = 0xc6a4a7935bd1e995ULL;
  uint64_t inverse = kMul;  // Newton's iteration for the inverse modulo 2^64
  for (int i = 0; i < 5; ++i) inverse *= 2 - kMul * inverse;
  const auto mix = [](uint64_t v) { return v ^ (v >> 47); };
  const uint64_t start = 0xc70f6907ULL ^ (16 * kMul);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < count; ++i) {
    std::string name = tag + std::to_string(10000000 + i).substr(1);
    uint64_t first = 0;
    std::memcpy(&first, name.data(), 8);
    const uint64_t state = (start ^ (mix(first * kMul) * kMul)) * kMul;
    const uint64_t second = mix((state ^ 0x5eedULL) * inverse) * inverse;
    name.append(reinterpret_cast<const char*>(&second), 8);
    names.push_back(std::move(name));
  }
  return names;
}

double secondsToIntern(const std::vector<std::string>& names) {
  InternedStrings table;
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& name : names) table.intern(name);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(Interning, NamesCraftedToCollideInternAsFastAsOthers) {
  // Each run interns enough names to take tens of milliseconds, and the best
  // of several rounds counts, so that a busy machine cannot make the ratio:
  // with an unkeyed hash the crafted names take hundreds of times longer.
  constexpr std::size_t kNames = 32768;
  double crafted = 1e9;
  double plain = 1e9;
  for (char round = 0; round < 5; ++round) {
    const std::vector<std::string> colliding =
        collidingNames(kNames, static_cast<char>('A' + round));
    ASSERT_EQ(std::hash<std::string>{}(colliding.front()),
              std::hash<std::string>{}(colliding.back()));
    std::vector<std::string> ordinary;
    for (std::size_t i = 0; i < kNames; ++i)
      ordinary.push_back(colliding[i].substr(0, 8) + "ordinary");
    crafted = std::min(crafted, secondsToIntern(colliding));
    plain = std::min(plain, secondsToIntern(ordinary));
  }
  EXPECT_LT(crafted / plain, 3.0) << crafted << " s crafted, " << plain << " s ordinary";
}
#endif

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
