#include "imaging/analysis/reference/RegionsReference.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>

#include "imaging/analysis/detail/RegionSort.h"
#include "imaging/primitives/ImageView.h"

namespace KelvoLibImageProcessing::reference {
namespace {

constexpr int kMaxLabels = Regions::kMaxLabels;
constexpr int kOverflowLabel = kMaxLabels - 1;

void Extend(RegionRecord& r, int x, int y) {
  r.minX = std::min(r.minX, x);
  r.maxX = std::max(r.maxX, x);
  r.minY = std::min(r.minY, y);
  r.maxY = std::max(r.maxY, y);
  r.pixelCount += 1;
}

// Provisional labels; a merge points every member of the higher class at
// the root of the label with the lower number.
class Labels {
 public:
  std::vector<RegionRecord> records;
  // Members of each class, as a chain from the root.
  std::vector<int> next, last;

  int New(int x, int y, int32_t value, int32_t neighbour) {
    if (static_cast<int>(records.size()) >= kMaxLabels) {
      Extend(records[kOverflowLabel], x, y);
      return kOverflowLabel;
    }
    const int label = static_cast<int>(records.size());
    records.push_back({x, y, x, y, 1, value, neighbour, label});
    next.push_back(-1);
    last.push_back(label);
    return label;
  }

  int Merge(int a, int b) {
    if (a == b) return a;
    if (a == kOverflowLabel) return b;
    if (b == kOverflowLabel) return a;
    const int r1 = records[std::min(a, b)].rootLabel;
    const int r2 = records[std::max(a, b)].rootLabel;
    if (r1 == r2) return r1;
    for (int m = r2; m != -1; m = next[m]) records[m].rootLabel = r1;
    next[last[r1]] = r2;
    last[r1] = last[r2];
    return r1;
  }
};

template <class T>
T Read(const uint8_t* row, int x) {
  T v;
  std::memcpy(&v, row + static_cast<std::size_t>(x) * sizeof(T), sizeof(T));
  return v;
}

template <class T>
RegionsReferenceResult Label(int width, int height, const T* values, int stride, int minSize,
                             bool maskCompare) {
  const auto together = [maskCompare](T a, T b) {
    return maskCompare ? ((a == 0) == (b == 0)) : (a == b);
  };
  const uint8_t* base = reinterpret_cast<const uint8_t*>(values);
  const std::size_t w = static_cast<std::size_t>(width);
  std::vector<int32_t> map(w * static_cast<std::size_t>(height), -1);
  Labels labels;

  for (int y = 0; y < height; ++y) {
    const uint8_t* row = RowAt(base, stride, y);
    int leftLabel = -1;
    for (int x = 0; x < width; ++x) {
      const T v = Read<T>(row, x);
      const bool withLeft = x > 0 && together(v, Read<T>(row, x - 1));
      const bool withUp = y > 0 && together(v, Read<T>(row - stride, x));
      const int up = y > 0 ? map[(y - 1) * w + x] : -1;
      int label;
      if (withLeft && withUp) {
        label = labels.Merge(leftLabel, up);
        Extend(labels.records[label], x, y);
      } else if (withLeft) {
        label = leftLabel;
        Extend(labels.records[label], x, y);
      } else if (withUp) {
        label = up;
        Extend(labels.records[label], x, y);
      } else {
        label = labels.New(x, y, static_cast<int32_t>(v), x > 0 ? leftLabel : up);
      }
      map[y * w + x] = label;
      leftLabel = label;
    }
  }

  // Fold merged labels into their roots, in label order.
  std::vector<RegionRecord>& records = labels.records;
  const int labelCount = static_cast<int>(records.size());
  for (int i = 0; i < labelCount; ++i) {
    const int r = records[i].rootLabel;
    if (r == i) continue;
    RegionRecord& root = records[r];
    root.minX = std::min(root.minX, records[i].minX);
    root.minY = std::min(root.minY, records[i].minY);
    root.maxX = std::max(root.maxX, records[i].maxX);
    root.maxY = std::max(root.maxY, records[i].maxY);
    root.pixelCount += records[i].pixelCount;
    root.neighbourLabel = records[i].neighbourLabel;
    records[i] = {INT32_MAX, INT32_MAX, -1, -1, 0, -1, -1, records[i].rootLabel};
  }

  std::vector<int32_t> keys, order;
  for (int i = 0; i < labelCount; ++i) {
    if (records[i].pixelCount >= minSize) {
      keys.push_back(records[i].pixelCount);
      order.push_back(i);
    }
  }
  const int kept = static_cast<int>(keys.size());
  detail::RegionSort(keys.data(), order.data(), kept);
  std::vector<int32_t> finalIndex(static_cast<std::size_t>(labelCount), -1);
  for (int j = 0; j < kept; ++j) finalIndex[order[j]] = j;

  RegionsReferenceResult result;
  const int speckSize = minSize / 100;
  for (int i = 0; i < labelCount; ++i) {
    const int j = finalIndex[records[i].rootLabel];
    if (j >= 0) {
      records[i].rootLabel = j;
    } else if (records[i].pixelCount < speckSize) {
      records[i].rootLabel = -2;
      ++result.specks;
    } else {
      records[i].rootLabel = -1;
      ++result.discarded;
    }
  }
  for (int j = 0; j < kept; ++j) result.regions.push_back(records[order[j]]);

  for (std::size_t i = 0; i < map.size(); ++i) map[i] = records[map[i]].rootLabel;
  if (result.specks > 0) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        int32_t& m = map[y * w + x];
        if (m != -2) continue;
        if (x > 0 && map[y * w + x - 1] >= 0) {
          m = map[y * w + x - 1];
        } else if (y > 0 && map[(y - 1) * w + x] >= 0) {
          m = map[(y - 1) * w + x];
        }
      }
    }
  }
  result.labelMap = std::move(map);
  return result;
}

}  // namespace

RegionsReferenceResult LabelRegionsReference(int width, int height, const uint8_t* values,
                                             int stride, int minSize, bool maskCompare) {
  return Label(width, height, values, stride, minSize, maskCompare);
}

RegionsReferenceResult LabelRegionsReference(int width, int height, const int32_t* values,
                                             int stride, int minSize, bool maskCompare) {
  return Label(width, height, values, stride, minSize, maskCompare);
}

}  // namespace KelvoLibImageProcessing::reference
