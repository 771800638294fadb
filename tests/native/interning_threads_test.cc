// Threads that make the first calls of the process at once: creation of the
// table, interning of overlapping new names, and names of dynamic ids.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "interned_strings_access.h"
#include "onnx/common/interned_strings.h"
#include "start_barrier.h"

namespace onnx {
namespace {

constexpr int kThreads = 8;
constexpr int kNamesPerThread = 400;
// Thread t interns names t*kStride up to t*kStride + kNamesPerThread, so each
// name is shared with its neighbours.
constexpr int kStride = 150;

std::string nameOf(int n) { return "threaded-op-" + std::to_string(n); }

TEST(InterningThreads, OverlappingNamesGetOneIdEachAndIdsStayDense) {
  std::vector<std::map<std::string, uint32_t>> seen(kThreads);
  std::vector<int> wrongNames(kThreads, 0);
  runTogether(kThreads, [&](int t) {
    // The very first use of the table in this process happens here, in
    // every thread at once. Alternate directions to vary the interleaving.
    for (int i = 0; i < kNamesPerThread; ++i) {
      const int n = t * kStride + (t % 2 == 0 ? i : kNamesPerThread - 1 - i);
      const Symbol sym(nameOf(n));
      seen[static_cast<std::size_t>(t)][nameOf(n)] = sym;
      if (sym.toString() != nameOf(n)) {
        ++wrongNames[static_cast<std::size_t>(t)];
      }
      if (Symbol(kSigmoid).toString() != std::string("Sigmoid")) {
        ++wrongNames[static_cast<std::size_t>(t)];
      }
    }
  });

  std::map<std::string, uint32_t> agreed;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(wrongNames[static_cast<std::size_t>(t)], 0) << "thread " << t;
    for (const auto& [name, id] : seen[static_cast<std::size_t>(t)]) {
      const auto [it, inserted] = agreed.emplace(name, id);
      EXPECT_EQ(it->second, id) << name << " got two ids";
    }
  }
  constexpr std::size_t distinct = (kThreads - 1) * kStride + kNamesPerThread;
  ASSERT_EQ(agreed.size(), distinct);

  std::set<uint32_t> ids;
  for (const auto& entry : agreed) {
    ids.insert(entry.second);
  }
  EXPECT_EQ(ids.size(), distinct) << "two names share an id";
  EXPECT_EQ(*ids.begin(), 437u);
  EXPECT_EQ(*ids.rbegin(), 437u + distinct - 1);  // dense: no id skipped

  InternedStrings& table = globalStrings();
  EXPECT_EQ(InternedStringsTestAccess::nextSym(table), 437u + distinct);
  EXPECT_EQ(InternedStringsTestAccess::stringToSym(table).size(), 437u + distinct);
  EXPECT_TRUE(InternedStringsTestAccess::consistent(table));
}

TEST(InterningThreads, ConcurrentNamesOfDynamicIdsAreStable) {
  std::vector<Symbol> symbols;
  std::vector<const char*> addresses;
  for (int n = 0; n < 64; ++n) {
    symbols.emplace_back("stable-" + std::to_string(n));
    addresses.push_back(symbols.back().toString());
  }
  std::vector<int> mismatches(kThreads, 0);
  runTogether(kThreads, [&](int t) {
    for (int round = 0; round < 200; ++round) {
      // Keep interning while others read, so the maps grow under them.
      const Symbol fresh("churn-" + std::to_string(t) + "-" + std::to_string(round));
      (void)fresh;
      for (std::size_t i = 0; i < symbols.size(); ++i) {
        if (symbols[i].toString() != addresses[i]) {
          ++mismatches[static_cast<std::size_t>(t)];
        }
      }
    }
  });
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(mismatches[static_cast<std::size_t>(t)], 0) << "thread " << t;
  }
  EXPECT_TRUE(InternedStringsTestAccess::consistent(globalStrings()));
}

}  // namespace
}  // namespace onnx
