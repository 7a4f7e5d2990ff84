#pragma once

// The fixture of kelvo-enhance's tests: a folder of its own per test (CTest
// runs them side by side), generated stills, and the tool run as a child
// process the way a user runs it.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "tests/tools/ToolProcess.h"

namespace KelvoLibImageProcessing {

using kelvo::test::ReadWholeFile;
using kelvo::test::RunToolProcess;
using kelvo::test::ToolResult;
using kelvo::test::ToolRun;

// Each test works in a folder of its own: CTest runs them side by side.
class KelvoEnhanceTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "kelvo-enhance-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Stderr is appended to the output after a marker line, so one string
  // shows everything the tool said.
  ToolResult Run(const std::vector<std::string>& args, ToolRun::Stdout out = ToolRun::Stdout::kCapture,
                 long long fileSizeLimit = -1) const {
    ToolRun run;
    run.args = args;
    run.cwd = dir_;
    run.stdoutMode = out;
    run.fileSizeLimit = fileSizeLimit;
    ToolResult r = RunToolProcess(KELVO_ENHANCE_PATH, run);
    r.out += "\n--stderr--\n" + r.err;
    return r;
  }

  // A noisy gradient, different along each axis, so a turned or mirrored
  // picture is a different picture.
  static BitmapData Still(int w, int h) {
    BitmapData image(w, h);
    std::mt19937 rng(11);
    for (int y = 0; y < h; ++y) {
      uint8_t* row = image.GetData() + y * image.GetStride();
      for (int x = 0; x < 3 * w; ++x) row[x] = static_cast<uint8_t>(60 + (x * 7 + y * 3) % 90 + rng() % 20);
    }
    return image;
  }

  std::string WriteStill(const std::string& name, int w, int h) const {
    const BitmapData image = Still(w, h);
    const std::string path = Path(name);
    image.Save(path.c_str(), name.ends_with(".bmp") ? kFileBmp : kFileJpg);
    return path;
  }

  std::vector<std::string> Files(const std::string& sub = "") const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& e : std::filesystem::directory_iterator(sub.empty() ? dir_ : Path(sub), ignored))
      names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};


}  // namespace KelvoLibImageProcessing
