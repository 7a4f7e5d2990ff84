#pragma once

// Checks shared by the two public colour conversion entries.

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"

namespace KelvoLibImageProcessing::detail {

// An absent bitmap (code 4) or pixel buffer (code 5) is
// reported rather than dereferenced; the bitmap check comes first, the
// buffer check after the format and dimension checks, as in every
// whole-image operation of the library.
inline void CheckConversion(const BitmapData* input, const BitmapData* output, const char* where) {
  if (input == nullptr || output == nullptr) throw IPException(ErrorCode::kNullImage, where);
  const int inFormat = input->GetFormat();
  const int outFormat = output->GetFormat();
  if (inFormat != kFormatBGR8 && inFormat != kFormatBGR16)
    throw IPException(ErrorCode::kUnsupportedFormat, where);
  if (outFormat != kFormatBGR8 && outFormat != kFormatBGR16)
    throw IPException(ErrorCode::kUnsupportedFormat, where);
  if (inFormat != outFormat) throw IPException(ErrorCode::kMismatchedFormats, where);
  if (input->GetWidth() != output->GetWidth() || input->GetHeight() != output->GetHeight()) {
    throw IPException(ErrorCode::kMismatchedDimensions, where);
  }
  if (input->GetData() == nullptr || output->GetData() == nullptr)
    throw IPException(ErrorCode::kNullData, where);
}

}  // namespace KelvoLibImageProcessing::detail
