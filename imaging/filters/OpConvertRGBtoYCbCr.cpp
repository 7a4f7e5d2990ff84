#include "imaging/filters/OpConvertRGBtoYCbCr.h"

#include "imaging/core/BitmapData.h"
#include "imaging/filters/detail/ColourConvert.h"
#include "imaging/filters/detail/ConvertChecks.h"

namespace KelvoLibImageProcessing {

void OpConvertRGBtoYCbCr::Execute(const BitmapData* input, BitmapData* output, bool planar) {
  detail::CheckConversion(input, output, "OpConvertRGBtoYCbCr::Execute");
  const int dstStride = planar ? output->GetStride() / 3 : output->GetStride();
  if (input->GetFormat() == kFormatBGR8) {
    ConvertUChar(input->GetHeight(), input->GetData(), input->GetStride(), output->GetData(),
                 dstStride, input->GetWidth(), planar);
  } else {
    ConvertUShort(input->GetHeight(), reinterpret_cast<const uint16_t*>(input->GetData()),
                  input->GetStride(), reinterpret_cast<uint16_t*>(output->GetData()), dstStride,
                  input->GetWidth(), planar);
  }
}

void OpConvertRGBtoYCbCr::ConvertUChar(int height, const uint8_t* src, int srcStride, uint8_t* dst,
                                       int dstStride, int width, bool planar) noexcept {
  detail::RgbToYCbCr8(height, src, srcStride, dst, dstStride, width, planar);
}

void OpConvertRGBtoYCbCr::ConvertUShort(int height, const uint16_t* src, int srcStride,
                                        uint16_t* dst, int dstStride, int width,
                                        bool planar) noexcept {
  detail::RgbToYCbCr16(height, src, srcStride, dst, dstStride, width, planar);
}

}  // namespace KelvoLibImageProcessing
