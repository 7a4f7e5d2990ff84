#include "imaging/filters/OpConvertYCbCrtoRGB.h"

#include "imaging/core/BitmapData.h"
#include "imaging/filters/detail/ColourConvert.h"
#include "imaging/filters/detail/ConvertChecks.h"

namespace KelvoLibImageProcessing {

void OpConvertYCbCrtoRGB::Execute(const BitmapData* input, BitmapData* output, bool planar) {
  detail::CheckConversion(input, output, "OpConvertYCbCrtoRGB::Execute");
  const int srcStride = planar ? input->GetStride() / 3 : input->GetStride();
  if (input->GetFormat() == kFormatBGR8) {
    ConvertUChar(input->GetHeight(), input->GetData(), srcStride, output->GetData(),
                 output->GetStride(), input->GetWidth(), planar);
  } else {
    ConvertUShort(input->GetHeight(), reinterpret_cast<const uint16_t*>(input->GetData()),
                  srcStride, reinterpret_cast<uint16_t*>(output->GetData()), output->GetStride(),
                  input->GetWidth(), planar);
  }
}

void OpConvertYCbCrtoRGB::ConvertUChar(int height, const uint8_t* src, int srcStride, uint8_t* dst,
                                       int dstStride, int width, bool planar) noexcept {
  detail::YCbCrToRgb8(height, src, srcStride, dst, dstStride, width, planar);
}

void OpConvertYCbCrtoRGB::ConvertUShort(int height, const uint16_t* src, int srcStride,
                                        uint16_t* dst, int dstStride, int width,
                                        bool planar) noexcept {
  detail::YCbCrToRgb16(height, src, srcStride, dst, dstStride, width, planar);
}

}  // namespace KelvoLibImageProcessing
