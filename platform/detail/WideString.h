#pragma once

// Small helpers for zero-terminated 16-bit strings.

#include <string>

#include "platform/Windows.h"

namespace kelvo::platform::detail {

inline size_t WideLength(LPCWSTR s) {
  size_t n = 0;
  if (s != nullptr)
    while (s[n] != 0) ++n;
  return n;
}

// Copies at most capacity - 1 characters and terminates.
inline void WideCopy(WCHAR* dest, size_t capacity, LPCWSTR src) {
  size_t n = 0;
  if (src != nullptr)
    for (; n + 1 < capacity && src[n] != 0; ++n) dest[n] = src[n];
  dest[n] = 0;
}

inline bool WideEqual(LPCWSTR a, LPCWSTR b) {
  size_t i = 0;
  for (; a[i] != 0 && a[i] == b[i]; ++i) {
  }
  return a[i] == b[i];
}

// A copy in task memory for the caller to free with CoTaskMemFree.
inline LPWSTR WideTaskMemCopy(LPCWSTR s) {
  const size_t n = WideLength(s);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((n + 1) * sizeof(WCHAR)));
  if (copy != nullptr) {
    for (size_t i = 0; i < n; ++i) copy[i] = s[i];
    copy[n] = 0;
  }
  return copy;
}

// UTF-16 to UTF-8, for file names and the text registry.
std::string WideToUtf8(LPCWSTR s);
std::u16string Utf8ToWide(const std::string& s);

}  // namespace kelvo::platform::detail
