#pragma once

#include <array>        // std::array
#include <cstdint>      // uint8_t, uint16_t
#include <map>          // std::map
#include <set>          // std::set
#include <string>       // std::string
#include <string_view>  // std::string_view
#include <vector>       // std::vector

// Relative, so that this project's symbol table is the one included even
// where another library's "onnx/common/interned_strings.h" comes first on
// the include path.
#include "../onnx/common/interned_strings.h"

namespace orvel {

// The symbol table's own name for its Symbol, which stays this project's in
// a file that also includes another library's onnx::Symbol.
using onnx::qcaps::Symbol;

/// Combination strings of one operator: data-type names joined by "-", the
/// input types in input order and then the output type ("int8-int16-int32").
using CombinationSet = std::set<std::string>;

/// Operator to its combination strings, ordered by symbol id.
using SupportMap = std::map<Symbol, CombinationSet>;

/// The data-type names of the stored combinations, in the order of their
/// codes: bit i of a `TypeSet`'s mask stands for entry i.
inline constexpr std::array<std::string_view, 5> kTypeNames{"int8", "int16", "int32", "float16",
                                                            "float32"};

/// The answer of a set-valued query: the type names it holds as a bitmask
/// over `kTypeNames`, and any other texts it holds (only a query that reads
/// combinations of other fields, or an input index below 0, has them).
struct TypeSet {
  std::uint8_t mask = 0;
  std::vector<std::string> others;

  bool contains(std::string_view text) const;
  /// The same set as ordered texts.
  std::set<std::string> toSet() const;
};

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
/// How the queries read `supportMap` (the five support queries, their
/// by-name and `TypeSet` forms, and `isFloatOps`, all alike):
/// - A catalogue made by the target constructor answers from the table that
///   constructor built, and from nothing else: it indexes that table once,
///   so later changes to `supportMap` (an entry added, replaced or erased)
///   change none of its answers. Copies carry the same answers.
/// - A catalogue made by `OperatorType()` has no index: it answers from
///   `supportMap` as it is at each call, so a native caller can fill one by
///   hand.
/// No query inserts an operator into `supportMap`. Concurrent calls on one
/// object are safe as long as nobody changes, constructs or destroys it
/// meanwhile.
///
/// The groups are fixed. The predicates on one group (`getLutOps`,
/// `isSupportedByLut`, `isElementwiseOps`, `isReduceOps`, `isSingleInt16Ops`)
/// read this object's group as it is at each call. The rule lists of
/// `isOutputMustInt16`, `isInputMustInt16` and `isInputMustSame` are
/// process-wide: each is built once, on its first call in the process, from
/// the groups of the object asked, and then shared by every catalogue. A
/// native caller that edits `sameTypeOps`, `reduceOps`, `lutOps` or
/// `compareOps` before that first call changes those rules for every
/// catalogue in the process; an edit after it changes none of them. The
/// target constructor reads the groups of the object it builds.
class OperatorType {
 public:
  /// Empty support map, the eight fixed groups filled, `singleInt16Ops` empty.
  OperatorType();

  /// The catalogue of the target `target`: "tamsin", "tamsin2", "corvel",
  /// "corvel-e", "pelor" or "m55", matched exactly. Any other name gives an
  /// empty support map; nothing is reported.
  explicit OperatorType(const std::string& target);

  OperatorType(const OperatorType&) = default;
  OperatorType(OperatorType&&) = default;
  /// All or nothing: when copying runs out of memory, `std::bad_alloc`
  /// leaves this catalogue as it was.
  OperatorType& operator=(const OperatorType& other);
  OperatorType& operator=(OperatorType&&) = default;
  ~OperatorType() = default;

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

  // The set-valued queries, answered as type masks: the same sets, without
  // making a string for each member.
  TypeSet supportTypeSet(Symbol kind, std::string_view qtype) const;
  TypeSet outputSupportTypeSet(Symbol kind) const;
  TypeSet inputSupportTypeSet(Symbol kind, int idx) const;

  // The same queries with the operator named by text from outside, such as
  // a model file: a string literal, std::string or std::string_view alike.
  // The name is looked up without being interned (`Symbol::find`), so
  // asking keeps nothing; a name the symbol table does not hold answers as
  // an operator without an entry, which it is: every key of a support map is
  // a symbol that was interned before it was entered.

  std::set<std::string> supportTypes(std::string_view kind, const std::string& qtype) const;
  std::set<std::string> outputSupportTypes(std::string_view kind) const;
  bool isOutputSupport(std::string_view kind, const std::string& qtype) const;
  std::set<std::string> inputSupportTypes(std::string_view kind, int idx) const;
  bool isInputSupport(std::string_view kind, const std::string& qtype, int idx) const;
  TypeSet supportTypeSet(std::string_view kind, std::string_view qtype) const;
  TypeSet outputSupportTypeSet(std::string_view kind) const;
  TypeSet inputSupportTypeSet(std::string_view kind, int idx) const;

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

 private:
  /// Lets the tests index a catalogue they filled by hand, and look at the
  /// index.
  friend struct OperatorTypeTestAccess;

  /// One combination as type codes: input 0, input 1 as the rules read it
  /// (input 0 again for a one-input combination), and the output.
  struct Codes {
    std::uint8_t input0;
    std::uint8_t input1;
    std::uint8_t output;
  };

  /// What the index holds of one operator.
  struct Entry {
    enum class State : std::uint8_t { kAbsent, kIndexed, kScanned };
    State state = State::kAbsent;
    std::uint8_t input0 = 0;  // mask of input 0's types, also read for idx >= 2
    std::uint8_t input1 = 0;  // mask of the types read for idx 1
    std::uint8_t output = 0;  // mask of the output types
    std::uint16_t first = 0;  // the operator's combinations in `codes_`
    std::uint16_t count = 0;
  };

  /// What a query reads of one operator: its index entry, or, where the
  /// index cannot describe it (or there is no index), its combination
  /// strings. `combos` is null for an operator without an entry.
  struct Lookup {
    Entry entry;
    const CombinationSet* combos = nullptr;
  };

  /// Indexes `supportMap` as it is now; from then on every query answers
  /// from the index. All or nothing.
  void buildIndex();
  Lookup lookUp(Symbol kind) const;

  bool indexed_ = false;
  std::vector<Entry> index_;  // by symbol id, up to the largest indexed one
  std::vector<Codes> codes_;
  /// Copies of the combinations the index cannot describe as codes.
  SupportMap unindexed_;
};

}  // namespace orvel
