// libFuzzer target: BitmapData::LoadJpg on arbitrary bytes. Every input must
// either load a consistent image or throw IPException; anything else (a
// crash, a sanitizer report, another exception, a leak, output on the
// console) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzFile.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/detail/JpegCodec.h"

using KelvoLibImageProcessing::BitmapData;
using KelvoLibImageProcessing::IPException;

namespace {

// Pixels announced by the first start-of-frame marker, or 0 when there is
// none before the first scan. Walks the marker segments the way the decoder
// does, stray bytes included; good enough to steer the fuzzer.
uint64_t DeclaredPixels(const uint8_t* data, size_t size) {
  size_t at = 2;
  while (at + 4 <= size) {
    if (data[at] != 0xFF) {  // stray bytes: the decoder skips to the next marker
      ++at;
      continue;
    }
    const uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x00) {  // a stuffed zero is no marker: skipped with the stray bytes
      at += 2;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no length
      at += 2;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return 0;  // scan or end before a frame
    const size_t length = (size_t{data[at + 2]} << 8) | data[at + 3];
    const bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame && at + 9 <= size) {
      const uint64_t height = (uint64_t{data[at + 5]} << 8) | data[at + 6];
      const uint64_t width = (uint64_t{data[at + 7]} << 8) | data[at + 8];
      return width * height;
    }
    at += 2 + length;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A few bytes of arithmetic-coded data can legitimately describe a picture
  // of a hundred million pixels, which decodes correctly but takes seconds.
  // Such inputs teach the fuzzer nothing new, so the middle range is skipped;
  // small pictures and ones over the loader's pixel cap are still run.
  const uint64_t pixels = DeclaredPixels(data, size);
  if (pixels > (uint64_t{1} << 22) && pixels <= KelvoLibImageProcessing::detail::kMaxJpegPixels) {
    return 0;
  }
  const char* path = kelvo_fuzz::WriteScratch("jpg", data, size);
  BitmapData image(1, 1);
  image.FillBlack();
  try {
    image.LoadJpg(path);
  } catch (const IPException&) {
    if (image.GetWidth() != 1 || image.GetHeight() != 1 || image.GetData()[0] != 0) std::abort();
    return 0;
  }
  if (image.GetFormat() != 2 || image.GetWidth() < 1 || image.GetHeight() < 1 ||
      image.GetStride() != 3 * image.GetWidth()) {
    std::abort();
  }
  // Touch both ends of the buffer so AddressSanitizer checks its extent.
  const size_t bytes = static_cast<size_t>(image.GetStride()) * image.GetHeight();
  volatile uint8_t sink = image.GetData()[0];
  sink = image.GetData()[bytes - 1];
  (void)sink;
  return 0;
}
