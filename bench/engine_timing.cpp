// The shipped render against the plain oracle on the cases of the speed goals, timed with
// the standard clock where Google Benchmark is not to be had (the Windows builds, under
// Wine). Best of three shipped renders, one plain one. Optional arguments: a part of the
// case names to run, and the number of threads (1 or 2) to pin.
#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "bench/BenchCases.h"

namespace {

template <typename F>
double Milliseconds(F f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  EngineTuning tuning;
  if (argc > 2) tuning.threads = std::atoi(argv[2]);
  std::vector<bench::Timing> timings;
  for (const bench::Case& c : bench::Cases()) {
    if (argc > 1 && c.name.find(argv[1]) == std::string::npos) continue;
    bench::Timing t{c.name};
    std::vector<uint8_t> out, plain;
    t.shippedMs = 1e300;
    for (int n = 0; n < 3; ++n)
      t.shippedMs =
          std::min(t.shippedMs, Milliseconds([&] { bench::RenderShipped(c, out, tuning); }));
    t.plainMs = Milliseconds([&] { plain = bench::RenderPlain(c); });
    t.identical = out == plain;
    std::printf("%s: plain %.0f ms, shipped %.1f ms\n", c.name.c_str(), t.plainMs, t.shippedMs);
    std::fflush(stdout);
    timings.push_back(t);
  }
  bench::PrintRatios(timings);
  return 0;
}
