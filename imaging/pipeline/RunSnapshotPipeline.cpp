#include "imaging/pipeline/RunSnapshotPipeline.h"

#include <cstring>

#include "imaging/core/BitmapData.h"
#include "imaging/pipeline/EnhanceAnySize.h"
#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {

bool RunSnapshotPipeline(int width, int height, int rowBytes, const uint8_t* frame,
                         uint8_t** enhanced) noexcept {
  if (enhanced == nullptr) return false;
  *enhanced = nullptr;
  if (frame == nullptr) return false;
  try {
    // The frame stays as it is: the pipeline works on its own copy. Frames
    // of sizes the pipeline does not take are padded and cropped back, so a
    // video of any size gets enhanced stills.
    BitmapData image(width, height, kFormatBGR8, frame, rowBytes);
    EnhanceAnySize(image, image);

    const std::size_t bytes =
        static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height);
    auto* out = static_cast<uint8_t*>(kelvo::memory::AllocateBlock(bytes));
    if (out == nullptr) return false;
    std::memcpy(out, image.GetData(), bytes);
    *enhanced = out;
    return true;
  } catch (...) {
    // IPExceptions of the stages and anything else: the frame fails.
    return false;
  }
}

void FreeSnapshotImage(uint8_t* image) noexcept { kelvo::memory::FreeBlock(image); }

}  // namespace KelvoLibImageProcessing
