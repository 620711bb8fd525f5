// A plain reading of the effect rules, written for clarity and not for speed. Every fast
// path of the engine is compared with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/Engine.h"

namespace oracle {

// A packed image: planes samples per pixel, rows without gaps. At depth 16 each sample is two
// bytes, little-endian, 0 to kFullSixteen; at depth 32 four bytes, which renders copy.
struct Image {
  int width = 0;
  int height = 0;
  int planes = 3;
  std::vector<uint8_t> samples;
  int depth = 8;

  // The byte of an 8-bit sample.
  uint8_t& At(int x, int y, int k) { return samples[(size_t(y) * width + x) * planes + k]; }
  uint8_t At(int x, int y, int k) const { return samples[(size_t(y) * width + x) * planes + k]; }

  int SampleBytes() const { return depth == 16 ? 2 : depth == 32 ? 4 : 1; }
  // A sample at either depth (depth 16: the word).
  uint32_t Sample(int x, int y, int k) const {
    const size_t i = ((size_t(y) * width + x) * planes + k) * SampleBytes();
    return SampleBytes() == 2 ? uint32_t(samples[i] | samples[i + 1] << 8) : samples[i];
  }
  void SetSample(int x, int y, int k, uint32_t v) {
    const size_t i = ((size_t(y) * width + x) * planes + k) * SampleBytes();
    samples[i] = uint8_t(v);
    if (SampleBytes() == 2) samples[i + 1] = uint8_t(v >> 8);
  }
};

// An 8-bit image at depth 16, each sample as SixteenOfEightBit of it.
Image Widen(const Image& image);
// A 16-bit image at depth 8, each sample as NearestEightBit of it.
Image Narrow(const Image& image);

// What the engine reads from its frame besides the settings.
struct FrameFlags {
  bool previewing = false;
  bool useCustomColor = false;
  int32_t customRed = 0, customGreen = 0, customBlue = 0;
};

// One call the render made to the host: an abort check, or progress (done, total).
struct HostCall {
  bool isAbort;
  int32_t done;
  int32_t total;
  bool operator==(const HostCall&) const = default;
};

// The host's side of a render: abortProc answers true at call number abortAtCall
// (counting from 0; -1 never), and every call is recorded.
struct ScriptedHost {
  int abortAtCall = -1;
  int abortCalls = 0;
  std::vector<HostCall> calls;

  bool Abort() {
    calls.push_back({true, 0, 0});
    return abortCalls++ == abortAtCall;
  }
  void Progress(int32_t done, int32_t total) { calls.push_back({false, done, total}); }
};

// The output image of a render of input with these settings.
Image Render(const Image& input, const EffectSettings& settings, const FrameFlags& flags,
             ScriptedHost& host);

// Pieces the golden-value tests look at directly.
struct Kernel {
  // weight[i + 100][j + 100][k] for offsets i, j from -100 to 99
  std::vector<int32_t> weights = std::vector<int32_t>(200 * 200 * 3, 0);
  int32_t Weight(int i, int j, int k) const {
    return weights[((size_t(i) + 100) * 200 + (size_t(j) + 100)) * 3 + k];
  }
};
Kernel BuildKernel(int32_t radius, int32_t red, int32_t green, int32_t blue);

}  // namespace oracle
