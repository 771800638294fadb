// Allocation failures at every allocation point of interning, catalogue
// construction and the queries: each must reach the caller as
// std::bad_alloc, leave no leak (checked by LeakSanitizer in the sanitizer
// build), leave the shared state usable and never leave the lock held.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "catalogue/operator_type.h"
#include "failing_allocator.h"
#include "interned_strings_access.h"
#include "test_support.h"

namespace orvel {
namespace {

using namespace onnx;  // NOLINT(google-build-using-namespace)
using Access = InternedStringsTestAccess;
using failing_allocator::report;
using failing_allocator::sweep;

std::map<uint32_t, CombinationSet> contents(const OperatorType& c) {
  return std::map<uint32_t, CombinationSet>(c.supportMap.begin(), c.supportMap.end());
}

TEST(AllocationFailure, InterningANewNameChangesNothingUntilItSucceeds) {
  InternedStrings& table = globalStrings();
  const std::string name = "a-name-interned-under-failure";
  const uint32_t next = Access::nextSym(table);
  const std::size_t size = Access::stringToSym(table).size();
  uint32_t id = 0;
  const std::size_t points = sweep([&] { id = Symbol(name); },
                                   [&] {
                                     EXPECT_TRUE(Access::unlocked(table));
                                     EXPECT_EQ(Access::nextSym(table), next);
                                     EXPECT_EQ(Access::stringToSym(table).size(), size);
                                     EXPECT_TRUE(Access::consistent(table));
                                   });
  report("intern a new name", points);
  EXPECT_GE(points, 2u);  // one entry in each map at least
  EXPECT_EQ(id, next);    // no id was skipped by the failed attempts
  EXPECT_EQ(Access::nextSym(table), next + 1);
  EXPECT_STREQ(Symbol(static_cast<BuiltinSymbol>(id)).toString(), name.c_str());
  EXPECT_TRUE(Access::unlocked(table));
}

class ConstructorFailure : public ::testing::TestWithParam<std::string> {};

TEST_P(ConstructorFailure, EveryAllocationPointSurfacesAsBadAlloc) {
  const std::string target = GetParam();
  const auto expected = contents(OperatorType(target));
  std::map<uint32_t, CombinationSet> built;
  const std::size_t points = sweep([&] { built = contents(OperatorType(target)); }, [] {});
  // The sweep includes the allocations of copying the map out of the object.
  report("OperatorType(\"" + target + "\") and a copy of its map", points);
  EXPECT_EQ(built, expected);
}

INSTANTIATE_TEST_SUITE_P(Targets, ConstructorFailure,
                         ::testing::Values("tamsin", "tamsin2", "corvel", "corvel-e", "pelor",
                                           "m55", "unknown"),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           return testNameOf(param.param);
                         });

TEST(AllocationFailure, DefaultConstructorAndGetLutOps) {
  std::size_t lut = 0;
  report("OperatorType()", sweep([&] { lut = OperatorType().lutOps.size(); }, [] {}));
  EXPECT_EQ(lut, 40u);
  const OperatorType c;
  std::vector<Symbol> copy;
  report("getLutOps()", sweep([&] { copy = c.getLutOps(); }, [] {}));
  EXPECT_EQ(copy.size(), 40u);
}

TEST(AllocationFailure, QueriesSurfaceBadAllocAndLeaveTheCatalogueUnchanged) {
  const OperatorType m55("m55");
  const auto before = contents(m55);
  const std::string patternText = "int8-x-?";
  const std::string qtype = "int16";
  struct Query {
    const char* name;
    std::function<std::set<std::string>()> run;
  };
  const std::vector<Query> queries{
      {"supportTypes(Conv, int8-x-?)", [&] { return m55.supportTypes(kConv, patternText); }},
      {"inputSupportTypes(Conv, 1)", [&] { return m55.inputSupportTypes(kConv, 1); }},
      {"outputSupportTypes(Conv)", [&] { return m55.outputSupportTypes(kConv); }},
  };
  for (const Query& query : queries) {
    const std::set<std::string> expected = query.run();
    std::set<std::string> answer;
    report(query.name, sweep([&] { answer = query.run(); },
                             [&] { EXPECT_EQ(contents(m55), before) << query.name; }));
    EXPECT_EQ(answer, expected) << query.name;
  }
  // The membership tests, whose answers hold no allocation of their own.
  struct Membership {
    const char* name;
    std::function<bool()> run;
    bool expected;
  };
  const std::vector<Membership> tests{
      {"isInputSupport(Conv, int16, 0)", [&] { return m55.isInputSupport(kConv, qtype, 0); }, true},
      {"isOutputSupport(Conv, int16)", [&] { return m55.isOutputSupport(kConv, qtype); }, true},
      {"isFloatOps(Conv)", [&] { return m55.isFloatOps(kConv); }, false},
  };
  for (const Membership& test : tests) {
    bool answer = !test.expected;
    report(test.name, sweep([&] { answer = test.run(); },
                            [&] { EXPECT_EQ(contents(m55), before) << test.name; }));
    EXPECT_EQ(answer, test.expected) << test.name;
  }
  EXPECT_EQ(contents(m55), before);
}

TEST(AllocationFailure, CopyAssignmentIsAllOrNothing) {
  const OperatorType m55("m55");
  OperatorType target("tamsin");
  // Everything the copy changes: the map, a group that differs, and the
  // answers of the operators either table holds.
  std::vector<Symbol> ops{kZtQuantize};
  for (const auto& entry : m55.supportMap) ops.push_back(entry.first);
  for (const auto& entry : target.supportMap) ops.push_back(entry.first);
  const auto state = [&ops](const OperatorType& c) {
    std::vector<std::set<std::string>> answers;
    for (const Symbol op : ops) {
      answers.push_back(c.outputSupportTypes(op));
      answers.push_back(c.inputSupportTypes(op, 1));
      answers.push_back(c.supportTypes(op, "int8-?"));
      answers.push_back(
          {c.isFloatOps(op) ? "float" : "", c.isInputSupport(op, "int16", 0) ? "16" : ""});
    }
    return std::make_tuple(contents(c), ids(c.singleInt16Ops), answers);
  };
  const auto before = state(target);
  ASSERT_NE(before, state(m55));
  const std::size_t points =
      sweep([&] { target = m55; }, [&] { EXPECT_EQ(state(target), before); });
  report("tamsin = m55", points);
  EXPECT_EQ(state(target), state(m55));
}

TEST(AllocationFailure, QueryWithANameSeenForTheFirstTime) {
  // The path of a Python call: intern the operator name, then ask.
  const OperatorType corvel("corvel");
  const std::string name = "first-seen-in-a-query";
  std::set<std::string> answer{"not asked"};
  const std::size_t points = sweep([&] { answer = corvel.inputSupportTypes(Symbol(name), 0); },
                                   [&] { EXPECT_TRUE(Access::unlocked(globalStrings())); });
  report("intern + inputSupportTypes", points);
  EXPECT_TRUE(answer.empty());
  EXPECT_EQ(corvel.supportMap.count(Symbol(name)), 0u);
  EXPECT_TRUE(Access::consistent(globalStrings()));
}

}  // namespace
}  // namespace orvel
