#pragma once

// Checks shared by the two public colour conversion entries.

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"

namespace KelvoLibImageProcessing::detail {

// Design decision: an absent bitmap (code 4) or pixel buffer (code 5) is
// reported rather than dereferenced; the bitmap check comes first, the
// buffer check after the format and dimension checks, as in every
// whole-image operation of the library.
inline void CheckConversion(const BitmapData* input, const BitmapData* output, const char* where) {
  if (input == nullptr || output == nullptr) throw IPException(4, where);
  const int inFormat = input->GetFormat();
  const int outFormat = output->GetFormat();
  if (inFormat != kFormatBGR8 && inFormat != kFormatBGR16) throw IPException(2, where);
  if (outFormat != kFormatBGR8 && outFormat != kFormatBGR16) throw IPException(2, where);
  if (inFormat != outFormat) throw IPException(3, where);
  if (input->GetWidth() != output->GetWidth() || input->GetHeight() != output->GetHeight()) {
    throw IPException(1, where);
  }
  if (input->GetData() == nullptr || output->GetData() == nullptr) throw IPException(5, where);
}

}  // namespace KelvoLibImageProcessing::detail
