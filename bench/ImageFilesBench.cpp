// BMP and JPEG save and load of a 1920x1080 picture, through the page cache
// of the temporary directory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "imaging/core/BitmapData.h"

namespace {

using KelvoLibImageProcessing::BitmapData;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Smooth gradients with a little deterministic texture, so the JPEG coder
// sees something like a photograph rather than flat colour or pure noise.
void FillPicture(BitmapData& image) {
  uint32_t state = 12345;
  for (int y = 0; y < image.GetHeight(); ++y) {
    uint8_t* row = image.GetData() + static_cast<std::size_t>(y) * image.GetStride();
    for (int x = 0; x < image.GetWidth(); ++x) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>(state >> 29);  // 0..7
      row[3 * x + 0] = static_cast<uint8_t>((x * 255 / kWidth + noise) & 0xFF);
      row[3 * x + 1] = static_cast<uint8_t>((y * 255 / kHeight + noise) & 0xFF);
      row[3 * x + 2] = static_cast<uint8_t>(((x + y) / 12 + noise) & 0xFF);
    }
  }
}

std::string BenchFile(const char* name) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("kelvo-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

void RemoveBenchFile(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  std::filesystem::remove(std::filesystem::path(path).parent_path(), ignored);
}

void BM_SaveBmp(benchmark::State& state) {
  BitmapData image(kWidth, kHeight);
  FillPicture(image);
  const std::string path = BenchFile("save.bmp");
  for (auto _ : state) image.SaveBmp(path.c_str());
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 3);
  RemoveBenchFile(path);
}
BENCHMARK(BM_SaveBmp)->Name("BM_SaveBmp/1920x1080")->Unit(benchmark::kMillisecond);

void BM_LoadBmp(benchmark::State& state) {
  BitmapData image(kWidth, kHeight);
  FillPicture(image);
  const std::string path = BenchFile("load.bmp");
  image.SaveBmp(path.c_str());
  BitmapData loaded;
  for (auto _ : state) {
    loaded.LoadBmp(path.c_str());
    benchmark::DoNotOptimize(loaded.GetData());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 3);
  RemoveBenchFile(path);
}
BENCHMARK(BM_LoadBmp)->Name("BM_LoadBmp/1920x1080")->Unit(benchmark::kMillisecond);

void BM_SaveJpg(benchmark::State& state) {
  BitmapData image(kWidth, kHeight);
  FillPicture(image);
  const std::string path = BenchFile("save.jpg");
  for (auto _ : state) image.SaveJpg(path.c_str());
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 3);
  RemoveBenchFile(path);
}
BENCHMARK(BM_SaveJpg)->Name("BM_SaveJpg/1920x1080")->Unit(benchmark::kMillisecond);

// A padded stride sends the rows through a packed copy first.
void BM_SaveJpgPadded(benchmark::State& state) {
  BitmapData image(kWidth, kHeight, KelvoLibImageProcessing::kFormatBGR8, nullptr, kWidth * 3 + 64);
  FillPicture(image);
  const std::string path = BenchFile("padded.jpg");
  for (auto _ : state) image.SaveJpg(path.c_str());
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 3);
  RemoveBenchFile(path);
}
BENCHMARK(BM_SaveJpgPadded)->Name("BM_SaveJpgPadded/1920x1080")->Unit(benchmark::kMillisecond);

void BM_LoadJpg(benchmark::State& state) {
  BitmapData image(kWidth, kHeight);
  FillPicture(image);
  const std::string path = BenchFile("load.jpg");
  image.SaveJpg(path.c_str());
  BitmapData loaded;
  for (auto _ : state) {
    loaded.LoadJpg(path.c_str());
    benchmark::DoNotOptimize(loaded.GetData());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 3);
  RemoveBenchFile(path);
}
BENCHMARK(BM_LoadJpg)->Name("BM_LoadJpg/1920x1080")->Unit(benchmark::kMillisecond);

}  // namespace
