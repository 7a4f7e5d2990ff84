#pragma once

// One worker thread that writes a host's stills, so the streaming thread
// only copies the frame out and goes on.
//
// A host may also hand over work that yields the stills (a copied frame that
// still has to be converted, or given to the filter that decides which
// stills it holds): it runs on the worker in the order submitted, before the
// stills it yields are written.
//
// Stills are written one at a time in the order they were submitted, each
// through a StillWriter, on a thread of lower priority than the host's own
// (where the system lets a thread's priority be set). Each still's `done`
// runs on the worker thread once its file is complete or has failed.
//
// Finish waits for everything submitted so far, up to a limit (a host waits
// at the end of the stream and before it stops, 10 s is the hosts' limit).
// When the limit passes, the stills not yet started are dropped (nothing of
// them was written, so there are no temporaries to remove) and reported
// through their `done` as not written. A still still being written then is
// left to finish on its own: its safe writer removes its temporary if it
// fails. After a Finish that timed out no `done` and no Produce is called
// any more, so the host may go away: a Produce runs under the same lock as
// the reports, so Finish also waits for one that is running (keep them
// short: the writing comes after).

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/StillWriter.h"

namespace kelvo::host {

class StillWorker {
 public:
  using Done = std::function<void(const Still&, const StillResult&)>;

  static constexpr std::chrono::seconds kFinishLimit{10};

  StillWorker();
  // Finish(kFinishLimit).
  ~StillWorker();
  StillWorker(const StillWorker&) = delete;
  StillWorker& operator=(const StillWorker&) = delete;

  // A still yielded by a Produce, with its report. A non-empty `failure`
  // reports the still as not written, with that reason, without writing it.
  struct Item {
    Still still;
    Done done;
    std::string failure;
  };
  // Runs on the worker and yields the stills to write. It may throw; it then
  // yields nothing.
  using Produce = std::function<std::vector<Item>()>;
  // Runs instead of a Produce that Finish gives up, with why.
  using Dropped = std::function<void(const std::string& why)>;

  // Queues a still. False when it could not be queued (no memory, or no
  // thread could be started); `done` is then never called and the caller
  // reports the still itself.
  bool Submit(Still still, Done done) noexcept;
  // Queues work that yields stills. False as above; neither function is
  // then called.
  bool Submit(Produce produce, Dropped dropped) noexcept;

  // Waits until every job submitted so far is done, at most `limit`, and
  // gives up nothing. True when everything was done.
  bool Drain(std::chrono::milliseconds limit) noexcept;

  // Waits until every still submitted so far is done, at most `limit`.
  // Returns how many were dropped or abandoned.
  size_t Finish(std::chrono::milliseconds limit) noexcept;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace kelvo::host
