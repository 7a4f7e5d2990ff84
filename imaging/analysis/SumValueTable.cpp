#include "imaging/analysis/SumValueTable.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "imaging/analysis/detail/OwnedArray.h"
#include "imaging/core/IPException.h"
#include "imaging/primitives/ImageView.h"

namespace KelvoLibImageProcessing {

namespace {

constexpr const char* kWhereInit = "SumValueTable::Initialize";
constexpr const char* kWhereAlpha = "SumValueTable::InitializeAlpha";

// Rows are addressed in bytes, so a 16-bit or float row need not be aligned
// to its sample size; memcpy reads it without assuming so.
template <class T>
inline T Sample(const uint8_t* row, int x) noexcept {
  T v;
  std::memcpy(&v, row + static_cast<std::size_t>(x) * sizeof(T), sizeof(T));
  return v;
}

}  // namespace

SumValueTable::SumValueTable(const uint8_t* values, int width, int height, int stride) {
  Initialize(values, width, height, stride);
}
SumValueTable::SumValueTable(const uint8_t* values, int width, int height, int stride, int x0,
                             int y0, int x1, int y1) {
  Initialize(values, width, height, stride, x0, y0, x1, y1);
}
SumValueTable::SumValueTable(const uint16_t* values, int width, int height, int stride) {
  Initialize(values, width, height, stride);
}
SumValueTable::SumValueTable(const uint16_t* values, int width, int height, int stride, int x0,
                             int y0, int x1, int y1) {
  Initialize(values, width, height, stride, x0, y0, x1, y1);
}
SumValueTable::SumValueTable(const float* values, int width, int height, int stride) {
  Initialize(values, width, height, stride);
}
SumValueTable::SumValueTable(const float* values, int width, int height, int stride, int x0, int y0,
                             int x1, int y1) {
  Initialize(values, width, height, stride, x0, y0, x1, y1);
}
SumValueTable::SumValueTable(const uint8_t* values, int width, int height, int stride,
                             const uint8_t* labels, int labelStride, uint8_t labelValue) {
  InitializeAlpha(values, width, height, stride, labels, labelStride, labelValue);
}
SumValueTable::SumValueTable(const uint16_t* values, int width, int height, int stride,
                             const uint8_t* labels, int labelStride, uint8_t labelValue) {
  InitializeAlpha(values, width, height, stride, labels, labelStride, labelValue);
}

void SumValueTable::Initialize(const uint8_t* values, int width, int height, int stride) {
  Build(values, width, height, stride, 0, 0, width - 1, height - 1);
}
void SumValueTable::Initialize(const uint8_t* values, int width, int height, int stride, int x0,
                               int y0, int x1, int y1) {
  Build(values, width, height, stride, x0, y0, x1, y1);
}
void SumValueTable::Initialize(const uint16_t* values, int width, int height, int stride) {
  Build(values, width, height, stride, 0, 0, width - 1, height - 1);
}
void SumValueTable::Initialize(const uint16_t* values, int width, int height, int stride, int x0,
                               int y0, int x1, int y1) {
  Build(values, width, height, stride, x0, y0, x1, y1);
}
void SumValueTable::Initialize(const float* values, int width, int height, int stride) {
  Build(values, width, height, stride, 0, 0, width - 1, height - 1);
}
void SumValueTable::Initialize(const float* values, int width, int height, int stride, int x0,
                               int y0, int x1, int y1) {
  Build(values, width, height, stride, x0, y0, x1, y1);
}
void SumValueTable::InitializeAlpha(const uint8_t* values, int width, int height, int stride,
                                    const uint8_t* labels, int labelStride, uint8_t labelValue) {
  BuildAlpha(values, width, height, stride, labels, labelStride, labelValue);
}
void SumValueTable::InitializeAlpha(const uint16_t* values, int width, int height, int stride,
                                    const uint8_t* labels, int labelStride, uint8_t labelValue) {
  BuildAlpha(values, width, height, stride, labels, labelStride, labelValue);
}

template <class T>
void SumValueTable::Build(const T* values, int width, int height, int stride, int x0, int y0,
                          int x1, int y1) {
  Release();
  if (values == nullptr) throw IPException(ErrorCode::kNullData, kWhereInit);
  if (static_cast<long long>(stride) <
      static_cast<long long>(width) * static_cast<long long>(sizeof(T))) {
    throw IPException(ErrorCode::kInvalidStride, kWhereInit);
  }
  if (width < 1 || height < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhereInit);
  if (x0 < 0 || x1 >= width || x0 > x1 || y0 < 0 || y1 >= height || y0 > y1) {
    throw IPException(ErrorCode::kInvalidRegion, kWhereInit);
  }

  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  auto table = detail::AllocateZeroed<double>(w * h);
  if (!table) throw IPException(ErrorCode::kAllocationFailed, kWhereInit);

  const uint8_t* base = reinterpret_cast<const uint8_t*>(values);
  double* t = table.get();
  for (int y = y0; y <= y1; ++y) {
    const uint8_t* src = RowAt(base, stride, y);
    double* row = t + static_cast<std::size_t>(y) * w;
    double run = 0.0;
    if (y == y0) {
      for (int x = x0; x <= x1; ++x) {
        run += static_cast<double>(Sample<T>(src, x));
        row[x] = run;
      }
    } else {
      const double* above = row - w;
      for (int x = x0; x <= x1; ++x) {
        run += static_cast<double>(Sample<T>(src, x));
        row[x] = above[x] + run;
      }
    }
  }

  width_ = width;
  height_ = height;
  hasAlpha_ = false;
  x0_ = x0;
  y0_ = y0;
  x1_ = x1;
  y1_ = y1;
  values_ = std::move(table);
}

template <class T>
void SumValueTable::BuildAlpha(const T* values, int width, int height, int stride,
                               const uint8_t* labels, int labelStride, uint8_t labelValue) {
  Release();
  if (values == nullptr || labels == nullptr) throw IPException(ErrorCode::kNullData, kWhereAlpha);
  if (static_cast<long long>(stride) <
          static_cast<long long>(width) * static_cast<long long>(sizeof(T)) ||
      labelStride < width) {
    throw IPException(ErrorCode::kInvalidStride, kWhereAlpha);
  }
  if (width < 1 || height < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhereAlpha);

  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  auto table = detail::AllocateArray<double>(w * h);
  if (!table) throw IPException(ErrorCode::kAllocationFailed, kWhereAlpha);
  auto alpha = detail::AllocateArray<uint32_t>(w * h);
  if (!alpha) throw IPException(ErrorCode::kAllocationFailed, kWhereAlpha);

  const uint8_t* base = reinterpret_cast<const uint8_t*>(values);
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = RowAt(base, stride, y);
    const uint8_t* lab = RowAt(labels, labelStride, y);
    double* row = table.get() + static_cast<std::size_t>(y) * w;
    uint32_t* arow = alpha.get() + static_cast<std::size_t>(y) * w;
    // The running row sum is a 32-bit integer; it is accumulated unsigned
    // (wrapping is defined) and read back as the signed value it stands for.
    uint32_t run = 0;
    uint32_t count = 0;
    for (int x = 0; x < width; ++x) {
      if (lab[x] == labelValue) {
        run += static_cast<uint32_t>(Sample<T>(src, x));
        count += 1;
      }
      const double stored = static_cast<double>(static_cast<int32_t>(run));
      if (y == 0) {
        row[x] = stored;
        arow[x] = count;
      } else {
        row[x] = row[static_cast<std::ptrdiff_t>(x) - static_cast<std::ptrdiff_t>(w)] + stored;
        arow[x] = arow[static_cast<std::ptrdiff_t>(x) - static_cast<std::ptrdiff_t>(w)] + count;
      }
    }
  }

