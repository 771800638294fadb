#pragma once

#include <map>     // std::map
#include <set>     // std::set
#include <string>  // std::string
#include <vector>  // std::vector

#include "onnx/common/interned_strings.h"

namespace orvel {

using onnx::Symbol;

/// Combination strings of one operator: data-type names joined by "-", the
/// input types in input order and then the output type ("int8-int16-int32").
using CombinationSet = std::set<std::string>;

/// Operator to its combination strings, ordered by symbol id.
using SupportMap = std::map<Symbol, CombinationSet>;

/// The input field `idx` of a combination string or type pattern. With n
/// hyphens in `combo`: idx 0 reads field 0; an idx at or past n (idx > 0)
/// also reads field 0; a negative idx reads the empty text; idx 1 reads
/// field 1; any other idx (2 <= idx < n) reads the empty text.
std::string _input_(std::string combo, int idx);

/// The last field: the text after the last "-", or the whole text without one.
std::string _output_(std::string combo);

/// The lists joined in argument order, duplicates kept.
std::vector<Symbol> __concat__(std::vector<Symbol> a);  // NOLINT(bugprone-reserved-identifier)
std::vector<Symbol> __concat__(std::vector<Symbol> a,   // NOLINT(bugprone-reserved-identifier)
                               std::vector<Symbol> b);
std::vector<Symbol> __concat__(std::vector<Symbol> a,  // NOLINT(bugprone-reserved-identifier)
                               std::vector<Symbol> b, std::vector<Symbol> c);
std::vector<Symbol> __concat__(std::vector<Symbol> a,  // NOLINT(bugprone-reserved-identifier)
                               std::vector<Symbol> b, std::vector<Symbol> c, std::vector<Symbol> d);
std::vector<Symbol> __concat__(std::vector<Symbol> a,  // NOLINT(bugprone-reserved-identifier)
                               std::vector<Symbol> b, std::vector<Symbol> c, std::vector<Symbol> d,
                               std::vector<Symbol> e);

/// The capability catalogue of one accelerator target: which data-type
/// combinations each operator supports, and fixed operator groups.
///
/// A catalogue is complete when its constructor returns and is never changed
/// afterwards. Every query only reads it and recomputes its answer; no query
/// inserts an operator into `supportMap`. Concurrent calls on one object are
/// safe as long as nobody constructs or destroys it meanwhile.
class OperatorType {
 public:
  /// Empty support map, the eight fixed groups filled, `singleInt16Ops` empty.
  OperatorType();

  /// The catalogue of the target `target`: "tamsin", "tamsin2", "corvel",
  /// "corvel-e", "pelor" or "m55", matched exactly. Any other name gives an
  /// empty support map; nothing is reported.
  explicit OperatorType(const std::string& target);

  // Support queries. They read `supportMap` only; an operator without an
  // entry answers the empty set or false.

  /// Types at the position of the first "?" of `qtype`, over the combinations
  /// that match the pattern ("x" and "?" match any type). A pattern without
  /// "?" yields the empty set.
  std::set<std::string> supportTypes(Symbol kind, const std::string& qtype) const;
  /// Output types over all combinations of `kind`.
  std::set<std::string> outputSupportTypes(Symbol kind) const;
  bool isOutputSupport(Symbol kind, const std::string& qtype) const;
  /// `_input_(c, idx)` over all combinations c of `kind`.
  std::set<std::string> inputSupportTypes(Symbol kind, int idx) const;
  bool isInputSupport(Symbol kind, const std::string& qtype, int idx) const;

  // Group predicates, for the quantizer's native code.

  /// A copy of `lutOps`, in stored order.
  std::vector<Symbol> getLutOps() const;
  bool isSupportedByLut(Symbol op) const;
  bool isElementwiseOps(Symbol op) const;
  bool isReduceOps(Symbol op) const;
  bool isSingleInt16Ops(Symbol op) const;
  /// True unless one of the combinations of `op` contains "int"; an operator
  /// without an entry counts as floating point.
  bool isFloatOps(Symbol op) const;
  bool isDummyNodeCanBeIgnored(Symbol op) const;
  bool isOutputMustInt16(Symbol op) const;
  /// The same answer for every `index`.
  bool isInputMustInt16(Symbol op, int index) const;
  bool isInputMustSame(Symbol op) const;

  /// Always empty: the catalogue keeps no record of its target's name.
  std::string name;
  SupportMap supportMap;
  /// Computed through a look-up table.
  std::vector<Symbol> lutOps;
  /// Comparisons: two inputs of one type.
  std::vector<Symbol> compareOps;
  /// Element-wise arithmetic on two inputs.
  std::vector<Symbol> elementwiseOps;
  /// The output keeps the input's data type.
  std::vector<Symbol> sameTypeOps;
  std::vector<Symbol> reduceOps;
  /// Quantized only as int8.
  std::vector<Symbol> int8OnlyOps;
  /// On some targets also carry int32 tensors.
  std::vector<Symbol> int32Ops;
  /// Two inputs of which at most one may be int16; filled for some targets.
  std::vector<Symbol> singleInt16Ops;
  /// Supported in floating point only, on every target.
  std::vector<Symbol> floatOnlyOps;
};

}  // namespace orvel
