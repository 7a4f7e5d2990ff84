#include "imaging/core/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "imaging/core/detail/FileReading.h"
#include "imaging/core/detail/JpegCodec.h"

namespace kelvo::io {

namespace fs = std::filesystem;

namespace {

// Bytes a writer buffers before it writes: a photo goes out in a few dozen
// system calls rather than one per 4 KiB, and the buffer's own fresh pages
// (each a fault on first touch) stay few.
constexpr std::size_t kWriteBuffer = std::size_t{64} << 10;

std::string SystemReason(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// Links are followed one at a time so that a dangling link still names the
// file it would create; 40 hops is where the kernel gives up too.
bool ResolveLinks(const fs::path& target, fs::path* resolved, std::string* error) {
  fs::path current = target;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(current, ec);
    if (ec || !fs::is_symlink(st)) {
      *resolved = current;
      return true;
    }
    fs::path next = fs::read_symlink(current, ec);
    if (ec) {
      *error = QuotedPath(target) + ": " + ec.message();
      return false;
    }
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  *error = QuotedPath(target) + ": " + SystemReason(ELOOP);
  return false;
}

const char* KindOf(const fs::file_status& st) {
  switch (st.type()) {
    case fs::file_type::directory:
      return "a folder";
    case fs::file_type::fifo:
      return "a named pipe";
    case fs::file_type::character:
    case fs::file_type::block:
      return "a device";
    case fs::file_type::socket:
      return "a socket";
    default:
      return "not a regular file";
  }
}

fs::path FolderOf(const fs::path& p) {
  return p.has_parent_path() ? p.parent_path() : fs::path(".");
}

std::string CheckResolvedTarget(const fs::path& shown, const fs::path& final) {
  if (final.empty() || !final.has_filename())
    return QuotedPath(shown) + " names a folder, not a file";
  std::error_code ec;
  const fs::file_status st = fs::status(final, ec);
  if (!ec && fs::exists(st) && !fs::is_regular_file(st)) {
    const char* kind = KindOf(st);
    return QuotedPath(shown) + " is " + kind +
           (st.type() == fs::file_type::directory ? "" : ", not a regular file");
  }
  const fs::path folder = FolderOf(final);
  const fs::file_status folderStatus = fs::status(folder, ec);
  if (ec || !fs::exists(folderStatus))
    return QuotedPath(shown) + ": folder " + QuotedPath(folder) + " does not exist";
  if (!fs::is_directory(folderStatus))
    return QuotedPath(shown) + ": " + QuotedPath(folder) + " is not a folder";
  return {};
}

std::atomic<unsigned> g_temporaryCounter{0};

fs::path TemporaryName(const fs::path& final) {
  static thread_local std::minstd_rand random(std::random_device{}());
  char tag[64];
#ifdef _WIN32
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  std::snprintf(tag, sizeof tag, ".kelvo-%lu-%u-%08x.tmp", pid, g_temporaryCounter++,
                static_cast<unsigned>(random()));
  fs::path name(".");
  name += final.filename();
  name += tag;
  return name;
}

#ifndef _WIN32
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}
#endif

}  // namespace

std::string QuotedPath(const fs::path& path) {
  const std::u8string text = path.u8string();
  std::string quoted(1, '"');
  quoted.append(text.begin(), text.end());
  quoted.push_back('"');
  return quoted;
}

std::string CheckOutputTarget(const fs::path& target) {
  if (target.empty()) return "no file name given";
  fs::path final;
  std::string error;
  if (!ResolveLinks(target, &final, &error)) return error;
  return CheckResolvedTarget(target, final);
}

std::string CheckInputFile(const fs::path& source) {
  std::error_code ec;
  const fs::file_status st = fs::status(source, ec);
  if (ec || !fs::exists(st)) return QuotedPath(source) + ": no such file";
  if (!fs::is_regular_file(st)) {
    return QuotedPath(source) + " is " + KindOf(st) +
           (st.type() == fs::file_type::directory ? "" : ", not a regular file");
  }
  return {};
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  const bool same = fs::equivalent(a, b, ec);
  return !ec && same;
}

SafeFileWriter::~SafeFileWriter() {
  Abandon();
}

void SafeFileWriter::Fail(const std::string& what, int systemError) {
  if (!error_.empty()) return;  // the first failure is the one to report
  error_ = QuotedPath(target_) + ": " + what;
  if (systemError != 0) error_ += ": " + SystemReason(systemError);
}

bool SafeFileWriter::Open(const fs::path& target) {
  Abandon();
  error_.clear();
  target_ = target;
  if (target.empty()) {
    error_ = "no file name given";
    return false;
  }
  if (!ResolveLinks(target, &final_, &error_)) return false;
  error_ = CheckResolvedTarget(target, final_);
  if (!error_.empty()) return false;

  std::error_code ec;
  const fs::file_status existing = fs::status(final_, ec);
  replacing_ = !ec && fs::is_regular_file(existing);
  const fs::path folder = FolderOf(final_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = folder / TemporaryName(final_);
#ifdef _WIN32
    const int fd = _wopen(temporary_.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                          _S_IREAD | _S_IWRITE);
#else
    // O_EXCL never follows a link or reuses a file someone else placed there.
    const int fd =
        ::open(temporary_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0666);
#endif
    if (fd < 0) {
      if (errno == EEXIST) continue;
      const int error = errno;
      temporary_.clear();
      Fail("cannot create a file in " + QuotedPath(folder), error);
      return false;
    }
#ifndef _WIN32
    struct stat st {};
    if (replacing_ && ::stat(final_.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
#endif
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
      const int error = errno;
      ::close(fd);
      Abandon();
      Fail("cannot write", error);
      return false;
    }
    // Without its own buffer the stream keeps the default one: slower, not
    // wrong.
    if (!buffer_) buffer_.reset(new (std::nothrow) char[kWriteBuffer]);
    if (buffer_) std::setvbuf(file_, buffer_.get(), _IOFBF, kWriteBuffer);
    return true;
  }
  temporary_.clear();
  Fail("cannot create a temporary file in " + QuotedPath(folder), EEXIST);
  return false;
}

bool SafeFileWriter::Commit() {
  if (file_ == nullptr) {
    if (error_.empty()) error_ = QuotedPath(target_) + ": not open";
    return false;
  }
  if (!error_.empty()) {
    Abandon();
    return false;
  }
  bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  int error = ok ? 0 : errno;
#ifndef _WIN32
  if (ok && (replacing_ || syncAlways_) && ::fsync(::fileno(file_)) != 0) {
    ok = false;
    error = errno;
  }
#else
  if (ok && (replacing_ || syncAlways_) && _commit(_fileno(file_)) != 0) {
    ok = false;
    error = errno;
  }
#endif
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    Fail("cannot write", error);
    Abandon();
    return false;
  }
#ifdef _WIN32
  DWORD flags = MOVEFILE_REPLACE_EXISTING;
  if (replacing_ || syncAlways_) flags |= MOVEFILE_WRITE_THROUGH;
  if (!MoveFileExW(temporary_.c_str(), final_.c_str(), flags)) {
    Fail("cannot replace the file", EACCES);
    Abandon();
    return false;
  }
#else
  if (::rename(temporary_.c_str(), final_.c_str()) != 0) {
    Fail("cannot rename the finished file into place", errno);
    Abandon();
    return false;
  }
  if (syncAlways_) SyncFolder(FolderOf(final_));
#endif
  temporary_.clear();
  return true;
}

void SafeFileWriter::Abandon() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temporary_.empty()) {
    std::error_code ec;
    fs::remove(temporary_, ec);
    temporary_.clear();
  }
}

