#include "imaging/denoise/OpExtendBorder.h"

#include <cstddef>
#include <cstring>

#include "imaging/core/IPException.h"
#include "imaging/primitives/ImageView.h"

namespace KelvoLibImageProcessing {
namespace {

constexpr const char* kWhere = "OpExtendBorder::Execute";

// The image index that padding position i (outside 0 .. size - 1) copies.
int SourceIndex(int i, int size, int method) {
  switch (method) {
    case OpExtendBorder::PaddingPeriodic: {
      const int r = i % size;
      return (r < 0) ? r + size : r;
    }
    case OpExtendBorder::PaddingMirror: {
      if (size == 1) return 0;
      const int period = 2 * (size - 1);
      int r = i % period;
      if (r < 0) r += period;
      return (r < size) ? r : period - r;
    }
    default:  // PaddingReplicate
      return (i < 0) ? 0 : size - 1;
  }
}

// Whether every padding position of the method maps to an image position by
// a single reflection or shift (the usual case); wider padding goes through
// SourceIndex.
bool WithinOnePeriod(int pad, int size, int method) {
  switch (method) {
    case OpExtendBorder::PaddingPeriodic:
      return pad <= size;
    case OpExtendBorder::PaddingMirror:
      return pad <= size - 1;
    default:
      return true;
  }
}

template <class T>
void PadColumns(int channels, int width, int height, T* data, ptrdiff_t stride, int padX,
                int method) {
  const size_t pixelBytes = sizeof(T) * static_cast<size_t>(channels);
  const bool direct = channels == 1 && WithinOnePeriod(padX, width, method);
  for (int y = 0; y < height; ++y) {
    T* row = RowAt(data, stride, y);
    if (method == OpExtendBorder::PaddingZero) {
      std::memset(row - static_cast<ptrdiff_t>(padX) * channels, 0, pixelBytes * padX);
      std::memset(row + static_cast<ptrdiff_t>(width) * channels, 0, pixelBytes * padX);
      continue;
    }
    if (direct) {
      // One sample per pixel, no wrap-around: plain loops the compiler can
      // unroll (the result is the same as through SourceIndex).
      T* right = row + (width - 1);
      switch (method) {
        case OpExtendBorder::PaddingPeriodic:
          for (int k = 1; k <= padX; ++k) row[-k] = row[width - k];
          for (int k = 1; k <= padX; ++k) right[k] = row[k - 1];
          break;
        case OpExtendBorder::PaddingMirror:
          for (int k = 1; k <= padX; ++k) row[-k] = row[k];
          for (int k = 1; k <= padX; ++k) right[k] = right[-k];
          break;
        default: {
          const T first = row[0], last = *right;
          for (int k = 1; k <= padX; ++k) row[-k] = first;
          for (int k = 1; k <= padX; ++k) right[k] = last;
          break;
        }
      }
      continue;
    }
    for (int k = 1; k <= padX; ++k) {
      const int left = SourceIndex(-k, width, method);
      const int right = SourceIndex(width - 1 + k, width, method);
      std::memcpy(row - static_cast<ptrdiff_t>(k) * channels,
                  row + static_cast<ptrdiff_t>(left) * channels, pixelBytes);
      std::memcpy(row + static_cast<ptrdiff_t>(width - 1 + k) * channels,
                  row + static_cast<ptrdiff_t>(right) * channels, pixelBytes);
    }
  }
}

template <class T>
void PadRows(int channels, int height, T* data, ptrdiff_t stride, int padX, int padY, int method) {
  // Whole rows of one row step, starting at column -padX.
  char* first = reinterpret_cast<char*>(data - static_cast<ptrdiff_t>(padX) * channels);
  const auto rowAt = [&](int y) { return RowAt(first, stride, y); };
  const size_t bytes = static_cast<size_t>(stride);
  for (int k = 1; k <= padY; ++k) {
    if (method == OpExtendBorder::PaddingZero) {
      std::memset(rowAt(-k), 0, bytes);
      std::memset(rowAt(height - 1 + k), 0, bytes);
    } else {
      std::memcpy(rowAt(-k), rowAt(SourceIndex(-k, height, method)), bytes);
      std::memcpy(rowAt(height - 1 + k), rowAt(SourceIndex(height - 1 + k, height, method)), bytes);
    }
  }
}

template <class T>
void Extend(int channels, int width, int height, T* data, int stride, int padX, int padY,
            int method) {
  if (width < 1 || height < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhere);
  if (data == nullptr) throw IPException(ErrorCode::kNullData, kWhere);
  if (static_cast<long long>(stride) <
      static_cast<long long>(width) * static_cast<long long>(sizeof(T))) {
    throw IPException(ErrorCode::kInvalidStride, kWhere);
  }
  if (channels < 1)
    throw IPException(ErrorCode::kInvalidInput, "OpExtendBorder::Execute(channels)");
  if (padX < 0 || padY < 0)
    throw IPException(ErrorCode::kInvalidInput, "OpExtendBorder::Execute(padding amount)");
  if (method < OpExtendBorder::PaddingZero || method > OpExtendBorder::PaddingReplicate) {
    throw IPException(ErrorCode::kInvalidInput, "OpExtendBorder::Execute(padding method)");
  }
  if (padX > 0) PadColumns(channels, width, height, data, stride, padX, method);
  if (padY > 0) PadRows(channels, height, data, stride, padX, padY, method);
}

}  // namespace

int OpExtendBorder::SourcePosition(int i, int size, int method) noexcept {
  if (i >= 0 && i < size) return i;
  return method == PaddingZero ? -1 : SourceIndex(i, size, method);
}

void OpExtendBorder::Execute(int channels, int width, int height, uint8_t* data, int stride,
                             int padX, int padY, int method) {
  Extend(channels, width, height, data, stride, padX, padY, method);
}

void OpExtendBorder::Execute(int channels, int width, int height, uint16_t* data, int stride,
                             int padX, int padY, int method) {
  Extend(channels, width, height, data, stride, padX, padY, method);
}

void OpExtendBorder::Execute(int channels, int width, int height, float* data, int stride, int padX,
                             int padY, int method) {
  Extend(channels, width, height, data, stride, padX, padY, method);
}

}  // namespace KelvoLibImageProcessing
