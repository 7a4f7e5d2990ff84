#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// The image column (or row) that position i >= size of a mirror-padded
// line copies: the reflection about the edge sample without repeating it,
// folded as often as needed (period 2 * (size - 1)), the same mirror as the
// border extension's PaddingMirror. A line of one sample is just repeated.
int MirrorIndex(int i, int size) noexcept;

// Copies a width x height image of 3-byte pixels (rows of `stride` bytes)
// into the top-left corner of a paddedWidth x paddedHeight image (rows of
// `paddedStride` bytes) and fills the columns right of it and the rows below
// it with the mirror of MirrorIndex. Only 3 * width bytes of every source
// row are read. The caller guarantees paddedWidth >= width and
// paddedHeight >= height.
void MirrorPadBGR(const uint8_t* source, int width, int height, int stride, uint8_t* padded,
                  int paddedWidth, int paddedHeight, int paddedStride) noexcept;

}  // namespace KelvoLibImageProcessing::detail
