// Eight 16-bit lanes for blending independent samples side by side: SSE2 where the compiler
// targets it (every x86-64 build, and the i686 build with -msse2), plain loops elsewhere and
// in the scalar build. Both give the same integers; SSE2 is only faster.
#pragma once

#include <cstdint>

#include "engine/internal/Exactness.h"
#include "engine/internal/Samples.h"

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
// Unsigned (16-bit gaps reach 32768): a - b saturated at 0, plus b.
inline U16x8 Max(U16x8 a, U16x8 b) {
  return {_mm_adds_epu16(_mm_subs_epu16(a.v, b.v), b.v)};
}

inline int32_t MaxLane(U16x8 a) {
  a = Max(a, {_mm_srli_si128(a.v, 8)});
  a = Max(a, {_mm_srli_si128(a.v, 4)});
  a = Max(a, {_mm_srli_si128(a.v, 2)});
  return _mm_extract_epi16(a.v, 0);
}

// Bit i set where lows[i] <= bytes[i] <= highs[i], for i below 16 * blocks (at most 64).
inline uint64_t InRange(const uint8_t* bytes, const uint8_t* lows, const uint8_t* highs,
                        int blocks) {
  uint64_t mask = 0;
  for (int b = 0; b < blocks; ++b) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * b));
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lows + 16 * b));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(highs + 16 * b));
    const __m128i in = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, lo), v),
                                     _mm_cmpeq_epi8(_mm_min_epu8(v, hi), v));
    mask |= uint64_t(uint32_t(_mm_movemask_epi8(in))) << (16 * b);
  }
  return mask;
}

// The same for 16-bit words (8 * blocks of them), each window bound a word.
inline uint64_t InRange(const uint8_t* words, const uint16_t* lows, const uint16_t* highs,
                        int blocks) {
  const __m128i zero = _mm_setzero_si128();
  uint64_t mask = 0;
  for (int b = 0; b < blocks; ++b) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 16 * b));
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lows + 8 * b));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(highs + 8 * b));
    const __m128i in = _mm_and_si128(_mm_cmpeq_epi16(_mm_subs_epu16(lo, v), zero),
                                     _mm_cmpeq_epi16(_mm_subs_epu16(v, hi), zero));
    const uint32_t bits = uint32_t(_mm_movemask_epi8(_mm_packs_epi16(in, zero)));
    mask |= uint64_t(bits) << (8 * b);
  }
  return mask;
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

// The same for 16 words: c + (g - faded g) for the gap g = 32768 - c, saturated at 0, so
// that samples above 32768 stay as they are.
inline void Brighten16Words(uint8_t* words, const uint16_t* weights) {
  const __m128i full = _mm_set1_epi16(int16_t(kFullSixteen));
  for (int h = 0; h < 2; ++h) {
    __m128i* p = reinterpret_cast<__m128i*>(words + 16 * h);
    const __m128i c = _mm_loadu_si128(p);
    const __m128i gap = _mm_subs_epu16(full, c);
    const __m128i faded = Fade({gap}, Load(weights + 8 * h)).v;
    _mm_storeu_si128(p, _mm_add_epi16(c, _mm_sub_epi16(gap, faded)));
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
  for (int i = 0; i < 8; ++i)
    gap.v[i] = uint16_t(gap.v[i] - ((uint32_t(gap.v[i]) * k256.v[i]) >> 16));
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
inline uint64_t InRange(const uint8_t* bytes, const uint8_t* lows, const uint8_t* highs,
                        int blocks) {
  uint64_t mask = 0;
  for (int i = 0; i < 16 * blocks; ++i)
    if (bytes[i] >= lows[i] && bytes[i] <= highs[i]) mask |= uint64_t(1) << i;
  return mask;
}
inline uint64_t InRange(const uint8_t* words, const uint16_t* lows, const uint16_t* highs,
                        int blocks) {
  uint64_t mask = 0;
  for (int i = 0; i < 8 * blocks; ++i) {
    const int32_t v = LoadSample<uint16_t>(words, size_t(i));
    if (v >= lows[i] && v <= highs[i]) mask |= uint64_t(1) << i;
  }
  return mask;
}

#endif

// One sample c blended with weight k (given as k * 256): c + ((gap * k) >> 8).
template <typename T>
inline void BrightenSample(uint8_t* samples, int32_t i, uint16_t weight) {
  const int32_t c = LoadSample<T>(samples, size_t(i));
  StoreSample<T>(samples, size_t(i), c + int32_t((uint32_t(GapOf<T>(c)) * weight) >> 16));
}

// Screen-blends n samples of type T with n weights (each k * 256), 16 at a time where it can.
// The caller may let the blocks of 16 run on past n, up to `room` samples, where blending is
// known to change nothing.
template <typename T>
inline void Brighten(uint8_t* samples, const uint16_t* weights, int32_t n, int32_t room) {
  int32_t i = 0;
#if defined(CORVANEL_SSE2)
  for (; i < n && i + 16 <= room; i += 16) {
    if constexpr (sizeof(T) == 1)
      Brighten16(samples + i, weights + i);
    else
      Brighten16Words(samples + 2 * i, weights + i);
  }
#else
  (void)room;
#endif
  for (; i < n; ++i) BrightenSample<T>(samples, i, weights[i]);
}

}  // namespace lanes
