// The hosts' still worker: writes in order off the caller's thread, reports
// each still once its file is complete, and gives up at its limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/StillWorker.h"
#include "tests/gst/GstTestSupport.h"

namespace {

using kelvo::host::Still;
using kelvo::host::StillResult;
using kelvo::host::StillWorker;

Still GreyStill(int width, int height, const std::string& file, bool enhance) {
  Still still;
  still.width = width;
  still.height = height;
  still.fileName = file;
  still.enhance = enhance;
  still.pixels.assign(static_cast<size_t>(width) * height * 3, 0);
  for (size_t i = 0; i < still.pixels.size(); ++i) still.pixels[i] = static_cast<uint8_t>(i * 7 % 251);
  return still;
}

struct Reported {
  std::string file;
  bool written;
  std::string reason;
  bool complete;  // the file was a whole JPEG when reported
  std::thread::id thread;
};

TEST(StillWorker, WritesInOrderOffTheCallersThreadAndGivesUpAtItsLimit) {
  const std::string dir = kelvo::test::MakeTempFolder();
  std::mutex lock;
  std::vector<Reported> reported;
  auto done = [&](const Still& still, const StillResult& result) {
    kelvo::test::Jpeg jpeg;
    const bool complete = kelvo::test::ReadJpeg(still.fileName, &jpeg);
    std::lock_guard<std::mutex> guard(lock);
    reported.push_back({still.fileName, result.written, result.reason, complete,
                        std::this_thread::get_id()});
  };

  StillWorker worker;
  const std::vector<std::string> files = {dir + "/a.jpg", dir + "/b.jpg", dir + "/c.jpg"};
  for (const std::string& file : files) ASSERT_TRUE(worker.Submit(GreyStill(64, 48, file, false), done));
  EXPECT_EQ(worker.Finish(StillWorker::kFinishLimit), 0u);
  ASSERT_EQ(reported.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(reported[i].file, files[i]);
    EXPECT_TRUE(reported[i].written) << reported[i].reason;
    EXPECT_TRUE(reported[i].complete) << "reported before the file was complete";
    EXPECT_NE(reported[i].thread, std::this_thread::get_id());
  }

  // Enhanced stills take long enough that a limit of nothing finds the
  // later ones not started: they are reported as not written and never
  // appear; the one being written, if any, finishes without a report.
  reported.clear();
  const std::vector<std::string> slow = {dir + "/d.jpg", dir + "/e.jpg", dir + "/f.jpg"};
  for (const std::string& file : slow) ASSERT_TRUE(worker.Submit(GreyStill(640, 480, file, true), done));
  const size_t givenUp = worker.Finish(std::chrono::milliseconds(0));
  EXPECT_GE(givenUp, 2u);
  std::vector<Reported> dropped;
  {
    std::lock_guard<std::mutex> guard(lock);
    dropped = reported;
  }
  ASSERT_GE(dropped.size(), 2u);
  ASSERT_LE(dropped.size(), givenUp);
  for (const Reported& r : dropped) {
    EXPECT_FALSE(r.written);
    EXPECT_NE(r.reason.find("not written"), std::string::npos) << r.reason;
    EXPECT_NE(r.reason.find(r.file), std::string::npos) << r.reason;
    EXPECT_FALSE(kelvo::test::FileExists(r.file));
  }
  // Wait (within a limit) for the abandoned still before the folder goes.
  if (dropped.size() < givenUp) {
    const std::string& busy = slow[slow.size() - givenUp];
    for (int i = 0; i < 200 && !kelvo::test::FileExists(busy); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(kelvo::test::FileExists(busy));
  }
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(reported.size(), dropped.size()) << "reported after giving up";
  kelvo::test::RemoveTree(dir);
}

// Work that yields stills runs on the worker in submission order with the
// plain stills, its stills are written after it, a failure it yields is
// reported without a file, and work given up says why instead of running.
TEST(StillWorker, RunsWorkThatYieldsStillsInOrderAndReportsWorkGivenUp) {
  const std::string dir = kelvo::test::MakeTempFolder();
  std::mutex lock;
  std::vector<std::string> events;
  auto note = [&](const std::string& what) {
    std::lock_guard<std::mutex> guard(lock);
    events.push_back(what);
  };
  auto done = [&](const Still& still, const StillResult& result) {
    note((result.written ? "wrote " : "failed ") + still.fileName.substr(dir.size() + 1));
  };
  StillWorker worker;
  ASSERT_TRUE(worker.Submit(GreyStill(32, 24, dir + "/a.jpg", false), done));
  StillWorker::Produce produce = [&] {
    note("produce");
    std::vector<StillWorker::Item> items(2);
    items[0].still = GreyStill(32, 24, dir + "/b.jpg", false);
    items[0].done = done;
    items[1].still.fileName = dir + "/c.jpg";
    items[1].done = done;
    items[1].failure = "no frame";
    return items;
  };
  ASSERT_TRUE(worker.Submit(produce, [&](const std::string&) { note("dropped"); }));
  EXPECT_TRUE(worker.Drain(StillWorker::kFinishLimit));
  {
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(events, (std::vector<std::string>{"wrote a.jpg", "produce", "wrote b.jpg", "failed c.jpg"}));
    events.clear();
  }
  EXPECT_FALSE(kelvo::test::FileExists(dir + "/c.jpg"));

  // Behind work that is running, work not yet started is given up with the
  // reason; Finish waits for the running work, which yields nothing more.
  std::atomic<bool> started{false};
  ASSERT_TRUE(worker.Submit(
      [&] {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return std::vector<StillWorker::Item>{};
      },
      nullptr));
  std::string why;
  ASSERT_TRUE(worker.Submit(produce, [&](const std::string& reason) { why = reason; }));
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(worker.Finish(std::chrono::milliseconds(0)), 2u);
  EXPECT_NE(why.find("not written"), std::string::npos) << why;
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_TRUE(events.empty()) << "work given up must not run";
  kelvo::test::RemoveTree(dir);
}

}  // namespace
