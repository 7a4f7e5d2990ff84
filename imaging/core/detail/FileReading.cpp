#include "imaging/core/detail/FileReading.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace KelvoLibImageProcessing::detail {

FileHandle OpenForReading(const char* fileName) {
  if (fileName == nullptr) return nullptr;
#ifdef _WIN32
  return FileHandle(std::fopen(fileName, "rb"));
#else
  const int fd = ::open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return FileHandle(file);
#endif
}

}  // namespace KelvoLibImageProcessing::detail
