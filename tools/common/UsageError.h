#pragma once

#include <cstdio>
#include <string_view>

namespace kelvo::tools {

// A usage error names what was wrong, then only the synopsis (the usage text
// up to its first blank line) and where the rest is: the full help is a
// hundred lines, and printed after the error it scrolls the one line that
// matters off the screen.
inline void PrintUsageError(const char* program, std::string_view error, std::string_view usage) {
  const size_t end = usage.find("\n\n");
  const std::string_view synopsis = usage.substr(0, end == std::string_view::npos ? usage.size() : end + 1);
  std::fprintf(stderr, "%s: %.*s\n%.*sRun '%s --help' for the options.\n", program,
               static_cast<int>(error.size()), error.data(), static_cast<int>(synopsis.size()),
               synopsis.data(), program);
}

}  // namespace kelvo::tools
