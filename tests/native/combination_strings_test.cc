#include <gtest/gtest.h>

#include <climits>  // INT_MAX, INT_MIN
#include <random>
#include <set>
#include <string>
#include <vector>

#include "catalogue/operator_type.h"
#include "test_support.h"

namespace orvel {
namespace {

using namespace onnx;  // NOLINT(google-build-using-namespace)

struct InputCase {
  const char* combo;
  int idx;
  const char* expected;
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << '"' << c.combo << "\" idx " << c.idx; }

class InputField : public ::testing::TestWithParam<InputCase> {};

TEST_P(InputField, SelectsByTheIndexRules) {
  const InputCase& c = GetParam();
  EXPECT_EQ(_input_(c.combo, c.idx), c.expected) << '"' << c.combo << "\" idx " << c.idx;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, InputField,
    ::testing::Values(
        // idx 0, 1, then at or past the number of inputs: field 0 again.
        InputCase{"int8-int16-int32", 0, "int8"}, InputCase{"int8-int16-int32", 1, "int16"},
        InputCase{"int8-int16-int32", 2, "int8"}, InputCase{"int8-int16-int32", 7, "int8"},
        InputCase{"int8-int16-int32", INT_MAX, "int8"},
        // Negative indices read nothing.
        InputCase{"int8-int16-int32", -1, ""}, InputCase{"int8-int16-int32", INT_MIN, ""},
        // One input answers every non-negative index with it.
        InputCase{"int8-int32", 1, "int8"}, InputCase{"int8", 3, "int8"},
        InputCase{"int8", 0, "int8"},
        // Only inputs 0 and 1 are ever read out.
        InputCase{"a-b-c-d", 1, "b"}, InputCase{"a-b-c-d", 2, ""}, InputCase{"a-b-c-d", 3, "a"},
        // Empty fields and texts.
        InputCase{"", 0, ""}, InputCase{"", 5, ""}, InputCase{"", -1, ""}, InputCase{"-", 0, ""},
        InputCase{"-", 1, ""}, InputCase{"--", 1, ""}, InputCase{"-x-", 1, "x"},
        InputCase{"?-x-int8", 0, "?"}));

struct OutputCase {
  const char* combo;
  const char* expected;
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << '"' << c.combo << '"'; }

class OutputField : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputField, IsTheLastField) { EXPECT_EQ(_output_(GetParam().combo), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Rules, OutputField,
                         ::testing::Values(OutputCase{"int8-int16-int32", "int32"},
                                           OutputCase{"int8", "int8"}, OutputCase{"int8-", ""},
                                           OutputCase{"", ""}, OutputCase{"-int8", "int8"},
                                           OutputCase{"a-b-c-d-e", "e"}));

TEST(Concat, JoinsInArgumentOrderKeepingDuplicates) {
  const std::vector<Symbol> a{kAdd, kSub};
  const std::vector<Symbol> b{kSub, kMul};
  const std::vector<Symbol> c{kConv};
  EXPECT_EQ(ids(__concat__(a)), ids(a));
  EXPECT_EQ(ids(__concat__(a, b)), (std::vector<uint32_t>{10, 15, 15, 12}));
  EXPECT_EQ(ids(__concat__(a, b, c)), (std::vector<uint32_t>{10, 15, 15, 12, 48}));
  EXPECT_EQ(ids(__concat__(c, {}, a, {}, b)), (std::vector<uint32_t>{48, 10, 15, 15, 12}));
  EXPECT_EQ(ids(__concat__(c, c, c, c)), (std::vector<uint32_t>{48, 48, 48, 48}));
  EXPECT_TRUE(__concat__({}, {}).empty());
}

// ---------------------------------------------------------------------------
// Differential check against a second reading of the rules, written over a
// list of fields instead of searches in the text.

std::vector<std::string> fieldsOf(const std::string& text) {
  std::vector<std::string> fields(1);
  for (const char ch : text) {
    if (ch == '-') {
      fields.emplace_back();
    } else {
      fields.back() += ch;
    }
  }
  return fields;
}

std::string modelInput(const std::string& text, long long idx) {
  const std::vector<std::string> f = fieldsOf(text);
  const long long inputs = static_cast<long long>(f.size()) - 1;
  if (idx == 0 || (idx > 0 && idx >= inputs)) return f[0];
  if (idx < 0) return "";
  if (idx == 1) return f[1];
  return "";
}

std::string modelOutput(const std::string& text) { return fieldsOf(text).back(); }

std::set<std::string> modelSupportTypes(const CombinationSet& combos, const std::string& pattern) {
  std::set<std::string> out;
  const std::vector<std::string> pf = fieldsOf(pattern);
  const long long g = static_cast<long long>(pf.size()) - 1;
  auto at = [g](const std::string& text, long long i) {
    return i < g ? modelInput(text, i) : modelOutput(text);
  };
  const std::size_t q = pattern.find('?');
  if (q == std::string::npos) return out;
  const long long k = static_cast<long long>(fieldsOf(pattern.substr(0, q)).size()) - 1;
  for (const std::string& c : combos) {
    bool ok = true;
    for (long long i = 0; i <= g; ++i) {
      const std::string p = at(pattern, i);
      if (p != "?" && p != "x" && at(c, i) != p) ok = false;
    }
    if (ok) out.insert(at(c, k));
  }
  return out;
}

std::string randomText(std::mt19937& rng, bool pattern) {
  static const std::vector<std::string> typeFields{"int8",    "int16",   "int32",
                                                   "float16", "float32", ""};
  static const std::vector<std::string> patternFields{"?", "x", "?x", "int?", "foo"};
  std::uniform_int_distribution<int> hyphenCount(0, 5);
  const int hyphensWanted = hyphenCount(rng);
  std::string text;
  for (int i = 0; i <= hyphensWanted; ++i) {
    if (i > 0) text += '-';
    const bool wild = pattern && std::uniform_int_distribution<int>(0, 2)(rng) == 0;
    const auto& pool = wild ? patternFields : typeFields;
    text += pool[std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(rng)];
  }
  return text;
}

TEST(CombinationDifferential, RandomCombinationsAndPatternsAgreeWithTheModel) {
  std::mt19937 rng(20261208);
  OperatorType catalogue;
  const Symbol op(kConv);
  for (int round = 0; round < 3000; ++round) {
    CombinationSet combos;
    const int count = std::uniform_int_distribution<int>(1, 6)(rng);
    for (int i = 0; i < count; ++i) combos.insert(randomText(rng, false));
    catalogue.supportMap[op] = combos;
    const std::string pattern = randomText(rng, true);
    ASSERT_EQ(catalogue.supportTypes(op, pattern), modelSupportTypes(combos, pattern))
        << "pattern \"" << pattern << "\" over \"" << *combos.begin() << "\"...";
    for (const std::string& c : combos) {
      for (const int idx : {-2, -1, 0, 1, 2, 3, 4, 5, 6, INT_MAX, INT_MIN}) {
        ASSERT_EQ(_input_(c, idx), modelInput(c, idx)) << '"' << c << "\" idx " << idx;
      }
      ASSERT_EQ(_output_(c), modelOutput(c)) << c;
    }
  }
}

}  // namespace
}  // namespace orvel
