#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <poll.h>

#include "platform/event.h"

namespace kba604::platform {
namespace {

TEST(Event, ManualResetStaysSignalledUntilReset) {
  Event e(Event::Reset::Manual);
  EXPECT_FALSE(e.is_set());
  e.set();
  e.set();
  EXPECT_TRUE(e.wait(0));
  EXPECT_TRUE(e.wait(0));
  e.reset();
  EXPECT_FALSE(e.is_set());
}

TEST(Event, AutoResetIsConsumedByOneWait) {
  Event e(Event::Reset::Auto);
  e.set();
  EXPECT_TRUE(e.is_set());
  EXPECT_TRUE(e.wait(0));
  EXPECT_FALSE(e.wait(0));
}

TEST(Event, WaitAnyReturnsLowestSignalledIndexAndConsumesOnlyIt) {
  Event a(Event::Reset::Auto), b(Event::Reset::Auto), c(Event::Reset::Manual);
  b.set();
  c.set();
  ManualClock clock;
  EXPECT_EQ(wait_any({&a, &b, &c}, 100, clock), 1);
  EXPECT_FALSE(b.is_set());
  EXPECT_TRUE(c.is_set());
  EXPECT_EQ(wait_any({&a, &b, &c}, 100, clock), 2);
  EXPECT_TRUE(c.is_set());  // manual reset is not consumed
}

TEST(Event, TimeOutUnderTestClockReturnsAtOnce) {
  Event e;
  ManualClock clock;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(wait_any({&e}, 60000, clock), kWaitTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_GE(clock.now_ms(), 60000);
}

TEST(Event, OneSetOfAutoResetWakesExactlyOneOfTwoWaiters) {
  Event e(Event::Reset::Auto);
  Event done(Event::Reset::Manual);
  Event first(Event::Reset::Manual);
  std::atomic<int> woken{0};
  auto waiter = [&] {
    if (wait_any({&e, &done}, -1) == 0) {
      woken.fetch_add(1);
      first.set();
    }
  };
  std::thread t1(waiter), t2(waiter);
  e.set();
  // The first waiter it woke has consumed it: the other can only end on "done".
  ASSERT_TRUE(first.wait(10'000));
  EXPECT_FALSE(e.is_set());
  done.set();
  t1.join();
  t2.join();
  EXPECT_EQ(woken.load(), 1);
}

TEST(Event, SetFromAnotherThreadWakesWaiterWithoutLimit) {
  Event e(Event::Reset::Manual);
  std::thread t([&] { e.set(); });
  EXPECT_EQ(wait_any({&e}, -1), 0);
  t.join();
}

// A clock whose poll on descriptors always fails (as poll may with ENOMEM); pauses without
// descriptors pass on the manual clock. It counts both.
class FailingPollClock final : public Clock {
 public:
  std::int64_t now_us() const override { return time.now_us(); }
  int poll(pollfd* fds, nfds_t count, int timeout_ms) override {
    if (count == 0) {
      ++pauses;
      if (pauses == set_after) to_set->set();
      return time.poll(fds, count, timeout_ms);
    }
    ++failed_polls;
    errno = ENOMEM;
    return -1;
  }
  void busy_wait_us(std::int64_t us) override { time.advance_us(us); }

  ManualClock time;
  int failed_polls = 0;
  int pauses = 0;
  int set_after = -1;
  Event* to_set = nullptr;
};

TEST(Event, AWaitWhosePollFailsGoesOnAtASlowPaceInsteadOfSpinning) {
  Event e(Event::Reset::Auto);
  FailingPollClock clock;
  // With a limit: it ends when its time is up, after a few rounds, not thousands.
  EXPECT_EQ(wait_any({&e}, 1000, clock), kWaitTimeout);
  EXPECT_GE(clock.now_us(), 1'000'000);
  EXPECT_LE(clock.failed_polls, 25);
  // Without a limit: an event set meanwhile is still taken, at the next round.
  clock.failed_polls = 0;
  clock.to_set = &e;
  clock.set_after = clock.pauses + 3;
  EXPECT_EQ(wait_any({&e}, -1, clock), 0);
  EXPECT_EQ(clock.failed_polls, 3);
  EXPECT_FALSE(e.is_set());
}

}  // namespace
}  // namespace kba604::platform
