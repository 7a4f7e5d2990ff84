#include "imaging/primitives/Threads.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "imaging/primitives/ParallelRows.h"

#if defined(__linux__)
#include <sched.h>
#endif

#if KELVO_HAVE_TBB
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>
#endif

namespace kelvo {
namespace {

constexpr int kMaxThreads = 256;

// 0 until set: the default applies.
std::atomic<int> g_requested{0};
// The calling thread's own count (ScopedThreads); 0: none.
thread_local int t_scoped = 0;

[[maybe_unused]] int CoresAvailable() noexcept {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
#endif
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

// KELVO_THREADS when it holds a positive number; 0 otherwise.
int EnvThreads() noexcept {
  static const int count = [] {
    if (const char* env = std::getenv("KELVO_THREADS")) {
      char* end = nullptr;
      const long v = std::strtol(env, &end, 10);
      if (end != env && *end == '\0' && v > 0)
        return static_cast<int>(std::min<long>(v, kMaxThreads));
    }
    return 0;
  }();
  return count;
}

[[maybe_unused]] int DefaultThreads() noexcept {
  static const int count = [] {
    const int env = EnvThreads();
    return env > 0 ? env : std::min(CoresAvailable(), kMaxThreads);
  }();
  return count;
}

}  // namespace

void SetThreads(int count) noexcept {
  g_requested.store(count <= 0 ? 0 : std::min(count, kMaxThreads), std::memory_order_relaxed);
}

bool ThreadCountChosen() noexcept {
  return t_scoped > 0 || g_requested.load(std::memory_order_relaxed) > 0 || EnvThreads() > 0;
}

ScopedThreads::ScopedThreads(int count) noexcept : previous_(t_scoped) {
  if (count > 0) t_scoped = std::min(count, kMaxThreads);
}

ScopedThreads::~ScopedThreads() { t_scoped = previous_; }

int Threads() noexcept {
#if KELVO_HAVE_TBB
  if (t_scoped > 0) return t_scoped;
  const int n = g_requested.load(std::memory_order_relaxed);
  return n > 0 ? n : DefaultThreads();
#else
  return 1;
#endif
}

#if KELVO_HAVE_TBB
namespace {

// One arena per count in use, kept: callers on different threads may use
// different counts at once (ScopedThreads), and an arena costs only its
// bookkeeping until it runs work.
std::shared_ptr<tbb::task_arena> Arena(int threads) {
  static std::mutex mutex;
  static std::map<int, std::shared_ptr<tbb::task_arena>> arenas;
  std::lock_guard<std::mutex> lock(mutex);
  std::shared_ptr<tbb::task_arena>& arena = arenas[threads];
  if (!arena) arena = std::make_shared<tbb::task_arena>(threads);
  return arena;
}

}  // namespace
#endif

void RunRowBands(int rows, int grain, RowBandFn fn, void* context) {
  if (rows <= 0) return;
  grain = std::max(grain, 1);
  const int threads = Threads();
  if (threads <= 1 || rows < 2 * grain) {
    fn(context, 0, rows);
    return;
  }
#if KELVO_HAVE_TBB
  // About four bands a thread, so a thread that is held up (the machine is
  // shared) leaves its neighbours something to take over.
  const int band = std::max(grain, (rows + 4 * threads - 1) / (4 * threads));
  std::shared_ptr<tbb::task_arena> arena;
  try {
    arena = Arena(threads);
  } catch (...) {
    // No memory for the arena: the caller's thread does all the work.
    fn(context, 0, rows);
    return;
  }
  arena->execute([&] {
    tbb::parallel_for(
        tbb::blocked_range<int>(0, rows, static_cast<std::size_t>(band)),
        [&](const tbb::blocked_range<int>& r) { fn(context, r.begin(), r.end()); },
        tbb::simple_partitioner());
  });
#else
  fn(context, 0, rows);
#endif
}

}  // namespace kelvo
