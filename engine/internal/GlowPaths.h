// The two ways the engine draws Glow, both byte for byte the stamps of the rules in raster
// order, and what they share. Used by the Glow row loop (GlowRender.cpp).
#pragma once

#include <cstdint>

#include "engine/internal/Exactness.h"

struct RenderContext;

// The index of the lowest set bit of a word that is not 0. Where words are 32 bits wide
// (i686) the compiler calls a library routine for 64-bit words, which also costs the gather
// its lanes' registers around the call; two 32-bit halves need no call.
inline int32_t LowestBit(uint64_t word) {
  if constexpr (sizeof(void*) >= 8) {
    return __builtin_ctzll(word);
  } else {
    const uint32_t low = uint32_t(word);
    return low ? __builtin_ctz(low) : 32 + __builtin_ctz(uint32_t(word >> 32));
  }
}

// The index of the highest set bit of a word that is not 0, in the same way.
inline int32_t HighestBit(uint64_t word) {
  if constexpr (sizeof(void*) >= 8) {
    return 63 - __builtin_clzll(word);
  } else {
    const uint32_t high = uint32_t(word >> 32);
    return high ? 63 - __builtin_clz(high) : 31 - __builtin_clz(uint32_t(word));
  }
}

// Which of the frame's pixels are stamp centres: one bit per pixel, rows of whole words.
// Centres depend only on the input, so they can all be found before anything is drawn.
struct CentreMap {
  const uint64_t* bits;
  int32_t wordsPerRow;

  // Calls visit(x) for each centre of the row with lo <= x <= hi, left to right.
  template <typename Visit>
  void ForEach(int32_t row, int32_t lo, int32_t hi, Visit visit) const {
    const uint64_t* words = bits + size_t(row) * size_t(wordsPerRow);
    const int32_t first = lo >> 6;
    const int32_t last = hi >> 6;
    for (int32_t i = first; i <= last; ++i) {
      uint64_t word = words[i];
      if (i == first) word &= ~uint64_t(0) << (lo & 63);
      if (i == last) word &= ~uint64_t(0) >> (63 - (hi & 63));
      while (word) {
        visit(i * 64 + LowestBit(word));
        word &= word - 1;
      }
    }
  }

  // The first and the last centre of the row with lo <= x <= hi, where there is one.
  int32_t First(int32_t row, int32_t lo, int32_t hi) const {
    const uint64_t* words = bits + size_t(row) * size_t(wordsPerRow);
    for (int32_t i = lo >> 6; i <= hi >> 6; ++i) {
      uint64_t word = words[i];
      if (i == lo >> 6) word &= ~uint64_t(0) << (lo & 63);
      if (word) return i * 64 + LowestBit(word);
    }
    return hi;
  }
  int32_t Last(int32_t row, int32_t lo, int32_t hi) const {
    const uint64_t* words = bits + size_t(row) * size_t(wordsPerRow);
    for (int32_t i = hi >> 6; i >= lo >> 6; --i) {
      uint64_t word = words[i];
      if (i == hi >> 6) word &= ~uint64_t(0) >> (63 - (hi & 63));
      if (word) return i * 64 + HighestBit(word);
    }
    return lo;
  }
};

// Lays the context's glow kernel out for stamps of reach e on pixels of `planes` samples.
// StampGlow and GatherGlowRow read this layout; StampGlow prepares it itself when it is
// missing. The layout is only read while rows are drawn, so two threads of one render may
// share it.
void PrepareGlowStamp(RenderContext& context, int32_t e, int32_t planes);

// The pixels one stamp of the prepared layout blends (a square around its disc of weights
// that change samples); 0 when none changes anything.
int64_t GlowStampArea(const RenderContext& context);

// How far from its centre, in rows and columns, a stamp of the prepared layout changes
// anything; -1 when nowhere.
int32_t GlowStampHalf(const RenderContext& context);

// The most centres one StampGlowGroup takes, and the most columns they may span: a centre's
// stamp row is read across the others' reach, within its zero padding.
constexpr int32_t kGroupMembers = 32;
constexpr int32_t kGroupColumns = 25;

// The stamps of `count` centres (columns xs, rows ys, in raster order, within kGroupColumns
// columns), as StampGlow leaves them one after the other, in one pass over their rows, on
// rows firstRow to endRow - 1 only. The layout must be prepared.
void StampGlowGroup(const RenderContext& context, const int32_t* xs, const int32_t* ys,
                    int32_t count, int32_t firstRow, int32_t endRow);

// The columns of one row that stamps can change, in at most 64 tiles of `width` pixels (a
// multiple of kColumnTileUnit): bit i for columns i * width to (i + 1) * width - 1.
constexpr int32_t kColumnTileUnit = 32;
struct ColumnTiles {
  uint64_t bits = ~uint64_t(0);
  int32_t width = 1 << 24;  // every column

  bool Holds(int32_t x) const { return (bits >> (x / width)) & 1; }
};

// Computes output row y of the frame from its copied input and the centres of rows before
// centreEnd, as their stamps in raster order would have left it: in the tiles given, outside
// which no stamp changes the row.
void GatherGlowRow(const RenderContext& context, const CentreMap& centres, int32_t y,
                   int32_t centreEnd, const ColumnTiles& tiles = {});
