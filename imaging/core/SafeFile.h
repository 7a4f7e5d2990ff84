#pragma once

// Writing files so that nothing is lost.
//
// Every file the library and its hosts write goes to a temporary file beside
// the target, created exclusively (never through an existing name or link),
// and is renamed over the target only once it is complete. A failure at any
// point removes the temporary and leaves the target exactly as it was.
//
//  - A target that is a symbolic link is resolved first and the temporary is
//    made beside the file it points to, so the link stays a link.
//  - A replaced file keeps its permission bits; a new one gets 0666 less the
//    umask, as fopen would give it.
//  - A replaced file is synced to disk before the rename, so a crash leaves
//    either the old or the new contents. A new file is not synced unless
//    asked for (SetSync): nothing older can be lost.
//  - A target that exists and is not a regular file once links are followed
//    (a folder, a named pipe, a device) is refused before anything is opened:
//    opening a pipe would block until a reader came.
//
// Errors are returned, never thrown, and carry the system's own reason.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace kelvo::io {

// A file name as the messages show it: in double quotes, in UTF-8 on every
// system (a Windows name need not fit the ANSI code page).
std::string QuotedPath(const std::filesystem::path& path);

// Empty when `target` can be tried, else why not, e.g.
// "\"out/x.jpg\": folder \"out\" does not exist" or
// "\"/tmp/fifo\" is a named pipe, not a regular file".
std::string CheckOutputTarget(const std::filesystem::path& target);

// Empty when `source` can be opened for reading without blocking: an
// existing regular file once links are followed. Else why not.
std::string CheckInputFile(const std::filesystem::path& source);

// True when both names reach one existing file (same device and inode),
// however they are spelt.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

class SafeFileWriter {
 public:
  SafeFileWriter() = default;
  // Removes the temporary unless Commit succeeded.
  ~SafeFileWriter();
  SafeFileWriter(const SafeFileWriter&) = delete;
  SafeFileWriter& operator=(const SafeFileWriter&) = delete;

  // Sync the file and its folder even when the target is new.
  void SetSync(bool always) { syncAlways_ = always; }

  // Checks the target and creates the temporary. False with Error() set.
  bool Open(const std::filesystem::path& target);
  // The temporary, open for binary writing; null before Open.
  std::FILE* File() const { return file_; }
  // Flushes, syncs where needed, closes and renames the temporary over the
  // target. False with Error() set; the temporary is gone either way.
  bool Commit();
  // Drops the temporary; the target stays as it was.
  void Abandon();

  // Records a failure seen by the caller while writing through File(), with
  // the system's reason from errno when it names one.
  void Fail(const std::string& what, int systemError);

  const std::string& Error() const { return error_; }
  // The file the rename lands on: the target with links resolved.
  const std::filesystem::path& FinalPath() const { return final_; }

 private:
  std::FILE* file_ = nullptr;
  // file_'s buffer, so that a photo goes out in a few large writes rather
  // than one system call per 4 KiB. It outlives every stream that uses it:
  // Abandon() and Commit() close the stream, and the destructor calls
  // Abandon() first.
  std::unique_ptr<char[]> buffer_;
  std::filesystem::path target_;
  std::filesystem::path final_;
  std::filesystem::path temporary_;
  bool replacing_ = false;
  bool syncAlways_ = false;
  std::string error_;
};

// Writes height rows of 3 * width bytes (blue, green, red, top row first;
// row r starts r * 3 * width bytes into pixels) to target as a baseline JPEG
// of the given quality, through SafeFileWriter. Empty on success, else the
// reason, naming the file.
std::string WriteJpegBgr(const std::filesystem::path& target, const uint8_t* pixels, int width,
                         int height, int quality);

// Writes height rows of `stride` bytes (blue, green, red triples, top row
// first, each row padded as the stride says) to target as a 24-bit BMP,
// through SafeFileWriter. Empty on success, else the reason, naming the
// file.
std::string WriteBmpBgr(const std::filesystem::path& target, const uint8_t* pixels, int width,
                        int height, int stride);

}  // namespace kelvo::io
