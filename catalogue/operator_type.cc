#include "catalogue/operator_type.h"

#include <algorithm>         // std::count, std::find
#include <cstddef>           // std::size_t
#include <initializer_list>  // std::initializer_list

namespace orvel {

using namespace onnx;  // NOLINT(google-build-using-namespace): the builtin constants

// ---------------------------------------------------------------------------
// Combination strings

namespace {

std::size_t hyphens(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '-'));
}

// Text at position `i` of a combination or pattern whose position count is
// set by a pattern with `g` hyphens: input fields before g, the output at g.
std::string position(const std::string& text, std::size_t i, std::size_t g) {
  return i < g ? _input_(text, static_cast<int>(i)) : _output_(text);
}

}  // namespace

std::string _input_(std::string combo, int idx) {
  const std::size_t first = combo.find('-');
  if (idx == 0 || (idx > 0 && static_cast<std::size_t>(idx) >= hyphens(combo))) {
    return combo.substr(0, first);
  }
  if (idx == 1) {  // here the text has at least two hyphens
    const std::size_t second = combo.find('-', first + 1);
    return combo.substr(first + 1, second - first - 1);
  }
  return std::string();  // negative, or 2 <= idx < hyphens: never read out
}

std::string _output_(std::string combo) {
  const std::size_t last = combo.rfind('-');
  return last == std::string::npos ? combo : combo.substr(last + 1);
}

std::vector<Symbol> __concat__(std::vector<Symbol> a) {  // NOLINT(bugprone-reserved-identifier)
  return a;
}

