// Allocation failures during the first calls of the process: creating the
// symbol table and building each rule list. A failed creation must count as
// not done, so that the next call builds it again from the start.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "catalogue/operator_type.h"
#include "failing_allocator.h"
#include "interned_strings_access.h"

namespace orvel {
namespace {

using namespace onnx;  // NOLINT(google-build-using-namespace)
using Access = InternedStringsTestAccess;
using failing_allocator::report;

// Declared first: the symbol table must not exist yet.
TEST(FirstCallAllocationFailure, SymbolTableCreation) {
  InternedStrings* table = nullptr;
  const std::size_t points = failing_allocator::sweep([&] { table = &globalStrings(); },
                                                      [&] { EXPECT_EQ(table, nullptr); });
  report("first globalStrings()", points);
  EXPECT_GT(points, 437u);  // at least one allocation per builtin
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(Access::stringToSym(*table).size(), 437u);
  EXPECT_EQ(Access::nextSym(*table), 437u);
  EXPECT_TRUE(Access::consistent(*table));
  EXPECT_TRUE(Access::unlocked(*table));
  EXPECT_EQ(static_cast<uint32_t>(Symbol(std::string("Conv"))), 48u);
}

struct RulePredicate {
  const char* name;
  std::function<bool(const OperatorType&)> firstCall;
};

TEST(FirstCallAllocationFailure, RuleListsAreBuiltAgainAfterAFailure) {
  const std::vector<RulePredicate> predicates{
      {"isOutputMustInt16", [](const OperatorType& c) { return c.isOutputMustInt16(kClip); }},
      {"isInputMustInt16", [](const OperatorType& c) { return c.isInputMustInt16(kSigmoid, 3); }},
      {"isInputMustSame", [](const OperatorType& c) { return c.isInputMustSame(kConcat); }},
      {"isDummyNodeCanBeIgnored",
       [](const OperatorType& c) { return c.isDummyNodeCanBeIgnored(kZtDequantize); }},
  };
  const OperatorType catalogue("corvel");
  for (const RulePredicate& predicate : predicates) {
    bool answer = false;
    const std::size_t points =
        failing_allocator::sweep([&] { answer = predicate.firstCall(catalogue); }, [] {});
    report(std::string("first ") + predicate.name, points);
    EXPECT_GT(points, 0u) << predicate.name << " was already built";
    EXPECT_TRUE(answer) << predicate.name;
    // Built now: later calls allocate nothing and answer from the full list.
    EXPECT_EQ(failing_allocator::sweep([&] { answer = predicate.firstCall(catalogue); }, [] {}),
              0u);
    EXPECT_TRUE(answer);
  }
  EXPECT_FALSE(catalogue.isOutputMustInt16(kSigmoid));
  EXPECT_TRUE(catalogue.isOutputMustInt16(kReduceSum));  // the last entry of the list
  EXPECT_TRUE(catalogue.isInputMustInt16(kSoftsign, 0));
  EXPECT_FALSE(catalogue.isInputMustSame(kAdd));
}

}  // namespace
}  // namespace orvel
