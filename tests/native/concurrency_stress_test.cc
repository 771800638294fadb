// Threads released together make the very first calls of the process at
// once: creation of the symbol table, the first call of every rule-list
// predicate, interning of overlapping new names, names of dynamic ids, and
// queries and predicates on catalogues of several targets shared between
// them. Every answer must equal the single-threaded one.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalogue/operator_type.h"
#include "interned_strings_access.h"
#include "start_barrier.h"

namespace orvel {
namespace {

using namespace onnx;  // NOLINT(google-build-using-namespace)

constexpr int kThreads = 8;
constexpr int kRounds = 40;
const char* const kTargets[] = {"tamsin", "corvel", "pelor", "m55"};
const BuiltinSymbol kOperators[] = {kConv,    kAdd,        kSigmoid, kReduceMean, kTranspose,
                                    kSoftmax, kGridSample, kMatMul,  kEqual,      kIdentity};
const char* const kPatterns[] = {"?", "int8-?", "?-x-int16", "x-?-x", "int8-int8-?", "x-x-x-?"};

// Everything one thread learns; compared across threads and with a
// single-threaded run.
struct Answers {
  std::vector<std::set<std::string>> sets;
  std::vector<bool> flags;
  std::map<std::string, uint32_t> ids;
  bool operator==(const Answers& o) const { return sets == o.sets && flags == o.flags; }
};

void ask(const std::vector<OperatorType>& catalogues, int thread, int round, Answers& out) {
  for (const OperatorType& c : catalogues) {
    for (const BuiltinSymbol op : kOperators) {
      out.flags.push_back(c.isOutputMustInt16(op));
      out.flags.push_back(c.isInputMustInt16(op, round));
      out.flags.push_back(c.isInputMustSame(op));
      out.flags.push_back(c.isDummyNodeCanBeIgnored(op));
      out.flags.push_back(c.isSupportedByLut(op));
      out.flags.push_back(c.isFloatOps(op));
      out.flags.push_back(c.isSingleInt16Ops(op));
      out.flags.push_back(c.isInputSupport(op, "int16", 0));
      out.flags.push_back(c.isOutputSupport(op, "int32"));
      out.sets.push_back(c.inputSupportTypes(op, 1));
      out.sets.push_back(c.outputSupportTypes(op));
      for (const char* pattern : kPatterns) out.sets.push_back(c.supportTypes(op, pattern));
    }
  }
  if (thread < 0) return;  // the single-threaded reference interns nothing
  // Overlapping names: thread t shares half of its names with thread t + 1.
  for (int i = 0; i < 20; ++i) {
    const std::string name =
        "stress-" + std::to_string(round) + "-" + std::to_string(thread * 10 + i);
    const Symbol sym(name);
    out.ids[name] = sym;
    if (sym.toString() != name) out.flags.push_back(false);
    // A query with the name, as a Python call makes it.
    out.sets.push_back(
        catalogues[static_cast<std::size_t>(round) % catalogues.size()].inputSupportTypes(sym, 0));
  }
}

TEST(ConcurrencyStress, FirstCallsFromManyThreadsAgreeWithOneThread) {
  // Catalogues are built from constants only: the symbol table and the rule
  // lists still do not exist when the threads start.
  std::vector<OperatorType> catalogues;
  for (const char* target : kTargets) catalogues.emplace_back(target);

  std::vector<Answers> answers(kThreads);
  runTogether(kThreads, [&](int t) {
    for (int round = 0; round < kRounds; ++round)
      ask(catalogues, t, round, answers[static_cast<std::size_t>(t)]);
  });

  // The single-threaded answers, now that everything exists.
  Answers reference;
  for (int round = 0; round < kRounds; ++round) {
    Answers one;
    ask(catalogues, -1, round, one);
    reference.sets.insert(reference.sets.end(), one.sets.begin(), one.sets.end());
    reference.flags.insert(reference.flags.end(), one.flags.begin(), one.flags.end());
  }

  std::map<std::string, uint32_t> agreed;
  for (int t = 0; t < kThreads; ++t) {
    const Answers& a = answers[static_cast<std::size_t>(t)];
    // Drop the per-name entries to compare with the reference.
    Answers queried;
    std::size_t s = 0;
    std::size_t f = 0;
    for (int round = 0; round < kRounds; ++round) {
      const std::size_t setsPerRound = reference.sets.size() / kRounds;
      const std::size_t flagsPerRound = reference.flags.size() / kRounds;
      queried.sets.insert(queried.sets.end(), a.sets.begin() + static_cast<long>(s),
                          a.sets.begin() + static_cast<long>(s + setsPerRound));
      queried.flags.insert(queried.flags.end(), a.flags.begin() + static_cast<long>(f),
                           a.flags.begin() + static_cast<long>(f + flagsPerRound));
      s += setsPerRound + 20;  // the name queries answer the empty set
      f += flagsPerRound;
    }
    EXPECT_TRUE(queried == reference) << "thread " << t;
    EXPECT_EQ(a.flags.size(), f) << "thread " << t << " saw a wrong name";
    for (const auto& [name, id] : a.ids) {
      const auto [it, inserted] = agreed.emplace(name, id);
      EXPECT_EQ(it->second, id) << name << " got two ids";
    }
  }
  std::set<uint32_t> ids;
  for (const auto& entry : agreed) ids.insert(entry.second);
  ASSERT_EQ(ids.size(), agreed.size()) << "two names share an id";
  EXPECT_EQ(*ids.begin(), 437u);
  EXPECT_EQ(*ids.rbegin(), 437u + ids.size() - 1);
  InternedStrings& table = globalStrings();
  EXPECT_EQ(InternedStringsTestAccess::nextSym(table), 437u + ids.size());
  EXPECT_TRUE(InternedStringsTestAccess::consistent(table));
  EXPECT_TRUE(InternedStringsTestAccess::unlocked(table));
}

}  // namespace
}  // namespace orvel
