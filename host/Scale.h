#pragma once

// Resizing a still for thumbnails and smaller copies, after the enhancement.
//
// Shrinking averages every source pixel under each output pixel (area
// averaging, weighted by the covered fraction), which neither aliases nor
// drops detail the way sampling does; enlarging interpolates bilinearly
// between pixel centres. Both are plain arithmetic in a fixed order, so the
// same frame always scales to the same bytes on every machine.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::host {

// The largest picture a still may be scaled to: 2^28 pixels (16384 x
// 16384), well beyond any screen or print, well below what exhausts memory.
inline constexpr int64_t kMaxScaledPixels = int64_t{1} << 28;

// The size a width x height picture becomes for a requested scaleWidth x
// scaleHeight: 0 keeps a side; one side given keeps the aspect ratio (the
// other side rounded to the nearest pixel, halves up, at least 1); both
// given is exactly that size. Empty on success, else why not (a negative
// side, a result above kMaxScaledPixels).
std::string ScaledSize(int width, int height, int scaleWidth, int scaleHeight, int* outWidth,
                       int* outHeight);

// Scales width x height blue-green-red pixels (rows stride bytes apart) to
// outWidth x outHeight, rows of exactly 3 * outWidth bytes, top row first.
// The same size is a copy. Throws std::bad_alloc when memory runs out.
std::vector<uint8_t> ScaleBgr(const uint8_t* bgr, int width, int height, size_t stride,
                              int outWidth, int outHeight);

}  // namespace kelvo::host
