// Image and signal allocators. Blocks come from the library's block cache (64-byte aligned); image
// rows are padded so that every row starts on a 32-byte boundary, which lets the SIMD paths use
// aligned row starts when they wish.

#include <cstdint>
#include <cstdlib>

#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/BlockCache.h"

namespace {

constexpr int64_t kAlign = 32;

void* AlignedAlloc(size_t bytes) {
  return kelvo::memory::AllocateBlock(bytes);
}

void AlignedFree(void* p) {
  kelvo::memory::FreeBlock(p);
}

int64_t RoundUp(int64_t n) {
  return (n + kAlign - 1) / kAlign * kAlign;
}

void* AllocImage(int width, int height, int bytesPerPixel, int* pStep) {
  if (pStep == nullptr || width < 1 || height < 1) return nullptr;
  const int64_t step = RoundUp(static_cast<int64_t>(width) * bytesPerPixel);
  if (step > INT32_MAX) return nullptr;
  const int64_t total = step * height;
  if (total > static_cast<int64_t>(SIZE_MAX / 2)) return nullptr;
  void* p = AlignedAlloc(static_cast<size_t>(total));
  if (p != nullptr) *pStep = static_cast<int>(step);
  return p;
}

}  // namespace

extern "C" {

Ipp8u* ippiMalloc_8u_C1(int widthPixels, int heightPixels, int* pStepBytes) noexcept {
  return static_cast<Ipp8u*>(AllocImage(widthPixels, heightPixels, 1, pStepBytes));
}
Ipp8u* ippiMalloc_8u_C3(int widthPixels, int heightPixels, int* pStepBytes) noexcept {
  return static_cast<Ipp8u*>(AllocImage(widthPixels, heightPixels, 3, pStepBytes));
}
Ipp16u* ippiMalloc_16u_C3(int widthPixels, int heightPixels, int* pStepBytes) noexcept {
  return static_cast<Ipp16u*>(AllocImage(widthPixels, heightPixels, 6, pStepBytes));
}
Ipp16s* ippiMalloc_16s_C3(int widthPixels, int heightPixels, int* pStepBytes) noexcept {
  return static_cast<Ipp16s*>(AllocImage(widthPixels, heightPixels, 6, pStepBytes));
}
void ippiFree(void* ptr) noexcept {
  AlignedFree(ptr);
}

Ipp8u* ippsMalloc_8u(int len) noexcept {
  if (len < 1) return nullptr;
  return static_cast<Ipp8u*>(AlignedAlloc(static_cast<size_t>(RoundUp(len))));
}
void ippsFree(void* ptr) noexcept {
  AlignedFree(ptr);
}

}  // extern "C"
