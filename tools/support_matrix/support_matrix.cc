// Writes what the catalogue knows, read from the catalogue itself:
//
//   support_matrix DOCS README           write the files below; exit 1,
//                                        leaving every file whole, if one fails
//   support_matrix --check DOCS README   exit 1 if any of them differs
//   support_matrix --json                every target's table as JSON, on stdout
//
// The files: DOCS/support-matrix.md, one DOCS/support-matrix-FAMILY.svg per
// table, DOCS/catalogue.json (the whole catalogue as data, described by
// DOCS/catalogue.schema.json), and the region of README between the
// "generated: target tables" markers.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "catalogue/operator_type.h"
#include "tools/support_matrix/output.h"

namespace {

using orvel::CombinationSet;
using orvel::OperatorType;
using Table = std::map<std::string, CombinationSet>;  // by operator name

const std::vector<std::string>& targets() {
  static const std::vector<std::string> names{"tamsin",   "tamsin2", "corvel",
                                              "corvel-e", "pelor",   "m55"};
  return names;
}

Table tableOf(const std::string& target) {
  Table table;
  for (const auto& [op, combos] : OperatorType(target).supportMap) table[op.toString()] = combos;
  return table;
}

// Targets that share one table, in target order.
struct Family {
  std::vector<std::string> targets;
  Table table;
};

std::vector<Family> families() {
  std::vector<Family> out;
  for (const std::string& target : targets()) {
    Table table = tableOf(target);
    auto same =
        std::find_if(out.begin(), out.end(), [&](const Family& f) { return f.table == table; });
    if (same != out.end()) {
      same->targets.push_back(target);
    } else {
      out.push_back({{target}, std::move(table)});
    }
  }
  return out;
}

// The table of `target`, one of targets().
const Table& tableFor(const std::vector<Family>& fams, const std::string& target) {
  return std::find_if(fams.begin(), fams.end(),
                      [&](const Family& f) {
                        return std::count(f.targets.begin(), f.targets.end(), target) > 0;
                      })
      ->table;
}

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
  return out;
}

std::string quoted(const std::vector<std::string>& targets) {
  std::vector<std::string> q;
  q.reserve(targets.size());
  for (const std::string& t : targets) q.push_back("\"" + t + "\"");
  return join(q, ", ");
}

std::string code(const std::string& text) { return "`" + text + "`"; }

std::size_t inputsOf(const std::string& combo) {
  return static_cast<std::size_t>(std::count(combo.begin(), combo.end(), '-'));
}

// Combinations ordered as a reader scans them: one input before two, then
// byte order.
bool comboBefore(const std::string& a, const std::string& b) {
  return inputsOf(a) != inputsOf(b) ? inputsOf(a) < inputsOf(b) : a < b;
}

std::vector<std::string> combosOf(const Table& table) {
  std::set<std::string> all;
  for (const auto& entry : table) all.insert(entry.second.begin(), entry.second.end());
  std::vector<std::string> out(all.begin(), all.end());
  std::sort(out.begin(), out.end(), comboBefore);
  return out;
}

// The type names among `names`, in the catalogue's order of types.
std::vector<std::string> inTypeOrder(const std::set<std::string>& names) {
  std::vector<std::string> out;
  for (const std::string_view type : orvel::kTypeNames) {
    if (names.count(std::string(type)) != 0) out.emplace_back(type);
  }
  for (const std::string& name : names) {
    if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  }
  return out;
}

// What the queries answer for an operator: the types of each input position
// that its combinations have, and of its output.
struct Types {
  std::vector<std::vector<std::string>> inputs;
  std::vector<std::string> output;
};

