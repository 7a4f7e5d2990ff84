// Placeholder until the enhancement stages land: the "enhanced" image is a
// copy of the frame.
#include "imaging/pipeline/RunSnapshotPipeline.h"

#include <cstring>
#include <new>

namespace KelvoLibImageProcessing {

bool RunSnapshotPipeline(int width, int height, int rowBytes, const uint8_t* frame,
                         uint8_t** enhanced) noexcept {
  if (enhanced == nullptr) return false;
  *enhanced = nullptr;
  if (frame == nullptr || width < 1 || height < 1 || rowBytes < 3 * width) return false;
  const std::size_t bytes = static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height);
  auto* out = new (std::nothrow) uint8_t[bytes];
  if (out == nullptr) return false;
  std::memcpy(out, frame, bytes);
  *enhanced = out;
  return true;
}

void FreeSnapshotImage(uint8_t* image) noexcept { delete[] image; }

}  // namespace KelvoLibImageProcessing
