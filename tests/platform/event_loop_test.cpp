#include "platform/event_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace keep::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

class EventLoopTest : public ::testing::Test {
 protected:
  // Advances the clock and runs what became due; returns how many callbacks ran.
  size_t Advance(int64_t ms) {
    clock_.AdvanceMs(ms);
    return loop_.RunDue();
  }
  // A callback that records `name` with the clock reading.
  EventLoop::Task Record(std::string name) {
    return [this, name] { fired_.push_back(name + "@" + std::to_string(clock_.NowMs())); };
  }

  ManualClock clock_;
  EventLoop loop_{clock_};
  std::vector<std::string> fired_;
};

TEST_F(EventLoopTest, OneShotFiresOnceAtItsTimeAndNotBefore) {
  const EventLoop::TimerId id = loop_.AddTimer(100, false, Record("a"));
  EXPECT_NE(id, 0u);
  EXPECT_EQ(Advance(99), 0u);
  EXPECT_EQ(Advance(1), 1u);
  EXPECT_FALSE(loop_.HasTimer(id));
  EXPECT_EQ(Advance(1000), 0u);
  EXPECT_THAT(fired_, ElementsAre("a@100"));
}

TEST_F(EventLoopTest, OneShotIsForgottenBeforeItsCallbackRuns) {
  EventLoop::TimerId id = 0;
  bool known_inside = true;
  id = loop_.AddTimer(10, false, [&] { known_inside = loop_.HasTimer(id); });
  Advance(10);
  EXPECT_FALSE(known_inside);
}

TEST_F(EventLoopTest, RepeatingTimerFiresEachPeriodAndKeepsPhase) {
  loop_.AddTimer(100, true, Record("r"));
  Advance(50);
  Advance(60);   // 110: fired for 100
  Advance(80);   // 190: nothing, the next tick is at 200, not 210
  Advance(10);   // 200
  Advance(100);  // 300
  EXPECT_THAT(fired_, ElementsAre("r@110", "r@200", "r@300"));
}

TEST_F(EventLoopTest, LateLoopFiresOnceThenKeepsPhase) {
  loop_.AddTimer(100, true, Record("r"));
  EXPECT_EQ(Advance(350), 1u);  // three ticks missed: one run, no burst
  EXPECT_EQ(Advance(49), 0u);   // 399
  EXPECT_EQ(Advance(1), 1u);    // 400, on the original phase
  EXPECT_EQ(Advance(100), 1u);  // exactly one period late again
  EXPECT_THAT(fired_, ElementsAre("r@350", "r@400", "r@500"));
}

TEST_F(EventLoopTest, SimultaneousTimersFireInCreationOrder) {
  loop_.AddTimer(300, false, Record("c"));
  loop_.AddTimer(100, true, Record("r"));  // meets "b" at 200 and "c", "d" at 300
  loop_.AddTimer(300, false, Record("d"));
  loop_.AddTimer(200, false, Record("b"));
  Advance(100);
  Advance(100);
  Advance(100);
  loop_.AddTimer(100, false, Record("x"));  // meets "r" at 400
  Advance(100);
  EXPECT_THAT(fired_, ElementsAre("r@100", "r@200", "b@200", "c@300", "r@300", "d@300", "r@400", "x@400"));
}

TEST_F(EventLoopTest, OverdueTimersFireInOrderOfDueTime) {
  loop_.AddTimer(200, false, Record("late"));
  loop_.AddTimer(100, false, Record("early"));
  EXPECT_EQ(Advance(300), 2u);
  EXPECT_THAT(fired_, ElementsAre("early@300", "late@300"));
}

