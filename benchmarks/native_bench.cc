// Native cost of each query and each target constructor.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "catalogue/operator_type.h"

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
