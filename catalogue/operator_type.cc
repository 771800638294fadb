#include "catalogue/operator_type.h"

#include <algorithm>         // std::any_of, std::count, std::find
#include <array>             // std::array
#include <cstddef>           // std::size_t
#include <cstdint>           // uint8_t, uint16_t, UINT16_MAX
#include <initializer_list>  // std::initializer_list
#include <optional>          // std::optional
#include <string_view>       // std::string_view
#include <type_traits>       // std::is_nothrow_move_assignable_v
#include <unordered_set>     // std::unordered_set
#include <utility>           // std::move, std::pair

namespace orvel {

using namespace onnx;  // NOLINT(google-build-using-namespace): the builtin constants

// ---------------------------------------------------------------------------
// Combination strings

namespace {

// The rules for reading fields, on views: the queries read every combination
// of an operator, and copying each one first would cost an allocation per
// combination. `_input_` and `_output_` are these same rules on owned text.

std::size_t hyphens(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '-'));
}

// The last field: the text after the last "-", or the whole text without one.
std::string_view outputField(std::string_view combo) {
  const std::size_t last = combo.rfind('-');
  return last == std::string_view::npos ? combo : combo.substr(last + 1);
}

// What the rules can read out of a combination or pattern, found once:
// fields 0 and 1, the last field and the number of hyphens. Every input or
// output position then costs O(1), however long the text.
struct Fields {
  explicit Fields(std::string_view text) : first(text), last(text) {
    const std::size_t one = text.find('-');
    if (one == std::string_view::npos) return;
    first = text.substr(0, one);
    const std::size_t two = text.find('-', one + 1);
    if (two != std::string_view::npos) second = text.substr(one + 1, two - one - 1);
    last = outputField(text);
    hyphens = ::orvel::hyphens(text.substr(one));
  }

  // The input field `idx` (idx >= 0): field 0 for idx 0 and for any idx at
  // or past the number of hyphens, field 1 for idx 1, and the empty text for
  // 2 <= idx < hyphens, which is never read out.
  std::string_view input(std::size_t idx) const {
    if (idx == 0 || idx >= hyphens) return first;
    return idx == 1 ? second : std::string_view();
  }

  // Position `i` as a pattern with `g` hyphens lays positions out: input
  // fields before g, the output at g.
  std::string_view at(std::size_t i, std::size_t g) const { return i < g ? input(i) : last; }

  std::string_view first;
  std::string_view second;
  std::string_view last;
  std::size_t hyphens = 0;
};

std::string_view inputField(std::string_view combo, int idx) {
  return idx < 0 ? std::string_view() : Fields(combo).input(static_cast<std::size_t>(idx));
}

// The code of a type name, or kNoCode for any other text.
constexpr std::uint8_t kNoCode = 0xFF;

std::uint8_t codeOf(std::string_view text) {
  for (std::size_t i = 0; i < kTypeNames.size(); ++i) {
    if (text == kTypeNames[i]) return static_cast<std::uint8_t>(i);
  }
  return kNoCode;
}

std::uint8_t bit(std::uint8_t code) { return static_cast<std::uint8_t>(1U << code); }

// Distinct field values, as views into the combinations they come from.
// Type names, nearly every value there is, are bits of a mask and cost no
// allocation; other texts are kept once each, in the order first seen, with
// a hash set to find repeats. Collecting n values costs O(n), however many
// of them differ.
class FieldValues {
 public:
  void add(std::string_view value) {
    const std::uint8_t code = codeOf(value);
    if (code != kNoCode) {
      mask_ |= bit(code);
    } else if (seen_.insert(value).second) {
      others_.push_back(value);
    }
  }

  // The answer of a set-valued query.
  TypeSet toTypeSet() const {
    TypeSet result;
    result.mask = mask_;
    result.others.assign(others_.begin(), others_.end());
    return result;
  }

 private:
  std::uint8_t mask_ = 0;
  std::vector<std::string_view> others_;
  std::unordered_set<std::string_view> seen_;
};

// One field over all combinations of an operator. `field` may answer
// std::nullopt for a combination that gives nothing.
template <typename Field>
FieldValues distinctFields(const CombinationSet& combos, Field field) {
  FieldValues values;
  for (const std::string& combo : combos) {
    const std::optional<std::string_view> value = field(combo);
    if (value) values.add(*value);
  }
  return values;
}

}  // namespace