TEST_F(EventLoopTest, CallbackCancelsItselfAndAnotherDueTimer) {
  EventLoop::TimerId self = 0;
  EventLoop::TimerId victim = 0;
  int self_runs = 0;
  self = loop_.AddTimer(100, true, [&] {
    ++self_runs;
    loop_.CancelTimer(self);
    loop_.CancelTimer(victim);
    loop_.CancelTimer(12345);  // unknown: nothing happens
  });
  victim = loop_.AddTimer(100, true, Record("victim"));  // due in the same pass, after "self"
  EXPECT_EQ(Advance(100), 1u);
  EXPECT_EQ(Advance(1000), 0u);
  EXPECT_EQ(self_runs, 1);
  EXPECT_TRUE(fired_.empty());
  EXPECT_FALSE(loop_.HasTimer(self));
  EXPECT_EQ(loop_.MsUntilNextWork(), -1);
}

TEST_F(EventLoopTest, CallbackAddsTimersAndPostsTasks) {
  loop_.AddTimer(100, false, [&] {
    fired_.push_back("first");
    loop_.AddTimer(0, false, Record("now"));
    loop_.AddTimer(50, false, Record("later"));
    loop_.Post([&] { fired_.push_back("task"); });
  });
  EXPECT_EQ(Advance(100), 3u);  // the zero-delay timer and the task run in the same call
  EXPECT_THAT(fired_, UnorderedElementsAre("first", "task", "now@100"));
  fired_.clear();
  EXPECT_EQ(Advance(50), 1u);
  EXPECT_THAT(fired_, ElementsAre("later@150"));
}

TEST_F(EventLoopTest, IdsAreNeverReused) {
  const EventLoop::TimerId a = loop_.AddTimer(0, false, [] {});
  loop_.CancelTimer(a);
  const EventLoop::TimerId b = loop_.AddTimer(0, false, [] {});
  EXPECT_NE(a, b);
  loop_.CancelTimer(a);  // stale id must not cancel the new timer
  EXPECT_TRUE(loop_.HasTimer(b));
}

TEST_F(EventLoopTest, ZeroIntervalRepeatingTimerFiresOncePerRunDue) {
  int runs = 0;
  loop_.AddTimer(0, true, [&] { ++runs; });
  loop_.AddTimer(-5, true, [&] { ++runs; });  // negative is taken as zero
  EXPECT_EQ(loop_.RunDue(), 2u);
  EXPECT_EQ(loop_.RunDue(), 2u);
  EXPECT_EQ(runs, 4);
  EXPECT_EQ(loop_.MsUntilNextWork(), 0);
}

TEST_F(EventLoopTest, MsUntilNextWorkReportsTheNearestWork) {
  EXPECT_EQ(loop_.MsUntilNextWork(), -1);
  loop_.AddTimer(250, false, [] {});
  const EventLoop::TimerId near = loop_.AddTimer(100, false, [] {});
  EXPECT_EQ(loop_.MsUntilNextWork(), 100);
  clock_.AdvanceMs(40);
  EXPECT_EQ(loop_.MsUntilNextWork(), 60);
  clock_.AdvanceMs(500);
  EXPECT_EQ(loop_.MsUntilNextWork(), 0);  // overdue
  clock_.AdvanceMs(-1000);                // ignored: the clock never goes back
  EXPECT_EQ(loop_.MsUntilNextWork(), 0);
  loop_.RunDue();
  EXPECT_EQ(loop_.MsUntilNextWork(), -1);
  EXPECT_FALSE(loop_.HasTimer(near));
  loop_.Post([] {});
  EXPECT_EQ(loop_.MsUntilNextWork(), 0);
}

TEST_F(EventLoopTest, HugeIntervalDoesNotOverflow) {
  clock_.AdvanceMs(1000);
  loop_.AddTimer(INT64_MAX, true, Record("never"));
  EXPECT_GT(loop_.MsUntilNextWork(), int64_t{1} << 60);
  EXPECT_EQ(Advance(int64_t{1} << 40), 0u);
}

TEST_F(EventLoopTest, PostedTasksRunInOrder) {
  for (int i = 0; i < 5; ++i) loop_.Post([this, i] { fired_.push_back(std::to_string(i)); });
  EXPECT_EQ(loop_.RunDue(), 5u);
  EXPECT_EQ(loop_.RunDue(), 0u);
  EXPECT_THAT(fired_, ElementsAre("0", "1", "2", "3", "4"));
}

