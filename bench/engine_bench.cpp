// The shipped render and the plain oracle on a 1600 x 1200 night scene: dark noise with a
// scattering of bright lights.
#include <benchmark/benchmark.h>

#include <random>

#include "engine/Engine.h"
#include "engine/RenderFrame.h"
#include "tests/oracle/Oracle.h"

namespace {

const oracle::Image& Scene() {
  static const oracle::Image image = [] {
    oracle::Image im;
    im.width = 1600;
    im.height = 1200;
    im.planes = 3;
    im.samples.resize(size_t(im.width) * im.height * 3);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> dark(0, 60), pct(0, 999), bright(245, 255);
    for (size_t i = 0; i < im.samples.size(); i += 3) {
      const bool light = pct(rng) < 2;  // 0.2 % of the pixels
      for (int k = 0; k < 3; ++k) im.samples[i + k] = uint8_t(light ? bright(rng) : dark(rng));
    }
    return im;
  }();
  return image;
}

EffectSettings SettingsFor(int mode) {
  return {255, 255, 255, 10, 30, 45, 4, mode, 1.0f};
}

void Shipped(benchmark::State& state) {
  const oracle::Image& in = Scene();
  std::vector<uint8_t> out(in.samples.size());
  const PixelBuffers buffers{in.samples.data(), in.width * 3, out.data(), in.width * 3,
                             in.width,          in.height,    3};
  const EffectSettings s = SettingsFor(int(state.range(0)));
  for (auto _ : state) {
    RenderPixels(buffers, s, HostPolling{nullptr, nullptr, nullptr});
    benchmark::DoNotOptimize(out.data());
  }
}

void Plain(benchmark::State& state) {
  const oracle::Image& in = Scene();
  const EffectSettings s = SettingsFor(int(state.range(0)));
  for (auto _ : state) {
    oracle::ScriptedHost host;
    benchmark::DoNotOptimize(oracle::Render(in, s, {}, host).samples.data());
  }
}

}  // namespace

// 0 Glow, 1 Sparkle
BENCHMARK(Shipped)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Plain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
