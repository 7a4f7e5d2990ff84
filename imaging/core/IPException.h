#pragma once

#include <exception>

namespace KelvoLibImageProcessing {

// The library's only exception. It carries a numbered error and a text made
// of the code's message followed by a where-string such as
// "OpSharpen::RunUnsharpMask(ippiFilterGauss_8u_C1R)".
class IPException : public std::exception {
 public:
  static constexpr int kTextSize = 1024;

  IPException(int code, const char* where) noexcept;

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
