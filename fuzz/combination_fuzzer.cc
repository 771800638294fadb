// Arbitrary bytes become a catalogue of combination strings and a pattern:
// the lines of the input are the combinations, the last line is the pattern,
// and the first byte picks an input index. Every query is checked against
// properties that follow from the rules for combination strings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "catalogue/operator_type.h"

namespace {

using orvel::OperatorType;

void require(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (const char ch : text) {
    if (ch == separator) {
      parts.emplace_back();
    } else {
      parts.back() += ch;
    }
  }
  return parts;
}

// supportTypes as the rules state it, position by position over the split
// fields, with none of the catalogue's shortcuts.
std::set<std::string> literalSupportTypes(const std::vector<std::string>& combos,
                                          const std::string& pattern) {
  std::set<std::string> result;
  const std::size_t question = pattern.find('?');
  if (combos.empty() || question == std::string::npos) return result;
  const std::vector<std::string> p = split(pattern, '-');
  const std::size_t g = p.size() - 1;
  const std::size_t k = split(pattern.substr(0, question), '-').size() - 1;
  const auto at = [g](const std::vector<std::string>& f, std::size_t i) -> std::string {
    const std::size_t n = f.size() - 1;
    if (i == g) return f.back();
    if (i == 0 || i >= n) return f[0];
    return i == 1 ? f[1] : std::string();
  };
  for (const std::string& c : std::set<std::string>(combos.begin(), combos.end())) {
    const std::vector<std::string> f = split(c, '-');
    bool matches = true;
    for (std::size_t i = 0; i <= g && matches; ++i) {
      const std::string wanted = at(p, i);
      matches = wanted == "?" || wanted == "x" || at(f, i) == wanted;
    }
    if (matches) result.insert(at(f, k));
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte read as signed, so that negative indices are tried too.
  const int idx =
      static_cast<int>(static_cast<int8_t>(data[0]));  // NOLINT(bugprone-signed-char-misuse)
  std::vector<std::string> lines =
      split(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), '\n');
  const std::string pattern = lines.back();
  lines.pop_back();

  OperatorType catalogue;
  const onnx::Symbol op(onnx::kConv);
  const onnx::Symbol absent(onnx::kAdd);
  if (!lines.empty()) catalogue.supportMap[op] = orvel::CombinationSet(lines.begin(), lines.end());
  const std::size_t entries = catalogue.supportMap.size();

  // Every text a query can give: a field of some combination, or empty.
  std::set<std::string> fields{""};
  for (const std::string& c : lines) {
    const std::vector<std::string> f = split(c, '-');
    fields.insert(f.begin(), f.end());
    // _input_ reads field 0, field 1 or nothing; _output_ the last field.
    const std::string in = orvel::_input_(c, idx);
    require(in.empty() || in == f[0] || (f.size() > 2 && in == f[1]));
    if (idx < 0) require(in.empty());
    if (idx == 0 || (idx > 0 && static_cast<std::size_t>(idx) + 1 >= f.size())) require(in == f[0]);
    require(orvel::_output_(c) == f.back());
  }

  const std::set<std::string> matched = catalogue.supportTypes(op, pattern);
  require(matched == literalSupportTypes(lines, pattern));
  for (const std::string& t : matched) require(fields.count(t) == 1);
  if (pattern.find('?') == std::string::npos) require(matched.empty());
  if (lines.empty()) require(matched.empty());
  require(catalogue.supportTypes(op, "?") == catalogue.outputSupportTypes(op));

  const std::set<std::string> inputs = catalogue.inputSupportTypes(op, idx);
  const std::set<std::string> outputs = catalogue.outputSupportTypes(op);
  for (const std::string& t : inputs) require(fields.count(t) == 1);
  for (const std::string& t : outputs) require(fields.count(t) == 1);
  require(inputs.size() <= lines.size() && outputs.size() <= lines.size());
  if (idx < 0 && !lines.empty()) require(inputs == std::set<std::string>{""});

  std::set<std::string> candidates = fields;
  candidates.insert(pattern);
  for (const std::string& q : candidates) {
    require(catalogue.isInputSupport(op, q, idx) == (inputs.count(q) == 1));
    require(catalogue.isOutputSupport(op, q) == (outputs.count(q) == 1));
  }

  // Nothing is answered for, or added for, an operator without an entry.
  require(catalogue.supportTypes(absent, pattern).empty());
  require(catalogue.inputSupportTypes(absent, idx).empty());
  require(!catalogue.isOutputSupport(absent, pattern));
  require(catalogue.supportMap.size() == entries);
  require(catalogue.supportMap.count(absent) == 0);
  return 0;
}
