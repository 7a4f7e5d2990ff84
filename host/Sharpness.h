#pragma once

// How sharp a picture is: the variance of the Laplacian of its luminance.
//
// A frame caught during motion or a focus pull has soft edges, and soft
// edges have a small second derivative; a sharp frame of the same scene
// has large positive and negative ones. The variance of the 4-neighbour
// Laplacian (0 1 0 / 1 -4 1 / 0 1 0) over the picture measures that with
// one number that only makes sense between frames of the same scene: it is
// used to pick the sharpest of neighbouring frames, not as an absolute
// grade.
//
// Luminance is 8-bit BT.601 luma, (299 R + 587 G + 114 B) / 1000 rounded,
// what a grey conversion of the frame gives. The Laplacian is taken with
// the image primitives' full convolution and only where all four
// neighbours exist: the outermost rows and columns are skipped rather than
// mirrored, since a mirrored border invents a flat edge that would lower
// every score alike. Sums are in double and in a fixed order, so a frame
// always gets the same score.

#include <cstddef>
#include <cstdint>

namespace kelvo::host {

// width x height blue-green-red pixels, row r starting r * stride bytes
// into bgr. Never throws: 0 for a picture too small to have a Laplacian
// (under 3 x 3), for a null pointer or a stride shorter than a row, and
// when memory runs out.
double Sharpness(const uint8_t* bgr, int width, int height, size_t stride) noexcept;

}  // namespace kelvo::host