  width_ = width;
  height_ = height;
  hasAlpha_ = true;
  x0_ = 0;
  y0_ = 0;
  x1_ = width - 1;
  y1_ = height - 1;
  values_ = std::move(table);
  alpha_ = std::move(alpha);
}

bool SumValueTable::InsideRegion(int x0, int y0, int x1, int y1) const noexcept {
  return x0 >= x0_ && x1 <= x1_ && x0 <= x1 && y0 >= y0_ && y1 <= y1_ && y0 <= y1;
}

double SumValueTable::ROIValue(int x0, int y0, int x1, int y1) const {
  if (!InsideRegion(x0, y0, x1, y1))
    throw IPException(ErrorCode::kOutsideRegion, "SumValueTable::ROIValue");
  const std::size_t w = static_cast<std::size_t>(width_);
  const double* t = values_.get();
  const std::size_t r1 = static_cast<std::size_t>(y1) * w;
  const double a = t[r1 + static_cast<std::size_t>(x1)];
  const double b = x0 > 0 ? t[r1 + static_cast<std::size_t>(x0 - 1)] : 0.0;
  double c = 0.0;
  double d = 0.0;
  if (y0 > 0) {
    const std::size_t r0 = static_cast<std::size_t>(y0 - 1) * w;
    c = t[r0 + static_cast<std::size_t>(x1)];
    if (x0 > 0) d = t[r0 + static_cast<std::size_t>(x0 - 1)];
  }
  return a - b - c + d;
}

uint32_t SumValueTable::ROIAlpha(int x0, int y0, int x1, int y1) const {
  if (!InsideRegion(x0, y0, x1, y1))
    throw IPException(ErrorCode::kOutsideRegion, "SumValueTable::ROIAlpha");
  if (!hasAlpha_) {
    return static_cast<uint32_t>(x1 - x0 + 1) * static_cast<uint32_t>(y1 - y0 + 1);
  }
  const std::size_t w = static_cast<std::size_t>(width_);
  const uint32_t* t = alpha_.get();
  const std::size_t r1 = static_cast<std::size_t>(y1) * w;
  uint32_t result = t[r1 + static_cast<std::size_t>(x1)];
  if (x0 > 0) result -= t[r1 + static_cast<std::size_t>(x0 - 1)];
  if (y0 > 0) {
    const std::size_t r0 = static_cast<std::size_t>(y0 - 1) * w;
    result -= t[r0 + static_cast<std::size_t>(x1)];
    if (x0 > 0) result += t[r0 + static_cast<std::size_t>(x0 - 1)];
  }
  return result;
}

double SumValueTable::ROIMean(int x0, int y0, int x1, int y1) const {
  const double sum = ROIValue(x0, y0, x1, y1);
  const uint32_t count = ROIAlpha(x0, y0, x1, y1);
  if (count < 1) return 0.0;
  return sum / static_cast<double>(count);
}

void SumValueTable::Release() noexcept {
  values_.reset();
  alpha_.reset();
  width_ = 0;
  height_ = 0;
  hasAlpha_ = false;
  x0_ = 0;
  y0_ = 0;
  x1_ = -1;
  y1_ = -1;
}

}  // namespace KelvoLibImageProcessing
