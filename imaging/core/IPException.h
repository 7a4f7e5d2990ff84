#pragma once

#include <exception>

namespace KelvoLibImageProcessing {

// The library's numbered errors; the number is what GetCode() returns and
// indexes the message table.
enum class ErrorCode : int {
  kInvalidDimensions = 0,      // "Invalid image dimension(s)"
  kMismatchedDimensions = 1,   // "Images have mismatched dimensions"
  kUnsupportedFormat = 2,      // "Invalid or unsupported pixel format"
  kMismatchedFormats = 3,      // "Images have mismatched pixel formats"
  kNullImage = 4,              // "Null image data pointer"
  kNullData = 5,               // "Null raw data pointer"
  kInvalidStride = 6,          // "Invalid data stride"
  kNullObject = 7,             // "Null object pointer"
  kInvalidRegion = 8,          // "Invalid region of interest"
  kOutsideRegion = 9,          // "Outside valid region of interest"
  kInvalidBitDepth = 10,       // "Invalid data bit depth"
  kInvalidInput = 11,          // "Invalid input"
  kAllocationFailed = 12,      // "Memory allocation failed"
  kInstantiationFailed = 13,   // "Instantiation failed"
  kInvalidHistogramBins = 14,  // "Invalid number of histogram bins"
  kPrimitiveFailed = 15,       // "Intel IPP call failed": a primitive's non-zero status
  kPrimitiveException = 16,    // "Unknown Intel IPP exception": a foreign exception
  kInvalidFileFormat = 17,     // "Invalid file format"
  kFileOpenFailed = 18,        // "File open failed"
  kNullFilePointer = 19,       // "Null file pointer"
  kInvalidFile = 20,           // "Invalid file"
  kFileReadFailed = 21,        // "File reading failed"
  kFileWriteFailed = 22,       // "Failed to write to file"
  kStringCopyFailed = 23,      // "String copy failed"
  kStringConcatFailed = 24,    // "String concatenation failed"
  kDataNotAvailable = 25,      // "Requested data not available"
  kGeneral = 26,               // no message of its own: the where-string is the sentence
};

// The library's only exception. It carries a numbered error and a text made
// of the code's message followed by a where-string such as
// "OpSharpen::RunUnsharpMask(ippiFilterGauss_8u_C1R)".
class IPException : public std::exception {
 public:
  static constexpr int kTextSize = 1024;

  IPException(ErrorCode code, const char* where) noexcept;

  const char* what() const noexcept override { return text_; }
  int GetCode() const noexcept { return code_; }

  // The message of a code without a where-string; codes outside the table
  // get "IPException: Unknown error - ".
  static const char* Message(int code) noexcept;

 private:
  int code_;
  char text_[kTextSize];
};

}  // namespace KelvoLibImageProcessing