std::string WriteJpegBgr(const fs::path& target, const uint8_t* pixels, int width, int height,
                         int quality) {
  SafeFileWriter writer;
  if (!writer.Open(target)) return writer.Error();
  errno = 0;
  const auto status = KelvoLibImageProcessing::detail::JpegCompressBgr(writer.File(), pixels, width,
                                                                       height, quality);
  if (status != KelvoLibImageProcessing::detail::JpegStatus::kOk)
    writer.Fail("cannot write", std::ferror(writer.File()) ? errno : 0);
  if (!writer.Commit()) return writer.Error();
  return {};
}

std::string WriteBmpBgr(const fs::path& target, const uint8_t* pixels, int width, int height,
                        int stride) {
  uint8_t headers[KelvoLibImageProcessing::detail::kBmpHeadersSize];
  if (!KelvoLibImageProcessing::detail::MakeBmpHeaders(width, height, stride, headers))
    return QuotedPath(target) + ": the image is too large for a BMP file";
  const size_t pixelBytes = static_cast<size_t>(height) * static_cast<size_t>(stride);
  SafeFileWriter writer;
  if (!writer.Open(target)) return writer.Error();
  errno = 0;
  if (std::fwrite(headers, 1, sizeof headers, writer.File()) != sizeof headers ||
      std::fwrite(pixels, 1, pixelBytes, writer.File()) != pixelBytes)
    writer.Fail("cannot write", errno);
  if (!writer.Commit()) return writer.Error();
  return {};
}

}  // namespace kelvo::io
