#include "tools/kelvo-enhance/TextOutput.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "imaging/core/SafeFile.h"

namespace kelvo::enhance {

std::string WriteText(const std::string& text, const std::string& file) {
  if (file == "-") {
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
                         std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (written) return {};
    const int reason = errno;
    return "standard output: " +
           (reason != 0 ? std::generic_category().message(reason) : std::string("write failed"));
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
