#include "imaging/core/IPException.h"

#include <cstring>

namespace KelvoLibImageProcessing {

namespace {

constexpr const char* kMessages[] = {
    "IPException: Invalid image dimension(s) - ",
    "IPException: Images have mismatched dimensions - ",
    "IPException: Invalid or unsupported pixel format - ",
    "IPException: Images have mismatched pixel formats - ",
    "IPException: Null image data pointer - ",
    "IPException: Null raw data pointer - ",
    "IPException: Invalid data stride - ",
    "IPException: Null object pointer - ",
    "IPException: Invalid region of interest - ",
    "IPException: Outside valid region of interest - ",
    "IPException: Invalid data bit depth - ",
    "IPException: Invalid input - ",
    "IPException: Memory allocation failed - ",
    "IPException: Instantiation failed - ",
    "IPException: Invalid number of histogram bins - ",
    "IPException: Intel IPP call failed - ",
    "IPException: Unknown Intel IPP exception - ",
    "IPException: Invalid file format - ",
    "IPException: File open failed - ",
    "IPException: Null file pointer - ",
    "IPException: Invalid file - ",
    "IPException: File reading failed - ",
    "IPException: Failed to write to file - ",
    "IPException: String copy failed - ",
    "IPException: String concatenation failed - ",
    "IPException: Requested data not available - ",
    "IPException: ",
};

constexpr int kMessageCount = static_cast<int>(sizeof(kMessages) / sizeof(kMessages[0]));

}  // namespace

const char* IPException::Message(int code) noexcept {
  if (code < 0 || code >= kMessageCount) return "IPException: Unknown error - ";
  return kMessages[code];
}

// The text is built by bounded copy and append. A where-string that would
// overflow the 1024-byte text is cut at the bound: the message and the start
// of the where-string survive, and the text stays terminated.
IPException::IPException(ErrorCode code, const char* where) noexcept
    : code_(static_cast<int>(code)) {
  text_[0] = '\0';
  std::strncat(text_, Message(code_), kTextSize - 1);
  if (where != nullptr) {
    const std::size_t used = std::strlen(text_);
    std::strncat(text_, where, kTextSize - 1 - used);
  }
}

}  // namespace KelvoLibImageProcessing
