// Eight 16-bit lanes for blending independent samples side by side: SSE2 where the compiler
// targets it (every x86-64 build, and the i686 build with -msse2), plain loops elsewhere and
// in the scalar build. Both give the same integers; SSE2 is only faster.
#pragma once

#include <cstdint>

#include "engine/internal/Exactness.h"

#if defined(CORVANEL_SSE2)
#include <emmintrin.h>
#endif

namespace lanes {

#if defined(CORVANEL_SSE2)

struct U16x8 {
  __m128i v;
};

inline U16x8 Load(const uint16_t* p) {
  return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))};
}
inline void Store(uint16_t* p, U16x8 a) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), a.v);
}
// The distance to 255 after one screen blend with weight k, given as k * 256 (weights are
// at most 255): gap - ((gap * k) >> 8), which is the high half of gap * (k * 256).
inline U16x8 Fade(U16x8 gap, U16x8 k256) {
  return {_mm_sub_epi16(gap.v, _mm_mulhi_epu16(gap.v, k256.v))};
}
// Lanes hold 0..255, so the signed maximum is the unsigned one.
inline U16x8 Max(U16x8 a, U16x8 b) {
  return {_mm_max_epi16(a.v, b.v)};
}

inline int32_t MaxLane(U16x8 a) {
  __m128i m = _mm_max_epi16(a.v, _mm_srli_si128(a.v, 8));
  m = _mm_max_epi16(m, _mm_srli_si128(m, 4));
  m = _mm_max_epi16(m, _mm_srli_si128(m, 2));
  return _mm_extract_epi16(m, 0);
}

// Bit i of halves[i / 32] set where lows[i] <= bytes[i] <= lows[i] + spans[i] (at most 255),
// for i below 16 * blocks (at most 4 blocks). Below lows[i] the difference wraps past every
// span. Halves of 32 bits keep i686 out of 64-bit shifts.
inline void InWindow(const uint8_t* bytes, const uint8_t* lows, const uint8_t* spans, int blocks,
                     uint32_t halves[2]) {
  uint32_t mask[4] = {};
  for (int b = 0; b < blocks; ++b) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * b));
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lows + 16 * b));
    const __m128i span = _mm_loadu_si128(reinterpret_cast<const __m128i*>(spans + 16 * b));
    const __m128i above = _mm_subs_epu8(_mm_sub_epi8(v, lo), span);
    mask[b] = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(above, _mm_setzero_si128())));
  }
  halves[0] = mask[0] | mask[1] << 16;
  halves[1] = mask[2] | mask[3] << 16;
}

// Screen-blends 16 bytes of samples with 16 weights (each k * 256): c + (((255 - c) * k) >> 8).
inline void Brighten16(uint8_t* samples, const uint16_t* weights) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i all = _mm_set1_epi16(255);
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples));
  __m128i lo = _mm_sub_epi16(all, _mm_unpacklo_epi8(c, zero));
  __m128i hi = _mm_sub_epi16(all, _mm_unpackhi_epi8(c, zero));
  lo = Fade({lo}, Load(weights)).v;
  hi = Fade({hi}, Load(weights + 8)).v;
  const __m128i out = _mm_packus_epi16(_mm_sub_epi16(all, lo), _mm_sub_epi16(all, hi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(samples), out);
}

// Brighten16 on Blocks runs of 16 samples with the weights of several stamps in turn,
// weights[m] + offset for stamp m: the same bytes as one Brighten16 after the other, with the
// gaps kept in registers between them. The runs give the blends independent chains.
template <int Blocks>
inline void Brighten16Each(uint8_t* samples, const uint16_t* const* weights, int32_t count,
                           int32_t offset) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i all = _mm_set1_epi16(255);
  U16x8 gap[2 * Blocks];
  for (int b = 0; b < Blocks; ++b) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 16 * b));
    gap[2 * b] = {_mm_sub_epi16(all, _mm_unpacklo_epi8(c, zero))};
    gap[2 * b + 1] = {_mm_sub_epi16(all, _mm_unpackhi_epi8(c, zero))};
  }
  for (int32_t m = 0; m < count; ++m) {
    const uint16_t* w = weights[m] + offset;
    for (int h = 0; h < 2 * Blocks; ++h) gap[h] = Fade(gap[h], Load(w + 8 * h));
  }
  for (int b = 0; b < Blocks; ++b) {
    const __m128i out =
        _mm_packus_epi16(_mm_sub_epi16(all, gap[2 * b].v), _mm_sub_epi16(all, gap[2 * b + 1].v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + 16 * b), out);
  }
}

