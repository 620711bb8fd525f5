// The two sample types the effects draw on: bytes at 8 bits, words at 16. Every routine that
// touches samples is written once for both; what differs is here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/Engine.h"
#include "engine/internal/Exactness.h"

// Full intensity: a blend moves a sample towards it and never past it.
template <typename T>
constexpr int32_t kFull = sizeof(T) == 1 ? 255 : kFullSixteen;

// How far a sample is from full intensity; 0 for samples at or above it (hosts that use the
// whole 16-bit range), which no blend then changes.
template <typename T>
constexpr int32_t GapOf(int32_t c) {
  return c < kFull<T> ? kFull<T> - c : 0;
}

// Sample i from p. A host's rows need not be aligned for words, so they are copied.
template <typename T>
inline int32_t LoadSample(const uint8_t* p, size_t i) {
  T v;
  std::memcpy(&v, p + i * sizeof(T), sizeof(T));
  return v;
}
template <typename T>
inline void StoreSample(uint8_t* p, size_t i, int32_t v) {
  const T t = T(v);
  std::memcpy(p + i * sizeof(T), &t, sizeof(T));
}

// A colour window of 8-bit bounds (MakeColourWindow) as bounds on the samples of one type:
// the same at 8 bits; at 16 bits the samples whose nearest 8-bit value lies in the window,
// which NearestEightBit, rising with the sample, makes an interval. An empty window stays
// empty.
constexpr int32_t LowSixteen(int32_t low) {
  if (low <= 0) return 0;
  if (low > 255) return 65536;
  return (low * kFullSixteen - kFullSixteen / 2 + 254) / 255;
}
constexpr int32_t HighSixteen(int32_t high) {
  if (high < 0) return -1;
  if (high >= 255) return 65535;
  return ((high + 1) * kFullSixteen - kFullSixteen / 2 - 1) / 255;
}
constexpr bool SixteenBoundsAreExact() {
  for (int32_t v = 1; v < 256; ++v)
    if (NearestEightBit(uint32_t(LowSixteen(v))) != v ||
        NearestEightBit(uint32_t(LowSixteen(v) - 1)) != v - 1)
      return false;
  for (int32_t v = 0; v < 255; ++v)
    if (NearestEightBit(uint32_t(HighSixteen(v))) != v ||
        NearestEightBit(uint32_t(HighSixteen(v) + 1)) != v + 1)
      return false;
  return true;
}
static_assert(SixteenBoundsAreExact());

template <typename T>
inline ColourWindow SampleWindow(const ColourWindow& w) {
  if constexpr (sizeof(T) == 1) {
    return w;
  } else {
    return {LowSixteen(w.lowRed),     HighSixteen(w.highRed), LowSixteen(w.lowGreen),
            HighSixteen(w.highGreen), LowSixteen(w.lowBlue),  HighSixteen(w.highBlue)};
  }
}

// Whether a pixel's first three samples lie in a window of SampleWindow<T>.
template <typename T>
inline bool MatchesSamples(const ColourWindow& w, const uint8_t* pixel) {
  const int32_t r = LoadSample<T>(pixel, 0), g = LoadSample<T>(pixel, 1),
                b = LoadSample<T>(pixel, 2);
  return r >= w.lowRed && r <= w.highRed && g >= w.lowGreen && g <= w.highGreen && b >= w.lowBlue &&
         b <= w.highBlue;
}

// Calls f with a value of the frame's sample type: uint8_t{} for 1 byte, uint16_t{} for 2.
template <typename F>
inline void WithSampleType(int32_t sampleBytes, F f) {
  if (sampleBytes == 2)
    f(uint16_t{});
  else
    f(uint8_t{});
}
