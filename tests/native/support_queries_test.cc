#include <gtest/gtest.h>

#include <climits>  // INT_MAX, INT_MIN
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/operator_type.h"

namespace orvel {

struct OperatorTypeTestAccess {
  static void buildIndex(OperatorType& catalogue) { catalogue.buildIndex(); }

  /// The operators of the support map that the index does not describe as
  /// type codes (all of them, for a catalogue without an index).
  static std::vector<uint32_t> unindexed(const OperatorType& catalogue) {
    std::vector<uint32_t> ops;
    for (const auto& entry : catalogue.supportMap) {
      const uint32_t id = entry.first;
      if (id >= catalogue.index_.size() ||
          catalogue.index_[id].state != OperatorType::Entry::State::kIndexed) {
        ops.push_back(id);
      }
    }
    return ops;
  }
};

namespace {

using namespace onnx;  // NOLINT(google-build-using-namespace)
using Strings = std::set<std::string>;

// A two-input operator and a one-input operator, built by hand.
class SupportQueries : public ::testing::Test {
 protected:
  SupportQueries() {
    catalogue.supportMap[twoInputs] = {"int16-int8-int16", "int8-int8-int32", "int8-int8-int8"};
    catalogue.supportMap[oneInput] = {"int16-int16", "int8-int8"};
  }

  // Every query on `op` answers nothing, and asking adds no entry.
  void expectAbsent(Symbol op) {
    const std::size_t entries = catalogue.supportMap.size();
    EXPECT_EQ(catalogue.supportTypes(op, "?"), Strings{});
    EXPECT_EQ(catalogue.supportTypes(op, "int8-?"), Strings{});
    EXPECT_EQ(catalogue.outputSupportTypes(op), Strings{});
    EXPECT_EQ(catalogue.inputSupportTypes(op, 0), Strings{});
    EXPECT_EQ(catalogue.inputSupportTypes(op, -1), Strings{});
    EXPECT_FALSE(catalogue.isOutputSupport(op, "int8"));
    EXPECT_FALSE(catalogue.isInputSupport(op, "int8", 0));
    EXPECT_FALSE(catalogue.isInputSupport(op, "", -1));
    EXPECT_EQ(catalogue.supportMap.size(), entries);
    EXPECT_EQ(catalogue.supportMap.count(op), 0u);
  }

