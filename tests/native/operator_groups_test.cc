#include <gtest/gtest.h>

#include <algorithm>
#include <climits>  // INT_MAX, INT_MIN
#include <set>
#include <string>
#include <vector>

#include "catalogue/operator_type.h"
#include "test_support.h"

namespace orvel {
namespace {

using namespace onnx;  // NOLINT(google-build-using-namespace)

const char* const kTargets[] = {"tamsin", "tamsin2", "corvel", "corvel-e", "pelor", "m55"};

std::set<uint32_t> idSet(const std::vector<Symbol>& list) {
  return std::set<uint32_t>(list.begin(), list.end());
}

TEST(OperatorGroups, DefaultCatalogueFillsEveryGroupButSingleInt16) {
  const OperatorType c;
  EXPECT_EQ(c.lutOps.size(), 40u);
  EXPECT_EQ(c.compareOps.size(), 3u);
  EXPECT_EQ(c.elementwiseOps.size(), 3u);
  EXPECT_EQ(c.sameTypeOps.size(), 31u);
  EXPECT_EQ(c.reduceOps.size(), 2u);
  EXPECT_EQ(c.int8OnlyOps.size(), 5u);
  EXPECT_EQ(c.int32Ops.size(), 7u);
  EXPECT_TRUE(c.singleInt16Ops.empty());
  EXPECT_EQ(c.floatOnlyOps.size(), 10u);
  // Stored order, spot-checked at both ends of each list.
  EXPECT_EQ(ids(c.compareOps), (std::vector<uint32_t>{194, 158, 159}));
  EXPECT_EQ(ids(c.elementwiseOps), (std::vector<uint32_t>{10, 15, 12}));
  EXPECT_EQ(ids(c.reduceOps), (std::vector<uint32_t>{150, 153}));
  EXPECT_EQ(ids(c.int8OnlyOps), (std::vector<uint32_t>{256, 286, 204, 207, 411}));
  EXPECT_EQ(ids(c.int32Ops), (std::vector<uint32_t>{39, 19, 41, 53, 36, 30, 395}));
  EXPECT_EQ(ids(c.floatOnlyOps),
            (std::vector<uint32_t>{371, 370, 20, 319, 434, 167, 13, 14, 11, 155}));
  EXPECT_EQ(c.sameTypeOps.front(), kMaxPool);
  EXPECT_EQ(c.sameTypeOps.back(), kClip);
}

TEST(OperatorGroups, NoDuplicatesAndOnlyTheDocumentedOverlaps) {
  const OperatorType c;
  const std::vector<const std::vector<Symbol>*> groups{
      &c.lutOps,    &c.compareOps,  &c.elementwiseOps, &c.sameTypeOps,
      &c.reduceOps, &c.int8OnlyOps, &c.int32Ops,       &c.floatOnlyOps};
  for (const auto* group : groups) {
    EXPECT_EQ(idSet(*group).size(), group->size());
    for (const Symbol op : *group) EXPECT_LT(static_cast<uint32_t>(op), 437u);
  }
  for (std::size_t a = 0; a < groups.size(); ++a) {
    for (std::size_t b = a + 1; b < groups.size(); ++b) {
      std::vector<uint32_t> shared;
      const auto sa = idSet(*groups[a]);
      const auto sb = idSet(*groups[b]);
      std::set_intersection(sa.begin(), sa.end(), sb.begin(), sb.end(), std::back_inserter(shared));
      if (groups[a] == &c.lutOps && groups[b] == &c.sameTypeOps) {
        EXPECT_EQ(shared, (std::vector<uint32_t>{193, 197, 288}));  // Ceil, Floor, Clip
      } else if (groups[a] == &c.sameTypeOps && groups[b] == &c.int32Ops) {
        EXPECT_EQ(shared.size(), c.int32Ops.size());  // int32Ops is inside sameTypeOps
      } else {
        EXPECT_TRUE(shared.empty()) << "groups " << a << " and " << b;
      }
    }
  }
}

TEST(OperatorGroups, GetLutOpsReturnsAnIndependentCopy) {
  const OperatorType c;
  std::vector<Symbol> lut = c.getLutOps();
  ASSERT_EQ(lut.size(), 40u);
  EXPECT_EQ(lut.front(), kSigmoid);
  EXPECT_EQ(lut.back(), kSoftsign);
  lut.clear();
  lut.push_back(kConv);
  EXPECT_EQ(ids(c.getLutOps()), ids(c.lutOps));
  EXPECT_EQ(c.getLutOps().size(), 40u);
}

struct Membership {
  const char* predicate;
  bool (*ask)(const OperatorType&, Symbol);
  std::vector<BuiltinSymbol> yes;
  std::vector<BuiltinSymbol> no;
};

void PrintTo(const Membership& m, std::ostream* os) { *os << m.predicate; }

class GroupPredicates : public ::testing::TestWithParam<Membership> {};

TEST_P(GroupPredicates, AnswerByMembership) {
  const Membership& m = GetParam();
  const Symbol runtime(std::string("RuntimeOnlyOperator"));
  for (const char* target : kTargets) {
    const OperatorType c(target);
    for (const BuiltinSymbol op : m.yes) EXPECT_TRUE(m.ask(c, op)) << target << " " << op;
    for (const BuiltinSymbol op : m.no) EXPECT_FALSE(m.ask(c, op)) << target << " " << op;
    EXPECT_FALSE(m.ask(c, runtime)) << target;
    EXPECT_FALSE(m.ask(c, Symbol(kBuiltinSymbolCount))) << target;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Predicates, GroupPredicates,
    ::testing::Values(
        Membership{"isSupportedByLut",
                   [](const OperatorType& c, Symbol op) { return c.isSupportedByLut(op); },
                   {kSigmoid, kClip, kSoftsign, kFloor},
                   {kRelu, kAdd, ksigmoid}},
        Membership{"isElementwiseOps",
                   [](const OperatorType& c, Symbol op) { return c.isElementwiseOps(op); },
                   {kAdd, kSub, kMul},
                   {kDiv, kadd}},
        Membership{"isReduceOps",
                   [](const OperatorType& c, Symbol op) { return c.isReduceOps(op); },
                   {kReduceMean, kReduceSum},
                   {kReduceMax, kReduceMin}},
        Membership{"isDummyNodeCanBeIgnored",
                   [](const OperatorType& c, Symbol op) { return c.isDummyNodeCanBeIgnored(op); },
                   {kReturn, kConstant, kParam, kZtQuantize, kZtDequantize},
                   {kIdentity, kZtRequantize, kconstant}},
        Membership{"isOutputMustInt16",
                   [](const OperatorType& c, Symbol op) { return c.isOutputMustInt16(op); },
                   {kReduceSum, kReduceMean, kMaxPool, kClip, kTopK},
                   {kSigmoid, kConv, kAdd}},
        Membership{"isInputMustSame",
                   [](const OperatorType& c, Symbol op) { return c.isInputMustSame(op); },
                   {kEqual, kGreater, kLess, kConcat},
                   {kAdd, kGreaterOrEqual}}),
    [](const ::testing::TestParamInfo<Membership>& param) {
      return std::string(param.param.predicate);
    });

TEST(GroupPredicates, InputMustInt16IgnoresTheIndex) {
  const OperatorType c;
  for (uint32_t id = 0; id <= kBuiltinSymbolCount; ++id) {
    const Symbol op(static_cast<BuiltinSymbol>(id));
    const bool expected = c.isInputMustInt16(op, 0);
    for (const int index : {1, 2, 5, -1, INT_MAX, INT_MIN}) {
      EXPECT_EQ(c.isInputMustInt16(op, index), expected) << id << " index " << index;
    }
    const bool listed = idSet(c.sameTypeOps).count(id) + idSet(c.lutOps).count(id) > 0;
    EXPECT_EQ(expected, listed) << id;
  }
  EXPECT_TRUE(c.isInputMustInt16(kSigmoid, 5));
  EXPECT_FALSE(c.isInputMustInt16(kReduceMean, 0));
}

TEST(GroupPredicates, SingleInt16OnlyForThePelorFamily) {
  EXPECT_FALSE(OperatorType().isSingleInt16Ops(kConv));
  for (const char* target : {"tamsin", "tamsin2", "corvel", "corvel-e"}) {
    const OperatorType c(target);
    for (uint32_t id = 0; id < kBuiltinSymbolCount; ++id) {
      EXPECT_FALSE(c.isSingleInt16Ops(static_cast<BuiltinSymbol>(id))) << target << " " << id;
    }
  }
  for (const char* target : {"pelor", "m55"}) {
    const OperatorType c(target);
    EXPECT_TRUE(c.isSingleInt16Ops(kConv));
    EXPECT_TRUE(c.isSingleInt16Ops(kConvTranspose));
    EXPECT_TRUE(c.isSingleInt16Ops(kMatMul));
    EXPECT_FALSE(c.isSingleInt16Ops(kAdd));
  }
}

TEST(GroupPredicates, FloatOpsReadTheSupportMap) {
  const OperatorType plain;
  const OperatorType unknown("no-such-target");
  for (uint32_t id = 0; id <= kBuiltinSymbolCount; ++id) {
    EXPECT_TRUE(plain.isFloatOps(static_cast<BuiltinSymbol>(id)));
    EXPECT_TRUE(unknown.isFloatOps(static_cast<BuiltinSymbol>(id)));
  }
  for (const char* target : kTargets) {
    const OperatorType c(target);
    EXPECT_TRUE(c.isFloatOps(kSoftmax)) << target;
    EXPECT_TRUE(c.isFloatOps(kCast)) << target;
    EXPECT_FALSE(c.isFloatOps(kConv)) << target;
    EXPECT_TRUE(c.isFloatOps(kZtQuantize)) << target;  // no entry
    EXPECT_EQ(c.supportMap.count(kZtQuantize), 0u);    // and none was made
  }
  EXPECT_TRUE(OperatorType("tamsin").isFloatOps(kGridSample));
  EXPECT_FALSE(OperatorType("corvel").isFloatOps(kGridSample));

  OperatorType handBuilt;
  handBuilt.supportMap[kAdd] = {};
  EXPECT_TRUE(handBuilt.isFloatOps(kAdd));
  handBuilt.supportMap[kAdd] = {"float16-float16", "uint4-float32"};  // "int" inside "uint4"
  EXPECT_FALSE(handBuilt.isFloatOps(kAdd));
}

// The rule answers for every builtin and the first dynamic id, from this
// test's own lists of each rule's operators.
std::vector<bool> expectedRuleAnswers() {
  const std::set<uint32_t> sameType{kMaxPool,
                                    kReduceMax,
                                    kReshape,
                                    kExpand,
                                    kTile,
                                    kTranspose,
                                    kGatherElements,
                                    kTopK,
                                    kZtCalibration,
                                    kConcat,
                                    kMin,
                                    kMax,
                                    kArgMax,
                                    kArgMin,
                                    kRelu,
                                    kZtReluX,
                                    kZtPad,
                                    kSlice,
                                    kSplit,
                                    kPad,
                                    kZtChannelShuffle,
                                    kGather,
                                    kZtFilter,
                                    kPRelu,
                                    kZtDepthToSpace,
                                    kDepthToSpace,
                                    kZtSpaceToDepth,
                                    kSpaceToDepth,
                                    kFloor,
                                    kCeil,
                                    kClip};
  const std::set<uint32_t> lut{
      kSigmoid,   kHardSigmoid, kTanh, kZtSwish,   kSoftplus,   kZtMish, kMish,  kZtHardSwish,
      kHardSwish, kZtGelu,      kGelu, kLeakyRelu, kExp,        kCos,    kSin,   kLog,
      kClip,      kElu,         kPow,  kZtRsqrt,   kReciprocal, kSqrt,   kAbs,   kAtan,
      kFloor,     kCeil,        kAcos, kAcosh,     kAsin,       kAsinh,  kAtanh, kCosh,
      kErf,       kSelu,        kSinh, kTan,       kCelu,       kRound,  kSign,  kSoftsign};
  const std::set<uint32_t> same{kEqual, kGreater, kLess, kConcat};
  const std::set<uint32_t> dummy{kReturn, kConstant, kParam, kZtQuantize, kZtDequantize};
  std::vector<bool> answers;
  for (uint32_t id = 0; id <= kBuiltinSymbolCount; ++id) {
    answers.push_back(sameType.count(id) + (id == kReduceMean || id == kReduceSum) > 0);
    answers.push_back(sameType.count(id) + lut.count(id) > 0);
    answers.push_back(same.count(id) > 0);
    answers.push_back(dummy.count(id) > 0);
  }
  return answers;
}

std::vector<bool> ruleAnswers(const OperatorType& c) {
  std::vector<bool> answers;
  for (uint32_t id = 0; id <= kBuiltinSymbolCount; ++id) {
    const Symbol op(static_cast<BuiltinSymbol>(id));
    answers.push_back(c.isOutputMustInt16(op));
    answers.push_back(c.isInputMustInt16(op, 0));
    answers.push_back(c.isInputMustSame(op));
    answers.push_back(c.isDummyNodeCanBeIgnored(op));
  }
  return answers;
}

// Under ctest each test runs in a process of its own, so these two build the
// rule lists first from different targets' catalogues.
TEST(RuleLists, ListedAnswersWhenPelorAsksFirst) {
  const auto expected = expectedRuleAnswers();
  EXPECT_EQ(ruleAnswers(OperatorType("pelor")), expected);
  EXPECT_EQ(ruleAnswers(OperatorType("tamsin")), expected);
  EXPECT_EQ(ruleAnswers(OperatorType()), expected);
  EXPECT_EQ(ruleAnswers(OperatorType("unknown")), expected);
}

TEST(RuleLists, ListedAnswersWhenTheDefaultCatalogueAsksFirst) {
  const auto expected = expectedRuleAnswers();
  // 33, 71 (three operators twice) and 4 listed entries, 5 fixed ones.
  ASSERT_EQ(std::count(expected.begin(), expected.end(), true), 33 + 68 + 4 + 5);
  EXPECT_EQ(ruleAnswers(OperatorType()), expected);
  for (const char* target : kTargets) {
    EXPECT_EQ(ruleAnswers(OperatorType(target)), expected) << target;
  }
}

// The groups are fixed: the rule lists are built once, from the groups of
// the first catalogue asked, and later edits of any catalogue's groups
// change no rule; the single-group predicates read their own object's group.
TEST(RuleLists, EditedGroupsAfterTheFirstCallChangeNoRule) {
  const auto expected = expectedRuleAnswers();
  OperatorType edited("corvel");
  EXPECT_EQ(ruleAnswers(edited), expected);
  edited.sameTypeOps.clear();
  edited.lutOps = {kConv};
  edited.compareOps.clear();
  EXPECT_EQ(ruleAnswers(edited), expected);
  EXPECT_TRUE(edited.isSupportedByLut(kConv));
  EXPECT_FALSE(edited.isSupportedByLut(kSigmoid));
}

}  // namespace
}  // namespace orvel