#else

struct U16x8 {
  uint16_t v[8];
};

inline U16x8 Load(const uint16_t* p) {
  U16x8 a;
  for (int i = 0; i < 8; ++i) a.v[i] = p[i];
  return a;
}
inline void Store(uint16_t* p, U16x8 a) {
  for (int i = 0; i < 8; ++i) p[i] = a.v[i];
}
inline U16x8 Fade(U16x8 gap, U16x8 k256) {
  for (int i = 0; i < 8; ++i) gap.v[i] = uint16_t(gap.v[i] - ((gap.v[i] * k256.v[i]) >> 16));
  return gap;
}
inline U16x8 Max(U16x8 a, U16x8 b) {
  for (int i = 0; i < 8; ++i) a.v[i] = a.v[i] > b.v[i] ? a.v[i] : b.v[i];
  return a;
}
inline int32_t MaxLane(U16x8 a) {
  int32_t m = 0;
  for (int i = 0; i < 8; ++i) m = a.v[i] > m ? a.v[i] : m;
  return m;
}
inline void InWindow(const uint8_t* bytes, const uint8_t* lows, const uint8_t* spans, int blocks,
                     uint32_t halves[2]) {
  halves[0] = halves[1] = 0;
  for (int i = 0; i < 16 * blocks; ++i)
    if (uint8_t(bytes[i] - lows[i]) <= spans[i]) halves[i / 32] |= uint32_t(1) << (i % 32);
}
inline void Brighten16(uint8_t* samples, const uint16_t* weights) {
  for (int i = 0; i < 16; ++i) {
    const int32_t c = samples[i];
    samples[i] = uint8_t(c + (((255 - c) * weights[i]) >> 16));
  }
}

template <int Blocks>
inline void Brighten16Each(uint8_t* samples, const uint16_t* const* weights, int32_t count,
                           int32_t offset) {
  for (int i = 0; i < 16 * Blocks; ++i) {
    int32_t c = samples[i];
    for (int32_t m = 0; m < count; ++m) c = c + (((255 - c) * weights[m][offset + i]) >> 16);
    samples[i] = uint8_t(c);
  }
}

#endif

// Screen-blends n samples with n weights (each k * 256), 16 at a time where it can. The caller may
// let the blocks of 16 run on past n, up to `room` samples, where blending is known to change
// nothing (weights 0 and 1).
inline void Brighten(uint8_t* samples, const uint16_t* weights, int32_t n, int32_t room) {
  int32_t i = 0;
  for (; i < n && i + 16 <= room; i += 16) Brighten16(samples + i, weights + i);
  for (; i < n; ++i) {
    const int32_t c = samples[i];
    samples[i] = uint8_t(c + (((255 - c) * weights[i]) >> 16));
  }
}

// Brighten with the weights of several stamps in turn, as Brighten for each in order.
inline void BrightenEach(uint8_t* samples, const uint16_t* const* weights, int32_t count, int32_t n,
                         int32_t room) {
  int32_t i = 0;
  for (; i < n && i + 32 <= room; i += 32) Brighten16Each<2>(samples + i, weights, count, i);
  for (; i < n && i + 16 <= room; i += 16) Brighten16Each<1>(samples + i, weights, count, i);
  for (; i < n; ++i) {
    int32_t c = samples[i];
    for (int32_t m = 0; m < count; ++m) c = c + (((255 - c) * weights[m][i]) >> 16);
    samples[i] = uint8_t(c);
  }
}

}  // namespace lanes
