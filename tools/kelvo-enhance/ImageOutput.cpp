#include "tools/kelvo-enhance/ImageOutput.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

#include "imaging/core/SafeFile.h"

namespace kelvo::enhance {

namespace {

using KelvoLibImageProcessing::BitmapData;

constexpr int kJpegQuality = 95;  // BitmapData::SaveJpg's
constexpr uint32_t kBmpHeadersSize = 54;
constexpr uint32_t kBmpInfoHeaderSize = 40;

void PutU16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(uint8_t* at, uint32_t value) {
  PutU16(at, value);
  PutU16(at + 2, value >> 16);
}

std::string WriteBmp(const BitmapData& image, const std::string& file) {
  const uint64_t pixelBytes =
      static_cast<uint64_t>(image.GetHeight()) * static_cast<uint64_t>(image.GetStride());
  if (pixelBytes + kBmpHeadersSize > std::numeric_limits<uint32_t>::max())
    return "\"" + file + "\": the image is too large for a BMP file";
  // Top row first (negative height), rows of the container's stride: the
  // layout BitmapData::SaveBmp writes.
  uint8_t headers[kBmpHeadersSize] = {};
  headers[0] = 'B';
  headers[1] = 'M';
  PutU32(headers + 2, static_cast<uint32_t>(pixelBytes + kBmpHeadersSize));
  PutU32(headers + 10, kBmpHeadersSize);
  PutU32(headers + 14, kBmpInfoHeaderSize);
  PutU32(headers + 18, static_cast<uint32_t>(image.GetWidth()));
  PutU32(headers + 22, static_cast<uint32_t>(-image.GetHeight()));
  PutU16(headers + 26, 1);
  PutU16(headers + 28, 24);
  PutU32(headers + 34, static_cast<uint32_t>(pixelBytes));

  kelvo::io::SafeFileWriter writer;
  if (!writer.Open(file)) return writer.Error();
  errno = 0;
  if (std::fwrite(headers, 1, sizeof headers, writer.File()) != sizeof headers ||
      std::fwrite(image.GetData(), 1, pixelBytes, writer.File()) != pixelBytes) {
    writer.Fail("cannot write", errno);
  }
  if (!writer.Commit()) return writer.Error();
  return {};
}

}  // namespace

std::string WriteImage(const BitmapData& image, const std::string& file, int fileType) {
  if (image.GetData() == nullptr || image.GetFormat() != KelvoLibImageProcessing::kFormatBGR8)
    return "\"" + file + "\": no image to write";
  if (fileType == KelvoLibImageProcessing::kFileBmp) return WriteBmp(image, file);
  const int width = image.GetWidth();
  const int height = image.GetHeight();
  const size_t packedRow = static_cast<size_t>(width) * 3;
  if (static_cast<size_t>(image.GetStride()) == packedRow)
    return kelvo::io::WriteJpegBgr(file, image.GetData(), width, height, kJpegQuality);
  std::vector<uint8_t> packed(packedRow * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    std::memcpy(packed.data() + static_cast<size_t>(y) * packedRow,
                image.GetData() + static_cast<size_t>(y) * static_cast<size_t>(image.GetStride()),
                packedRow);
  }
  return kelvo::io::WriteJpegBgr(file, packed.data(), width, height, kJpegQuality);
}

std::string WriteText(const std::string& text, const std::string& file) {
  if (file == "-") {
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
                         std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (written) return {};
    const int reason = errno;
    return "standard output: " + (reason != 0 ? std::generic_category().message(reason)
                                              : std::string("write failed"));
  }
  kelvo::io::SafeFileWriter writer;
  if (!writer.Open(file)) return writer.Error();
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), writer.File()) != text.size())
    writer.Fail("cannot write", errno);
  if (!writer.Commit()) return writer.Error();
  return {};
}

}  // namespace kelvo::enhance
