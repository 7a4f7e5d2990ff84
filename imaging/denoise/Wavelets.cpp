#include "imaging/denoise/Wavelets.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "imaging/core/IPException.h"
#include "imaging/core/detail/Checks.h"
#include "imaging/denoise/OpExtendBorder.h"
#include "imaging/denoise/detail/WaveletBanks.h"
#include "imaging/denoise/detail/WaveletShrink.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/ParallelRows.h"
#include "imaging/primitives/PoolThreadBuffer.h"
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/Threads.h"
#include "imaging/primitives/WaveletRows.h"

namespace KelvoLibImageProcessing {
namespace {

constexpr int kMaxLevels = 20;
constexpr long long kMaxMargin = 1LL << 24;

// A float image from the block cache; null when the size does not
// fit or memory is short.
kelvo::memory::BlockArray<float> AllocateFloats(long long count) {
  const long long bytes = count * static_cast<long long>(sizeof(float));
  if (count <= 0 || bytes > INT_MAX) return kelvo::memory::BlockArray<float>();
  return kelvo::memory::AllocateArray<float>(static_cast<size_t>(count));
}

float* At(float* base, int step, int x, int y) {
  return RowAt(base, step, y) + x;
}

// Makes an odd-sized w x h region at data even-sized by duplicating its last
// column and/or row, then extends the result by `border` on every side:
// the common preparation of a level input and of a band before synthesis.
void PrepareRegion(OpExtendBorder& extender, float* data, int step, int w, int h, int border,
                   int method) {
  if (w % 2 != 0) {
    for (int y = 0; y < h; ++y) At(data, step, w, y)[0] = At(data, step, w - 1, y)[0];
  }
  const int evenW = w + (w % 2);
  if (h % 2 != 0) {
    std::memcpy(At(data, step, 0, h), At(data, step, 0, h - 1), sizeof(float) * evenW);
  }
  const int evenH = h + (h % 2);
  extender.Execute(1, evenW, evenH, data, step, border, border, method);
}

int FloorHalf(int v) {
  return (v >= 0) ? v / 2 : -((1 - v) / 2);
}
int CeilHalf(int v) {
  return -FloorHalf(-v);
}

// One source row into floats.
void RowToFloats(const float* in, float* out, int n) {
  std::memcpy(out, in, sizeof(float) * static_cast<size_t>(n));
}
void RowToFloats(const uint8_t* in, float* out, int n) {
  detail::SamplesToFloats(in, out, static_cast<size_t>(n));
}
void RowToFloats(const uint16_t* in, float* out, int n) {
  detail::SamplesToFloats(in, out, static_cast<size_t>(n));
}

// One synthesised row out of floats.
void RowFromFloats(const float* in, float* out, int n) {
  std::memcpy(out, in, sizeof(float) * static_cast<size_t>(n));
}
void RowFromFloats(const float* in, uint8_t* out, int n) {
  detail::FloatsToSamples(in, out, static_cast<size_t>(n));
}
void RowFromFloats(const float* in, uint16_t* out, int n) {
  detail::FloatsToSamples(in, out, static_cast<size_t>(n));
}

// Backwards: out[j] = last[-j].
void RowToFloatsReversed(const float* last, float* out, int n) {
  for (int j = 0; j < n; ++j) out[j] = *(last - j);
}
void RowToFloatsReversed(const uint16_t* last, float* out, int n) {
  detail::SamplesToFloatsReversed(last, out, static_cast<size_t>(n));
}

// The level-0 input without the float image: every sample of the padded,
// extended level input is a copy of one source sample (or zero), the same
// for every row. Along a row the source columns run in a few stretches,
// forwards (the image), backwards (mirrored margins) or as zeros, so a row
// is made stretch by stretch with whole vectors. Row positions are kept
// per row (-1: zero).
struct ColumnRun {
  int x0, x1;  // level-0 input columns, half-open
  int from;    // source column at x0
  int dir;     // +1 forwards, -1 backwards, 0 zeros
};

// The runs of `map` (columns first .. first + n - 1; -1: zero).
int ColumnRuns(const int* map, int first, int n, ColumnRun* runs) {
  int count = 0;
  for (int j = 0; j < n; ++j) {
    const int x = first + j;
    const int m = map[j];
    if (count > 0) {
      ColumnRun& r = runs[count - 1];
      const int last = r.from + r.dir * (r.x1 - 1 - r.x0);
      const bool single = r.x1 - r.x0 == 1;
      if (m < 0 ? r.dir == 0
                : r.dir != 0 && (m == last + r.dir || (single && (m == last + 1 || m == last - 1)))) {
        if (m >= 0 && single) r.dir = m - last;
        r.x1 = x + 1;
        continue;
      }
    }
    runs[count++] = ColumnRun{x, x + 1, m < 0 ? 0 : m, m < 0 ? 0 : 1};
  }
  return count;
}

template <class T>
struct LevelZeroRows {
  const T* source;
  int stride;  // bytes
  const ColumnRun* runs;
  int runCount;
  const int* rows;  // at row y + border
  int border;
};

// Fills out[0, count) with the level-0 input row `row` from column x0: each
// column run is zero (off the frame), or copied forwards or backwards (a
// mirrored margin) with the given copiers.
template <class T, class Out, class Zero, class Forward, class Reversed>
void FetchLevelZero(const LevelZeroRows<T>& c, int row, int x0, int count, Out* out, Zero zero,
                    Forward forward, Reversed reversed) {
  const int sourceRow = c.rows[row + c.border];
  if (sourceRow < 0) {
    zero(out, count);
    return;
  }
  const T* in = RowAt(c.source, c.stride, sourceRow);
  const int x1 = x0 + count;
  for (int i = 0; i < c.runCount; ++i) {
    const ColumnRun& r = c.runs[i];
    const int a = std::max(r.x0, x0), b = std::min(r.x1, x1);
    if (a >= b) continue;
    Out* to = out + (a - x0);
    const T* from = in + (r.from + r.dir * (a - r.x0));
    if (r.dir == 0) {
      zero(to, b - a);
    } else if (r.dir > 0) {
      forward(from, to, b - a);
    } else {
      reversed(from, to, b - a);
    }
  }
}

template <class T>
void FetchLevelZeroRow(const void* context, int row, int x0, int count, float* out) {
  FetchLevelZero(
      *static_cast<const LevelZeroRows<T>*>(context), row, x0, count, out,
      [](float* to, int n) { std::fill(to, to + n, 0.0f); },
      [](const T* from, float* to, int n) { RowToFloats(from, to, n); },
      [](const T* from, float* to, int n) { RowToFloatsReversed(from, to, n); });
}

// As FetchLevelZeroRow, for 8-bit sources: the samples as bytes, which
// the analysis widens itself.
void FetchLevelZeroBytes(const void* context, int row, int x0, int count, uint8_t* out) {
  FetchLevelZero(
      *static_cast<const LevelZeroRows<uint8_t>*>(context), row, x0, count, out,
      [](uint8_t* to, int n) { std::memset(to, 0, static_cast<size_t>(n)); },
      [](const uint8_t* from, uint8_t* to, int n) {
        std::memcpy(to, from, static_cast<size_t>(n));
      },
      [](const uint8_t* from, uint8_t* to, int n) {
        detail::BytesReversed(from, to, static_cast<size_t>(n));
      });
}

// Where position j of the level-0 input (-border .. even size + border - 1)
// comes from in a source line of `size` samples that was first padded by
// `margin` on both sides: the frame extension of the padded line (after its
// last sample is duplicated when its size is odd), then the margin padding.
int LevelZeroPosition(int j, int size, int margin, int method) {
  const int padded = size + 2 * margin;
  const int even = padded + padded % 2;
  int p = OpExtendBorder::SourcePosition(j, even, method);
  if (p < 0) return -1;
  if (p == padded) p = padded - 1;
  return OpExtendBorder::SourcePosition(p - margin, size, method);
}

// Band rows per call of the level-0 synthesis when it goes out through a
// row block: 16 output rows of a frame stay in the cache until converted.
constexpr int kSynthesisBlockRows = 8;

// The calling pool thread's slot for the level-0 synthesis's row blocks
// (and its caller's scratch), up to two megabytes.
struct SynthesisSlotTag;
using PoolThreadSlot = kelvo::memory::PoolThreadBuffer<SynthesisSlotTag, size_t{2} << 20>;

// The synthesis is local: output samples 2u, 2u + 1 read band samples
// u + readLo .. u + readHi. So, starting from the level-0 interior the
// caller receives, each level only needs to synthesise the part of its
// output (the next finer approximation band) that the finer level reads.
// A level whose reads stay inside its bands needs no band frames; one
// whose reads do not is synthesised whole, frames prepared, and so are the
// coarser ones (its frames mirror its bands' edges).
struct SynthesisSpan {
  bool limited;
  int u0, u1, v0, v1;  // band samples synthesised, inclusive
  int x0, x1, y0, y1;  // band samples read, half-open
};

void SynthesisSpans(int levels, const int* widths, const int* heights, int margin, int width,
                    int height, int readLo, int readHi, SynthesisSpan* spans) {
  for (int k = 0; k < levels; ++k) spans[k] = SynthesisSpan{};
  if (width % 2 != 0 || height % 2 != 0 || margin % 2 != 0) return;
  // Output needed from level k, in its input coordinates; inclusive.
  int x0 = margin, x1 = margin + width - 1, y0 = margin, y1 = margin + height - 1;
  for (int k = 0; k < levels; ++k) {
    const int w = widths[k], h = heights[k];
    const int bw = (w + 1) / 2, bh = (h + 1) / 2;
    SynthesisSpan sp{true, FloorHalf(x0), FloorHalf(x1), FloorHalf(y0), FloorHalf(y1), 0, 0, 0, 0};
    if (2 * sp.u1 + 1 > w - 1 || 2 * sp.v1 + 1 > h - 1 || sp.u0 + readLo < 0 ||
        sp.v0 + readLo < 0 || sp.u1 + readHi > bw - 1 || sp.v1 + readHi > bh - 1) {
      return;
    }
    sp.x0 = sp.u0 + readLo;
    sp.x1 = sp.u1 + readHi + 1;
    sp.y0 = sp.v0 + readLo;
    sp.y1 = sp.v1 + readHi + 1;
    spans[k] = sp;
    x0 = sp.x0;
    x1 = sp.x1 - 1;
    y0 = sp.y0;
    y1 = sp.y1 - 1;
  }
}

// The band samples of each level the analysis must compute for a synthesis
// whose spans are all limited: the detail samples it reads, and the
// approximation samples it reads at the coarsest level or the next level's
// analysis reads for its own samples (outputs n read inputs 2n + lo ..
// 2n + hi). False when some level would then read outside its input's real
// samples (its frame, or the duplicated column or row of an odd size):
// every sample is computed then.
bool AnalysisRegions(int levels, const int* widths, const int* heights,
                     const SynthesisSpan* spans, int lo, int hi, wavelet::FwdRegion* regions) {
  for (int k = 0; k < levels; ++k) {
    if (!spans[k].limited) return false;
  }
  // Approximation samples of level k wanted, half-open; at first those the
  // coarsest synthesis reads.
  int ax0 = spans[levels - 1].x0, ax1 = spans[levels - 1].x1;
  int ay0 = spans[levels - 1].y0, ay1 = spans[levels - 1].y1;
  for (int k = levels - 1; k >= 0; --k) {
    const SynthesisSpan& sp = spans[k];
    wavelet::FwdRegion& r = regions[k];
    r = wavelet::FwdRegion{std::min(ax0, sp.x0), std::max(ax1, sp.x1), std::min(ay0, sp.y0),
                           std::max(ay1, sp.y1), sp.x0, sp.x1, sp.y0, sp.y1};
    const int bw = (widths[k] + 1) / 2, bh = (heights[k] + 1) / 2;
    if (r.x0 < 0 || r.y0 < 0 || r.x1 > bw || r.y1 > bh) return false;
    ax0 = 2 * r.x0 + lo;
    ax1 = 2 * (r.x1 - 1) + hi + 1;
    ay0 = 2 * r.y0 + lo;
    ay1 = 2 * (r.y1 - 1) + hi + 1;
    // The input of level k (k > 0) is the approximation of level k - 1,
    // real where it lies: widths[k] x heights[k] samples.
    if (k > 0 && (ax0 < 0 || ay0 < 0 || ax1 > widths[k] || ay1 > heights[k])) return false;
  }
  return true;
}

}  // namespace

Wavelets::Wavelets() {
  Initialize(12, 4, OpExtendBorder::PaddingMirror);
}

Wavelets::Wavelets(int paddingMethod, int levels, int waveletType) {
  Initialize(waveletType, levels, paddingMethod);
}

Wavelets::~Wavelets() {
  ReleasePyramid();
  ReleaseOwnedTaps();
}

void Wavelets::ReleasePyramid() noexcept {
  pyramid_.reset();
  bands_.reset();
  levelWidths_.reset();
  levelHeights_.reset();
  bandSteps_.reset();
  decomposed_ = false;
}

void Wavelets::ReleaseOwnedTaps() noexcept {
  ownedTaps_.reset();
}

void Wavelets::Initialize(int type, int levelCount, int method) {
  if (levelCount <= 0 || levelCount > kMaxLevels) {
    throw IPException(ErrorCode::kGeneral, "Wavelets::Initialize: invalid number of levels");
  }
  const detail::WaveletBank* bank = detail::FindWaveletBank(type);
  if (bank == nullptr) {
    throw IPException(ErrorCode::kGeneral,
                      "Wavelets::Initialize: invalid or unimplemented wavelet type");
  }
  ReleasePyramid();
  ReleaseOwnedTaps();
  tapsFwdLow_ = bank->fwdLow;
  tapsFwdHigh_ = bank->fwdHigh;
  tapsInvLow_ = bank->invLow;
  tapsInvHigh_ = bank->invHigh;
  tapLength_ = bank->length;
  anchorFwd_ = tapLength_ / 2;
  anchorInv_ = tapLength_ / 2 - 1;
  borderBase_ = 2 * tapLength_;
  waveletType_ = type;
  levels_ = levelCount;
  paddingMethod_ = method;
  margin_ = borderBase_ << (levels_ - 1);

  const size_t count = static_cast<size_t>(levels_);
  bands_ = kelvo::memory::AllocateArray<float*>(4 * count, true);
  levelWidths_ = kelvo::memory::AllocateArray<int>(count, true);
  levelHeights_ = kelvo::memory::AllocateArray<int>(count, true);
  bandSteps_ = kelvo::memory::AllocateArray<int>(count, true);
  framedBands_ = false;
  onlyRead_ = false;
  leftOut_ = false;
  shrink_.reset();
  if (bands_ == nullptr || levelWidths_ == nullptr || levelHeights_ == nullptr ||
      bandSteps_ == nullptr) {
    ReleasePyramid();
    throw IPException(ErrorCode::kAllocationFailed, "Wavelets::Initialize");
  }
  if (!extender_) {
    extender_.reset(new (std::nothrow) OpExtendBorder());
    if (!extender_)
      throw IPException(ErrorCode::kInstantiationFailed, "Wavelets::Initialize(OpExtendBorder)");
  }
  decomposed_ = false;
}

void Wavelets::SetOnlyReadBands(bool only) {
  if (decomposed_) {
    throw IPException(ErrorCode::kGeneral,
                      "Wavelets::SetOnlyReadBands: must be called before Decompose()");
  }
  onlyRead_ = only;
}

void Wavelets::SetDetailShrink(const float* thresholds, bool soft) {
  shrink_.reset();
  if (thresholds == nullptr) return;
  const size_t n = 3 * static_cast<size_t>(levels_);
  shrink_ = kelvo::memory::AllocateArray<float>(n);
  if (!shrink_) throw IPException(ErrorCode::kAllocationFailed, "Wavelets::SetDetailShrink");
  std::memcpy(shrink_.get(), thresholds, n * sizeof(float));
  shrinkSoft_ = soft;
}

void Wavelets::SetWaveletsParams(int border, const float* fwdLow, const float* fwdHigh,
                                 const float* invLow, const float* invHigh, int length,
                                 int fwdAnchor, int invAnchor) {
  constexpr const char* kWhere = "Wavelets::SetWaveletsParams";
  if (fwdLow == nullptr || fwdHigh == nullptr || invLow == nullptr || invHigh == nullptr) {
    throw IPException(ErrorCode::kNullData, kWhere);
  }
  if (length < 2 || fwdAnchor < 0 || fwdAnchor >= length || invAnchor < 0 || invAnchor >= length ||
      border < 0 || (static_cast<long long>(border) << (levels_ - 1)) > kMaxMargin) {
    throw IPException(ErrorCode::kInvalidInput, kWhere);
  }
  ReleaseOwnedTaps();
  ownedTaps_ = kelvo::memory::AllocateArray<float>(4 * static_cast<size_t>(length));
  if (ownedTaps_ == nullptr) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  const size_t bytes = sizeof(float) * static_cast<size_t>(length);
  float* taps = ownedTaps_.get();
  std::memcpy(taps, fwdLow, bytes);
  std::memcpy(taps + length, fwdHigh, bytes);
  std::memcpy(taps + 2 * length, invLow, bytes);
  std::memcpy(taps + 3 * length, invHigh, bytes);
  tapsFwdLow_ = taps;
  tapsFwdHigh_ = taps + length;
  tapsInvLow_ = taps + 2 * length;
  tapsInvHigh_ = taps + 3 * length;
  tapLength_ = length;
  anchorFwd_ = fwdAnchor;
  anchorInv_ = invAnchor;
  borderBase_ = border;
  margin_ = border << (levels_ - 1);
  waveletType_ = 100;
}

void Wavelets::SetFramedBands(bool framed) {
  if (decomposed_) {
    throw IPException(ErrorCode::kGeneral,
                      "Wavelets::SetFramedBands: must be called before Decompose()");
  }
  framedBands_ = framed;
}

int Wavelets::GetBandStep(int level) const noexcept {
  return (bandSteps_ != nullptr && level >= 0 && level < levels_) ? bandSteps_[level] : 0;
}

void Wavelets::Decompose(const float* source, int stride, int width, int height) {
  DecomposeImpl(source, stride, width, height);
}
void Wavelets::DecomposeSamples(const uint8_t* source, int stride, int width, int height) {
  DecomposeImpl(source, stride, width, height);
}
void Wavelets::DecomposeSamples(const uint16_t* source, int stride, int width, int height) {
  DecomposeImpl(source, stride, width, height);
}

template <class T>
void Wavelets::DecomposeImpl(const T* source, int stride, int width, int height) {
  constexpr const char* kWhere = "Wavelets::Decompose";
  if (decomposed_)
    throw IPException(ErrorCode::kGeneral,
                      "Wavelets::Decompose: this routine can only be called once");
  if (source == nullptr) throw IPException(ErrorCode::kNullData, kWhere);
  if (static_cast<long long>(stride) < static_cast<long long>(sizeof(T)) * width) {
    throw IPException(ErrorCode::kInvalidStride, kWhere);
  }
  if (width < (1 << levels_) || height < (1 << levels_))
    throw IPException(ErrorCode::kInvalidDimensions, kWhere);

  // The forward transform object and its work buffer.
  IppiWTFwdSpec_32f_C1R* rawSpec = nullptr;
  ippiWTFwdInitAlloc_32f_C1R(&rawSpec, tapsFwdLow_, tapLength_, anchorFwd_, tapsFwdHigh_,
                             tapLength_, anchorFwd_);
  if (rawSpec == nullptr)
    throw IPException(ErrorCode::kPrimitiveFailed,
                      "Wavelets::Decompose(ippiWTFwdInitAlloc_32f_C1R)");
  const std::unique_ptr<IppiWTFwdSpec_32f_C1R, IppStatus (*)(IppiWTFwdSpec_32f_C1R*)> spec(
      rawSpec, ippiWTFwdFree_32f_C1R);
  int bufferSize = 0;
  ippiWTFwdGetBufSize_C1R(spec.get(), &bufferSize);
  detail::IppsBuffer<Ipp8u> buffer(ippsMalloc_8u(bufferSize > 0 ? bufferSize : 1));
  if (!buffer) throw IPException(ErrorCode::kPrimitiveFailed, "Wavelets::Decompose(ippsMalloc_8u)");
  std::memset(buffer.get(), 0, static_cast<size_t>(bufferSize > 0 ? bufferSize : 1));

  // Level sizes, and every band in one block; a framed band has borderBase
  // samples and a spare column and row around it, like the working image.
  const long long w0 = static_cast<long long>(width) + 2LL * margin_;
  const long long h0 = static_cast<long long>(height) + 2LL * margin_;
  if (w0 > INT_MAX / 2 || h0 > INT_MAX / 2) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  const long long frame = framedBands_ ? 2LL * borderBase_ + 1 : 0;
  // Framed band rows are a whole number of cache lines (16 floats) apart,
  // and the left frame is widened so that the first column the level-0
  // synthesis reads starts a line: its many loads along the rows then do
  // not straddle lines. One more row below takes the frame extension's
  // whole-row writes, which start at the narrower frame.
  long long left = 0;
  if (framedBands_) {
    const long long firstRead = margin_ / 2 + CeilHalf(anchorInv_ - tapLength_ + 1);
    left = borderBase_;
    while ((left + firstRead) % 16 != 0) ++left;
  }
  const auto rowFloats = [&](long long bw) {
    return framedBands_ ? (left + bw + borderBase_ + 1 + 15) / 16 * 16 : bw;
  };
  const long long extraRows = framedBands_ ? 1 : 0;
  long long total = 0;
  {
    long long w = w0, h = h0;
    for (int k = 0; k < levels_; ++k) {
      const long long bw = (w + 1) / 2, bh = (h + 1) / 2;
      total += 4 * rowFloats(bw) * (bh + frame + extraRows);
      w = bw;
      h = bh;
    }
  }
  kelvo::memory::BlockArray<float> block = AllocateFloats(total);
  if (!block) throw IPException(ErrorCode::kAllocationFailed, kWhere);

  // The parts of the bands the reconstruction reads, when only those are
  // wanted.
  wavelet::FwdRegion regions[kMaxLevels];
  leftOut_ = false;
  if (onlyRead_ && framedBands_) {
    int widths[kMaxLevels], heights[kMaxLevels];
    long long w = w0, h = h0;
    for (int k = 0; k < levels_; ++k) {
      widths[k] = static_cast<int>(w);
      heights[k] = static_cast<int>(h);
      w = (w + 1) / 2;
      h = (h + 1) / 2;
    }
    SynthesisSpan spans[kMaxLevels];
    SynthesisSpans(levels_, widths, heights, margin_, width, height,
                   FloorHalf(anchorInv_ - tapLength_ + 1), CeilHalf(anchorInv_ + 1), spans);
    leftOut_ = AnalysisRegions(levels_, widths, heights, spans, anchorFwd_ - tapLength_ + 1,
                               anchorFwd_, regions);
  }
  const wavelet::FwdRegion* region = nullptr;

  // Level 0 reads its input rows straight from the source, converted and
  // padded on the way, when the filters stay within the frame the working
  // image would give them (custom taps may reach further).
  const int reachLo = anchorFwd_ - tapLength_ + 1;
  const bool fetchLevel0 = -reachLo <= borderBase_ && anchorFwd_ <= borderBase_;
  const int wb = static_cast<int>(w0) + 2 * borderBase_ + 1;
  const int hb = static_cast<int>(h0) + 2 * borderBase_ + 1;
  const int step = wb * 4;
  kelvo::memory::BlockArray<int> positions;
  kelvo::memory::BlockArray<ColumnRun> runs;
  LevelZeroRows<T> rows{};
  if (fetchLevel0) {
    positions = kelvo::memory::AllocateArray<int>(static_cast<size_t>(wb) + hb);
    runs = kelvo::memory::AllocateArray<ColumnRun>(static_cast<size_t>(wb));
    if (!positions || !runs) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    int* cols = positions.get();
    int* rowPositions = cols + wb;
    for (int j = 0; j < wb; ++j) {
      cols[j] = LevelZeroPosition(j - borderBase_, width, margin_, paddingMethod_);
    }
    for (int j = 0; j < hb; ++j) {
      rowPositions[j] = LevelZeroPosition(j - borderBase_, height, margin_, paddingMethod_);
    }
    const int runCount = ColumnRuns(cols, -borderBase_, wb, runs.get());
    rows = LevelZeroRows<T>{source, stride, runs.get(), runCount, rowPositions, borderBase_};
  }
  // The working image: level-0 input plus a borderBase frame and one spare
  // row and column for odd sizes, for unframed bands the input of every
  // level. Every sample the transform reads is written first (copy,
  // duplication, extension), so it is not cleared.
  kelvo::memory::BlockArray<float> work;
  float* origin = nullptr;
  if (!fetchLevel0 || (!framedBands_ && levels_ > 1)) {
    work = AllocateFloats(static_cast<long long>(wb) * hb);
    if (!work) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    origin = At(work.get(), step, borderBase_, borderBase_);
  }
  if (!fetchLevel0) {
    for (int y = 0; y < height; ++y) {
      RowToFloats(RowAt(source, stride, y), At(origin, step, margin_, margin_ + y), width);
    }
    extender_->Execute(1, width, height, At(origin, step, margin_, margin_), step, margin_, margin_,
                       paddingMethod_);
  }

  int w = static_cast<int>(w0), h = static_cast<int>(h0);
  float* next = block.get();
  for (int k = 0; k < levels_; ++k) {
    levelWidths_[k] = w;
    levelHeights_[k] = h;
    const int bw = (w + 1) / 2, bh = (h + 1) / 2;
    const int bandStep = static_cast<int>(rowFloats(bw)) * 4;
    bandSteps_[k] = bandStep;
    for (int b = 0; b < 4; ++b) {
      bands_[4 * k + b] =
          framedBands_ ? At(next, bandStep, static_cast<int>(left), borderBase_) : next;
      next += static_cast<size_t>(rowFloats(bw)) * static_cast<size_t>(bh + frame + extraRows);
    }
    wavelet::DetailShrink shrink{};
    if (shrink_) {
      shrink = wavelet::DetailShrink{{shrink_[3 * k], shrink_[3 * k + 1], shrink_[3 * k + 2]},
                                     shrinkSoft_};
    }
    const wavelet::DetailShrink* shrinkLevel = shrink_ ? &shrink : nullptr;
    if (leftOut_) region = &regions[k];
    if (k == 0 && fetchLevel0) {
      if constexpr (std::is_same_v<T, uint8_t>) {
        wavelet::WTFwdByteRows(&FetchLevelZeroBytes, &rows, shrinkLevel, bands_[0], bandStep,
                               bands_[1], bandStep, bands_[2], bandStep, bands_[3], bandStep,
                               IppiSize{bw, bh}, spec.get(), buffer.get(), region);
      } else {
        wavelet::WTFwdRows(nullptr, 0, &FetchLevelZeroRow<T>, &rows, shrinkLevel, bands_[0],
                           bandStep, bands_[1], bandStep, bands_[2], bandStep, bands_[3],
                           bandStep, IppiSize{bw, bh}, spec.get(), buffer.get(), region);
      }
      w = bw;
      h = bh;
      continue;
    }
    // A framed approximation band is the next level's input where it lies.
    const float* input = origin;
    int inputStep = step;
    if (k > 0 && framedBands_) {
      input = bands_[4 * (k - 1)];
      inputStep = bandSteps_[k - 1];
      // Left-out samples read nothing outside the real input.
      if (!leftOut_) {
        PrepareRegion(*extender_, bands_[4 * (k - 1)], inputStep, w, h, borderBase_,
                      paddingMethod_);
      }
    } else {
      if (k > 0) ippiCopy_32f_C1R(bands_[4 * (k - 1)], w * 4, origin, step, IppiSize{w, h});
      PrepareRegion(*extender_, origin, step, w, h, borderBase_, paddingMethod_);
    }
    wavelet::WTFwdRows(input, inputStep, nullptr, nullptr, shrinkLevel, bands_[4 * k], bandStep,
                       bands_[4 * k + 1], bandStep, bands_[4 * k + 2], bandStep, bands_[4 * k + 3],
                       bandStep, IppiSize{bw, bh}, spec.get(), buffer.get(), region);
    w = bw;
    h = bh;
  }
  pyramid_ = std::move(block);
  decomposed_ = true;
}

float** Wavelets::GetMRAPyramid(int** widths, int** heights) {
  if (!decomposed_)
    throw IPException(ErrorCode::kGeneral, "Wavelets::GetMRAPyramid: must call Decompose() first");
  if (widths != nullptr) *widths = levelWidths_.get();
  if (heights != nullptr) *heights = levelHeights_.get();
  return bands_.get();
}

void Wavelets::Reconstruct(float* destination, int stride, int width, int height) {
  ReconstructImpl(destination, stride, width, height, nullptr);
}
void Wavelets::ReconstructSamples(uint8_t* destination, int stride, int width, int height) {
  ReconstructImpl(destination, stride, width, height, nullptr);
}
void Wavelets::ReconstructSamples(uint16_t* destination, int stride, int width, int height) {
  ReconstructImpl(destination, stride, width, height, nullptr);
}
void Wavelets::ReconstructSamples(uint8_t* destination, int stride, int width, int height,
                                  const RowEdit& edit) {
  ReconstructImpl(destination, stride, width, height, edit ? &edit : nullptr);
}
void Wavelets::ReconstructSamples(uint16_t* destination, int stride, int width, int height,
                                  const RowEdit& edit) {
  ReconstructImpl(destination, stride, width, height, edit ? &edit : nullptr);
}

void Wavelets::ReconstructSamples(uint8_t* destination, int stride, int width, int height,
                                  const RowEdit& edit, const RowsDone& done) {
  ReconstructImpl(destination, stride, width, height, edit ? &edit : nullptr,
                  done ? &done : nullptr);
}
void Wavelets::ReconstructSamples(uint16_t* destination, int stride, int width, int height,
                                  const RowEdit& edit, const RowsDone& done) {
  ReconstructImpl(destination, stride, width, height, edit ? &edit : nullptr,
                  done ? &done : nullptr);
}

void Wavelets::ReconstructRows(int width, int height, const FloatRowsDone& done,
                               int scratchPerRow) {
  if (!done) throw IPException(ErrorCode::kNullData, "Wavelets::Reconstruct");
  if (scratchPerRow < 0) throw IPException(ErrorCode::kInvalidInput, "Wavelets::Reconstruct");
  ReconstructImpl(static_cast<uint8_t*>(nullptr), width, width, height, nullptr, nullptr, &done,
                  scratchPerRow);
}

template <class T>
void Wavelets::ReconstructImpl(T* destination, int stride, int width, int height,
                               const RowEdit* edit, const RowsDone* done,
                               const FloatRowsDone* floats, int scratchPerRow) {
  constexpr const char* kWhere = "Wavelets::Reconstruct";
  if (destination == nullptr && floats == nullptr) {
    throw IPException(ErrorCode::kNullData, kWhere);
  }
  if (static_cast<long long>(stride) < static_cast<long long>(sizeof(T)) * width) {
    throw IPException(ErrorCode::kInvalidStride, kWhere);
  }
  if (levelWidths_ == nullptr || static_cast<long long>(width) + 2LL * margin_ != levelWidths_[0] ||
      static_cast<long long>(height) + 2LL * margin_ != levelHeights_[0]) {
    throw IPException(ErrorCode::kInvalidDimensions, kWhere);
  }

  IppiWTInvSpec_32f_C1R* rawSpec = nullptr;
  ippiWTInvInitAlloc_32f_C1R(&rawSpec, tapsInvLow_, tapLength_, anchorInv_, tapsInvHigh_,
                             tapLength_, anchorInv_);
  if (rawSpec == nullptr) {
    throw IPException(ErrorCode::kPrimitiveFailed,
                      "Wavelets::Reconstruct(ippiWTInvInitAlloc_32f_C1R)");
  }
  const std::unique_ptr<IppiWTInvSpec_32f_C1R, IppStatus (*)(IppiWTInvSpec_32f_C1R*)> spec(
      rawSpec, ippiWTInvFree_32f_C1R);
  int bufferSize = 0;
  ippiWTInvGetBufSize_C1R(spec.get(), &bufferSize);
  detail::IppsBuffer<Ipp8u> buffer(ippsMalloc_8u(bufferSize > 0 ? bufferSize : 1));
  if (!buffer)
    throw IPException(ErrorCode::kPrimitiveFailed, "Wavelets::Reconstruct(ippsMalloc_8u)");

  // Unframed bands are copied into four band working images sized for level
  // 0 with a borderBase frame and a spare row and column, reused by every
  // level; framed bands are extended where they lie. As in Decompose, every
  // sample read is written first.
  const int w0 = levelWidths_[0], h0 = levelHeights_[0];
  const int bw0 = (w0 + 1) / 2, bh0 = (h0 + 1) / 2;
  const int workW = bw0 + 2 * borderBase_ + 1;
  const int workH = bh0 + 2 * borderBase_ + 1;
  const int workStep = workW * 4;
  const long long workCount = static_cast<long long>(workW) * workH;
  kelvo::memory::BlockArray<float> bandWork;
  float* workOrigin[4] = {};
  if (!framedBands_) {
    bandWork = AllocateFloats(4 * workCount);
    if (!bandWork) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    for (int b = 0; b < 4; ++b) {
      workOrigin[b] = At(bandWork.get() + b * workCount, workStep, borderBase_, borderBase_);
    }
  }
  // The temporary for odd level sizes and the full level-0 output are only
  // needed when the result cannot be written in place.
  kelvo::memory::BlockArray<float> temp;
  kelvo::memory::BlockArray<float> output;

  const int readLo = FloorHalf(anchorInv_ - tapLength_ + 1);
  const int readHi = CeilHalf(anchorInv_ + 1);
  SynthesisSpan spans[kMaxLevels];
  SynthesisSpans(levels_, levelWidths_.get(), levelHeights_.get(), margin_, width, height, readLo,
                 readHi, spans);
  bool limited[kMaxLevels];
  for (int k = 0; k < levels_; ++k) limited[k] = spans[k].limited;
  // Detail rows y0 .. y1 - 1 of level k through the edit, in the pyramid
  // (unframed bands are edited before they are copied out): the columns
  // the synthesis reads.
  const auto editRows = [&](int k, int y0, int y1) {
    const int x0 = limited[k] ? spans[k].x0 : 0;
    const int x1 = limited[k] ? spans[k].x1 : (levelWidths_[k] + 1) / 2;
    for (int b = 1; b < 4; ++b) {
      for (int y = y0; y < y1; ++y) {
        (*edit)(k, b, RowAt(bands_[4 * k + b], bandSteps_[k], y) + x0, x1 - x0);
      }
    }
  };
  const bool lazy0 = limited[0] && framedBands_ && edit != nullptr;

  for (int k = levels_ - 1; k >= 0; --k) {
    const int w = levelWidths_[k], h = levelHeights_[k];
    const int bw = (w + 1) / 2, bh = (h + 1) / 2;
    const SynthesisSpan& sp = spans[k];
    if (edit != nullptr && !(k == 0 && lazy0)) {
      if (limited[k]) {
        editRows(k, sp.y0, sp.y1);
      } else {
        editRows(k, 0, bh);
      }
    }
    float* bandOrigin[4];
    int bandStep;
    if (framedBands_) {
      bandStep = bandSteps_[k];
      for (int b = 0; b < 4; ++b) {
        bandOrigin[b] = bands_[4 * k + b];
        if (!limited[k]) {
          PrepareRegion(*extender_, bandOrigin[b], bandStep, bw, bh, borderBase_, paddingMethod_);
        }
      }
    } else {
      bandStep = workStep;
      for (int b = 0; b < 4; ++b) {
        bandOrigin[b] = workOrigin[b];
        ippiCopy_32f_C1R(bands_[4 * k + b], bw * 4, bandOrigin[b], bandStep, IppiSize{bw, bh});
        if (!limited[k]) {
          PrepareRegion(*extender_, bandOrigin[b], bandStep, bw, bh, borderBase_, paddingMethod_);
        }
      }
    }
    const auto inverse = [&](int offsetX, int offsetY, IppiSize roi, float* target,
                             int targetStep) {
      ippiWTInv_32f_C1R(At(bandOrigin[0], bandStep, offsetX, offsetY), bandStep,
                        At(bandOrigin[1], bandStep, offsetX, offsetY), bandStep,
                        At(bandOrigin[2], bandStep, offsetX, offsetY), bandStep,
                        At(bandOrigin[3], bandStep, offsetX, offsetY), bandStep, roi, target,
                        targetStep, spec.get(), buffer.get());
    };
    if (limited[k] && k > 0) {
      inverse(sp.u0, sp.v0, IppiSize{sp.u1 - sp.u0 + 1, sp.v1 - sp.v0 + 1},
              At(bands_[4 * (k - 1)], bandSteps_[k - 1], 2 * sp.u0, 2 * sp.v0), bandSteps_[k - 1]);
      continue;
    }
    if (limited[k]) {
      // The interior of the level-0 output is computed straight from the
      // bands seen from (margin / 2, margin / 2): the same sums as the full
      // output, without the full output image and its copy. Samples are
      // converted, and detail rows edited, a block of rows at a time, while
      // they are in the cache.
      const int offset = margin_ / 2;
      // Band rows read for output rows 2y .. 2y + 2 rows - 1 lie within
      // y + readLo .. y + rows - 1 + readHi, relative to the offset.
      int edited = 0;
      const auto editBefore = [&](int y, int rows) {
        if (!lazy0) return;
        const int from = std::max(edited, offset + y + readLo);
        const int to = std::min(bh, offset + y + rows - 1 + readHi + 1);
        if (to > from) editRows(0, from, to);
        edited = std::max(edited, to);
      };
      if constexpr (std::is_same_v<T, float>) {
        editBefore(0, height / 2);
        inverse(offset, offset, IppiSize{width / 2, height / 2}, destination, stride);
      } else {
        const int blockStep = width * 4;
        const int blocks = (height / 2 + kSynthesisBlockRows - 1) / kSynthesisBlockRows;
        // Blocks b0 .. b1 - 1 with the caller's work buffer or one of their
        // own, and a slot for the rows and the caller's scratch; every
        // output row is the same whichever run computes it.
        const bool parallel = kelvo::Threads() > 1 && blocks >= 4;
        // About four bands a thread, as the other parallel loops cut them.
        const int bands = parallel ? std::min(blocks, 4 * kelvo::Threads()) : 1;
        const auto roundUp = [](size_t n) { return (n + 63) / 64 * 64; };
        const size_t rowBytes =
            roundUp(sizeof(float) * 2 * kSynthesisBlockRows * static_cast<size_t>(width));
        const size_t slotBytes =
            rowBytes + roundUp(static_cast<size_t>(scratchPerRow) * 2 * kSynthesisBlockRows);
        const auto allocateSlot = [&] {
          kelvo::memory::BlockArray<unsigned char> slot =
              kelvo::memory::AllocateArray<unsigned char>(slotBytes);
          if (!slot) throw IPException(ErrorCode::kAllocationFailed, kWhere);
          return slot;
        };
        const auto run = [&](int b0, int b1, Ipp8u* work, bool editing, unsigned char* slot) {
          float* block = reinterpret_cast<float*>(slot);
          uint8_t* scratch = slot + rowBytes;
          for (int b = b0; b < b1; ++b) {
            const int y = b * kSynthesisBlockRows;
            const int rows = std::min(kSynthesisBlockRows, height / 2 - y);
            if (editing) editBefore(y, rows);
            ippiWTInv_32f_C1R(At(bandOrigin[0], bandStep, offset, offset + y), bandStep,
                              At(bandOrigin[1], bandStep, offset, offset + y), bandStep,
                              At(bandOrigin[2], bandStep, offset, offset + y), bandStep,
                              At(bandOrigin[3], bandStep, offset, offset + y), bandStep,
                              IppiSize{width / 2, rows}, block, blockStep, spec.get(), work);
            if (floats != nullptr) {
              (*floats)(2 * y, 2 * rows, block, blockStep, scratch);
              continue;
            }
            for (int r = 0; r < 2 * rows; ++r) {
              RowFromFloats(RowAt(block, blockStep, r), RowAt(destination, stride, 2 * y + r),
                            width);
            }
            if (done != nullptr) (*done)(2 * y, 2 * rows);
          }
        };
        if (parallel) {
          // On several threads, bands of blocks run whole, each on one
          // thread; the detail rows are edited first (an edit must run
          // once per row, and neighbouring bands read the same rows).
          if (lazy0) {
            const int from = offset + readLo;
            const int to = std::min(bh, offset + height / 2 - 1 + readHi + 1);
            kelvo::ParallelRows(to - from, kelvo::BandRows(3L * (spans[0].x1 - spans[0].x0)),
                                [&](int r0, int r1) {
                                  kelvo::ScopedThreads one(1);
                                  editRows(0, from + r0, from + r1);
                                });
          }
          kelvo::ParallelRows(bands, 1, [&](int s0, int s1) {
            kelvo::ScopedThreads one(1);
            detail::IppsBuffer<Ipp8u> own(ippsMalloc_8u(bufferSize > 0 ? bufferSize : 1));
            if (!own) {
              throw IPException(ErrorCode::kPrimitiveFailed,
                                "Wavelets::Reconstruct(ippsMalloc_8u)");
            }
            const PoolThreadSlot kept(slotBytes);
            kelvo::memory::BlockArray<unsigned char> slot;
            if (kept.get() == nullptr) slot = allocateSlot();
            for (int s = s0; s < s1; ++s) {
              run(static_cast<int>(static_cast<long>(blocks) * s / bands),
                  static_cast<int>(static_cast<long>(blocks) * (s + 1) / bands), own.get(), false,
                  kept.get() != nullptr ? kept.get() : slot.get());
            }
          });
        } else {
          const kelvo::memory::BlockArray<unsigned char> slot = allocateSlot();
          run(0, blocks, buffer.get(), true, slot.get());
        }
      }
      break;
    }
    float* target;
    int targetStep;
    if (k > 0) {
      target = bands_[4 * (k - 1)];
      targetStep = bandSteps_[k - 1];
    } else {
      output = AllocateFloats(static_cast<long long>(w) * h);
      if (!output) throw IPException(ErrorCode::kAllocationFailed, kWhere);
      target = output.get();
      targetStep = w * 4;
    }
    if (w % 2 == 0 && h % 2 == 0) {
      inverse(0, 0, IppiSize{bw, bh}, target, targetStep);
    } else {
      if (!temp) {
        temp = AllocateFloats(4LL * bw0 * bh0);
        if (!temp) throw IPException(ErrorCode::kAllocationFailed, kWhere);
      }
      inverse(0, 0, IppiSize{bw, bh}, temp.get(), 2 * bw0 * 4);
      ippiCopy_32f_C1R(temp.get(), 2 * bw0 * 4, target, targetStep, IppiSize{w, h});
    }
    if (k == 0 && floats != nullptr) {
      kelvo::memory::BlockArray<uint8_t> scratch = kelvo::memory::AllocateArray<uint8_t>(
          static_cast<size_t>(scratchPerRow) * static_cast<size_t>(height));
      if (!scratch) throw IPException(ErrorCode::kAllocationFailed, kWhere);
      (*floats)(0, height, At(output.get(), w * 4, margin_, margin_), w * 4, scratch.get());
    } else if (k == 0) {
      for (int y = 0; y < height; ++y) {
        RowFromFloats(At(output.get(), w * 4, margin_, margin_ + y), RowAt(destination, stride, y),
                      width);
      }
      if constexpr (!std::is_same_v<T, float>) {
        if (done != nullptr) (*done)(0, height);
      }
    }
  }
}

}  // namespace KelvoLibImageProcessing
