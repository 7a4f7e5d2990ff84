#pragma once

// The file routines take file names, so each fuzz input is written to a
// scratch file first: in /dev/shm when it exists (no disk traffic), else in
// the temporary directory. One file per process, reused for every input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kelvo_fuzz {

inline std::string& ScratchPathStorage() {
  static std::string path;
  return path;
}

inline void RemoveScratch() {
  unlink(ScratchPathStorage().c_str());
}

inline const std::string& ScratchPath(const char* tag) {
  std::string& path = ScratchPathStorage();
  if (path.empty()) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    path = std::string(dir) + "/kelvo-fuzz-" + tag + "-" + std::to_string(getpid());
    std::atexit(RemoveScratch);
  }
  return path;
}

inline const char* WriteScratch(const char* tag, const uint8_t* data, size_t size) {
  const std::string& path = ScratchPath(tag);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  return path.c_str();
}

}  // namespace kelvo_fuzz
