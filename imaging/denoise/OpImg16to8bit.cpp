#include "imaging/denoise/OpImg16to8bit.h"

#include <cstdint>
#include <cstring>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/ImageView.h"

namespace KelvoLibImageProcessing {

void OpImg16to8bit::Execute(const BitmapData* source, BitmapData* destination) {
  constexpr const char* kWhere = "OpImg16to8bit::Execute";
  if (source == nullptr || destination == nullptr) throw IPException(ErrorCode::kNullImage, kWhere);
  const int from = source->GetFormat();
  const int to = destination->GetFormat();
  if (!((from == kFormatBGR16 && to == kFormatBGR8) ||
        (from == kFormatGray16 && to == kFormatGray8))) {
    throw IPException(ErrorCode::kUnsupportedFormat, kWhere);
  }
  if (source->GetWidth() != destination->GetWidth() ||
      source->GetHeight() != destination->GetHeight()) {
    throw IPException(ErrorCode::kMismatchedDimensions, kWhere);
  }
  // A container without pixels is reported rather than read.
  if (source->GetData() == nullptr || destination->GetData() == nullptr) {
    throw IPException(ErrorCode::kNullData, kWhere);
  }

  // One lookup per sample. The factor is 255/4095 rounded to float, applied
  // in double; 4095 and every value above it (not a 12-bit sample) give 255.
  kelvo::memory::BlockArray<uint8_t> table = kelvo::memory::AllocateArray<uint8_t>(65536);
  if (!table) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  std::memset(table.get(), 255, 65536);
  for (int v = 0; v < 4095; ++v) {
    const int rounded = static_cast<int>(v * 0.06227106228470802 + 0.5);
    table[static_cast<size_t>(v)] = static_cast<uint8_t>(rounded < 255 ? rounded : 255);
  }

  const int samples = source->GetWidth() * (from == kFormatBGR16 ? 3 : 1);
  const ptrdiff_t srcAdvance = source->GetStride() & ~1;
  const ptrdiff_t dstAdvance = destination->GetStride();
  const auto* src = reinterpret_cast<const uint16_t*>(source->GetData());
  for (int y = 0; y < source->GetHeight(); ++y) {
    const uint16_t* in = RowAt(src, srcAdvance, y);
    uint8_t* out = RowAt(destination->GetData(), dstAdvance, y);
    for (int i = 0; i < samples; ++i) out[i] = table[in[i]];
  }
}

}  // namespace KelvoLibImageProcessing