// Both take their text by value, as part of their published signature.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::string _input_(std::string combo, int idx) { return std::string(inputField(combo, idx)); }

// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::string _output_(std::string combo) { return std::string(outputField(combo)); }

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
  const Lookup found = lookUp(op);
  if (found.combos != nullptr) {
    return std::none_of(found.combos->begin(), found.combos->end(), [](const std::string& combo) {
      return combo.find("int") != std::string::npos;
    });
  }
  // Every field of an indexed combination is a type name, and "int" occurs
  // in the integer ones alone. An operator without an entry has no bits.
  constexpr std::uint8_t kIntegerTypes = 0b00111;
  static_assert(kTypeNames[0] == "int8" && kTypeNames[1] == "int16" && kTypeNames[2] == "int32" &&
                    kTypeNames[3] == "float16" && kTypeNames[4] == "float32",
                "the integer types are codes 0 to 2");
  const Entry& entry = found.entry;
  return ((entry.input0 | entry.input1 | entry.output) & kIntegerTypes) == 0;
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
// Copies

// Moving never fails, so a copy made first and then moved in changes this
// catalogue only once nothing can fail any more.
static_assert(std::is_nothrow_move_assignable_v<OperatorType>, "assignment is all or nothing");

OperatorType& OperatorType::operator=(const OperatorType& other) {
  OperatorType copy(other);
  return *this = std::move(copy);
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
  buildIndex();
}

// ---------------------------------------------------------------------------
// Answers

bool TypeSet::contains(std::string_view text) const {
  const std::uint8_t code = codeOf(text);
  if (code != kNoCode) return (mask & bit(code)) != 0;
  return std::find(others.begin(), others.end(), text) != others.end();
}

std::set<std::string> TypeSet::toSet() const {
  std::set<std::string> result(others.begin(), others.end());
  for (std::size_t code = 0; code < kTypeNames.size(); ++code) {
    if (((mask >> code) & 1U) != 0) result.emplace(kTypeNames[code]);
  }
  return result;
}

// ---------------------------------------------------------------------------
// Index

namespace {

// The codes of one combination, when it has one or two inputs and every
// field is a type name: what the index can describe exactly.
std::optional<std::array<std::uint8_t, 3>> codesOf(std::string_view combo) {
  const Fields fields(combo);
  if (fields.hyphens != 1 && fields.hyphens != 2) return std::nullopt;
  const std::uint8_t input0 = codeOf(fields.first);
  const std::uint8_t input1 = codeOf(fields.input(1));
  const std::uint8_t output = codeOf(fields.last);
  if (input0 == kNoCode || input1 == kNoCode || output == kNoCode) return std::nullopt;
  return std::array<std::uint8_t, 3>{input0, input1, output};
}

}  // namespace

void OperatorType::buildIndex() {
  // Built aside and moved in, so that running out of memory changes nothing.
  std::vector<Entry> index;
  std::vector<Codes> codes;
  SupportMap unindexed;
  if (!supportMap.empty()) index.resize(static_cast<std::size_t>(supportMap.rbegin()->first) + 1);
  for (const auto& [op, combos] : supportMap) {
    Entry& entry = index[op];
    entry.state = Entry::State::kIndexed;
    const std::size_t first = codes.size();
    entry.first = static_cast<std::uint16_t>(first);
    for (const std::string& combo : combos) {
      const auto code = codesOf(combo);
      // An operator the index cannot describe exactly, or past what its
      // 16-bit positions reach, keeps a copy of its strings to scan: its
      // codes so far are taken back, and every other operator's stay.
      if (!code || codes.size() >= UINT16_MAX) {
        entry = Entry{Entry::State::kScanned};
        codes.resize(first);
        unindexed.emplace(op, combos);
        break;
      }
      const auto [input0, input1, output] = *code;
      entry.input0 |= bit(input0);
      entry.input1 |= bit(input1);
      entry.output |= bit(output);
      codes.push_back({input0, input1, output});
      ++entry.count;
    }
  }
  index_ = std::move(index);
  codes_ = std::move(codes);
  unindexed_ = std::move(unindexed);
  indexed_ = true;
}

namespace {

// The combinations `map` holds for `kind`, or null. Out of line, so that the
// queries keep the index's path inline and short.
[[gnu::noinline]] const CombinationSet* combosOf(const SupportMap& map, Symbol kind) {
  const auto entry = map.find(kind);
  return entry == map.end() ? nullptr : &entry->second;
}

}  // namespace

