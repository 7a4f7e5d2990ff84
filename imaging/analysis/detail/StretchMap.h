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

}  // namespace KelvoLibImageProcessing::detail