Types typesOf(const CombinationSet& combos) {
  std::size_t inputs = 0;
  for (const std::string& c : combos) inputs = std::max(inputs, inputsOf(c));
  Types types;
  for (std::size_t i = 0; i < inputs; ++i) {
    std::set<std::string> at;
    for (const std::string& c : combos) at.insert(orvel::_input_(c, static_cast<int>(i)));
    types.inputs.push_back(inTypeOrder(at));
  }
  std::set<std::string> out;
  for (const std::string& c : combos) out.insert(orvel::_output_(c));
  types.output = inTypeOrder(out);
  return types;
}

// "i8-i16-i32" for "int8-int16-int32".
std::string shortCombo(const std::string& combo) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t dash = combo.find('-'); dash != std::string::npos;
       from = dash + 1, dash = combo.find('-', from)) {
    fields.push_back(support_matrix::shortType(combo.substr(from, dash - from)));
  }
  fields.push_back(support_matrix::shortType(combo.substr(from)));
  return join(fields, "-");
}

// "i8-i8-i8 i8-i8-i32 f32-f32-f32": every combination of an operator, short,
// one input before two. Only these are supported: the types of one input
// cannot be paired freely with those of the other.
std::string overviewOf(const CombinationSet& combos) {
  std::vector<std::string> ordered(combos.begin(), combos.end());
  std::sort(ordered.begin(), ordered.end(), comboBefore);
  for (std::string& c : ordered) c = shortCombo(c);
  return join(ordered, " ");
}

// ---------------------------------------------------------------------------
// What differs between one table and the next

struct Difference {
  std::vector<std::string> added;    // in the later table only
  std::vector<std::string> dropped;  // in the earlier table only
  bool operator<(const Difference& o) const {
    return std::tie(added, dropped) < std::tie(o.added, o.dropped);
  }
};

// Operators grouped by how their combinations change from `from` to `to`,
// in order of the first operator of each group.
std::vector<std::pair<std::vector<std::string>, Difference>> differences(const Table& from,
                                                                         const Table& to) {
  std::set<std::string> operators;
  for (const auto& e : from) operators.insert(e.first);
  for (const auto& e : to) operators.insert(e.first);
  std::map<Difference, std::vector<std::string>> grouped;
  for (const std::string& op : operators) {
    const auto a = from.find(op);
    const auto b = to.find(op);
    const CombinationSet none;
    const CombinationSet& before = a == from.end() ? none : a->second;
    const CombinationSet& after = b == to.end() ? none : b->second;
    Difference d;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(d.added));
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(d.dropped));
    std::sort(d.added.begin(), d.added.end(), comboBefore);
    std::sort(d.dropped.begin(), d.dropped.end(), comboBefore);
    if (!d.added.empty() || !d.dropped.empty()) grouped[d].push_back(op);
  }
  std::vector<std::pair<std::vector<std::string>, Difference>> out;
  out.reserve(grouped.size());
  for (auto& [d, ops] : grouped) out.emplace_back(ops, d);
  std::sort(out.begin(), out.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  return out;
}

std::string codes(const std::vector<std::string>& combos) {
  std::vector<std::string> c;
  c.reserve(combos.size());
  for (const std::string& s : combos) c.push_back(code(s));
  return join(c, ", ");
}

// The README's generated region: the targets, which share tables, and what
// differs from each table to the next.
std::string readmeRegion(const std::vector<Family>& fams) {
  std::ostringstream md;
  md << "\n| Target | Operators | Same table as |\n|---|---:|---|\n";
  for (const Family& f : fams) {
    for (const std::string& t : f.targets) {
      std::vector<std::string> others;
      for (const std::string& o : f.targets)
        if (o != t) others.push_back(code(o));
      md << "| " << code(t) << " | " << f.table.size() << " | "
         << (others.empty() ? "none" : join(others, ", ")) << " |\n";
    }
  }
  md << "\nWhat changes from one table to the next (an operator that one of the two "
        "tables lacks has all its combinations added or dropped):\n\n"
     << "| From | To | Operators | Combinations added | Combinations dropped |\n"
     << "|---|---|---|---|---|\n";
  for (std::size_t i = 0; i + 1 < fams.size(); ++i) {
    for (const auto& [ops, d] : differences(fams[i].table, fams[i + 1].table)) {
      md << "| " << join(fams[i].targets, ", ") << " | " << join(fams[i + 1].targets, ", ") << " | "
         << join(ops, ", ") << " (" << ops.size() << ") | " << codes(d.added) << " | "
         << codes(d.dropped) << " |\n";
    }
  }
  md << "\n";
  return md.str();
}

