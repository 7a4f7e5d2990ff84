#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/pipeline/PipelineSnapshot.h"

namespace KelvoLibImageProcessing {

class BitmapData;

// The snapshot pipeline's settings; the defaults are the pipeline's own
// (every stage on, gammaLimit 1.22).
struct EnhanceOptions {
  bool doSkin = true;
  bool doNoise = true;
  bool doLStretch = true;
  bool doSharp = true;
  float gammaLimit = 1.22f;
};

// The snapshot pipeline takes sides that are multiples of 4 and at least 64.
inline constexpr int kPipelineMinSide = 64;
inline constexpr int kPipelineSideStep = 4;

// Whether PipelineSnapshot::Execute takes width x height as they are.
bool IsPipelineSize(int width, int height) noexcept;

// The side an image is padded to: rounded up to a multiple of 4, at least
// 64. 0 for a side below 1, or one so large that a padded row of 3-byte
// pixels would not fit a 32-bit stride.
int PipelineSide(int side) noexcept;

// About how much large work memory (the block cache's) enhancing a
// width x height image takes beyond the image itself: what a caller may
// have kelvo::memory::PrefaultBlocks make ready while it reads the image.
// 0 for sizes EnhanceAnySize refuses.
std::size_t EnhanceWorkBytes(int width, int height) noexcept;

// Enhances a blue-green-red image (pixel format 2) of any size from 1 x 1
// with the snapshot pipeline and returns the pipeline's report.
//
// A size the pipeline takes (IsPipelineSize) runs PipelineSnapshot::Execute
// on the image as it is, so the result is exactly Execute's. Any other size
// is padded on the right and at the bottom to the pipeline size (the mirror
// of the border extension's PaddingMirror: reflected about the last column
// or row without repeating it, folded as often as needed; a single column or
// row is repeated), enhanced as a whole, and cropped back. The skin analysis
// and the histogram count the padding too: it adds at most 3 columns and 3
// rows to a side of 64 or more, which on photographs never changed a
// decision, and below 64 the folded mirror repeats the image itself.
//
// The BitmapData form: `output` may be `input`. An output that is not
// already a pixel format 2 image of the input's size (for example an empty
// BitmapData) is initialised to one with stride 3 * width.
//
// The raw form: `pixels` holds height rows of 3 * width bytes, `stride`
// bytes apart, top row first; the result is written in the same layout to
// `enhanced` (which may be `pixels`). Only 3 * width bytes of each row are
// read or written. The image is copied into a work image first and the
// result copied out.
//
// Failures are IPExceptions. Its own checks, with the where-string
// "EnhanceAnySize": an input without pixels or a null pointer (code 5),
// width or height below 1 or too large to pad (code 0), an input format
// other than 2 (code 2), a stride below 3 * width (code 6). Everything else
// comes from the pipeline unchanged ("PipelineSnapshot::Execute" and the
// stages' own where-strings, code 12 for memory). A padded image's result
// is copied to the output only once the pipeline has finished.
PipelineSnapshot::Report EnhanceAnySize(const BitmapData& input, BitmapData& output,
                                        const EnhanceOptions& options = {});
PipelineSnapshot::Report EnhanceAnySize(int width, int height, const uint8_t* pixels, int stride,
                                        uint8_t* enhanced, int enhancedStride,
                                        const EnhanceOptions& options = {});

}  // namespace KelvoLibImageProcessing