// Inline: every query starts here, and the index's path is a few loads.
inline OperatorType::Lookup OperatorType::lookUp(Symbol kind) const {
  Lookup found;
  // Only an indexed catalogue has index entries; the common case first.
  if (kind < index_.size()) {
    found.entry = index_[kind];
    if (found.entry.state == Entry::State::kScanned) {
      // Never null: buildIndex copies every operator it marks.
      found.combos = combosOf(unindexed_, kind);
      if (found.combos == nullptr) found.entry = Entry{};
    }
    return found;
  }
  // Past the end of an index: an operator the indexed table did not hold.
  // Without an index: the support map as it is now.
  if (!indexed_) {
    found.combos = combosOf(supportMap, kind);
    if (found.combos != nullptr) found.entry.state = Entry::State::kScanned;
  }
  return found;
}

// ---------------------------------------------------------------------------
// Support queries, by reading combination strings: the answers for what the
// index does not describe.

namespace {

FieldValues scanSupportTypes(const CombinationSet& combos, std::string_view qtype) {
  const std::size_t question = qtype.find('?');
  if (question == std::string::npos) {
    return FieldValues();  // a pattern without "?" collects nothing
  }
  const Fields pattern(qtype);
  const std::size_t g = pattern.hyphens;
  // The collected position: the number of hyphens before the first "?".
  const std::size_t k = hyphens(qtype.substr(0, question));
  // Positions 0, 1 and g read the pattern's fields and may be wildcards;
  // only the others are compared.
  std::array<std::pair<std::size_t, std::string_view>, 3> required{};
  std::size_t count = 0;
  const auto require = [&](std::size_t i) {
    const std::string_view p = pattern.at(i, g);
    if (p != "?" && p != "x") required[count++] = {i, p};
  };
  require(0);
  if (g >= 2) require(1);
  if (g >= 1) require(g);
  // Positions 2 to g - 1 read as the empty text, which is no wildcard. A
  // combination reads the empty text at each of them only when they all lie
  // below its own hyphen count, or when its field 0 is empty.
  const bool middle = g >= 3;
  const auto matched = [&](std::string_view text) -> std::optional<std::string_view> {
    const Fields combo(text);
    if (middle && !combo.first.empty() && combo.hyphens < g) return std::nullopt;
    for (std::size_t r = 0; r < count; ++r) {
      if (combo.at(required[r].first, g) != required[r].second) return std::nullopt;
    }
    return combo.at(k, g);
  };
  return distinctFields(combos, matched);
}

FieldValues scanInputs(const CombinationSet& combos, int idx) {
  return distinctFields(combos, [idx](std::string_view combo) { return inputField(combo, idx); });
}

// Whether `field` of some combination is `text`: one pass, nothing kept.
template <typename Field>
bool anyField(const CombinationSet& combos, Field field, std::string_view text) {
  return std::any_of(combos.begin(), combos.end(),
                     [&](const std::string& combo) { return field(combo) == text; });
}

}  // namespace

// ---------------------------------------------------------------------------
// Support queries

TypeSet OperatorType::supportTypeSet(Symbol kind, std::string_view qtype) const {
  const Lookup found = lookUp(kind);
  if (found.combos != nullptr) return scanSupportTypes(*found.combos, qtype).toTypeSet();
  const Entry& entry = found.entry;
  TypeSet result;
  const std::size_t question = qtype.find('?');
  if (entry.state == Entry::State::kAbsent || question == std::string::npos) return result;
  const Fields pattern(qtype);
  const std::size_t g = pattern.hyphens;
  // Every indexed combination reads a type name at positions 2 to g - 1,
  // where a pattern of four or more fields reads the empty text.
  if (g >= 3) return result;
  const std::size_t k = hyphens(qtype.substr(0, question));
  // The pattern's field at position i as a code; wildcards match all.
  constexpr std::uint8_t kAny = 0xFE;
  const auto wanted = [&pattern, g](std::size_t i) {
    const std::string_view p = pattern.at(i, g);
    return p == "?" || p == "x" ? kAny : codeOf(p);
  };
  // Position 0 is the output when g is 0; position 1 an input when g is 2.
  const std::uint8_t first = wanted(0);
  const std::uint8_t second = g == 2 ? wanted(1) : kAny;
  const std::uint8_t last = g >= 1 ? wanted(g) : kAny;
  if (first == kNoCode || second == kNoCode || last == kNoCode) return result;
  const auto matches = [](std::uint8_t want, std::uint8_t code) {
    return want == kAny || want == code;
  };
  for (std::uint16_t n = 0; n < entry.count; ++n) {
    const Codes& c = codes_[entry.first + n];
    if (matches(first, g == 0 ? c.output : c.input0) && matches(second, c.input1) &&
        matches(last, c.output)) {
      result.mask |= bit(k == g ? c.output : k == 0 ? c.input0 : c.input1);
    }
  }
  return result;
}

