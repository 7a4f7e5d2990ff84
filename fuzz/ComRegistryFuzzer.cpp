// libFuzzer target: the class registry's text parser on arbitrary bytes.
// Every input must either parse or be refused with a message naming a
// line; what parses must survive formatting: written and read again it
// gives the same records, and writing those gives the same text. Anything
// else (a crash, a sanitizer report, an exception, a mismatch) is a
// finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/ComRegistry.h"

using kelvo::platform::FormatComRegistry;
using kelvo::platform::ParseComRegistry;
using kelvo::platform::RegisteredClass;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<RegisteredClass> classes;
  std::string error;
  if (!ParseComRegistry(text, &classes, &error)) {
    if (!classes.empty() || error.rfind("line ", 0) != 0) std::abort();
    return 0;
  }
  for (const RegisteredClass& entry : classes)
    if (entry.clsid.size() != 38 || entry.module.empty() || (!entry.isFilter && !entry.pins.empty()))
      std::abort();

  std::string written;
  if (!FormatComRegistry(classes, &written, &error)) std::abort();
  std::vector<RegisteredClass> reread;
  if (!ParseComRegistry(written, &reread, &error) || reread != classes) std::abort();
  std::string rewritten;
  if (!FormatComRegistry(reread, &rewritten, &error) || rewritten != written) std::abort();
  return 0;
}