// ---------------------------------------------------------------------------
// The support matrix

std::string svgName(const Family& f) { return "support-matrix-" + f.targets.front() + ".svg"; }

std::string markdown(const std::vector<Family>& fams) {
  std::ostringstream md;
  md << "# Operator support matrix\n\n"
     << "Generated by `make docs` from the tables built into `qcaps`; do not edit by hand.\n"
     << "A combination string lists the input types in input order, then the output type:\n"
     << "`int8-int16-int32` takes an int8 and an int16 input and gives an int32 output.\n"
     << "The same tables, as data: [catalogue.json](catalogue.json).\n\n";

  std::set<std::string> operators;
  for (const Family& f : fams)
    for (const auto& entry : f.table) operators.insert(entry.first);
  std::vector<std::string> columns;
  columns.reserve(fams.size());
  for (const Family& f : fams) columns.push_back(join(f.targets, ", "));
  md << "## Overview\n\n"
     << "For each operator, every combination string its entry holds on each table, with the "
        "type names shortened (i8 = int8, i16 = int16, i32 = int32, f16 = float16, "
        "f32 = float32): `i8-i16-i32` takes an int8 and an int16 input and gives an int32 "
        "output. Only the combinations listed are supported. The types that "
        "`input_support_types` answers for each input do not combine freely: an int16 first "
        "input and an int16 second input may each appear in some combination while no "
        "combination takes both. `-` where the table has no entry, so every query answers "
        "nothing.\n\n"
     << "| Operator | " << join(columns, " | ") << " |\n|---|";
  for (std::size_t i = 0; i < fams.size(); ++i) md << "---|";
  md << "\n";
  for (const std::string& op : operators) {
    md << "| " << op << " |";
    for (const Family& f : fams) {
      const auto found = f.table.find(op);
      md << " " << (found == f.table.end() ? "-" : overviewOf(found->second)) << " |";
    }
    md << "\n";
  }

  for (const Family& f : fams) {
    md << "\n## " << join(f.targets, ", ") << "\n\n"
       << "The table of " << quoted(f.targets) << ": " << f.table.size() << " operators. "
       << "Each row is one set of combination strings and every operator whose entry holds "
          "exactly that set.\n\n"
       << "![The table of " << join(f.targets, " and ") << ": operators against combination "
       << "strings](" << svgName(f) << ")\n\n"
       << "| Combination strings | Operators |\n|---|---|\n";
    std::map<CombinationSet, std::vector<std::string>> rows;
    for (const auto& [op, combos] : f.table) rows[combos].push_back(op);
    std::vector<std::pair<CombinationSet, std::vector<std::string>>> ordered(rows.begin(),
                                                                             rows.end());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto& a, const auto& b) { return a.first.size() < b.first.size(); });
    for (const auto& [combos, ops] : ordered) {
      std::vector<std::string> c;
      for (const std::string& s : combos) c.push_back("`" + s + "`");
      md << "| " << join(c, ", ") << " | " << join(ops, ", ") << " (" << ops.size() << ") |\n";
    }
  }
  md << "\n## What differs\n" << readmeRegion(fams);
  return md.str();
}

// The label over a group of columns, by the combinations' number of inputs.
const char* groupLabel(const std::string& combo) {
  return inputsOf(combo) == 1 ? "one input" : "two inputs";
}

// A generous estimate of the width of `text` in pixels, at `perChar` pixels
// a character: enough that nothing placed after it overlaps it.
int textWidth(std::string_view text, int perChar) {
  return static_cast<int>(text.size()) * perChar;
}