TEST_F(EventLoopTest, StopFromACallbackEndsRunDueAfterThatCallback) {
  loop_.Post([&] { fired_.push_back("a"); });
  loop_.Post([&] { loop_.Stop(); });
  loop_.Post([&] { fired_.push_back("c"); });
  loop_.AddTimer(0, false, Record("t"));
  EXPECT_EQ(loop_.RunDue(), 2u);
  EXPECT_TRUE(loop_.Stopped());
  EXPECT_EQ(loop_.RunDue(), 0u);  // final
  EXPECT_THAT(fired_, ElementsAre("a"));
}

TEST_F(EventLoopTest, TasksPostedFromManyThreadsAllArriveInPerThreadOrder) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2000;
  std::vector<std::vector<int>> seen(kThreads);  // touched only on the loop thread
  int total = 0;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        loop_.Post([&, t, i] {
          seen[t].push_back(i);
          ++total;
        });
      }
    });
  }
  // Drain while the posters are still running, to race Post against RunDue.
  while (total < kThreads * kPerThread) loop_.RunDue();
  for (auto& poster : posters) poster.join();
  EXPECT_EQ(loop_.RunDue(), 0u);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST(EventLoopThreadTest, LoopCallsFromAnotherThreadAbort) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ManualClock clock;
  EventLoop loop(clock);
  EXPECT_TRUE(loop.IsInLoopThread());
  EXPECT_DEATH(std::thread([&] { loop.AddTimer(10, false, [] {}); }).join(), "AddTimer");
  EXPECT_DEATH(std::thread([&] { loop.CancelTimer(1); }).join(), "CancelTimer");
  EXPECT_DEATH(std::thread([&] { loop.Run(); }).join(), "Run");
  bool in_loop_thread = true;
  std::thread([&] { in_loop_thread = loop.IsInLoopThread(); }).join();
  EXPECT_FALSE(in_loop_thread);
}

// Run() with the real clock and real threads. A watchdog timer bounds each test: if the wake-up under
// test were lost, the watchdog would end Run() and the test would fail instead of hanging.
class EventLoopRunTest : public ::testing::Test {
 protected:
  void ArmWatchdog() {
    loop_.AddTimer(10'000, false, [this] {
      watchdog_fired_ = true;
      loop_.Stop();
    });
  }
  std::unique_ptr<MonotonicClock> clock_ = MonotonicClock::CreateReal();
  EventLoop loop_{*clock_};
  bool watchdog_fired_ = false;
};

TEST_F(EventLoopRunTest, PostFromAnotherThreadWakesRun) {
  ArmWatchdog();
  std::thread poster([this] { loop_.Post([this] { loop_.Stop(); }); });
  loop_.Run();
  poster.join();
  EXPECT_FALSE(watchdog_fired_);
  EXPECT_TRUE(loop_.Stopped());
}

TEST_F(EventLoopRunTest, StopFromAnotherThreadEndsRun) {
  ArmWatchdog();
  std::atomic<bool> running{false};
  loop_.Post([&] { running = true; });
  std::thread stopper([&] {
    while (!running) std::this_thread::yield();
    loop_.Stop();
  });
  loop_.Run();
  stopper.join();
  EXPECT_FALSE(watchdog_fired_);
  loop_.Run();  // returns at once: Stop is final
}

TEST_F(EventLoopRunTest, RunFiresTimersByTheInjectedClock) {
  ArmWatchdog();
  int ticks = 0;
  loop_.AddTimer(1, true, [&] {
    if (++ticks == 3) loop_.Stop();
  });
  loop_.Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(watchdog_fired_);
}