std::vector<Symbol> __concat__(std::vector<Symbol> a,  // NOLINT(bugprone-reserved-identifier)
                               std::vector<Symbol> b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Symbol> __concat__(std::vector<Symbol> a,  // NOLINT(bugprone-reserved-identifier)
                               std::vector<Symbol> b, std::vector<Symbol> c) {
  return __concat__(std::move(a), __concat__(std::move(b), std::move(c)));
}

std::vector<Symbol> __concat__(std::vector<Symbol> a,  // NOLINT(bugprone-reserved-identifier)
                               std::vector<Symbol> b, std::vector<Symbol> c,
                               std::vector<Symbol> d) {
  return __concat__(std::move(a), __concat__(std::move(b), std::move(c), std::move(d)));
}

std::vector<Symbol> __concat__(std::vector<Symbol> a,  // NOLINT(bugprone-reserved-identifier)
                               std::vector<Symbol> b, std::vector<Symbol> c, std::vector<Symbol> d,
                               std::vector<Symbol> e) {
  return __concat__(std::move(a),
                    __concat__(std::move(b), std::move(c), std::move(d), std::move(e)));
}

// ---------------------------------------------------------------------------
// Operator groups

// Each group in its stored order, ten entries a line.
// clang-format off
OperatorType::OperatorType()
    : lutOps{kSigmoid, kHardSigmoid, kTanh, kZtSwish, kSoftplus, kZtMish, kMish, kZtHardSwish, kHardSwish, kZtGelu,
             kGelu, kLeakyRelu, kExp, kCos, kSin, kLog, kClip, kElu, kPow, kZtRsqrt,
             kReciprocal, kSqrt, kAbs, kAtan, kFloor, kCeil, kAcos, kAcosh, kAsin, kAsinh,
             kAtanh, kCosh, kErf, kSelu, kSinh, kTan, kCelu, kRound, kSign, kSoftsign},
      compareOps{kEqual, kGreater, kLess},
      elementwiseOps{kAdd, kSub, kMul},
      sameTypeOps{kMaxPool, kReduceMax, kReshape, kExpand, kTile, kTranspose, kGatherElements, kTopK, kZtCalibration, kConcat,
                  kMin, kMax, kArgMax, kArgMin, kRelu, kZtReluX, kZtPad, kSlice, kSplit, kPad,
                  kZtChannelShuffle, kGather, kZtFilter, kPRelu, kZtDepthToSpace, kDepthToSpace, kZtSpaceToDepth, kSpaceToDepth, kFloor, kCeil,
                  kClip},
      reduceOps{kReduceMean, kReduceSum},
      int8OnlyOps{kResize, kZtResize11, kAveragePool, kGlobalMaxPool, kZtScatter},
      int32Ops{kTranspose, kConcat, kReshape, kExpand, kTile, kSlice, kTopK},
      // singleInt16Ops stays empty: some targets fill it.
      floatOnlyOps{kLayerNormalization, kZtLayerNorm, kSoftmax, kZtSoftmax, kScatterND, kScatterElements, kMod, kNeg, kDiv, kCast} {}
// clang-format on

namespace {

// Linear scan in stored order: the lists are a few dozen entries at most.
bool contains(const std::vector<Symbol>& list, Symbol op) {
  return std::find(list.begin(), list.end(), op) != list.end();
}

}  // namespace

std::vector<Symbol> OperatorType::getLutOps() const { return lutOps; }

bool OperatorType::isSupportedByLut(Symbol op) const { return contains(lutOps, op); }

bool OperatorType::isElementwiseOps(Symbol op) const { return contains(elementwiseOps, op); }

bool OperatorType::isReduceOps(Symbol op) const { return contains(reduceOps, op); }

bool OperatorType::isSingleInt16Ops(Symbol op) const { return contains(singleInt16Ops, op); }

bool OperatorType::isFloatOps(Symbol op) const {
  const auto entry = supportMap.find(op);
  if (entry == supportMap.end()) {
    return true;
  }
  for (const std::string& combo : entry->second) {
    if (combo.find("int") != std::string::npos) {
      return false;
    }
  }
  return true;
}

// The four rule lists are process-wide and built once, on the first call,
// by the thread-safe initialisation of a function-local static. If building
// one throws, it is not marked as built and the next call builds it again.
// The groups they draw on are the same in every catalogue, whatever its
// target, so it does not matter which object asks first.

bool OperatorType::isDummyNodeCanBeIgnored(Symbol op) const {
  static const std::vector<Symbol> ops{kReturn, kConstant, kParam, kZtQuantize, kZtDequantize};
  return contains(ops, op);
}

bool OperatorType::isOutputMustInt16(Symbol op) const {
  static const std::vector<Symbol> ops = __concat__(sameTypeOps, reduceOps);
  return contains(ops, op);
}

bool OperatorType::isInputMustInt16(Symbol op, int /*index*/) const {
  static const std::vector<Symbol> ops = __concat__(sameTypeOps, lutOps);
  return contains(ops, op);
}

bool OperatorType::isInputMustSame(Symbol op) const {
  static const std::vector<Symbol> ops = __concat__(compareOps, {kConcat});
  return contains(ops, op);
}

// ---------------------------------------------------------------------------
// Target tables

namespace {

using Combinations = std::initializer_list<const char*>;

// Adds the strings to each operator's entry, creating it if there is none.
void merge(SupportMap& map, const std::vector<Symbol>& ops, Combinations combos) {
  for (const Symbol op : ops) {
    map[op].insert(combos.begin(), combos.end());
  }
}

// Creates the operator's entry with exactly these strings; an existing entry
// is left as it is.
void insertIfAbsent(SupportMap& map, Symbol op, Combinations combos) {
  if (map.find(op) == map.end()) {
    map.emplace(op, CombinationSet(combos.begin(), combos.end()));
  }
}

}  // namespace

OperatorType::OperatorType(const std::string& target) : OperatorType() {
  SupportMap& m = supportMap;
  m.clear();

  // One line per step, in the order the steps run.
  // clang-format off
  if (target == "tamsin" || target == "tamsin2") {
    /* A1  */ merge(m, __concat__(sameTypeOps, lutOps, reduceOps, int8OnlyOps, int32Ops), {"int8-int8", "float32-float32"});
    /* A2  */ merge(m, __concat__(elementwiseOps, compareOps, {kConvTranspose}), {"int8-int8-int8", "float32-float32-float32"});
    /* A3  */ merge(m, floatOnlyOps, {"float32-float32"});
    /* A4  */ insertIfAbsent(m, kConv, {"int8-int8-int8", "int8-int8-int32", "float32-float32-float32"});
    /* A5  */ insertIfAbsent(m, kZtPreprocess, {"int8-int8-int8", "int8-int8-int32", "float32-float32-float32"});
    /* A6  */ insertIfAbsent(m, kMatMul, {"int8-int8-int8", "int8-int8-int32", "float32-float32-float32"});
    /* A7  */ insertIfAbsent(m, kGlobalAveragePool, {"int8-int8", "int8-int32", "float32-float32"});
  }

  if (target == "corvel" || target == "corvel-e") {
    /* B1  */ merge(m, sameTypeOps, {"int8-int8", "int16-int16", "float32-float32"});
    /* B2  */ merge(m, lutOps, {"int8-int8", "int16-int16", "int16-int8", "float32-float32"});
    /* B3  */ merge(m, elementwiseOps, {"int8-int8-int8", "int16-int8-int8", "int8-int16-int8", "int8-int8-int16", "int16-int8-int16", "int16-int16-int8", "int8-int16-int16", "int16-int16-int16", "float32-float32-float32"});
    /* B4  */ merge(m, compareOps, {"int8-int8-int8", "int16-int16-int8", "float32-float32-float32"});
    /* B5  */ merge(m, reduceOps, {"int8-int8", "int8-int16", "int16-int16", "float32-float32"});
    /* B6  */ merge(m, int8OnlyOps, {"int8-int8", "float32-float32"});
    /* B7  */ merge(m, int32Ops, {"int32-int32", "float32-float32"});
    /* B8  */ merge(m, floatOnlyOps, {"float32-float32"});
    /* B9  */ insertIfAbsent(m, kConv, {"int8-int8-int8", "int16-int8-int8", "int8-int8-int16", "int16-int8-int16", "int8-int8-int32", "int16-int8-int32", "float32-float32-float32"});
    /* B10 */ insertIfAbsent(m, kZtPreprocess, {"int8-int8-int8", "int8-int8-int16", "int8-int8-int32", "float32-float32-float32"});
    /* B11 */ insertIfAbsent(m, kConvTranspose, {"int8-int8-int8", "float32-float32-float32"});
    /* B12 */ insertIfAbsent(m, kMatMul, {"int8-int8-int8", "int8-int8-int16", "int8-int8-int32", "float32-float32-float32"});
    /* B13 */ insertIfAbsent(m, kGridSample, {"int8-int16-int8", "float32-float32-float32"});
    /* B14 */ insertIfAbsent(m, kGridSamplePlugin, {"int8-int16-int8", "float32-float32-float32"});
    /* B15 */ insertIfAbsent(m, kGlobalAveragePool, {"int8-int8", "int8-int16", "int8-int32", "float32-float32"});
  }

  if (target == "pelor" || target == "m55") {
    /* C1  */ merge(m, sameTypeOps, {"int8-int8", "int16-int16", "float16-float16", "float32-float32"});
    /* C2  */ merge(m, lutOps, {"int8-int8", "int16-int16", "int16-int8", "float16-float16", "float32-float32"});
    /* C3  */ merge(m, elementwiseOps, {"int8-int8-int8", "int16-int8-int8", "int8-int16-int8", "int8-int8-int16", "int16-int8-int16", "int16-int16-int8", "int8-int16-int16", "int16-int16-int16", "float16-float16-float16", "float32-float32-float32"});
    /* C4  */ merge(m, compareOps, {"int8-int8-int8", "int16-int16-int8", "float16-float16-float16", "float32-float32-float32"});
    /* C5  */ merge(m, reduceOps, {"int8-int8", "int8-int16", "int16-int16", "float16-float16", "float32-float32"});
    /* C6  */ merge(m, int8OnlyOps, {"int8-int8", "float16-float16", "float32-float32"});
    /* C7  */ merge(m, int32Ops, {"int32-int32", "float16-float16", "float32-float32"});
    /* C8  */ merge(m, floatOnlyOps, {"float16-float16", "float32-float32"});
    /* C9  */ singleInt16Ops = {kConv, kConvTranspose, kMatMul};
    /* C10 */ for (const Symbol op : singleInt16Ops) {
                merge(m, {op}, {"int8-int8-int8", "int8-int16-int8", "int16-int8-int8", "int8-int8-int16", "int8-int16-int16", "int16-int8-int16", "int8-int8-int32", "int8-int16-int32", "int16-int8-int32", "float16-float16-float16", "float32-float32-float32"});
                // m55 alone can also give a float16 output for int8 inputs.
                if (target == "m55") merge(m, {op}, {"int8-int8-float16"});
              }
    /* C11 */ insertIfAbsent(m, kGridSample, {"int8-int16-int8", "float16-float16-float16", "float32-float32-float32"});
    /* C12 */ insertIfAbsent(m, kGridSamplePlugin, {"int8-int16-int8", "float16-float16-float16", "float32-float32-float32"});
    /* C13 */ insertIfAbsent(m, kGlobalAveragePool, {"int8-int8", "int8-int16", "int8-int32", "float16-float16", "float32-float32"});
  }
  // clang-format on
}

// ---------------------------------------------------------------------------
// Support queries

std::set<std::string> OperatorType::supportTypes(Symbol kind, const std::string& qtype) const {
  std::set<std::string> result;
  const auto entry = supportMap.find(kind);
  if (entry == supportMap.end()) {
    return result;
  }
  const std::size_t g = hyphens(qtype);
  // The pattern's own fields do not depend on the combination: read them once.
  std::vector<std::string> pattern;
  pattern.reserve(g + 1);
  for (std::size_t i = 0; i <= g; ++i) {
    pattern.push_back(position(qtype, i, g));
  }
  const std::size_t question = qtype.find('?');
  const bool collects = question != std::string::npos;
  // The collected position: the number of hyphens before the first "?".
  const std::size_t k = collects ? hyphens(qtype.substr(0, question)) : 0;

  for (const std::string& combo : entry->second) {
    bool matches = true;
    for (std::size_t i = 0; i <= g && matches; ++i) {
      const std::string& p = pattern[i];
      if (p == "?" || p == "x") {
        continue;
      }
      matches = position(combo, i, g) == p;
    }
    if (matches && collects) {
      result.insert(position(combo, k, g));
    }
  }
  return result;
}

std::set<std::string> OperatorType::outputSupportTypes(Symbol kind) const {
  std::set<std::string> result;
  const auto entry = supportMap.find(kind);
  if (entry != supportMap.end()) {
    for (const std::string& combo : entry->second) {
      result.insert(_output_(combo));
    }
  }
  return result;
}

bool OperatorType::isOutputSupport(Symbol kind, const std::string& qtype) const {
  return outputSupportTypes(kind).count(qtype) != 0;
}

std::set<std::string> OperatorType::inputSupportTypes(Symbol kind, int idx) const {
  std::set<std::string> result;
  const auto entry = supportMap.find(kind);
  if (entry != supportMap.end()) {
    for (const std::string& combo : entry->second) {
      result.insert(_input_(combo, idx));
    }
  }
  return result;
}

bool OperatorType::isInputSupport(Symbol kind, const std::string& qtype, int idx) const {
  return inputSupportTypes(kind, idx).count(qtype) != 0;
}

}  // namespace orvel
