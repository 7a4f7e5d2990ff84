#include "python/src/ArrayEnhance.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "imaging/core/BitmapData.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "imaging/primitives/ParallelRows.h"

namespace py = pybind11;

namespace kelvo::python {

namespace {

using KelvoLibImageProcessing::BitmapData;
using KelvoLibImageProcessing::EnhanceAnySize;
using KelvoLibImageProcessing::EnhanceOptions;
using KelvoLibImageProcessing::PipelineSnapshot;

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(a.shape(i));
  }
  if (a.ndim() == 1) text += ",";
  return text + ")";
}

// Exchanges the first and last byte of each three of `bytes` bytes (a
// multiple of 3) from in to out, which may be the same memory: each block is
// read whole before it is written.
//
// With SSSE3 (every x86-64 processor since 2006) 16 pixels at a time: each
// 16-byte piece of the result is the or of byte shuffles of the one, two or
// three 16-byte pieces of the source its bytes come from. That runs at the
// speed of memory, three to four times the compiler's vectorised loop.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("ssse3"))) void SwapOuterBlocks(const uint8_t* in, uint8_t* out,
                                                      py::ssize_t* done, py::ssize_t bytes) {
  constexpr char Z = -128;  // a shuffle index that gives 0
  const __m128i m00 = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, Z);
  const __m128i m01 = _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 1);
  const __m128i m10 = _mm_setr_epi8(Z, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z);
  const __m128i m11 = _mm_setr_epi8(0, Z, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, Z, 15);
  const __m128i m12 = _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 0, Z);
  const __m128i m21 = _mm_setr_epi8(14, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z);
  const __m128i m22 = _mm_setr_epi8(Z, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
  py::ssize_t i = 0;
  for (; i + 48 <= bytes; i += 48) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 32));
    const __m128i o0 = _mm_or_si128(_mm_shuffle_epi8(a, m00), _mm_shuffle_epi8(b, m01));
    const __m128i o1 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m10), _mm_shuffle_epi8(b, m11)),
                                    _mm_shuffle_epi8(c, m12));
    const __m128i o2 = _mm_or_si128(_mm_shuffle_epi8(b, m21), _mm_shuffle_epi8(c, m22));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), o0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 16), o1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 32), o2);
  }
  *done = i;
}
#endif

void SwapOuter(const uint8_t* in, uint8_t* out, py::ssize_t bytes) {
  py::ssize_t i = 0;
#if defined(__x86_64__) || defined(__i386__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) SwapOuterBlocks(in, out, &i, bytes);
#endif
  for (; i + 2 < bytes; i += 3) {
    const uint8_t first = in[i];
    out[i] = in[i + 2];
    out[i + 1] = in[i + 1];
    out[i + 2] = first;
  }
}

// Copies a strided H x W x 3 array into rows of 3 * width bytes, reversing
// the channel order when swap is set.
void CopyIn(const uint8_t* base, py::ssize_t rowStep, py::ssize_t pixelStep,
            py::ssize_t channelStep, py::ssize_t width, py::ssize_t height, bool swap,
            uint8_t* out) {
  if (!swap && pixelStep == 3 && channelStep == 1) {
    for (py::ssize_t y = 0; y < height; ++y) {
      std::memcpy(out + y * 3 * width, base + y * rowStep, static_cast<size_t>(3 * width));
    }
    return;
  }
  if (swap && pixelStep == 3 && channelStep == 1) {
    for (py::ssize_t y = 0; y < height; ++y) {
      SwapOuter(base + y * rowStep, out + y * 3 * width, 3 * width);
    }
    return;
  }
  const py::ssize_t c0 = swap ? 2 * channelStep : 0;
  const py::ssize_t c2 = swap ? 0 : 2 * channelStep;
  for (py::ssize_t y = 0; y < height; ++y) {
    const uint8_t* p = base + y * rowStep;
    uint8_t* d = out + y * 3 * width;
    for (py::ssize_t x = 0; x < width; ++x, p += pixelStep, d += 3) {
      d[0] = p[c0];
      d[1] = p[channelStep];
      d[2] = p[c2];
    }
  }
}

}  // namespace

py::tuple EnhanceArray(const py::handle& image, const EnhanceOptions& options,
                       const std::string& channels) {
  bool rgb = false;
  if (channels == "rgb") {
    rgb = true;
  } else if (channels != "bgr") {
    throw py::value_error("channels must be \"rgb\" or \"bgr\", not \"" + channels + "\"");
  }
  if (!py::isinstance<py::array>(image)) {
    throw py::type_error("image must be a numpy array of uint8 (H x W x 3), not " +
                         std::string(py::str(py::type::of(image).attr("__name__"))));
  }
  const auto a = py::reinterpret_borrow<py::array>(image);
  if (a.dtype().kind() != 'u' || a.dtype().itemsize() != 1) {
    throw py::type_error("image must have dtype uint8, not " + std::string(py::str(a.dtype())));
  }
  if (a.ndim() != 3 || a.shape(2) != 3) {
    throw py::value_error("image must have shape (height, width, 3), not " + ShapeText(a));
  }
  const py::ssize_t height = a.shape(0), width = a.shape(1);
  if (height < 1 || width < 1) {
    throw py::value_error("image must be at least 1 x 1 pixels, not " + ShapeText(a));
  }
  if (width > INT_MAX / 3 || height > INT_MAX / 3) {
    throw py::value_error("image is too large: a side may have at most " +
                          std::to_string(INT_MAX / 3) + " pixels, and the shape is " +
                          ShapeText(a));
  }
  const int w = static_cast<int>(width), h = static_cast<int>(height);

  // The image is copied once, into a work image of the pipeline's own
  // layout, which the pipeline then enhances in place (at the sizes it
  // takes as they are, without a copy of its own) and which becomes the
  // result's memory: one copy in, none out, and RGB swapped on the way in
  // and back in place. Both passes only move memory, so they run on row
  // bands on the library's threads, as the pipeline's own stages do: one
  // core cannot draw the memory's whole bandwidth.
  auto work = std::make_unique<BitmapData>();
  const auto* in = static_cast<const uint8_t*>(a.data());
  const py::ssize_t s0 = a.strides(0), s1 = a.strides(1), s2 = a.strides(2);
  PipelineSnapshot::Report report;
  {
    py::gil_scoped_release release;
    work->Initialize(w, h, KelvoLibImageProcessing::kFormatBGR8, nullptr, 3 * w);
    uint8_t* data = work->GetData();
    const int grain = kelvo::BandRows(3L * w);
    kelvo::ParallelRows(h, grain, [&](int begin, int end) {
      CopyIn(in + begin * s0, s0, s1, s2, width, end - begin, rgb, data + begin * 3 * width);
    });
    report = EnhanceAnySize(*work, *work, options);
    if (rgb) {
      kelvo::ParallelRows(h, grain, [&](int begin, int end) {
        uint8_t* rows = data + begin * 3 * width;
        SwapOuter(rows, rows, 3 * width * (end - begin));
      });
    }
  }
  BitmapData* pixels = work.get();
  py::capsule keeper(pixels, [](void* p) { delete static_cast<BitmapData*>(p); });
  work.release();  // the capsule owns it now
  py::array_t<uint8_t> result({height, width, py::ssize_t{3}},
                              {py::ssize_t{pixels->GetStride()}, py::ssize_t{3}, py::ssize_t{1}},
                              pixels->GetData(), keeper);
  return py::make_tuple(result, report);
}

}  // namespace kelvo::python
