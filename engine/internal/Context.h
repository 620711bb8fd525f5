// What one render works in: its bounds and every table it prepares. Owned by the caller
// (engine/Engine.h), handed down to every routine and thread of the render.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/Engine.h"
#include "engine/internal/Effects.h"

// The render's buffers and bounds.
struct Frame {
  const uint8_t* input;
  uint8_t* output;
  int32_t width;
  int32_t firstRow;
  int32_t endRow;
  int32_t firstColumn;
  int32_t planes;
  int32_t inRowBytes;
  int32_t outRowBytes;
};

// The effect's generator: the same sequence from the same seed in every build.
struct Random {
  uint32_t state = 0;
  void Seed(uint32_t seed) { state = seed; }
  int32_t Next() {  // 0 to 32767
    state = state * 214013u + 2531011u;
    return int32_t((state >> 16) & 0x7FFF);
  }
};

// Pixels blended side by side by the gather.
constexpr int32_t kGlowGroup = 16;
// Zero weights on both sides of each stamp row, so that two groups of pixels at the edge of
// a stamp, or a block of 16 samples run on past it, read zeros (which change nothing).
constexpr int32_t kStampPad = 2 * kGlowGroup;
constexpr int32_t kStampSide = 2 * kMaxRadius + 1;
constexpr int32_t kStampRowSpan = kStampSide + 2 * kStampPad;
// Weights are at most 25 (2 * 255 * 0.05); an 8-bit weight could be at most 255.
constexpr int32_t kStampWeights = 256;

// The kernel as one render's stamps read it (each weight times 256), one row of weights per
// row offset dy, in two layouts: along dx like the pixels of an image row (planes samples
// each, zero for the fourth) for the stamps, so that a run of target pixels finds its
// weights in a run of memory; and one row per colour sample for the gather, which keeps
// each sample of 16 pixels in two lanes of eight.
struct GlowStamp {
  int32_t e = -1;  // -1: not prepared
  int32_t planes = 0;
  // Rows of the prepared layout, one after the other: each holds the weights of the offsets
  // from -(e + kStampPad) to e + kStampPad, which is all that is ever read of it, so that the
  // rows of a small reach lie together in a few pages and cache lines.
  int32_t pixelStride = 0, sampleStride = 0;
  // Only the first pixelsWritten and samplesWritten entries may hold weights; all else is 0.
  int32_t pixelsWritten = kStampSide * kStampRowSpan * 4;
  int32_t samplesWritten = kStampSide * kStampRowSpan;
  uint16_t pixelRows[kStampSide * kStampRowSpan * 4];
  uint16_t sampleRows[3][kStampSide * kStampRowSpan];
  // farthest[k][w]: the largest dx^2 + dy^2 of an offset whose weight for sample k is at
  // least w, or -1. An offset farther out weighs less than w for sample k.
  int32_t farthest[3][kStampWeights + 1];
  // reachOfGap[k][g]: the largest dx^2 + dy^2 of an offset that can still change sample k
  // when it is g from 255, or -1. A blend leaves a gap g unchanged when g * K < 256, that
  // is for K below ceil(256 / g).
  int32_t reachOfGap[3][256];
  // The farthest offset where any sample weighs 2 or more: weights 0 and 1 never change a
  // sample, as (255 - c) * 1 < 256.
  int32_t stampReach = -1;

  const uint16_t* PixelWeights(int32_t dx, int32_t dy) const {
    return &pixelRows[(dy + e) * pixelStride + (dx + e + kStampPad) * planes];
  }
  const uint16_t* SampleWeights(int k, int32_t dx, int32_t dy) const {
    return &sampleRows[k][(dy + e) * sampleStride + dx + e + kStampPad];
  }
};

// The directions of the last star: the same for every star of a render, so their sines
// and cosines are taken once. The same function on the same argument gives the same value.
struct Directions {
  int64_t first = 0, step = 0;
  int32_t count = -1;  // -1: none taken yet
  double cosine[360], sine[360];

  void Take(int64_t a0, int64_t by);
};

class Team;

// Memory a context keeps for its renders: from calloc, so that only the pages written are
// ever touched, and grown when a render needs more. Its users leave it zero where they wrote.
struct WorkMemory {
  void* data = nullptr;
  size_t bytes = 0;

  // At least `size` bytes, all zero unless written since; null when they cannot be had.
  void* Zeroed(size_t size);
};

struct RenderContext {
  Frame frame{};
  // The render's threads (engine/internal/Team.h), made at the first render that shares its
  // work; null until then.
  Team* team;
  // The Glow centre map, zero between renders; the centre pass's tables for each row; rows
  // of the 16-bit render narrowed to 8 bits, one for each thread.
  WorkMemory centreMap, rowTables, narrowRows;
  GlowKernelTable kernel;
  // Entries of the kernel at offsets from -kernelSpan to kernelSpan - 1 may be other than 0;
  // all others are 0.
  int32_t kernelSpan = kMaxRadius;
  GlowStamp stamp;
  Directions directions;
  Random random;
};
