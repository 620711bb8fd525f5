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

// SixteenOfEightBit of eight 8-bit values in 16-bit lanes: v * 32768 / 255 is v * 128 plus
// (v * 128) / 255, and the rounded quotient (v * 128 + 127) / 255, at most 128, is the high
// half of (v * 128 + 128) * 257.
__m128i SixteenOfEight(__m128i v) {
  const __m128i v128 = _mm_slli_epi16(v, 7);
  return _mm_add_epi16(
      v128, _mm_mulhi_epu16(_mm_add_epi16(v128, _mm_set1_epi16(128)), _mm_set1_epi16(257)));
}

constexpr bool SixteenOfEightMatches() {
  for (uint32_t v = 0; v < 256; ++v)
    if (v * 128 + (((v * 128 + 128) * 257) >> 16) != SixteenOfEightBit(uint8_t(v))) return false;
  return true;
}
static_assert(SixteenOfEightMatches());

// SixteenBitResult of eight words and the 8-bit values rendered for them (in 16-bit lanes):
// a word moves only where its rendered value lies above its nearest one, by the difference
// of their 16-bit sizes, to at most full intensity. The sum stays below 65536: a word that
// moves lies below full intensity, and the size of its nearest value within 64 of it.
__m128i SixteenResults(__m128i words, __m128i rendered) {
  const __m128i nearest = NearestEight(words);
  const __m128i moved = _mm_sub_epi16(_mm_add_epi16(words, SixteenOfEight(rendered)),
                                      SixteenOfEight(nearest));
  // The unsigned minimum with full intensity, without SSE4.1.
  const __m128i capped = _mm_sub_epi16(moved, _mm_subs_epu16(moved, _mm_set1_epi16(int16_t(uint16_t(kFullSixteen)))));
  const __m128i up = _mm_cmpgt_epi16(rendered, nearest);  // both 0..255
  return _mm_or_si128(_mm_and_si128(up, capped), _mm_andnot_si128(up, words));
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

void NarrowAndCopy(const uint8_t* words, uint8_t* narrow, uint8_t* copy, size_t samples) {
  size_t i = 0;
#if defined(CORVANEL_SSE2)
  for (; i + 16 <= samples; i += 16) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 2 * i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 2 * i + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(copy + 2 * i), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(copy + 2 * i + 16), high);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(narrow + i),
                     _mm_packus_epi16(NearestEight(low), NearestEight(high)));
  }
#endif
  for (; i < samples; ++i) {
    const uint16_t v = LoadWord(words + 2 * i);
    StoreWord(copy + 2 * i, v);
    narrow[i] = NearestEightBit(v);
  }
}

void WidenSpanAfter(const uint8_t* words, uint8_t* row, size_t offset, size_t from, size_t end,
                    [[maybe_unused]] bool kept) {
  const uint8_t* const eight = row + offset;
  size_t i = from;
#if defined(CORVANEL_SSE2)
  // A block's words end at most where its own 8-bit values do (i + 16 <= end <= offset).
  for (; i + 16 <= end; i += 16) {
    const __m128i rendered = _mm_loadu_si128(reinterpret_cast<const __m128i*>(eight + i));
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 2 * i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 2 * i + 16));
    const __m128i same =
        _mm_cmpeq_epi8(rendered, _mm_packus_epi16(NearestEight(low), NearestEight(high)));
    if (_mm_movemask_epi8(same) == 0xFFFF) {
      // Words wholly before the 8-bit values are the input's still, when the row has them.
      if (!kept || 2 * i + 32 > offset) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * i), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * i + 16), high);
      }
      continue;
    }
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * i),
                     SixteenResults(low, _mm_unpacklo_epi8(rendered, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * i + 16),
                     SixteenResults(high, _mm_unpackhi_epi8(rendered, zero)));
  }
#endif
  for (; i < end; ++i) StoreWord(row + 2 * i, SixteenBitResult(LoadWord(words + 2 * i), eight[i]));
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
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 2 * first));
    const __m128i high =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 2 * first + 16));
    const __m128i resultLow = SixteenResults(low, _mm_unpacklo_epi8(rendered, zero));
    const __m128i resultHigh = SixteenResults(high, _mm_unpackhi_epi8(rendered, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * first), resultLow);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * first + 16), resultHigh);
  }
#endif
  // From the right: sample i takes the bytes of 8-bit values 2i and 2i + 1, read already.
  for (; i-- > from;) StoreWord(row + 2 * i, SixteenBitResult(LoadWord(words + 2 * i), row[i]));
}
