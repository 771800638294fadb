// The support map of every target compared, entry for entry, with its table
// as written in the catalogue's documentation: rows of combination sets and
// the operators whose entries hold exactly that set.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalogue/operator_type.h"
#include "test_support.h"

namespace orvel {
namespace {

using namespace onnx;  // NOLINT(google-build-using-namespace)

struct Row {
  std::vector<std::string> combinations;
  std::vector<std::string> operators;
};

// clang-format off
const std::vector<Row> kTamsinTable = {
    {{"float32-float32"},
     {"Cast", "Div", "LayerNormalization", "Mod", "Neg", "ScatterElements", "ScatterND", "Softmax", "ZtLayerNorm", "ZtSoftmax"}},
    {{"float32-float32", "int8-int8"},
     {"Abs", "Acos", "Acosh", "ArgMax", "ArgMin", "Asin", "Asinh", "Atan", "Atanh", "AveragePool", "Ceil", "Celu", "Clip", "Concat", "Cos", "Cosh", "DepthToSpace", "Elu", "Erf", "Exp", "Expand", "Floor", "Gather", "GatherElements", "Gelu", "GlobalMaxPool", "HardSigmoid", "HardSwish", "LeakyRelu", "Log", "Max", "MaxPool", "Min", "Mish", "PRelu", "Pad", "Pow", "Reciprocal", "ReduceMax", "ReduceMean", "ReduceSum", "Relu", "Reshape", "Resize", "Round", "Selu", "Sigmoid", "Sign", "Sin", "Sinh", "Slice", "Softplus", "Softsign", "SpaceToDepth", "Split", "Sqrt", "Tan", "Tanh", "Tile", "TopK", "Transpose", "ZtCalibration", "ZtChannelShuffle", "ZtDepthToSpace", "ZtFilter", "ZtGelu", "ZtHardSwish", "ZtMish", "ZtPad", "ZtReluX", "ZtResize11", "ZtRsqrt", "ZtScatter", "ZtSpaceToDepth", "ZtSwish"}},
    {{"float32-float32-float32", "int8-int8-int8"},
     {"Add", "ConvTranspose", "Equal", "Greater", "Less", "Mul", "Sub"}},
    {{"float32-float32", "int8-int32", "int8-int8"},
     {"GlobalAveragePool"}},
    {{"float32-float32-float32", "int8-int8-int32", "int8-int8-int8"},
     {"Conv", "MatMul", "ZtPreprocess"}},
};

const std::vector<Row> kCorvelTable = {
    {{"float32-float32"},
     {"Cast", "Div", "LayerNormalization", "Mod", "Neg", "ScatterElements", "ScatterND", "Softmax", "ZtLayerNorm", "ZtSoftmax"}},
    {{"float32-float32", "int8-int8"},
     {"AveragePool", "GlobalMaxPool", "Resize", "ZtResize11", "ZtScatter"}},
    {{"float32-float32-float32", "int8-int16-int8"},
     {"GridSample", "GridSamplePlugin"}},
    {{"float32-float32-float32", "int8-int8-int8"},
     {"ConvTranspose"}},
    {{"float32-float32", "int16-int16", "int8-int8"},
     {"ArgMax", "ArgMin", "DepthToSpace", "Gather", "GatherElements", "Max", "MaxPool", "Min", "PRelu", "Pad", "ReduceMax", "Relu", "SpaceToDepth", "Split", "ZtCalibration", "ZtChannelShuffle", "ZtDepthToSpace", "ZtFilter", "ZtPad", "ZtReluX", "ZtSpaceToDepth"}},
    {{"float32-float32-float32", "int16-int16-int8", "int8-int8-int8"},
     {"Equal", "Greater", "Less"}},
    {{"float32-float32", "int16-int16", "int16-int8", "int8-int8"},
     {"Abs", "Acos", "Acosh", "Asin", "Asinh", "Atan", "Atanh", "Ceil", "Celu", "Clip", "Cos", "Cosh", "Elu", "Erf", "Exp", "Floor", "Gelu", "HardSigmoid", "HardSwish", "LeakyRelu", "Log", "Mish", "Pow", "Reciprocal", "Round", "Selu", "Sigmoid", "Sign", "Sin", "Sinh", "Softplus", "Softsign", "Sqrt", "Tan", "Tanh", "ZtGelu", "ZtHardSwish", "ZtMish", "ZtRsqrt", "ZtSwish"}},
    {{"float32-float32", "int16-int16", "int32-int32", "int8-int8"},
     {"Concat", "Expand", "Reshape", "Slice", "Tile", "TopK", "Transpose"}},
    {{"float32-float32", "int16-int16", "int8-int16", "int8-int8"},
     {"ReduceMean", "ReduceSum"}},
    {{"float32-float32", "int8-int16", "int8-int32", "int8-int8"},
     {"GlobalAveragePool"}},
    {{"float32-float32-float32", "int8-int8-int16", "int8-int8-int32", "int8-int8-int8"},
     {"MatMul", "ZtPreprocess"}},
    {{"float32-float32-float32", "int16-int8-int16", "int16-int8-int32", "int16-int8-int8", "int8-int8-int16", "int8-int8-int32", "int8-int8-int8"},
     {"Conv"}},
    {{"float32-float32-float32", "int16-int16-int16", "int16-int16-int8", "int16-int8-int16", "int16-int8-int8", "int8-int16-int16", "int8-int16-int8", "int8-int8-int16", "int8-int8-int8"},
     {"Add", "Mul", "Sub"}},
};

const std::vector<Row> kPelorTable = {
    {{"float16-float16", "float32-float32"},
     {"Cast", "Div", "LayerNormalization", "Mod", "Neg", "ScatterElements", "ScatterND", "Softmax", "ZtLayerNorm", "ZtSoftmax"}},
    {{"float16-float16", "float32-float32", "int8-int8"},
     {"AveragePool", "GlobalMaxPool", "Resize", "ZtResize11", "ZtScatter"}},
    {{"float16-float16-float16", "float32-float32-float32", "int8-int16-int8"},
     {"GridSample", "GridSamplePlugin"}},
    {{"float16-float16", "float32-float32", "int16-int16", "int8-int8"},
     {"ArgMax", "ArgMin", "DepthToSpace", "Gather", "GatherElements", "Max", "MaxPool", "Min", "PRelu", "Pad", "ReduceMax", "Relu", "SpaceToDepth", "Split", "ZtCalibration", "ZtChannelShuffle", "ZtDepthToSpace", "ZtFilter", "ZtPad", "ZtReluX", "ZtSpaceToDepth"}},
    {{"float16-float16-float16", "float32-float32-float32", "int16-int16-int8", "int8-int8-int8"},
     {"Equal", "Greater", "Less"}},
    {{"float16-float16", "float32-float32", "int16-int16", "int16-int8", "int8-int8"},
     {"Abs", "Acos", "Acosh", "Asin", "Asinh", "Atan", "Atanh", "Ceil", "Celu", "Clip", "Cos", "Cosh", "Elu", "Erf", "Exp", "Floor", "Gelu", "HardSigmoid", "HardSwish", "LeakyRelu", "Log", "Mish", "Pow", "Reciprocal", "Round", "Selu", "Sigmoid", "Sign", "Sin", "Sinh", "Softplus", "Softsign", "Sqrt", "Tan", "Tanh", "ZtGelu", "ZtHardSwish", "ZtMish", "ZtRsqrt", "ZtSwish"}},
    {{"float16-float16", "float32-float32", "int16-int16", "int32-int32", "int8-int8"},
     {"Concat", "Expand", "Reshape", "Slice", "Tile", "TopK", "Transpose"}},
    {{"float16-float16", "float32-float32", "int16-int16", "int8-int16", "int8-int8"},
     {"ReduceMean", "ReduceSum"}},
    {{"float16-float16", "float32-float32", "int8-int16", "int8-int32", "int8-int8"},
     {"GlobalAveragePool"}},
    {{"float16-float16-float16", "float32-float32-float32", "int16-int16-int16", "int16-int16-int8", "int16-int8-int16", "int16-int8-int8", "int8-int16-int16", "int8-int16-int8", "int8-int8-int16", "int8-int8-int8"},
     {"Add", "Mul", "Sub"}},
    {{"float16-float16-float16", "float32-float32-float32", "int16-int8-int16", "int16-int8-int32", "int16-int8-int8", "int8-int16-int16", "int8-int16-int32", "int8-int16-int8", "int8-int8-int16", "int8-int8-int32", "int8-int8-int8"},
     {"Conv", "ConvTranspose", "MatMul"}},
};

const std::vector<Row> kM55LastRow = {
    {{"float16-float16-float16", "float32-float32-float32", "int16-int8-int16", "int16-int8-int32", "int16-int8-int8", "int8-int16-int16", "int8-int16-int32", "int8-int16-int8", "int8-int8-float16", "int8-int8-int16", "int8-int8-int32", "int8-int8-int8"},
     {"Conv", "ConvTranspose", "MatMul"}},
};
// clang-format on

// The pelor table with its last row (Conv, ConvTranspose, MatMul) replaced.
std::vector<Row> m55Table() {
  std::vector<Row> rows = kPelorTable;
  rows.back() = kM55LastRow.front();
  return rows;
}

std::map<uint32_t, CombinationSet> expectedMap(const std::vector<Row>& rows) {
  std::map<uint32_t, CombinationSet> map;
  for (const Row& row : rows) {
    for (const std::string& op : row.operators) {
      const Symbol sym(op);
      EXPECT_LT(static_cast<uint32_t>(sym), static_cast<uint32_t>(kBuiltinSymbolCount))
          << op << " is not a builtin name";
      EXPECT_TRUE(
          map.emplace(sym, CombinationSet(row.combinations.begin(), row.combinations.end())).second)
          << op << " is listed twice";
    }
  }
  return map;
}

std::map<uint32_t, CombinationSet> actualMap(const OperatorType& catalogue) {
  return std::map<uint32_t, CombinationSet>(catalogue.supportMap.begin(),
                                            catalogue.supportMap.end());
}

struct Target {
  const char* name;
  std::vector<Row> table;
  std::size_t operators;
  std::vector<uint32_t> singleInt16Ops;
};

void PrintTo(const Target& target, std::ostream* os) { *os << target.name; }

class TargetTables : public ::testing::TestWithParam<Target> {};

TEST_P(TargetTables, SupportMapIsExactlyTheTable) {
  const Target& target = GetParam();
  const OperatorType catalogue(target.name);
  const auto expected = expectedMap(target.table);
  const auto actual = actualMap(catalogue);
  EXPECT_EQ(expected.size(), target.operators);
  for (const auto& [op, combos] : expected) {
    const auto found = actual.find(op);
    if (found == actual.end()) {
      ADD_FAILURE() << Symbol(static_cast<BuiltinSymbol>(op)).toString() << " has no entry";
    } else {
      EXPECT_EQ(found->second, combos) << Symbol(static_cast<BuiltinSymbol>(op)).toString();
    }
  }
  for (const auto& entry : actual) {
    EXPECT_EQ(expected.count(entry.first), 1u)
        << Symbol(static_cast<BuiltinSymbol>(entry.first)).toString() << " is not in the table";
  }
  EXPECT_EQ(ids(catalogue.singleInt16Ops), target.singleInt16Ops);
  EXPECT_TRUE(catalogue.name.empty());
}

TEST_P(TargetTables, EverySetHasItsFloatingPointCombination) {
  const Target& target = GetParam();
  const bool pelorFamily = !target.singleInt16Ops.empty();
  for (const auto& [op, combos] : OperatorType(target.name).supportMap) {
    const bool oneInput = combos.count("float32-float32") == 1;
    EXPECT_TRUE(oneInput || combos.count("float32-float32-float32") == 1) << op;
    if (pelorFamily) {
      EXPECT_EQ(combos.count(oneInput ? "float16-float16" : "float16-float16-float16"), 1u) << op;
    } else {
      for (const std::string& c : combos) EXPECT_EQ(c.find("float16"), std::string::npos) << op;
    }
  }
}

const std::vector<uint32_t> kPelorSingleInt16{48, 49, 34};  // Conv, ConvTranspose, MatMul

INSTANTIATE_TEST_SUITE_P(AllTargets, TargetTables,
                         ::testing::Values(Target{"tamsin", kTamsinTable, 96, {}},
                                           Target{"tamsin2", kTamsinTable, 96, {}},
                                           Target{"corvel", kCorvelTable, 98, {}},
                                           Target{"corvel-e", kCorvelTable, 98, {}},
                                           Target{"pelor", kPelorTable, 97, kPelorSingleInt16},
                                           Target{"m55", m55Table(), 97, kPelorSingleInt16}),
                         [](const ::testing::TestParamInfo<Target>& param) {
                           return testNameOf(param.param.name);
                         });

TEST(TargetTableRelations, AliasesBuildEqualTables) {
  EXPECT_EQ(actualMap(OperatorType("tamsin2")), actualMap(OperatorType("tamsin")));
  EXPECT_EQ(actualMap(OperatorType("corvel-e")), actualMap(OperatorType("corvel")));
}

TEST(TargetTableRelations, M55IsPelorPlusFloat16OutputOnThreeOperators) {
  auto pelor = actualMap(OperatorType("pelor"));
  const auto m55 = actualMap(OperatorType("m55"));
  for (const uint32_t op : kPelorSingleInt16) {
    EXPECT_EQ(pelor[op].count("int8-int8-float16"), 0u);
    pelor[op].insert("int8-int8-float16");
  }
  EXPECT_EQ(m55, pelor);
}

TEST(TargetTableRelations, OperatorsInTwoGroupsHoldTheUnion) {
  const OperatorType corvel("corvel");
  EXPECT_EQ(corvel.supportMap.at(kTranspose),
            (CombinationSet{"float32-float32", "int16-int16", "int32-int32", "int8-int8"}));
  EXPECT_EQ(corvel.supportMap.at(kFloor),
            (CombinationSet{"float32-float32", "int16-int16", "int16-int8", "int8-int8"}));
}

TEST(TargetTableRelations, UnlistedOperatorsHaveNoEntry) {
  EXPECT_EQ(OperatorType("pelor").supportMap.count(kZtPreprocess), 0u);
  EXPECT_EQ(OperatorType("m55").supportMap.count(kZtPreprocess), 0u);
  EXPECT_EQ(OperatorType("tamsin").supportMap.count(kGridSample), 0u);
  EXPECT_EQ(OperatorType("tamsin").supportMap.count(kGridSamplePlugin), 0u);
  for (const char* target : {"tamsin", "tamsin2", "corvel", "corvel-e", "pelor", "m55"}) {
    EXPECT_EQ(OperatorType(target).supportMap.count(kZtQuantize), 0u) << target;
  }
}

TEST(TargetTableRelations, QueriesReadTheTable) {
  const OperatorType corvel("corvel");
  EXPECT_EQ(corvel.inputSupportTypes(kConv, 1), (std::set<std::string>{"float32", "int8"}));
  EXPECT_EQ(corvel.supportTypes(kReduceMean, "int8-?"), (std::set<std::string>{"int16", "int8"}));
  EXPECT_TRUE(corvel.isInputSupport(kConv, "int16", 0));
  EXPECT_FALSE(OperatorType("tamsin").isInputSupport(kConv, "int16", 0));
}

class NearMissNames : public ::testing::TestWithParam<std::string> {};

TEST_P(NearMissNames, GiveAnEmptyCatalogue) {
  const OperatorType catalogue(GetParam());
  EXPECT_TRUE(catalogue.supportMap.empty());
  EXPECT_TRUE(catalogue.singleInt16Ops.empty());
  EXPECT_TRUE(catalogue.name.empty());
  for (uint32_t id = 0; id <= kBuiltinSymbolCount; ++id) {
    const Symbol op(static_cast<BuiltinSymbol>(id));
    EXPECT_FALSE(catalogue.isSingleInt16Ops(op));
    EXPECT_TRUE(catalogue.isFloatOps(op));
  }
  // The groups are those of the default catalogue.
  EXPECT_EQ(catalogue.getLutOps().size(), 40u);
}

INSTANTIATE_TEST_SUITE_P(Names, NearMissNames,
                         ::testing::Values("", "Corvel", "CORVEL", "Tamsin", "M55", "corvel ",
                                           " corvel", "corvel-", "corvel-ex", "corvele", "tamsin3",
                                           "tamsin22", "pelo", "pelorr", "m5", "m55 ",
                                           std::string("m55\0", 4), "corvel_e"));

}  // namespace
}  // namespace orvel
