// libFuzzer target: BitmapData::LoadBmp on arbitrary bytes. Every input must
// either load a consistent image or throw IPException; anything else (a
// crash, a sanitizer report, another exception, a leak) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzFile.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"

using KelvoLibImageProcessing::BitmapData;
using KelvoLibImageProcessing::IPException;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = kelvo_fuzz::WriteScratch("bmp", data, size);
  BitmapData image(1, 1);
  image.FillBlack();
  try {
    image.LoadBmp(path);
  } catch (const IPException&) {
    // A failed load leaves the container as it was.
    if (image.GetWidth() != 1 || image.GetHeight() != 1 || image.GetData()[0] != 0) std::abort();
    return 0;
  }
  if (image.GetFormat() != 2 || image.GetWidth() < 1 || image.GetHeight() < 1 ||
      image.GetStride() < 3 * image.GetWidth()) {
    std::abort();
  }
  // Touch every byte so AddressSanitizer checks the buffer's extent.
  unsigned sum = 0;
  const size_t bytes = static_cast<size_t>(image.GetStride()) * image.GetHeight();
  for (size_t i = 0; i < bytes; ++i) sum += image.GetData()[i];
  volatile unsigned sink = sum;
  (void)sink;
  return 0;
}
