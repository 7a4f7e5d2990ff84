#pragma once

#include <cstddef>
#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// Pixel buffers of BitmapData: 32-byte aligned, null on failure, never throws.
uint8_t* AllocatePixels(std::size_t bytes) noexcept;
void FreePixels(uint8_t* pixels) noexcept;

}  // namespace KelvoLibImageProcessing::detail
