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

// The count in force on the calling thread: at least 1.
int Threads() noexcept;

// True when the count in force was chosen rather than defaulted: by
// KELVO_THREADS, SetThreads or a ScopedThreads on the calling thread. A
// caller that would use fewer threads than the default for a small job
// leaves a chosen count alone.
bool ThreadCountChosen() noexcept;

// Sets the count for the calling thread alone while it lives, over the
// process-wide one: a host's worker that enhances with a count of its own
// leaves other callers alone. 0 or less keeps the process-wide count.
// Scopes nest; each restores what it found.
class ScopedThreads {
 public:
  explicit ScopedThreads(int count) noexcept;
  ~ScopedThreads();
  ScopedThreads(const ScopedThreads&) = delete;
  ScopedThreads& operator=(const ScopedThreads&) = delete;

 private:
  int previous_;
};

}  // namespace kelvo