// One table as a picture, readable at about 800 pixels wide: its operators
// against its combination strings, one-input columns apart from two-input
// ones.
std::string svg(const Family& f) {
  constexpr int kCell = 16, kLabel = 170, kHeader = 175, kTitle = 86, kGap = 22, kFont = 13;
  // Pixels a character, at the font size, of plain and of bold text.
  constexpr int kChar = 7, kBoldChar = 8;
  std::vector<std::string> operators;
  for (const auto& entry : f.table) operators.push_back(entry.first);
  const std::vector<std::string> combos = combosOf(f.table);
  // Column positions, with a gap where the combinations gain a second input,
  // wide enough that each group's label clears the one before it; the rule
  // between two groups lies midway through the gap.
  std::vector<int> xs;
  std::vector<int> rules;
  int x = kLabel;
  int groupStart = kLabel;
  for (std::size_t c = 0; c < combos.size(); ++c) {
    if (c > 0 && inputsOf(combos[c]) != inputsOf(combos[c - 1])) {
      const int end = x;
      x = std::max(x + kGap, groupStart + textWidth(groupLabel(combos[c - 1]), kBoldChar) + kGap);
      rules.push_back((end + x) / 2);
      groupStart = x;
    }
    xs.push_back(x);
    x += kCell;
  }
  const int gridRight = x;
  const std::string legendLast = "blank: not supported";
  constexpr int kLegendLast = 358;
  const int width = std::max({gridRight + kLabel,
                              groupStart + textWidth(groupLabel(combos.back()), kBoldChar) + 8,
                              kLegendLast + textWidth(legendLast, kChar) + 8});
  const int gridTop = kTitle + kHeader;
  const int gridBottom = gridTop + static_cast<int>(operators.size()) * kCell;
  const int height = gridBottom + 12;

  std::ostringstream out;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" font-family=\"sans-serif\" font-size=\"" << kFont << "\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"8\" y=\"22\" font-size=\"17\" font-weight=\"bold\">"
      << support_matrix::xmlText(join(f.targets, ", ")) << "</text>\n"
      << "<text x=\"8\" y=\"42\">" << f.table.size() << " operators, " << combos.size()
      << " combination strings</text>\n"
      << "<rect x=\"8\" y=\"52\" width=\"12\" height=\"12\" fill=\"#4a7ab5\"/>"
      << "<text x=\"26\" y=\"63\">floating-point inputs</text>\n"
      << "<rect x=\"190\" y=\"52\" width=\"12\" height=\"12\" fill=\"#d9822b\"/>"
      << "<text x=\"208\" y=\"63\">integer inputs</text>\n"
      << "<rect x=\"" << kLegendLast - 18
      << "\" y=\"52\" width=\"12\" height=\"12\" fill=\"white\" stroke=\"#999\"/>"
      << "<text x=\"" << kLegendLast << "\" y=\"63\">" << legendLast << "</text>\n";
  for (std::size_t r = 0; r < operators.size(); ++r) {
    const int y = gridTop + static_cast<int>(r) * kCell;
    if (r % 2 == 0)
      out << "<rect x=\"0\" y=\"" << y << "\" width=\"" << width << "\" height=\"" << kCell
          << "\" fill=\"#f2f2f2\"/>\n";
    const std::string name = support_matrix::xmlText(operators[r]);
    out << "<text x=\"" << kLabel - 6 << "\" y=\"" << y + kCell - 4 << "\" text-anchor=\"end\">"
        << name << "</text>\n"
        << "<text x=\"" << gridRight + 6 << "\" y=\"" << y + kCell - 4 << "\">" << name
        << "</text>\n";
  }
  // A label over each group of columns, and a rule between the groups.
  std::size_t group = 0;
  for (std::size_t c = 0; c < combos.size(); ++c) {
    if (c == 0 || inputsOf(combos[c]) != inputsOf(combos[c - 1])) {
      out << "<text x=\"" << xs[c] << "\" y=\"" << kTitle - 4 << "\" font-weight=\"bold\">"
          << groupLabel(combos[c]) << "</text>\n";
      if (c > 0) {
        const int rule = rules[group++];
        out << "<line x1=\"" << rule << "\" y1=\"" << kTitle << "\" x2=\"" << rule << "\" y2=\""
            << gridBottom << "\" stroke=\"#555\" stroke-width=\"2\"/>\n";
      }
    }
  }
  for (std::size_t c = 0; c < combos.size(); ++c) {
    const bool floating = combos[c].rfind("float", 0) == 0;
    out << "<text transform=\"translate(" << xs[c] + kCell - 4 << "," << gridTop - 6
        << ") rotate(-90)\">" << support_matrix::xmlText(combos[c]) << "</text>\n";
    for (std::size_t r = 0; r < operators.size(); ++r) {
      if (f.table.at(operators[r]).count(combos[c]) == 0) continue;
      out << "<rect x=\"" << xs[c] + 2 << "\" y=\"" << gridTop + static_cast<int>(r) * kCell + 2
          << "\" width=\"" << kCell - 4 << "\" height=\"" << kCell - 4 << "\" fill=\""
          << (floating ? "#4a7ab5" : "#d9822b") << "\"/>\n";
    }
  }
  out << "</svg>\n";
  return out.str();
}

