#include "filter/WriteJpegFile.h"

#include <filesystem>

#include "imaging/core/SafeFile.h"

#ifndef _WIN32
#include "platform/detail/WideString.h"
#endif

namespace {

constexpr int kStillQuality = 88;

std::filesystem::path PathOf(LPCWSTR fileName) {
#ifdef _WIN32
  return std::filesystem::path(fileName);
#else
  return std::filesystem::path(kelvo::platform::detail::WideToUtf8(fileName));
#endif
}

}  // namespace

std::string WriteJpegFile(LPCWSTR fileName, int width, int height, const uint8_t* pixels) {
  return kelvo::io::WriteJpegBgr(PathOf(fileName), pixels, width, height, kStillQuality);
}
