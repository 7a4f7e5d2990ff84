#pragma once

// Row bands on the library's threads (see Threads.h).
//
// ParallelRows(rows, grain, fn) calls fn(begin, end) for bands that cover
// [0, rows) once each, on up to kelvo::Threads() threads, and returns when
// all are done. A band has at least `grain` rows unless the image is smaller,
// so tiny images and one-thread runs make a single call fn(0, rows) on the
// caller's thread. fn must compute each row the same whatever band it is in;
// an exception thrown by fn reaches the caller after the other bands stop.

#include <type_traits>

namespace kelvo {

using RowBandFn = void (*)(void* context, int begin, int end);

void RunRowBands(int rows, int grain, RowBandFn fn, void* context);

template <class Fn>
void ParallelRows(int rows, int grain, Fn&& fn) {
  using F = std::remove_reference_t<Fn>;
  RunRowBands(
      rows, grain, [](void* c, int begin, int end) { (*static_cast<F*>(c))(begin, end); },
      const_cast<std::remove_const_t<F>*>(&fn));
}

}  // namespace kelvo

#include <algorithm>
#include <cstdint>
#include <utility>

namespace kelvo {

// Rows a band needs so that the work of one band outweighs handing it to
// another thread: about 32K samples.
inline int BandRows(long samplesPerRow) {
  return static_cast<int>(std::max<long>(1, (32768 + samplesPerRow - 1) / std::max(samplesPerRow, 1L)));
}

// True when the destination rows [0, rows) cannot share a byte with the
// source rows [-reach, rows + reach): only then may bands of an image be
// written while other bands still read it.
inline bool Disjoint(const void* src, int srcStep, const void* dst, int dstStep, int rows,
                     int reach) {
  const auto span = [](const void* p, int step, int from, int to) {
    const std::intptr_t base = reinterpret_cast<std::intptr_t>(p);
    const std::intptr_t a = base + static_cast<std::intptr_t>(step) * from;
    const std::intptr_t b = base + static_cast<std::intptr_t>(step) * to;
    return std::pair<std::intptr_t, std::intptr_t>(std::min(a, b), std::max(a, b));
  };
  const auto s = span(src, srcStep, -reach, rows + reach + 1);
  const auto d = span(dst, dstStep, 0, rows + 1);
  return s.second <= d.first || d.second <= s.first;
}

}  // namespace kelvo
