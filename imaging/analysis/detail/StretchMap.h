#pragma once

// The per-sample look-up of the 8-bit contrast stretch and self-blend,
// dispatched to the best SIMD target at run time; gives exactly dst[i] =
// table[src[i]].

#include <cstddef>
#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// Also in place (src == dst).
void MapBytes(const uint8_t* src, uint8_t* dst, std::size_t count,
              const uint8_t* table256) noexcept;

// dst row y, sample i = table[src row y, sample i] for `rows` rows of
// `samples` bytes, strides in bytes. Bands of rows run on the library's
// threads when no destination row can hold a byte of another row's source;
// a row stretched onto itself (src == dst, equal strides) counts as safe.
void MapByteRows(const uint8_t* src, std::ptrdiff_t srcStride, uint8_t* dst,
                 std::ptrdiff_t dstStride, std::size_t samples, int rows,
                 const uint8_t* table256) noexcept;

}  // namespace KelvoLibImageProcessing::detail
