#pragma once

// How many threads the library may use for one image.
//
// Heavy loops run on bands of rows at once. Every row is computed exactly as
// on one thread, so the result never depends on the count; only the time
// does. The default is the number of cores this process may run on, or
// KELVO_THREADS from the environment when it holds a positive number. Builds
// without oneTBB (the Windows module) always run on the caller's thread.

namespace kelvo {

// Sets the count for every later call in the process; 0 or less returns to
// the default. Counts above 256 are taken as 256.
void SetThreads(int count) noexcept;

// The count in force: at least 1.
int Threads() noexcept;

}  // namespace kelvo
