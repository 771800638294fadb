// Native cost of each query, each target constructor and of interning.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

#include "catalogue/operator_type.h"
#include "onnx/common/interned_strings.h"

namespace {

using namespace onnx;  // NOLINT(google-build-using-namespace)
using orvel::OperatorType;

const std::vector<std::string> kTargets{"tamsin", "tamsin2", "corvel", "corvel-e", "pelor", "m55"};

// The operators asked about: the largest entry, a small one, and none.
struct Case {
  const char* label;
  BuiltinSymbol op;
};
const Case kCases[] = {{"large", kConv}, {"small", kSoftmax}, {"absent", kZtQuantize}};

const OperatorType& m55() {
  static const OperatorType catalogue("m55");
  return catalogue;
}

void constructor(benchmark::State& state, const std::string& target) {
  for (auto _ : state) {
    OperatorType catalogue(target);
    benchmark::DoNotOptimize(catalogue.supportMap);
  }
}

// Interning `count` new names into a table of its own: the hash of each
// name, and every rehash as the table grows.
void internNewNames(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  std::vector<std::string> names;
  for (std::size_t i = 0; i < count; ++i) names.push_back("CustomOperator" + std::to_string(i));
  for (auto _ : state) {
    InternedStrings table;
    for (const std::string& name : names) benchmark::DoNotOptimize(table.intern(name));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The symbol of a name the process-wide table already holds.
void internKnownName(benchmark::State& state, const std::string& name) {
  const Symbol first(name);
  benchmark::DoNotOptimize(first);
  for (auto _ : state) benchmark::DoNotOptimize(Symbol(name));
}

// The output types of an operator filled by hand with `range(0)` combinations
// whose outputs all differ: the scan path, whose cost must grow linearly.
void distinctOutputs(benchmark::State& state) {
  OperatorType catalogue;
  orvel::CombinationSet& combos = catalogue.supportMap[kConv];
  for (int64_t i = 0; i < state.range(0); ++i) combos.insert("int8-type" + std::to_string(i));
  for (auto _ : state) benchmark::DoNotOptimize(catalogue.outputSupportTypeSet(kConv));
}

template <typename Query>
void query(benchmark::State& state, Query ask, BuiltinSymbol op) {
  const OperatorType& catalogue = m55();
  for (auto _ : state) {
    auto answer = ask(catalogue, op);
    benchmark::DoNotOptimize(answer);
  }
}

void registerAll() {
  for (const std::string& target : kTargets) {
    benchmark::RegisterBenchmark(("OperatorType/" + target).c_str(), constructor, target);
  }
  benchmark::RegisterBenchmark("intern/new_names", internNewNames)->Arg(4096);
  benchmark::RegisterBenchmark("intern/known_dynamic", internKnownName,
                               std::string("CustomOperatorAlreadyInterned"));
  benchmark::RegisterBenchmark("intern/builtin", internKnownName, std::string("ZtQuantize"));
  benchmark::RegisterBenchmark("output_support_types/distinct_outputs", distinctOutputs)
      ->Arg(5000)
      ->Arg(20000)
      ->Unit(benchmark::kMillisecond);
  for (const Case& c : kCases) {
    const std::string suffix = std::string("/") + c.label;
    benchmark::RegisterBenchmark(("support_types" + suffix).c_str(), [c](benchmark::State& s) {
      query(
          s, [](const OperatorType& t, Symbol op) { return t.supportTypes(op, "int8-x-?"); }, c.op);
    });
    benchmark::RegisterBenchmark(
        ("input_support_types" + suffix).c_str(), [c](benchmark::State& s) {
          query(
              s, [](const OperatorType& t, Symbol op) { return t.inputSupportTypes(op, 1); }, c.op);
        });
    benchmark::RegisterBenchmark(
        ("output_support_types" + suffix).c_str(), [c](benchmark::State& s) {
          query(s, [](const OperatorType& t, Symbol op) { return t.outputSupportTypes(op); }, c.op);
        });
    benchmark::RegisterBenchmark(("is_input_support" + suffix).c_str(), [c](benchmark::State& s) {
      query(
          s, [](const OperatorType& t, Symbol op) { return t.isInputSupport(op, "int16", 0); },
          c.op);
    });
    benchmark::RegisterBenchmark(("is_output_support" + suffix).c_str(), [c](benchmark::State& s) {
      query(
          s, [](const OperatorType& t, Symbol op) { return t.isOutputSupport(op, "int32"); }, c.op);
    });
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