  OperatorType catalogue;
  const Symbol twoInputs{kAdd};
  const Symbol oneInput{kRelu};
};

TEST_F(SupportQueries, InputTypesOfTwoInputOperator) {
  EXPECT_EQ(catalogue.inputSupportTypes(twoInputs, 0), (Strings{"int16", "int8"}));
  EXPECT_EQ(catalogue.inputSupportTypes(twoInputs, 1), (Strings{"int8"}));
  EXPECT_EQ(catalogue.inputSupportTypes(twoInputs, 2), (Strings{"int16", "int8"}));
  EXPECT_EQ(catalogue.inputSupportTypes(twoInputs, INT_MAX), (Strings{"int16", "int8"}));
  EXPECT_EQ(catalogue.inputSupportTypes(twoInputs, -1), (Strings{""}));
  EXPECT_EQ(catalogue.inputSupportTypes(twoInputs, INT_MIN), (Strings{""}));
}

TEST_F(SupportQueries, OutputTypesAndMembership) {
  EXPECT_EQ(catalogue.outputSupportTypes(twoInputs), (Strings{"int16", "int32", "int8"}));
  EXPECT_TRUE(catalogue.isOutputSupport(twoInputs, "int32"));
  EXPECT_FALSE(catalogue.isOutputSupport(twoInputs, "float32"));
  EXPECT_FALSE(catalogue.isOutputSupport(twoInputs, "int3"));  // whole text only
  EXPECT_TRUE(catalogue.isInputSupport(twoInputs, "int8", 1));
  EXPECT_FALSE(catalogue.isInputSupport(twoInputs, "int16", 1));
  EXPECT_TRUE(catalogue.isInputSupport(twoInputs, "int16", 0));
  EXPECT_TRUE(catalogue.isInputSupport(twoInputs, "", -1));
  EXPECT_FALSE(catalogue.isInputSupport(twoInputs, "int8", -1));
}

struct PatternCase {
  const char* pattern;
  Strings twoInputs;
  Strings oneInput;
};

void PrintTo(const PatternCase& c, std::ostream* os) { *os << '"' << c.pattern << '"'; }

class Patterns : public SupportQueries, public ::testing::WithParamInterface<PatternCase> {};

TEST_P(Patterns, CollectTheFirstQuestionMark) {
  const PatternCase& c = GetParam();
  EXPECT_EQ(catalogue.supportTypes(twoInputs, c.pattern), c.twoInputs) << c.pattern;
  EXPECT_EQ(catalogue.supportTypes(oneInput, c.pattern), c.oneInput) << c.pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Patterns,
    ::testing::Values(PatternCase{"int8-int8-?", {"int32", "int8"}, {"int8"}},
                      PatternCase{"?-x-int16", {"int16"}, {"int16"}},
                      PatternCase{"x-?-x", {"int8"}, {"int16", "int8"}},
                      // The last pattern field is always the output, whatever the length.
                      PatternCase{"int16-?", {"int16"}, {"int16"}},
                      PatternCase{"int8-?", {"int32", "int8"}, {"int8"}},
                      PatternCase{"?", {"int16", "int32", "int8"}, {"int16", "int8"}},
                      PatternCase{"?-x", {"int16", "int8"}, {"int16", "int8"}},
                      PatternCase{"x-x-?", {"int16", "int32", "int8"}, {"int16", "int8"}},
                      // No "?": nothing is collected, even when combinations match.
                      PatternCase{"int8-int8-int8", {}, {}}, PatternCase{"x-x-x", {}, {}},
                      // Fields 2 and up of a long pattern read as empty text: no match.
                      PatternCase{"x-x-x-?", {}, {}}, PatternCase{"?-x-x-x", {}, {}},
                      // A "?" inside a field still collects; the field itself must match.
                      PatternCase{"int8-int8-int?", {}, {}}, PatternCase{"x-x?", {}, {}},
                      PatternCase{"", {}, {}}, PatternCase{"float32-?", {}, {}}));

TEST_F(SupportQueries, AbsentOperatorsAnswerNothingAndAreNotAdded) {
  expectAbsent(Symbol(kConv));
  expectAbsent(Symbol(kBuiltinSymbolCount));
  expectAbsent(Symbol(std::string("never-in-any-table")));
}

TEST_F(SupportQueries, QueriesByNameAnswerAsBySymbolAndInternNothing) {
  const Symbol interned(std::string("an operator a native caller interned"));
  catalogue.supportMap[interned] = {"int16-int8-int16", "int8-int8-int8"};
  const std::string names[] = {"Add", "Relu", "Conv", "an operator a native caller interned"};
  for (const std::string& name : names) {
    const Symbol op(name);
    EXPECT_EQ(catalogue.supportTypeSet(name, "x-?-x").toSet(), catalogue.supportTypes(op, "x-?-x"));
    EXPECT_EQ(catalogue.outputSupportTypeSet(name).toSet(), catalogue.outputSupportTypes(op));
    EXPECT_EQ(catalogue.inputSupportTypeSet(name, -1).toSet(), catalogue.inputSupportTypes(op, -1));
    EXPECT_EQ(catalogue.isOutputSupport(name, "int16"), catalogue.isOutputSupport(op, "int16"));
    EXPECT_EQ(catalogue.isInputSupport(name, "int16", 0), catalogue.isInputSupport(op, "int16", 0));
  }
  EXPECT_TRUE(catalogue.isInputSupport("an operator a native caller interned", "int16", 0));
  const std::string unknown = "a name nobody interned";
  EXPECT_TRUE(catalogue.supportTypeSet(unknown, "?").toSet().empty());
  EXPECT_TRUE(catalogue.inputSupportTypeSet(unknown, -1).toSet().empty());
  EXPECT_FALSE(catalogue.isInputSupport(unknown, "", -1));
  EXPECT_EQ(Symbol::find(unknown), std::nullopt);  // asking interned nothing
}

// Each of the five by-name queries takes `name` as it is, and answers as the
// query by symbol does.
template <typename Name>
void expectAnswersByName(const OperatorType& c, Name name, Symbol op) {
  EXPECT_EQ(c.supportTypes(name, "int8-?"), c.supportTypes(op, "int8-?"));
  EXPECT_EQ(c.outputSupportTypes(name), c.outputSupportTypes(op));
  EXPECT_EQ(c.inputSupportTypes(name, 0), c.inputSupportTypes(op, 0));
  EXPECT_EQ(c.isOutputSupport(name, "int16"), c.isOutputSupport(op, "int16"));
  EXPECT_EQ(c.isInputSupport(name, "int16", 0), c.isInputSupport(op, "int16", 0));
}

TEST(QueriesByName, TakeALiteralAStringOrAView) {
  const OperatorType corvel("corvel");
  ASSERT_EQ(corvel.inputSupportTypes(kConv, 0), (Strings{"float32", "int16", "int8"}));
  ASSERT_EQ(corvel.supportTypes(kConv, "int8-?"), (Strings{"int16", "int32", "int8"}));
  ASSERT_TRUE(corvel.isOutputSupport(kConv, "int16"));
  expectAnswersByName(corvel, "Conv", kConv);
  expectAnswersByName(corvel, std::string("Conv"), kConv);
  expectAnswersByName(corvel, std::string_view("Conv"), kConv);
  expectAnswersByName(corvel, "ReduceMean", kReduceMean);
}

TEST_F(SupportQueries, EmptyEntryAnswersNothing) {
  catalogue.supportMap[Symbol(kMul)];
  EXPECT_EQ(catalogue.inputSupportTypes(kMul, -1), Strings{});
  EXPECT_EQ(catalogue.supportTypes(kMul, "?"), Strings{});
}

TEST_F(SupportQueries, AnswersAreRecomputedEachCall) {
  const Strings first = catalogue.inputSupportTypes(twoInputs, 0);
  catalogue.supportMap[twoInputs].insert("float32-float32-float32");
  EXPECT_NE(catalogue.inputSupportTypes(twoInputs, 0), first);
}

TEST(DefaultCatalogue, AnswersEveryQueryWithNothing) {
  const OperatorType catalogue;
  EXPECT_TRUE(catalogue.name.empty());
  EXPECT_TRUE(catalogue.supportMap.empty());
  for (uint32_t id = 0; id < kBuiltinSymbolCount; ++id) {
    const Symbol op(static_cast<BuiltinSymbol>(id));
    EXPECT_TRUE(catalogue.supportTypes(op, "?").empty());
    EXPECT_TRUE(catalogue.inputSupportTypes(op, 1).empty());
    EXPECT_TRUE(catalogue.outputSupportTypes(op).empty());
    EXPECT_FALSE(catalogue.isInputSupport(op, "int8", 0));
    EXPECT_FALSE(catalogue.isOutputSupport(op, "int8"));
  }
  EXPECT_TRUE(catalogue.supportMap.empty());
}

TEST(TypeSetAnswers, HoldExactlyTheirMembers) {
  TypeSet set;
  set.mask = (1U << 1) | (1U << 4);  // int16, float32
  set.others = {"", "int4"};
  for (const std::string_view name : kTypeNames) {
    EXPECT_EQ(set.contains(name), name == "int16" || name == "float32") << name;
  }
  EXPECT_TRUE(set.contains(""));
  EXPECT_TRUE(set.contains("int4"));
  EXPECT_FALSE(set.contains("int"));
  EXPECT_EQ(set.toSet(), (Strings{"", "float32", "int16", "int4"}));
}

// The answers from the index against a plain scan of each operator's
// combination strings, over every target, every builtin operator (with or
// without an entry), indices and patterns that reach each rule.
class IndexAgainstScan : public ::testing::TestWithParam<const char*> {};

Strings scanInputs(const CombinationSet& combos, int idx) {
  Strings result;
  for (const std::string& c : combos) result.insert(_input_(c, idx));
  return result;
}

Strings scanOutputs(const CombinationSet& combos) {
  Strings result;
  for (const std::string& c : combos) result.insert(_output_(c));
  return result;
}

// The catalogue of a target, or, for kMixed, corvel's with an operator that
// the index cannot describe among those it can, indexed again.
constexpr const char* kMixed = "corvel with an unindexable Conv";

OperatorType indexedCatalogue(const std::string& name) {
  if (name != kMixed) return OperatorType(name);
  OperatorType catalogue("corvel");
  catalogue.supportMap[kConv].insert("int8-int8-int8-int8");
  OperatorTypeTestAccess::buildIndex(catalogue);
  return catalogue;
}

TEST_P(IndexAgainstScan, EveryQueryAgrees) {
  const OperatorType indexed = indexedCatalogue(GetParam());
  const std::vector<std::string> patterns{"?",
                                          "x",
                                          "",
                                          "int8",
                                          "?-x",
                                          "x-?",
                                          "int8-?",
                                          "int16-?",
                                          "?-int8",
                                          "?-int32",
                                          "?-x-x",
                                          "x-?-x",
                                          "x-x-?",
                                          "int8-int8-?",
                                          "int16-?-int16",
                                          "?-int16-x",
                                          "int8-x-?-x",
                                          "x-x-x-?",
                                          "?-?",
                                          "int8-?-",
                                          "-?",
                                          "x?-x",
                                          "float16-x-?",
                                          "float32-?",
                                          "int8-int16-int8-?",
                                          "bogus-?",
                                          "?-x-int8",
                                          "int8-int8-int8"};
  const std::vector<std::string> types{"int8", "int16", "int32", "float16", "float32", "", "x"};
  for (uint32_t id = 0; id <= kBuiltinSymbolCount; ++id) {
    const Symbol op(static_cast<BuiltinSymbol>(id));
    const auto entry = indexed.supportMap.find(op);
    const CombinationSet none;
    const CombinationSet& combos = entry == indexed.supportMap.end() ? none : entry->second;
    // A catalogue with the same map and no index answers by scanning.
    OperatorType scanned;
    scanned.supportMap = indexed.supportMap;
    SCOPED_TRACE(std::string(GetParam()) + " operator " + std::to_string(id));
    ASSERT_EQ(indexed.outputSupportTypes(op), scanOutputs(combos));
    for (const int idx : {INT_MIN, -2, -1, 0, 1, 2, 3, 7, INT_MAX}) {
      const Strings inputs = scanInputs(combos, idx);
      ASSERT_EQ(indexed.inputSupportTypes(op, idx), inputs) << "idx " << idx;
      for (const std::string& t : types) {
        ASSERT_EQ(indexed.isInputSupport(op, t, idx), inputs.count(t) == 1) << t << " " << idx;
      }
    }
    for (const std::string& t : types) {
      ASSERT_EQ(indexed.isOutputSupport(op, t), scanOutputs(combos).count(t) == 1) << t;
    }
    for (const std::string& pattern : patterns) {
      ASSERT_EQ(indexed.supportTypes(op, pattern), scanned.supportTypes(op, pattern)) << pattern;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, IndexAgainstScan,
                         ::testing::Values("tamsin", "tamsin2", "corvel", "corvel-e", "pelor",
                                           "m55", "unknown", kMixed));

TEST(ShippedTables, TheIndexDescribesEveryOperator) {
  for (const char* target : {"tamsin", "tamsin2", "corvel", "corvel-e", "pelor", "m55"}) {
    const OperatorType catalogue(target);
    ASSERT_FALSE(catalogue.supportMap.empty()) << target;
    EXPECT_EQ(OperatorTypeTestAccess::unindexed(catalogue), std::vector<uint32_t>{}) << target;
  }
  // What the helper reports when the index cannot describe an operator.
  EXPECT_EQ(OperatorTypeTestAccess::unindexed(indexedCatalogue(kMixed)),
            std::vector<uint32_t>{kConv});
}

// Every answer a catalogue gives about `ops`, as text.
std::vector<std::string> answersAbout(const OperatorType& c, const std::vector<Symbol>& ops) {
  const auto text = [](const Strings& set) {
    std::string joined;
    for (const std::string& s : set) joined += s + ",";
    return joined;
  };
  std::vector<std::string> answers;
  for (const Symbol op : ops) {
    std::string line = text(c.outputSupportTypes(op)) + ";" + text(c.supportTypes(op, "x-?-x")) +
                       ";" + text(c.supportTypes(op, "int8-?"));
    for (const int idx : {-1, 0, 1, 2}) line += ";" + text(c.inputSupportTypes(op, idx));
    line += c.isInputSupport(op, "int16", 0) ? ";in" : ";-";
    line += c.isOutputSupport(op, "int8") ? ";out" : ";-";
    line += c.isFloatOps(op) ? ";float" : ";-";
    answers.push_back(line);
  }
  return answers;
}

class EditedTargetCatalogue : public ::testing::TestWithParam<const char*> {};

// A target's catalogue answers from the table it was built with: entries
// added, replaced or erased afterwards change no query's answer, for an
// operator the index describes, one it keeps strings for, or one that is new.
TEST_P(EditedTargetCatalogue, AnswersAsBuilt) {
  OperatorType catalogue = indexedCatalogue(GetParam());
  const Symbol added(std::string("an operator entered after construction"));
  std::vector<Symbol> ops{added};
  for (uint32_t id = 0; id < kBuiltinSymbolCount; ++id)
    ops.emplace_back(static_cast<BuiltinSymbol>(id));
  const std::vector<std::string> before = answersAbout(catalogue, ops);

  SupportMap& map = catalogue.supportMap;
  map[kGridSample] = {"int8-int8-int8"};
  map[kMatMul] = {"float32-float32-float32"};
  map.erase(kConv);
  map.erase(kSoftmax);
  map[added] = {"int8-int8", "bogus"};
  EXPECT_EQ(answersAbout(catalogue, ops), before);
  const OperatorType copy = catalogue;
  EXPECT_EQ(answersAbout(copy, ops), before);
}

INSTANTIATE_TEST_SUITE_P(Targets, EditedTargetCatalogue,
                         ::testing::Values("tamsin", "corvel", "m55", "unknown", kMixed));

}  // namespace
}  // namespace orvel
