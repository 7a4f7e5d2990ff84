#include "imaging/core/SafeFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"

namespace {

namespace fs = std::filesystem;
using KelvoLibImageProcessing::BitmapData;
using KelvoLibImageProcessing::IPException;
using kelvo::io::SafeFileWriter;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

class SafeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("safefile-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  // Everything in the folder but the named files: temporaries left behind.
  std::vector<std::string> Leftovers(std::initializer_list<std::string> expected) const {
    std::vector<std::string> extra;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      if (std::find(expected.begin(), expected.end(), name) == expected.end())
        extra.push_back(name);
    }
    return extra;
  }
  static bool Write(const fs::path& target, const std::string& text, std::string* error) {
    SafeFileWriter writer;
    if (!writer.Open(target)) {
      *error = writer.Error();
      return false;
    }
    std::fwrite(text.data(), 1, text.size(), writer.File());
    const bool ok = writer.Commit();
    *error = writer.Error();
    return ok;
  }
  fs::path dir_;
};

// Runs `body` with files limited to `bytes` (writes beyond fail with EFBIG
// instead of raising SIGXFSZ), then restores both.
template <class Body>
void WithFileSizeLimit(rlim_t bytes, Body&& body) {
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &limited);
  body();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
}

TEST_F(SafeFileTest, ReplacesCompletelyOrNotAtAll) {
  const fs::path target = dir_ / "a.txt";
  std::string error;
  ASSERT_TRUE(Write(target, "first", &error)) << error;
  EXPECT_EQ(ReadAll(target), "first");
  // Larger than the writer's buffer: written whole across several fills.
  std::string large(1 << 20, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i % 23);
  ASSERT_TRUE(Write(target, large, &error)) << error;
  EXPECT_EQ(ReadAll(target), large);
  ASSERT_TRUE(Write(target, "second, longer", &error)) << error;
  EXPECT_EQ(ReadAll(target), "second, longer");

  // A write that cannot complete leaves the old contents and no temporary.
  // It fails when the buffer is flushed at the end, or while the data are
  // still being written.
  for (const std::size_t size : {std::size_t{1} << 16, std::size_t{1} << 20}) {
    WithFileSizeLimit(4, [&] { EXPECT_FALSE(Write(target, std::string(size, 'x'), &error)); });
    EXPECT_NE(error.find("a.txt"), std::string::npos) << error;
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_EQ(ReadAll(target), "second, longer");
    EXPECT_TRUE(Leftovers({"a.txt"}).empty());
  }

  // Abandoning (or destroying) an open writer keeps the target as well.
  {
    SafeFileWriter writer;
    ASSERT_TRUE(writer.Open(target));
    std::fputs("never", writer.File());
  }
  EXPECT_EQ(ReadAll(target), "second, longer");
  EXPECT_TRUE(Leftovers({"a.txt"}).empty());
}

TEST_F(SafeFileTest, KeepsLinksAndPermissions) {
  const fs::path real = dir_ / "real.jpg";
  const fs::path link = dir_ / "link.jpg";
  WriteAll(real, "old");
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("real.jpg", link);
  std::string error;
  ASSERT_TRUE(Write(link, "new", &error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadAll(real), "new");
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // A dangling link names the file it would create.
  const fs::path dangling = dir_ / "dangling.jpg";
  fs::create_symlink("made.jpg", dangling);
  ASSERT_TRUE(Write(dangling, "made", &error)) << error;
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_EQ(ReadAll(dir_ / "made.jpg"), "made");

  // A new file gets 0666 less the umask.
  const mode_t saved = umask(027);
  ASSERT_TRUE(Write(dir_ / "fresh.jpg", "x", &error)) << error;
  umask(saved);
  EXPECT_EQ(fs::status(dir_ / "fresh.jpg").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SafeFileTest, RefusesWhatIsNotARegularFileWithoutOpeningIt) {
  const fs::path fifo = dir_ / "pipe.jpg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Opening a pipe for writing would block until a reader came; the check
  // answers at once. alarm() turns a regression into a failure, not a hang.
  alarm(10);
  std::string error;
  EXPECT_FALSE(Write(fifo, "x", &error));
  EXPECT_NE(error.find("named pipe"), std::string::npos) << error;
  EXPECT_NE(kelvo::io::CheckOutputTarget(fifo).find("named pipe"), std::string::npos);
  EXPECT_NE(kelvo::io::CheckInputFile(fifo).find("named pipe"), std::string::npos);
  BitmapData image(4, 4);
  image.FillBlack();
  EXPECT_THROW(image.SaveJpg(fifo.c_str()), IPException);
  EXPECT_THROW(image.LoadBmp(fifo.c_str()), IPException);
  alarm(0);

  EXPECT_NE(kelvo::io::CheckOutputTarget(dir_).find("a folder"), std::string::npos);
  EXPECT_NE(kelvo::io::CheckOutputTarget(dir_ / "no" / "x.jpg").find("does not exist"),
            std::string::npos);
  if (fs::exists("/dev/full")) {
    EXPECT_NE(kelvo::io::CheckOutputTarget("/dev/full").find("a device"), std::string::npos);
  }
  EXPECT_EQ(kelvo::io::CheckOutputTarget(dir_ / "new.jpg"), "");
  EXPECT_TRUE(Leftovers({"pipe.jpg"}).empty());
}

TEST_F(SafeFileTest, SameFileSeesThroughSpellings) {
  WriteAll(dir_ / "v.mp4", "video");
  fs::create_directory(dir_ / "sub");
  fs::create_symlink("v.mp4", dir_ / "alias.mp4");
  EXPECT_TRUE(kelvo::io::SameFile(dir_ / "v.mp4", dir_ / "sub" / ".." / "v.mp4"));
  EXPECT_TRUE(kelvo::io::SameFile(dir_ / "v.mp4", dir_ / "alias.mp4"));
  EXPECT_FALSE(kelvo::io::SameFile(dir_ / "v.mp4", dir_ / "other.mp4"));
}

TEST_F(SafeFileTest, FailedImageSavesKeepTheTarget) {
  BitmapData image(64, 64);
  image.FillWhite();
  const fs::path jpg = dir_ / "p.jpg";
  const fs::path bmp = dir_ / "p.bmp";
  image.SaveJpg(jpg.c_str());
  image.SaveBmp(bmp.c_str());
  const std::string jpgBefore = ReadAll(jpg);
  const std::string bmpBefore = ReadAll(bmp);

  BitmapData other(64, 64);
  other.FillBlack();
  WithFileSizeLimit(100, [&] {
    EXPECT_THROW(other.SaveJpg(jpg.c_str()), IPException);
    EXPECT_THROW(other.SaveBmp(bmp.c_str()), IPException);
    EXPECT_NE(kelvo::io::WriteJpegBgr(jpg, other.GetData(), 64, 64, 88).find("p.jpg"),
              std::string::npos);
  });
  EXPECT_EQ(ReadAll(jpg), jpgBefore);
  EXPECT_EQ(ReadAll(bmp), bmpBefore);

  // Read-only folder: nothing can be created, the old file stays.
  fs::permissions(dir_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  if (access(dir_.c_str(), W_OK) != 0) {  // root writes anywhere
    EXPECT_THROW(other.SaveJpg(jpg.c_str()), IPException);
    EXPECT_EQ(ReadAll(jpg), jpgBefore);
  }
  fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
  EXPECT_TRUE(Leftovers({"p.jpg", "p.bmp"}).empty());
}

}  // namespace
