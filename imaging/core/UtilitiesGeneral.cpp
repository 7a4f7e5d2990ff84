#include "imaging/core/UtilitiesGeneral.h"

#include <algorithm>
#include <cstring>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"

namespace KelvoLibImageProcessing {

void UtilitiesGeneral::CopyData(const BitmapData* source, BitmapData* destination) {
  constexpr const char* kWhere = "UtilitiesGeneral::CopyData";
  if (source == nullptr || destination == nullptr) throw IPException(ErrorCode::kNullImage, kWhere);
  if (source->GetFormat() != destination->GetFormat())
    throw IPException(ErrorCode::kMismatchedFormats, kWhere);
  if (source->GetWidth() < 1 || source->GetHeight() < 1)
    throw IPException(ErrorCode::kInvalidDimensions, kWhere);
  if (destination->GetWidth() != source->GetWidth() ||
      destination->GetHeight() != source->GetHeight()) {
    throw IPException(ErrorCode::kMismatchedDimensions, kWhere);
  }
  if (source == destination) return;
  if (source->GetData() == nullptr || destination->GetData() == nullptr) {
    throw IPException(ErrorCode::kNullData, kWhere);
  }

  const std::size_t height = static_cast<std::size_t>(source->GetHeight());
  const int srcStride = source->GetStride();
  const int dstStride = destination->GetStride();
  if (srcStride == dstStride) {
    std::memcpy(destination->GetData(), source->GetData(),
                height * static_cast<std::size_t>(srcStride));
    return;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(std::min(srcStride, dstStride));
  for (std::size_t y = 0; y < height; ++y) {
    std::memcpy(destination->GetData() + y * static_cast<std::size_t>(dstStride),
                source->GetData() + y * static_cast<std::size_t>(srcStride), rowBytes);
  }
}

}  // namespace KelvoLibImageProcessing
