#include "imaging/analysis/OpContrastStretch.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "imaging/analysis/detail/OwnedArray.h"
#include "imaging/analysis/detail/StretchMap.h"
#include "imaging/analysis/detail/StretchTables.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"

namespace KelvoLibImageProcessing {

namespace {

constexpr const char* kWhere = "OpContrastStretch::Execute";

// destination sample = table[source sample], row by row; 16-bit samples are
// read and written through memcpy so that no row alignment is assumed.
template <class S, class D>
void MapRows(const BitmapData& source, BitmapData& destination, const D* table) {
  const std::size_t samples = static_cast<std::size_t>(source.GetWidth()) *
                              static_cast<std::size_t>(source.GetNumChannels());
  const int height = source.GetHeight();
  if constexpr (sizeof(S) == 1 && sizeof(D) == 1) {
    // In place each row is read before it is written, vector by vector.
    detail::MapByteRows(source.GetData(), source.GetStride(), destination.GetData(),
                        destination.GetStride(), samples, height, table);
  } else {
    const ImageView<const uint8_t> from = source.View<uint8_t>();
    const ImageView<uint8_t> to = destination.View<uint8_t>();
    for (int y = 0; y < height; ++y) {
      const uint8_t* s = from.Row(y);
      uint8_t* d = to.Row(y);
      for (std::size_t x = 0; x < samples; ++x) {
        S v;
        std::memcpy(&v, s + x * sizeof(S), sizeof(S));
        const D out = table[v];
        std::memcpy(d + x * sizeof(D), &out, sizeof(D));
      }
    }
  }
}

bool PositiveExponent(float p) {
  return p > 0.0f;
}  // false for NaN too

}  // namespace

void OpContrastStretch::Execute(const BitmapData* source, BitmapData* destination, int maxValue,
                                float lowClip, float highClip) {
  Execute(source, destination, maxValue, lowClip, highClip, 100.0f, 100.0f);
}

void OpContrastStretch::Execute(const BitmapData* source, BitmapData* destination, int maxValue,
                                float lowClip, float highClip, float kneeLow, float kneeHigh) {
  if (source == nullptr || destination == nullptr) throw IPException(ErrorCode::kNullImage, kWhere);
  const int srcChannels = source->GetNumChannels();
  const int dstChannels = destination->GetNumChannels();
  if (srcChannels != 0 && dstChannels != 0 && srcChannels != dstChannels) {
    throw IPException(ErrorCode::kMismatchedFormats,
                      "OpContrastStretch::Execute: must have same number of color components");
  }
  if (srcChannels == 0 || dstChannels == 0)
    throw IPException(ErrorCode::kUnsupportedFormat, kWhere);
  if (source->GetWidth() != destination->GetWidth() ||
      source->GetHeight() != destination->GetHeight()) {
    throw IPException(ErrorCode::kMismatchedDimensions, kWhere);
  }
  if (source->GetData() == nullptr || destination->GetData() == nullptr) {
    throw IPException(ErrorCode::kNullData, kWhere);
  }

  const bool src8 = source->GetBytesPerChannel() == 1;
  const bool dst8 = destination->GetBytesPerChannel() == 1;
  // MaxValue is limited to what the path's table can hold
  // (255 for an 8-bit destination of an 8-bit source, 65535 otherwise), so
  // no value wraps when stored.
  if (src8 && dst8) {
    uint8_t table[256];
    detail::BuildStretchTable8To8(std::clamp(maxValue, 0, 255), lowClip, highClip, table);
    MapRows<uint8_t, uint8_t>(*source, *destination, table);
  } else if (src8) {
    uint16_t table[256];
    detail::BuildStretchTable8To16(std::clamp(maxValue, 0, 65535), lowClip, highClip, table);
    MapRows<uint8_t, uint16_t>(*source, *destination, table);
  } else if (dst8) {
    auto table = detail::AllocateArray<uint8_t>(65536);
    if (!table) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    detail::BuildStretchTable16To8(std::clamp(maxValue, 0, 65535), lowClip, highClip, table.get());
    MapRows<uint16_t, uint8_t>(*source, *destination, table.get());
  } else {
    // The exponent search only ends for a positive start
    // (0 never grows and a negative one never reaches the bend), so other
    // values are rejected as invalid input.
    if (!PositiveExponent(kneeLow) || !PositiveExponent(kneeHigh))
      throw IPException(ErrorCode::kInvalidInput, kWhere);
    auto table = detail::AllocateArray<uint16_t>(65536);
    if (!table) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    detail::BuildStretchTable16To16(std::clamp(maxValue, 0, 65535), lowClip, highClip, kneeLow,
                                    kneeHigh, table.get());
    MapRows<uint16_t, uint16_t>(*source, *destination, table.get());
  }
}

}  // namespace KelvoLibImageProcessing
