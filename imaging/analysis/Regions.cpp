#include "imaging/analysis/Regions.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "imaging/analysis/detail/OwnedArray.h"
#include "imaging/analysis/detail/RegionSort.h"
#include "imaging/analysis/detail/RunEnd.h"
#include "imaging/core/IPException.h"
#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/ParallelRows.h"
#include "imaging/primitives/Threads.h"

namespace KelvoLibImageProcessing {

namespace {

constexpr int kOverflowLabel = Regions::kMaxLabels - 1;

void MakeEmpty(RegionRecord& r) noexcept {
  r.minX = INT32_MAX;
  r.minY = INT32_MAX;
  r.maxX = -1;
  r.maxY = -1;
  r.pixelCount = 0;
  r.value = -1;
  r.neighbourLabel = -1;
}

template <class T>
inline T ReadValue(const uint8_t* row, int x) noexcept {
  T v;
  std::memcpy(&v, row + static_cast<std::size_t>(x) * sizeof(T), sizeof(T));
  return v;
}

// While labelling, a run carries its provisional label.
using Segment = RegionRun;

// The end of the run of pixels that belong together with their left
// neighbour, scanning from x (>= 1): the first column that does not, or
// width. Byte masks, the common case, go through the vector finder.
template <class T>
int RunEnd(const uint8_t* row, int x, int width, bool maskCompare) noexcept {
  if constexpr (sizeof(T) == 1) {
    return detail::RunEndBytes(row, x, width, maskCompare);
  } else {
    for (; x < width; ++x) {
      const T a = ReadValue<T>(row, x), b = ReadValue<T>(row, x - 1);
      if (maskCompare ? ((a == 0) != (b == 0)) : (a != b)) return x;
    }
    return width;
  }
}

// One run of pixels that belong together with their left neighbours: its
// end (one past its last column) and its pixels' value.
struct RowRun {
  int32_t end;
  int32_t value;
};

// The runs of every row (RunEnd from each run's start to the row's end),
// found in bands of rows on the library's threads: where a run ends depends
// on its row alone. The labelling, which must go in row order, then walks
// these short lists and never reads the image, whose rows have long left
// the cache by then.
class RowRunEnds {
 public:
  template <class T>
  void Find(const uint8_t* base, int stride, int width, int height, bool maskCompare) {
    constexpr const char* kWhere = "Regions::Initialize";
    chunkRows_ = kelvo::BandRows(width);
    const int chunks = (height + chunkRows_ - 1) / chunkRows_;
    try {
      chunks_.resize(static_cast<std::size_t>(chunks));
    } catch (const std::bad_alloc&) {
      throw IPException(ErrorCode::kAllocationFailed, kWhere);
    }
    first_ = detail::AllocateArray<int32_t>(static_cast<std::size_t>(height));
    count_ = detail::AllocateArray<int32_t>(static_cast<std::size_t>(height));
    if (!first_ || !count_) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    kelvo::ParallelRows(chunks, 1, [&](int begin, int end) {
      std::vector<int32_t> rowEnds;
      try {
        if constexpr (sizeof(T) == 1) rowEnds.resize(static_cast<std::size_t>(width));
      } catch (const std::bad_alloc&) {
        throw IPException(ErrorCode::kAllocationFailed, kWhere);
      }
      for (int c = begin; c < end; ++c) {
        std::vector<RowRun>& ends = chunks_[static_cast<std::size_t>(c)];
        const int top = c * chunkRows_;
        const int bottom = std::min(height, top + chunkRows_);
        try {
          for (int y = top; y < bottom; ++y) {
            first_[y] = static_cast<int32_t>(ends.size());
            const uint8_t* row = RowAt(base, stride, y);
            if constexpr (sizeof(T) == 1) {
              const int count = detail::RowRunEndsBytes(row, width, maskCompare, rowEnds.data());
              for (int k = 0, x = 0; k < count; x = rowEnds[static_cast<std::size_t>(k++)]) {
                ends.push_back({rowEnds[static_cast<std::size_t>(k)], row[x]});
              }
            } else {
              for (int x = 0; x < width;) {
                const auto value = static_cast<int32_t>(ReadValue<T>(row, x));
                x = RunEnd<T>(row, x + 1, width, maskCompare);
                ends.push_back({x, value});
              }
            }
            count_[y] = static_cast<int32_t>(ends.size()) - first_[y];
          }
        } catch (const std::bad_alloc&) {
          throw IPException(ErrorCode::kAllocationFailed, kWhere);
        }
      }
    });
  }

