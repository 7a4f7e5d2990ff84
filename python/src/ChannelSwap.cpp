#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "python/src/ChannelSwap.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace kelvo::python::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Whole vectors of pixels are read before they are written, so in and out
// may be the same memory; the tail of fewer pixels than a vector holds goes
// byte by byte.
void SwapOuter(const uint8_t* in, uint8_t* out, size_t bytes) {
  const hn::ScalableTag<uint8_t> d;
  const size_t block = 3 * hn::Lanes(d);
  size_t i = 0;
  for (; i + block <= bytes; i += block) {
    hn::Vec<decltype(d)> first, second, third;
    hn::LoadInterleaved3(d, in + i, first, second, third);
    hn::StoreInterleaved3(third, second, first, d, out + i);
  }
  for (; i + 2 < bytes; i += 3) {
    const uint8_t first = in[i];
    out[i] = in[i + 2];
    out[i + 1] = in[i + 1];
    out[i + 2] = first;
  }
}

}  // namespace kelvo::python::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "python/src/ChannelSwap.h"

namespace kelvo::python {

HWY_EXPORT(SwapOuter);

void SwapOuterChannels(const uint8_t* in, uint8_t* out, size_t bytes) {
  HWY_DYNAMIC_DISPATCH(SwapOuter)(in, out, bytes);
}

}  // namespace kelvo::python
#endif  // HWY_ONCE