// ---------------------------------------------------------------------------
// JSON

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (static_cast<unsigned char>(ch) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(ch));
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string jsonStrings(const std::vector<std::string>& items) {
  std::vector<std::string> q;
  q.reserve(items.size());
  for (const std::string& s : items) q.push_back(jsonString(s));
  return "[" + join(q, ", ") + "]";
}

std::string jsonNames(const std::vector<onnx::Symbol>& ops) {
  std::vector<std::string> names;
  names.reserve(ops.size());
  for (const onnx::Symbol op : ops) names.emplace_back(op.toString());
  return jsonStrings(names);
}

// The layout of catalogue.json. It rises when a field changes its meaning or
// goes, so that a reader of the old layout can refuse the new one; adding a
// field leaves it as it is.
constexpr int kFormatVersion = 1;

// The whole catalogue as data: the package's version and the layout's, the
// types, the operator groups, each target's operators with what its queries
// answer, and which targets share a table.
std::string catalogueJson(const std::vector<Family>& fams) {
  std::ostringstream out;
  const std::vector<std::string> typeNames(orvel::kTypeNames.begin(), orvel::kTypeNames.end());
  out << "{\n  \"version\": " << jsonString(QCAPS_VERSION)
      << ",\n  \"formatVersion\": " << kFormatVersion
      << ",\n  \"types\": " << jsonStrings(typeNames) << ",\n  \"groups\": {\n";
  const OperatorType groups;
  const std::vector<std::pair<const char*, const std::vector<onnx::Symbol>*>> named{
      {"lutOps", &groups.lutOps},
      {"compareOps", &groups.compareOps},
      {"elementwiseOps", &groups.elementwiseOps},
      {"sameTypeOps", &groups.sameTypeOps},
      {"reduceOps", &groups.reduceOps},
      {"int8OnlyOps", &groups.int8OnlyOps},
      {"int32Ops", &groups.int32Ops},
      {"floatOnlyOps", &groups.floatOnlyOps}};
  for (std::size_t g = 0; g < named.size(); ++g) {
    out << "    " << jsonString(named[g].first) << ": " << jsonNames(*named[g].second)
        << (g + 1 < named.size() ? ",\n" : "\n");
  }
  out << "  },\n  \"sharedTables\": [";
  for (std::size_t i = 0; i < fams.size(); ++i) {
    out << (i ? ", " : "") << jsonStrings(fams[i].targets);
  }
  out << "],\n  \"targets\": {\n";
  for (std::size_t t = 0; t < targets().size(); ++t) {
    out << "    " << jsonString(targets()[t])
        << ": {\n      \"singleInt16Ops\": " << jsonNames(OperatorType(targets()[t]).singleInt16Ops)
        << ",\n      \"operators\": {\n";
    const Table& table = tableFor(fams, targets()[t]);
    std::size_t n = 0;
    for (const auto& [name, combos] : table) {
      const Types types = typesOf(combos);
      std::vector<std::string> inputs;
      for (const auto& at : types.inputs) inputs.push_back(jsonStrings(at));
      // Every operator of a table is a builtin, found without interning.
      const uint32_t id = *onnx::Symbol::find(name);
      out << "        " << jsonString(name) << ": {\"id\": " << id
          << ", \"combinations\": " << jsonStrings({combos.begin(), combos.end()})
          << ", \"inputs\": [" << join(inputs, ", ")
          << "], \"output\": " << jsonStrings(types.output) << "}"
          << (++n < table.size() ? ",\n" : "\n");
    }
    out << "      }\n    }" << (t + 1 < targets().size() ? ",\n" : "\n");
  }
  out << "  }\n}\n";
  return out.str();
}