TEST_F(EventLoopRunTest, BytesOnAWatchedDescriptorWakeRunWithNothingElsePlanned) {
  int fds[2];
  ASSERT_EQ(0, ::pipe2(fds, O_CLOEXEC | O_NONBLOCK));
  ArmWatchdog();
  std::string got;
  loop_.Watch(fds[0], EventLoop::kReadable, [&](unsigned) {
    char byte = 0;
    if (::read(fds[0], &byte, 1) == 1) got += byte;
    if (got == "ok") loop_.Stop();
  });
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(2, ::write(fds[1], "ok", 2));
  });
  loop_.Run();
  writer.join();
  EXPECT_EQ("ok", got);
  EXPECT_FALSE(watchdog_fired_);
  ::close(fds[0]);
  ::close(fds[1]);
}

// Descriptors driven by RunDue, as the tests of everything built on the loop drive them.
class EventLoopWatchTest : public EventLoopTest {
 protected:
  EventLoopWatchTest() {
    for (int* pipe : {first_, second_}) EXPECT_EQ(0, ::pipe2(pipe, O_CLOEXEC | O_NONBLOCK));
  }
  ~EventLoopWatchTest() override {
    for (int fd : {first_[0], first_[1], second_[0], second_[1]}) ::close(fd);
  }
  static void Put(int fd, const char* bytes) { ASSERT_EQ(static_cast<ssize_t>(std::strlen(bytes)), ::write(fd, bytes, std::strlen(bytes))); }
  int first_[2] = {-1, -1};
  int second_[2] = {-1, -1};
};

TEST_F(EventLoopWatchTest, AHandlerRunsWhileItsDescriptorStaysReadyAndNotWhenPaused) {
  std::string read;
  const EventLoop::WatchId id = loop_.Watch(first_[0], EventLoop::kReadable, [&](unsigned events) {
    EXPECT_EQ(EventLoop::kReadable, events);
    char byte = 0;
    if (::read(first_[0], &byte, 1) == 1) read += byte;  // one byte a call: the rest stays ready
  });
  ASSERT_NE(0u, id);
  EXPECT_EQ(0u, loop_.RunDue()) << "nothing to read";
  Put(first_[1], "abc");
  EXPECT_EQ(3u, loop_.RunDue());
  EXPECT_EQ("abc", read);

  ASSERT_TRUE(loop_.ChangeWatch(id, 0));
  Put(first_[1], "d");
  EXPECT_EQ(0u, loop_.RunDue()) << "paused";
  ASSERT_TRUE(loop_.ChangeWatch(id, EventLoop::kReadable));
  EXPECT_EQ(1u, loop_.RunDue());
  EXPECT_EQ("abcd", read);

  int writable = 0;
  EventLoop::WatchId writer = 0;
  writer = loop_.Watch(first_[1], EventLoop::kWritable, [&](unsigned events) {
    EXPECT_EQ(EventLoop::kWritable, events);
    ++writable;
    loop_.Unwatch(writer);
  });
  loop_.RunDue();
  EXPECT_EQ(1, writable) << "an empty pipe is writable; the handler unwatched itself";
  loop_.Unwatch(id);
  EXPECT_FALSE(loop_.ChangeWatch(id, EventLoop::kReadable));
}

TEST_F(EventLoopWatchTest, AHandlerThatUnwatchesAnotherReadyOneKeepsItFromRunning) {
  int runs = 0;
  EventLoop::WatchId one = 0;
  EventLoop::WatchId two = 0;
  one = loop_.Watch(first_[0], EventLoop::kReadable, [&](unsigned) {
    ++runs;
    loop_.Unwatch(one);
    loop_.Unwatch(two);
  });
  two = loop_.Watch(second_[0], EventLoop::kReadable, [&](unsigned) {
    ++runs;
    loop_.Unwatch(one);
    loop_.Unwatch(two);
  });
  Put(first_[1], "x");
  Put(second_[1], "y");
  loop_.RunDue();
  EXPECT_EQ(1, runs);
}

TEST_F(EventLoopWatchTest, AHangUpReachesTheReader) {
  ssize_t last_read = -1;
  loop_.Watch(first_[0], EventLoop::kReadable, [&](unsigned events) {
    EXPECT_NE(0u, events & EventLoop::kReadable);
    char byte = 0;
    last_read = ::read(first_[0], &byte, 1);
    loop_.Stop();  // the end stays readable: stop, as the owner closing it would
  });
  ::close(first_[1]);
  first_[1] = ::open("/dev/null", O_RDONLY | O_CLOEXEC);  // closed by the fixture
  loop_.RunDue();
  EXPECT_EQ(0, last_read) << "end of file";
}

