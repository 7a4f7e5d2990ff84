#pragma once

// How every primitive chooses its code path.
//
// Each family is a <Family>.cpp that defines HWY_TARGET_INCLUDE as itself,
// includes "hwy/foreach_target.h" and then its kernels in <family>-inl.h, so
// the kernels are compiled once per target (the one-lane generic HWY_SCALAR
// path and SSSE3, SSE4, AVX2, AVX3). After the per-target part the file, under
// #if HWY_ONCE, lists the kernels with HWY_EXPORT and calls them with
// HWY_DYNAMIC_DISPATCH from the extern "C" primitive, after checking the
// arguments. Kernels must give the same bytes on every target: vectorise
// across pixels, keep each pixel's sum in the reference order, use Mul then
// Add (never MulAdd), and run row tails through the same kernel on a
// one-lane tag.
//
// The choice itself is made once by ippStaticInit (StaticInit.cpp): it
// updates Highway's chosen target from the processor's features, or, with
// KELVO_NO_SIMD set, disables every target but the generic one for the rest
// of the process, so that nothing (not even a test that mocks and restores
// the supported targets) can bring a SIMD path back.

#include <cstdint>

namespace kelvo::primitives::detail {

// True when KELVO_NO_SIMD asks for the generic path (non-empty, not "0").
bool SimdDisabledByEnvironment();

}  // namespace kelvo::primitives::detail
