// 16-bit rows to and from the 8-bit render: each sample's nearest 8-bit value, and each sample
// moved by what its 8-bit value gained (SixteenBitResult). Sixteen samples at a time where
// SSE2 is at hand, and twice that where the processor has AVX2 (chosen as the engine starts),
// with the same results as the plain loops: the conversions are integer arithmetic only.
#include <atomic>
#include <cstring>

#include "engine/internal/Deep.h"

#if defined(CORVANEL_SSE2)
#include <emmintrin.h>
#if defined(__GNUC__) || defined(__clang__)
#define CORVANEL_AVX2 1
#include <immintrin.h>
#define CORVANEL_WIDE __attribute__((target("avx2")))
#endif
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
// NearestEightBit of eight words: (v * 255 + 16384) >> 15 is ((2v * 65280) >> 16 + 128) >> 8
// (taking the floor inside changes no quotient by 256), and 2v saturated at 65535 gives 255
// for every v from full intensity on.
__m128i NearestEight(__m128i v) {
  const __m128i scaled = _mm_mulhi_epu16(_mm_adds_epu16(v, v), _mm_set1_epi16(int16_t(65280)));
  return _mm_srli_epi16(_mm_add_epi16(scaled, _mm_set1_epi16(128)), 8);
}

// SixteenOfEightBit of the 8-bit values in the high bytes of eight 16-bit lanes whose low
// bytes are 1: round(v * 32768 / 255) is the high half of (256 v + 1) * 32896 for every v.
__m128i SixteenOfHighBytes(__m128i lanes) {
  return _mm_mulhi_epu16(lanes, _mm_set1_epi16(int16_t(32896)));
}

constexpr bool SixteenOfHighBytesMatches() {
  for (uint32_t v = 0; v < 256; ++v)
    if (((256 * v + 1) * 32896) >> 16 != SixteenOfEightBit(uint8_t(v))) return false;
  return true;
}
static_assert(SixteenOfHighBytesMatches());

// SixteenBitResult of eight words, given their rendered and nearest 8-bit values as
// SixteenOfHighBytes takes them: the word moved by the difference of the two values' 16-bit
// sizes, at most to full intensity, and never below itself. Where the rendered value lies
// above the nearest, the word lies below full intensity and the sum and difference are exact;
// elsewhere, saturated, they do not exceed the word.
__m128i SixteenResults(__m128i words, __m128i rendered, __m128i nearest) {
  const __m128i moved = _mm_subs_epu16(_mm_adds_epu16(words, SixteenOfHighBytes(rendered)),
                                       SixteenOfHighBytes(nearest));
  // Unsigned minimum and maximum without SSE4.1: a - (a -sat b), b + (a -sat b).
  const __m128i full = _mm_set1_epi16(int16_t(uint16_t(kFullSixteen)));
  const __m128i capped = _mm_sub_epi16(moved, _mm_subs_epu16(moved, full));
  return _mm_add_epi16(words, _mm_subs_epu16(capped, words));
}

// Sixteen samples from their words and the 8-bit values rendered for them, to `to` (which
// may overlap the 8-bit values: all are read first). Without a branch on whether the render
// changed any of them: about half the blocks near a light do, in no order a branch predicts.
void WidenBlock(const uint8_t* words, const uint8_t* eight, uint8_t* to) {
  const __m128i rendered = _mm_loadu_si128(reinterpret_cast<const __m128i*>(eight));
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 16));
  const __m128i nearest = _mm_packus_epi16(NearestEight(low), NearestEight(high));
  const __m128i ones = _mm_set1_epi8(1);
  _mm_storeu_si128(
      reinterpret_cast<__m128i*>(to),
      SixteenResults(low, _mm_unpacklo_epi8(ones, rendered), _mm_unpacklo_epi8(ones, nearest)));
  _mm_storeu_si128(
      reinterpret_cast<__m128i*>(to + 16),
      SixteenResults(high, _mm_unpackhi_epi8(ones, rendered), _mm_unpackhi_epi8(ones, nearest)));
}

constexpr bool NearestEightMatches() {
  for (uint32_t v = 0; v < 65536; ++v) {
    const uint32_t doubled = 2 * v < 65535 ? 2 * v : 65535;
    if (((((doubled * 65280) >> 16) + 128) >> 8) != NearestEightBit(v)) return false;
  }
  return true;
}
static_assert(NearestEightMatches());
#endif

#if defined(CORVANEL_AVX2)
// The same arithmetic sixteen words at a time.
CORVANEL_WIDE __m256i NearestWide(__m256i v) {
  const __m256i scaled =
      _mm256_mulhi_epu16(_mm256_adds_epu16(v, v), _mm256_set1_epi16(int16_t(65280)));
  return _mm256_srli_epi16(_mm256_add_epi16(scaled, _mm256_set1_epi16(128)), 8);
}

// Samples from i on, 32 at a time while they last: their nearest values, and with kCopy their
// words copied; returns the first sample left. Packing works within each half of the register,
// so the quarters are put back in order. (The index is a value, not a reference, so that it
// stays in a register: the stores might otherwise alias it.)
template <bool kCopy>
CORVANEL_WIDE size_t NarrowWide(const uint8_t* words, uint8_t* narrow, uint8_t* copy, size_t i,
                                size_t samples) {
  for (; i + 32 <= samples; i += 32) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + 2 * i));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + 2 * i + 32));
    if constexpr (kCopy) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(copy + 2 * i), low);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(copy + 2 * i + 32), high);
    }
    const __m256i packed = _mm256_packus_epi16(NearestWide(low), NearestWide(high));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(narrow + i),
                        _mm256_permute4x64_epi64(packed, 0xD8));
  }
  return i;
}

