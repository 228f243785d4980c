#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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
  std::atomic<int> woken{0};
  auto waiter = [&] {
    if (wait_any({&e, &done}, -1) == 0) woken.fetch_add(1);
  };
  std::thread t1(waiter), t2(waiter);
  e.set();
  // Give both waiters every chance to see the single set before releasing the other.
  for (int i = 0; i < 200 && woken.load() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
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

}  // namespace
}  // namespace kba604::platform
