#pragma once

#include <malloc.h>

namespace kelvo::tools {

// The enhancement allocates frame-sized work buffers (a few MB to tens of MB)
// for every still. With glibc's default heap settings such blocks are mapped
// and unmapped on every call, so each still pays again for the kernel to
// fault in fresh zeroed pages; on virtual machines that costs more than the
// image processing itself (a 1080p still took four times as long). Keeping
// blocks up to the largest mapping threshold on the heap, and not trimming
// it back, lets the next still reuse warm pages. This is a whole-program
// choice, so the programs make it, not the library.
inline void KeepWorkBuffersWarm() {
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
}

}  // namespace kelvo::tools
