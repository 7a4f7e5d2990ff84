// Byte look-up through a 256-entry table, compiled once per SIMD target.
// The table is held as 16 vectors of 16 entries each (repeated across 128-bit
// blocks); every vector answers the samples whose high nibble selects it and
// gives 0 for the others, and the 16 answers are ORed together.

#if defined(KELVO_ANALYSIS_STRETCH_MAP_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_ANALYSIS_STRETCH_MAP_INL_H_
#undef KELVO_ANALYSIS_STRETCH_MAP_INL_H_
#else
#define KELVO_ANALYSIS_STRETCH_MAP_INL_H_
#endif

#include <cstddef>
#include <cstdint>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

template <class D>
HWY_INLINE hn::Vec<D> LookUp(D d, const hn::Vec<D>* parts, hn::Vec<D> index) {
  // index - 16 j lies in [0, 16) exactly for the samples of part j; adding
  // 0x70 with saturation sets bit 7 for every other sample, and the mask
  // keeps the in-range indices below 16, which every target reads alike.
  const auto bias = hn::Set(d, uint8_t{0x70});
  const auto keep = hn::Set(d, uint8_t{0x8F});
  const auto step = hn::Set(d, uint8_t{16});
  auto x = index;
  auto result = hn::TableLookupBytesOr0(parts[0], hn::And(hn::SaturatedAdd(x, bias), keep));
  for (int j = 1; j < 16; ++j) {
    x = hn::Sub(x, step);
    result =
        hn::Or(result, hn::TableLookupBytesOr0(parts[j], hn::And(hn::SaturatedAdd(x, bias), keep)));
  }
  return result;
}

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
// 512-bit targets: a two-register 16-bit permute answers 64 entries at once,
// so four of them and three blends (by bits 6 and 7 of the sample) cover the
// table for 32 samples; far fewer instructions than the 16 byte shuffles.
HWY_INLINE __m512i LookUpWords(const __m512i* words, __m512i index) {
  const __m512i a = _mm512_permutex2var_epi16(words[0], index, words[1]);
  const __m512i b = _mm512_permutex2var_epi16(words[2], index, words[3]);
  const __m512i c = _mm512_permutex2var_epi16(words[4], index, words[5]);
  const __m512i d = _mm512_permutex2var_epi16(words[6], index, words[7]);
  const __mmask32 bit6 = _mm512_test_epi16_mask(index, _mm512_set1_epi16(0x40));
  const __mmask32 bit7 = _mm512_test_epi16_mask(index, _mm512_set1_epi16(0x80));
  return _mm512_mask_blend_epi16(bit7, _mm512_mask_blend_epi16(bit6, a, b),
                                 _mm512_mask_blend_epi16(bit6, c, d));
}

// Processors with the byte permutes (VBMI) answer 128 entries with one
// two-register permute: two of them and a blend by bit 7 of the sample map
// 64 samples.
__attribute__((target("avx512f,avx512vl,avx512dq,avx512bw,avx512vbmi"))) inline void MapBytesVbmi(
    const uint8_t* src, uint8_t* dst, size_t count, const uint8_t* table) {
  const __m512i t0 = _mm512_loadu_si512(table);
  const __m512i t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128);
  const __m512i t3 = _mm512_loadu_si512(table + 192);
  size_t i = 0;
  for (; i + 64 <= count; i += 64) {
    const __m512i v = _mm512_loadu_si512(src + i);
    const __m512i low = _mm512_permutex2var_epi8(t0, v, t1);
    const __m512i high = _mm512_permutex2var_epi8(t2, v, t3);
    _mm512_storeu_si512(dst + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high));
  }
  // One by one, as below.
  for (; i < count; ++i) dst[i] = table[src[i]];
}

inline bool HasVbmi() {
  static const bool has = __builtin_cpu_supports("avx512vbmi");
  return has;
}

void MapBytesImpl(const uint8_t* src, uint8_t* dst, size_t count, const uint8_t* table) {
  if (HasVbmi()) {
    MapBytesVbmi(src, dst, count, table);
    return;
  }
  __m512i words[8];
  for (int j = 0; j < 8; ++j) {
    words[j] =
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + 32 * j)));
  }
  size_t i = 0;
  for (; i + 64 <= count; i += 64) {
    const __m512i v = _mm512_loadu_si512(src + i);
    const __m512i low = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(v));
    const __m512i high = _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(v, 1));
    const __m256i outLow = _mm512_cvtepi16_epi8(LookUpWords(words, low));
    const __m256i outHigh = _mm512_cvtepi16_epi8(LookUpWords(words, high));
    _mm512_storeu_si512(dst + i, _mm512_inserti64x4(_mm512_castsi256_si512(outLow), outHigh, 1));
  }
  // The last samples one by one (a vector overlapping the mapped ones would
  // map them twice when the image is stretched in place).
  for (; i < count; ++i) dst[i] = table[src[i]];
}
#else
void MapBytesImpl(const uint8_t* src, uint8_t* dst, size_t count, const uint8_t* table) {
  const hn::ScalableTag<uint8_t> d;
  const size_t n = hn::Lanes(d);
  if (n < 16 || count < n) {
    for (size_t i = 0; i < count; ++i) dst[i] = table[src[i]];
    return;
  }
  hn::Vec<decltype(d)> parts[16];
  for (int j = 0; j < 16; ++j) parts[j] = hn::LoadDup128(d, table + 16 * j);
  size_t i = 0;
  for (; i + n <= count; i += n) hn::StoreU(LookUp(d, parts, hn::LoadU(d, src + i)), d, dst + i);
  // The last samples one by one (a vector overlapping the mapped ones would
  // map them twice when the image is stretched in place).
  for (; i < count; ++i) dst[i] = table[src[i]];
}

#endif

}  // namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard
