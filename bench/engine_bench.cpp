// The shipped render against the plain oracle on the cases of the speed goals, timed with
// Google Benchmark; prints the ratios and whether each pair of outputs is identical. Some
// cases are timed at 16 bits too, on the same image converted, against their 8-bit time.
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

// The cases timed at both depths: at 16 bits a render must cost at most twice as much.
bool TimedAtSixteen(const std::string& name) {
  for (const char* n : {"Glow r30 1600x1200 dense", "Glow r30 1600x1200 sparse",
                        "Glow r30 1600x1200 lights over noise", "Glow r100 800x600 dense",
                        "Sparkle r60 t100 800x600 dense"})
    if (name == n) return true;
  return false;
}

void RenderSixteen(const bench::Case& c, const oracle::Image& wide, std::vector<uint8_t>& out) {
  out.resize(wide.samples.size());
  const int stride = wide.width * wide.planes * 2;
  const PixelBuffers buffers{wide.samples.data(), stride,      out.data(),  stride,
                             wide.width,          wide.height, wide.planes, 16};
  RenderOptions options;
  options.previewing = c.previewing;
  RenderPixels(bench::Context(), buffers, c.settings, options,
               HostPolling{nullptr, nullptr, nullptr});
}

std::vector<uint8_t> RenderPlainSixteen(const bench::Case& c, const oracle::Image& wide) {
  oracle::ScriptedHost host;
  oracle::FrameFlags flags;
  flags.previewing = c.previewing;
  return oracle::Render(wide, c.settings, flags, host).samples;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<bench::Case> cases = bench::Cases();
  std::map<std::string, oracle::Image> wide;
  for (const bench::Case& c : cases)
    if (TimedAtSixteen(c.name)) wide[c.name] = oracle::Widen(c.image);
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
                                     RenderSixteen(c, image, out);
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
    RenderSixteen(c, wide[c.name], out);
    std::printf("| %s | %.1f ms | %.1f ms | %.2fx | %s |\n", c.name.c_str(), eight->second,
                sixteen->second, sixteen->second / eight->second,
                out == RenderPlainSixteen(c, wide[c.name]) ? "yes" : "NO");
  }
  benchmark::Shutdown();
  return 0;
}
