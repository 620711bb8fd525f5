// 16-bit rows to and from the 8-bit render: each sample's nearest 8-bit value, and each sample
// moved by what its 8-bit value gained (SixteenBitResult). Sixteen samples at a time where
// SSE2 is at hand, with the same results as the plain loops.
#include <cstring>

#include "engine/internal/Deep.h"

#if defined(CORVANEL_SSE2)
#include <emmintrin.h>
#endif

namespace {

uint16_t LoadWord(const uint8_t* at) {
  uint16_t v;
  std::memcpy(&v, at, sizeof v);  // host rows need not be aligned
  return v;
}

void StoreWord(uint8_t* at, uint16_t v) {
  std::memcpy(at, &v, sizeof v);
}

#if defined(CORVANEL_SSE2)
// NearestEightBit of eight words: (v * 255 + 16384) >> 15 is the high half of v * 510 plus
// the carry of 32768 into its low half, and every v above 32768 gives more than 255.
__m128i NearestEight(__m128i v) {
  const __m128i factor = _mm_set1_epi16(510);
  const __m128i high = _mm_mulhi_epu16(v, factor);
  const __m128i carry = _mm_srli_epi16(_mm_mullo_epi16(v, factor), 15);
  return _mm_min_epi16(_mm_add_epi16(high, carry), _mm_set1_epi16(255));
}

// The nearest 8-bit values of sixteen words.
__m128i NearestSixteen(const uint8_t* words) {
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 16));
  return _mm_packus_epi16(NearestEight(low), NearestEight(high));
}

constexpr bool NearestEightMatches() {
  for (uint32_t v = 0; v < 65536; ++v) {
    const uint32_t mixed = ((v * 510) >> 16) + (((v * 510) & 0xFFFF) >> 15);
    if ((mixed < 255 ? mixed : 255) != NearestEightBit(v)) return false;
  }
  return true;
}
static_assert(NearestEightMatches());
#endif

}  // namespace

void NarrowToEightBits(const uint8_t* words, uint8_t* narrow, size_t samples) {
  // Forwards: each block of words is read before its values are stored below it.
  size_t i = 0;
#if defined(CORVANEL_SSE2)
  for (; i + 16 <= samples; i += 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(narrow + i), NearestSixteen(words + 2 * i));
#endif
  for (; i < samples; ++i) narrow[i] = NearestEightBit(LoadWord(words + 2 * i));
}

void WidenRow(const uint8_t* words, uint8_t* row, size_t samples) {
  WidenSpan(words, row, 0, samples);
}

void WidenSpan(const uint8_t* words, uint8_t* row, size_t from, size_t end) {
  size_t i = end;
#if defined(CORVANEL_SSE2)
  // Blocks whose 8-bit values the render left as they were are the input's words again.
  for (; i >= from + 16; i -= 16) {
    const size_t first = i - 16;
    const __m128i rendered = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + first));
    const __m128i same = _mm_cmpeq_epi8(rendered, NearestSixteen(words + 2 * first));
    if (_mm_movemask_epi8(same) == 0xFFFF) {
      // Its 8-bit values, read above, lie in the bytes written now when it is near the start.
      std::memcpy(row + 2 * first, words + 2 * first, 32);
      continue;
    }
    uint8_t values[16];
    std::memcpy(values, row + first, 16);
    for (size_t k = 16; k-- > 0;)
      StoreWord(row + 2 * (first + k),
                SixteenBitResult(LoadWord(words + 2 * (first + k)), values[k]));
  }
#endif
  // From the right: sample i takes the bytes of 8-bit values 2i and 2i + 1, read already.
  for (; i-- > from;) StoreWord(row + 2 * i, SixteenBitResult(LoadWord(words + 2 * i), row[i]));
}
