#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing {

// Enhances one grabbed frame of any size: width x height pixels of blue,
// green, red, rows of exactly rowBytes (3 * width) bytes, top row first
// (through EnhanceAnySize, so a size the pipeline takes as it is gives
// exactly PipelineSnapshot::Execute's result). The frame itself
// is left unenhanced. On success *enhanced receives a new buffer of
// height * rowBytes bytes, to be released with FreeSnapshotImage, and the
// result is true. Every failure (an IPException inside the pipeline, any
// other exception, a failed allocation) is reported as false with
// *enhanced null; nothing escapes.
bool RunSnapshotPipeline(int width, int height, int rowBytes, const uint8_t* frame,
                         uint8_t** enhanced) noexcept;

void FreeSnapshotImage(uint8_t* image) noexcept;

}  // namespace KelvoLibImageProcessing
