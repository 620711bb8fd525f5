// The shipped render against the plain oracle on the cases of the speed goals, timed with
// the standard clock where Google Benchmark is not to be had (the Windows builds, under
// Wine). Best of five shipped renders on 1 thread, 2 threads and every core, taken in turn,
// one plain render; then each case at 16 bits against 8 bits, three rounds of each depth's
// renders one after another, each round best of five or of 100 ms of renders. From the
// times on 1 and 2 threads it gives the share p of each render that runs in parallel
// (Amdahl: t2 = t1 (1 - p + p / 2)) and what 8 and 16 cores would take. Optional argument: a
// part of the case names to run, or --24mp for the dense cases at a photograph's size.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "bench/BenchCases.h"

namespace {

template <typename F>
double Milliseconds(F f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Best of `runs` renders, or of as many as fill `budget` milliseconds (at most 200): five
// renders of a millisecond or two are too few to find one the machine left alone.
double Best(int runs, const std::function<void()>& f, double budget = 0) {
  double best = 1e300, spent = 0;
  for (int n = 0; n < runs || (n < 200 && spent < budget); ++n) {
    const double ms = Milliseconds(f);
    best = std::min(best, ms);
    spent += ms;
  }
  return best;
}

}  // namespace

namespace {

// A photograph's size: the dense cases on 6000 x 4000 pixels, 1 thread against 2, taken in
// turn, best of two (no plain render: it would take hours). Each render is checked against
// the first, on one thread.
int TwentyFourMegapixels() {
  std::printf(
      "| case, 6000 x 4000 | 1 thread | 2 threads | 2 / 1 | same bytes |\n|---|---|---|---|---|\n");
  const EffectSettings sparkle{
      bench::kPale.red, bench::kPale.green, bench::kPale.blue, 100, 60, 30, 4, 1, 1.0f};
  const bench::Case cases[] = {
      {"Glow r30 dense", bench::Scene(6000, 4000, true), bench::Glow(30, 30)},
      {"Sparkle r60 t100 dense", bench::Scene(6000, 4000, true, bench::kPale), sparkle},
  };
  for (const bench::Case& c : cases) {
    std::vector<uint8_t> out, first;
    double ms[2] = {1e300, 1e300};
    bool same = true;
    for (int round = 0; round < 2; ++round)
      for (int i = 0; i < 2; ++i) {
        EngineTuning tuning;
        tuning.threads = i + 1;
        ms[i] = std::min(ms[i], Milliseconds([&] { bench::RenderShipped(c, out, tuning); }));
        if (first.empty()) first = out;
        same = same && out == first;
      }
    std::printf("| %s | %.0f ms | %.0f ms | %.2fx | %s |\n", c.name.c_str(), ms[0], ms[1],
                ms[0] / ms[1], same ? "yes" : "NO");
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--24mp") return TwentyFourMegapixels();
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::printf("%u cores\n", cores);
  std::vector<bench::Timing> timings;
  std::printf(
      "\n| case | plain | 1 thread | 2 threads | %u threads | ratio | 2 / 1 | parallel | 8 "
      "cores | 16 cores | same bytes |\n|---|---|---|---|---|---|---|---|---|---|---|\n",
      cores);
  for (const bench::Case& c : bench::Cases()) {
    if (argc > 1 && c.name.find(argv[1]) == std::string::npos) continue;
    std::vector<uint8_t> out, plain;
    const double plainMs = Milliseconds([&] { plain = bench::RenderPlain(c); });
    double ms[3] = {1e300, 1e300, 1e300};
    const int32_t counts[3] = {1, 2, 0};
    bool same = true;
    // Round by round, each thread count once a round: the speed of these shared machines
    // drifts over seconds, and a drift then touches every column alike.
    for (int round = 0; round < 5; ++round)
      for (int i = 0; i < 3; ++i) {
        EngineTuning tuning;
        tuning.threads = counts[i];
        ms[i] = std::min(ms[i], Milliseconds([&] { bench::RenderShipped(c, out, tuning); }));
        same = same && out == plain;
      }
    const double p = std::clamp(2 * (1 - ms[1] / ms[0]), 0.0, 1.0);
    auto on = [&](double n) { return ms[0] * (1 - p + p / n); };
    std::printf(
        "| %s | %.0f ms | %.2f ms | %.2f ms | %.2f ms | %.1fx | %.2fx | %.0f %% | %.2f ms "
        "| %.2f ms | %s |\n",
        c.name.c_str(), plainMs, ms[0], ms[1], ms[2], plainMs / ms[2], ms[0] / ms[1], 100 * p,
        on(8), on(16), same ? "yes" : "NO");
    std::fflush(stdout);
  }

  std::printf("\n| case | 8 bits | 16 bits | 16 / 8 | same bytes |\n|---|---|---|---|---|\n");
  for (const bench::Case& c : bench::Cases()) {
    if (argc > 1 && c.name.find(argv[1]) == std::string::npos) continue;
    const oracle::Image wide = oracle::Widen(c.image);
    std::vector<uint8_t> out8, out16;
    // Each depth's renders one after another: taken in turn, each 8-bit render would follow a
    // 16-bit one that left the caches full of its own bytes, which flatters the ratio. Three
    // rounds of both, so that a drift of the machine's speed touches both depths.
    double eight = 1e300, sixteen = 1e300;
    for (int round = 0; round < 3; ++round) {
      eight = std::min(eight, Best(
                                  5, [&] { bench::RenderShipped(c, out8); }, 100));
      sixteen =
          std::min(sixteen, Best(
                                5, [&] { bench::RenderShippedSixteen(c, wide, out16); }, 100));
    }
    const bool same = out16 == bench::RenderPlainSixteen(c, wide);
    std::printf("| %s | %.2f ms | %.2f ms | %.2fx | %s |\n", c.name.c_str(), eight, sixteen,
                sixteen / eight, same ? "yes" : "NO");
    std::fflush(stdout);
  }

  // What the threads themselves cost: a render of a 1-pixel image that shares its rows among
  // every core, its workers started and joined, and again while a scope keeps them (a woken
  // worker).
  const bench::Case tiny{"tiny", bench::Scene(4, 64, true), bench::Glow(30, 1)};
  std::vector<uint8_t> out;
  EngineTuning every;
  every.shareAll = true;
  every.threads = int32_t(std::max(2u, cores));
  const double alone = Best(20, [&] { bench::RenderShipped(tiny, out); });
  const double started = Best(20, [&] { bench::RenderShipped(tiny, out, every); });
  double woken;
  {
    const RenderThreadScope kept(bench::Context());
    bench::RenderShipped(tiny, out, every);
    woken = Best(20, [&] { bench::RenderShipped(tiny, out, every); });
  }
  std::printf(
      "\nthreads of a render (%d): started and joined %.3f ms, woken %.3f ms, beyond a "
      "render on one thread (%.3f ms)\n",
      every.threads, started - alone, woken - alone, alone);
  return 0;
}