  // Row y's runs, left to right; the last ends at the row's width.
  const RowRun* Row(int y, int& count) const noexcept {
    count = count_[y];
    return chunks_[static_cast<std::size_t>(y / chunkRows_)].data() + first_[y];
  }

 private:
  int chunkRows_ = 1;
  std::vector<std::vector<RowRun>> chunks_;
  kelvo::memory::BlockArray<int32_t> first_;  // per row: its first end in its chunk
  kelvo::memory::BlockArray<int32_t> count_;  // per row: how many runs
};

// The provisional labels of one Initialize: the working records and the
// equivalence classes. A merge makes the root of the lower-numbered label's
// class the root of both; the classes themselves are kept as a union-find
// forest (union by size, path halving), each tree carrying its class's root
// label, so a merge costs next to nothing however large the classes are.
// FinishRoots writes every label's root into its record.
//
// The records and the forest share one block that grows as labels are
// made: a skin mask needs a few thousand labels, and fixed tables for all
// kMaxLabels would map four blocks and touch a fresh page in each.
class Labeller {
 public:
  bool Allocate() noexcept { return Grow(kFirstCapacity); }

  RegionRecord* Records() noexcept { return records_; }
  int Count() const noexcept { return count_; }

  int New(int32_t value, int32_t neighbour) {
    if (count_ >= Regions::kMaxLabels) {
      // Out of labels: every further region collects in the last one.
      return kOverflowLabel;
    }
    if (count_ == capacity_ && !Grow(std::min(4 * capacity_, Regions::kMaxLabels))) {
      throw IPException(ErrorCode::kAllocationFailed, "Regions::Initialize");
    }
    const int label = count_++;
    // The box and the count come from the segments once the rows are done.
    RegionRecord& r = records_[label];
    r.minX = INT32_MAX;
    r.maxX = -1;
    r.minY = INT32_MAX;
    r.maxY = -1;
    r.pixelCount = 0;
    r.value = value;
    r.neighbourLabel = neighbour;
    r.rootLabel = label;
    links_[label] = {label, 1, label};
    return label;
  }

  int Merge(int a, int b) noexcept {
    if (a == b) return a;
    // The overflow label never merges.
    if (a == kOverflowLabel) return b;
    if (b == kOverflowLabel) return a;
    const int t1 = Find(std::min(a, b));
    const int t2 = Find(std::max(a, b));
    const int r1 = links_[t1].root;
    if (t1 == t2) return r1;
    const bool firstLarger = links_[t1].size >= links_[t2].size;
    const int big = firstLarger ? t1 : t2;
    const int small = firstLarger ? t2 : t1;
    links_[small].parent = big;
    links_[big].size += links_[small].size;
    links_[big].root = r1;
    return r1;
  }

  void FinishRoots() noexcept {
    for (int i = 0; i < count_; ++i) records_[i].rootLabel = links_[Find(i)].root;
  }

 private:
  // Union-find entry of one label.
  struct Link {
    int32_t parent;
    int32_t size;
    int32_t root;  // the class's root label, kept at the tree's top
  };

  // Enough for the regions of most frames' masks in one huge page.
  static constexpr int kFirstCapacity = 32768;

  bool Grow(int capacity) noexcept {
    const std::size_t n = static_cast<std::size_t>(capacity);
    auto block = kelvo::memory::AllocateArray<unsigned char>(n * (sizeof(RegionRecord) + sizeof(Link)));
    if (!block) return false;
    auto* records = reinterpret_cast<RegionRecord*>(block.get());
    auto* links = reinterpret_cast<Link*>(block.get() + n * sizeof(RegionRecord));
    if (count_ > 0) {
      std::memcpy(records, records_, static_cast<std::size_t>(count_) * sizeof(RegionRecord));
      std::memcpy(links, links_, static_cast<std::size_t>(count_) * sizeof(Link));
    }
    block_ = std::move(block);
    records_ = records;
    links_ = links;
    capacity_ = capacity;
    return true;
  }