// Every target's table, by operator name: what the benchmarks read.
std::string tablesJson(const std::vector<Family>& fams) {
  std::ostringstream out;
  out << "{\n";
  for (std::size_t t = 0; t < targets().size(); ++t) {
    out << (t ? ",\n" : "") << "  " << jsonString(targets()[t]) << ": {";
    std::size_t n = 0;
    for (const auto& [op, combos] : tableFor(fams, targets()[t])) {
      out << (n++ ? ",\n" : "\n") << "    " << jsonString(op) << ": "
          << jsonStrings({combos.begin(), combos.end()});
    }
    out << "\n  }";
  }
  out << "\n}\n";
  return out.str();
}

// ---------------------------------------------------------------------------
// Files

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

constexpr const char* kBegin = "<!-- generated: target tables (make docs) -->\n";
constexpr const char* kEnd = "<!-- end of generated: target tables -->\n";

// `readme` with its generated region replaced by `region`; empty when the
// markers are missing.
std::string withRegion(const std::string& readme, const std::string& region) {
  const std::size_t begin = readme.find(kBegin);
  const std::size_t end = readme.find(kEnd);
  if (begin == std::string::npos || end == std::string::npos || end < begin) return std::string();
  const std::size_t from = begin + std::string(kBegin).size();
  return readme.substr(0, from) + region + readme.substr(end);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::vector<Family> fams = families();
  if (args.size() == 1 && args[0] == "--json") {
    std::cout << tablesJson(fams);
    return 0;
  }
  const bool check = args.size() == 3 && args[0] == "--check";
  if (!check && args.size() != 2) {
    std::cerr << "usage: support_matrix DOCS README | --check DOCS README | --json\n";
    return 2;
  }
  const std::string& dir = args[args.size() - 2];
  const std::string& readmePath = args.back();
  const std::string readme = withRegion(readFile(readmePath), readmeRegion(fams));
  if (readme.empty()) {
    std::cerr << readmePath << " has no generated region between its markers\n";
    return 2;
  }
  std::vector<std::pair<std::string, std::string>> files{
      {dir + "/support-matrix.md", markdown(fams)},
      {dir + "/catalogue.json", catalogueJson(fams)},
      {readmePath, readme}};
  for (const Family& f : fams) files.emplace_back(dir + "/" + svgName(f), svg(f));
  if (!check) {
    return support_matrix::writeAll(files, std::cout, std::cerr) ? 0 : 1;
  }
  int stale = 0;
  for (const auto& [path, text] : files) {
    if (readFile(path) != text) {
      std::cerr << path << " differs from the catalogue's tables: run `make docs`\n";
      ++stale;
    }
  }
  return stale == 0 ? 0 : 1;
}
