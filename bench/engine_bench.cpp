// The shipped render against the plain oracle on the cases of the speed goals, timed with
// Google Benchmark; prints the ratios and whether each pair of outputs is identical. Every
// case is timed at 16 bits too, on the same image converted, against its 8-bit time.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>

#include "bench/BenchCases.h"

namespace {

// Collects each run's real time (the render may use two threads) by the registered name.
class Collector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ms;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // With repetitions, the median stands for the runs.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      ms[run.run_name.function_name] = run.GetAdjustedRealTime();  // in the unit below
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<bench::Case> cases = bench::Cases();
  std::map<std::string, oracle::Image> wide;
  for (const bench::Case& c : cases)
    wide[c.name] = oracle::Widen(c.image);
  for (const bench::Case& c : cases) {
    benchmark::RegisterBenchmark(("shipped/" + c.name).c_str(),
                                 [&c](benchmark::State& state) {
                                   std::vector<uint8_t> out;
                                   for (auto _ : state) {
                                     bench::RenderShipped(c, out);
                                     benchmark::DoNotOptimize(out.data());
                                   }
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    // The plain rules take seconds a render: once is enough.
    benchmark::RegisterBenchmark(("plain/" + c.name).c_str(),
                                 [&c](benchmark::State& state) {
                                   for (auto _ : state)
                                     benchmark::DoNotOptimize(bench::RenderPlain(c).data());
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
    if (!wide.count(c.name)) continue;
    const oracle::Image& image = wide[c.name];
    benchmark::RegisterBenchmark(("shipped16/" + c.name).c_str(),
                                 [&c, &image](benchmark::State& state) {
                                   std::vector<uint8_t> out;
                                   for (auto _ : state) {
                                     bench::RenderShippedSixteen(c, image, out);
                                     benchmark::DoNotOptimize(out.data());
                                   }
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  std::vector<bench::Timing> timings;
  for (const bench::Case& c : cases) {
    const auto plain = collector.ms.find("plain/" + c.name);
    const auto shipped = collector.ms.find("shipped/" + c.name);
    if (plain == collector.ms.end() || shipped == collector.ms.end()) continue;
    std::vector<uint8_t> out;
    bench::RenderShipped(c, out);
    timings.push_back({c.name, plain->second, shipped->second, out == bench::RenderPlain(c)});
  }
  bench::PrintRatios(timings);

  std::printf("\n| case | 8 bits | 16 bits | 16 / 8 | same bytes |\n|---|---|---|---|---|\n");
  for (const bench::Case& c : cases) {
    const auto eight = collector.ms.find("shipped/" + c.name);
    const auto sixteen = collector.ms.find("shipped16/" + c.name);
    if (eight == collector.ms.end() || sixteen == collector.ms.end()) continue;
    std::vector<uint8_t> out;
    bench::RenderShippedSixteen(c, wide[c.name], out);
    std::printf("| %s | %.1f ms | %.1f ms | %.2fx | %s |\n", c.name.c_str(), eight->second,
                sixteen->second, sixteen->second / eight->second,
                out == bench::RenderPlainSixteen(c, wide[c.name]) ? "yes" : "NO");
  }
  benchmark::Shutdown();
  return 0;
}