  int Find(int x) noexcept {
    while (links_[x].parent != x) {
      links_[x].parent = links_[links_[x].parent].parent;
      x = links_[x].parent;
    }
    return x;
  }

  kelvo::memory::BlockArray<unsigned char> block_;
  RegionRecord* records_ = nullptr;
  Link* links_ = nullptr;
  int capacity_ = 0;
  int count_ = 0;
};

}  // namespace

Regions::Regions(int width, int height, const uint8_t* values, int stride, int minSize,
                 bool maskCompare) {
  Initialize(width, height, values, stride, minSize, maskCompare);
}

Regions::Regions(int width, int height, const int32_t* values, int stride, int minSize,
                 bool maskCompare) {
  Initialize(width, height, values, stride, minSize, maskCompare);
}

void Regions::Allocate(int width, int height) {
  Release();
  width_ = width;
  height_ = height;
  const std::size_t area =
      static_cast<std::size_t>(std::max(width, 0)) * static_cast<std::size_t>(std::max(height, 0));
  labelMap_ = detail::AllocateArray<int32_t>(area);
  if (!labelMap_) throw IPException(ErrorCode::kAllocationFailed, "Regions::Allocate");
  std::fill(labelMap_.get(), labelMap_.get() + area, -1);
}

void Regions::Initialize(int width, int height, const uint8_t* values, int stride, int minSize,
                         bool maskCompare) {
  Label(width, height, values, stride, minSize, maskCompare, false);
}

void Regions::Initialize(int width, int height, const int32_t* values, int stride, int minSize,
                         bool maskCompare) {
  Label(width, height, values, stride, minSize, maskCompare, false);
}

void Regions::InitializeRuns(int width, int height, const uint8_t* values, int stride, int minSize,
                             bool maskCompare) {
  Label(width, height, values, stride, minSize, maskCompare, true);
}

const RegionRun* Regions::GetRuns(int y, int& count) const noexcept {
  if (!runs_ || y < 0 || y >= height_) {
    count = 0;
    return nullptr;
  }
  count = runStart_[y + 1] - runStart_[y];
  return runs_.get() + runStart_[y];
}

template <class T>
void Regions::Label(int width, int height, const T* values, int stride, int minSize,
                    bool maskCompare, bool keepRuns) {
  constexpr const char* kWhere = "Regions::Initialize";
  // Callers inside the library always pass a valid image,
  // but the checks cost nothing and keep a wrong call from reading out of
  // bounds (codes 5, 6 and 0, as for the summed tables).
  if (values == nullptr) throw IPException(ErrorCode::kNullData, kWhere);
  if (static_cast<long long>(stride) <
      static_cast<long long>(width) * static_cast<long long>(sizeof(T))) {
    throw IPException(ErrorCode::kInvalidStride, kWhere);
  }
  if (width < 1 || height < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhere);

  Release();
  width_ = width;
  height_ = height;
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t area = w * static_cast<std::size_t>(height);
  minSize_ = minSize;
  speckSize_ = minSize / 100;
  maskCompare_ = maskCompare;

  Labeller labels;
  if (!labels.Allocate()) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  // At most one segment per pixel; the pages of segments never used are
  // never touched.
  auto segments = detail::AllocateArray<Segment>(area);
  auto rowStart = detail::AllocateArray<int32_t>(static_cast<std::size_t>(height) + 1);
  if (!segments || !rowStart) throw IPException(ErrorCode::kAllocationFailed, kWhere);

  // The labelling works on runs of pixels that belong together, with exactly
  // the label numbers, merges and neighbours that joining every pixel to its
  // left and upper neighbour in turn would give: a run's first pixel takes
  // its upper neighbour's label or starts a new one; further on, the label
  // changes only where the label above changes, and there it is the merge of
  // the label so far with the one above. Inside such a stretch the
  // per-pixel merges would repeat the same merge and change nothing.
  const auto together = [maskCompare](int32_t a, int32_t b) noexcept {
    return maskCompare ? ((a == 0) == (b == 0)) : (a == b);
  };
  const uint8_t* base = reinterpret_cast<const uint8_t*>(values);
  RowRunEnds runEnds;
  runEnds.Find<T>(base, stride, width, height, maskCompare);
  Segment* seg = segments.get();
  int n = 0;
  rowStart[0] = 0;
  {
    int leftLabel = -1;
    int ends = 0;
    const RowRun* runs = runEnds.Row(0, ends);
    for (int x = 0, e = 0; e < ends; ++e) {
      const int end = runs[e].end;
      const int label = labels.New(runs[e].value, leftLabel);
      seg[n++] = {x, end, label};
      leftLabel = label;
      x = end;
    }
    rowStart[1] = n;
  }
  for (int y = 1; y < height; ++y) {
    int u = rowStart[y - 1];
    int leftLabel = -1;
    int ends = 0, upEnds = 0;
    const RowRun* runs = runEnds.Row(y, ends);
    const RowRun* upRuns = runEnds.Row(y - 1, upEnds);
    int a = 0;
    for (int x = 0, e = 0; e < ends; ++e) {
      const int end = runs[e].end;
      const int32_t v = runs[e].value;
      for (int pos = x; pos < end;) {
        while (seg[u].x1 <= pos) ++u;
        while (upRuns[a].end <= pos) ++a;
        const Segment above = seg[u];
        const int stop = std::min(end, above.x1);
        const bool withUp = together(v, upRuns[a].value);
        int label;
        if (pos == x) {
          if (withUp) {
            label = above.label;
          } else {
            label = labels.New(v, pos == 0 ? above.label : leftLabel);
          }
          seg[n++] = {pos, stop, label};
        } else {
          label = withUp ? labels.Merge(leftLabel, above.label) : leftLabel;
          // Stretches of one run with one label make one segment.
          if (seg[n - 1].label == label) {
            seg[n - 1].x1 = stop;
          } else {
            seg[n++] = {pos, stop, label};
          }
        }
        leftLabel = label;
        pos = stop;
      }
      x = end;
    }
    rowStart[y + 1] = n;
  }

  // Each label's box and pixel count. The segments carry exactly the
  // pixels, labels and rows that joining every pixel to its label in turn
  // would add; bounds and sums come out the same in any order, so the
  // labels are shared out among the library's threads, each scanning every
  // segment for its own.
  {
    RegionRecord* records = labels.Records();
    const int labelCount = labels.Count();
    const int tasks = std::max(1, std::min(kelvo::Threads(), labelCount));
    kelvo::ParallelRows(tasks, 1, [&](int begin, int end) {
      const auto lo = static_cast<int32_t>(static_cast<long long>(labelCount) * begin / tasks);
      const auto hi = static_cast<int32_t>(static_cast<long long>(labelCount) * end / tasks);
      for (int y = 0; y < height; ++y) {
        for (int i = rowStart[y]; i < rowStart[y + 1]; ++i) {
          const Segment& g = seg[i];
          if (g.label < lo || g.label >= hi) continue;
          RegionRecord& r = records[g.label];
          r.minX = std::min(r.minX, g.x0);
          r.maxX = std::max(r.maxX, g.x1 - 1);
          r.minY = std::min(r.minY, y);
          r.maxY = std::max(r.maxY, y);
          r.pixelCount += g.x1 - g.x0;
        }
      }
    });
  }

  labels.FinishRoots();
  CompactRemapToTables(labels.Records(), labels.Count());

  // Every run from its provisional label to that label's final number.
  const RegionRecord* records = labels.Records();
  for (int i = 0; i < n; ++i) seg[i].label = records[seg[i].label].rootLabel;

  if (speckCount_ > 0) {
    // Specks take the number of their left, else upper, neighbour when that
    // one is in a kept region, pixel by pixel in row order, each reading
    // what the pixels before it became. On a run of speck pixels that is:
    // all take the left neighbour's number when it is kept; otherwise the
    // pixels stay specks up to the first one below a kept pixel, and from
    // there on all take that pixel's number. So a run splits in at most
    // two, and the runs are rewritten row by row.
    auto out = detail::AllocateArray<Segment>(2 * static_cast<std::size_t>(n));
    auto outStart = detail::AllocateArray<int32_t>(static_cast<std::size_t>(height) + 1);
    if (!out || !outStart) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    Segment* o = out.get();
    int m = 0;
    outStart[0] = 0;
    for (int y = 0; y < height; ++y) {
      int up = y > 0 ? outStart[y - 1] : 0;
      const int upEnd = y > 0 ? outStart[y] : 0;
      for (int i = rowStart[y]; i < rowStart[y + 1]; ++i) {
        const Segment r = seg[i];
        if (r.label != -2) {
          o[m++] = r;
          continue;
        }
        if (r.x0 > 0 && o[m - 1].label >= 0) {
          const int32_t left = o[m - 1].label;
          o[m++] = {r.x0, r.x1, left};
          continue;
        }
        // The first pixel of the run below a kept pixel, if any.
        int from = r.x1;
        int32_t taken = -2;
        while (up < upEnd && o[up].x1 <= r.x0) ++up;
        for (int u = up; u < upEnd && o[u].x0 < r.x1; ++u) {
          if (o[u].label >= 0) {
            from = std::max(o[u].x0, r.x0);
            taken = o[u].label;
            break;
          }
        }
        if (from > r.x0) o[m++] = {r.x0, from, -2};
        if (from < r.x1) o[m++] = {from, r.x1, taken};
      }
      outStart[y + 1] = m;
    }
    segments = std::move(out);
    rowStart = std::move(outStart);
    seg = segments.get();
    n = m;
  }

  if (keepRuns) {
    runs_ = std::move(segments);
    runStart_ = std::move(rowStart);
    return;
  }

  labelMap_ = detail::AllocateArray<int32_t>(area);  // every entry is written below
  if (!labelMap_) throw IPException(ErrorCode::kAllocationFailed, "Regions::Allocate");
  int32_t* map = labelMap_.get();
  for (int y = 0; y < height; ++y) {
    int32_t* mrow = map + static_cast<std::size_t>(y) * w;
    for (int i = rowStart[y]; i < rowStart[y + 1]; ++i) {
      std::fill(mrow + seg[i].x0, mrow + seg[i].x1, seg[i].label);
    }
  }
}

void Regions::CompactRemapToTables(RegionRecord* records, int labelCount) {
  constexpr const char* kWhere = "Regions::CompactRemapToTables";

  // Fold every merged label into its root. Boxes and counts add up in any
  // order; the root ends with the neighbour of its highest-numbered member.
  for (int i = 0; i < labelCount; ++i) {
    const int r = records[i].rootLabel;
    if (r == i) continue;
    RegionRecord& root = records[r];
    const RegionRecord& member = records[i];
    root.minX = std::min(root.minX, member.minX);
    root.minY = std::min(root.minY, member.minY);
    root.maxX = std::max(root.maxX, member.maxX);
    root.maxY = std::max(root.maxY, member.maxY);
    root.pixelCount += member.pixelCount;
    root.neighbourLabel = member.neighbourLabel;
    MakeEmpty(records[i]);
  }

  int kept = 0;
  for (int i = 0; i < labelCount; ++i) kept += records[i].pixelCount >= minSize_ ? 1 : 0;

  auto keys = detail::AllocateArray<int32_t>(static_cast<std::size_t>(kept));
  auto order = detail::AllocateArray<int32_t>(static_cast<std::size_t>(kept));
  auto finalIndex = detail::AllocateArray<int32_t>(static_cast<std::size_t>(labelCount));
  if (!keys || !order || !finalIndex) throw IPException(ErrorCode::kAllocationFailed, kWhere);

  int k = 0;
  for (int i = 0; i < labelCount; ++i) {
    finalIndex[i] = -1;
    if (records[i].pixelCount >= minSize_) {
      keys[k] = records[i].pixelCount;
      order[k] = i;
      ++k;
    }
  }
  detail::RegionSort(keys.get(), order.get(), kept);
  for (int j = 0; j < kept; ++j) finalIndex[order[j]] = j;

  auto regions = detail::AllocateArray<RegionRecord>(static_cast<std::size_t>(kept));
  if (!regions) throw IPException(ErrorCode::kAllocationFailed, kWhere);

  int discarded = 0;
  int specks = 0;
  for (int i = 0; i < labelCount; ++i) {
    const int j = finalIndex[records[i].rootLabel];
    if (j >= 0) {
      records[i].rootLabel = j;
    } else if (records[i].pixelCount < speckSize_) {
      records[i].rootLabel = -2;
      ++specks;
    } else {
      records[i].rootLabel = -1;
      ++discarded;
    }
  }
  for (int j = 0; j < kept; ++j) regions[j] = records[order[j]];

  regions_ = std::move(regions);
  regionCount_ = kept;
  discardedCount_ = discarded;
  speckCount_ = specks;
}

const RegionRecord* Regions::GetRegionsBB(int& regionCount) {
  regionCount = regionCount_;
  if (regionsByBox_) return regionsByBox_.get();
  if (!regions_) return nullptr;
  const int n = regionCount_;
  auto keys = detail::AllocateArray<int32_t>(static_cast<std::size_t>(n));
  auto order = detail::AllocateArray<int32_t>(static_cast<std::size_t>(n));
  auto byBox = detail::AllocateArray<RegionRecord>(static_cast<std::size_t>(n));
  if (!keys || !order || !byBox)
    throw IPException(ErrorCode::kAllocationFailed, "Regions::GetRegionsBB");
  for (int j = 0; j < n; ++j) {
    const RegionRecord& r = regions_[j];
    // An empty record (kept only when minSize is 0) has no
    // area; key 0 puts it after every real region, whose area is at least 1.
    // Areas beyond the 32-bit range saturate.
    long long area = 0;
    if (r.pixelCount > 0 && r.maxX >= r.minX && r.maxY >= r.minY) {
      area = (static_cast<long long>(r.maxY) - r.minY + 1) *
             (static_cast<long long>(r.maxX) - r.minX + 1);
    }
    keys[j] = static_cast<int32_t>(std::min<long long>(area, INT32_MAX));
    order[j] = j;
  }
  detail::RegionSort(keys.get(), order.get(), n);
  for (int k = 0; k < n; ++k) byBox[k] = regions_[order[k]];
  boxOrder_ = std::move(order);
  regionsByBox_ = std::move(byBox);
  return regionsByBox_.get();
}

const int32_t* Regions::GetRegionsMapBB() {
  constexpr const char* kWhere = "Regions::GetRegionsMapBB";
  if (boxMap_) return boxMap_.get();
  if (!labelMap_) throw IPException(ErrorCode::kDataNotAvailable, kWhere);
  if (!boxOrder_ && regions_) {
    int count = 0;
    GetRegionsBB(count);
  }
  const std::size_t area = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
  auto map = detail::AllocateArray<int32_t>(area);
  auto rank = detail::AllocateArray<int32_t>(static_cast<std::size_t>(regionCount_));
  if (!map || !rank) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  for (int k = 0; k < regionCount_; ++k) rank[boxOrder_[k]] = k;
  const int32_t* labels = labelMap_.get();
  for (std::size_t i = 0; i < area; ++i) {
    const int32_t label = labels[i];
    // A pixel in no kept region has no box rank; it keeps
    // its negative label (-1, or -2 for an unabsorbed speck), which no rank
    // can equal.
    map[i] = label >= 0 ? rank[label] : label;
  }
  boxMap_ = std::move(map);
  return boxMap_.get();
}

void Regions::Release() noexcept {
  regions_.reset();
  regionsByBox_.reset();
  boxOrder_.reset();
  boxMap_.reset();
  labelMap_.reset();
  runs_.reset();
  runStart_.reset();
  width_ = 0;
  height_ = 0;
  regionCount_ = 0;
  discardedCount_ = 0;
  speckCount_ = 0;
}

}  // namespace KelvoLibImageProcessing