// SixteenOfHighBytes of 8-bit values in lanes of their own.
CORVANEL_WIDE __m256i SixteenOfEightWide(__m256i v) {
  return _mm256_mulhi_epu16(_mm256_or_si256(_mm256_slli_epi16(v, 8), _mm256_set1_epi16(1)),
                            _mm256_set1_epi16(int16_t(32896)));
}

// WidenBlock with the 8-bit values widened to lanes of their own, and with the unsigned
// minimum and maximum AVX2 has.
CORVANEL_WIDE void WidenBlockWide(const uint8_t* words, const uint8_t* eight, uint8_t* to) {
  const __m256i rendered =
      _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(eight)));
  const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
  const __m256i moved = _mm256_subs_epu16(_mm256_adds_epu16(w, SixteenOfEightWide(rendered)),
                                          SixteenOfEightWide(NearestWide(w)));
  const __m256i full = _mm256_set1_epi16(int16_t(uint16_t(kFullSixteen)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                      _mm256_max_epu16(w, _mm256_min_epu16(moved, full)));
}

// WidenSpanAfter's and WidenSpan's blocks, in the same order; each returns the sample it
// stopped at.
CORVANEL_WIDE size_t WidenAfterWide(const uint8_t* words, const uint8_t* eight, uint8_t* row,
                                    size_t i, size_t end) {
  for (; i + 16 <= end; i += 16) WidenBlockWide(words + 2 * i, eight + i, row + 2 * i);
  return i;
}
CORVANEL_WIDE size_t WidenBeforeWide(const uint8_t* words, uint8_t* row, size_t from, size_t i) {
  for (; i >= from + 16; i -= 16)
    WidenBlockWide(words + 2 * (i - 16), row + i - 16, row + 2 * (i - 16));
  return i;
}

bool WideLanesHere() {
  __builtin_cpu_init();  // may run before the library's own initialisation
  return __builtin_cpu_supports("avx2");
}
std::atomic<bool> wideLanes{WideLanesHere()};

bool Wide() {
  return wideLanes.load(std::memory_order_relaxed);
}
#endif

}  // namespace

bool SetWideLanes(bool wide) {
#if defined(CORVANEL_AVX2)
  const bool here = WideLanesHere();
  wideLanes.store(wide && here);
  return here;
#else
  (void)wide;
  return false;
#endif
}

namespace {

// The nearest 8-bit values of the words, with kCopy the words copied as they are read.
// Forwards: each block of words is read before its values are stored below it, so `narrow`
// may be `words`.
template <bool kCopy>
void Narrow(const uint8_t* words, uint8_t* narrow, [[maybe_unused]] uint8_t* copy, size_t samples) {
  size_t i = 0;
#if defined(CORVANEL_AVX2)
  if (Wide()) i = NarrowWide<kCopy>(words, narrow, copy, i, samples);
#endif
#if defined(CORVANEL_SSE2)
  for (; i + 16 <= samples; i += 16) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 2 * i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 2 * i + 16));
    if constexpr (kCopy) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(copy + 2 * i), low);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(copy + 2 * i + 16), high);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(narrow + i),
                     _mm_packus_epi16(NearestEight(low), NearestEight(high)));
  }
#endif
  for (; i < samples; ++i) {
    const uint16_t v = LoadWord(words + 2 * i);
    if constexpr (kCopy) StoreWord(copy + 2 * i, v);
    narrow[i] = NearestEightBit(v);
  }
}

}  // namespace

void NarrowToEightBits(const uint8_t* words, uint8_t* narrow, size_t samples) {
  Narrow<false>(words, narrow, nullptr, samples);
}

void NarrowAndCopy(const uint8_t* words, uint8_t* narrow, uint8_t* copy, size_t samples) {
  Narrow<true>(words, narrow, copy, samples);
}

void WidenSpanAfter(const uint8_t* words, uint8_t* row, size_t offset, size_t from, size_t end) {
  const uint8_t* const eight = row + offset;
  size_t i = from;
#if defined(CORVANEL_SSE2)
  // A block's words end at most where its own 8-bit values do (i + 16 <= end <= offset).
#if defined(CORVANEL_AVX2)
  if (Wide()) i = WidenAfterWide(words, eight, row, i, end);
#endif
  for (; i + 16 <= end; i += 16) WidenBlock(words + 2 * i, eight + i, row + 2 * i);
#endif
  for (; i < end; ++i) StoreWord(row + 2 * i, SixteenBitResult(LoadWord(words + 2 * i), eight[i]));
}

void WidenRow(const uint8_t* words, uint8_t* row, size_t samples) {
  WidenSpan(words, row, 0, samples);
}

void WidenSpan(const uint8_t* words, uint8_t* row, size_t from, size_t end) {
  size_t i = end;
#if defined(CORVANEL_SSE2)
  // A block's 8-bit values lie in the bytes written over when it is near the start.
#if defined(CORVANEL_AVX2)
  if (Wide()) i = WidenBeforeWide(words, row, from, i);
#endif
  for (; i >= from + 16; i -= 16)
    WidenBlock(words + 2 * (i - 16), row + i - 16, row + 2 * (i - 16));
#endif
  // From the right: sample i takes the bytes of 8-bit values 2i and 2i + 1, read already.
  for (; i-- > from;) StoreWord(row + 2 * i, SixteenBitResult(LoadWord(words + 2 * i), row[i]));
}
