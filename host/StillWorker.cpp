#include "host/StillWorker.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kelvo::host {

namespace {

struct Job {
  StillWorker::Produce produce;
  StillWorker::Dropped dropped;
};

// A still a moment late does no harm; a stuttering stream does.
void LowerThisThreadsPriority() {
#ifdef __linux__
  // On Linux the nice value belongs to the thread, not the process.
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, tid);
  if (errno == 0) setpriority(PRIO_PROCESS, tid, std::min(nice + 5, 19));
#endif
}

}  // namespace

struct StillWorker::State {
  std::mutex lock;  // everything below but `silenced`
  std::condition_variable wake;  // a job arrived or the worker is to quit
  std::condition_variable idle;  // the queue ran empty
  std::deque<Job> queue;
  bool busy = false;     // the worker is running a job
  bool running = false;  // the worker thread exists
  bool quit = false;

  // Held while a `done` or a Produce runs, so that once Finish has given up
  // none can still be running or start.
  std::mutex doneLock;
  std::atomic<bool> silenced{false};  // set under doneLock

  void Report(const Item& item, const StillResult& result) {
    std::lock_guard<std::mutex> guard(doneLock);
    if (silenced || !item.done) return;
    try {
      item.done(item.still, result);
    } catch (...) {
      // A host's report failing must not end the worker.
    }
  }

  std::vector<Item> Produce(const Job& job) {
    std::lock_guard<std::mutex> guard(doneLock);
    if (silenced || !job.produce) return {};
    try {
      return job.produce();
    } catch (...) {
      return {};
    }
  }

  static void Run(std::shared_ptr<State> state) {
    LowerThisThreadsPriority();
    const StillWriter writer;
    std::unique_lock<std::mutex> lk(state->lock);
    for (;;) {
      state->wake.wait(lk, [&] { return state->quit || !state->queue.empty(); });
      if (state->queue.empty()) break;
      Job job = std::move(state->queue.front());
      state->queue.pop_front();
      state->busy = true;
      lk.unlock();
      std::vector<Item> items = state->Produce(job);
      job = {};
      for (Item& item : items) {
        StillResult result;
        if (item.failure.empty()) {
          result = writer.Write(item.still);
        } else {
          result.reason = std::move(item.failure);
        }
        state->Report(item, result);
        item = {};  // the frame's memory goes back before the next one is taken
      }
      items.clear();
      lk.lock();
      state->busy = false;
      if (state->queue.empty()) state->idle.notify_all();
    }
    state->running = false;
  }
};

StillWorker::StillWorker() : state_(std::make_shared<State>()) {}

StillWorker::~StillWorker() {
  Finish(kFinishLimit);
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->quit = true;
  state_->wake.notify_all();
}

bool StillWorker::Submit(Still still, Done done) noexcept {
  try {
    // Shared, so that the job's functions can be copied without the frame.
    auto item = std::make_shared<Item>();
    item->still = std::move(still);
    item->done = std::move(done);
    Produce produce = [item] {
      std::vector<Item> items;
      items.push_back(std::move(*item));
      return items;
    };
    Dropped dropped = [item](const std::string& why) {
      StillResult result;
      result.reason = "\"" + item->still.fileName + "\": " + why;
      if (item->done) item->done(item->still, result);
    };
    if (Submit(std::move(produce), std::move(dropped))) return true;
    // Not queued: the caller still owns the still.
    still = std::move(item->still);
    return false;
  } catch (...) {
    return false;
  }
}

bool StillWorker::Submit(Produce produce, Dropped dropped) noexcept {
  try {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->quit) return false;
    state_->queue.push_back({std::move(produce), std::move(dropped)});
    if (!state_->running) {
      try {
        // Detached: the thread holds the state, so a still left writing
        // after Finish gave up cannot outlive what it uses.
        std::thread(&State::Run, state_).detach();
        state_->running = true;
      } catch (...) {
        state_->queue.pop_back();
        return false;
      }
    }
    state_->wake.notify_one();
    return true;
  } catch (...) {
    return false;
  }
}

bool StillWorker::Drain(std::chrono::milliseconds limit) noexcept {
  std::unique_lock<std::mutex> lk(state_->lock);
  return state_->idle.wait_for(lk, limit, [&] { return state_->queue.empty() && !state_->busy; });
}

size_t StillWorker::Finish(std::chrono::milliseconds limit) noexcept {
  std::deque<Job> dropped;
  bool abandoned = false;
  {
    std::unique_lock<std::mutex> lk(state_->lock);
    // Once given up, nothing is reported any more and nothing is waited for.
    const bool done = state_->idle.wait_for(
        lk, state_->silenced ? std::chrono::milliseconds(0) : limit,
        [&] { return state_->queue.empty() && !state_->busy; });
    if (done) return 0;
    dropped.swap(state_->queue);
    abandoned = state_->busy;
  }
  std::string why;
  try {
    why = "not written: the stream stopped and the still was still waiting after " +
          std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) + " s";
  } catch (...) {
  }
  std::lock_guard<std::mutex> guard(state_->doneLock);
  for (const Job& job : dropped) {
    if (state_->silenced || !job.dropped) continue;
    try {
      job.dropped(why);
    } catch (...) {
    }
  }
  // The still being written, if any, is left to its own safe writer; its
  // report would come too late to be trusted, so none comes.
  state_->silenced = true;
  return dropped.size() + (abandoned ? 1 : 0);
}

}  // namespace kelvo::host
