#pragma once

// Helpers for comparing every compiled SIMD path of a primitive with its
// scalar reference.
//
// ForEachTarget(fn) runs fn(targetName) once per Highway target that is both
// compiled into the primitives and supported by this processor, with the
// primitives' dispatch switched to that target, and restores the process's
// own selection afterwards (with KELVO_NO_SIMD set that is the generic path
// only, which ippStaticInit made permanent).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <type_traits>
#include <vector>

#include "hwy/highway.h"
#include "hwy/targets.h"

namespace kelvo::testing {

template <class Fn>
void ForEachTarget(Fn&& fn) {
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
    SCOPED_TRACE(hwy::TargetName(target));
    fn(hwy::TargetName(target));
  }
  hwy::SetSupportedTargetsForTest(0);
  hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

// An image of T with `channels` interleaved channels, a row step wider than
// the row (by `padBytes`, kept a multiple of sizeof(T)), and a border of
// `border` pixels on every side, so a filter can read around its ROI.
// Everything outside what the caller writes keeps a sentinel value.
template <class T>
class TestImage {
 public:
  TestImage(int width, int height, int channels = 1, int border = 0, int padElems = 3)
      : width_(width), height_(height), channels_(channels), border_(border) {
    rowElems_ = (width + 2 * border) * channels + padElems;
    data_.assign(static_cast<size_t>(rowElems_) * (height + 2 * border), Sentinel());
  }

  static T Sentinel() {
    if constexpr (std::is_floating_point_v<T>) return static_cast<T>(-12345.5);
    return static_cast<T>(0x5A);
  }

  // Pointer to pixel (0, 0) of the interior.
  T* Roi() { return data_.data() + static_cast<size_t>(border_) * rowElems_ + border_ * channels_; }
  const T* Roi() const {
    return data_.data() + static_cast<size_t>(border_) * rowElems_ + border_ * channels_;
  }
  int Step() const { return rowElems_ * static_cast<int>(sizeof(T)); }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Channels() const { return channels_; }

  // Sample (x, y, c) relative to the interior; x, y may reach into the border.
  T& At(int x, int y, int c = 0) {
    return Roi()[static_cast<ptrdiff_t>(y) * rowElems_ + x * channels_ + c];
  }
  T At(int x, int y, int c = 0) const {
    return Roi()[static_cast<ptrdiff_t>(y) * rowElems_ + x * channels_ + c];
  }

  // Fills interior and border (not the step padding) with values in [lo, hi].
  void FillRandom(std::mt19937& rng, double lo, double hi) {
    for (int y = -border_; y < height_ + border_; ++y) {
      for (int x = -border_; x < width_ + border_; ++x) {
        for (int c = 0; c < channels_; ++c) {
          if constexpr (std::is_floating_point_v<T>) {
            At(x, y, c) = static_cast<T>(std::uniform_real_distribution<double>(lo, hi)(rng));
          } else {
            At(x, y, c) = static_cast<T>(std::uniform_int_distribution<int>(
                static_cast<int>(lo), static_cast<int>(hi))(rng));
          }
        }
      }
    }
  }

  const std::vector<T>& Raw() const { return data_; }

 private:
  int width_, height_, channels_, border_, rowElems_;
  std::vector<T> data_;
};

// Awkward sizes for target comparisons: widths 1..70 with a few heights.
inline std::vector<std::pair<int, int>> AwkwardSizes() {
  std::vector<std::pair<int, int>> sizes;
  for (int w = 1; w <= 70; ++w) sizes.emplace_back(w, 1 + (w * 7) % 9);
  for (int h = 1; h <= 9; ++h) sizes.emplace_back(17 + h, h);
  return sizes;
}

template <class T>
bool SameBytes(const TestImage<T>& a, const TestImage<T>& b) {
  return a.Raw().size() == b.Raw().size() &&
         std::memcmp(a.Raw().data(), b.Raw().data(), a.Raw().size() * sizeof(T)) == 0;
}

}  // namespace kelvo::testing