class TimerTest : public EventLoopTest {
 protected:
  Timer timer_{loop_};
};

TEST_F(TimerTest, DisabledUntilEnabledThenTicksFromTheMomentOfEnabling) {
  timer_.SetInterval(100);
  timer_.SetOnTimer(Record("t"));
  EXPECT_FALSE(timer_.Enabled());
  EXPECT_EQ(Advance(500), 0u);
  Advance(30);
  timer_.SetEnabled(true);
  EXPECT_TRUE(timer_.Enabled());
  Advance(100);
  Advance(100);
  timer_.SetEnabled(true);  // already enabled: the phase stays
  Advance(100);
  timer_.SetEnabled(false);
  EXPECT_EQ(Advance(1000), 0u);
  EXPECT_THAT(fired_, ElementsAre("t@630", "t@730", "t@830"));
}

TEST_F(TimerTest, IntervalChangeRestartsThePeriod) {
  timer_.SetOnTimer(Record("t"));
  timer_.SetEnabled(true);  // default interval 1000
  Advance(400);
  timer_.SetInterval(1000);  // same value: no restart
  Advance(600);
  timer_.SetInterval(300);  // restart from 1000
  Advance(299);
  Advance(1);
  EXPECT_THAT(fired_, ElementsAre("t@1000", "t@1300"));
}

TEST_F(TimerTest, TickThatDisablesItselfRestartsThePeriodWhenReenabled) {
  timer_.SetInterval(100);
  timer_.SetOnTimer([&] {
    timer_.SetEnabled(false);
    fired_.push_back(std::to_string(clock_.NowMs()));
    clock_.AdvanceMs(40);  // a slow tick
    timer_.SetEnabled(true);
  });
  timer_.SetEnabled(true);
  EXPECT_EQ(Advance(100), 1u);
  Advance(99);  // 239: the new period began when the slow tick ended, at 140
  Advance(1);
  EXPECT_THAT(fired_, ElementsAre("100", "240"));
}

TEST_F(TimerTest, ZeroIntervalStaysSilent) {
  int ticks = 0;
  timer_.SetOnTimer([&] {
    ++ticks;
    timer_.SetEnabled(false);
    timer_.SetEnabled(true);
  });
  timer_.SetInterval(0);
  timer_.SetEnabled(true);
  EXPECT_TRUE(timer_.Enabled());
  EXPECT_EQ(Advance(1000), 0u);
  EXPECT_EQ(loop_.MsUntilNextWork(), -1);
  timer_.SetInterval(10);
  EXPECT_EQ(Advance(10), 1u);
  EXPECT_EQ(ticks, 1);
}

TEST_F(TimerTest, TickMayReplaceItsHandlerOrDestroyItsTimer) {
  auto owned = std::make_unique<Timer>(loop_);
  owned->SetInterval(10);
  owned->SetOnTimer([&] {
    fired_.push_back("first");
    owned->SetOnTimer([&] {
      fired_.push_back("second");
      owned.reset();
    });
  });
  owned->SetEnabled(true);
  Advance(10);
  Advance(10);
  EXPECT_EQ(owned, nullptr);
  EXPECT_EQ(Advance(100), 0u);
  EXPECT_THAT(fired_, ElementsAre("first", "second"));
}

TEST_F(TimerTest, DestroyingTheTimerCancelsItsTick) {
  {
    Timer scoped(loop_);
    scoped.SetInterval(10);
    scoped.SetOnTimer(Record("gone"));
    scoped.SetEnabled(true);
  }
  EXPECT_EQ(loop_.MsUntilNextWork(), -1);
  EXPECT_EQ(Advance(100), 0u);
}

}  // namespace
}  // namespace keep::platform