TypeSet OperatorType::outputSupportTypeSet(Symbol kind) const {
  const Lookup found = lookUp(kind);
  if (found.combos != nullptr) return distinctFields(*found.combos, outputField).toTypeSet();
  TypeSet result;
  result.mask = found.entry.output;
  return result;
}

TypeSet OperatorType::inputSupportTypeSet(Symbol kind, int idx) const {
  const Lookup found = lookUp(kind);
  if (found.combos != nullptr) return scanInputs(*found.combos, idx).toTypeSet();
  const Entry& entry = found.entry;
  TypeSet result;
  if (idx < 0) {
    if (entry.count != 0) result.others.emplace_back();  // the empty text
    return result;
  }
  // One- and two-input combinations read input 0 for every index but 1.
  result.mask = idx == 1 ? entry.input1 : entry.input0;
  return result;
}

std::set<std::string> OperatorType::supportTypes(Symbol kind, const std::string& qtype) const {
  return supportTypeSet(kind, qtype).toSet();
}

std::set<std::string> OperatorType::outputSupportTypes(Symbol kind) const {
  return outputSupportTypeSet(kind).toSet();
}

bool OperatorType::isOutputSupport(Symbol kind, const std::string& qtype) const {
  const Lookup found = lookUp(kind);
  if (found.combos != nullptr) return anyField(*found.combos, outputField, qtype);
  const std::uint8_t code = codeOf(qtype);
  return code != kNoCode && (found.entry.output & bit(code)) != 0;
}

std::set<std::string> OperatorType::inputSupportTypes(Symbol kind, int idx) const {
  return inputSupportTypeSet(kind, idx).toSet();
}

bool OperatorType::isInputSupport(Symbol kind, const std::string& qtype, int idx) const {
  const Lookup found = lookUp(kind);
  if (found.combos != nullptr) {
    return anyField(
        *found.combos, [idx](std::string_view combo) { return inputField(combo, idx); }, qtype);
  }
  const Entry& entry = found.entry;
  if (idx < 0) return entry.count != 0 && qtype.empty();
  const std::uint8_t code = codeOf(qtype);
  return code != kNoCode && ((idx == 1 ? entry.input1 : entry.input0) & bit(code)) != 0;
}

// ---------------------------------------------------------------------------
// Support queries by name

std::set<std::string> OperatorType::supportTypes(std::string_view kind,
                                                 const std::string& qtype) const {
  return supportTypeSet(kind, qtype).toSet();
}

std::set<std::string> OperatorType::outputSupportTypes(std::string_view kind) const {
  return outputSupportTypeSet(kind).toSet();
}

std::set<std::string> OperatorType::inputSupportTypes(std::string_view kind, int idx) const {
  return inputSupportTypeSet(kind, idx).toSet();
}

TypeSet OperatorType::supportTypeSet(std::string_view kind, std::string_view qtype) const {
  const std::optional<Symbol> op = Symbol::find(kind);
  return op ? supportTypeSet(*op, qtype) : TypeSet();
}

TypeSet OperatorType::outputSupportTypeSet(std::string_view kind) const {
  const std::optional<Symbol> op = Symbol::find(kind);
  return op ? outputSupportTypeSet(*op) : TypeSet();
}

bool OperatorType::isOutputSupport(std::string_view kind, const std::string& qtype) const {
  const std::optional<Symbol> op = Symbol::find(kind);
  return op && isOutputSupport(*op, qtype);
}

TypeSet OperatorType::inputSupportTypeSet(std::string_view kind, int idx) const {
  const std::optional<Symbol> op = Symbol::find(kind);
  return op ? inputSupportTypeSet(*op, idx) : TypeSet();
}

bool OperatorType::isInputSupport(std::string_view kind, const std::string& qtype, int idx) const {
  const std::optional<Symbol> op = Symbol::find(kind);
  return op && isInputSupport(*op, qtype, idx);
}

}  // namespace orvel
