// The element's prediction of which stills the filter writes on a frame.
#include <gtest/gtest.h>

#include "gst/StillSchedule.h"

namespace {

using kelvo::gst::StillSchedule;
using kelvo::gst::StillTarget;

constexpr int64_t Ticks(double seconds) { return static_cast<int64_t>(seconds * 1e7 + 0.5); }

TEST(StillSchedule, HalfFrameIsRoundedTo10MicrosecondsAndBadRatesChangeNothing) {
  EXPECT_DOUBLE_EQ(StillSchedule::HalfFrameFor(30), 0.01667);
  EXPECT_DOUBLE_EQ(StillSchedule::HalfFrameFor(25), 0.02);
  EXPECT_DOUBLE_EQ(StillSchedule::HalfFrameFor(24), 0.02083);
  EXPECT_DOUBLE_EQ(StillSchedule::HalfFrameFor(1), 0.5);
  StillSchedule s;
  s.SetFrameRate(25);
  s.SetFrameRate(0);
  s.SetFrameRate(-5);
  EXPECT_DOUBLE_EQ(s.HalfFrame(), 0.02);
}

TEST(StillSchedule, RequestIntervalIsOpenAtBothEnds) {
  StillSchedule s;
  s.SetFrameRate(30);
  s.AddRequest({"r.jpg", 2.0, false, false});
  EXPECT_TRUE(s.DueAt(Ticks(1.995)).empty());
  EXPECT_EQ(s.DueAt(Ticks(1.9951)).size(), 1u);
  EXPECT_EQ(s.DueAt(Ticks(2.0283)).size(), 1u);
  EXPECT_TRUE(s.DueAt(Ticks(2.02834)).empty());
}

TEST(StillSchedule, WithoutARateNoRequestIsEverDueButTheMainGrabIs) {
  StillSchedule s;
  s.AddRequest({"r.jpg", 1.0, false, false});
  s.SetMain(true, 1.0, false, "m.jpg");
  EXPECT_TRUE(s.DueAt(Ticks(0.999)).empty());
  const auto due = s.DueAt(Ticks(1.0));
  ASSERT_EQ(due.size(), 1u);
  EXPECT_TRUE(due[0].main);
}

TEST(StillSchedule, MainFirstThenRequestsInQueueOrderThenMainNeverAgain) {
  StillSchedule s;
  s.SetFrameRate(25);
  s.SetMain(true, 0.5, true, "m.jpg");
  s.AddRequest({"b.jpg", 1.0, false, false});
  s.AddRequest({"a.jpg", 1.0, true, false});
  s.AddRequest({"c.jpg", 3.0, false, false});
  const auto due = s.DueAt(Ticks(1.0));
  ASSERT_EQ(due.size(), 3u);
  EXPECT_EQ(due[0].fileName, "m.jpg");
  EXPECT_TRUE(due[0].enhance);
  EXPECT_EQ(due[1].fileName, "b.jpg");
  EXPECT_EQ(due[2].fileName, "a.jpg");
  EXPECT_TRUE(due[2].enhance);
  s.MarkWritten(Ticks(1.0));
  EXPECT_TRUE(s.GrabDone());
  EXPECT_FALSE(s.MainPending());
  ASSERT_EQ(s.Requests().size(), 1u);
  EXPECT_EQ(s.Requests()[0].fileName, "c.jpg");
  EXPECT_TRUE(s.DueAt(Ticks(1.0)).empty()) << "served requests leave, the main grab is done";
}

TEST(StillSchedule, AnUnarmedMainGrabNeverFiresAndNothingDueLeavesStateAlone) {
  StillSchedule s;
  s.SetFrameRate(25);
  s.SetMain(false, 0.0, false, "");
  EXPECT_TRUE(s.DueAt(Ticks(5.0)).empty());
  s.MarkWritten(Ticks(5.0));
  EXPECT_FALSE(s.GrabDone());
}

}  // namespace
